// The small operating-system layer. Drivers and the control never call the OS
// directly; each function here has a POSIX and a Win32 implementation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvion::platform {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime localTime();

// Temporary folder, ending with the path separator (TMPDIR, else /tmp on POSIX).
std::string tempDir();

// True when a regular file (or a link to one) exists at path.
bool fileExists(const std::string& path);

// Appends bytes to the log file in one exclusive write. Never follows a symbolic
// link, never writes to anything but a regular file, creates the file when missing.
// Failures are silent: logging never changes a result.
void appendToLog(const std::string& path, std::string_view bytes);

// The 8-bit text of this system for files people read (UTF-8 on POSIX, 1252 on Windows).
std::string toSystemText(std::string_view cp1252);

// The calling thread's last system error, kept Win32-style so that the drivers can
// read it after a failed channel call.
int lastError();
void setLastError(int code);
// The system's message for a code, in Windows-1252, without trailing line breaks.
std::string systemErrorText(int code);
// What a person can do about the last error (which device, which group, which
// program holds it), in Windows-1252; set right after the code by the call that
// failed, and dropped by the next setLastError. Empty when there is nothing to add.
std::string lastErrorDetail();
void setLastErrorDetail(std::string detail);
// Codes that mean "the device is not there" (file not found, invalid handle, already exists).
constexpr int kErrFileNotFound = 2;
constexpr int kErrInvalidHandle = 6;
constexpr int kErrAlreadyExists = 183;
constexpr int kErrTimeout = 1460;
// True when a failed read or write means the device went away (unplugged, the
// printer restarted, the other end of a terminal closed): the handle is dead,
// and only opening the port again reaches the device when it is back.
bool deviceLost(int code);

// Monotonic time and sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t nowUs() = 0;
  virtual void sleepMs(uint32_t ms) = 0;
  int64_t nowMs() { return nowUs() / 1000; }
};
Clock& steadyClock();

}  // namespace tarvion::platform
