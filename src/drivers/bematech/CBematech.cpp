// CBematech: construction and the exchange of one command over a serial port or
// the Bematech USB device driver, the status bytes, the status probe, the set-up
// exchange and the document-sensor wait.
#include "drivers/bematech/CBematech.h"

#include <algorithm>

#include "core/exchange.h"
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
  TakeModelRow("CBematech");
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
    // The reply buffer keeps what earlier commands left until ClearBuffers; a
    // command asked again replaces only its own reply.
    const size_t base = arAnswer.size();
    uint8_t first = kACK;
    exchange::PortExchange x(*this);
    const BOOL exchanged = x.Guarded(
        where,
        [&] {
          arAnswer.resize(base);
          return usb ? UsbExchange(*command) : SerialExchange(*command, first);
        },
        [&] { return ReplyFits(first, arAnswer.size() - base); });
    BOOL result = kFalse;
    if (exchanged) {
      result = CECFBase::SendCommand(std::move(command));
    } else {
      command.reset();
    }
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

// A reply that is the answer to the pending command: acknowledged, and as long
// as the command's layout says when the layout fixes it.
bool CBematech::ReplyFits(uint8_t first, size_t size) const {
  if (first != kACK) return false;
  const size_t fixed = fmt::replyLength(arCommand, arParameters, FsPrefix()).value_or(0);
  return fixed == 0 || size == fixed;
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

BOOL CBematech::SerialExchange(const ByteArray& frame, uint8_t& first) {
  if (!LineCheck("CBematech::SendCommand", false)) return kFalse;
  exchange::PortExchange x(*this);
  if (x.Write(frame, exchange::Purge::Both) != exchange::Written::Ok) return kFalse;
  const auto timeout = static_cast<uint32_t>(nAnswerTimeout);
  first = kACK;
  switch (x.AwaitFirst(timeout, kFirstByte, first)) {
    case exchange::First::Failed:
      return kFalse;
    case exchange::First::Nak:
      strLastError = "Timeout enviando comando para a impressora.";
      return kFalse;
    default:
      break;  // the acknowledgement, or whatever came in its place, is dropped
  }
  if (!x.Wait(timeout)) return kFalse;
  return x.ReadReply(arAnswer, exchange::ReplyEnd::ofLength(ExpectedReply()));
}

BOOL CBematech::UsbExchange(const ByteArray& frame) {
  exchange::PortExchange x(*this);
  if (x.Write(frame, exchange::Purge::Both) != exchange::Written::Ok) return kFalse;
  return ReadUsbReply(ExpectedReply());
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
    exchange::PortExchange x(*this);
    // The acknowledgement stays in the reply here: the probe only needs an answer.
    const size_t expected = 1 + StatusSize();
    auto probe = [&]() -> BOOL {
      arAnswer.clear();
      // Only what came in before the probe is thrown away: a command still on
      // its way out is left alone.
      switch (x.Write(*frame, usb ? exchange::Purge::None : exchange::Purge::Receive, nullptr)) {
        case exchange::Written::Ok:
          break;
        case exchange::Written::Failed:
          Log(where, format("WriteFile - Erro = %s", strLastError.c_str()));
          return kFalse;
        case exchange::Written::Nothing:
          Log(where, format("WriteFile - dwBytesWritten = %li", 0L));
          Log(where, cp("Não enviou comando"));
          return kFalse;
      }
      if (!usb) {
        if (!x.Wait(5000)) {
          Log(where, "WaitCommEvent(5000) - Erro = Timeout");
          return kFalse;
        }
        if (!x.ReadReply(arAnswer, exchange::ReplyEnd::ofLength(bEndOnKnownLength ? expected : 0))) {
          Log(where, format("ReadFile - Erro = %s", strLastError.c_str()));
          return kFalse;
        }
      } else if (!ReadUsbReply(bEndOnKnownLength ? StatusSize() : 0)) {
        Log(where, format("DeviceIoControl - Erro = %s", strLastError.c_str()));
        return kFalse;
      }
      return kTrue;
    };
    auto fits = [&] {
      if (usb) return arAnswer.size() == StatusSize();
      return arAnswer.size() == expected && arAnswer[0] == kACK;
    };
    if (!x.Guarded(where, probe, fits)) return kFalse;
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
