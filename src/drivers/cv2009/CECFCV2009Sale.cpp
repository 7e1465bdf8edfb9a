// CECFCV2009: the fiscal receipt, linked receipts, management reports and
// non-fiscal receipts.
#include <cmath>

#include "core/fields.h"
#include "core/host_text.h"
#include "core/text.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "drivers/cv2009/cv2009_ops.h"

namespace tarvion {

using namespace cv2009;
using text::cp;
using text::format;

namespace {

// Host text for one parameter: control bytes become blanks, and so does the
// separator, which would otherwise cut the parameter in two.
std::string param(const std::string& s, text::LineBreaks breaks = text::LineBreaks::Blank) {
  std::string t = text::printable(s, breaks);
  for (char& c : t)
    if (c == '|') c = ' ';
  return t;
}

bool sameName(const std::string& a, const std::string& b) {
  return text::upper(text::trim(a)) == text::upper(text::trim(b));
}

int indexOf(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (sameName(names[i], name)) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::string CECFCV2009::FormatPrinterLines(const std::string& s) const {
  return text::lineFeeds(text::applyMarkup(s, printerMarkup(bSuportaNegrito)));
}

std::string CECFCV2009::PrinterText(const std::string& s) const {
  return text::foldPrinterText(s, PrinterCharset());
}

BOOL CECFCV2009::SetCustomerInfo(const std::string& code, const std::string& name, const std::string& address) {
  strCustomerCode = param(code);
  strCustomerName = param(PrinterText(name));
  strCustomerAddress = param(PrinterText(address));
  Log("CECFCV2009::SetCustomerInfo", "Retorno=TRUE");
  return kTrue;
}

// Wire example, opening a receipt for no customer (sequence 2):
//   01 02 01 00 03 00 7C 7C 7C 7A      reply 06, then after ENQ 00 a frame whose
//   data is "COO|DDMMYYYYhhmmss|"
BOOL CECFCV2009::AbreCupomFiscal() {
  const char* where = "CECFCV2009::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    DocumentStarting();
    const BOOL ok = Execute(where, cmd::OpenReceipt, {strCustomerCode, strCustomerName, strCustomerAddress});
    DocumentDone(ok);
    if (ok) ResetSale();
    return finish(*this, where, ok);
  });
}

std::string CECFCV2009::TaxCode(double percent, bool service) {
  if (percent == 0) return service ? "IS1" : "I1";
  if (percent == -1) return service ? "FS1" : "F1";
  if (percent == -2) return service ? "NS1" : "N1";
  const char* missing =
      service ? "Alíquota de ISS de %s%% não cadastrada no ECF." : "Alíquota de ICMS de %s%% não cadastrada no ECF.";
  if (percent > 0 && percent < 100) {
    if (arTaxes.empty()) LoadTaxes();
    const std::string rate = format("%04ld", std::lround(percent * 100));
    const char letter = service ? 'S' : 'T';
    for (const std::string& t : arTaxes)
      if (t.size() >= 7 && t[0] == letter && t.compare(3, 4, rate) == 0) return t.substr(0, 3);
  }
  strLastError = cp(format(missing, fields::printfFixed(percent, 5, 2).c_str()));
  return {};
}

bool CECFCV2009::QuantityParams(double quantity, std::string& digits, std::string& decimals, std::string& error) {
  return quantityText(quantity, digits, decimals, error);
}

// Wire example, 2 x "CAFE" at 12.50 on tax T01 (sequence 3):
//   01 03 02 00 ... "789|CAFE|T01|UN|2|0|1250|2|A|" CK      reply 06, then the
//   frame with "ITEM|TOTAL|...|" after ENQ 00
BOOL CECFCV2009::RegisterItem(const char* where, const std::string& code, const std::string& description,
                              const std::string& unit, double tax, double quantity, double price, double discount,
                              bool service) {
  return guarded(*this, where, kFalse, [&] {
    Log(where,
        format("strCodigo=%s, strDescricao=%s, nAliquota=%s, nQuantidade=%s, nValor=%s, nDesconto=%s", code.c_str(),
               description.c_str(), fields::printfFixed(tax, 0, 2).c_str(), fields::printfFixed(quantity, 0, 3).c_str(),
               fields::printfFixed(price, 0, 2).c_str(), fields::printfFixed(discount, 0, 2).c_str()));
    // A negative discount would silently vanish (the item would print at full
    // price): refuse it before anything reaches the printer.
    if (!(discount >= 0))
      return refuse(*this, where,
                    cp(format("Desconto de %s no item inválido: o desconto não pode ser negativo.",
                              fields::printfFixed(discount, 0, 2).c_str())));
    std::string qty, dec, amount, discountText, error;
    if (!QuantityParams(quantity, qty, dec, error) || !amountText(price, amount, error) ||
        (discount > 0 && !amountText(discount * quantity, discountText, error)))
      return refuse(*this, where, error);
    const std::string taxCode = TaxCode(tax, service);
    if (taxCode.empty()) return finish(*this, where, kFalse);
    if (!Execute(where, cmd::RegisterItem,
                 {param(code), param(description), taxCode, param(unit), qty, dec, amount, "2", "A"}, true))
      return finish(*this, where, kFalse);
    // The printer's number for the item; without it, the next after a known one.
    if (!arCampos.empty())
      nLastItemNumber = static_cast<int>(integerOf(arCampos[0]));
    else if (nLastItemNumber >= 0)
      ++nLastItemNumber;
    strLastItemCode = code;
    strLastItemDescription = description;
    strLastItemUnit = unit;
    strLastItemLabel = taxCode;
    bErroRegistroDescontoItem = kFalse;
    if (discount > 0) {
      // The discount of the whole line: the unit discount times the quantity.
      // The item is on the receipt whatever becomes of its discount, so the
      // result stays the item's: a refused discount is told by the flag and
      // the error text, never by a FALSE that would have the item sold again.
      if (!Execute(where, cmd::ItemAdjustment, {"0", "1", discountText, std::to_string(nLastItemNumber)})) {
        bErroRegistroDescontoItem = kTrue;
        strLastError = cp("Item registrado; o desconto do item falhou: ") + strLastError;
        Log(where, strLastError);
      }
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                    const std::string& strUnidade, double nAliquota, double nQuantidade,
                                    double nValorUnitario, double nValorDesconto) {
  return RegisterItem("CECFCV2009::RegistraItemFiscal", strCodigoProduto, strDescricaoProduto, strUnidade, nAliquota,
                      nQuantidade, nValorUnitario, nValorDesconto, false);
}

BOOL CECFCV2009::RegisterService(const std::string& strProductCode, const std::string& strDescription,
                                 const std::string& strUnit, double nTaxPercent, double nQuantity, double nUnitValue,
                                 double nDiscountValue) {
  return RegisterItem("CECFCV2009::RegisterService", strProductCode, strDescription, strUnit, nTaxPercent, nQuantity,
                      nUnitValue, nDiscountValue, true);
}

BOOL CECFCV2009::CancelaItemFiscal(long intItem, const std::string&, double, double, double, double) {
  const char* where = "CECFCV2009::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (intItem <= 0) return refuse(*this, where, cp("Número do item inválido."));
    return finish(*this, where, Execute(where, cmd::CancelItem, {std::to_string(intItem)}));
  });
}

BOOL CECFCV2009::RegistraDescontoItemApos(long intItem, double dblValorDesconto) {
  const char* where = "CECFCV2009::RegistraDescontoItemApos";
  return guarded(*this, where, kFalse, [&] {
    std::string amount, error;
    if (!amountText(std::fabs(dblValorDesconto), amount, error)) return refuse(*this, where, error);
    return finish(
        *this, where,
        Execute(where, cmd::ItemAdjustment, {dblValorDesconto > 0 ? "0" : "1", "1", amount, std::to_string(intItem)}));
  });
}

BOOL CECFCV2009::CancelaDescontoItem(long intItem, BOOL bAcrescimo) {
  const char* where = "CECFCV2009::CancelaDescontoItem";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where,
                  Execute(where, cmd::CancelItemAdjustment, {bAcrescimo ? "1" : "0", std::to_string(intItem)}));
  });
}

