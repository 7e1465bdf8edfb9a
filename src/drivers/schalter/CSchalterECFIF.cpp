// CSchalterECFIF: the exchange of one frame, the status check, the table reads
// and every operation of the Schalter ECF-IF printers.
#include "drivers/schalter/CSchalterECFIF.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/exchange.h"
#include "core/host_text.h"
#include "core/text.h"
#include "drivers/schalter/schalter_ops.h"

namespace tarvion {

using namespace schalter;
using text::cp;
using text::format;

namespace {

std::string zeros(size_t n) {
  return std::string(n, '\0');
}
std::string blanks(size_t n) {
  return std::string(n, ' ');
}

// "%-<width>s" of the first `width` bytes.
std::string padded(const std::string& s, size_t width) {
  std::string t = s.substr(0, width);
  t.resize(width, ' ');
  return t;
}

// "%05.2f" with the decimal comma: the key the tax list is searched by.
std::string rateText(double rate) {
  std::string s = fields::printfFixed(rate, 5, 2);
  std::replace(s.begin(), s.end(), '.', ',');
  return s;
}

std::string wireText(const uint8_t* data, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    s += b < 0x20 || b > 0x7E ? format("[%2.2X]", b) : std::string(1, static_cast<char>(b));
  }
  return s;
}

// The fields of a date: "%d%m%y".
bool dateText(DateTime dt, std::string& out) {
  DateParts p;
  if (!dt.parts(p)) return false;
  out = format("%02d%02d%02d", p.day, p.month, p.year % 100);
  return true;
}

// The standard non-fiscal titles, in the order the printer gets them.
constexpr const char* kStandardTitles[] = {"-SANGRIA",  "-SUPRIMENTO",     "-VALE",
                                           "-DESPESAS", "+PAGAMENTO VALE", "+TROCO",
                                           "+DIVERSOS", "+VALE PRODUTO",   "+VALE PRESENTE"};

}  // namespace

CSchalterECFIF::CSchalterECFIF() {
  Log("CSchalterECFIF::CSchalterECFIF", cp("início"));
  CanAuthenticateDocument = kTrue;
  portProfile.logTag = "CSchalterECFIF";
  Log("CSchalterECFIF::CSchalterECFIF", "Fim");
}

// ---------------------------------------------------------------- transport

// Wire example, the receipt opening: 1B 66 01 26 58
Frame CSchalterECFIF::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  return std::make_unique<ByteArray>(buildFrame(command, parameters));
}

