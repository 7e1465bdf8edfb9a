#include "emulator/fiscnet/codec.h"

#include <cstdio>

namespace tarvion::emulator::fiscnet {

namespace {

bool digit(char c) {
  return c >= '0' && c <= '9';
}

// The parameters between the command and the length: Name=value separated by
// blanks, a value either bare or quoted.
bool parseParams(std::string_view s, std::map<std::string, std::string>& out) {
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == ' ') ++i;
    if (i >= s.size()) break;
    const size_t eq = s.find('=', i);
    if (eq == std::string_view::npos || eq == i) return false;
    const std::string name(s.substr(i, eq - i));
    if (name.find_first_of(" \";") != std::string::npos) return false;
    i = eq + 1;
    std::string value;
    if (i < s.size() && s[i] == '"') {
      ++i;
      bool closed = false;
      while (i < s.size()) {
        const char c = s[i++];
        if (c == '\\' && i < s.size()) {
          const char e = s[i];
          if (e == '\\' || e == '"') {
            value += e;
            ++i;
            continue;
          }
          value += c;  // other escapes (\x00) stay as written
          continue;
        }
        if (c == '"') {
          closed = true;
          break;
        }
        value += c;
      }
      if (!closed) return false;
      if (i < s.size() && s[i] != ' ') return false;
    } else {
      const size_t end = s.find(' ', i);
      value = std::string(s.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
      i = end == std::string_view::npos ? s.size() : end;
    }
    if (out.count(name)) return false;  // declared twice
    out[name] = value;
  }
  return true;
}

}  // namespace

FrameState parseRequest(const uint8_t* data, size_t n, Request& out) {
  out = Request{};
  if (n == 0) return FrameState::Incomplete;
  if (data[0] != '{') {
    size_t skip = 1;
    while (skip < n && data[skip] != '{') ++skip;
    out.size = skip;
    return FrameState::NotAFrame;
  }
  // The closing brace outside a quoted text.
  bool quoted = false;
  size_t end = 0;
  for (size_t i = 1; i < n; ++i) {
    const char c = static_cast<char>(data[i]);
    if (quoted) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == '{') {
      // A new frame starts before this one ended: the first is torn.
      out.size = i;
      return FrameState::NotAFrame;
    } else if (c == '}') {
      end = i;
      break;
    }
  }
  if (end == 0) return FrameState::Incomplete;
  out.size = end + 1;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, end - 1);
  // seq ; command ; params ; length
  const size_t a = body.find(';');
  const size_t lastSemi = body.rfind(';');
  out.syntaxError = true;
  if (a == std::string_view::npos || lastSemi == a) return FrameState::Frame;
  long seq = 0;
  if (!parseInt(body.substr(0, a), seq) || seq < 0 || seq > 254) return FrameState::Frame;
  out.seq = static_cast<int>(seq);
  long length = 0;
  if (!parseInt(body.substr(lastSemi + 1), length) || length != static_cast<long>(lastSemi + 1))
    return FrameState::Frame;
  const size_t b = body.find(';', a + 1);
  out.command = std::string(body.substr(a + 1, b - a - 1));
  if (out.command.empty()) return FrameState::Frame;
  // The parameter field: ";" alone when there are none, else ";p1 p2".
  std::string_view params = body.substr(b, lastSemi - b);
  if (params == ";")
    params = {};
  else if (!params.empty())
    params.remove_prefix(1);
  if (!parseParams(params, out.params)) return FrameState::Frame;
  out.syntaxError = false;
  return FrameState::Frame;
}

ByteArray buildReply(int seq, int code, const std::vector<std::string>& results) {
  std::string s = "{" + std::to_string(seq) + ";" + std::to_string(code) + ";";
  for (size_t i = 0; i < results.size(); ++i) {
    if (i) s += ';';
    s += results[i];
  }
  s += ';';
  const size_t length = s.size() - 1;
  s += std::to_string(length) + "}";
  return ByteArray(s.begin(), s.end());
}

std::string money(int64_t cents) {
  const bool negative = cents < 0;
  uint64_t v = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
  std::string whole = std::to_string(v / 100);
  for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3) whole.insert(static_cast<size_t>(at), 1, '.');
  char frac[4];
  std::snprintf(frac, sizeof frac, "%02u", static_cast<unsigned>(v % 100));
  return (negative ? "-" : "") + whole + "," + frac;
}

