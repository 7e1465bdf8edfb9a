// CEpson: the fiscal receipt, linked receipts, management reports and
// non-fiscal receipts.
#include <algorithm>
#include <cmath>

#include "core/host_text.h"
#include "drivers/epson/CEpson.h"
#include "drivers/epson/epson_ops.h"

namespace tarvion {

using namespace epson;
using text::cp;
using text::format;

namespace {

// One-line host text in the printer's characters, cut to `width` bytes.
std::string printerField(const std::string& s, size_t width) {
  return text::foldPrinterText(oneLine(s).substr(0, width), text::charset::printer850());
}

std::string padRight(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

}  // namespace

BOOL CEpson::SetCustomerInfo(const std::string& code, const std::string& name, const std::string& address) {
  pendingCustomer.set(code, name, address);
  return kTrue;
}

// Wire example, a receipt for a customer, then the receipt itself:
//   02 81 0A 20 1C 00 01 1C "123" 1C "JOSE" 1C "RUA A" 1C 03 "CCCC"
//   02 82 0A 01 1C 00 00 1C 1C 03 "00E6"
BOOL CEpson::AbreCupomFiscal() {
  const char* where = "CEpson::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    bSecondReceipt = kFalse;
    const bool customer = !pendingCustomer.empty();
    if (customer && !Command(0x0A, 0x20, 0x00, 0x01,
                             {text::trimRight(printerField(pendingCustomer.code, 20)),
                              printerField(pendingCustomer.name, 30), printerField(pendingCustomer.address, 40), ""}))
      return finish(*this, where, kFalse);
    if (!Command(0x0A, 0x01, 0x00, 0x00, {"", ""})) return finish(*this, where, kFalse);
    if (customer) {
      pendingCustomer.movedTo(*this);
    }
    return finish(*this, where, kTrue);
  });
}

// The tax field of a rate: N1, F1, I1 for the special rates, the entry of the
// tax table holding a positive rate, or empty with the message.
std::string CEpson::TaxFieldFor(double rate) {
  if (rate == -2.0) return "N1";
  if (rate == -1.0) return "F1";
  if (rate == 0.0) return "I1";
  if (rate > 0 && std::isfinite(rate))
    for (const std::string& entry : arTaxes)
      if (std::string f = epson::taxField(entry, rate); !f.empty()) return f;
  strLastError = cp("Alíquota não cadastrada na impressora.");
  return {};
}

// Wire example, 2 units of "CAFE" at 3,50 taxed at 18 % (index 1):
//   02 83 0A 02 1C 00 00 1C "1             " 1C "CAFE" 1C "0002000" 1C "UN " 1C "00000350" 1C "01T1800" 03 "CCCC"
// and a discount of 0,50 on it: 02 84 0A 04 1C 00 04 1C "00000000050" 03 "CCCC"
BOOL CEpson::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                const std::string& strUnidade, double nAliquota, double nQuantidade,
                                double nValorUnitario, double nValorDesconto) {
  const char* where = "CEpson::RegistraItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("{%s,%s}", strCodigoProduto.c_str(), strDescricaoProduto.c_str()));
    const std::string tax = TaxFieldFor(nAliquota);
    if (tax.empty()) return finish(*this, where, kFalse);
    const fields::Field quantityField{"Quantidade", 7, nQuantityDecimals, fields::Rounding::HalfAwayFromZero, false, 0};
    const fields::Field priceField{
        "Valor unit\xE1rio", 8, nUnitPriceDecimals, fields::Rounding::HalfAwayFromZero, false, 0};
    fields::Checked num;
    const std::string quantity = num(nQuantidade, quantityField);
    const std::string price = num(nValorUnitario, priceField);
    const std::string discount = nValorDesconto != 0.0 ? num(std::fabs(nValorDesconto), field::kAdjust) : "";
    if (!num.ok()) return refuse(*this, where, num.error());
    std::string code = oneLine(strCodigoProduto);
    code.erase(std::remove_if(code.begin(), code.end(), [](char c) { return c == '.' || c == '-' || c == '/'; }),
               code.end());
    const std::string unit = strUnidade.empty() ? std::string("PC") : printerField(strUnidade, 3);
    if (!Command(0x0A, 0x02, 0x00, 0x00,
                 {padRight(printerField(code, 14), 14), printerField(strDescricaoProduto, 30), quantity,
                  padRight(unit, 3), price, tax}))
      return finish(*this, where, kFalse);
    if (arReplyFields.size() > 5) nLastItemNumber = std::atoi(arReplyFields[5].c_str());
    strLastItemCode = code;
    strLastItemDescription = oneLine(strDescricaoProduto);
    strLastItemUnit = unit;
    strLastItemLabel = tax;
    bErroRegistroDescontoItem = kFalse;
    // The item is on the receipt whatever becomes of its discount: a refused
    // discount is told by the flag and the error text, never by a FALSE that
    // would have the item sold again.
    if (!discount.empty()) {
      const bool ok = Command(0x0A, 0x04, 0x00, nValorDesconto > 0 ? 0x04 : 0x05, {discount});
      bErroRegistroDescontoItem = ok ? kFalse : kTrue;
      if (!ok) Log(where, strLastError);
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example, item 2: 02 85 0A 18 1C 00 04 1C "002" 03 "CCCC"
BOOL CEpson::CancelaItemFiscal(long intItem, const std::string&, double, double, double, double) {
  const char* where = "CEpson::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result item = fields::format(intItem, field::kItem);
    if (!item.ok()) return refuse(*this, where, item.error);
    return finish(*this, where, Command(0x0A, 0x18, 0x00, 0x04, {item.text}));
  });
}

