// CDaruma: the exchange of one command with its release, the error reply,
// the online probe and every operation of the classic printers.
#include "drivers/daruma/CDaruma.h"

#include <cmath>
#include <cstdlib>

#include "core/exchange.h"
#include "core/host_text.h"
#include "core/text.h"
#include "drivers/daruma/daruma_ops.h"

namespace tarvion {

using namespace daruma;
using namespace daruma::classic;
using text::cp;
using text::format;

namespace {

const std::string kEnd(1, static_cast<char>(kTextEnd));

std::string wireText(const uint8_t* data, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    s += b < 0x20 || b > 0x7E ? format("[%2.2X]", b) : std::string(1, static_cast<char>(b));
  }
  return s;
}

// Tax positions go as one character: 0-9, then A-F.
char positionChar(size_t index) {
  return "0123456789ABCDEF"[index & 0x0F];
}

}  // namespace

CDaruma::CDaruma() {
  Log("CDaruma::CDaruma", cp("início"));
  CanAuthenticateDocument = kTrue;
  portProfile.logTag = "CDaruma";
  Log("CDaruma::CDaruma", "Fim");
}

BOOL CDaruma::CarregaTimeoutsPorta() {
  CECFBase::CarregaTimeoutsPorta();
  daruma::replyTimeouts(timeouts);
  return kTrue;
}

// Wire example, the X report: 1B CF
Frame CDaruma::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  return std::make_unique<ByteArray>(buildClassicFrame(command, parameters));
}