namespace {
BOOL subtotal(CECFCV2009& d, const char* where, bool increase, double value,
              BOOL (CECFCV2009::*exec)(const char*, uint16_t, const std::vector<std::string>&, bool)) {
  return guarded(d, where, kFalse, [&] {
    // Nothing to give: the receipt goes on to its payments as it is.
    if (value == 0) return finish(d, where, kTrue);
    std::string amount, error;
    if (!amountText(value, amount, error)) return refuse(d, where, error);
    return finish(d, where, (d.*exec)(where, cmd::SubtotalAdjustment, {increase ? "1" : "0", "1", amount}, false));
  });
}
}  // namespace

BOOL CECFCV2009::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double) {
  return subtotal(*this, "CECFCV2009::TotalizaCupomFiscalAcrescimo", true, nAcrescimo, &CECFCV2009::Execute);
}

BOOL CECFCV2009::TotalizaCupomFiscalDesconto(double nDesconto, double) {
  return subtotal(*this, "CECFCV2009::TotalizaCupomFiscalDesconto", false, nDesconto, &CECFCV2009::Execute);
}

BOOL CECFCV2009::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CECFCV2009::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    const std::string name = text::trim(strPaymentType).empty() ? "Dinheiro" : strPaymentType;
    if (arPaymentTypes.empty()) LoadPaymentTypes(kFalse);
    const int index = indexOf(arPaymentTypes, name);
    if (index < 0)
      return refuse(*this, where,
                    cp(format("Não será possível registrar o pagamento no valor de %s. A forma de pagamento %s não "
                              "está cadastrada no ECF.",
                              fields::printfFixed(nValorPagamento, 0, 2).c_str(), text::cp1252ToUtf8(name).c_str())));
    std::string amount, error;
    if (!amountText(nValorPagamento, amount, error)) return refuse(*this, where, error);
    const BOOL ok = Execute(where, cmd::Payment, {std::to_string(index + 1), amount, "1", "", ""});
    if (ok) strLastPaymentType = name;
    return finish(*this, where, ok);
  });
}

