// The system's ports on Windows: COM ports and USB device interfaces opened as
// files, driven by the Win32 communications API the channel interface mirrors.
// Failures leave the thread's last error as the call set it.

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
  explicit Win32Port(HANDLE h) : h_(h) {}
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
    BOOL ok = WriteFile(h_, data, static_cast<DWORD>(n), &w, nullptr);
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
    BOOL ok = ReadFile(h_, data, static_cast<DWORD>(n), &r, nullptr);
    got = r;
    return ok != 0;
  }

  // The handle is not opened for overlapped I/O, so there is no way to sleep
  // until a byte arrives: WaitCommEvent on it would block every other call on
  // the handle. The wait therefore looks at the line status every millisecond
  // on the calling thread (no watcher thread is needed for that), sleeping on a
  // high-resolution timer where the system has one, since Sleep(1) lasts a
  // whole scheduler tick (about 15.6 ms) by default.
  WaitResult waitForInput(uint32_t timeoutMs, bool checkDsr, bool checkCts) override {
    const int64_t deadline = platform::steadyClock().nowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    for (;;) {
      LineStatus st;
      if (!lineStatus(st)) return WaitResult::Failure;
      if (checkDsr && st.dsrHold) return WaitResult::Failure;
      if (st.inQueue > 0 && !(checkCts && st.ctsHold)) return WaitResult::Ready;
      if (platform::steadyClock().nowUs() >= deadline) return WaitResult::Timeout;
      pauseOneMs();
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
    BOOL ok =
        DeviceIoControl(h_, code, in.empty() ? nullptr : const_cast<uint8_t*>(in.data()), static_cast<DWORD>(in.size()),
                        out.empty() ? nullptr : out.data(), static_cast<DWORD>(out.size()), &returned, nullptr);
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
    if (timer_) {
      CloseHandle(timer_);
      timer_ = nullptr;
    }
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

  void pauseOneMs() {
    if (!timer_ && !timerTried_) {
      timerTried_ = true;
      timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    }
    if (timer_) {
      LARGE_INTEGER due;
      due.QuadPart = -10000;  // 1 ms from now, in 100 ns units
      if (SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) &&
          WaitForSingleObject(timer_, INFINITE) == WAIT_OBJECT_0)
        return;
    }
    Sleep(1);
  }

  HANDLE h_;
  HANDLE timer_ = nullptr;
  bool timerTried_ = false;
};

ChannelPtr wrap(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) return nullptr;  // the last error stays CreateFileA's
  return std::make_shared<Win32Port>(h);
}

}  // namespace

// Ports 1 to 9 have plain names; from 10 on only the device namespace knows them.
std::string serialName(int portNumber) {
  return (portNumber < 10 ? "COM" : "\\\\.\\COM") + std::to_string(portNumber);
}

ChannelPtr openSerial(const std::string& name) {
  return wrap(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
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
                          OPEN_EXISTING, 0, nullptr));
}

}  // namespace tarvion::sysports
