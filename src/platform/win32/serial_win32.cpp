// The system's ports on Windows: COM ports and USB device interfaces opened as
// files, driven by the Win32 communications API the channel interface mirrors.
// Failures leave the thread's last error as the call set it.
//
// COM ports are opened for overlapped I/O so that the answer wait can sleep
// until the driver reports a received byte or a line change (WaitCommEvent)
// instead of looking at the line every millisecond. Reads and writes still
// block until they are done, under the port's time-outs, exactly as on a
// handle without overlapped I/O. USB device interfaces, which only take device
// control requests, stay plain.

// clang-format off
#include <windows.h>  // before setupapi.h, which needs its types
#include <setupapi.h>
// clang-format on

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/channel.h"
#include "platform/platform.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tarvion::sysports {

namespace {

class Win32Port final : public Channel {
 public:
  Win32Port(HANDLE h, bool overlapped) : h_(h), overlapped_(overlapped) {
    if (overlapped_) {
      ioEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      waitEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      if (!ioEvent_ || !waitEvent_) overlapped_ = false;  // never reached with a working system
    }
  }
  ~Win32Port() override { close(); }

  bool properties(PortProperties& out) override {
    if (!checkOpen()) return false;
    COMMPROP cp;
    std::memset(&cp, 0, sizeof cp);
    if (!GetCommProperties(h_, &cp)) return false;
    out.wPacketLength = cp.wPacketLength;
    out.wPacketVersion = cp.wPacketVersion;
    out.dwServiceMask = cp.dwServiceMask;
    out.dwMaxTxQueue = cp.dwMaxTxQueue;
    out.dwMaxRxQueue = cp.dwMaxRxQueue;
    out.dwMaxBaud = cp.dwMaxBaud;
    out.dwProvSubType = cp.dwProvSubType;
    out.dwProvCapabilities = cp.dwProvCapabilities;
    out.dwSettableParams = cp.dwSettableParams;
    out.dwSettableBaud = cp.dwSettableBaud;
    out.wSettableData = cp.wSettableData;
    out.wSettableStopParity = cp.wSettableStopParity;
    out.dwCurrentTxQueue = cp.dwCurrentTxQueue;
    out.dwCurrentRxQueue = cp.dwCurrentRxQueue;
    out.dwProvSpec1 = cp.dwProvSpec1;
    out.dwProvSpec2 = cp.dwProvSpec2;
    return true;
  }

  bool getSettings(PortSettings& out) override {
    if (!checkOpen()) return false;
    DCB d;
    std::memset(&d, 0, sizeof d);
    d.DCBlength = sizeof d;
    if (!GetCommState(h_, &d)) return false;
    out.DCBlength = d.DCBlength;
    out.BaudRate = d.BaudRate;
    out.fBinary = static_cast<uint8_t>(d.fBinary);
    out.fParity = static_cast<uint8_t>(d.fParity);
    out.fOutxCtsFlow = static_cast<uint8_t>(d.fOutxCtsFlow);
    out.fOutxDsrFlow = static_cast<uint8_t>(d.fOutxDsrFlow);
    out.fDtrControl = static_cast<uint8_t>(d.fDtrControl);
    out.fDsrSensitivity = static_cast<uint8_t>(d.fDsrSensitivity);
    out.fTXContinueOnXoff = static_cast<uint8_t>(d.fTXContinueOnXoff);
    out.fOutX = static_cast<uint8_t>(d.fOutX);
    out.fInX = static_cast<uint8_t>(d.fInX);
    out.fErrorChar = static_cast<uint8_t>(d.fErrorChar);
    out.fNull = static_cast<uint8_t>(d.fNull);
    out.fRtsControl = static_cast<uint8_t>(d.fRtsControl);
    out.fAbortOnError = static_cast<uint8_t>(d.fAbortOnError);
    out.fDummy2 = static_cast<uint8_t>(d.fDummy2);
    out.XonLim = d.XonLim;
    out.XoffLim = d.XoffLim;
    out.ByteSize = d.ByteSize;
    out.Parity = d.Parity;
    out.StopBits = d.StopBits;
    out.XonChar = static_cast<uint8_t>(d.XonChar);
    out.XoffChar = static_cast<uint8_t>(d.XoffChar);
    out.ErrorChar = static_cast<uint8_t>(d.ErrorChar);
    out.EofChar = static_cast<uint8_t>(d.EofChar);
    out.EvtChar = static_cast<uint8_t>(d.EvtChar);
    return true;
  }

