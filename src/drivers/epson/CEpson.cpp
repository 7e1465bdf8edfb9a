// CEpson: construction, the exchange of one frame (ACK, the reply matched to
// its sequence byte, ACK back), the reply check and the register reads.
#include "drivers/epson/CEpson.h"

#include <algorithm>
#include <cstdlib>

#include "core/channel.h"
#include "core/exchange.h"
#include "core/text.h"

namespace tarvion {

using text::cp;
using text::format;

namespace {

// STX and ETX by name, other bytes outside the printable range as [XX].
std::string wireText(const uint8_t* data, size_t n) {
  std::string s;
  s.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    if (b == epson::kStx)
      s += "[STX]";
    else if (b == epson::kEtx)
      s += "[ETX]";
    else if (b < 0x20 || b > 0x7F)
      s += format("[%2.2X]", b);
    else
      s += static_cast<char>(b);
  }
  return s;
}

const char* const kInvalidReply = "Resposta inv\xE1lida da impressora.";

}  // namespace

CEpson::CEpson() {
  Log("CEpson::CEpson", cp("início"));
  Columns = 48;
  portProfile.logTag = "CEpson";
  Log("CEpson::CEpson", "Fim");
}

BOOL CEpson::CarregaTimeoutsPorta() {
  CECFBase::CarregaTimeoutsPorta();
  // A reply is over when its ETX and checksum arrive; the read time-out only
  // bounds a printer that stops half-way.
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = kReadConstantMs;
  return kTrue;
}

void CEpson::AddCommandBytes(uint8_t a, uint8_t b) {
  std::string s(arCommand.begin(), arCommand.end());
  epson::addCommandBytes(s, a, b);
  arCommand.assign(s.begin(), s.end());
}

void CEpson::AddField(const std::string& text) {
  arCommand.push_back(epson::kFs);
  arCommand.insert(arCommand.end(), text.begin(), text.end());
}

std::vector<std::string> CEpson::PrinterLines(const std::string& text) const {
  return epson::printerLines(text, Columns);
}

// Wire example, the status request as the first frame: 02 81 00 01 1C 00 00 03 "00A3"
Frame CEpson::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  const std::string frame =
      epson::buildFrame(nSequence, std::string_view(reinterpret_cast<const char*>(command.data()), command.size()),
                        std::string_view(reinterpret_cast<const char*>(parameters.data()), parameters.size()));
  nLastSequence = nSequence;
  nSequence = epson::nextSequence(nSequence);
  return std::make_unique<ByteArray>(frame.begin(), frame.end());
}

exchange::Verdict CEpson::JudgeFirst(exchange::First kind, uint8_t byte) {
  firstByte_ = -1;
  switch (kind) {
    case exchange::First::Nak:
      // The printer refused the frame as it came: nothing of it ran.
      strLastError = cp("Timeout enviando comando para a impressora.");
      return exchange::Verdict::Refused;
    case exchange::First::Data:
      firstByte_ = byte;  // a reply that came without its ACK
      return exchange::Verdict::Done;
    default:
      return CECFBase::JudgeFirst(kind, byte);
  }
}

// Reads until the frame that answers the last sequence byte is whole. Answers
// to earlier frames still on the line are skipped; the wait for ours is
// bounded by the answer time-out, and a reply that stops half-way is not read
// as one. The reply is acknowledged with ACK once it is whole.
BOOL CEpson::ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply) {
  if (!hPort) {
    SetSystemError();
    return kFalse;
  }
  Channel& port = *hPort;
  ByteArray got;
  if (firstByte_ >= 0) got.push_back(static_cast<uint8_t>(firstByte_));
  firstByte_ = -1;
  const exchange::Deadline deadline(x.Clock(), plan.answerMs);
  uint8_t buf[exchange::PortExchange::kReadChunk];
  for (;;) {
    size_t length = 0;
    const size_t at = epson::findReply(got.data(), got.size(), nLastSequence, length);
    if (at != std::string::npos && length) {
      if (Logging()) Log(format("CEpson::SendCommand{Leu=%s}", wireText(got.data(), got.size()).c_str()));
      reply.insert(reply.end(), got.begin() + static_cast<long>(at), got.begin() + static_cast<long>(at + length));
      const uint8_t ack = epson::kAck;
      size_t written = 0;
      if (!port.write(&ack, 1, written)) {
        SetSystemError();
        Log(format("CEpson::SendCommand{(WriteFile-2)Retorno=FALSE,strLastError=%s}", strLastError.c_str()));
        return kFalse;
      }
      return kTrue;
    }
    if (got.size() > plan.end.maxBytes) {
      strLastError = cp("Resposta da impressora maior que o tamanho máximo.");
      return kFalse;
    }
    LineStatus ls;
    if (!port.lineStatus(ls)) {
      SetSystemError();
      Log(format("CEpson::SendCommand{(7)Retorno=FALSE,strLastError=%s}", strLastError.c_str()));
      return kFalse;
    }
    const size_t want = std::min<size_t>(std::max<uint32_t>(ls.inQueue, 1u), sizeof buf);
    size_t n = 0;
    if (!port.read(buf, want, n)) {
      SetSystemError();
      Log(format("CEpson::SendCommand{(ReadFile-3)Retorno=FALSE,strLastError=%s}", strLastError.c_str()));
      return kFalse;
    }
    got.insert(got.end(), buf, buf + n);
    if (n > 0) continue;
    if (at != std::string::npos) {
      // Our reply began and the line went quiet before its end.
      strLastError = kInvalidReply;
      Log("CEpson::SendCommand", strLastError);
      return kFalse;
    }
    // Nothing of ours yet: wait for more, within the answer time-out.
    if (deadline.passed() || !x.Wait(static_cast<uint32_t>(deadline.leftMs()))) {
      strLastError = "Timeout aguardando resposta da impressora.";
      return kFalse;
    }
  }
}

