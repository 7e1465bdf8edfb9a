// The serial channel as the drivers see it. The interface keeps the shape of the
// Win32 communications API the drivers were designed against; a POSIX port, a
// Win32 port and the in-process virtual wire implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/types.h"
#include "platform/platform.h"

namespace tarvion {

// Stop-bit, DTR and RTS codes of the settings record.
constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;
constexpr uint8_t kDtrDisable = 0, kDtrEnable = 1, kDtrHandshake = 2;
constexpr uint8_t kRtsDisable = 0, kRtsEnable = 1, kRtsHandshake = 2, kRtsToggle = 3;
constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4;

// Port settings record (the device control block).
struct PortSettings {
  uint32_t DCBlength = 28;
  uint32_t BaudRate = 0;
  uint8_t fBinary = 0, fParity = 0, fOutxCtsFlow = 0, fOutxDsrFlow = 0, fDtrControl = 0, fDsrSensitivity = 0,
          fTXContinueOnXoff = 0, fOutX = 0, fInX = 0, fErrorChar = 0, fNull = 0, fRtsControl = 0, fAbortOnError = 0,
          fDummy2 = 0;
  uint16_t XonLim = 0, XoffLim = 0;
  uint8_t ByteSize = 8, Parity = 0, StopBits = 0;
  uint8_t XonChar = 0, XoffChar = 0, ErrorChar = 0, EofChar = 0, EvtChar = 0;
};

// The handshake a printer family wants on its serial port, as data: the
// driver's GetCommState fills the settings record with the port number's baud
// rate, bits and parity and these flags. logTag is the class name its log lines
// carry ("<tag>::GetCommState - ..."); announce adds the line "<tag>::GetCommState"
// before the settings are read.
struct PortProfile {
  const char* logTag = "CECFBase";
  bool announce = true;
  uint8_t fDsrSensitivity = 1;
  uint8_t fOutxCtsFlow = 1, fOutxDsrFlow = 1;
  uint8_t fDtrControl = kDtrHandshake, fRtsControl = kRtsHandshake;
  uint8_t fTXContinueOnXoff = 0, fOutX = 0, fInX = 0;
  uint8_t fAbortOnError = 1;
  uint16_t XonLim = 2048, XoffLim = 512;
  uint8_t XonChar = 0x11, XoffChar = 0x13;
};

// Time-out record, in milliseconds.
struct PortTimeouts {
  uint32_t ReadIntervalTimeout = 0, ReadTotalTimeoutMultiplier = 0, ReadTotalTimeoutConstant = 0,
           WriteTotalTimeoutMultiplier = 0, WriteTotalTimeoutConstant = 0;
};

// Port properties as the system reports them (logged by OpenComm).
struct PortProperties {
  uint32_t wPacketLength = 0, wPacketVersion = 0, dwServiceMask = 0, dwMaxTxQueue = 0, dwMaxRxQueue = 0, dwMaxBaud = 0,
           dwProvSubType = 0, dwProvCapabilities = 0, dwSettableParams = 0, dwSettableBaud = 0, wSettableData = 0,
           wSettableStopParity = 0, dwCurrentTxQueue = 0, dwCurrentRxQueue = 0, dwProvSpec1 = 0, dwProvSpec2 = 0;
};

// Line status: error mask and queue counts, with the lines that hold transmission.
struct LineStatus {
  uint32_t errors = 0;
  uint32_t inQueue = 0, outQueue = 0;
  bool ctsHold = false, dsrHold = false, rlsdHold = false;
};

enum class WaitResult { Ready, Timeout, Failure };

// Raw line functions (escape codes of the Win32 API).
enum class LineFunction {
  SetXoff = 1,
  SetXon = 2,
  SetRts = 3,
  ClrRts = 4,
  SetDtr = 5,
  ClrDtr = 6,
  SetBreak = 8,
  ClrBreak = 9
};

class Channel {
 public:
  virtual ~Channel() = default;
  // Every call returns false on failure and leaves the code in platform::lastError().
  virtual bool properties(PortProperties& out) = 0;
  virtual bool getSettings(PortSettings& out) = 0;
  virtual bool setSettings(const PortSettings& in) = 0;
  virtual bool setTimeouts(const PortTimeouts& in) = 0;
  virtual bool purge(bool transmit, bool receive) = 0;
  virtual bool lineStatus(LineStatus& out) = 0;
  // Writes under the write time-out; written tells how much went out.
  virtual bool write(const uint8_t* data, size_t n, size_t& written) = 0;
  // Reads up to n bytes under the read time-outs (interval and total).
  virtual bool read(uint8_t* data, size_t n, size_t& got) = 0;
  // Waits until answer bytes are queued, honouring the DSR and CTS rules:
  // with checkDsr a held DSR fails the wait; with checkCts queued bytes do not
  // count while CTS holds. A failing status read ends the wait as Failure.
  virtual WaitResult waitForInput(uint32_t timeoutMs, bool checkDsr, bool checkCts) = 0;
  virtual bool lineControl(LineFunction f) = 0;
  // Control request to a maker's USB device driver.
  virtual bool deviceControl(uint32_t code, const ByteArray& in, ByteArray& out, size_t outCapacity) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // A number identifying the handle, for logs and CommHandle.
  virtual long handleValue() const = 0;
  // The clock that governs this channel's time-outs.
  virtual platform::Clock& clock() = 0;
};

using ChannelPtr = std::shared_ptr<Channel>;

// A 16-byte device interface class.
struct InterfaceClass {
  uint8_t bytes[16] = {};
  bool isZero() const {
    for (auto b : bytes)
      if (b) return false;
    return true;
  }
  static InterfaceClass parse(const char* braced);  // "{xxxxxxxx-xxxx-...}"
};

// Where channels come from. Virtual devices attached to a port number take
// precedence over the system's ports, so tests and demos need no hardware.
namespace ports {
// The system name of a COM port number ("COM9", "\\.\COM10"; a device path on POSIX).
std::string serialName(int portNumber);
// Opens a serial port; null with platform::lastError() set on failure.
ChannelPtr openSerial(int portNumber, const std::string& name);
// Device paths of present USB devices offering the interface class, in search order.
std::vector<std::string> findUsb(int portNumber, const InterfaceClass& cls);
ChannelPtr openUsb(int portNumber, const std::string& path);
// The clock that waits between attempts on this port number.
platform::Clock& clockFor(int portNumber);
}  // namespace ports

// The system's own port backend (termios on POSIX, Win32 on Windows).
namespace sysports {
std::string serialName(int portNumber);
ChannelPtr openSerial(const std::string& name);
std::vector<std::string> findUsb(const InterfaceClass& cls);
ChannelPtr openUsb(const std::string& path);
}  // namespace sysports

}  // namespace tarvion