// Wire example, the discount of item 2: 02 86 0A 18 1C 00 06 1C "002" 03 "CCCC"
BOOL CEpson::CancelaDescontoItem(long intItem, BOOL) {
  const char* where = "CEpson::CancelaDescontoItem";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result item = fields::format(intItem, field::kItem);
    if (!item.ok()) return refuse(*this, where, item.error);
    return finish(*this, where, Command(0x0A, 0x18, 0x00, 0x06, {item.text}));
  });
}

// Wire example, 1,00 off the subtotal: 02 87 0A 04 1C 00 06 1C "00000000100" 03 "CCCC"
BOOL CEpson::TotalizaCupomFiscalDesconto(double nDesconto, double) {
  const char* where = "CEpson::TotalizaCupomFiscalDesconto";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = fields::format(nDesconto, field::kAdjust);
    if (!v.ok()) return refuse(*this, where, v.error);
    return finish(*this, where, Command(0x0A, 0x04, 0x00, 0x06, {v.text}));
  });
}

// Wire example, 1,00 on the subtotal: 02 88 0A 04 1C 00 07 1C "00000000100" 03 "CCCC"
BOOL CEpson::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double) {
  const char* where = "CEpson::TotalizaCupomFiscalAcrescimo";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = fields::format(nAcrescimo, field::kAdjust);
    if (!v.ok()) return refuse(*this, where, v.error);
    return finish(*this, where, Command(0x0A, 0x04, 0x00, 0x07, {v.text}));
  });
}

// Wire example, 10,00 in the payment type at index 0:
//   02 89 0A 05 1C 00 00 1C "00" 1C "0000000001000" 1C 1C 03 "CCCC"
BOOL CEpson::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CEpson::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return finish(*this, where, kFalse);
    fields::Checked num;
    const std::string position = num(index, field::kIndex);
    const std::string amount = num(nValorPagamento, field::kAmount);
    if (!num.ok()) return refuse(*this, where, num.error());
    const BOOL ok = Command(0x0A, 0x05, 0x00, 0x00, {position, amount, "", ""});
    if (ok) strLastPaymentType = strPaymentType;
    return finish(*this, where, ok);
  });
}

BOOL CEpson::PrintSecondReceipt() {
  bSecondReceipt = kTrue;
  return kTrue;
}

// Wire example: the closing message in eight fields, the application's
// identification, then the end of the receipt:
//   02 8A 0A 22 1C 00 00 1C "OBRIGADO" 1C 1C 1C 1C 1C 1C 1C 03 "CCCC"
//   02 8B 0A 23 1C 00 00 1C "TARVION" 03 "CCCC"
//   02 8C 0A 06 1C 00 01 03 "CCCC"
BOOL CEpson::FechaCupomFiscal(const std::string& strPrintMessage, double) {
  const char* where = "CEpson::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> message;
    const std::string kept = lines(strPrintMessage);
    size_t from = 0;
    while (from <= kept.size() && message.size() < 8) {
      size_t end = kept.find_first_of("\r\n", from);
      if (end == std::string::npos) end = kept.size();
      const std::string line = kept.substr(from, end - from);
      const std::vector<std::string> pieces = PrinterLines(line);
      if (pieces.empty() && end < kept.size()) message.emplace_back();  // a blank line between others
      message.insert(message.end(), pieces.begin(), pieces.end());
      if (end >= kept.size()) break;
      from = end + (kept.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    message.resize(8);
    ClearBuffers();
    AddCommandBytes(0x0A, 0x22);
    AddCommandBytes(0x00, 0x00);
    for (const std::string& m : message) AddField(m);
    if (!Submit()) return finish(*this, where, kFalse);
    if (!Command(0x0A, 0x23, 0x00, 0x00, {strApplicationId})) return finish(*this, where, kFalse);
    return finish(*this, where, Command(0x0A, 0x06, 0x00, bSecondReceipt ? 0x0D : 0x01));
  });
}

// Wire example: 02 8D 0A 18 1C 00 08 1C 03 "CCCC"; after a refusal 0102 or
// 0A14 (no receipt to cancel here) the non-fiscal document's cancel:
//   02 8E 0E 18 1C 00 08 1C 03 "CCCC"
BOOL CEpson::CancelaCupomFiscal() {
  const char* where = "CEpson::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (Command(0x0A, 0x18, 0x00, 0x08, {""})) return finish(*this, where, kTrue);
    const bool other = (nErrorClass == 0x01 && nErrorDetail == 0x02) || (nErrorClass == 0x0A && nErrorDetail == 0x14);
    if (!other || lastOutcome != exchange::Outcome::Refused) return finish(*this, where, kFalse);
    return finish(*this, where, Command(0x0E, 0x18, 0x00, 0x08, {""}));
  });
}

