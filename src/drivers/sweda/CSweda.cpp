// CSweda: the exchange with its three reading modes, the reply check and the
// operations.
#include "drivers/sweda/CSweda.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/exchange.h"
#include "drivers/sweda/sweda_ops.h"
#include "platform/prompt.h"

namespace tarvion {

using exchange::Verdict;
using text::cp;
using text::format;
using namespace sweda;

namespace {

std::string left(const std::string& s, size_t width) {
  std::string out = s.size() > width ? s.substr(0, width) : s;
  out.resize(width, ' ');
  return out;
}

// The CMC-7 line of a ".+49...}" or ".+51...}" reply, at most 125 bytes of
// it, without the reader's separators and blanks.
std::string checkLine(const ByteArray& reply) {
  std::string out;
  if (reply.size() < 5) return out;
  const std::string raw(reply.begin() + 4, reply.begin() + static_cast<long>(std::min<size_t>(reply.size() - 1, 129)));
  for (char ch : raw)
    if (ch != '=' && ch != '^' && ch != '/' && ch != ' ') out += ch;
  return out;
}

// Reads one reply up to its closing brace.
BOOL readBraced(exchange::PortExchange& x, ByteArray& out, uint32_t waitMs) {
  if (!x.Wait(waitMs)) return kFalse;
  exchange::ReplyEnd end = exchange::ReplyEnd::endingWith("}");
  end.readOnIfMore = false;
  end.maxBytes = 4096;
  return x.ReadReply(out, end);
}

}  // namespace

CSweda::CSweda() {
  portProfile.logTag = "CSweda";
}

BOOL CSweda::CarregaTimeoutsPorta() {
  CECFBase::CarregaTimeoutsPorta();
  // A reply is over at its closing brace; the read time-out only bounds a
  // printer that stops half-way, and the drain of a fresh line.
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 100;
  return kTrue;
}

void CSweda::ClearBuffers() {
  CECFBase::ClearBuffers();
  nMultiPart = 0;
  nDocumentWait = 0;
  nBusyPoll = 1;
}

// Wire example, CancelaCupomFiscal:  1B 2E 30 35 7D
Frame CSweda::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  return std::make_unique<ByteArray>(
      buildClassicFrame(std::string_view(reinterpret_cast<const char*>(command.data()), command.size()),
                        std::string_view(reinterpret_cast<const char*>(parameters.data()), parameters.size())));
}

BOOL CSweda::Status(exchange::PortExchange& x, ByteArray& out) {
  out.clear();
  if (x.Write(classicStatusRequest(), exchange::Purge::None) != exchange::Written::Ok) return kFalse;
  return readBraced(x, out, 5000) && out.size() >= 3;
}

// The status shows no document: the operator is asked to put one in, and
// Cancel gives up before the command is written.
BOOL CSweda::WaitForDocument(exchange::PortExchange& x) {
  for (;;) {
    ByteArray status;
    if (!Status(x, status)) return kFalse;
    if (!classicNoDocument(status)) return kTrue;
    if (platform::ask(platform::PromptKind::OkCancel, cp("Atenção"), "Insira o documento na impressora.") !=
        platform::PromptAnswer::Ok) {
      strLastError = cp("Operação cancelada pelo usuário.");
      return kFalse;
    }
  }
}