BOOL CSchalterECFIF::SendCommand(Frame command) {
  const char* where = "CSchalterECFIF::SendCommand";
  try {
    if (!command) return kTrue;
    if (log_.enabled()) Log(format("%s{%s}", where, wireText(command->data(), command->size()).c_str()));
    // The reply's size follows from the command: a framed command names it in
    // its third byte; a text line gets the status alone.
    const bool framed = command->size() >= 3 && (*command)[1] == kFrame;
    const size_t length = framed ? replyLength((*command)[2]) : 1;
    exchange::Plan plan;
    plan.where = where;
    plan.line = exchange::LineRule::CtsOrDsr;
    plan.drainWhenFresh = true;
    plan.answerMs = static_cast<uint32_t>(nAnswerTimeout);
    plan.end = exchange::ReplyEnd::ofLength(length);
    plan.end.maxBytes = 4096;
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(*command, plan, arAnswer, [&](const ByteArray&, size_t, int) {
      // A read cut short cannot be trusted for its fields; nor can an empty
      // answer say whether the command ran.
      // A first byte that is no status of the printer is noise, not a refusal.
      if (arAnswer.empty() || (isSuccess(arAnswer[0]) && arAnswer.size() < length) ||
          (!isSuccess(arAnswer[0]) && statusMessage(arAnswer[0]).empty())) {
        strLastError = cp("Resposta inválida da impressora.");
        Log("CSchalterECFIF::CheckForSuccess", strLastError);
        return exchange::Verdict::LineFault;
      }
      return JudgeStatus();
    });
    command.reset();
    if (log_.enabled()) Log(format("%s{Read=%s}", where, wireText(arAnswer.data(), arAnswer.size()).c_str()));
    if (!r.ok()) Log(where, "Retorno=FALSE, " + strLastError);
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CSchalterECFIF::CheckForSuccess() {
  strLastError.clear();
  if (arAnswer.empty()) {
    strLastError = "Erro indefinido";
    return kFalse;
  }
  const uint8_t code = arAnswer[0];
  if (isSuccess(code)) return kTrue;
  strLastError = statusMessage(code);
  Log("CSchalterECFIF::CheckForSuccess", format("%d - %s", code, strLastError.c_str()));
  return kFalse;
}

// Wire example, the probe (the identity read): 1B 66 E4 00 00 9B
BOOL CSchalterECFIF::ECFOnline() {
  const char* where = "CSchalterECFIF::ECFOnline";
  try {
    const ByteArray frame = buildFrame({kIdentity}, {0x00, 0x00});
    exchange::Plan plan;
    plan.where = where;
    plan.line = exchange::LineRule::CtsOrDsr;
    plan.nothingWritten = nullptr;
    plan.answerMs = kProbeMs;
    plan.end = exchange::ReplyEnd::ofLength(kIdentityReply);
    plan.end.maxBytes = 4096;
    // The line stays fresh: what answered may have been a late reply, and the
    // next command's own drain sorts that out.
    const BOOL fresh = bFreshLine;
    ByteArray answer;
    const exchange::Result r = ExchangeCommand(frame, plan, answer, [](const ByteArray& reply, size_t, int) {
      return reply.empty() ? exchange::Verdict::LineFault : exchange::Verdict::Done;
    });
    bFreshLine = fresh;
    if (!r.ok()) Log(where, "Retorno=FALSE, " + strLastError);
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CSchalterECFIF::Command(uint8_t code, const std::string& params) {
  ClearBuffers();
  arCommand.push_back(code);
  arParameters.assign(params.begin(), params.end());
  return Submit();
}

BOOL CSchalterECFIF::ReadEntry(uint8_t code, int index) {
  return Command(code, format("%02i", index));
}

// Wire example, one line: 1B 6E "OBRIGADO" 00 0A. One printed line per
// command, each answered by its status.
BOOL CSchalterECFIF::PrintLines(const std::string& text) {
  const std::string laid = text::layoutLines(FormatPrinterText(lines(text)), Columns, text::plainMarkup());
  size_t at = 0;
  while (at < laid.size()) {
    const size_t lf = laid.find('\n', at);
    const size_t end = lf == std::string::npos ? laid.size() : lf;
    Frame line = std::make_unique<ByteArray>(buildTextLine(std::string_view(laid).substr(at, end - at)));
    if (!SendCommand(std::move(line))) return kFalse;
    at = end + 1;
  }
  return kTrue;
}

// ---------------------------------------------------------------- tables

std::string CSchalterECFIF::PaymentIndex(const std::string& name) const {
  const std::string wanted = text::upper(text::trimRight(name));
  for (const std::string& entry : arPaymentTypes)
    if (entry.size() > 3 && text::upper(entry.substr(3)) == wanted) return entry.substr(0, 2);
  return {};
}

std::string CSchalterECFIF::TaxCode(double rate) const {
  if (std::string code = fixedTaxCode(rate); !code.empty()) return code;
  const std::string key = rateText(rate);
  for (const std::string& entry : arTaxes)
    if (entry.size() > 3 && entry.substr(3) == key) return entry.substr(0, 2);
  return {};
}

// Wire example, the first rate: 1B 66 E1 "00" 3E; reply 00 "00" "T" "18,00".
BOOL CSchalterECFIF::LoadTaxes() {
  const char* where = "CSchalterECFIF::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    arTaxes.clear();
    for (int i = 0; i < 16; ++i) {
      if (!ReadEntry(kTaxRead, i)) return finish(*this, where, kFalse);
      double rate = 0;
      if (arAnswer.size() >= 5 && arAnswer[kEntryFlag] == 'T' &&
          numberAt(arAnswer, kTaxText, arAnswer.size() - kTaxText, rate))
        arTaxes.push_back(format("%.02i,", i) + rateText(rate));
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B 66 E2 "00" 3D; reply 00 "00" "S" 00 "DINHEIRO" ... "12,50".
BOOL CSchalterECFIF::LoadPaymentTypes(BOOL bLoadValues) {
  const char* where = "CSchalterECFIF::LoadPaymentTypes";
  (void)bLoadValues;
  return guarded(*this, where, kFalse, [&] {
    arPaymentTypes.clear();
    arPaymentValues.clear();
    for (int i = 0; i < 20; ++i) {
      if (!ReadEntry(kPaymentRead, i)) return finish(*this, where, kFalse);
      if (arAnswer.size() < 6 || arAnswer[kEntryFlag] != 'S') continue;
      const std::string name = text::trimRight(textAt(arAnswer, kPaymentName, kPaymentNameWidth));
      double value = 0;
      if (!numberAt(arAnswer, kPaymentValue, kPaymentValueWidth, value)) value = 0;
      arPaymentTypes.push_back(format("%02i,%s", i, name.c_str()));
      arPaymentValues.push_back(value);
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B 66 E3 "00" 3C; reply 00 "00" "S" "SANGRIA".
BOOL CSchalterECFIF::LoadNonFiscalTitles() {
  const char* where = "CSchalterECFIF::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    arNonFiscalTitles.clear();
    for (int i = 0; i < 20; ++i) {
      if (!ReadEntry(kTitleRead, i)) return finish(*this, where, kFalse);
      if (arAnswer.size() < 5 || arAnswer[kEntryFlag] != 'S') continue;
      const std::string title = text::trimRight(textAt(arAnswer, kTitleText, kTitleWidth));
      arNonFiscalTitles.push_back(format("%02i,&,%s", i, title.c_str()));
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example, one title: 1B 66 23 "00" "-SANGRIA" (blanks to 20) 00 x20 "SSSSS" "0" ck.
BOOL CSchalterECFIF::ResetNonFiscalTitles() {
  const char* where = "CSchalterECFIF::ResetNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    int index = 0;
    for (const char* title : kStandardTitles) {
      const std::string params = format("%02i", index++) + padded(title, 20) + zeros(20) + "SSSSS" + "0";
      if (!Command(kTitleSetup, params)) return finish(*this, where, kFalse);
    }
    return finish(*this, where, LoadNonFiscalTitles());
  });
}

// ---------------------------------------------------------------- pending linked receipts

// Wire example, one register: 1B 66 E7 "00" 38; reply 00 "00" "N" ... ends the walk.
BOOL CSchalterECFIF::SettlePending(const char* where) {
  for (int i = 0; i < 30; ++i) {
    if (!ReadEntry(kPendingRead, i)) return kFalse;
    if (arAnswer.size() > kEntryFlag && arAnswer[kEntryFlag] == 'N') return kTrue;
    if (arAnswer.size() <= 54) continue;
    const std::string name = text::trimRight(textAt(arAnswer, kPendingName, kPaymentNameWidth));
    long long cents = 0;
    if (!digitsAt(arAnswer, kPendingAmount, kPendingAmountWidth, cents)) {
      strLastError = cp("Resposta inválida da impressora.");
      Log(where, strLastError);
      return kFalse;
    }
    Log(where, format("Vinculado pendente: %s, %lld", name.c_str(), cents));
    std::string receipt;
    if (!RetornaNumeroCupom(receipt)) return kFalse;
    if (!AbreComprovanteVinculado(name, static_cast<double>(cents) / 100.0, receipt)) return kFalse;
    if (!FechaComprovanteVinculado()) return kFalse;
  }
  return kTrue;
}

BOOL CSchalterECFIF::FinishOperation() {
  const char* where = "CSchalterECFIF::FinishOperation";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, SettlePending(where)); });
}

// ---------------------------------------------------------------- receipts

// Wire example: 1B 66 01 26 58
BOOL CSchalterECFIF::AbreCupomFiscal() {
  const char* where = "CSchalterECFIF::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (!SettlePending(where)) return finish(*this, where, kFalse);
    return finish(*this, where, Command(kOpenReceipt, "&"));
  });
}

// Wire example: 1B 66 D0 00 00 00 00 "7891234567890" 00 "CAFE" (blanks to 62)
//   "001,500" "x" "KG" 00 x10 "000000350" "17" ck
BOOL CSchalterECFIF::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                        const std::string& strUnidade, double nAliquota, double nQuantidade,
                                        double nValorUnitario, double nValorDesconto) {
  const char* where = "CSchalterECFIF::RegistraItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (nValorDesconto < 0) return refuse(*this, where, cp("Este ECF não permite o lançamento de acréscimo no item."));
    const std::string tax = TaxCode(nAliquota);
    if (tax.empty())
      return refuse(*this, where, cp("Alíquota de ") + rateText(nAliquota) + cp("% não cadastrada na impressora."));
    const fields::Result qty = quantity(nQuantidade);
    if (!qty.ok()) return refuse(*this, where, qty.error);
    fields::Checked num;
    const std::string price = num(nValorUnitario, field::kUnitPrice);
    const std::string discount = num(nValorDesconto, field::kItemDiscount);
    if (!num.ok()) return refuse(*this, where, num.error());
    const std::string unit = oneLine(strUnidade);
    const std::string params = zeros(4) + padded(oneLine(strCodigoProduto), 13) + zeros(1) +
                               FormatPrinterText(padded(oneLine(strDescricaoProduto), 62)) + qty.text + "x" +
                               (unit.empty() ? std::string("PC") : padded(unit, 2)) + zeros(10) + price + tax;
    if (!Command(kItem, params)) return finish(*this, where, kFalse);
    if (nValorDesconto > 0)
      return finish(*this, where, Command(kItemDiscount, "\x03" + zeros(2) + zeros(65) + discount));
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B 66 D4 "0002" 00 x30 ck
BOOL CSchalterECFIF::CancelaItemFiscal(long intItem, const std::string&, double, double, double, double) {
  const char* where = "CSchalterECFIF::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string item = num(intItem, field::kItemNumber);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command(kCancelItem, item + zeros(30)));
  });
}

// Wire example: 1B 66 D1 00 ck, then 1B 66 D9 01 00 00 x25 "0000000150" ck
BOOL CSchalterECFIF::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double) {
  const char* where = "CSchalterECFIF::TotalizaCupomFiscalAcrescimo";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string value = num(nAcrescimo, field::kIncrease);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command(kSubtotal, zeros(1))) return finish(*this, where, kFalse);
    return finish(*this, where, Command(kReceiptAdjust, "\x01" + zeros(1) + zeros(25) + value));
  });
}

