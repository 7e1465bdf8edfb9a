// Small helpers every Bematech operation shares: the exception guard, the result
// line, and reading fields out of a reply.
#pragma once

#include <algorithm>
#include <string>

#include "core/datetime.h"
#include "core/ecf_base.h"
#include "core/text.h"

namespace tarvion::bematech {

// Runs an operation's body; an exception becomes "Erro desconhecido." and the fallback.
template <class T, class F>
T guarded(CECFBase& d, const char* where, T fallback, F body) {
  try {
    return body();
  } catch (...) {
    d.RecordError(where, text::cp("Erro desconhecido."));
    return fallback;
  }
}

// Logs "Retorno=TRUE" or "Retorno=FALSE" and passes the result on.
inline BOOL finish(CECFBase& d, const char* where, BOOL result) {
  d.Log(where, result ? "Retorno=TRUE" : "Retorno=FALSE");
  return result;
}

// A number that does not fit its field: nothing goes to the printer, the
// formatter's message is the operation's error.
inline BOOL refuse(CECFBase& d, const char* where, const std::string& message) {
  d.strLastError = message;
  d.Log(where, message);
  return finish(d, where, kFalse);
}

// Host text for a one-line field and for a text printed as lines (CR and LF
// kept): control bytes become blanks before the driver adds its own escapes.
inline std::string oneLine(const std::string& s) {
  return text::printable(s, text::LineBreaks::Blank);
}
inline std::string lines(const std::string& s) {
  return text::printable(s, text::LineBreaks::Keep);
}

// A text field of a reply, up to its first NUL, trailing blanks removed; only
// the bytes before limit count (the data before the status bytes).
inline std::string fieldText(const ByteArray& reply, size_t at, size_t size, size_t limit = std::string::npos) {
  limit = std::min(limit, reply.size());
  if (at >= limit) return {};
  const size_t n = std::min(size, limit - at);
  std::string s(reply.begin() + static_cast<long>(at), reply.begin() + static_cast<long>(at + n));
  return text::trimRight(s.substr(0, s.find('\0')));
}

// "d/m/yyyy" for the log lines, "0/0/0" for an invalid date.
inline std::string shortDate(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p)) return "0/0/0";
  return text::format("%d/%d/%d", p.day, p.month, p.year);
}

inline bool allZero(const ByteArray& bytes, size_t n) {
  for (size_t i = 0; i < n && i < bytes.size(); ++i)
    if (bytes[i]) return false;
  return true;
}

}  // namespace tarvion::bematech
