// CFiscNET: construction, the exchange of one command over the serial port,
// the reply check, the online probe and the register reads.
#include "drivers/fiscnet/CFiscNET.h"

#include "core/exchange.h"
#include "core/text.h"

namespace tarvion {

using text::cp;
using text::format;

namespace {

// Printable bytes as themselves, the others as [XX], for the log.
std::string wireText(const uint8_t* data, size_t n) {
  std::string s;
  s.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    if (b < 0x20 || b > 0x7F)
      s += format("[%2.2X]", b);
    else
      s += static_cast<char>(b);
  }
  return s;
}

}  // namespace

CFiscNET::CFiscNET() {
  Log("CFiscNET::CFiscNET", cp("início"));
  Columns = 48;
  portProfile.logTag = "CFiscNET";
  Log("CFiscNET::CFiscNET", "Fim");
}

BOOL CFiscNET::CarregaTimeoutsPorta() {
  CECFBase::CarregaTimeoutsPorta();
  // A reply is over when its closing brace arrives; the read time-out only
  // bounds a printer that stops half-way.
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = nReadConstantMs;
  return kTrue;
}

void CFiscNET::AddNamedParameter(const std::string& nameValue) {
  AddParameterByte(arParameters.empty() ? ';' : ' ');
  AddParameterString(nameValue);
}

// Wire example, the first frame of the driver reading the COO:
//   request {0;LeInteiro;NomeInteiro="COO";30}      reply {0;0;ValorInteiro=17;21}
Frame CFiscNET::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  const std::string frame =
      fiscnet::buildFrame(nSequence, std::string_view(reinterpret_cast<const char*>(command.data()), command.size()),
                          std::string_view(reinterpret_cast<const char*>(parameters.data()), parameters.size()));
  nSequence = fiscnet::nextSequence(nSequence);
  return std::make_unique<ByteArray>(frame.begin(), frame.end());
}