// Wire example: 1B 66 D1 00 ck, then 1B 66 D9 00 00 00 x25 "0000000150" ck
BOOL CSchalterECFIF::TotalizaCupomFiscalDesconto(double nDesconto, double) {
  const char* where = "CSchalterECFIF::TotalizaCupomFiscalDesconto";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string value = num(nDesconto, field::kDiscount);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command(kSubtotal, zeros(1))) return finish(*this, where, kFalse);
    return finish(*this, where, Command(kReceiptAdjust, zeros(2) + zeros(25) + value));
  });
}

// Wire example: 1B 66 D5 01 "0" 00 00 x10 "00" "0000001000" ck
BOOL CSchalterECFIF::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CSchalterECFIF::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    const std::string index = PaymentIndex(oneLine(strPaymentType));
    if (index.empty()) return refuse(*this, where, cp("Forma de pagamento não cadastrada na impressora."));
    fields::Checked num;
    const std::string value = num(nValorPagamento, field::kPayment);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where,
                  Command(kPayment,
                          "\x01"
                          "0" +
                              zeros(1) + zeros(10) + index + value));
  });
}

// Wire example: the message's lines (1B 6E ... 00 0A), then 1B 66 06 00 00 (eight blanks) ck
BOOL CSchalterECFIF::FechaCupomFiscal(const std::string& strPrintMessage, double) {
  const char* where = "CSchalterECFIF::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (!PrintLines(strPrintMessage)) return finish(*this, where, kFalse);
    return finish(*this, where, Command(kCloseDocument, zeros(2) + blanks(8)));
  });
}

