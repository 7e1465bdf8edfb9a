// CBematech: construction and the exchange of one command over a serial port or
// the Bematech USB device driver, the status bytes, the status probe, the set-up
// exchange and the document-sensor wait.
#include "drivers/bematech/CBematech.h"

#include <algorithm>

#include "core/exchange.h"
#include "core/fields.h"
#include "core/text.h"

namespace tarvion {

using namespace bematech;
using text::cp;
using text::format;

namespace {

// Control requests of the Bematech USB device driver.
constexpr uint32_t kUsbRead = 0x80942032;
constexpr uint32_t kUsbSetup = 0x80942024;
constexpr uint32_t kUsbMode = 0x80942078;
// Errors of the read request: the printer stopped answering...
constexpr uint32_t kUsbErrTimeout1 = 0xE000100A, kUsbErrTimeout2 = 0xE0000005, kUsbErrTimeout3 = 0xE0001102;
// ...and the driver being busy for a moment: ask again at once.
constexpr uint32_t kUsbErrBusy1 = 0xE0000008, kUsbErrBusy2 = 0xE000100C;
// Asking again at once has to end somewhere: after this many busy answers in a
// row the loop pauses like after any other chunk, so the answer wait still counts.
constexpr int kUsbBusyRepeats = 100;
constexpr uint32_t kUsbPauseMs = 30;
// The device driver's answer while the printer is still working.
const ByteArray kUsbIdle{'B', 'E', 'M', 'A', 'A', 'M', 'E', 'B'};

// The read request: 20 bytes whose meaning belongs to the device driver.
ByteArray usbReadRequest() {
  ByteArray r(20, 0);
  r[2] = 0x01;  // 0x00010000, little-endian
  r[4] = 0x01;  // 1
  r[13] = 0x81;
  return r;
}

constexpr uint32_t kCheckWaitMs = 120000;

// An answer that does not start or end as the protocol says.
constexpr const char* kUnreadableReply = "Resposta inválida da impressora.";

// The device interface class of the family's USB device driver.
constexpr const char* kUsbInterfaceClass = "{325DDF96-938C-11D3-9E34-0080C82727F4}";

// The answer starts with ACK, or NAK for a refused frame; the printer has no busy byte.
const exchange::FirstByteRules kFirstByte{"\x06", "\x15", ""};

// Hardware handshake on CTS only: the printer drives CTS, DSR and DTR play no part.
PortProfile bematechPort() {
  PortProfile p;
  p.logTag = "CBematech";
  p.announce = false;
  p.fDsrSensitivity = 0;
  p.fOutxDsrFlow = 0;
  p.fOutxCtsFlow = 1;
  p.fDtrControl = kDtrDisable;
  p.fRtsControl = kRtsHandshake;
  return p;
}

}  // namespace

CBematech::CBematech() {
  Log("CBematech::CBematech", cp("início"));
  Columns = 48;
  usbInterfaceClass = InterfaceClass::parse(kUsbInterfaceClass);
  SendFullReport = kTrue;
  CanAuthenticateDocument = kTrue;
  portProfile = bematechPort();
  Log("CBematech::CBematech", "Fim");
}

void CBematech::ClearBuffers() {
  // Every command waits for the printer to release CTS unless it says otherwise.
  bCheckCTS = kTrue;
  CECFBase::ClearBuffers();
}

// Wire example, CBematech reading the firmware version (35/1):
//   request 02 05 00 1B 23 01 3F 00      reply 06 03 10 00 00 (ACK, 03 10, ST1 ST2)
Frame CBematech::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  return std::make_unique<ByteArray>(buildFrame(nPrefix, command, parameters));
}

std::string CBematech::OversizedCommand() const {
  // N counts the prefix, the command, the parameters and the checksum in 16 bits.
  const size_t room = 0xFFFF - 3 - arCommand.size();
  if (arParameters.size() <= room) return {};
  const uint8_t code = arCommand.empty() ? 0 : arCommand[0];
  const char* name = code == cmd::Report || code == cmd::LinkedText ? "Texto"
                     : code == cmd::CloseReceipt                    ? "Mensagem promocional"
                                                                    : "Parâmetros do comando";
  return fields::textTooLong(cp(name), arParameters.size(), room);
}