BOOL CSweda::SendCommand(Frame command) {
  const char* where = "CSweda::SendCommand";
  try {
    if (!command) return kTrue;
    const ByteArray frame = std::move(*command);
    command.reset();
    Log(where, ReadableBytes(&frame));
    if (nDocumentWait) {
      exchange::PortExchange x(*this);
      if (x.CheckLine(true) != exchange::LineFault::None) return kFalse;
      if (!WaitForDocument(x)) {
        lastOutcome = exchange::Outcome::NotWritten;
        Log(where, strLastError);
        return kFalse;
      }
    }
    exchange::Plan plan;
    plan.where = where;
    plan.line = exchange::LineRule::CtsOrDsr;
    // A read that changes nothing need not wait for a fresh line to go quiet:
    // its reply names its command, so one left over from before is told apart
    // and the read is asked once more after the line is drained.
    const bool read = !nMultiPart && !nDocumentWait && classicRead(frame);
    plan.drainWhenFresh = !read;
    if (read) plan.policy = exchange::RetryPolicy::tries(2).on(Verdict::Resync, 0);
    plan.answerMs = static_cast<uint32_t>(nAnswerTimeout);
    plan.end = exchange::ReplyEnd::endingWith("}");
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(frame, plan, arAnswer, [&](const ByteArray& reply, size_t, int) {
      if (read && bFreshLine && !classicAnswers(frame, reply)) return Verdict::Resync;
      // A reply that is not one whole ".x...}" cannot say what became of the command.
      if (reply.size() < 3 || reply[0] != '.' || reply.back() != '}') {
        strLastError = cp("Resposta inválida da impressora.");
        return Verdict::LineFault;
      }
      return JudgeStatus();
    });
    if (!r.ok()) Log(where, strLastError);
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

// The reply, then the parts of a report when it comes in parts, then the
// printer's status until it is no longer busy. Every loop is bounded.
BOOL CSweda::ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply) {
  if (!nMultiPart) {
    if (!x.ReadReply(reply, plan.end)) return kFalse;
  } else {
    strReport.clear();
    for (bool first = true;; first = false) {
      // The first part was waited for already; each later one answers a request.
      if (!first && !x.Wait(plan.answerMs)) return kFalse;
      ByteArray piece;
      exchange::ReplyEnd end = exchange::ReplyEnd::endingWith("}");
      end.readOnIfMore = false;
      end.maxBytes = 4096;
      if (!x.ReadReply(piece, end)) return kFalse;
      if (classicReportEnd(piece)) break;
      if (piece.size() < 5 || piece[4] != '+') {
        // A refusal (or anything else) ends the report: it alone is judged,
        // so a report cut by an error does not pass for a whole one.
        reply = std::move(piece);
        break;
      }
      reply.insert(reply.end(), piece.begin(), piece.end());
      // ".+13+text}": the text of this part.
      strReport.append(piece.begin() + 5, piece.end() - 1);
      if (reply.size() > kMaxReport) {
        strLastError = cp("Resposta da impressora maior que o tamanho máximo.");
        return kFalse;
      }
      if (x.Write(classicContinuation(), exchange::Purge::None) != exchange::Written::Ok) return kFalse;
    }
  }
  if (!nBusyPoll) return kTrue;
  exchange::PollPolicy policy;
  policy.timeoutMs = static_cast<uint32_t>(nAnswerTimeout);
  policy.intervalMs = kPollMs;
  const exchange::PollEnd end = exchange::pollUntil(x.Clock(), policy, [&] {
    ByteArray status;
    if (x.CheckLine(true) != exchange::LineFault::None) return exchange::Poll::GiveUp;
    if (!Status(x, status)) return exchange::Poll::GiveUp;
    return classicBusy(status) ? exchange::Poll::NotYet : exchange::Poll::Ready;
  });
  if (end != exchange::PollEnd::Ready) {
    strLastError = cp("A impressora não respondeu ao pedido de estado.");
    return kFalse;
  }
  return kTrue;
}

BOOL CSweda::CheckForSuccess() {
  if (arAnswer.empty()) {
    strLastError = cp("A impressora não retornou nenhuma informação.");
    return kFalse;
  }
  strLastError.clear();
  const ByteArray& r = arAnswer;
  if (classicSuccess(r, nMultiPart != 0)) return kTrue;
  strLastError = classicErrorText(r);
  Log("CSweda::CheckForSuccess", strLastError);
  return kFalse;
}

BOOL CSweda::Command(const char* code, const std::string& params) {
  const int multi = nMultiPart, document = nDocumentWait, busy = nBusyPoll;
  ClearBuffers();
  nMultiPart = multi;
  nDocumentWait = document;
  nBusyPoll = busy;
  AddCommandString(code);
  AddParameterString(params);
  const BOOL ok = Submit();
  nMultiPart = 0;
  nDocumentWait = 0;
  nBusyPoll = 1;
  return ok;
}

// Wire example:  1B 2E "28" 7D      reply  ".+28041226093000NN}"
BOOL CSweda::ECFOnline() {
  nBusyPoll = 0;
  return Command("28");
}

// Wire example:  1B 2E "17" 7D
BOOL CSweda::AbreCupomFiscal() {
  const char* where = "CSweda::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (IsLowPaper())
      return refuse(*this, where, cp("A impressora está com pouco papel. Não será possível abrir o cupom."));
    return finish(*this, where, Command("17"));
  });
}