BOOL CDaruma::SendCommand(Frame command) {
  const char* where = "CDaruma::SendCommand";
  try {
    if (!command) return kTrue;
    if (log_.enabled()) Log(format("%s{%s}", where, wireText(command->data(), command->size()).c_str()));
    exchange::Plan plan;
    plan.where = where;
    plan.drainWhenFresh = true;
    plan.answerMs = kAnswerMs;
    plan.end = exchange::ReplyEnd::withLengthField(&replyLength);
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(*command, plan, arAnswer, [&](const ByteArray&, size_t, int) {
      // A reply without its ':' and CR cannot say whether the command ran.
      if (replyLength(arAnswer.data(), arAnswer.size()) == 0) {
        strLastError = cp("Resposta inválida da impressora.");
        Log("CDaruma::CheckForSuccess", strLastError);
        return exchange::Verdict::LineFault;
      }
      return JudgeStatus();
    });
    command.reset();
    if (log_.enabled()) Log(format("%s{Read=%s}", where, wireText(arAnswer.data(), arAnswer.size()).c_str()));
    const std::string_view body = replyBody(arAnswer);
    strReply.assign(body.empty() ? std::string_view() : body.substr(1));
    // Whatever the reply said, the printer waits for its release before the
    // next command.
    if (r.stoppedAt == exchange::Step::Judged) {
      const std::string why = strLastError;
      const exchange::Outcome outcome = lastOutcome;
      if (!Release()) {
        if (r.ok()) {
          // The command ran, but the printer did not take its release: the
          // host must not take it for done, nor send it again.
          lastOutcome = exchange::Outcome::MayHaveRun;
          Log(where, "Retorno=FALSE, " + strLastError);
          return kFalse;
        }
        strLastError = why;
      } else {
        strLastError = why;
      }
      lastOutcome = outcome;
    }
    if (!r.ok()) Log(where, "Retorno=FALSE, " + strLastError);
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

// Wire example: 1B EF, answered by the receipt read (":" ... CR), which is
// not kept. A printer that never answers fails after kReleaseMs with the
// time-out message.
BOOL CDaruma::Release() {
  exchange::Plan plan;
  plan.where = "CDaruma::Release";
  plan.answerMs = kReleaseMs;
  plan.end = exchange::ReplyEnd::withLengthField(&replyLength);
  ByteArray answer;
  const exchange::Result r = ExchangeCommand(ByteArray{kESC, kRelease}, plan, answer,
                                             [](const ByteArray&, size_t, int) { return exchange::Verdict::Done; });
  return r.ok() ? kTrue : kFalse;
}

BOOL CDaruma::CheckForSuccess() {
  int code = -1;
  if (!classicError(replyBody(arAnswer), code)) return kTrue;
  const char* m = classicMessageUtf8(code);
  strLastError = m ? cp(m) : std::string();
  Log("CDaruma::CheckForSuccess", format("E%02d - %s", code, strLastError.c_str()));
  return kFalse;
}

// Wire example: 1B EC, answered by the identity read.
BOOL CDaruma::ECFOnline() {
  const char* where = "CDaruma::ECFOnline";
  try {
    exchange::Plan plan;
    plan.where = where;
    plan.nothingWritten = nullptr;
    plan.answerMs = kProbeMs;
    plan.end = exchange::ReplyEnd::withLengthField(&replyLength);
    const BOOL fresh = bFreshLine;
    ByteArray answer;
    const exchange::Result r = ExchangeCommand(ByteArray{kESC, kReadIdentity}, plan, answer,
                                               [](const ByteArray&, size_t, int) { return exchange::Verdict::Done; });
    bFreshLine = fresh;
    if (!r.ok()) Log(where, "Retorno=FALSE, " + strLastError);
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CDaruma::Command(uint8_t code, const std::string& params) {
  ClearBuffers();
  AddCommandByte(code);
  AddParameterString(params);
  return Submit();
}

BOOL CDaruma::Read(const char* where, uint8_t code) {
  if (Command(code)) return kTrue;
  Log(where, "Retorno=FALSE, " + strLastError);
  return kFalse;
}

bool CDaruma::Digits(size_t at, size_t n, long long& out) const {
  return at + n <= strReply.size() && digitsValue(std::string_view(strReply).substr(at, n), out);
}

// ---------------------------------------------------------------- receipt

BOOL CDaruma::SetCustomerInfo(const std::string& code, const std::string& name, const std::string& address) {
  pendingCustomer.set(code, name, address);
  return kTrue;
}

// Wire example, without customer data: 1B C8 FF FF FF
BOOL CDaruma::AbreCupomFiscal() {
  const char* where = "CDaruma::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    const std::string params = textField(pendingCustomer.code, 20) + kEnd + textField(pendingCustomer.name, 30) + kEnd +
                               textField(pendingCustomer.address, 80) + kEnd;
    if (!Command(kOpenReceipt, params)) return finish(*this, where, kFalse);
    pendingCustomer.movedTo(*this);
    return finish(*this, where, kTrue);
  });
}

// Wire example, 3 units of CAFE at 2,50 in the first rate with 0,50 off each:
//   1B F7 "T0" "1            " "2" "000000150" "0000002500" "00003000" "3" "UN" "CAFE" (30 wide)
BOOL CDaruma::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                 const std::string& strUnidade, double nAliquota, double nQuantidade,
                                 double nValorUnitario, double nValorDesconto) {
  const char* where = "CDaruma::RegistraItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string tax, label;
    if (nAliquota > 0) {
      const std::string key = "T" + fields::printfFixed(nAliquota, 5, 2);
      for (size_t i = 0; i < arTaxes.size() && tax.empty(); ++i)
        if (arTaxes[i] == key) {
          tax = std::string("T") + positionChar(i);
          label = format("%02dT%04ld", static_cast<int>(i + 1), std::lround(nAliquota * 100));
        }
    } else if (nAliquota == 0.0 || nAliquota == -1.0 || nAliquota == -2.0) {
      tax = nAliquota == 0.0 ? "I " : nAliquota == -1.0 ? "F " : "N ";
      label = tax.substr(0, 1) + "1";
    }
    if (tax.empty())
      return refuse(*this, where,
                    format(cp("Alíquota de %s%% não cadastrada na impressora.").c_str(),
                           fields::printfFixed(std::isnan(nAliquota) ? 0.0 : nAliquota, 5, 2).c_str()));
    fields::Checked num;
    const std::string off = num(std::fabs(nValorDesconto * nQuantidade), field::kClassicDiscount);
    const std::string price = num(nValorUnitario, field::kClassicPrice);
    const std::string qty = num(nQuantidade, field::kClassicQuantity);
    if (!num.ok()) return refuse(*this, where, num.error());
    const std::string code = textField(strCodigoProduto, 13, true), unit = textField(strUnidade, 2, true);
    const std::string desc = textField(strDescricaoProduto, 30, true);
    if (!Command(kSellItem, tax + code + (nValorDesconto < 0 ? "3" : "2") + off + price + qty + "3" + unit + desc))
      return finish(*this, where, kFalse);
    strLastItemCode = text::trim(code);
    strLastItemDescription = text::trim(desc);
    strLastItemUnit = text::trim(unit);
    strLastItemLabel = label;
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B CD "002"
BOOL CDaruma::CancelaItemFiscal(long intItem, const std::string&, double, double, double, double) {
  const char* where = "CDaruma::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result item = fields::format(intItem, field::kItem);
    if (!item.ok()) return refuse(*this, where, item.error);
    return finish(*this, where, Command(kCancelItem, item.text));
  });
}

