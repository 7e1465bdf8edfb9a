// CDarumaFS600: the fiscal receipt, linked receipts, non-fiscal receipts,
// management reports, the daily reports and the printer's settings.
#include <cmath>
#include <cstdlib>

#include "drivers/daruma/CDarumaFS600.h"
#include "drivers/daruma/daruma_ops.h"

namespace tarvion {

using namespace daruma;
using text::cp;
using text::format;

namespace {

const std::string kEnd(1, static_cast<char>(kTextEnd));
constexpr uint8_t kF = 'F', kC = 'C', kN = 'N';
constexpr size_t kClosingText = 619;

}  // namespace

// ---------------------------------------------------------------- lookups

// "01".."16" for a loaded rate (its position in the table), or the fixed
// fields of the special rates: 0 exempt, -1 substitution, -2 not taxed.
std::string CDarumaFS600::TaxField(double rate, bool service, std::string& label) {
  const char kind = service ? 'S' : 'T';
  label.clear();
  if (rate > 0) {
    const std::string key = std::string(1, kind) + fields::printfFixed(rate, 5, 2);
    for (size_t i = 0; i < arTaxes.size(); ++i) {
      if (arTaxes[i] != key) continue;
      label = format("%02d%c%04ld", static_cast<int>(i + 1), kind, std::lround(rate * 100));
      return format("%02d", static_cast<int>(i + 1));
    }
  } else if (rate == 0.0 || rate == -1.0 || rate == -2.0) {
    const int special = static_cast<int>(rate);
    label = std::string(special == 0 ? "I" : special == -1 ? "F" : "N") + (service ? "S1" : "1");
    if (service) return special == 0 ? "25" : special == -1 ? "23" : "27";
    return special == 0 ? "19" : special == -1 ? "17" : "21";
  }
  const std::string shown = fields::printfFixed(std::isnan(rate) ? 0.0 : rate, 5, 2);
  strLastError = format(
      cp(service ? "Alíquota de ISS de %s%% não cadastrada no ECF." : "Alíquota de ICMS de %s%% não cadastrada no ECF.")
          .c_str(),
      shown.c_str());
  return {};
}

int CDarumaFS600::PaymentSlot(const std::string& name) {
  const int i = PaymentTypeIndex(name);
  if (i < 0) {
    strLastError = format(cp("Forma de pagamento '%s' não está configurada no ECF.").c_str(), name.c_str());
    return -1;
  }
  return static_cast<size_t>(i) < arPaymentSlots.size() ? arPaymentSlots[static_cast<size_t>(i)] : i + 1;
}

// ---------------------------------------------------------------- receipt

BOOL CDarumaFS600::SetCustomerInfo(const std::string& code, const std::string& name, const std::string& address) {
  pendingCustomer.set(code, name, address);
  return kTrue;
}

// Wire example, without customer data: 1C 46 C8 FF FF FF 6D 00
BOOL CDarumaFS600::AbreCupomFiscal() {
  const char* where = "CDarumaFS600::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    const std::string params = textField(pendingCustomer.code, 20) + kEnd + textField(pendingCustomer.name, 30) + kEnd +
                               textField(pendingCustomer.address, 80) + kEnd;
    if (!Command(kF, 200, params)) return finish(*this, where, kFalse);
    pendingCustomer.movedTo(*this);
    return finish(*this, where, kTrue);
  });
}

// Wire example, 3 units of "1" CAFE at 2,50, 18 % (the first rate), 0,50 off
// each: "F" 201, then
//   "01" "0000300" "00000250" "1" "00000000150" "00" "1             " "UN " "CAFE" (80 wide) FF
BOOL CDarumaFS600::SellItem(const char* where, const std::string& code, const std::string& description,
                            const std::string& unit, const std::string& taxField, const std::string& label,
                            double quantity, double unitPrice, double discount) {
  fields::Checked num;
  const std::string qty = num(quantity, field::quantityField(nQuantityDecimals));
  const std::string price = num(unitPrice, field::priceField(nPriceDecimals));
  // The discount (or, negative, the increase) is given per unit; the printer
  // takes the item's whole value.
  const std::string off = num(std::fabs(discount * quantity), field::kItemDiscount);
  if (!num.ok()) return refuse(*this, where, num.error());
  const std::string c = textField(code, 14, true), u = textField(unit, 3, true);
  const std::string d = textField(description, 80, true);
  const std::string params = taxField + qty + price + (discount < 0 ? "3" : "1") + off + "00" + c + u + d + kEnd;
  if (!Command(kF, 201, params)) return finish(*this, where, kFalse);
  strLastItemCode = text::trim(c);
  strLastItemDescription = text::trim(d);
  strLastItemUnit = text::trim(u);
  strLastItemLabel = label;
  bErroRegistroDescontoItem = kFalse;
  return finish(*this, where, kTrue);
}

