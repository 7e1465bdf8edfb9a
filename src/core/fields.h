// Numeric fields of printer commands. Every protocol sends amounts, quantities and
// counters as fixed-width digit text; a value with more digits than its field
// must never widen it (the printer would read every later field shifted and
// record another amount for good), so the formatter refuses it and says why in
// Portuguese (Windows-1252), naming the field and its limit.
//
// The digits come from our own code, never from the process locale: the scaled
// value's exact binary expansion is rounded half away from zero (or cut toward
// zero), the way the drivers have always written their "%0*.0f" fields.
#pragma once

#include <string>
#include <string_view>

namespace tarvion::fields {

enum class Rounding {
  HalfAwayFromZero,  // "%0*.0f" of the scaled value
  TowardZero,        // "%0*i" of the scaled value cut as a C cast does
};

// How one numeric field of a command is written.
struct Field {
  std::string_view name;  // Portuguese (Windows-1252), for the messages: "Quantidade"
  int width = 0;          // characters of the field, sign and decimal point included
  int decimals = 0;       // the value goes out times 10^decimals (implied decimals)
  Rounding rounding = Rounding::HalfAwayFromZero;
  bool sign = false;  // negative values allowed: '-' takes the first character
  char point = 0;     // when set, written before the last `decimals` digits
};

// The outcome of formatting one value: the field's text, or the message when the
// value does not fit.
struct Result {
  std::string text;
  std::string error;
  bool ok() const { return error.empty(); }
};

// value * 10^decimals, rounded as the field says, in exactly field.width
// characters (zeros lead). Refused: NaN, infinities, negatives in a field without
// a sign, and anything with more digits than the field holds after the rounding
// (9999.9995 in a 7-digit field of 3 decimals rounds to 10000000 and is refused).
Result format(double value, const Field& field);
// The same for a whole number (counters, item numbers, indexes).
Result format(long long value, const Field& field);
inline Result format(long value, const Field& field) {
  return format(static_cast<long long>(value), field);
}
inline Result format(int value, const Field& field) {
  return format(static_cast<long long>(value), field);
}

// The largest value the field holds, as the messages show it: decimal comma, no
// grouping ("9999,999", "999999999999,99", "9999").
std::string limitText(const Field& field);

// Collects the fields of one command: after the first refusal the others are
// not formatted and error() keeps that first message. A driver formats every
// number of a command first and sends nothing when !ok().
class Checked {
 public:
  template <class T>
  std::string operator()(T value, const Field& field) {
    if (!error_.empty()) return {};
    Result r = format(value, field);
    error_ = std::move(r.error);
    return std::move(r.text);
  }
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  std::string error_;
};

// A text too long for the command that carries it (a frame whose length field
// would wrap): "<name> com <size> caracteres excede o limite de <limit>
// caracteres do comando do ECF."
std::string textTooLong(std::string_view name, size_t size, size_t limit);

// printf's "%0<width>.<decimals>f" without the locale, for logs and lookup keys:
// a minimum width, the sign before the zero padding, "nan"/"inf" padded with
// blanks. Never for a field sent to a printer: it widens instead of refusing.
std::string printfFixed(double value, int width, int decimals);

}  // namespace tarvion::fields
