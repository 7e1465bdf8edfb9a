// Small helpers every Bematech operation shares: the exception guard, the result
// line (the core's, in this family's form), and reading fields out of a reply.
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

// "Retorno=TRUE" or "Retorno=FALSE"; a refusal logs its message before it.
inline constexpr auto& finish = op::finish<op::ResultLine::Bare>;
inline constexpr auto& refuse = op::refuse<op::ResultLine::Bare>;

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