std::string fixed3(int64_t t) {
  const bool negative = t < 0;
  uint64_t v = negative ? 0 - static_cast<uint64_t>(t) : static_cast<uint64_t>(t);
  char frac[5];
  std::snprintf(frac, sizeof frac, "%03u", static_cast<unsigned>(v % 1000));
  return (negative ? "-" : "") + std::to_string(v / 1000) + "," + frac;
}

bool parseDecimal(std::string_view s, int decimals, int64_t& out) {
  if (s.empty()) return false;
  bool negative = false;
  size_t i = 0;
  if (s[0] == '-') {
    negative = true;
    ++i;
  }
  int64_t whole = 0;
  size_t digits = 0;
  for (; i < s.size() && digit(s[i]); ++i, ++digits) {
    if (digits > 14) return false;
    whole = whole * 10 + (s[i] - '0');
  }
  int64_t frac = 0;
  int fracDigits = 0;
  if (i < s.size() && s[i] == ',') {
    for (++i; i < s.size() && digit(s[i]); ++i) {
      if (fracDigits >= decimals) return false;  // more precision than the field
      frac = frac * 10 + (s[i] - '0');
      ++fracDigits;
    }
  }
  if (i != s.size() || (digits == 0 && fracDigits == 0)) return false;
  for (int k = fracDigits; k < decimals; ++k) frac *= 10;
  int64_t scale = 1;
  for (int k = 0; k < decimals; ++k) scale *= 10;
  out = whole * scale + frac;
  if (negative) out = -out;
  return true;
}

bool parseInt(std::string_view s, long& out) {
  if (s.empty() || s.size() > 10) return false;
  size_t i = 0;
  bool negative = false;
  if (s[0] == '-') {
    negative = true;
    i = 1;
    if (s.size() == 1) return false;
  }
  long v = 0;
  for (; i < s.size(); ++i) {
    if (!digit(s[i])) return false;
    v = v * 10 + (s[i] - '0');
  }
  out = negative ? -v : v;
  return true;
}

bool parseFlag(std::string_view s, bool& out) {
  if (s == "T")
    out = true;
  else if (s == "F")
    out = false;
  else
    return false;
  return true;
}

bool parseDate(std::string_view s, int& day, int& month, int& year) {
  if (s.size() != 12 || s[0] != '#' || s[3] != '/' || s[6] != '/' || s[11] != '#') return false;
  long d = 0, m = 0, y = 0;
  if (!parseInt(s.substr(1, 2), d) || !parseInt(s.substr(4, 2), m) || !parseInt(s.substr(7, 4), y)) return false;
  if (d < 0 || m < 0 || y < 0) return false;
  day = static_cast<int>(d);
  month = static_cast<int>(m);
  year = static_cast<int>(y);
  return true;
}

bool parseTime(std::string_view s, int& hour, int& minute, int& second) {
  if (s.size() != 10 || s[0] != '#' || s[3] != ':' || s[6] != ':' || s[9] != '#') return false;
  long h = 0, m = 0, c = 0;
  if (!parseInt(s.substr(1, 2), h) || !parseInt(s.substr(4, 2), m) || !parseInt(s.substr(7, 2), c)) return false;
  if (h < 0 || h > 23 || m < 0 || m > 59 || c < 0 || c > 59) return false;
  hour = static_cast<int>(h);
  minute = static_cast<int>(m);
  second = static_cast<int>(c);
  return true;
}

std::string dateText(int day, int month, int year) {
  char b[16];
  std::snprintf(b, sizeof b, "#%02d/%02d/%04d#", day % 100, month % 100, year % 10000);
  return b;
}

std::string timeText(int hour, int minute, int second) {
  char b[16];
  std::snprintf(b, sizeof b, "#%02d:%02d:%02d#", hour % 100, minute % 100, second % 100);
  return b;
}

std::string quoted(std::string_view name, std::string_view value) {
  std::string s(name);
  s += "=\"";
  for (char c : value) {
    if (c == '"') continue;
    if (c == '\\') {
      s += '/';
      continue;
    }
    s += c;
  }
  s += '"';
  return s;
}

}  // namespace tarvion::emulator::fiscnet
