#include <windows.h>

#include <chrono>
#include <string>
#include <utility>

#include "core/text.h"
#include "platform/platform.h"

namespace tarvion::platform {

LocalTime localTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

std::string tempDir() {
  char buf[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof buf, buf);
  if (n == 0 || n > sizeof buf) return ".\\";
  std::string dir(buf, n);
  if (dir.back() != '\\') dir += '\\';
  return dir;
}

bool fileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void appendToLog(const std::string& path, std::string_view bytes) {
  DWORD a = GetFileAttributesA(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) return;
  // No sharing: a second writer fails for that instant instead of interleaving.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  if (GetFileType(h) == FILE_TYPE_DISK) {
    SetFilePointer(h, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  CloseHandle(h);
}

std::string toSystemText(std::string_view cp1252) {
  return std::string(cp1252);
}

int lastError() {
  return static_cast<int>(GetLastError());
}
bool deviceLost(int code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_GEN_FAILURE:  // a USB serial adapter pulled out
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_OPERATION_ABORTED:
      return true;
    default:
      return false;
  }
}
void setLastError(int code) {
  SetLastError(static_cast<DWORD>(code));
}

// Any system call may change the thread's error code, so the explanation is
// kept with the code it explains and only given while that code is current.
namespace {
thread_local DWORD tDetailCode = 0;
thread_local std::string tLastErrorDetail;
}  // namespace
std::string lastErrorDetail() {
  const DWORD code = GetLastError();
  std::string detail = code == tDetailCode ? tLastErrorDetail : std::string();
  SetLastError(code);
  return detail;
}
void setLastErrorDetail(std::string detail) {
  tDetailCode = GetLastError();
  tLastErrorDetail = std::move(detail);
  SetLastError(tDetailCode);
}

std::string systemErrorText(int code) {
  char* msg = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<LPSTR>(&msg), 0, nullptr);
  std::string s = n && msg ? std::string(msg, n) : std::string();
  if (msg) LocalFree(msg);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

namespace {
class SteadyClock final : public Clock {
 public:
  int64_t nowUs() override {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void sleepMs(uint32_t ms) override { Sleep(ms); }
};
}  // namespace

Clock& steadyClock() {
  static SteadyClock c;
  return c;
}

}  // namespace tarvion::platform
