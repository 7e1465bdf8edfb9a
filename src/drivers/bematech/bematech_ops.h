// Small helpers every Bematech operation shares: the exception guard, the result
// line, and reading fields out of a reply.
#pragma once

#include <algorithm>
#include <string>

#include "core/datetime.h"
#include "core/ecf_base.h"
#include "core/operation.h"
#include "core/text.h"

namespace tarvion::bematech {

using op::guarded;
using op::lines;
using op::oneLine;

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