// Wire example, 0,50 off: 1B F1 "1" "000000000050"
BOOL CDaruma::TotalizaCupomFiscalDesconto(double nDesconto, double) {
  const char* where = "CDaruma::TotalizaCupomFiscalDesconto";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = fields::format(nDesconto, field::kClassicAmount);
    if (!v.ok()) return refuse(*this, where, v.error);
    return finish(*this, where, Command(kTotalize, "1" + v.text));
  });
}

// Wire example, 1,25 more: 1B F1 "3" "000000000125"
BOOL CDaruma::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double) {
  const char* where = "CDaruma::TotalizaCupomFiscalAcrescimo";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = fields::format(std::fabs(nAcrescimo), field::kClassicIncrease);
    if (!v.ok()) return refuse(*this, where, v.error);
    return finish(*this, where, Command(kTotalize, "3" + v.text));
  });
}

// Wire example, 10,00 in payment type 01: 1B F2 "01" "000000001000" FF
BOOL CDaruma::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CDaruma::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    const int i = PaymentTypeIndex(strPaymentType);
    if (i < 0) return finish(*this, where, kFalse);
    fields::Checked num;
    const std::string index = num(i + 1, field::kIndex);
    const std::string amount = num(nValorPagamento, field::kClassicAmount);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command(kPay, index + amount + kEnd)) return finish(*this, where, kFalse);
    strLastPaymentType = strPaymentType;
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B F3 "VOLTE SEMPRE" FF
BOOL CDaruma::FechaCupomFiscal(const std::string& strPrintMessage, double) {
  const char* where = "CDaruma::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string message = FormatPrinterText(lines(strPrintMessage));
    noTextEnd(message);
    return finish(*this, where, Command(kCloseReceipt, message + kEnd));
  });
}

// Wire example: 1B CE
BOOL CDaruma::CancelaCupomFiscal() {
  const char* where = "CDaruma::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kCancelReceipt)); });
}

BOOL CDaruma::CupomFiscalAberto(BOOL& bOut) {
  const char* where = "CDaruma::CupomFiscalAberto";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadReceipt)) return kFalse;
    if (strReply.size() < 7 || (strReply[6] != '0' && strReply[6] != '1'))
      return refuse(*this, where, cp("Resposta inválida da impressora."));
    bOut = strReply[6] == '1' ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- other documents