// Wire example:
//   1B 2E "01" "789          " "0002000" "000000250" "000000000500" "ARROZ                   " "T01" 7D
BOOL CSweda::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                const std::string&, double nAliquota, double nQuantidade, double nValorUnitario,
                                double nValorDesconto) {
  const char* where = "CSweda::RegistraItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    bErroRegistroDescontoItem = kFalse;
    std::string tax;
    if (nAliquota == 0)
      tax = "I  ";
    else if (nAliquota == -1)
      tax = "F  ";
    else if (nAliquota == -2)
      tax = "N  ";
    else {
      std::string wanted = fields::printfFixed(nAliquota, 5, 2);
      for (char& ch : wanted)
        if (ch == '.') ch = ',';
      for (size_t i = 0; i < arTaxes.size(); ++i)
        if (arTaxes[i].size() > 1 && arTaxes[i].substr(1) == wanted) tax = format("%c%02d", arTaxes[i][0], int(i + 1));
      if (tax.empty())
        return refuse(
            *this, where,
            cp(format("Alíquota de %s%% não cadastrada na impressora.", fields::printfFixed(nAliquota, 5, 2).c_str())));
    }
    fields::Checked num;
    const std::string qty = num(nQuantidade, field::kClassicQuantity) + "000";
    const std::string price = num(nValorUnitario, field::kClassicPrice);
    const std::string total = num(nQuantidade * nValorUnitario, field::kClassicTotal);
    const std::string off = nValorDesconto != 0 ? num(std::fabs(nValorDesconto), field::kClassicTotal) : std::string();
    if (!num.ok()) return refuse(*this, where, num.error());
    nBusyPoll = 0;
    if (!Command("01", left(oneLine(strCodigoProduto), 13) + qty + price + total +
                           left(FormatPrinterText(oneLine(strDescricaoProduto)), 24) + tax))
      return finish(*this, where, kFalse);
    strLastItemCode = strCodigoProduto;
    strLastItemDescription = strDescricaoProduto;
    if (!off.empty() && !Command("02", "0000 " + left("DESCONTO", 10) + off)) {
      bErroRegistroDescontoItem = kTrue;
      return finish(*this, where, kFalse);
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example:  1B 2E "04" "003" 7D
BOOL CSweda::CancelaItemFiscal(long intItem, const std::string&, double, double, double, double) {
  const char* where = "CSweda::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string item = num(intItem, field::kClassicItem);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("04", item));
  });
}

// Wire example:  1B 2E "03" "0000 DESCONTO  000000000150S" 7D
BOOL CSweda::TotalizaCupomFiscalDesconto(double nDesconto, double) {
  const char* where = "CSweda::TotalizaCupomFiscalDesconto";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string v = num(nDesconto, field::kClassicTotal);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("03", "0000 " + left("DESCONTO", 10) + v + "S"));
  });
}

// Wire example:  1B 2E "11" "51000000000000150S" 7D
BOOL CSweda::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double) {
  const char* where = "CSweda::TotalizaCupomFiscalAcrescimo";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string v = num(nAcrescimo, field::kClassicIncrease);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("11", "510000" + v + "S"));
  });
}

// Wire example:  1B 2E "10" "01000000001000" 7D
BOOL CSweda::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CSweda::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return refuse(*this, where, strLastError);
    fields::Checked num;
    const std::string position = num(index + 1, field::kIndex);
    const std::string v = num(nValorPagamento, field::kClassicTotal);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("10", position + v));
  });
}

// Wire example:  1B 2E "12" "SNN0" 7D
BOOL CSweda::FechaCupomFiscal(const std::string&, double) {
  const char* where = "CSweda::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("12", "SNN0")); });
}

// Wire example:  1B 2E 30 35 7D
BOOL CSweda::CancelaCupomFiscal() {
  const char* where = "CSweda::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("05")); });
}