BOOL CEpson::SendCommand(Frame command) {
  const char* where = "CEpson::SendCommand";
  try {
    if (!command) return kTrue;
    if (Logging()) Log(format("%s{%s}", where, wireText(command->data(), command->size()).c_str()));
    arReplyFields.assign(1, std::string());
    static constexpr exchange::FirstByteRules kFirst{"\x06", "\x15", ""};
    exchange::Plan plan;
    plan.where = where;
    // A command is written once: what an earlier frame may still have on its
    // way is drained before the write, never answered by sending it again.
    plan.drainWhenFresh = true;
    plan.line = exchange::LineRule::Cts;
    plan.first = &kFirst;
    plan.answerMs = static_cast<uint32_t>(nAnswerTimeout);
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(*command, plan, arAnswer, [&](const ByteArray&, size_t, int) {
      // A reply that is not a whole frame with its return code cannot say
      // whether the command ran.
      const std::string_view frame(reinterpret_cast<const char*>(arAnswer.data()), arAnswer.size());
      if (!epson::checksumMatches(frame) || epson::replyFields(frame).size() < 4) {
        strLastError = kInvalidReply;
        Log(where, strLastError);
        return exchange::Verdict::LineFault;
      }
      return JudgeStatus();
    });
    if (Logging()) Log(format("%s{Return=%s}", where, wireText(arAnswer.data(), arAnswer.size()).c_str()));
    Log(format("%s{Retorno=%s,strLastError=%s}", where, r.ok() ? "TRUE" : "FALSE", strLastError.c_str()));
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CEpson::CheckForSuccess() {
  strLastError.clear();
  arReplyFields = epson::replyFields(std::string_view(reinterpret_cast<const char*>(arAnswer.data()), arAnswer.size()));
  if (!epson::returnCode(arReplyFields, nErrorClass, nErrorDetail)) {
    strLastError = kInvalidReply;
    return kFalse;
  }
  if (nErrorClass == 0 && nErrorDetail == 0) return kTrue;
  strLastError = epson::errorText(nErrorClass, nErrorDetail);
  Log("CEpson::CheckForSuccess", format("%02X%02X - %s", nErrorClass, nErrorDetail, strLastError.c_str()));
  return kFalse;
}

BOOL CEpson::Command(uint8_t c1, uint8_t c2, uint8_t e1, uint8_t e2, std::initializer_list<std::string> fields) {
  ClearBuffers();
  AddCommandBytes(c1, c2);
  AddCommandBytes(e1, e2);
  for (const std::string& f : fields) AddField(f);
  return Submit();
}

// Wire example: 02 81 00 01 1C 00 00 03 "00A3"
BOOL CEpson::ECFOnline() {
  const char* where = "CEpson::ECFOnline";
  try {
    const BOOL ok = Command(0x00, 0x01, 0x00, 0x00);
    Log(where, ok ? "Retorno=TRUE" : "Retorno=FALSE");
    return ok;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

// ---------------------------------------------------------------- register reads

const std::string& CEpson::Field(size_t i) const {
  static const std::string kEmpty;
  return i < arReplyFields.size() ? arReplyFields[i] : kEmpty;
}

BOOL CEpson::ReadFields(const char* where, uint8_t c1, uint8_t c2, size_t n) {
  if (!Command(c1, c2, 0x00, 0x00)) return kFalse;
  if (arReplyFields.size() >= n) return kTrue;
  strLastError = kInvalidReply;
  Log(where, strLastError);
  return kFalse;
}

long CEpson::CounterField(size_t i) {
  return std::strtol(Field(i).c_str(), nullptr, 10);
}

double CEpson::TotalField(size_t i) {
  return std::strtod(Field(i).c_str(), nullptr) / 100.0;
}

// A date field ddmmyyyy and a time field hhmmss of a read; invalid when the
// read fails or the fields are not dates.
DateTime CEpson::DateField(const char* where, uint8_t c1, uint8_t c2, size_t date, size_t time) {
  if (!ReadFields(where, c1, c2, std::max(date, time) + 1)) return DateTime::invalid();
  const std::string& d = Field(date);
  const std::string t = time ? Field(time) : std::string("000000");
  if (d.size() != 8 || t.size() != 6 || !std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return DateTime::invalid();
  auto num = [](const std::string& s, size_t at, size_t len) { return std::atoi(s.substr(at, len).c_str()); };
  return DateTime::fromParts(num(d, 4, 4), num(d, 2, 2), num(d, 0, 2), num(t, 0, 2), num(t, 2, 2), num(t, 4, 2));
}

}  // namespace tarvion