// Wire example, 10,00 paid in "Dinheiro" by receipt 17:
//   1B DB "Dinheiro" FF "17" FF FF "000000001000"
BOOL CDaruma::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                       const std::string& strNumeroCupom) {
  const char* where = "CDaruma::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = fields::format(nValorPagamento, field::kClassicAmount);
    if (!v.ok()) return refuse(*this, where, v.error);
    const std::string params = textField(strPaymentType, kPaymentName) + kEnd +
                               textField(text::trim(strNumeroCupom), 6) + kEnd + kEnd + v.text;
    return finish(*this, where, Command(kOpenLinked, params));
  });
}

// Wire example: 1B D4
BOOL CDaruma::FechaComprovanteVinculado() {
  const char* where = "CDaruma::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kCloseDocument)); });
}

// Wire example, 5,00 on the second title ("B"):
//   1B D9 "B" "0" "000000000000" "000000000500" FF
BOOL CDaruma::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string&) {
  const char* where = "CDaruma::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    if (!(nValor > 0)) return refuse(*this, where, cp("O valor deve ser maior que zero."));
    if (intTitle < 1 || intTitle > static_cast<long>(kSlots))
      return refuse(*this, where, cp("Totalizador não fiscal não cadastrado na impressora."));
    const fields::Result v = fields::format(nValor, field::kClassicAmount);
    if (!v.ok()) return refuse(*this, where, v.error);
    const char accumulator = static_cast<char>('A' + intTitle - 1);
    return finish(*this, where,
                  Command(kNonFiscal, std::string(1, accumulator) + "0" + std::string(12, '0') + v.text + kEnd));
  });
}

BOOL CDaruma::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CDaruma::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    if (!(nValue > 0)) return refuse(*this, where, cp("O valor deve ser maior que zero."));
    const int title = NonFiscalTitlesIndex(strTitle);
    if (title < 0) return finish(*this, where, kFalse);
    return ComprovanteNaoFiscalNaoVinculado(title, nValue, strPaymentType);
  });
}

// Wire example: 1B D3
BOOL CDaruma::AbreRelatorioGerencial() {
  const char* where = "CDaruma::AbreRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kOpenReport)); });
}

// Wire example, one line: 1B D5 "TOTAL DO DIA" 0A. Each printed line is a
// command of its own, ended by its line feed.
BOOL CDaruma::ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) {
  const char* where = "CDaruma::ImprimeRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    const std::string laid =
        text::layoutLines(FormatPrinterText(lines(strTextoRelatorio)), Columns, text::plainMarkup());
    const size_t width = static_cast<size_t>(Columns > 0 ? Columns : 40);
    size_t at = 0;
    while (at < laid.size()) {
      const size_t lf = laid.find('\n', at);
      const size_t end = std::min(lf == std::string::npos ? laid.size() : lf, at + width);
      std::string line = laid.substr(at, end - at);
      noTextEnd(line);
      if (!Command(kReportText, line + "\n")) return finish(*this, where, kFalse);
      at = end < laid.size() && laid[end] == '\n' ? end + 1 : end;
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B D4
BOOL CDaruma::FechaRelatorioGerencial() {
  const char* where = "CDaruma::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kCloseDocument)); });
}

// ---------------------------------------------------------------- reports

// Wire example: 1B CF
BOOL CDaruma::LeituraX() {
  const char* where = "CDaruma::LeituraX";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kXReport)); });
}

BOOL CDaruma::LeituraXSerial(std::string&) {
  return refuse(*this, "CDaruma::LeituraXSerial",
                cp("A impressora Daruma não aceita Leitura X pela interface serial."));
}

// Wire example, on 4 December 2026 at 23:10:05: 1B D0 "041226231005"
BOOL CDaruma::ReducaoZ(DateTime dtReducao) {
  const char* where = "CDaruma::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    std::string when;
    if (!dateField(dtReducao, true, when)) dateField(DateTime::now(), true, when);
    return finish(*this, where, Command(kZReport, when));
  });
}