BOOL CDarumaFS600::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                      const std::string& strUnidade, double nAliquota, double nQuantidade,
                                      double nValorUnitario, double nValorDesconto) {
  const char* where = "CDarumaFS600::RegistraItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("{%s,%s}", strCodigoProduto.c_str(), strDescricaoProduto.c_str()));
    strLastError.clear();
    std::string label;
    const std::string tax = TaxField(nAliquota, false, label);
    if (tax.empty()) return finish(*this, where, kFalse);
    return SellItem(where, strCodigoProduto, strDescricaoProduto, strUnidade, tax, label, nQuantidade, nValorUnitario,
                    nValorDesconto);
  });
}

BOOL CDarumaFS600::RegisterService(const std::string& strProductCode, const std::string& strDescription,
                                   const std::string& strUnit, double nTaxPercent, double nQuantity, double nUnitValue,
                                   double nDiscountValue) {
  const char* where = "CDarumaFS600::RegisterService";
  return guarded(*this, where, kFalse, [&] {
    strLastError.clear();
    std::string label;
    const std::string tax = TaxField(nTaxPercent, true, label);
    if (tax.empty()) return finish(*this, where, kFalse);
    return SellItem(where, strProductCode, strDescription, strUnit, tax, label, nQuantity, nUnitValue, nDiscountValue);
  });
}

// Wire example, 1,00 off item 2: "F" 202 "002" "1" "00000000100"
BOOL CDarumaFS600::RegistraDescontoItemApos(long intItem, double dblValorDesconto) {
  const char* where = "CDarumaFS600::RegistraDescontoItemApos";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string item = num(intItem, field::kItem);
    const std::string amount = num(std::fabs(dblValorDesconto), field::kItemAdjust);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command(kF, 202, item + (dblValorDesconto < 0 ? "3" : "1") + amount));
  });
}

// Wire example: "F" 203 "002"
BOOL CDarumaFS600::CancelaItemFiscal(long intItem, const std::string&, double, double, double, double) {
  const char* where = "CDarumaFS600::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result item = fields::format(intItem, field::kItem);
    if (!item.ok()) return refuse(*this, where, item.error);
    return finish(*this, where, Command(kF, 203, item.text));
  });
}

// Wire example: "F" 205 "002"; the printer takes off what the item has.
BOOL CDarumaFS600::CancelaDescontoItem(long intItem, BOOL) {
  const char* where = "CDarumaFS600::CancelaDescontoItem";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result item = fields::format(intItem, field::kItem);
    if (!item.ok()) return refuse(*this, where, item.error);
    return finish(*this, where, Command(kF, 205, item.text));
  });
}

// Wire example, 0,50 off the subtotal: "F" 206 "1" "000000000050"
BOOL CDarumaFS600::TotalizaCupomFiscalDesconto(double nDesconto, double) {
  const char* where = "CDarumaFS600::TotalizaCupomFiscalDesconto";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = fields::format(nDesconto, field::kSubtotalDiscount);
    if (!v.ok()) return refuse(*this, where, v.error);
    return finish(*this, where, Command(kF, 206, "1" + v.text));
  });
}

// Wire example, 1,25 on the subtotal: "F" 206 "3" "000000000125" (cents cut,
// never rounded up)
BOOL CDarumaFS600::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double) {
  const char* where = "CDarumaFS600::TotalizaCupomFiscalAcrescimo";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = fields::format(std::fabs(nAcrescimo), field::kSubtotalIncrease);
    if (!v.ok()) return refuse(*this, where, v.error);
    return finish(*this, where, Command(kF, 206, "3" + v.text));
  });
}