// Wire example:  1B 2E "19" "01 CARTAO              " "000000001000" 7D
BOOL CSweda::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento, const std::string&) {
  const char* where = "CSweda::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return refuse(*this, where, strLastError);
    fields::Checked num;
    const std::string position = num(index + 1, field::kIndex);
    const std::string v = num(nValorPagamento, field::kClassicTotal);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("19", position + " " + left(oneLine(strPaymentType), 20) + v));
  });
}

// Wire example:  1B 2E "08" "TEXTO" 7D
BOOL CSweda::EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) {
  const char* where = "CSweda::EnviaTextoComprovanteVinculado";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, Command("08", FormatPrinterText(lines(strTextoComprovante)))); });
}

BOOL CSweda::FechaComprovanteVinculado() {
  const char* where = "CSweda::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("12", "NNN0")); });
}

// Wire example:  1B 2E "13" "S" 7D
BOOL CSweda::AbreRelatorioGerencial() {
  const char* where = "CSweda::AbreRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("13", "S")); });
}

BOOL CSweda::ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) {
  const char* where = "CSweda::ImprimeRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    nBusyPoll = 0;
    return finish(*this, where, Command("08", FormatPrinterText(lines(strTextoRelatorio))));
  });
}

BOOL CSweda::FechaRelatorioGerencial() {
  const char* where = "CSweda::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    nBusyPoll = 0;
    return finish(*this, where, Command("12", "NNN0"));
  });
}

// Wire example:  1B 2E "07" "02000000000500 " "<title, 40 wide>" 7D, then payment and closing
BOOL CSweda::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) {
  const char* where = "CSweda::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    const int payment = PaymentTypeIndex(strPaymentType);
    if (payment < 0) return refuse(*this, where, strLastError);
    fields::Checked num;
    const std::string title = num(intTitle, field::kIndex);
    const std::string v = num(nValor, field::kClassicTotal);
    const std::string position = num(payment + 1, field::kIndex);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command("07", title + v + " " + left("", 40))) return finish(*this, where, kFalse);
    if (!Command("10", position + v)) return finish(*this, where, kFalse);
    return finish(*this, where, Command("12", "SNN0"));
  });
}

// The title by its name, then as ComprovanteNaoFiscalNaoVinculado.
BOOL CSweda::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CSweda::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    const int title = NonFiscalTitlesIndex(strTitle);
    if (title < 0) return refuse(*this, where, strLastError);
    return ComprovanteNaoFiscalNaoVinculado(title, nValue, strPaymentType);
  });
}

// Wire example:  1B 2E "13" "N" 7D
BOOL CSweda::LeituraX() {
  const char* where = "CSweda::LeituraX";
  return guarded(*this, where, kFalse, [&] {
    nBusyPoll = 0;
    return finish(*this, where, Command("13", "N"));
  });
}

BOOL CSweda::SerialReport(const char* where, const char* code, const std::string& params, std::string& out) {
  nMultiPart = 1;
  strReport.clear();
  const BOOL ok = Command(code, params);
  if (ok) out = strReport;
  return finish(*this, where, ok);
}

// Wire example:  1B 2E "13" "X" 7D, answered in parts ".+13+text}" until ".]}"
BOOL CSweda::LeituraXSerial(std::string& strLeitura) {
  const char* where = "CSweda::LeituraXSerial";
  return guarded(*this, where, kFalse, [&] { return SerialReport(where, "13", "X", strLeitura); });
}

// Wire example:  1B 2E "14" "N041226093000" 7D
BOOL CSweda::ReducaoZ(DateTime dtReducao) {
  const char* where = "CSweda::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    if (!dtReducao.valid() || dtReducao.automationDate() == 0) dtReducao = DateTime::now();
    nBusyPoll = 0;
    return finish(*this, where, Command("14", "N" + dateText(dtReducao, "%d%m%y%H%M%S")));
  });
}

// Wire example:  1B 2E "16" "011226041226" 7D
BOOL CSweda::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL) {
  const char* where = "CSweda::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where, Command("16", dateText(dtInicial, "%d%m%y") + dateText(dtFinal, "%d%m%y")));
  });
}

