// CBematech: construction and the exchange of one command over a serial port or
// the Bematech USB device driver, the status bytes, the status probe, the set-up
// exchange and the document-sensor wait.
#include "drivers/bematech/CBematech.h"

#include <algorithm>

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

}  // namespace

CBematech::CBematech() {
  Log("CBematech::CBematech", cp("início"));
  TakeModelRow("CBematech");
  SendFullReport = kTrue;
  CanAuthenticateDocument = kTrue;
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
    const BOOL exchanged = nPortNumber >= 999 ? UsbExchange(*command) : SerialExchange(*command);
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

// The port's line state before a command: a printer that holds CTS is off or
// not connected.
BOOL CBematech::LineCheck(const char* where, bool logStep) {
  LineStatus ls;
  if (!hPort || !hPort->lineStatus(ls)) {
    if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
    SetSystemError();
    if (logStep)
      Log(where, format("ClearCommError - Erro = %s", strLastError.c_str()));
    else
      Log(where, "Retorno=FALSE");
    return kFalse;
  }
  if (ls.ctsHold && ls.dsrHold) {
    strLastError = cp("Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador.");
    if (logStep) Log(where, format("CTSHold && DSRHold - Erro = %s", strLastError.c_str()));
    return kFalse;
  }
  if (ls.ctsHold) {
    strLastError =
        cp("Erro de comunicação. Verifique se a impressora está ligada e o cabo está conectado corretamente.");
    if (logStep) Log(where, format("CTSHold && !DSRHold - Erro = %s", strLastError.c_str()));
    return kFalse;
  }
  return kTrue;
}

BOOL CBematech::WriteFrame(const ByteArray& frame, bool purge) {
  if (!hPort) {
    platform::setLastError(platform::kErrInvalidHandle);
    SetSystemError();
    return kFalse;
  }
  if (purge) hPort->purge(true, true);
  size_t written = 0;
  if (!hPort->write(frame.data(), frame.size(), written)) {
    SetSystemError();
    return kFalse;
  }
  if (written == 0) {
    strLastError = cp("Timeout gravando comando no buffer de impressão.");
    return kFalse;
  }
  return kTrue;
}

BOOL CBematech::SerialExchange(const ByteArray& frame) {
  if (!LineCheck("CBematech::SendCommand", false)) return kFalse;
  if (!WriteFrame(frame, true)) return kFalse;
  if (!WaitCommEvent()) return kFalse;
  uint8_t first = 0;
  size_t got = 0;
  if (!hPort->read(&first, 1, got)) {
    SetSystemError();
    return kFalse;
  }
  if (got == 1 && first == kNAK) {
    strLastError = "Timeout enviando comando para a impressora.";
    return kFalse;
  }
  if (!WaitCommEvent()) return kFalse;
  return ReadSerialReply(ExpectedReply());
}

// Reads the reply until the line goes idle: a read that returns nothing with an
// empty queue. When the command's reply length is known (expected, 0 when not)
// the read stops as soon as the reply is complete, unless more bytes are
// already waiting.
BOOL CBematech::ReadSerialReply(size_t expected) {
  uint8_t buf[256];
  for (;;) {
    LineStatus ls;
    if (!hPort->lineStatus(ls)) {
      SetSystemError();
      return kFalse;
    }
    size_t want = sizeof buf;
    if (expected > arAnswer.size()) want = std::min(want, expected - arAnswer.size());
    size_t got = 0;
    if (!hPort->read(buf, want, got)) {
      SetSystemError();
      return kFalse;
    }
    arAnswer.insert(arAnswer.end(), buf, buf + got);
    if (expected) {
      if (arAnswer.size() >= expected) {
        LineStatus after;
        if (!hPort->lineStatus(after)) {
          SetSystemError();
          return kFalse;
        }
        if (!after.rlsdHold && after.inQueue == 0) return kTrue;
        expected = 0;  // the printer says more than the layout: read on until idle
        continue;
      }
      // A short read already waited out the read time-out: the idle rule takes over.
      if (got < want) expected = 0;
    }
    if (!(ls.rlsdHold || ls.inQueue > 0 || got > 0)) return kTrue;
  }
}

BOOL CBematech::UsbExchange(const ByteArray& frame) {
  if (!WriteFrame(frame, true)) return kFalse;
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
  int64_t lastProgress = clock.nowMs();
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
      lastProgress = clock.nowMs();
      if (expected && arAnswer.size() >= expected) return kTrue;
    }
    // The device driver has no time limit of its own; a printer that stays silent
    // for the answer wait is reported like one on a serial port.
    if (clock.nowMs() - lastProgress >= nAnswerTimeout) {
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
    if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
    size_t written = 0;
    if (!hPort || !hPort->write(frame->data(), frame->size(), written)) {
      SetSystemError();
      Log(where, format("WriteFile - Erro = %s", strLastError.c_str()));
      return kFalse;
    }
    if (written == 0) {
      Log(where, format("WriteFile - dwBytesWritten = %li", static_cast<long>(written)));
      Log(where, cp("Não enviou comando"));
      return kFalse;
    }
    // The acknowledgement stays in the reply here: the probe only needs an answer.
    const size_t expected = bEndOnKnownLength ? 1 + StatusSize() : 0;
    if (!usb) {
      if (!WaitCommEvent(5000)) {
        Log(where, "WaitCommEvent(5000) - Erro = Timeout");
        return kFalse;
      }
      if (!ReadSerialReply(expected)) {
        Log(where, format("ReadFile - Erro = %s", strLastError.c_str()));
        return kFalse;
      }
    } else if (!ReadUsbReply(expected ? StatusSize() : 0)) {
      Log(where, format("DeviceIoControl - Erro = %s", strLastError.c_str()));
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

BOOL CBematech::GetCommState() {
  // Hardware handshake on CTS only: the printer drives CTS, DSR and DTR play no part.
  if (!hPort || !hPort->getSettings(dcb)) {
    if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
    SetSystemError();
    Log(format("CBematech::GetCommState - Handle = %li, Erro = %s", hPort ? hPort->handleValue() : -1L,
               strLastError.c_str()));
    return kFalse;
  }
  dcb.BaudRate = static_cast<uint32_t>(nBaudRate);
  dcb.ByteSize = static_cast<uint8_t>(nDataBits);
  dcb.Parity = static_cast<uint8_t>(nParity);
  if (nStopBits == 1) dcb.StopBits = kOneStopBit;
  if (nStopBits == 2) dcb.StopBits = kTwoStopBits;
  dcb.fBinary = 1;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fAbortOnError = 1;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fOutxDsrFlow = 0;
  dcb.fOutxCtsFlow = 1;
  dcb.fDtrControl = kDtrDisable;
  dcb.fRtsControl = kRtsHandshake;
  Log(format("CBematech::GetCommState - BoundRate=%i, DataBits=%i, StopBits=%i, Paridade=%i", nBaudRate, nDataBits,
             nStopBits, nParity));
  return kTrue;
}

BOOL CBematech::WaitCheckEvent() {
  return WaitDocument("CBematech::WaitCheckEvent", fmt::documentReady);
}

// Polls the document sensor until a document is in place or the wait runs out.
// It runs on the port's clock, so on the virtual wire the wait is simulated.
BOOL CBematech::WaitDocument(const char* where, bool (*ready)(uint8_t)) {
  try {
    platform::Clock& clock = PortClock();
    const int64_t deadline = clock.nowMs() + kCheckWaitMs;
    bool done = false;
    while (!done && clock.nowMs() < deadline) {
      ClearBuffers();
      AddCommandByte(cmd::ReadBlock);
      AddParameterByte('0');
      if (!Submit()) {
        // The poll gives up; the waiter sits out the rest of its time.
        clock.sleepMs(static_cast<uint32_t>(std::max<int64_t>(0, deadline - clock.nowMs())));
        break;
      }
      done = ready(arAnswer.empty() ? 0 : arAnswer[0]);
      clock.sleepMs(1);
    }
    if (done) return kTrue;
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