// Wire example, reductions 1 to 5 printed in full: 1B D1 "R" "000001" "000005"
BOOL CDaruma::MemoryRead(const char* where, char kind, const std::string& first, const std::string& last) {
  return finish(*this, where, Command(kMemoryRead, std::string(1, kind) + first + last));
}

namespace {
char kindOf(char kind, BOOL summarised) {
  return summarised ? static_cast<char>(kind - 'A' + 'a') : kind;
}
}  // namespace

BOOL CDaruma::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) {
  const char* where = "CDaruma::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string a, b;
    if (!dateField(dtInicial, false, a) || !dateField(dtFinal, false, b))
      return refuse(*this, where, cp("Data inválida."));
    return MemoryRead(where, kindOf(kByDate, bResumida), a, b);
  });
}

BOOL CDaruma::LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                         BOOL bResumida) {
  const char* where = "CDaruma::LeituraMemoriaFiscalSerial";
  return guarded(*this, where, kFalse, [&] {
    std::string a, b;
    if (!dateField(dtInicial, false, a) || !dateField(dtFinal, false, b))
      return refuse(*this, where, cp("Data inválida."));
    if (!MemoryRead(where, kindOf(kTextByDate, bResumida), a, b)) return kFalse;
    strLeitura = strReply;
    return kTrue;
  });
}

BOOL CDaruma::LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) {
  const char* where = "CDaruma::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = num(intInicial, field::kCounter);
    const std::string b = num(intFinal, field::kCounter);
    if (!num.ok()) return refuse(*this, where, num.error());
    return MemoryRead(where, kindOf(kByCounter, bResumida), a, b);
  });
}

BOOL CDaruma::LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) {
  const char* where = "CDaruma::LeituraMFSerialReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = num(intInicial, field::kCounter);
    const std::string b = num(intFinal, field::kCounter);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!MemoryRead(where, kindOf(kTextByCounter, bResumida), a, b)) return kFalse;
    strLeitura = strReply;
    return kTrue;
  });
}