BOOL CSweda::LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura, BOOL) {
  const char* where = "CSweda::LeituraMemoriaFiscalSerial";
  return guarded(*this, where, kFalse, [&] {
    return SerialReport(where, "16", dateText(dtInicial, "%d%m%y") + dateText(dtFinal, "%d%m%y") + "X", strLeitura);
  });
}

// Wire example:  1B 2E "15" "00010003" 7D
BOOL CSweda::LeituraMFReducao(long intInicial, long intFinal, BOOL) {
  const char* where = "CSweda::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = num(intInicial, field::kReduction), b = num(intFinal, field::kReduction);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("15", a + b));
  });
}

BOOL CSweda::LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL) {
  const char* where = "CSweda::LeituraMFSerialReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = num(intInicial, field::kReduction), b = num(intFinal, field::kReduction);
    if (!num.ok()) return refuse(*this, where, num.error());
    return SerialReport(where, "15", a + b + "X", strLeitura);
  });
}

BOOL CSweda::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CSweda::MudaHorarioVerao";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("36", bHabilita ? "S" : "N")); });
}

BOOL CSweda::OpenCashDrawer() {
  const char* where = "CSweda::OpenCashDrawer";
  return guarded(*this, where, kFalse, [&] {
    nBusyPoll = 0;
    return finish(*this, where, Command("21"));
  });
}

// ".+28" ddmmyyhhmmss, summer time 'S'/'N', receipt open 'S'/'N', '}'.
BOOL CSweda::ReadDateTime(DateTime& dtOut) {
  const char* where = "CSweda::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    nBusyPoll = 0;
    if (!Command("28") || arAnswer.size() < 19) return finish(*this, where, kFalse);
    const std::string s(arAnswer.begin() + 4, arAnswer.end());
    auto n = [&](size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
    dtOut = DateTime::fromParts(2000 + n(4), n(2), n(0), n(6), n(8), n(10));
    return finish(*this, where, dtOut.valid() ? kTrue : kFalse);
  });
}

BOOL CSweda::VerificaHorarioVerao(BOOL& bOut) {
  nBusyPoll = 0;
  if (!Command("28") || arAnswer.size() < 19) return kFalse;
  bOut = arAnswer[16] == 'S' ? kTrue : kFalse;
  return kTrue;
}

BOOL CSweda::CupomFiscalAberto(BOOL& bOut) {
  const char* where = "CSweda::CupomFiscalAberto";
  return guarded(*this, where, kFalse, [&] {
    nBusyPoll = 0;
    if (!Command("28") || arAnswer.size() < 19) return finish(*this, where, kFalse);
    bOut = arAnswer[17] == 'S' ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

// The status reply ".+" and six state bytes: the paper's is the fifth of them.
BOOL CSweda::IsLowPaper() {
  nBusyPoll = 0;
  if (!Command("23") || arAnswer.size() < 9) return kFalse;
  return arAnswer[6] != '0' ? kTrue : kFalse;
}

BOOL CSweda::IsDocumentInserted() {
  nBusyPoll = 0;
  if (!Command("23")) return kFalse;
  return classicNoDocument(arAnswer) ? kFalse : kTrue;
}

// Wire example:  1B 2E "39" "CHEQUE         S" 7D
BOOL CSweda::AdicionaFormaPagamento(const std::string& strPaymentType) {
  const char* where = "CSweda::AdicionaFormaPagamento";
  return guarded(*this, where, kFalse, [&] {
    for (const std::string& p : arPaymentTypes)
      if (text::upper(text::trimRight(p)) == text::upper(text::trimRight(strPaymentType)))
        return refuse(*this, where, cp("Forma de pagamento já cadastrada na impressora."));
    return finish(*this, where, Command("39", left(oneLine(strPaymentType), 15) + "S"));
  });
}

BOOL CSweda::RedefineFormasPagamento(const std::vector<std::string>& arNames) {
  const char* where = "CSweda::RedefineFormasPagamento";
  return guarded(*this, where, kFalse, [&] {
    std::string names;
    for (const std::string& n : arNames) names += left(oneLine(n), 15);
    nBusyPoll = 0;
    return finish(*this, where, Command("39", names + "S"));
  });
}

// The titles are read back afterwards, so the driver's list follows what the
// printer now holds.
BOOL CSweda::ResetNonFiscalTitles() {
  const char* where = "CSweda::ResetNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    if (!Command("38",
                 "N&DESPESAS      -SANGRIA       -SUPRIMENTO    -VALE          -DESPESAS      &RECEBIMENTOS  "
                 "+PAGAMENTO VALE+TROCO        "))
      return finish(*this, where, kFalse);
    return finish(*this, where, LoadNonFiscalTitles());
  });
}

