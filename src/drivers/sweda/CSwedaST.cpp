// CSwedaST: construction, the frame, the exchange with its attempts and the
// reply loop, and the reply check.
#include "drivers/sweda/CSwedaST.h"

#include <algorithm>

#include "core/exchange.h"
#include "core/text.h"

namespace tarvion {

using exchange::Verdict;
using text::cp;
using text::format;

namespace {

std::string wireText(const ByteArray& f) {
  std::string s;
  for (uint8_t b : f) {
    if (b == sweda::kSTX)
      s += "[STX]";
    else if (b == sweda::kETX)
      s += "[ETX]";
    else if (b < 0x20 || b > 0x7F)
      s += format("[%2.2X]", b);
    else
      s += static_cast<char>(b);
  }
  return s;
}

const exchange::FirstByteRules kFirst{"", "\x15", ""};

}  // namespace

CSwedaST::CSwedaST() {
  Columns = 48;
  portProfile.logTag = "CSwedaST";
}

BOOL CSwedaST::CarregaTimeoutsPorta() {
  CECFBase::CarregaTimeoutsPorta();
  // The reply loop reads in short slices and keeps its own clock.
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = nBaudRate <= 38400 ? 60 : 30;
  return kTrue;
}

void CSwedaST::ClearBuffers() {
  CECFBase::ClearBuffers();
  nMultiReply = 0;
}

void CSwedaST::AddParameter(const std::string& text) {
  AddParameterByte('|');
  AddParameterString(text);
}

// Wire example, LeituraX as the first command:  02 2B "15" 03 96
Frame CSwedaST::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  const std::string_view code(reinterpret_cast<const char*>(command.data()), command.size());
  const std::string_view params(reinterpret_cast<const char*>(parameters.data()), parameters.size());
  auto frame = std::make_unique<ByteArray>(sweda::buildFrame(nSequence, code, params));
  nSequence = sweda::nextSequence(nSequence);
  return frame;
}

BOOL CSwedaST::SendCommand(Frame command) {
  if (!command) {
    Log("CSwedaST::SendCommand", "return TRUE");
    return kTrue;
  }
  if (nMultiReply) return SendCommandSerialComm(std::move(command));
  return Exchange(std::move(command), false);
}

BOOL CSwedaST::SendCommandSerialComm(Frame command) {
  if (!command) return kTrue;
  return Exchange(std::move(command), true);
}