BOOL CFiscNET::SendCommand(Frame command) {
  const char* where = "CFiscNET::SendCommand";
  try {
    if (!command) {
      Log(format("%s{return TRUE}", where));
      return kTrue;
    }
    if (Logging()) Log(format("%s{Write=%s}", where, wireText(command->data(), command->size()).c_str()));
    exchange::Plan plan;
    plan.where = where;
    // A command is written once: what an earlier frame may still have on its
    // way is drained before the write, never answered by sending it again.
    plan.drainWhenFresh = true;
    plan.answerMs = static_cast<uint32_t>(nAnswerTimeout);
    plan.end = exchange::ReplyEnd::withLengthField(&fiscnet::replyLength);
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(*command, plan, arAnswer, [&](const ByteArray&, size_t, int) {
      // A reply that is not a whole frame with its return code cannot say
      // whether the command ran. Its sequence number is not looked at.
      if (!ReplyReadable()) {
        strLastError = cp("Resposta inválida da impressora.");
        Log("CFiscNET::CheckForSuccess", strLastError);
        return exchange::Verdict::LineFault;
      }
      return JudgeStatus();
    });
    command.reset();
    if (Logging()) Log(format("%s{Read=%s}", where, wireText(arAnswer.data(), arAnswer.size()).c_str()));
    if (r.stoppedAt != exchange::Step::Judged) {
      // An answer that did not come in time may still be on its way: the
      // cycle leaves the line fresh, and the next command drains it first.
      Log(format("%s{(%s) return FALSE}", where, strLastError.c_str()));
    }
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

// A reply that starts as a frame and carries its whole return code. Its
// closing brace may be missing: the line went quiet after the code, and the
// code alone says what became of the command.
BOOL CFiscNET::ReplyReadable() const {
  if (arAnswer.empty() || arAnswer[0] != '{') return kFalse;
  int code = 0;
  return fiscnet::replyCode(std::string_view(reinterpret_cast<const char*>(arAnswer.data()), arAnswer.size()), code)
             ? kTrue
             : kFalse;
}

BOOL CFiscNET::CheckForSuccess() {
  if (arAnswer.empty()) {
    strLastError = "Timeout aguardando resposta da impressora.";
    return kFalse;
  }
  strReply.assign(arAnswer.begin(), arAnswer.end());
  strLastError.clear();
  int code = 0;
  if (!fiscnet::replyCode(strReply, code)) {
    // A reply without its return code cannot say the command was done.
    strLastError = cp("Resposta inválida da impressora.");
    Log("CFiscNET::CheckForSuccess", strLastError);
    return kFalse;
  }
  if (code == 0) return kTrue;
  strLastError = fiscnet::errorText(strReply, code);
  Log("CFiscNET::CheckForSuccess", format("%d - %s", code, strLastError.c_str()));
  return kFalse;
}

// Wire example, the probe (a read of the COO that only needs an answer):
//   request {5;LeInteiro;NomeInteiro="COO";30}      reply {5;0;ValorInteiro=17;21}
BOOL CFiscNET::ECFOnline() {
  const char* where = "CFiscNET::ECFOnline";
  try {
    ClearBuffers();
    AddCommandString("LeInteiro");
    AddNamedParameter("NomeInteiro=\"COO\"");
    Frame frame = BuildCommand(arCommand, arParameters);
    arCommand.clear();
    arParameters.clear();
    exchange::Plan plan;
    plan.where = where;
    plan.line = exchange::LineRule::CtsOrDsr;
    plan.nothingWritten = nullptr;
    plan.answerMs = 5000;
    plan.end = exchange::ReplyEnd::withLengthField(&fiscnet::replyLength);
    // The line stays fresh: what answered may have been a late reply, and the
    // next command's own check sorts that out.
    const BOOL fresh = bFreshLine;
    ByteArray answer;
    const exchange::Result r =
        ExchangeCommand(*frame, plan, answer, [](const ByteArray&, size_t, int) { return exchange::Verdict::Done; });
    bFreshLine = fresh;
    switch (r.stoppedAt) {
      case exchange::Step::Line:
        Log(where, strLastError);
        break;
      case exchange::Step::Write:
      case exchange::Step::WroteNothing:
        Log(where, "WriteFile - Retorno=FALSE");
        break;
      case exchange::Step::Wait:
        Log(where, "WaitCommEvent(5000) - Retorno=FALSE");
        break;
      default:
        break;
    }
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CFiscNET::Command(const char* name, std::initializer_list<std::string> params) {
  ClearBuffers();
  AddCommandString(name);
  for (const std::string& p : params) AddNamedParameter(p);
  return Submit();
}

void CFiscNET::Advance() {
  Command("AvancaPapel", {strPaperAdvance});
}

// ---------------------------------------------------------------- register reads

// A reply without its closing brace is read for its code; a value taken from
// it must be whole too, or a cut "ValorInteiro=1" of 17 would read as 1.
BOOL CFiscNET::ResultWhole(const char* name) {
  if (fiscnet::replyLength(arAnswer.data(), arAnswer.size()) != 0 || fiscnet::replyValueWhole(strReply, name))
    return kTrue;
  strLastError = cp("Resposta inválida da impressora.");
  Log("CFiscNET::CheckForSuccess", strLastError);
  // The read was written and its answer cannot be read; the rest of it may
  // still come, and the next command drains it first.
  lastOutcome = exchange::Outcome::MayHaveRun;
  bFreshLine = kTrue;
  return kFalse;
}

BOOL CFiscNET::ReadInteger(const std::string& name, long& out) {
  if (!Command("LeInteiro", {"NomeInteiro=\"" + name + "\""})) return kFalse;
  if (!ResultWhole("ValorInteiro")) return kFalse;
  out = fiscnet::replyInteger(strReply, "ValorInteiro");
  return kTrue;
}

BOOL CFiscNET::ReadIndicator(const std::string& name, BOOL& out) {
  if (!Command("LeIndicador", {"NomeIndicador=\"" + name + "\""})) return kFalse;
  if (!ResultWhole("ValorNumericoIndicador")) return kFalse;
  out = fiscnet::replyInteger(strReply, "ValorNumericoIndicador") == 1 ? kTrue : kFalse;
  return kTrue;
}

BOOL CFiscNET::ReadMoney(const std::string& name, double& out) {
  if (!Command("LeMoeda", {"NomeDadoMonetario=\"" + name + "\""})) return kFalse;
  if (!ResultWhole("ValorMoeda")) return kFalse;
  out = fiscnet::replyMoney(strReply, "ValorMoeda");
  return kTrue;
}

BOOL CFiscNET::ReadText(const std::string& name, std::string& out) {
  if (!Command("LeTexto", {"NomeTexto=\"" + name + "\""})) return kFalse;
  if (!ResultWhole("ValorTexto")) return kFalse;
  out = fiscnet::replyText(strReply, "ValorTexto");
  return kTrue;
}

BOOL CFiscNET::ReadDate(const std::string& name, DateTime& out) {
  const char* where = "CFiscNET::ReadDate";
  Log(where, "strVariable=" + name);
  if (!Command("LeData", {"NomeData=\"" + name + "\""}) || !ResultWhole("ValorData")) {
    Log(where, "Retorno=FALSE");
    return kFalse;
  }
  DateParts p;
  out =
      fiscnet::replyDate(strReply, "ValorData", p) ? DateTime::fromParts(p.year, p.month, p.day) : DateTime::invalid();
  Log(where, format("Data=%d/%d/%d %d:%d:%d", p.day, p.month, p.year, p.hour, p.minute, p.second));
  Log(where, "Retorno=TRUE");
  return kTrue;
}

BOOL CFiscNET::ReadTime(const std::string& name, DateParts& out) {
  const char* where = "CFiscNET::ReadTime";
  Log(where, "strVariable=" + name);
  if (!Command("LeHora", {"NomeHora=\"" + name + "\""}) || !ResultWhole("ValorHora")) {
    Log(where, "Retorno=FALSE");
    return kFalse;
  }
  DateParts p;
  p.hour = p.minute = p.second = -1;
  fiscnet::replyTime(strReply, "ValorHora", p);
  out.hour = p.hour;
  out.minute = p.minute;
  out.second = p.second;
  Log(where, format("Data=%d/%d/%d %d:%d:%d", p.day, p.month, p.year, p.hour, p.minute, p.second));
  Log(where, "Retorno=TRUE");
  return kTrue;
}

}  // namespace tarvion