// Wire example, 10,00 in the first payment type: "F" 209 "01" "000000001000" FF
BOOL CDarumaFS600::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CDarumaFS600::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    const int slot = PaymentSlot(strPaymentType);
    if (slot < 0) return finish(*this, where, kFalse);
    fields::Checked num;
    const std::string index = num(slot, field::kIndex);
    const std::string amount = num(nValorPagamento, field::kPayment);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command(kF, 209, index + amount + kEnd)) return finish(*this, where, kFalse);
    strLastPaymentType = strPaymentType;
    return finish(*this, where, kTrue);
  });
}

// Wire example: "F" 210 "1" "VOLTE SEMPRE" FF; "1" asks for the extra copy
// the printer is set up to print.
BOOL CDarumaFS600::FechaCupomFiscal(const std::string& strPrintMessage, double) {
  const char* where = "CDarumaFS600::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string message = FormatPrinterText(lines(strPrintMessage));
    noTextEnd(message);
    if (message.size() > kClosingText) message.resize(kClosingText);
    return finish(*this, where, Command(kF, 210, (CupomAdicionalAoFecharCF ? "1" : "0") + message + kEnd));
  });
}

// The open or last receipt: register 046 says which kind it is, "F" 211 for a
// fiscal receipt, "F" 229 for a non-fiscal one.
BOOL CDarumaFS600::CancelaCupomFiscal() {
  const char* where = "CDarumaFS600::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string kind;
    if (!ReadRegister(reg::kDocument, kind)) return finish(*this, where, kFalse);
    switch (kind.empty() ? '?' : kind[0]) {
      case '0':
        return refuse(*this, where, cp("Não existe cupom fiscal ou comprovante não fiscal a ser cancelado."));
      case '1':
        return finish(*this, where, Command(kF, 211));
      case '2':
        return finish(*this, where, Command(kF, 229));
      default:
        return refuse(*this, where, cp("Não foi possível identificar o tipo de cupom a cancelar."));
    }
  });
}

// ---------------------------------------------------------------- other documents

// Wire example, 10,00 paid in payment type 01 by receipt 17:
//   "F" 212 "01" "01" "000000001000" "17" FF FF FF
// The texts: the receipt's number, then two lines the printer leaves blank.
BOOL CDarumaFS600::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                            const std::string& strNumeroCupom) {
  const char* where = "CDarumaFS600::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    const int slot = PaymentSlot(strPaymentType);
    if (slot < 0) return finish(*this, where, kFalse);
    fields::Checked num;
    const std::string index = num(slot, field::kIndex);
    const std::string amount = num(nValorPagamento, field::kLinked);
    if (!num.ok()) return refuse(*this, where, num.error());
    const std::string coo = textField(text::trim(strNumeroCupom), 6);
    return finish(*this, where, Command(kF, 212, index + "01" + amount + coo + kEnd + kEnd + kEnd));
  });
}

// Wire example: "F" 214
BOOL CDarumaFS600::FechaComprovanteVinculado() {
  const char* where = "CDarumaFS600::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    const BOOL ok = Command(kF, 214);
    Log(where, ok ? "Comprovante vinculado fechado com sucesso." : "Erro ao fechar comprovante.");
    return finish(*this, where, ok);
  });
}