// The users as the fiscal memory lists them: every line after the header,
// one user each ("dd/mm/yyyy hh:mm:ss" first).
BOOL CDaruma::UserLines(const char* where, std::vector<std::string>& out) {
  if (!Command(kMemoryRead, std::string(1, kTextByCounter) + "000001" + "999999")) {
    Log(where, "Retorno=FALSE, " + strLastError);
    return kFalse;
  }
  const size_t header = strReply.find(kUserHeader);
  if (header == std::string::npos) {
    strLastError = cp("Resposta inválida da impressora.");
    Log(where, "Retorno=FALSE, " + strLastError);
    return kFalse;
  }
  out.clear();
  size_t at = strReply.find('\n', header);
  while (at != std::string::npos && at + 1 < strReply.size()) {
    const size_t next = strReply.find('\n', at + 1);
    const std::string line =
        text::trim(strReply.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
    if (line.empty()) break;
    out.push_back(line);
    at = next;
  }
  return kTrue;
}

short CDaruma::GetUserNumber() {
  const char* where = "CDaruma::GetUserNumber";
  return guarded(*this, where, static_cast<short>(0), [&] {
    std::vector<std::string> users;
    if (!UserLines(where, users)) return static_cast<short>(0);
    return static_cast<short>(users.size());
  });
}

DateTime CDaruma::GetUserDateTime() {
  const char* where = "CDaruma::GetUserDateTime";
  return guarded(*this, where, DateTime::invalid(), [&] {
    std::vector<std::string> users;
    if (!UserLines(where, users) || users.empty() || users.back().size() < 19) return DateTime::invalid();
    const std::string& l = users.back();
    // dd/mm/yyyy hh:mm:ss
    const std::string digits =
        l.substr(0, 2) + l.substr(3, 2) + l.substr(6, 4) + l.substr(11, 2) + l.substr(14, 2) + l.substr(17, 2);
    return stampValue(digits);
  });
}

// ---------------------------------------------------------------- settings

BOOL CDaruma::AdicionaFormaPagamento(const std::string&) {
  return refuse(*this, "CDaruma::AdicionaFormaPagamento", cp("Utilize a função \"RedefineFormasPagamento\"."));
}

// Wire example, one name: 1B DA "PG" "Cheque           " (17 wide)
BOOL CDaruma::RedefineFormasPagamento(const std::vector<std::string>& arNames) {
  const char* where = "CDaruma::RedefineFormasPagamento";
  return guarded(*this, where, kFalse, [&] {
    for (const std::string& name : arNames) {
      const std::string n = textField(text::trim(name), kPaymentName, true);
      if (text::trim(n).empty()) continue;
      if (!Command(kDefinePayment, "PG" + n)) return finish(*this, where, kFalse);
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B E2 "+" "DIVERSOS             " (21 wide)
BOOL CDaruma::AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) {
  const char* where = "CDaruma::AdicionaTotalizadorNaoFiscal";
  return guarded(*this, where, kFalse, [&] {
    const std::string title = text::trim(textField(strDescricaoTotalizador, kTitleName));
    if (title.empty()) return refuse(*this, where, cp("Descrição do totalizador inválida."));
    for (const std::string& t : arNonFiscalTitles)
      if (t.size() > 5 && text::upper(t.substr(5)) == text::upper(title))
        return refuse(*this, where, cp("Totalizador já cadastrado na impressora."));
    return finish(*this, where, Command(kDefineTitle, "+" + textField(title, kTitleName, true)));
  });
}

// Wire example, an ISS rate of 5 %: 1B DC "S" "0500"; an ICMS rate goes without the "S".
BOOL CDaruma::AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) {
  const char* where = "CDaruma::AdicionaAliquotaTributaria";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result rate = fields::format(nAliquota, field::kClassicRate);
    if (!rate.ok()) return refuse(*this, where, rate.error);
    const char kind = intTipoAliquota == 0 ? 'T' : 'S';
    const std::string key = std::string(1, kind) + fields::printfFixed(nAliquota, 5, 2);
    for (const std::string& t : arTaxes)
      if (t == key) return refuse(*this, where, cp("Alíquota já cadastrada na impressora."));
    return finish(*this, where, Command(kDefineTax, (kind == 'S' ? "S" : "") + rate.text));
  });
}

// Wire example: 1B E4, sent only when the printer is not yet as asked (the
// command turns daylight saving over).
BOOL CDaruma::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CDaruma::MudaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    BOOL now = kFalse;
    if (!VerificaHorarioVerao(now)) return finish(*this, where, kFalse);
    if ((now != kFalse) == (bHabilita != kFalse)) return finish(*this, where, kTrue);
    return finish(*this, where, Command(kChangeDaylight));
  });
}

// Wire example: 1B E5, answered ":1" CR while daylight saving is on.
BOOL CDaruma::VerificaHorarioVerao(BOOL& bOut) {
  const char* where = "CDaruma::VerificaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadDaylight)) return kFalse;
    if (strReply.empty() || (strReply[0] != '0' && strReply[0] != '1'))
      return refuse(*this, where, cp("Resposta inválida da impressora."));
    bOut = strReply[0] == '1' ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

// Wire example: 1B FF, answered ":1" CR when the paper is near its end.
BOOL CDaruma::IsLowPaper() {
  const char* where = "CDaruma::IsLowPaper";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadPaper)) return kFalse;
    return !strReply.empty() && strReply[0] == '1' ? kTrue : kFalse;
  });
}

// Wire example: 1B 70 "000"
BOOL CDaruma::OpenCashDrawer() {
  const char* where = "CDaruma::OpenCashDrawer";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(kDrawer, "000")); });
}

