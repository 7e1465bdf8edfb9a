#include "core/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tarvion::text {
namespace {

// Code points of bytes 0x80..0x9F in Windows-1252; 0 marks the five undefined bytes,
// which map to the C1 control of the same value, as Windows itself does.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t toCodePoint(uint8_t b) {
  if (b >= 0x80 && b < 0xA0 && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

// Best-fit byte for a code point; '?' when Windows-1252 has no such character.
uint8_t fromCodePoint(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<uint8_t>(c);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == c) return static_cast<uint8_t>(0x80 + i);
  if (c >= 0x80 && c < 0xA0) return static_cast<uint8_t>(c);
  return '?';
}

// Decodes one UTF-8 sequence; malformed input yields U+FFFD and advances one byte.
char32_t nextUtf8(std::string_view s, size_t& i) {
  auto b = static_cast<uint8_t>(s[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k < len; ++k) {
    auto cb = static_cast<uint8_t>(s[i + k]);
    if ((cb & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (cb & 0x3F);
  }
  i += len;
  return c;
}

uint8_t upperByte(uint8_t b) {
  if (b >= 'a' && b <= 'z') return b - 32;
  if ((b >= 0xE0 && b <= 0xFE && b != 0xF7)) return b - 32;
  if (b == 0x9A || b == 0x9C || b == 0x9E) return b - 16;  // š œ ž
  if (b == 0xFF) return 0x9F;                              // ÿ
  return b;
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out += static_cast<char>(fromCodePoint(nextUtf8(utf8, i)));
  return out;
}

std::string cp1252ToUtf8(std::string_view cp) {
  std::string out;
  out.reserve(cp.size() + cp.size() / 4);
  for (char ch : cp) appendUtf8(out, toCodePoint(static_cast<uint8_t>(ch)));
  return out;
}

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  for (char ch : bytes) appendUtf8(out, static_cast<uint8_t>(ch));
  return out;
}

std::string utf8ToLatin1(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    char32_t c = nextUtf8(utf8, i);
    out += static_cast<char>(c <= 0xFF ? c : '?');
  }
  return out;
}

std::u16string cp1252ToUtf16(std::string_view cp) {
  std::u16string out;
  out.reserve(cp.size());
  for (char ch : cp) out += static_cast<char16_t>(toCodePoint(static_cast<uint8_t>(ch)));
  return out;
}

std::string utf16ToCp1252(std::u16string_view w) {
  std::string out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    char32_t c = w[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    }
    out += static_cast<char>(fromCodePoint(c));
  }
  return out;
}

std::string upper(std::string_view cp) {
  std::string out(cp);
  for (auto& ch : out) ch = static_cast<char>(upperByte(static_cast<uint8_t>(ch)));
  return out;
}

namespace {
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
}  // namespace

std::string trimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && isBlank(s[n - 1])) --n;
  return std::string(s.substr(0, n));
}

std::string trimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isBlank(s[i])) ++i;
  return std::string(s.substr(i));
}

std::string trim(std::string_view s) {
  return trimLeft(trimRight(s));
}

std::string vformat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, ap);
  out.resize(n);
  return out;
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vformat(fmt, ap);
  va_end(ap);
  return s;
}

std::string fixed(double value, int decimals, char separator) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  std::string out(buf, res.ptr);
  if (separator != '.') {
    auto dot = out.find('.');
    if (dot != std::string::npos) out[dot] = separator;
  }
  return out;
}

bool parseDecimal(std::string_view s, double& out) {
  std::string t = trim(s);
  for (auto& c : t)
    if (c == ',') c = '.';
  if (t.empty()) return false;
  const char* b = t.data();
  if (*b == '+') ++b;
  auto res = std::from_chars(b, t.data() + t.size(), out);
  return res.ec == std::errc() && res.ptr == t.data() + t.size();
}

std::string printable(std::string_view cp, LineBreaks breaks) {
  std::string out(cp);
  for (char& ch : out) {
    const auto b = static_cast<uint8_t>(ch);
    if (b >= 0x20 && b != 0x7F) continue;
    if (breaks == LineBreaks::Keep && (b == '\r' || b == '\n')) continue;
    ch = ' ';
  }
  return out;
}

std::string readableDump(const uint8_t* data, size_t n) {
  if (data == nullptr) return "NULL";
  std::string out;
  char buf[16];
  for (size_t i = 0; i < n; ++i) {
    if (data[i] >= 32 && data[i] <= 127)
      std::snprintf(buf, sizeof buf, "%c[%X]", data[i], data[i]);
    else
      std::snprintf(buf, sizeof buf, "[%X]", data[i]);
    out += buf;
  }
  return out;
}

std::string hexDump(const uint8_t* data, size_t n) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

}  // namespace tarvion::text

namespace tarvion::text {
namespace {
// Unicode of code page 850, bytes 0x80..0xFF.
constexpr char16_t k850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
    0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};
}  // namespace

std::string cp850ToCp1252(std::string_view oem) {
  std::string out;
  out.reserve(oem.size());
  for (char ch : oem) {
    auto b = static_cast<uint8_t>(ch);
    out += b < 0x80 ? ch : static_cast<char>(fromCodePoint(k850[b - 0x80]));
  }
  return out;
}

std::string cp1252ToCp850(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char ch : ansi) {
    auto b = static_cast<uint8_t>(ch);
    if (b < 0x80) {
      out += ch;
      continue;
    }
    char32_t c = toCodePoint(b);
    char r = '?';
    for (int i = 0; i < 128; ++i)
      if (k850[i] == c) {
        r = static_cast<char>(0x80 + i);
        break;
      }
    out += r;
  }
  return out;
}

}  // namespace tarvion::text