// Wire example:  1B 2E "29" "3" 7D      reply  ".+29|T1800|S0500}"
BOOL CSweda::ReadTable(const char* which, std::vector<std::string>& out) {
  nBusyPoll = 0;
  if (!Command("29", which)) return kFalse;
  out.clear();
  std::string cur;
  bool open = false;
  for (size_t i = 4; i + 1 < arAnswer.size(); ++i) {
    const char ch = static_cast<char>(arAnswer[i]);
    if (ch == '|') {
      if (open) out.push_back(cur);
      cur.clear();
      open = true;
    } else if (open) {
      cur += ch;
    }
  }
  if (open) out.push_back(cur);
  return kTrue;
}

BOOL CSweda::LoadTaxes() {
  const char* where = "CSweda::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadTable("3", f)) return finish(*this, where, kFalse);
    arTaxes.clear();
    for (const std::string& t : f)
      if (t.size() >= 5) arTaxes.push_back(t.substr(0, 1) + t.substr(1, 2) + "," + t.substr(3, 2));
    return finish(*this, where, kTrue);
  });
}

BOOL CSweda::LoadPaymentTypes(BOOL) {
  const char* where = "CSweda::LoadPaymentTypes";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadTable("4", f)) return finish(*this, where, kFalse);
    arPaymentTypes.clear();
    for (const std::string& n : f) arPaymentTypes.push_back(text::trimRight(n));
    arPaymentValues.assign(arPaymentTypes.size(), 0.0);
    return finish(*this, where, kTrue);
  });
}

BOOL CSweda::LoadNonFiscalTitles() {
  const char* where = "CSweda::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadTable("5", f)) return finish(*this, where, kFalse);
    arNonFiscalTitles.clear();
    for (size_t i = 0; i < f.size(); ++i) {
      const std::string& t = f[i];
      arNonFiscalTitles.push_back(format("%02d,%c,", int(i + 1), t.empty() ? '+' : t[0]) +
                                  (t.size() > 1 ? text::trimRight(t.substr(1)) : std::string()));
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example:  1B 2E "27" "1" 7D      reply  ".+27000042}"
BOOL CSweda::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CSweda::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    nBusyPoll = 0;
    if (!Command("27", "1") || arAnswer.size() < 6) return finish(*this, where, kFalse);
    strNumeroCupom.assign(arAnswer.begin() + 4, arAnswer.end() - 1);
    return finish(*this, where, kTrue);
  });
}

// Wire example:  1B 2E "27" "3" 7D      reply  ".+270004}"
BOOL CSweda::ReadRegister(const char* which, std::string& out) {
  if (!Command("27", which) || arAnswer.size() < 5) return kFalse;
  out.assign(arAnswer.begin() + 4, arAnswer.end() - 1);
  return kTrue;
}

// A counter register: digits only; -1 with the reason in strLastError.
long CSweda::Counter(const char* which) {
  return guarded(*this, "CSweda::Counter", -1L, [&] {
    std::string v;
    if (!ReadRegister(which, v)) return -1L;
    int64_t n = 0;
    if (!classicDigits(v, n)) {
      strLastError = cp("Resposta inválida da impressora.");
      return -1L;
    }
    return static_cast<long>(n);
  });
}

long CSweda::GetOperationCounter() {
  return Counter("1");
}
long CSweda::GetZReportCounter() {
  return Counter("3");
}
long CSweda::GetRestartCounter() {
  return Counter("6");
}
long CSweda::GetFiscalReceiptCounter() {
  return Counter("7");
}

// The grand total register holds hundredths.
double CSweda::GetFinalGrandTotal() {
  return guarded(*this, "CSweda::GetFinalGrandTotal", 0.0, [&] {
    std::string v;
    int64_t cents = 0;
    if (!ReadRegister("F", v) || !classicDigits(v, cents)) return 0.0;
    return static_cast<double>(cents) / 100.0;
  });
}