// A withdrawal ("SANGRIA") or a supply ("SUPRIMENTO") is one command
// ("F" 227 or "F" 236 with the amount); any other title is a receipt in
// steps: open "F" 219, the item "F" 220, totalise "F" 223, pay "F" 209 and
// close "F" 226. A step that fails after the receipt opened cancels it ("F" 229).
BOOL CDarumaFS600::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) {
  const char* where = "CDarumaFS600::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    nStatusComprovante = 0;
    std::string title;
    for (const std::string& t : arNonFiscalTitles)
      if (t.size() > 5 && std::atoi(t.substr(0, 2).c_str()) == intTitle) title = text::upper(t.substr(5));
    fields::Checked num;
    const std::string index = num(intTitle, field::kIndex);
    const std::string amount = num(nValor, field::kNonFiscal);
    const std::string paid = num(nValor, field::kPayment);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (title == "SANGRIA") return finish(*this, where, Command(kF, 227, amount + kEnd));
    if (title == "SUPRIMENTO") return finish(*this, where, Command(kF, 236, amount + kEnd));
    const int slot = PaymentSlot(text::trim(strPaymentType).empty() ? std::string("Dinheiro") : strPaymentType);
    if (slot < 0) return finish(*this, where, kFalse);
    const std::string payment = fields::format(slot, field::kIndex).text;
    if (payment.empty()) return refuse(*this, where, fields::format(slot, field::kIndex).error);
    if (!Command(kF, 219, kEnd + kEnd + kEnd)) return finish(*this, where, kFalse);
    nStatusComprovante |= 1;
    auto undo = [&] {
      const std::string why = strLastError;
      Command(kF, 229);
      strLastError = why;
      return finish(*this, where, kFalse);
    };
    if (!Command(kF, 220, index + amount + std::string(12, '0'))) return undo();
    nStatusComprovante |= 2;
    if (!Command(kF, 223, std::string(13, '0'))) return undo();
    if (!Command(kF, 209, payment + paid + kEnd)) return undo();
    nStatusComprovante |= 4;
    if (!Command(kF, 226, kEnd)) return undo();
    nStatusComprovante |= 8;
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CDarumaFS600::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    if (!(nValue > 0)) return refuse(*this, where, cp("O valor deve ser maior que zero."));
    const int title = NonFiscalTitlesIndex(strTitle);
    if (title < 0) return finish(*this, where, kFalse);
    return ComprovanteNaoFiscalNaoVinculado(title, nValue, strPaymentType);
  });
}

// Wire example, report 01: "F" 230 "01"
BOOL CDarumaFS600::OpenNamedReport(const std::string& strReportName) {
  const char* where = "CDarumaFS600::OpenNamedReport";
  return guarded(*this, where, kFalse, [&] {
    if (arReports.empty())
      return refuse(*this, where, cp("A impressora não possui relatórios gerenciais cadastrados."));
    const int i = ReportIndex(strReportName);
    if (i < 0) return finish(*this, where, kFalse);
    const int slot = static_cast<size_t>(i) < arReportSlots.size() ? arReportSlots[static_cast<size_t>(i)] : i + 1;
    const fields::Result index = fields::format(slot, field::kIndex);
    if (!index.ok()) return refuse(*this, where, index.error);
    return finish(*this, where, Command(kF, 230, index.text));
  });
}

BOOL CDarumaFS600::AbreRelatorioGerencial() {
  return OpenNamedReport("");
}

// Wire example: "F" 232
BOOL CDarumaFS600::FechaRelatorioGerencial() {
  const char* where = "CDarumaFS600::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kF, 232)); });
}

// ---------------------------------------------------------------- reports

// Wire example: 1C 46 EB 30 81 00
BOOL CDarumaFS600::LeituraX() {
  const char* where = "CDarumaFS600::LeituraX";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kF, 235, "0")); });
}

BOOL CDarumaFS600::LeituraXSerial(std::string&) {
  return refuse(*this, "CDarumaFS600::LeituraXSerial",
                cp("A impressora Daruma não aceita Leitura X pela interface serial."));
}

// Wire example, on 4 December 2026 at 23:10:05: "F" 234 "041226231005"
BOOL CDarumaFS600::ReducaoZ(DateTime dtReducao) {
  const char* where = "CDarumaFS600::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    std::string when;
    if (!dateField(dtReducao, true, when)) dateField(DateTime::now(), true, when);
    return finish(*this, where, Command(kF, 234, when));
  });
}

// Wire example, the summarised read of reductions 1 to 5: "F" 233 "2" "000001" "000005"
BOOL CDarumaFS600::MemoryRead(const char* where, BOOL bResumida, const std::string& first, const std::string& last) {
  return finish(*this, where, Command(kF, 233, (bResumida ? "2" : "3") + first + last));
}