// Wire example, closing with the message "OBRIGADO":
//   parameters "0|1|OBRIGADO|"; reply data "COO|DDMMYYYYhhmmss|" then four
//   fields per payment: sequence, index, amount in cents, instalments
BOOL CECFCV2009::FechaCupomFiscal(const std::string& strPrintMessage, double) {
  const char* where = "CECFCV2009::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    const std::string message = FormatPrinterLines(param(PrinterText(strPrintMessage), text::LineBreaks::Keep));
    DocumentStarting();
    const BOOL ok = Execute(where, cmd::CloseReceipt, {CupomAdicionalAoFecharCF ? "1" : "0", "1", message}, true);
    DocumentDone(ok);
    if (!ok) return finish(*this, where, kFalse);
    strUltimoCOO = arCampos.empty() ? std::string() : arCampos[0];
    arPagamentosCupom.clear();
    for (size_t i = 2; i + 3 < arCampos.size(); i += 4) {
      PagamentoCupom p;
      p.sequencia = static_cast<int>(integerOf(arCampos[i]));
      p.indice = static_cast<int>(integerOf(arCampos[i + 1]));
      p.valor = amountOf(arCampos[i + 2]) / 100.0;
      p.parcelas = static_cast<int>(integerOf(arCampos[i + 3]));
      arPagamentosCupom.push_back(p);
    }
    strCustomerCode.clear();
    strCustomerName.clear();
    strCustomerAddress.clear();
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CECFCV2009::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 1, 1)) return finish(*this, where, kFalse);
    strNumeroCupom = format("%06ld", arCampos.empty() ? 0L : integerOf(arCampos[0]));
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::CancelaCupomFiscal() {
  const char* where = "CECFCV2009::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 16, 5)) return finish(*this, where, kFalse);
    const bool open = !arCampos.empty() && integerOf(arCampos[0]) != 0;
    if (open) return finish(*this, where, Execute(where, cmd::CancelOpen, {}));
    FechaCCDouRG(where);
    std::string coo = strUltimoCOO;
    if (coo.empty()) {
      if (!ReadInfo(where, 1, 1)) return finish(*this, where, kFalse);
      coo = arCampos.empty() ? "0" : arCampos[0];
    }
    const BOOL ok = Execute(where, cmd::CancelClosed, {std::to_string(integerOf(coo))});
    if (!ok && strLastError == cp("Erro ao utilizar o ECF."))
      strLastError =
          cp("Não é possível cancelar o documento. Realize uma operação do tipo inverso para estornar o efeito da "
             "operação não cancelada.");
    return finish(*this, where, ok);
  });
}