// Wire example, a receipt still open: 1B 66 DF 00 00 ck, then 1B 66 04 00 00 (eight blanks) 00 00 00 00 ck;
// the last receipt, closed: 1B 66 05 ... instead.
BOOL CSchalterECFIF::CancelaCupomFiscal() {
  const char* where = "CSchalterECFIF::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    BOOL open = kFalse;
    if (!CupomFiscalAberto(open)) return finish(*this, where, kFalse);
    return finish(*this, where, Command(open ? kCancelOpen : kCancelLast, zeros(2) + blanks(8) + zeros(4)));
  });
}

// Wire example: 1B 66 DF 00 00 ck; reply 00 ... its sixth byte 1 while a receipt is open.
BOOL CSchalterECFIF::CupomFiscalAberto(BOOL& bOut) {
  const char* where = "CSchalterECFIF::CupomFiscalAberto";
  return guarded(*this, where, kFalse, [&] {
    if (!Command(kState, zeros(2))) return finish(*this, where, kFalse);
    bOut = arAnswer.size() >= 6 && arAnswer[kReceiptOpenAt] != 0 ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

BOOL CSchalterECFIF::IsCashDrawerClosed() {
  if (!Command(kState, zeros(2)) || arAnswer.size() < 7) return kFalse;
  return arAnswer[kStateFlagsAt] == kDrawerClosed ? kTrue : kFalse;
}

BOOL CSchalterECFIF::IsLowPaper() {
  if (!Command(kState, zeros(2)) || arAnswer.size() < 7) return kFalse;
  return arAnswer[kStateFlagsAt] == kPaperLow ? kTrue : kFalse;
}

// Wire example: 1B 66 FA 00 00 ck
BOOL CSchalterECFIF::OpenCashDrawer() {
  const char* where = "CSchalterECFIF::OpenCashDrawer";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kDrawer, zeros(2))); });
}