  bool setSettings(const PortSettings& in) override {
    if (!checkOpen()) return false;
    // Start from the port's own block: the reserved words keep what the
    // system put there.
    DCB d;
    std::memset(&d, 0, sizeof d);
    d.DCBlength = sizeof d;
    if (!GetCommState(h_, &d)) return false;
    d.BaudRate = in.BaudRate;
    d.fBinary = in.fBinary & 1u;
    d.fParity = in.fParity & 1u;
    d.fOutxCtsFlow = in.fOutxCtsFlow & 1u;
    d.fOutxDsrFlow = in.fOutxDsrFlow & 1u;
    d.fDtrControl = in.fDtrControl & 3u;
    d.fDsrSensitivity = in.fDsrSensitivity & 1u;
    d.fTXContinueOnXoff = in.fTXContinueOnXoff & 1u;
    d.fOutX = in.fOutX & 1u;
    d.fInX = in.fInX & 1u;
    d.fErrorChar = in.fErrorChar & 1u;
    d.fNull = in.fNull & 1u;
    d.fRtsControl = in.fRtsControl & 3u;
    d.fAbortOnError = in.fAbortOnError & 1u;
    d.XonLim = in.XonLim;
    d.XoffLim = in.XoffLim;
    d.ByteSize = in.ByteSize;
    d.Parity = in.Parity;
    d.StopBits = in.StopBits;
    d.XonChar = static_cast<char>(in.XonChar);
    d.XoffChar = static_cast<char>(in.XoffChar);
    d.ErrorChar = static_cast<char>(in.ErrorChar);
    d.EofChar = static_cast<char>(in.EofChar);
    d.EvtChar = static_cast<char>(in.EvtChar);
    return SetCommState(h_, &d) != 0;
  }

  bool setTimeouts(const PortTimeouts& in) override {
    if (!checkOpen()) return false;
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = in.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = in.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = in.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = in.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = in.WriteTotalTimeoutConstant;
    return SetCommTimeouts(h_, &t) != 0;
  }

  bool purge(bool transmit, bool receive) override {
    if (!checkOpen()) return false;
    DWORD flags = (transmit ? PURGE_TXCLEAR : 0) | (receive ? PURGE_RXCLEAR : 0);
    if (!flags) return true;
    return PurgeComm(h_, flags) != 0;
  }

  bool lineStatus(LineStatus& out) override {
    out = LineStatus{};
    if (!checkOpen()) return false;
    DWORD errors = 0;
    COMSTAT cs;
    std::memset(&cs, 0, sizeof cs);
    if (!ClearCommError(h_, &errors, &cs)) return false;
    out.errors = errors;
    out.inQueue = cs.cbInQue;
    out.outQueue = cs.cbOutQue;
    out.ctsHold = cs.fCtsHold != 0;
    out.dsrHold = cs.fDsrHold != 0;
    out.rlsdHold = cs.fRlsdHold != 0;
    return true;
  }

