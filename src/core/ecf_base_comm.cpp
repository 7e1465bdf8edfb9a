// The driver side of the serial channel: opening, configuring, releasing and
// re-taking the port, and the wait for the first byte of an answer.
#include "core/ecf_base.h"
#include "core/text.h"

namespace tarvion {

using text::cp;
using text::format;

platform::Clock& CECFBase::PortClock() {
  if (hPort) return hPort->clock();
  return ports::clockFor(nPortNumber);
}

void CECFBase::SetSystemError() {
  int code = platform::lastError();
  std::string message;
  if (code == platform::kErrFileNotFound || code == platform::kErrInvalidHandle || code == platform::kErrAlreadyExists)
    message = cp("Falha na comunicação com o ECF.");
  else
    message = platform::systemErrorText(code);
  // The port layer may know more than the code: the device's group, the program holding it.
  if (std::string detail = platform::lastErrorDetail(); !detail.empty()) message += ": " + detail;
  strLastError = format("(%d)%s", code, message.c_str());
}

static long handleOf(const ChannelPtr& p) {
  return p ? p->handleValue() : -1;
}

// Opens the COM port of nPortNumber; logs under OpenComm's or ContinueComm's lines.
BOOL CECFBase::OpenPortHandle(bool forContinue, int attempt) {
  std::string name = ports::serialName(nPortNumber);
  hPort = ports::openSerial(nPortNumber, name);
  if (forContinue)
    LogBuffered("CECFBase::ContinueComm",
                format("CreateFile - %s, Handle = %li, Tentativa=%d", name.c_str(), handleOf(hPort), attempt));
  else
    Log(format("CECFBase::OpenComm{CreateFile - %s, Handle = %li}", name.c_str(), handleOf(hPort)));
  return hPort ? kTrue : kFalse;
}

// Finds the first present USB device of the driver's interface class and opens it.
BOOL CECFBase::OpenUsbHandle(const char* where, bool continueStyle) {
  std::vector<std::string> paths = ports::findUsb(nPortNumber, usbInterfaceClass);
  Log("CECFBase::OpenComm{Procurando porta...}");
  for (size_t i = 0; i < paths.size() && i < 10; ++i) {
    hPort = ports::openUsb(nPortNumber, paths[i]);
    Log(format("CECFBase::OpenComm{CreateFile - %s, Handle = %li}", paths[i].c_str(), handleOf(hPort)));
    if (hPort) return kTrue;
  }
  // Devices that exist but cannot be opened are reported like no device at all:
  // going on with an invalid handle would only fail later with a vaguer message.
  strLastError = cp("Impressora não encontrada via conexão USB.");
  if (continueStyle)
    LogBuffered(where, format("CreateFile - Erro = %s", strLastError.c_str()));
  else
    Log(format("%s{CreateFile - Erro = %s}", where, strLastError.c_str()));
  return kFalse;
}

BOOL CECFBase::OpenComm(BOOL bReadPrinterInfo) {
  Log(format("CECFBase::OpenComm - COM%i", nPortNumber));
  if (bPortOpen) return kTrue;
  const bool usb = nPortNumber >= 999;
  if (!usb) {
    if (!OpenPortHandle(false, 0)) {
      SetSystemError();
      // The device is named here too: "(13)Permission denied" alone does not say which.
      Log(format("CECFBase::OpenComm{CreateFile - Erro = %s, Porta = %s}", strLastError.c_str(),
                 ports::serialName(nPortNumber).c_str()));
      return kFalse;
    }
  } else if (!OpenUsbHandle("CECFBase::OpenComm", false)) {
    return kFalse;
  }
  hPort->purge(true, true);
  bFreshLine = kTrue;
  Log(format("CECFBase::OpenComm{PurgeComm - Handle = %li}", hPort->handleValue()));
  if (!usb) {
    PortProperties p;
    int ret = hPort->properties(p) ? 1 : 0;
    const char* where = "CECFBase::OpenComm";
    Log(where,
        format("intTesteRet=%d wPacketLength=%d, wPacketVersion=%d, dwServiceMask=%d, dwMaxTxQueue=%d, "
               "dwMaxRxQueue=%d, dwMaxBaud=%d",
               ret, p.wPacketLength, p.wPacketVersion, p.dwServiceMask, p.dwMaxTxQueue, p.dwMaxRxQueue, p.dwMaxBaud));
    Log(where, format("dwProvSubType=%d, dwProvCapabilities=%d, dwSettableParams=%d, dwSettableBaud=%d, "
                      "wSettableData=%d, wSettableStopParity=%d",
                      p.dwProvSubType, p.dwProvCapabilities, p.dwSettableParams, p.dwSettableBaud, p.wSettableData,
                      p.wSettableStopParity));
    Log(where, format("dwCurrentTxQueue=%d, dwCurrentRxQueue=%d, dwProvSpec1=%d, dwProvSpec2=%d", p.dwCurrentTxQueue,
                      p.dwCurrentRxQueue, p.dwProvSpec1, p.dwProvSpec2));
    if (!GetCommState() || !SetCommState() || !CarregaTimeoutsPorta() || !SetCommTimeouts()) {
      // A port left half set up would wait without its time-outs: let it go.
      ReleaseHandle();
      return kFalse;
    }
  }
  bPortOpen = kTrue;
  if (!usb && bReadPrinterInfo) {
    if (!ECFOnline()) {
      ClearBuffers();
      bPortOpen = kFalse;
      CloseComm();
      strLastError = cp("A impressora selecionada não pôde ser encontrada na porta serial.");
      Log(format("CECFBase::OpenComm{ECFOnline - Erro = %s}", strLastError.c_str()));
      return kFalse;
    }
  }
  return LoadECFInfo(bReadPrinterInfo);
}

BOOL CECFBase::CloseComm() {
  ResetPAFECFIdentification();
  ReleaseHandle();
  bPortOpen = kFalse;
  return kTrue;
}

void CECFBase::ReleaseHandle() {
  if (hPort) hPort->close();
  hPort.reset();
  bLineLost = kFalse;
}

void CECFBase::NoteLostLine(int code) {
  if (hPort && bPortOpen && platform::deviceLost(code)) bLineLost = kTrue;
}

BOOL CECFBase::ReopenLostPort() {
  const char* where = "CECFBase::ReopenLostPort";
  Log(where, cp("início"));
  ReleaseHandle();
  bPortOpen = kFalse;
  // The port alone, as it was set up: a family's own set-up exchanges would run
  // in the middle of the command that found the port gone.
  if (CECFBase::ContinueComm()) {
    Log(where, "Retorno=TRUE");
    return kTrue;
  }
  // Still gone: the next command tries again, and the port counts as open
  // until the host closes it.
  ReleaseHandle();
  bPortOpen = kTrue;
  bLineLost = kTrue;
  Log(where, "Retorno=FALSE");
  return kFalse;
}

BOOL CECFBase::GetCommState() {
  const PortProfile& p = portProfile;
  if (p.announce) Log(format("%s::GetCommState", p.logTag));
  if (!hPort || !hPort->getSettings(dcb)) {
    if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
    SetSystemError();
    Log(format("%s::GetCommState - Handle = %li, Erro = %s", p.logTag, handleOf(hPort), strLastError.c_str()));
    return kFalse;
  }
  dcb.BaudRate = static_cast<uint32_t>(nBaudRate);
  dcb.ByteSize = static_cast<uint8_t>(nDataBits);
  if (nStopBits == 1) dcb.StopBits = kOneStopBit;
  if (nStopBits == 2) dcb.StopBits = kTwoStopBits;
  dcb.Parity = static_cast<uint8_t>(nParity);
  dcb.fBinary = 1;
  dcb.fDsrSensitivity = p.fDsrSensitivity;
  dcb.fTXContinueOnXoff = p.fTXContinueOnXoff;
  dcb.fOutX = p.fOutX;
  dcb.fInX = p.fInX;
  dcb.fAbortOnError = p.fAbortOnError;
  dcb.XonLim = p.XonLim;
  dcb.XoffLim = p.XoffLim;
  dcb.XonChar = p.XonChar;
  dcb.XoffChar = p.XoffChar;
  dcb.fOutxCtsFlow = p.fOutxCtsFlow;
  dcb.fOutxDsrFlow = p.fOutxDsrFlow;
  dcb.fDtrControl = p.fDtrControl;
  dcb.fRtsControl = p.fRtsControl;
  Log(format("%s::GetCommState - BoundRate=%i, DataBits=%i, StopBits=%i, Paridade=%i", p.logTag, nBaudRate, nDataBits,
             nStopBits, nParity));
  return kTrue;
}

BOOL CECFBase::SetCommState() {
  dcb.fParity = dcb.Parity > 0 ? 1 : 0;
  Log(format("CECFBase::SetCommState - Paridade=%i", static_cast<int>(dcb.Parity)));
  if (!hPort || !hPort->setSettings(dcb)) {
    if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
    SetSystemError();
    Log(format("CECFBase::SetCommState - Handle = %li, Erro = %s", handleOf(hPort), strLastError.c_str()));
    return kFalse;
  }
  return kTrue;
}

BOOL CECFBase::CarregaTimeoutsPorta() {
  timeouts.ReadIntervalTimeout = 200;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 200;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = static_cast<uint32_t>(nWriteTimeout) * 1000;
  return kTrue;
}

BOOL CECFBase::SetCommTimeouts() {
  Log("CECFBase::SetCommTimeouts");
  if (!hPort || !hPort->setTimeouts(timeouts)) {
    if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
    SetSystemError();
    Log(format("CECFBase::SetCommTimeouts - Handle = %li, Erro = %s", handleOf(hPort), strLastError.c_str()));
    return kFalse;
  }
  return kTrue;
}

BOOL CECFBase::PauseComm() {
  Log("CECFBase::PauseComm", cp("início"));
  ReleaseHandle();
  bPortOpen = kFalse;
  Log("CECFBase::PauseComm", "Retorno=TRUE");
  return kTrue;
}

BOOL CECFBase::ContinueComm() {
  const char* where = "CECFBase::ContinueComm";
  Log(where, cp("início"));
  if (bPortOpen) {
    Log(where, "Retorno=TRUE");
    return kTrue;
  }
  const bool usb = nPortNumber >= 999;
  if (!usb) {
    bool opened = false;
    for (int attempt = 1; attempt <= 5 && !opened; ++attempt) {
      if (attempt > 1) PortClock().sleepMs(500);
      opened = OpenPortHandle(true, attempt);
    }
    if (!opened) {
      SetSystemError();
      LogBuffered(where, format("CreateFile - Erro = %s, Porta = %s", strLastError.c_str(),
                                ports::serialName(nPortNumber).c_str()));
      Log(where, "Retorno=FALSE");
      return kFalse;
    }
  } else if (!OpenUsbHandle(where, true)) {
    Log(where, "Retorno=FALSE");
    return kFalse;
  }
  hPort->purge(true, true);
  bFreshLine = kTrue;
  Log(where, format("PurgeComm - Handle = %li", hPort->handleValue()));
  if (!usb) {
    const char* failed = !GetCommState()           ? "GetCommState"
                         : !SetCommState()         ? "SetCommState"
                         : !CarregaTimeoutsPorta() ? "GetCommTimeouts"
                         : !SetCommTimeouts()      ? "SetCommTimeouts"
                                                   : nullptr;
    if (failed) {
      ReleaseHandle();
      LogBuffered(where, failed);
      Log(where, "Retorno=FALSE");
      return kFalse;
    }
  }
  bPortOpen = kTrue;
  Log(where, "Retorno=TRUE");
  return kTrue;
}

BOOL CECFBase::WaitCommEvent(uint32_t timeoutMs) {
  WaitResult r = hPort ? hPort->waitForInput(timeoutMs, bCheckDSR != 0, bCheckCTS != 0) : WaitResult::Failure;
  if (r == WaitResult::Failure) NoteLostLine(platform::lastError());
  if (r == WaitResult::Timeout) {
    strLastError = "Timeout aguardando resposta da impressora.";
    platform::setLastError(0);
    Log("CECFBase::WaitCommEvent{(WaitForSingleObject)Retorno=FALSE,strLastError=" + strLastError + "}");
    return kFalse;
  }
  if (r == WaitResult::Failure && bCheckDSR) {
    strLastError =
        cp("Timeout aguardando resposta da impressora. Verifique se a impressora está ligada e pronta comunicação.");
    platform::setLastError(0);
    Log("CECFBase::WaitCommEvent{(DSR)Retorno=FALSE,strLastError=" + strLastError + "}");
    return kFalse;
  }
  // Without the DSR check a failing status read ends the wait as if bytes had come.
  platform::setLastError(0);
  return kTrue;
}

void CECFBase::LogCommState(const std::string& where) {
  const PortSettings& d = dcb;
  Log(where, format("BaudRate=%d, ByteSize=%d, DCBlength=%d, EofChar=%d, ErrorChar=%d, EvtChar=%d", d.BaudRate,
                    d.ByteSize, d.DCBlength, d.EofChar, d.ErrorChar, d.EvtChar));
  Log(where,
      format("fAbortOnError=%d, fBinary=%d, fDsrSensitivity=%d, fDtrControl=%d, fDummy2=%d, fErrorChar=%d, "
             "fInX=%d, fNull=%d",
             d.fAbortOnError, d.fBinary, d.fDsrSensitivity, d.fDtrControl, d.fDummy2, d.fErrorChar, d.fInX, d.fNull));
  Log(where, format("fOutX=%d, fOutxCtsFlow=%d, fOutxDsrFlow=%d, fParity=%d, fRtsControl=%d, fTXContinueOnXoff=%d",
                    d.fOutX, d.fOutxCtsFlow, d.fOutxDsrFlow, d.fParity, d.fRtsControl, d.fTXContinueOnXoff));
  Log(where, format("ByteSize=%d, Parity=%d, StopBits=%d, XoffChar=%d, XoffLim=%d, XonChar=%d, XonLim=%d", d.ByteSize,
                    d.Parity, d.StopBits, d.XoffChar, d.XoffLim, d.XonChar, d.XonLim));
  Log(where, format("bCheckCTS=%s, bCheckDSR=%s", boolText(bCheckCTS), boolText(bCheckDSR)));
}

}  // namespace tarvion
