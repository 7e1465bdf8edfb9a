// Text helpers. Inside the drivers text is Windows-1252; these helpers convert at the
// boundaries and format numbers without ever consulting the process locale.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvion::text {

std::string utf8ToCp1252(std::string_view utf8);
std::string cp1252ToUtf8(std::string_view cp);
// Each byte becomes the code point of the same value (raw answers shown to hosts).
std::string latin1ToUtf8(std::string_view bytes);
// Appends the UTF-8 encoding of one code point.
void appendUtf8(std::string& out, char32_t c);
std::string utf8ToLatin1(std::string_view utf8);
std::u16string cp1252ToUtf16(std::string_view cp);
std::string utf16ToCp1252(std::u16string_view w);

// A UTF-8 literal as Windows-1252 bytes (source files are UTF-8).
inline std::string cp(std::string_view utf8) {
  return utf8ToCp1252(utf8);
}

// Code page 850 (the printers' OEM set) and Windows-1252, both ways; '?' where
// the other set has no such character.
std::string cp850ToCp1252(std::string_view oem);
std::string cp1252ToCp850(std::string_view ansi);

// Windows-1252 aware case mapping (accented letters included).
std::string upper(std::string_view cp);
std::string trimRight(std::string_view s);
std::string trimLeft(std::string_view s);
std::string trim(std::string_view s);

// printf-style formatting for integers and strings only: never use it for
// floating point, which would follow the host's locale.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list ap);

// Fixed-point text of a double with the given decimals and separator, rounded
// half away from zero; independent of the process locale.
std::string fixed(double value, int decimals, char separator = '.');

// Parses a decimal number written with '.' or ',' as separator; false on junk.
bool parseDecimal(std::string_view s, double& out);

// What a text field may carry besides printable characters.
enum class LineBreaks {
  Blank,  // one-line fields (descriptions, names, codes): CR and LF become blanks too
  Keep,   // texts printed as lines (reports, linked receipts, closing messages)
};
// Host text made safe for a printer's text field: every control byte (0x00 to
// 0x1F and 0x7F) becomes a blank, except CR and LF where the field keeps line
// breaks. A NUL would end the field early and an ESC or FS could be read as a
// command; the printer's own escapes are added by the drivers after this.
std::string printable(std::string_view cp, LineBreaks breaks = LineBreaks::Blank);

// "%c[%X]" for printable bytes, "[%X]" otherwise.
std::string readableDump(const uint8_t* data, size_t n);
// "%02x" per byte, lower case, no separators.
std::string hexDump(const uint8_t* data, size_t n);

}  // namespace tarvion::text