// Wire example: 1B 66 DE "000012" "00" "000001000" ck
BOOL CSchalterECFIF::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                              const std::string& strNumeroCupom) {
  const char* where = "CSchalterECFIF::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    const std::string index = PaymentIndex(oneLine(strPaymentType));
    if (index.empty()) return refuse(*this, where, cp("Forma de pagamento não cadastrada na impressora."));
    fields::Checked num;
    const std::string receipt = num(std::atol(strNumeroCupom.c_str()), field::kReceiptNumber);
    const std::string value = num(nValorPagamento, field::kLinkedValue);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command(kOpenLinked, receipt + index + value));
  });
}

// Wire example: 1B 66 06 00 00 (eight blanks) ck
BOOL CSchalterECFIF::FechaComprovanteVinculado() {
  const char* where = "CSchalterECFIF::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, Command(kCloseDocument, zeros(2) + blanks(8))); });
}

// Wire example: 1B 66 DD 01 ck, then 1B 66 D6 (78 blanks) "     1000" "01" ck
BOOL CSchalterECFIF::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string&) {
  const char* where = "CSchalterECFIF::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    std::string value = num(nValor, field::kNonFiscalValue);
    const std::string title = num(intTitle, field::kIndex);
    if (!num.ok()) return refuse(*this, where, num.error());
    // The value field is padded with blanks, not zeros.
    for (size_t i = 0; i + 1 < value.size() && value[i] == '0'; ++i) value[i] = ' ';
    if (!Command(kOpenNonFiscal, "\x01")) return finish(*this, where, kFalse);
    return finish(*this, where, Command(kNonFiscalValue, blanks(78) + value + title));
  });
}

BOOL CSchalterECFIF::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CSchalterECFIF::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    if (!(nValue > 0)) return refuse(*this, where, "O valor deve ser maior que zero.");
    const int title = NonFiscalTitlesIndex(oneLine(strTitle));
    if (title < 0) return finish(*this, where, kFalse);
    if (!ComprovanteNaoFiscalNaoVinculado(title, nValue, strPaymentType)) return finish(*this, where, kFalse);
    if (!strPaymentType.empty() && !RegistraPagamento(strPaymentType, nValue)) return finish(*this, where, kFalse);
    return finish(*this, where, Command(kCloseDocument, zeros(2) + blanks(8)));
  });
}

// ---------------------------------------------------------------- reports

// Wire example: 1B 66 10 (eight blanks) ck
BOOL CSchalterECFIF::AbreRelatorioGerencial() {
  const char* where = "CSchalterECFIF::AbreRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kOpenReport, blanks(8))); });
}

// Wire example, one line: 1B 6E "TOTAL DO DIA" 00 0A
BOOL CSchalterECFIF::ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) {
  const char* where = "CSchalterECFIF::ImprimeRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, PrintLines(strTextoRelatorio)); });
}

// Wire example: 1B 66 06 (ten blanks) ck
BOOL CSchalterECFIF::FechaRelatorioGerencial() {
  const char* where = "CSchalterECFIF::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, Command(kCloseDocument, blanks(2) + blanks(8))); });
}

// Wire example: 1B 66 14 (eight blanks) ck
BOOL CSchalterECFIF::LeituraX() {
  const char* where = "CSchalterECFIF::LeituraX";
  return guarded(*this, where, kFalse, [&] {
    if (!SettlePending(where)) return finish(*this, where, kFalse);
    return finish(*this, where, Command(kXReport, blanks(8)));
  });
}