BOOL CDarumaFS600::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) {
  const char* where = "CDarumaFS600::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string a, b;
    if (!dateField(dtInicial, false, a) || !dateField(dtFinal, false, b))
      return refuse(*this, where, cp("Data inválida."));
    return MemoryRead(where, bResumida, a, b);
  });
}

// The printer prints the read: the serial forms send the same command and
// return no text.
BOOL CDarumaFS600::LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                              BOOL bResumida) {
  strLeitura.clear();
  return LeituraMemoriaFiscal(dtInicial, dtFinal, bResumida);
}

BOOL CDarumaFS600::LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) {
  const char* where = "CDarumaFS600::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = num(intInicial, field::kCounter);
    const std::string b = num(intFinal, field::kCounter);
    if (!num.ok()) return refuse(*this, where, num.error());
    return MemoryRead(where, bResumida, a, b);
  });
}

BOOL CDarumaFS600::LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) {
  strLeitura.clear();
  return LeituraMFReducao(intInicial, intFinal, bResumida);
}

// ---------------------------------------------------------------- settings and peripherals

BOOL CDarumaFS600::AdicionaFormaPagamento(const std::string&) {
  return refuse(*this, "CDarumaFS600::AdicionaFormaPagamento", cp("Utilize a função \"RedefineFormasPagamento\"."));
}

// Wire example: "C" 200. The command turns daylight saving over, so it is
// sent only when the printer is not yet as asked.
BOOL CDarumaFS600::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CDarumaFS600::MudaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    BOOL now = kFalse;
    if (!VerificaHorarioVerao(now)) return finish(*this, where, kFalse);
    if ((now != kFalse) == (bHabilita != kFalse)) return finish(*this, where, kTrue);
    return finish(*this, where, Command(kC, 200));
  });
}

// Wire example, the first title: "C" 204 "01" "IDENT. PAF-ECF " (15 wide)
BOOL CDarumaFS600::ResetNonFiscalTitles() {
  const char* where = "CDarumaFS600::ResetNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    BOOL ok = kTrue;
    std::string firstError;
    for (size_t i = 0; i < arDefaultTitles.size(); ++i) {
      const std::string params = format("%02d", static_cast<int>(i + 1)) + textField(arDefaultTitles[i], 15, true);
      if (!Command(kC, 204, params)) {
        if (ok) firstError = strLastError;
        ok = kFalse;
      }
    }
    if (!ok) strLastError = firstError;
    return finish(*this, where, ok);
  });
}

BOOL CDarumaFS600::SendPafLines(const char* where, const std::string& line1, const std::string& line2) {
  return finish(*this, where, Command(kC, 214, textField(line1, 42, true) + textField(line2, 42, true)));
}

// Wire example: "C" 214 and the two lines, 42 characters each.
BOOL CDarumaFS600::SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) {
  const char* where = "CDarumaFS600::SetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    strPAFLine1 = text::trim(strLine1);
    strPAFLine2 = text::trim(strLine2);
    strPAFIdent1 = strPAFLine1;
    strPAFIdent2 = strPAFLine2;
    if (!bPortOpen) return kTrue;
    if (!SendPafLines(where, strPAFLine1, strPAFLine2)) return kFalse;
    bPAFIdentification = kTrue;
    return kTrue;
  });
}

// Only an identification this driver gave is blanked (84 spaces): closing the
// port runs this too.
BOOL CDarumaFS600::ResetPAFECFIdentification() {
  const char* where = "CDarumaFS600::ResetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    strPAFIdent1.clear();
    strPAFIdent2.clear();
    if (!bPortOpen || !bPAFIdentification) {
      bPAFIdentification = kFalse;
      return kTrue;
    }
    bPAFIdentification = kFalse;
    return SendPafLines(where, "", "");
  });
}

// Wire example: "N" 202 01
BOOL CDarumaFS600::CutPaper() {
  const char* where = "CDarumaFS600::CutPaper";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kN, 202, std::string(1, '\x01'))); });
}

// Wire example: "N" 206 "010"
BOOL CDarumaFS600::OpenCashDrawer() {
  const char* where = "CDarumaFS600::OpenCashDrawer";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kN, 206, "010")); });
}

}  // namespace tarvion
