#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "core/text.h"
#include "platform/platform.h"
#include "platform/posix/fd_io.h"

namespace tarvion::platform {

LocalTime localTime() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tmv {};
  localtime_r(&ts.tv_sec, &tmv);
  LocalTime t;
  t.year = tmv.tm_year + 1900;
  t.month = tmv.tm_mon + 1;
  t.day = tmv.tm_mday;
  t.hour = tmv.tm_hour;
  t.minute = tmv.tm_min;
  t.second = tmv.tm_sec;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

std::string tempDir() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void appendToLog(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // The lock keeps two processes from interleaving within a line.
    if (::flock(fd, LOCK_EX) == 0) {
      posix::writeAll(fd, bytes);
      ::flock(fd, LOCK_UN);
    }
  }
  ::close(fd);
}

std::string toSystemText(std::string_view cp1252) {
  return text::cp1252ToUtf8(cp1252);
}

namespace {
thread_local int tLastError = 0;
thread_local std::string tLastErrorDetail;
}  // namespace
int lastError() {
  return tLastError;
}
bool deviceLost(int code) {
  return code == EIO || code == kErrFileNotFound;  // a vanished node: ENODEV, ENXIO, ENOENT
}
void setLastError(int code) {
  tLastError = code;
  tLastErrorDetail.clear();
}
std::string lastErrorDetail() {
  return tLastErrorDetail;
}
void setLastErrorDetail(std::string detail) {
  tLastErrorDetail = std::move(detail);
}

// The message in the user's language: the message catalogue of the locale the
// environment names (LC_ALL, LC_MESSAGES, LANG), through a locale object of
// its own, so the process locale is never touched. The text comes out in UTF-8
// (the character set of C.UTF-8, or of the environment's locale when that is
// all there is) and goes to Windows-1252 like every other text.
std::string systemErrorText(int code) {
  const auto none = static_cast<locale_t>(0);
  locale_t loc = none;
  if (locale_t ctype = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", none)) {
    loc = ::newlocale(LC_MESSAGES_MASK, "", ctype);  // takes ctype over on success
    if (!loc) ::freelocale(ctype);
  }
  if (!loc) loc = ::newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "", none);
  if (!loc) loc = ::newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "C", none);
  std::string message;
  if (loc) {
    const char* s = ::strerror_l(code, loc);
    message = s ? s : "";
    const char* codeset = ::nl_langinfo_l(CODESET, loc);
    const bool utf8 = codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    ::freelocale(loc);
    // Outside UTF-8 only plain ASCII is sure to mean the same in Windows-1252.
    if (!utf8)
      for (char& c : message)
        if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  } else {
    char buf[256];
    buf[0] = 0;
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* s = strerror_r(code, buf, sizeof buf);
#else
    const char* s = strerror_r(code, buf, sizeof buf) == 0 ? buf : "";
#endif
    message = s ? s : "";
  }
  return text::utf8ToCp1252(message);
}

namespace {
class SteadyClock final : public Clock {
 public:
  int64_t nowUs() override {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void sleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
}  // namespace

Clock& steadyClock() {
  static SteadyClock c;
  return c;
}

}  // namespace tarvion::platform