BOOL CSwedaST::Exchange(Frame command, bool multi) {
  tag_ = multi ? "CSwedaST::SendCommandSerialComm" : "CSwedaST::SendCommand";
  try {
    const ByteArray frame = std::move(*command);
    command.reset();
    if (Logging()) Log(format("%s{%s}", tag_, wireText(frame).c_str()));
    frameSequence_ = frame.size() > 1 ? frame[1] : 0;
    exchange::Plan plan;
    plan.where = tag_;
    plan.line = exchange::LineRule::CtsOrDsr;
    plan.first = &kFirst;
    plan.answerMs = kFirstByteMs;
    // A register read changes nothing and its reply names its command: on a
    // fresh line it need not wait for the line to go quiet first; a reply
    // left from before is told by its code, and the read asked once more.
    const bool read = !multi && frame.size() > 3 && frame[2] == '3' && frame[3] == '4';
    plan.drainWhenFresh = !read;
    if (read) plan.policy = exchange::RetryPolicy::tries(2).on(Verdict::Resync, 0);
    // The printer knows a repeated frame by its sequence byte and answers it
    // without running it again: an attempt that lost its acknowledgement or
    // its reply sends the very same bytes.
    const int attempts = DisablePrintBuffer ? 1 : kAttempts;
    bool mayHaveRun = false;
    exchange::Result r;
    for (int attempt = 1;; ++attempt) {
      retryPause_ = 0;
      bool notRun = false;
      arAnswer.clear();
      r = ExchangeCommand(frame, plan, arAnswer, [&](const ByteArray& reply, size_t start, int) {
        if (read && bFreshLine && reply.size() - start >= 5 && (reply[start + 2] != '3' || reply[start + 3] != '4'))
          return Verdict::Resync;
        if (reply.size() - start < 5) {
          Log(format("%s{Sem retorno no final da fun\xE7\xE3o.}", tag_));
          strLastError = cp("A impressora não retornou informação suficiente.");
          retryPause_ = kPauseMs;
          return Verdict::AskAgain;
        }
        const ByteArray expanded = sweda::expandRuns(arAnswer);
        if (sweda::replyStatus(expanded) == '-' && sweda::replyCode(expanded) == sweda::kCommunicationFailure) {
          // The printer did not take the frame whole and ran nothing.
          strLastError = sweda::errorText(sweda::kCommunicationFailure);
          bCommunicationFailure = 1;
          retryPause_ = kPauseMs;
          notRun = true;
          return Verdict::AskAgain;
        }
        return JudgeStatus();
      });
      if (r.stoppedAt == exchange::Step::Write)
        strLastError += cp("\nNão foi possível efetuar a gravação na porta serial.");
      if (r.ok()) break;
      if (r.outcome() == exchange::Outcome::MayHaveRun && !notRun) mayHaveRun = true;
      if (!retryPause_ || attempt >= attempts) break;
      PortClock().sleepMs(retryPause_);
    }
    // A frame that may have run in an earlier attempt is not made harmless by
    // a later refusal of its repeat.
    if (!r.ok() && mayHaveRun) lastOutcome = exchange::Outcome::MayHaveRun;
    if (!r.ok() && r.outcome() == exchange::Outcome::MayHaveRun && !mayHaveRun)
      lastOutcome = exchange::Outcome::Refused;
    if (multi) {
      strReport.clear();
      for (const ByteArray& part : replies_)
        for (const std::string& f : sweda::replyFields(sweda::expandRuns(part))) strReport += f;
    }
    if (!r.ok()) Log(format("%s{(%s) return FALSE}", tag_, strLastError.c_str()));
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(tag_, cp("Erro desconhecido."));
    return kFalse;
  }
}

Verdict CSwedaST::JudgeFirst(exchange::First kind, uint8_t) {
  switch (kind) {
    case exchange::First::Failed:
      Log(format("%s{Timeout na primeira leitura do buffer.}", tag_));
      retryPause_ = kPauseMs;
      return Verdict::AskAgain;
    case exchange::First::Nothing:
      Log(format("%s{Timeout na leitura do retorno.}", tag_));
      retryPause_ = kPauseMs;
      return Verdict::AskAgain;
    case exchange::First::Nak:
      Log(format("%s{Recebeu NAK}", tag_));
      strLastError = cp("Timeout enviando comando para a impressora.");
      retryPause_ = kNakPauseMs;
      return Verdict::Refused;
    default:
      return Verdict::Done;  // any other byte acknowledges the frame
  }
}

BOOL CSwedaST::AwaitAnswer(exchange::PortExchange& x, uint32_t) {
  if (x.Wait(kReplyMs)) return kTrue;
  Log(format("%s{Timeout na segunda leitura do buffer.}", tag_));
  retryPause_ = kPauseMs;
  return kFalse;
}

