#include "core/oplog.h"

#include "core/text.h"

namespace tarvion {

std::string formatLogLine(const platform::LocalTime& t, std::string_view message) {
  std::string line = text::format("%02d/%02d/%04d %02d:%02d:%02d.%03d - ", t.day, t.month, t.year, t.hour, t.minute,
                                  t.second, t.millisecond);
  line.append(message);
  line += "\r\n";
  return line;
}

OpLog::OpLog() : path_(platform::tempDir() + kLogFileName) {
  enabled_ = platform::fileExists(path_);
}

std::string OpLog::shape(std::string_view where, std::string_view detail) {
  std::string s(where);
  if (!detail.empty()) {
    s += '{';
    s.append(detail);
    s += '}';
  }
  return s;
}

void OpLog::write(std::string_view message) {
  if (!enabled_) return;
  try {
    std::string out;
    for (auto& p : pending_) out += p;
    pending_.clear();
    out += formatLogLine(platform::localTime(), message);
    platform::appendToLog(path_, platform::toSystemText(out));
  } catch (...) {
    // Logging never changes a result.
  }
}

void OpLog::buffer(std::string_view message) {
  if (!enabled_) return;
  try {
    pending_.push_back(formatLogLine(platform::localTime(), message));
  } catch (...) {
  }
}

void OpLog::log(std::string_view where, std::string_view detail) {
  if (enabled_) write(shape(where, detail));
}

void OpLog::logResult(std::string_view where, std::string_view result, std::string_view lastError) {
  if (!enabled_) return;
  std::string s(where);
  s += "{Retorno=";
  s.append(result);
  s += " (Erro: ";
  s.append(lastError);
  s += ")}";
  write(s);
}

void OpLog::logBuffered(std::string_view where, std::string_view detail) {
  if (enabled_) buffer(shape(where, detail));
}

}  // namespace tarvion