BOOL CECFCV2009::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                          const std::string&) {
  const char* where = "CECFCV2009::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    if (arPaymentTypes.empty()) LoadPaymentTypes(kFalse);
    const int index = indexOf(arPaymentTypes, strPaymentType);
    const std::string shown = text::cp1252ToUtf8(strPaymentType);
    if (index < 0)
      return refuse(*this, where,
                    cp(format("Não será possível abrir o comprovante vinculado, pois o pagamento informado (%s) não "
                              "existe no ECF.",
                              shown.c_str())));
    PagamentoCupom* found = nullptr;
    for (PagamentoCupom& p : arPagamentosCupom) {
      if (Logging())
        Log(where, cp(format("Índice=%d, Valor=%s, QtdeParc=%d, Sequencia=%d, Usou=%s, [i=%d/v=%s]", p.indice,
                             fields::printfFixed(p.valor, 0, 6).c_str(), p.parcelas, p.sequencia, boolText(p.usado),
                             index + 1, fields::printfFixed(nValorPagamento, 0, 6).c_str())));
      if (!p.usado && p.indice == index + 1 && std::fabs(p.valor - nValorPagamento) < 0.005) {
        found = &p;
        break;
      }
    }
    if (!found)
      return refuse(*this, where,
                    cp(format("Não será possível abrir o comprovante vinculado, pois o pagamento informado (%s, valor "
                              "%s) não foi encontrado no cupom fiscal.",
                              shown.c_str(), fields::printfFixed(nValorPagamento, 0, 2).c_str())));
    DocumentStarting();
    const BOOL ok =
        Execute(where, cmd::OpenLinked,
                {std::to_string(found->sequencia), std::to_string(found->indice), std::to_string(found->parcelas), "1",
                 strCustomerCode, strCustomerName, strCustomerAddress});
    DocumentDone(ok);
    if (ok) found->usado = true;
    return finish(*this, where, ok);
  });
}

BOOL CECFCV2009::ImprimeCCDouRG(const char* where, const std::string& textIn) {
  return guarded(*this, where, kFalse, [&] {
    const std::string t = FormatPrinterLines(param(PrinterText(textIn), text::LineBreaks::Keep));
    return finish(*this, where, Execute(where, cmd::PrintText, {t}));
  });
}

BOOL CECFCV2009::FechaCCDouRG(const char* where) {
  DocumentStarting();
  const BOOL ok = Execute(where, cmd::CloseText, {"1"});
  DocumentDone(ok);
  return ok;
}

BOOL CECFCV2009::EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) {
  return ImprimeCCDouRG("CECFCV2009::EnviaTextoComprovanteVinculado", strTextoComprovante);
}

BOOL CECFCV2009::ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) {
  return ImprimeCCDouRG("CECFCV2009::ImprimeRelatorioGerencial", strTextoRelatorio);
}

BOOL CECFCV2009::FechaComprovanteVinculado() {
  const char* where = "CECFCV2009::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, FechaCCDouRG(where)); });
}