// Reads replies until one says '+' or '-' for this frame: each whole reply
// with a good check is acknowledged, a damaged one is refused with NAK (the
// printer sends it again), a '!' reply is a status while the printer works.
BOOL CSwedaST::ReadAnswer(exchange::PortExchange& x, const exchange::Plan&, ByteArray& reply) {
  replies_.clear();
  if (!hPort) {
    SetSystemError();
    return kFalse;
  }
  Channel& port = *hPort;
  platform::Clock& clock = x.Clock();
  const exchange::Deadline loop(clock, kReplyLoopMs);
  exchange::Deadline quiet(clock, kQuietMs);
  ByteArray buf;
  uint8_t chunk[512];
  auto fail = [&](const char* what) {
    SetSystemError();
    strLastError += '\n';
    strLastError += cp(what);
    return kFalse;
  };
  auto answer = [&](uint8_t b, const char* what) {
    size_t n = 0;
    if (!port.write(&b, 1, n) || n != 1) return fail(what);
    return kTrue;
  };
  // A line that answers every NAK with another damaged reply, or a printer
  // that only ever says '!', ends the loop by count too: on a line that takes
  // no time per byte the clock alone would never end it.
  int naks = 0;
  size_t frames = 0;
  while (!loop.passed() && naks < kMaxRepliesRefused && frames < kMaxRepliesRead) {
    LineStatus ls;
    if (!port.lineStatus(ls)) return fail("Não foi possível verificar o estado da porta serial na leitura.");
    // What is queued, or one byte to wait for: a read never sits out its
    // time-out for bytes the printer is not sending.
    const size_t want = std::min<size_t>(sizeof chunk, std::max<uint32_t>(1, ls.inQueue));
    size_t got = 0;
    if (!port.read(chunk, want, got)) return fail("Não foi possível efetuar a leitura do resultado.");
    if (got == 0) {
      if (quiet.passed()) break;
      continue;
    }
    quiet.restart(kQuietMs);
    for (size_t i = 0; i < got; ++i) {
      const uint8_t b = chunk[i];
      // STX starts a reply, unless it is the check byte after an ETX.
      if (b == sweda::kSTX && (buf.size() < 3 || buf.back() != sweda::kETX)) buf.clear();
      buf.push_back(b);
      if (buf.size() > 4096) buf.clear();  // no reply is that long: noise
      if (!sweda::candidateComplete(buf) || buf.size() < 3) continue;
      ++frames;
      if (!sweda::replyCheckOk(buf)) {
        if (buf[0] == sweda::kSTX) {
          if (!answer(sweda::kNAK, "")) return kFalse;
          ++naks;
        }
        buf.clear();
        continue;
      }
      naks = 0;
      ByteArray whole;
      whole.swap(buf);
      // A reply for another frame (a late one for an earlier command) is not
      // this command's answer.
      if (whole.size() < 5 || whole[1] != frameSequence_) continue;
      if (!answer(sweda::kACK, "Não foi possível gravar o ACK.")) return kFalse;
      const uint8_t status = whole[4];
      if (status != '+' && status != '-' && status != '!') continue;
      replies_.push_back(whole);
      if (status == '+' || status == '-') {
        reply.insert(reply.end(), whole.begin(), whole.end());
        return kTrue;
      }
    }
  }
  // The loop ran out: the last status the printer gave stands for its answer.
  if (!replies_.empty()) reply.insert(reply.end(), replies_.back().begin(), replies_.back().end());
  return kTrue;
}

BOOL CSwedaST::CheckForSuccess() {
  bCommunicationFailure = 0;
  if (arAnswer.empty()) {
    strLastError = cp("A impressora não retornou nenhuma informação.");
    return kFalse;
  }
  const ByteArray r = sweda::expandRuns(arAnswer);
  if (r.size() < 5) {
    strLastError = cp("A impressora não retornou informação suficiente.");
    return kFalse;
  }
  if (r[4] != '-') return kTrue;
  const int code = sweda::replyCode(r);
  strLastError = sweda::errorText(code);
  if (code == sweda::kCommunicationFailure) bCommunicationFailure = 1;
  Log("CSwedaST::CheckForSuccess", format("%d - %s", code, strLastError.c_str()));
  return kFalse;
}

BOOL CSwedaST::Command(const char* code, std::initializer_list<std::string> params) {
  ClearBuffers();
  AddCommandString(code);
  for (const std::string& p : params) AddParameter(p);
  return Submit();
}

BOOL CSwedaST::ReadRegister(const std::string& name, std::vector<std::string>& out) {
  if (!Command("34", {name})) return kFalse;
  out = sweda::replyFields(sweda::expandRuns(arAnswer));
  if (out.empty()) {
    strLastError = cp("Resposta inválida da impressora.");
    return kFalse;
  }
  return kTrue;
}

// Wire example, the status register:  02 2B "34|H2" 03 chk
BOOL CSwedaST::ECFOnline() {
  std::vector<std::string> f;
  return ReadRegister("H2", f);
}

}  // namespace tarvion