BOOL CSweda::ReadSerialNumber(std::string& strOut) {
  const char* where = "CSweda::ReadSerialNumber";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    if (!ReadRegister("G", v)) return finish(*this, where, kFalse);
    strOut = strSerialNumber = text::trim(v);
    return finish(*this, where, kTrue);
  });
}

// The grand total the fiscal memory holds for the user: the one written by
// the last reduction, read from that reduction's record over the line. No
// reduction yet: 0.
double CSweda::GetUserGrandTotal() {
  const char* where = "CSweda::GetUserGrandTotal";
  return guarded(*this, where, 0.0, [&] {
    const long last = GetZReportCounter();
    if (last <= 0) return 0.0;
    fields::Checked num;
    const std::string z = num(last, field::kReduction);
    if (!num.ok()) return 0.0;
    nMultiPart = 1;
    strReport.clear();
    if (!Command("15", z + z + "X")) return 0.0;
    double total = 0;
    if (!reportGrandTotal(strReport, total)) {
      strLastError = cp("Resposta inválida da impressora.");
      return 0.0;
    }
    Log(where, format("Retorno=%s", fields::printfFixed(total, 0, 2).c_str()));
    return total;
  });
}

// ---------------------------------------------------------------- checks

// Wire example:  1B 2E "49" 7D      reply  ".+49<cmc7>}"
BOOL CSweda::ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) {
  const char* where = "CSweda::ReadCheck";
  return guarded(*this, where, kFalse, [&] {
    nDocumentWait = 1;
    if (!Command("49") || arAnswer.size() < 5) return finish(*this, where, kFalse);
    strCheckInfo = checkLine(arAnswer);
    if (!bKeepCheck && !Command("25")) return finish(*this, where, kFalse);
    return finish(*this, where, kTrue);
  });
}

// Wire example:  1B 2E "24" "000000001000 " "<text, 120 wide>" "2" "04122026" 7D
BOOL CSweda::PrintCheck(double nValue, const std::string& strBankNumber) {
  const char* where = "CSweda::PrintCheck";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string v = num(nValue, field::kClassicTotal);
    if (!num.ok()) return refuse(*this, where, num.error());
    nDocumentWait = 1;
    return finish(
        *this, where,
        Command("24", v + " " + left(oneLine(strBankNumber), 120) + "2" + dateText(DateTime::now(), "%d%m%Y")));
  });
}

// Wire example:  1B 2E "51" "N000000001000N" "<text, 120 wide>" "2" "04122026" 7D
//   reply  ".+51<cmc7>}"
BOOL CSweda::ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) {
  const char* where = "CSweda::ReadAndPrintCheck";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string v = num(nValue, field::kClassicTotal);
    if (!num.ok()) return refuse(*this, where, num.error());
    // The check is read and printed in the station: it must be there first.
    nDocumentWait = 1;
    if (!Command("51", "N" + v + "N" + left(FormatPrinterText(oneLine(strBankNumber)), 120) + "2" +
                           dateText(DateTime::now(), "%d%m%Y")))
      return finish(*this, where, kFalse);
    strCheckInfo = checkLine(arAnswer);
    Log(where, "strCheckInfo=" + strCheckInfo);
    return finish(*this, where, kTrue);
  });
}

// Wire example:  1B 2E "44" "<80>" "<30>" "<20>" "<20>" 7D
BOOL CSweda::SetCheckConfiguration(const std::string& strSingleCurrency, const std::string& strMultipleCurrency,
                                   const std::string& strCheckLocal, const std::string& strCheckCarrier, DateTime,
                                   DateTime) {
  const char* where = "CSweda::SetCheckConfiguration";
  return guarded(*this, where, kFalse, [&] {
    auto f = [&](const std::string& s, size_t width) { return left(FormatPrinterText(oneLine(s)), width); };
    return finish(*this, where,
                  Command("44", f(strSingleCurrency, 80) + f(strMultipleCurrency, 30) + f(strCheckLocal, 20) +
                                    f(strCheckCarrier, 20)));
  });
}

BOOL CSweda::ReleaseCheck() {
  const char* where = "CSweda::ReleaseCheck";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("25")); });
}

}  // namespace tarvion