BOOL CSchalterECFIF::LeituraXSerial(std::string&) {
  const char* where = "CSchalterECFIF::LeituraXSerial";
  return guarded(*this, where, kFalse,
                 [&] { return refuse(*this, where, cp("Este ECF não permite leitura X pela interface serial.")); });
}

// Wire example: 1B 66 13 (eight blanks) ck
BOOL CSchalterECFIF::ReducaoZ(DateTime) {
  const char* where = "CSchalterECFIF::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    if (!SettlePending(where)) return finish(*this, where, kFalse);
    return finish(*this, where, Command(kZReport, blanks(8)));
  });
}

// Wire example: 1B 66 15 01 "011226" "311226" "0000" "0000" ck
BOOL CSchalterECFIF::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL) {
  const char* where = "CSchalterECFIF::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string first, last;
    if (!dateText(dtInicial, first) || !dateText(dtFinal, last)) return refuse(*this, where, cp("Data inválida."));
    return finish(*this, where, Command(kMemoryRead, "\x01" + first + last + "0000" + "0000"));
  });
}

// Wire example: 1B 66 15 02 "000000" "000000" "0001" "0010" ck
BOOL CSchalterECFIF::LeituraMFReducao(long intInicial, long intFinal, BOOL) {
  const char* where = "CSchalterECFIF::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string first = num(intInicial, field::kReduction);
    const std::string last = num(intFinal, field::kReduction);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where,
                  Command(kMemoryRead,
                          "\x02"
                          "000000"
                          "000000" +
                              first + last));
  });
}

BOOL CSchalterECFIF::LeituraMemoriaFiscalSerial(DateTime, DateTime, std::string&, BOOL) {
  const char* where = "CSchalterECFIF::LeituraMemoriaFiscalSerial";
  return guarded(*this, where, kFalse, [&] {
    return refuse(*this, where, cp("Este ECF não permite leitura da memória fiscal pela interface serial."));
  });
}

BOOL CSchalterECFIF::LeituraMFSerialReducao(long, long, std::string&, BOOL) {
  const char* where = "CSchalterECFIF::LeituraMFSerialReducao";
  return guarded(*this, where, kFalse, [&] {
    return refuse(*this, where, cp("Este ECF não permite leitura da memória fiscal pela interface serial."));
  });
}

// Wire example, an hour ahead of 14:30:00 on 06/12/26: 1B 66 16 "153000" "0" "061226" ck
BOOL CSchalterECFIF::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CSchalterECFIF::MudaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    DateTime now = DateTime::invalid();
    if (!ReadDateTime(now)) return finish(*this, where, kFalse);
    const DateTime moved(now.automationDate() + (bHabilita ? 1.0 : -1.0) / 24.0);
    DateParts p;
    if (!moved.parts(p)) return refuse(*this, where, cp("Data inválida."));
    return finish(*this, where,
                  Command(kSummerTime, format("%02d%02d%02d0%02d%02d%02d", p.hour, p.minute, p.second, p.day, p.month,
                                              p.year % 100)));
  });
}

// Wire example: 1B 66 6F "AUTENTICADO" (blanks to 48) ck
BOOL CSchalterECFIF::AuthenticateDocument(const std::string& strAdditionalInfo) {
  const char* where = "CSchalterECFIF::AuthenticateDocument";
  return guarded(*this, where, kFalse, [&] {
    const std::string line = FormatPrinterText(oneLine(strAdditionalInfo).substr(0, 40));
    return finish(*this, where, Command(kAuthenticate, padded(line, 48)));
  });
}

// ---------------------------------------------------------------- registers

// Wire example: 1B 66 E0 00 00 9F; reply 00 "00" "0001" 00 "000123" ... "061226143000" ...
BOOL CSchalterECFIF::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CSchalterECFIF::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    if (!Command(kCounters, zeros(2))) return finish(*this, where, kFalse);
    long long n = 0;
    if (arAnswer.size() < 14 || !digitsAt(arAnswer, kReceiptNumberAt, 6, n))
      return refuse(*this, where, cp("Resposta inválida da impressora."));
    strNumeroCupom = format("%06lld", n);
    return finish(*this, where, kTrue);
  });
}

long CSchalterECFIF::GetOperationCounter() {
  std::string n;
  return RetornaNumeroCupom(n) ? std::atol(n.c_str()) : 0;
}