// Wire example: 1B 59, both lines 20 wide, 0A
BOOL CDaruma::DisplayText(const std::string& strFirstLine, const std::string& strSecondLine) {
  const char* where = "CDaruma::DisplayText";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where,
                  Command(kDisplay, textField(strFirstLine, 20, true) + textField(strSecondLine, 20, true) + "\n"));
  });
}

// ---------------------------------------------------------------- tables and information

BOOL CDaruma::LoadTaxes() {
  const char* where = "CDaruma::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadTaxes)) return kFalse;
    arTaxes.clear();
    ResetTaxes();
    for (size_t at = 0; at + 5 <= strReply.size() && arTaxes.size() < 16; at += 5) {
      const char kind = strReply[at];
      const std::string d = strReply.substr(at + 1, 4);
      long long rate = 0;
      if ((kind != 'T' && kind != 'S') || !digitsValue(d, rate)) break;
      arTaxes.push_back(format("%c%c%c.%c%c", kind, d[0], d[1], d[2], d[3]));
      TaxEntry& e = arTaxTable[static_cast<size_t>(TaxesCount)];
      e.percent = static_cast<double>(rate) / 100.0;
      e.title = format("%02d%c%s", TaxesCount + 1, kind, d.c_str());
      ++TaxesCount;
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CDaruma::LoadPaymentTypes(BOOL bLoadValues) {
  const char* where = "CDaruma::LoadPaymentTypes";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadPayments)) return kFalse;
    arPaymentTypes.clear();
    arPaymentValues.clear();
    const size_t width = kPaymentName + kMoneyWidth;
    for (size_t at = 0; at + width <= strReply.size(); at += width) {
      const std::string name = text::trim(strReply.substr(at, kPaymentName));
      if (name.empty()) break;
      arPaymentTypes.push_back(name);
      long long cents = 0;
      if (bLoadValues)
        arPaymentValues.push_back(Digits(at + kPaymentName, kMoneyWidth, cents) ? static_cast<double>(cents) / 100.0
                                                                                : 0.0);
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CDaruma::LoadNonFiscalTitles() {
  const char* where = "CDaruma::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadTitles)) return kFalse;
    arNonFiscalTitles.clear();
    for (size_t i = 0; (i + 1) * kTitleName <= strReply.size() && i < kSlots; ++i) {
      const std::string name = text::trim(strReply.substr(i * kTitleName, kTitleName));
      if (!name.empty()) arNonFiscalTitles.push_back(format("%02d - ", static_cast<int>(i + 1)) + name);
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CDaruma::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CDaruma::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadReceipt)) return kFalse;
    long long coo = 0;
    if (!Digits(0, 6, coo)) return refuse(*this, where, cp("Resposta inválida da impressora."));
    strNumeroCupom = std::to_string(coo);
    return finish(*this, where, kTrue);
  });
}

BOOL CDaruma::ReadSerialNumber(std::string& strOut) {
  const char* where = "CDaruma::ReadSerialNumber";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadIdentity)) return kFalse;
    if (strReply.size() < 8) return refuse(*this, where, cp("Resposta inválida da impressora."));
    strOut = strReply.substr(0, 8);
    return finish(*this, where, kTrue);
  });
}

BOOL CDaruma::ReadDateTime(DateTime& dtOut) {
  const char* where = "CDaruma::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    if (!Read(where, kReadClock)) return kFalse;
    const DateTime dt = stampValue(std::string_view(strReply).substr(0, 12));
    if (!dt.valid()) return refuse(*this, where, cp("Resposta inválida da impressora."));
    dtOut = dt;
    return finish(*this, where, kTrue);
  });
}

double CDaruma::DayTotal(const char* where, size_t field) {
  return guarded(*this, where, 0.0, [&] {
    long long cents = 0;
    if (!Read(where, kReadTotals) || !Digits(field * 14, 14, cents)) return 0.0;
    return static_cast<double>(cents) / 100.0;
  });
}