BOOL CECFCV2009::FechaRelatorioGerencial() {
  const char* where = "CECFCV2009::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, FechaCCDouRG(where)); });
}

BOOL CECFCV2009::OpenNamedReport(const std::string& strReportName) {
  const char* where = "CECFCV2009::OpenNamedReport";
  return guarded(*this, where, kFalse, [&] {
    if (arReports.empty()) LoadReports();
    const int index = indexOf(arReports, strReportName);
    if (index < 0)
      return refuse(
          *this, where,
          cp(format("Relatório gerencial %s não cadastrado no ECF.", text::cp1252ToUtf8(strReportName).c_str())));
    DocumentStarting();
    const BOOL ok = Execute(where, cmd::OpenReport, {std::to_string(index + 1)});
    DocumentDone(ok);
    return finish(*this, where, ok);
  });
}

BOOL CECFCV2009::AbreRelatorioGerencial() {
  const char* where = "CECFCV2009::AbreRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    DocumentStarting();
    const BOOL ok = Execute(where, cmd::OpenReport, {"1"});
    DocumentDone(ok);
    return finish(*this, where, ok);
  });
}

BOOL CECFCV2009::RegistraSangriaFundoTroco(const char* where, int title, double value, const std::string& message) {
  std::string amount, error;
  if (!amountText(value, amount, error)) return refuse(*this, where, error);
  DocumentStarting();
  const BOOL ok = Execute(where, cmd::CashInOut, {std::to_string(title), amount, param(message)});
  DocumentDone(ok);
  return ok;
}

BOOL CECFCV2009::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CECFCV2009::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    if (arNonFiscalTitles.empty()) LoadNonFiscalTitles();
    const std::string title = text::upper(text::trim(strTitle));
    const bool cashOut = title == "SANGRIA";
    const bool cashIn = title == "FUNDO DE TROCO" || title == "SUPRIMENTO";
    int index = indexOf(arNonFiscalTitles, strTitle);
    if (index < 0 && cashIn) {
      index = indexOf(arNonFiscalTitles, "SUPRIMENTO");
      if (index < 0) index = indexOf(arNonFiscalTitles, "FUNDO DE TROCO");
    }
    if (index < 0) return refuse(*this, where, cp("Não identificou o totalizador parcial não sujeito ao ICMS."));
    if (cashOut || cashIn) return finish(*this, where, RegistraSangriaFundoTroco(where, index + 1, nValue, ""));
    std::string amount, error;
    if (!amountText(nValue, amount, error)) return refuse(*this, where, error);
    DocumentStarting();
    BOOL ok = Execute(where, cmd::OpenNonFiscal, {strCustomerCode, strCustomerName, strCustomerAddress});
    DocumentDone(ok);
    if (ok) ok = Execute(where, cmd::NonFiscalItem, {std::to_string(index + 1), amount});
    if (ok && !text::trim(strPaymentType).empty()) ok = RegistraPagamento(strPaymentType, nValue);
    if (ok) {
      DocumentStarting();
      ok = Execute(where, cmd::CloseNonFiscal, {"1", ""});
      DocumentDone(ok);
    }
    return finish(*this, where, ok);
  });
}

BOOL CECFCV2009::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) {
  const char* where = "CECFCV2009::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    if (arNonFiscalTitles.empty()) LoadNonFiscalTitles();
    if (intTitle < 0 || intTitle >= static_cast<long>(arNonFiscalTitles.size()))
      return refuse(*this, where, cp("Não identificou o totalizador parcial não sujeito ao ICMS."));
    return NonFiscalReceipt(nValor, arNonFiscalTitles[static_cast<size_t>(intTitle)], strPaymentType);
  });
}

BOOL CECFCV2009::OpenCashDrawer() {
  const char* where = "CECFCV2009::OpenCashDrawer";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Execute(where, cmd::OpenDrawer, {})); });
}

BOOL CECFCV2009::CutPaper() {
  const char* where = "CECFCV2009::CutPaper";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Execute(where, cmd::CutPaper, {})); });
}

}  // namespace tarvion