long CSchalterECFIF::GetPrinterID() {
  long long n = 0;
  if (!Command(kCounters, zeros(2)) || !digitsAt(arAnswer, kPrinterIdAt, 4, n)) return 0;
  return static_cast<long>(n);
}

BOOL CSchalterECFIF::ReadDateTime(DateTime& dtOut) {
  const char* where = "CSchalterECFIF::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    if (!Command(kCounters, zeros(2))) return finish(*this, where, kFalse);
    long long f[6] = {};
    for (size_t i = 0; i < 6; ++i)
      if (arAnswer.size() < kCountersReply || !digitsAt(arAnswer, kDateAt + 2 * i, 2, f[i]))
        return refuse(*this, where, cp("Resposta inválida da impressora."));
    const DateTime dt =
        DateTime::fromParts(2000 + static_cast<int>(f[2]), static_cast<int>(f[1]), static_cast<int>(f[0]),
                            static_cast<int>(f[3]), static_cast<int>(f[4]), static_cast<int>(f[5]));
    if (!dt.valid()) return refuse(*this, where, cp("Resposta inválida da impressora."));
    dtOut = dt;
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B 66 E4 00 00 9B; reply of 45 bytes, the serial number from its 36th.
BOOL CSchalterECFIF::ReadSerialNumber(std::string& strOut) {
  const char* where = "CSchalterECFIF::ReadSerialNumber";
  return guarded(*this, where, kFalse, [&] {
    if (!Command(kIdentity, zeros(2))) return finish(*this, where, kFalse);
    if (arAnswer.size() < kIdentityReply) return refuse(*this, where, cp("Não foi possível ler o número de série."));
    strOut = text::trimRight(textAt(arAnswer, kSerialAt, kSerialWidth));
    return finish(*this, where, kTrue);
  });
}

// The identity read changes nothing in the printer: a reply cut short is
// asked for once more after a pause. Then the counters read.
BOOL CSchalterECFIF::ReadFiscalInformation() {
  const char* where = "CSchalterECFIF::ReadFiscalInformation";
  return guarded(*this, where, kFalse, [&] {
    const bool read =
        Retry(2, kIdentityRetryMs, [&] { return Command(kIdentity, zeros(2)) && arAnswer.size() >= kIdentityReply; });
    if (!read) return refuse(*this, where, cp("Não foi possível ler o número de série."));
    strSerialNumber = text::trimRight(textAt(arAnswer, kSerialAt, kSerialWidth));
    if (!Command(kCounters, zeros(2))) return finish(*this, where, kFalse);
    long long id = 0, coo = 0;
    if (!digitsAt(arAnswer, kPrinterIdAt, 4, id) || !digitsAt(arAnswer, kReceiptNumberAt, 6, coo))
      return refuse(*this, where, cp("Resposta inválida da impressora."));
    intPrinterID = static_cast<int>(id);
    intFinalOperation = static_cast<int>(coo);
    return finish(*this, where, kTrue);
  });
}

double CSchalterECFIF::Total(const char* where, size_t field) {
  return guarded(*this, where, 0.0, [&] {
    double v = 0;
    if (!Command(kTotals, zeros(1)) || !numberAt(arAnswer, 1 + field * kTotalWidth, kTotalWidth, v)) return 0.0;
    return v;
  });
}

double CSchalterECFIF::GetSaleTotal() {
  return Total("CSchalterECFIF::GetSaleTotal", 0);
}
double CSchalterECFIF::GetCancelTotal() {
  return Total("CSchalterECFIF::GetCancelTotal", 1);
}
double CSchalterECFIF::GetDiscountTotal() {
  return Total("CSchalterECFIF::GetDiscountTotal", 2);
}
double CSchalterECFIF::GetIncreaseTotal() {
  return Total("CSchalterECFIF::GetIncreaseTotal", 3);
}

// Wire example: 1B 66 E5 "00" ck; the grand total in the last 21 bytes of the reply.
double CSchalterECFIF::GetFinalGrandTotal() {
  return guarded(*this, "CSchalterECFIF::GetFinalGrandTotal", 0.0, [&] {
    double v = 0;
    if (!ReadEntry(kGrandTotal, 0) || !numberAt(arAnswer, kGrandTotalAt, kTotalWidth, v)) return 0.0;
    return v;
  });
}

}  // namespace tarvion
