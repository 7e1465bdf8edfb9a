// The operation log: one plain-text file, "KTTarvionLog.txt" in the temporary
// folder, written only when somebody created it before the writing object was
// made. Lines are Windows-1252 inside and the system's own text on disk.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace tarvion {

inline constexpr const char* kLogFileName = "KTTarvionLog.txt";

// "%02d/%02d/%04d %02d:%02d:%02d.%03d - %s\r\n"
std::string formatLogLine(const platform::LocalTime& t, std::string_view message);

class OpLog {
 public:
  OpLog();  // decides once whether logging is on
  bool enabled() const { return enabled_; }
  const std::string& path() const { return path_; }

  // Immediate line: pending lines first, then this one, in one append.
  void write(std::string_view message);
  // Formatted now, written with the next immediate line.
  void buffer(std::string_view message);

  // The three message shapes.
  void log(std::string_view where, std::string_view detail = {});
  void logResult(std::string_view where, std::string_view result, std::string_view lastError);
  void logBuffered(std::string_view where, std::string_view detail = {});

  static std::string shape(std::string_view where, std::string_view detail);

 private:
  bool enabled_ = false;
  std::string path_;
  std::vector<std::string> pending_;
};

}  // namespace tarvion