double CDaruma::GetSaleTotal() {
  return DayTotal("CDaruma::GetSaleTotal", 0);
}
double CDaruma::GetCancelTotal() {
  return DayTotal("CDaruma::GetCancelTotal", 1);
}
double CDaruma::GetDiscountTotal() {
  return DayTotal("CDaruma::GetDiscountTotal", 2);
}
double CDaruma::GetIncreaseTotal() {
  return DayTotal("CDaruma::GetIncreaseTotal", 3);
}
double CDaruma::GetNonFiscalTotal() {
  return DayTotal("CDaruma::GetNonFiscalTotal", 4);
}

double CDaruma::GetFinalGrandTotal() {
  const char* where = "CDaruma::GetFinalGrandTotal";
  return guarded(*this, where, 0.0, [&] {
    long long cents = 0;
    if (!Read(where, kReadReceipt) || !Digits(7, 18, cents)) return 0.0;
    return static_cast<double>(cents) / 100.0;
  });
}

long CDaruma::GetZReportCounter() {
  const char* where = "CDaruma::GetZReportCounter";
  return guarded(*this, where, 0L, [&] {
    long long n = 0;
    if (!Read(where, kReadTotals) || !Digits(70, 4, n)) return 0L;
    intZReportCounter = static_cast<int>(n);
    return static_cast<long>(n);
  });
}

long CDaruma::GetRestartCounter() {
  const char* where = "CDaruma::GetRestartCounter";
  return guarded(*this, where, 0L, [&] {
    long long n = 0;
    if (!Read(where, kReadTotals) || !Digits(74, 4, n)) return 0L;
    intRestartCounter = static_cast<int>(n);
    return static_cast<long>(n);
  });
}

// The identity (236), the receipt read (239), the day's totals (240), the
// fiscal date (250), and the payment and title tables (238, 244).
BOOL CDaruma::ReadFiscalInformation() {
  const char* where = "CDaruma::ReadFiscalInformation";
  return guarded(*this, where, kFalse, [&] {
    const std::string bad = cp("Resposta inválida da impressora.");
    long long n = 0;
    if (!Read(where, kReadIdentity)) return kFalse;
    if (strReply.size() < 12 || !Digits(8, 4, n)) return refuse(*this, where, bad);
    strSerialNumber = strReply.substr(0, 8);
    intPrinterID = static_cast<int>(n);
    if (!Read(where, kReadReceipt)) return kFalse;
    long long coo = 0, gt = 0;
    if (!Digits(0, 6, coo) || !Digits(7, 18, gt)) return refuse(*this, where, bad);
    intFinalOperation = static_cast<int>(coo);
    nFinalGrandTotal = static_cast<double>(gt) / 100.0;
    if (!Read(where, kReadTotals)) return kFalse;
    long long v[7] = {};
    for (size_t i = 0; i < 5; ++i)
      if (!Digits(i * 14, 14, v[i])) return refuse(*this, where, bad);
    if (!Digits(70, 4, v[5]) || !Digits(74, 4, v[6])) return refuse(*this, where, bad);
    nSaleTotal = static_cast<double>(v[0]) / 100.0;
    nCancelTotal = static_cast<double>(v[1]) / 100.0;
    nDiscountTotal = static_cast<double>(v[2]) / 100.0;
    nIncreaseTotal = static_cast<double>(v[3]) / 100.0;
    intZReportCounter = static_cast<int>(v[5]);
    intRestartCounter = static_cast<int>(v[6]);
    nInitialGrandTotal = nFinalGrandTotal - (nSaleTotal - nCancelTotal - nDiscountTotal + nIncreaseTotal);
    if (!Read(where, kReadFiscal)) return kFalse;
    dtFiscalDate = stampValue(std::string_view(strReply).substr(0, 6));
    if (!LoadPaymentTypes(kTrue) || !LoadNonFiscalTitles()) return finish(*this, where, kFalse);
    return finish(*this, where, kTrue);
  });
}

}  // namespace tarvion
