' What a point-of-sale program does with the control, in the language many of
' them are scripted in: create it by its program identifier, open the fiscal
' printer (model 1, the Bematech MP-20 FI II, on COM5 unless another port is
' given), sell, read the error text after a refused call, close the day's
' X report. Out strings are passed as variables that already hold a long enough
' string (Space(n)); the control writes into them and the text ends at the
' first Chr(0).
'
' Accented letters are built with Chr() from Windows-1252 codes, so the file
' itself stays plain ASCII whatever code page the script host reads it in.
'
'   cscript //nologo sale.vbs [port]
'
' Ends with the line "N passed, N failed"; a script host that stops on an
' error never prints it.
Option Explicit

Dim ecf, port, passed, failed, buffer, opened, number, names, text

passed = 0
failed = 0
port = 5
If WScript.Arguments.Count > 0 Then port = CLng(WScript.Arguments(0))

Sub Check(condition, what)
  If condition Then
    passed = passed + 1
    WScript.Echo "ok    " & what
  Else
    failed = failed + 1
    WScript.Echo "FAIL  " & what & "  [UltimoErro: " & ecf.UltimoErro & "]"
  End If
End Sub

' The text a host reads from an out string: up to the first Chr(0).
Function UpToNul(s)
  Dim i
  i = InStr(s, Chr(0))
  If i > 0 Then UpToNul = Left(s, i - 1) Else UpToNul = s
End Function

Set ecf = CreateObject("Tarvion.TarvionCtrl.1")

' Before anything is initialised, the control says so.
Check InStr(ecf.UltimoErro, "A comunica" & Chr(231) & Chr(227) & "o com a impressora") > 0, _
      "UltimoErro explains that nothing is initialised"
Check ecf.ExisteECF("BEMATECH MP-20 FI II ECF-IF") = 1, "ExisteECF finds model 1"

buffer = Space(3000)
Check ecf.ImpressorasDisponiveis(buffer), "ImpressorasDisponiveis"
names = Split(Left(buffer, InStr(buffer, Chr(0) & Chr(0)) - 1), Chr(0))
Check UBound(names) + 1 = 56 And names(0) = "BEMATECH MP-20 FI II ECF-IF", "56 model names in the host's string"

Check ecf.InitializeECF(1, port, 115200, 0, 8, 1, 0, True, True), "InitializeECF on COM" & port
Check ecf.FiscalPrinterOnline(), "the printer answers"

buffer = Space(200)
Check ecf.RetornaAliquotas(buffer), "RetornaAliquotas"
Check InStr(UpToNul(buffer), "T18.00") > 0, "the printer has an 18% tax: " & UpToNul(buffer)

' The sale.
Check ecf.AbreCupomFiscal(), "AbreCupomFiscal"
opened = False
Check ecf.CupomFiscalAberto(opened), "CupomFiscalAberto"
Check opened, "the receipt is open"
Check ecf.RegistraItemFiscal("7891000100103", "CAFE TORRADO 500G", "UN", 18, 2, 10.5, 0), "item 1"
Check ecf.RegistraItemFiscal("7891000200200", "ARROZ TIPO 1 5KG", "PC", 7, 1, 24.9, 0), "item 2"
Check ecf.RegistraItemFiscal("7891000300307", "SABAO EM PO 1KG", "UN", 12, 3, 8.75, 1), "item 3 with a discount"

' Refused calls, and what UltimoErro says about them. Results are compared
' with 0: a driver's success is 1, and Not 1 would still be true.
Check ecf.RegistraItemFiscal("2", "FEIJAO", "UN", 17, 1, 7.5, 0) = 0, "an item with a tax the printer lacks is refused"
text = ecf.UltimoErro
Check text = "Al" & Chr(237) & "quota de ICMS de 17.00% n" & Chr(227) & "o cadastrada no ECF.", _
      "UltimoErro after it: " & text
Check ecf.RegistraItemFiscal("3", "BRINDE", "UN", 18, 1, 4.0, 4.0) = 0, "a 100% discount is refused"
text = ecf.UltimoErro
Check text = "N" & Chr(227) & "o " & Chr(233) & " poss" & Chr(237) & "vel lan" & Chr(231) & "ar um desconto de 100%.", _
      "UltimoErro after it: " & text

Check ecf.TotalizaCupomDesconto(5, 0), "TotalizaCupomDesconto"
Check ecf.RegistraPagamento("Dinheiro", 50), "payment in cash"
Check ecf.RegistraPagamento("Cartao", 30), "payment by card"
Check ecf.FechaCupomFiscal("OBRIGADO PELA PREFERENCIA", 0), "FechaCupomFiscal"
Check ecf.CupomFiscalAberto(opened) And opened = 0, "the receipt is closed"

buffer = Space(20)
Check ecf.RetornaNumeroCupom(buffer), "RetornaNumeroCupom"
number = UpToNul(buffer)
Check Len(number) = 6 And IsNumeric(number), "receipt number " & number
Check Len(buffer) = 20, "the host's string keeps its length"

' A property that can only be read: the script host reports the refusal
' (DISP_E_MEMBERNOTFOUND) as its run-time error 438.
On Error Resume Next
ecf.UltimoErro = "x"
Check Err.Number = 438, "assigning UltimoErro is refused (error " & Err.Number & ")"
Err.Clear
On Error GoTo 0

Check ecf.LeituraX(), "LeituraX"
Check ecf.CloseComm(), "CloseComm"

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
WScript.Quit 0