  bool write(const uint8_t* data, size_t n, size_t& written) override {
    written = 0;
    if (!checkOpen()) return false;
    DWORD w = 0;
    BOOL ok = transfer(true, const_cast<uint8_t*>(data), n, w);
    written = w;
    if (!ok) return false;
    // A write cut short by the write time-out still "succeeds" here; the
    // channel reports it as the time-out it is.
    if (w < n) {
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    return true;
  }

  bool read(uint8_t* data, size_t n, size_t& got) override {
    got = 0;
    if (!checkOpen()) return false;
    DWORD r = 0;
    BOOL ok = transfer(false, data, n, r);
    got = r;
    return ok != 0;
  }

  // Sleeps until the port reports a received byte, a CTS or DSR change or a
  // line error, or until the deadline; then decides on the line status, as the
  // answer wait always has: DSR held (when watched) fails, queued input with
  // CTS not held (when watched) is the answer. A port whose driver cannot
  // report events (some emulated and virtual ports) is looked at every
  // millisecond instead.
  WaitResult waitForInput(uint32_t timeoutMs, bool checkDsr, bool checkCts) override {
    const int64_t deadline = platform::steadyClock().nowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    // The mask is set before the first look at the line, so that a byte that
    // arrives between that look and the wait is still an event.
    bool events = overlapped_ && SetCommMask(h_, EV_RXCHAR | EV_CTS | EV_DSR | EV_ERR);
    for (;;) {
      LineStatus st;
      if (!lineStatus(st)) return WaitResult::Failure;
      if (checkDsr && st.dsrHold) return WaitResult::Failure;
      if (st.inQueue > 0 && !(checkCts && st.ctsHold)) return WaitResult::Ready;
      const int64_t left = deadline - platform::steadyClock().nowUs();
      if (left <= 0) return WaitResult::Timeout;
      if (events && !sleepUntilEvent(left)) events = false;
      if (!events) pauseUs(left < 1000 ? left : 1000);
    }
  }
  bool lineControl(LineFunction f) override {
    if (!checkOpen()) return false;
    // The line functions carry the system's escape codes.
    return EscapeCommFunction(h_, static_cast<DWORD>(f)) != 0;
  }

  bool deviceControl(uint32_t code, const ByteArray& in, ByteArray& out, size_t outCapacity) override {
    out.clear();
    if (!checkOpen()) return false;
    out.assign(outCapacity, 0);
    DWORD returned = 0;
    OVERLAPPED ov;
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = ioEvent_;
    if (overlapped_) ResetEvent(ioEvent_);
    BOOL ok = DeviceIoControl(h_, code, in.empty() ? nullptr : const_cast<uint8_t*>(in.data()),
                              static_cast<DWORD>(in.size()), out.empty() ? nullptr : out.data(),
                              static_cast<DWORD>(out.size()), &returned, overlapped_ ? &ov : nullptr);
    if (overlapped_ && !ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(h_, &ov, &returned, TRUE);
    if (!ok) {
      DWORD e = GetLastError();
      out.clear();
      SetLastError(e);
      return false;
    }
    out.resize(returned < out.size() ? returned : out.size());
    return true;
  }

  void close() override {
    for (HANDLE* owned : {&timer_, &ioEvent_, &waitEvent_}) {
      if (*owned) CloseHandle(*owned);
      *owned = nullptr;
    }
    overlapped_ = false;
    if (h_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }
  bool isOpen() const override { return h_ != INVALID_HANDLE_VALUE; }
  long handleValue() const override {
    return h_ == INVALID_HANDLE_VALUE ? -1 : static_cast<long>(reinterpret_cast<intptr_t>(h_));
  }
  platform::Clock& clock() override { return platform::steadyClock(); }

 private:
  bool checkOpen() {
    if (h_ != INVALID_HANDLE_VALUE) return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }

  // A read or a write that returns when it is done, on either kind of handle.
  BOOL transfer(bool isWrite, uint8_t* data, size_t n, DWORD& done) {
    done = 0;
    if (!overlapped_) {
      return isWrite ? WriteFile(h_, data, static_cast<DWORD>(n), &done, nullptr)
                     : ReadFile(h_, data, static_cast<DWORD>(n), &done, nullptr);
    }
    OVERLAPPED ov;
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = ioEvent_;
    ResetEvent(ioEvent_);
    BOOL ok = isWrite ? WriteFile(h_, data, static_cast<DWORD>(n), nullptr, &ov)
                      : ReadFile(h_, data, static_cast<DWORD>(n), nullptr, &ov);
    if (!ok && GetLastError() != ERROR_IO_PENDING) return FALSE;
    if (GetOverlappedResult(h_, &ov, &done, TRUE)) return TRUE;
    // A transfer the port's time-outs end early completes with a time-out
    // status, which some systems report as a failure. On a plain handle it is
    // a success with fewer bytes: keep it so (a short write is reported by the
    // caller, a short read is what the read loop expects).
    if (GetLastError() != ERROR_TIMEOUT) return FALSE;
    done = static_cast<DWORD>(ov.InternalHigh);
    return TRUE;
  }

  // One WaitCommEvent, for at most leftUs. False when the port cannot report
  // events: the wait fails, or ends without one.
  bool sleepUntilEvent(int64_t leftUs) {
    OVERLAPPED ov;
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = waitEvent_;
    ResetEvent(waitEvent_);
    DWORD mask = 0;
    if (WaitCommEvent(h_, &mask, &ov)) return mask != 0;  // an event was already there
    if (GetLastError() != ERROR_IO_PENDING) return false;
    HANDLE waits[2] = {waitEvent_, armTimer(leftUs)};
    // Without the precise timer the plain time-out serves, rounded up.
    const DWORD n = waits[1] ? 2 : 1;
    const DWORD limit = waits[1] ? INFINITE : static_cast<DWORD>((leftUs + 999) / 1000);
    const DWORD woke = WaitForMultipleObjects(n, waits, FALSE, limit);
    DWORD ignored = 0;
    if (woke != WAIT_OBJECT_0) {
      // The deadline: take the pending wait back before the record goes away.
      CancelIoEx(h_, &ov);
      GetOverlappedResult(h_, &ov, &ignored, TRUE);
      return woke != WAIT_FAILED;
    }
    return GetOverlappedResult(h_, &ov, &ignored, FALSE) && mask != 0;
  }

  // The high-resolution timer, armed to fire leftUs from now; null when the
  // system has none (before Windows 10 1803), or it cannot be armed.
  HANDLE armTimer(int64_t leftUs) {
    if (!timer_ && !timerTried_) {
      timerTried_ = true;
      timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    }
    if (!timer_) return nullptr;
    LARGE_INTEGER due;
    due.QuadPart = -leftUs * 10;  // relative, in 100 ns units
    return SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) ? timer_ : nullptr;
  }

  // The fallback for a handle that cannot report events: a short sleep.
  void pauseUs(int64_t us) {
    if (HANDLE t = armTimer(us)) {
      if (WaitForSingleObject(t, INFINITE) == WAIT_OBJECT_0) return;
    }
    Sleep(static_cast<DWORD>((us + 999) / 1000));
  }

  HANDLE h_;
  bool overlapped_;
  HANDLE ioEvent_ = nullptr, waitEvent_ = nullptr;
  HANDLE timer_ = nullptr;
  bool timerTried_ = false;
};

ChannelPtr wrap(HANDLE h, bool overlapped) {
  if (h == INVALID_HANDLE_VALUE) return nullptr;  // the last error stays CreateFileA's
  return std::make_shared<Win32Port>(h, overlapped);
}

}  // namespace

// Ports 1 to 9 have plain names; from 10 on only the device namespace knows them.
std::string serialName(int portNumber) {
  return (portNumber < 10 ? "COM" : "\\\\.\\COM") + std::to_string(portNumber);
}

ChannelPtr openSerial(const std::string& name) {
  return wrap(
      CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr),
      true);
}

// Device paths of the present interfaces of the class, interface indexes 0 to 9.
std::vector<std::string> findUsb(const InterfaceClass& cls) {
  std::vector<std::string> paths;
  if (cls.isZero()) return paths;
  GUID guid;
  static_assert(sizeof guid == sizeof cls.bytes, "an interface class is a GUID");
  std::memcpy(&guid, cls.bytes, sizeof guid);
  HDEVINFO info = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (info == INVALID_HANDLE_VALUE) return paths;
  for (DWORD index = 0; index < 10; ++index) {
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(info, nullptr, &guid, index, &data)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
      continue;
    }
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailA(info, &data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
    // DWORD elements keep the record aligned.
    std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(info, &data, detail, needed, nullptr, nullptr))
      paths.emplace_back(detail->DevicePath);
  }
  SetupDiDestroyDeviceInfoList(info);
  return paths;
}

ChannelPtr openUsb(const std::string& path) {
  return wrap(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              false);
}

}  // namespace tarvion::sysports