// Wire example: 02 8F 0E 30 1C 00 00 1C "01" 1C "0000000001000" 1C "001" 1C "000123" 03 "CCCC"
BOOL CEpson::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                      const std::string& strNumeroCupom) {
  const char* where = "CEpson::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return finish(*this, where, kFalse);
    fields::Checked num;
    const std::string position = num(index, field::kIndex);
    const std::string amount = num(nValorPagamento, field::kAmount);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command(0x0E, 0x30, 0x00, 0x00, {position, amount, "001", oneLine(strNumeroCupom)}));
  });
}

BOOL CEpson::EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) {
  return ImprimeRelatorioGerencial(strTextoComprovante);
}

// Wire example: 02 90 0E 06 1C 00 01 03 "CCCC"
BOOL CEpson::FechaComprovanteVinculado() {
  const char* where = "CEpson::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(0x0E, 0x06, 0x00, 0x01)); });
}

BOOL CEpson::FechaRelatorioGerencial() {
  const char* where = "CEpson::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(0x0E, 0x06, 0x00, 0x01)); });
}

// Wire example, the report at index 1: 02 91 0E 01 1C 00 04 1C "01" 03 "CCCC"
BOOL CEpson::OpenNamedReport(const std::string& strReportName) {
  const char* where = "CEpson::OpenNamedReport";
  return guarded(*this, where, kFalse, [&] {
    const int index = ReportIndex(strReportName);
    if (index < 0) return finish(*this, where, kFalse);
    const fields::Result position = fields::format(index, field::kIndex);
    if (!position.ok()) return refuse(*this, where, position.error);
    return finish(*this, where, Command(0x0E, 0x01, 0x00, 0x04, {position.text}));
  });
}

BOOL CEpson::AbreRelatorioGerencial() {
  return OpenNamedReport("");
}

// Wire example, two lines in one command: 02 92 0E 32 1C 00 00 1C "LINHA 1" 1C "LINHA 2" 03 "CCCC";
// a line each: 02 93 0E 02 1C 00 00 1C "LINHA 1" 03 "CCCC"
BOOL CEpson::ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) {
  const char* where = "CEpson::ImprimeRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> all;
    const std::string kept = lines(strTextoRelatorio);
    size_t from = 0;
    for (;;) {
      size_t end = kept.find_first_of("\r\n", from);
      if (end == std::string::npos) end = kept.size();
      const std::vector<std::string> pieces = PrinterLines(kept.substr(from, end - from));
      if (pieces.empty())
        all.emplace_back();
      else
        all.insert(all.end(), pieces.begin(), pieces.end());
      if (end >= kept.size()) break;
      from = end + (kept.compare(end, 2, "\r\n") == 0 ? 2 : 1);
      if (from >= kept.size()) break;
    }
    const bool grouped = nReportLinesPerCommand > 1;
    const size_t group = grouped ? static_cast<size_t>(nReportLinesPerCommand) : 1;
    for (size_t at = 0; at < all.size(); at += group) {
      ClearBuffers();
      AddCommandBytes(0x0E, grouped ? 0x32 : 0x02);
      AddCommandBytes(0x00, 0x00);
      for (size_t i = at; i < std::min(all.size(), at + group); ++i) AddField(all[i]);
      if (!Submit()) return finish(*this, where, kFalse);
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example, 5,00 on title 2 paid with type 0:
//   02 94 0E 01 1C 00 00 03 "CCCC"
//   02 95 0E 15 1C 00 00 1C "02" 1C "0000000000500" 03 "CCCC"
//   02 96 0E 1A 1C 00 00 1C "00" 1C "0000000000500" 03 "CCCC"
//   02 97 0E 06 1C 00 01 03 "CCCC"
BOOL CEpson::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) {
  const char* where = "CEpson::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    const int payment = PaymentTypeIndex(strPaymentType);
    if (payment < 0) return finish(*this, where, kFalse);
    fields::Checked num;
    const std::string title = num(intTitle, field::kIndex);
    const std::string position = num(payment, field::kIndex);
    const std::string amount = num(nValor, field::kAmount);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command(0x0E, 0x01, 0x00, 0x00)) return finish(*this, where, kFalse);
    if (Command(0x0E, 0x15, 0x00, 0x00, {title, amount}) && Command(0x0E, 0x1A, 0x00, 0x00, {position, amount}) &&
        Command(0x0E, 0x06, 0x00, 0x01))
      return finish(*this, where, kTrue);
    // The document is open and cannot be finished: it is cancelled, and the
    // failure that stopped it stays the operation's error.
    const std::string why = strLastError;
    Command(0x0E, 0x18, 0x00, 0x08, {""});
    strLastError = why;
    return finish(*this, where, kFalse);
  });
}

}  // namespace tarvion