size_t CBematech::ExpectedReply() const {
  if (!bEndOnKnownLength) return 0;
  return fmt::replyLength(arCommand, arParameters, FsPrefix()).value_or(0);
}

// ---------------------------------------------------------------- the exchange

BOOL CBematech::SendCommand(Frame command) {
  const char* where = "CBematech::SendCommand";
  if (!command) return kTrue;
  try {
    if (Logging()) Log(format("%s{%s}", where, text::hexDump(command->data(), command->size()).c_str()));
    const bool usb = nPortNumber >= 999;
    exchange::Plan plan;
    plan.where = where;
    // A command is written once: what an earlier frame may still have on its
    // way is drained before the write, never answered by sending it again.
    plan.drainWhenFresh = true;
    plan.line = usb ? exchange::LineRule::None : exchange::LineRule::Cts;
    plan.answerMs = static_cast<uint32_t>(nAnswerTimeout);
    plan.first = usb ? nullptr : &kFirstByte;
    plan.end = exchange::ReplyEnd::ofLength(ExpectedReply());
    // The reply buffer keeps what earlier commands left until ClearBuffers.
    const exchange::Result r =
        ExchangeCommand(*command, plan, arAnswer, [&](const ByteArray& reply, size_t start, int) {
          // A reply of another shape is not this command's answer: its status
          // bytes say nothing, and the command may have run all the same.
          if (!ReplyFits(reply.size() - start)) {
            strLastError = cp(kUnreadableReply);
            return exchange::Verdict::LineFault;
          }
          return JudgeStatus();
        });
    command.reset();
    const BOOL result = r.ok() ? kTrue : kFalse;
    if (Logging()) {
      Log(format("%s{Return=%s}", where, text::hexDump(arAnswer.data(), arAnswer.size()).c_str()));
      Log(format("%s{Retorno=%s,strLastError=%s}", where, boolText(result), result ? "" : strLastError.c_str()));
    }
    return result;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

exchange::Verdict CBematech::JudgeFirst(exchange::First kind, uint8_t byte) {
  if (kind == exchange::First::Nak) {
    strLastError = "Timeout enviando comando para a impressora.";
    return exchange::Verdict::Refused;
  }
  // An answer that does not start with the acknowledgement is not one: the
  // bytes after it are no status to decode, and the command may have run.
  if (kind == exchange::First::Data) {
    strLastError = cp(kUnreadableReply);
    return exchange::Verdict::LineFault;
  }
  // The acknowledgement is not part of the reply.
  return CECFBase::JudgeFirst(kind, byte);
}

BOOL CBematech::AwaitAnswer(exchange::PortExchange& x, uint32_t timeoutMs) {
  if (nPortNumber >= 999) return kTrue;  // the device driver's read waits by itself
  return CECFBase::AwaitAnswer(x, timeoutMs);
}

BOOL CBematech::ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply) {
  if (nPortNumber >= 999) return ReadUsbReply(plan.end.length);
  return CECFBase::ReadAnswer(x, plan, reply);
}

// A reply that can be the answer to the pending command: at least its status
// bytes. A longer one keeps every byte; a read answered shorter than its
// layout is still read by its status (a printer that refuses a read may send
// the status alone, and some send a shorter serial number).
bool CBematech::ReplyFits(size_t size) const {
  return size >= StatusSize();
}

// The port's line state before a command: a printer that holds CTS is off or
// not connected.
BOOL CBematech::LineCheck(const char* where, bool logStep) {
  exchange::PortExchange x(*this);
  switch (x.CheckLine()) {
    case exchange::LineFault::None:
      return kTrue;
    case exchange::LineFault::StatusFailed:
      if (logStep)
        Log(where, format("ClearCommError - Erro = %s", strLastError.c_str()));
      else
        Log(where, "Retorno=FALSE");
      return kFalse;
    case exchange::LineFault::CableOut:
      if (logStep) Log(where, format("CTSHold && DSRHold - Erro = %s", strLastError.c_str()));
      return kFalse;
    case exchange::LineFault::PrinterOff:
      if (logStep) Log(where, format("CTSHold && !DSRHold - Erro = %s", strLastError.c_str()));
      return kFalse;
  }
  return kFalse;
}

// Reads the reply in 8-byte chunks through the device driver. "BEMAAMEB" after
// data ends the reply; before any data it means the printer is still working.
// The first byte of the reply is the acknowledgement and is left out.
BOOL CBematech::ReadUsbReply(size_t expected) {
  if (!hPort) {
    platform::setLastError(platform::kErrInvalidHandle);
    SetSystemError();
    return kFalse;
  }
  const ByteArray request = usbReadRequest();
  platform::Clock& clock = hPort->clock();
  // The device driver has no time limit of its own; a printer that stays silent
  // for the answer wait is reported like one on a serial port.
  exchange::Deadline silence(clock, nAnswerTimeout);
  bool started = false;
  int busy = 0;
  ByteArray out;
  for (;;) {
    out.clear();
    if (!hPort->deviceControl(kUsbRead, request, out, 8)) {
      const auto code = static_cast<uint32_t>(platform::lastError());
      if (code == kUsbErrTimeout1 || code == kUsbErrTimeout2 || code == kUsbErrTimeout3) {
        strLastError = "Timeout lendo status da impressora.";
        return kFalse;
      }
      if ((code == kUsbErrBusy1 || code == kUsbErrBusy2) && ++busy < kUsbBusyRepeats) continue;
      // Any other failure is taken as an empty answer.
    }
    busy = 0;
    if (out == kUsbIdle) {
      if (!arAnswer.empty()) return kTrue;
    } else if (!out.empty()) {
      auto from = out.begin();
      if (!started && *from == kACK) ++from;
      started = true;
      arAnswer.insert(arAnswer.end(), from, out.end());
      silence.restart(nAnswerTimeout);
      if (expected && arAnswer.size() >= expected) return kTrue;
    }
    if (silence.passed()) {
      strLastError = "Timeout aguardando resposta da impressora.";
      return kFalse;
    }
    clock.sleepMs(kUsbPauseMs);
  }
}

// ---------------------------------------------------------------- status

BOOL CBematech::CheckForSuccess() {
  const uint8_t c = arCommand.empty() ? 0xFF : arCommand[0];
  const Status s = statusOf(arAnswer, c, FsPrefix());
  // Every reply ends with ST1: its two paper bits are the sensors now.
  if (arAnswer.size() >= (FsPrefix() ? 4u : 2u))
    paperSense = {true, (s.st1 & st1::NearPaperEnd) != 0, (s.st1 & st1::PaperOut) != 0};
  strLastError = statusText(s);
  const bool ok = statusOk(s);
  if (!ok) Log("CBematech::CheckForSuccess", strLastError);
  return ok ? kTrue : kFalse;
}

void CBematech::AppendSt3(St3Table table) {
  if (arAnswer.size() < 2) return;
  strLastError += st3Text(table, st3Of(arAnswer));
}

// ---------------------------------------------------------------- probe and set-up

// Wire example, the status probe (command 19):
//   request 02 04 00 1B 13 2E 00      reply 06 00 00 (ACK, ST1, ST2)
BOOL CBematech::ECFOnline() {
  const char* where = "CBematech::ECFOnline";
  try {
    ClearBuffers();
    AddCommandByte(cmd::Status);
    const bool usb = nPortNumber >= 999;
    if (!usb && !LineCheck(where, true)) return kFalse;
    Frame frame = BuildCommand(arCommand, arParameters);
    // Sent here rather than through Submit: nothing may send this command again.
    arCommand.clear();
    Log(where, "Vai enviar pedido de status");
    // The acknowledgement stays in the reply here: the probe only needs an answer.
    const size_t expected = usb ? StatusSize() : 1 + StatusSize();
    exchange::Plan plan;
    plan.where = where;
    plan.policy = exchange::RetryPolicy::tries(2).on(exchange::Verdict::Resync, 0);
    plan.line = exchange::LineRule::None;  // checked above, with its own log lines
    // Only what came in before the probe is thrown away: a command still on
    // its way out is left alone.
    plan.purge = usb ? exchange::Purge::None : exchange::Purge::Receive;
    plan.nothingWritten = nullptr;
    plan.answerMs = 5000;
    plan.end = exchange::ReplyEnd::ofLength(bEndOnKnownLength ? expected : 0);
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(*frame, plan, arAnswer, [&](const ByteArray& reply, size_t, int) {
      const bool fits = reply.size() == expected && (usb || reply[0] == kACK);
      return bFreshLine && !fits ? exchange::Verdict::Resync : exchange::Verdict::Done;
    });
    if (!r.ok()) {
      switch (r.stoppedAt) {
        case exchange::Step::Write:
          Log(where, format("WriteFile - Erro = %s", strLastError.c_str()));
          break;
        case exchange::Step::WroteNothing:
          Log(where, format("WriteFile - dwBytesWritten = %li", 0L));
          Log(where, cp("Não enviou comando"));
          break;
        case exchange::Step::Wait:
          Log(where, "WaitCommEvent(5000) - Erro = Timeout");
          break;
        case exchange::Step::Read:
          Log(where, format(usb ? "DeviceIoControl - Erro = %s" : "ReadFile - Erro = %s", strLastError.c_str()));
          break;
        default:
          break;
      }
      return kFalse;
    }
    return CECFBase::ECFOnline();
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CBematech::InitialConfiguration() {
  const char* where = "CBematech::InitialConfiguration";
  try {
    if (nPortNumber == 999) {
      // Puts the USB device driver into the mode the read request expects.
      ByteArray setup(260, 0);
      setup[2] = 0x01;
      setup[9] = 0x10;  // 0x1000, little-endian from byte 8
      ByteArray none;
      if (!hPort || !hPort->deviceControl(kUsbSetup, setup, none, 0)) return kFalse;
      if (!hPort->deviceControl(kUsbMode, ByteArray{2}, none, 0)) return kFalse;
    }
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddParameterByte(sub::Firmware);
    const BOOL result = Submit();
    if (result && arAnswer.size() >= 2) {
      nFirmware = static_cast<double>(fmt::hexDigitsValue(arAnswer.data(), 2)) / 100.0;
      Log(where, "nFirmware=" + fmt::logNumber(nFirmware));
    }
    return result;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CBematech::ContinueComm() {
  try {
    if (!CECFBase::ContinueComm()) return kFalse;
    return InitialConfiguration();
  } catch (...) {
    RecordError("CBematech::ContinueComm", cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CBematech::WaitCheckEvent() {
  return WaitDocument("CBematech::WaitCheckEvent", fmt::documentReady);
}

// Polls the document sensor until a document is in place or the wait runs out.
// It runs on the port's clock, so on the virtual wire the wait is simulated. A
// refused poll ends the polling, and the waiter sits out the rest of its time.
BOOL CBematech::WaitDocument(const char* where, bool (*ready)(uint8_t)) {
  try {
    exchange::PollPolicy policy;
    policy.timeoutMs = kCheckWaitMs;
    policy.intervalMs = 1;
    policy.sitOutOnGiveUp = true;
    const exchange::PollEnd end = exchange::pollUntil(PortClock(), policy, [&] {
      ClearBuffers();
      AddCommandByte(cmd::ReadBlock);
      AddParameterByte('0');
      if (!Submit()) return exchange::Poll::GiveUp;
      return ready(arAnswer.empty() ? 0 : arAnswer[0]) ? exchange::Poll::Ready : exchange::Poll::NotYet;
    });
    if (end == exchange::PollEnd::Ready) return kTrue;
    strLastError = "Timeout aguardando resposta da impressora.";
    Log(where, "Retorno=FALSE");
    return kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CBematech::SubmitToIdle() {
  // Restored on every path: the next command may again end on its known length.
  struct Restore {
    BOOL& flag;
    BOOL kept;
    ~Restore() { flag = kept; }
  } restore{bEndOnKnownLength, bEndOnKnownLength};
  bEndOnKnownLength = kFalse;
  return Submit();
}

}  // namespace tarvion
