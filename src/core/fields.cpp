#include "core/fields.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "core/text.h"

namespace tarvion::fields {

namespace {

// Decimal digits needed to write the double exactly: its binary fraction bits.
int exactFractionDigits(double x) {
  if (x == 0.0) return 0;
  int e = 0;
  const double m = std::frexp(x, &e);  // x = m * 2^e, 0.5 <= m < 1
  const auto mant = static_cast<uint64_t>(std::ldexp(m, 53));
  const int exp2 = e - 53;
  if (exp2 >= 0) return 0;
  const int frac = -exp2 - std::countr_zero(mant);
  return frac > 0 ? frac : 0;
}

// Digits of |x| (finite, not negative) rounded to `decimals`, half away from zero
// on the exact value: the C library's to_chars would round exact ties to even.
std::string roundedDigits(double x, int decimals) {
  const int exact = exactFractionDigits(x);
  if (exact <= decimals) {
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
  }
  std::string s(400 + static_cast<size_t>(exact), '\0');
  auto r = std::to_chars(s.data(), s.data() + s.size(), x, std::chars_format::fixed, exact);
  s.resize(static_cast<size_t>(r.ptr - s.data()));
  const size_t dot = s.find('.');
  const size_t keep = decimals > 0 ? dot + 1 + static_cast<size_t>(decimals) : dot;
  const bool up = s[dot + 1 + static_cast<size_t>(decimals)] >= '5';
  s.resize(keep);
  if (up) {
    size_t i = s.size();
    bool carry = true;
    while (carry && i-- > 0) {
      if (s[i] == '.') continue;
      if (s[i] == '9') {
        s[i] = '0';
      } else {
        ++s[i];
        carry = false;
      }
    }
    if (carry) s.insert(s.begin(), '1');
  }
  return s;
}

// The whole part of |x| (finite), cut toward zero.
std::string truncatedDigits(double x) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, std::trunc(x), std::chars_format::fixed, 0);
  return std::string(buf, r.ptr);
}

double pow10(int n) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (n <= 0) return 1.0;
  if (n < 23) return kPowers[n];
  return std::pow(10.0, n);
}

std::string withoutLeadingZeros(std::string digits) {
  const size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : digits.substr(first);
}

// Digits the field has room for: its width less the point and, for a negative
// value, the sign.
int capacity(const Field& f, bool negative) {
  return f.width - (f.point ? 1 : 0) - (negative ? 1 : 0);
}

// n nines with the comma before the last `decimals` of them.
std::string nines(int n, int decimals) {
  if (n <= 0) return "0";
  std::string s(static_cast<size_t>(n), '9');
  if (decimals <= 0) return s;
  if (decimals >= n) s.insert(0, static_cast<size_t>(decimals - n + 1), '0');
  s.insert(s.size() - static_cast<size_t>(decimals), 1, ',');
  return s;
}

std::string outOfRange(const Field& f, const std::string& detail) {
  return std::string(f.name) + text::cp(" fora da faixa permitida (") + detail + ").";
}

std::string tooLarge(const Field& f) {
  return outOfRange(f, text::cp("máximo ") + limitText(f));
}

std::string tooSmall(const Field& f) {
  std::string least = text::cp("mínimo ");
  if (f.sign) {
    least += '-';
    least += nines(capacity(f, true), f.decimals);
  } else {
    least += '0';
  }
  return outOfRange(f, least);
}

// The field from the magnitude's digits (no leading zeros) and the sign.
Result place(const Field& f, const std::string& digits, bool negative) {
  if (digits == "0") negative = false;  // what rounds to nothing has no sign
  if (negative && !f.sign) return {{}, tooSmall(f)};
  const int room = capacity(f, negative);
  std::string body = digits;
  // With a point the text needs a digit before it: "0,50".
  const size_t least = f.point ? static_cast<size_t>(f.decimals) + 1 : 1;
  if (body.size() < least) body.insert(0, least - body.size(), '0');
  if (room < 0 || body.size() > static_cast<size_t>(room)) return {{}, negative ? tooSmall(f) : tooLarge(f)};
  body.insert(0, static_cast<size_t>(room) - body.size(), '0');
  if (f.point && f.decimals > 0) body.insert(body.size() - static_cast<size_t>(f.decimals), 1, f.point);
  if (negative) body.insert(body.begin(), '-');
  return {body, {}};
}

}  // namespace

std::string limitText(const Field& field) {
  return nines(capacity(field, false), field.decimals);
}

Result format(double value, const Field& field) {
  if (std::isnan(value)) return {{}, outOfRange(field, text::cp("valor não numérico"))};
  if (std::isinf(value)) return {{}, value > 0 ? tooLarge(field) : tooSmall(field)};
  // One multiplication by the exact power of ten, as the drivers always wrote
  // value * 100 or value * 1000: repeated steps of 10 would round differently.
  const double scaled = value * pow10(field.decimals);
  // Beyond the double range after scaling there is nothing to write either.
  if (std::isinf(scaled)) return {{}, value > 0 ? tooLarge(field) : tooSmall(field)};
  const bool negative = std::signbit(scaled);
  const double magnitude = std::fabs(scaled);
  const std::string digits =
      field.rounding == Rounding::TowardZero ? truncatedDigits(magnitude) : roundedDigits(magnitude, 0);
  return place(field, withoutLeadingZeros(digits), negative);
}

Result format(long long value, const Field& field) {
  const bool negative = value < 0;
  const unsigned long long magnitude =
      negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  std::string digits = std::to_string(magnitude);
  if (magnitude != 0 && field.decimals > 0) digits.append(static_cast<size_t>(field.decimals), '0');
  return place(field, digits, negative);
}

std::string printfFixed(double value, int width, int decimals) {
  if (std::isnan(value) || std::isinf(value)) {
    std::string out = std::string(std::signbit(value) ? "-" : "") + (std::isnan(value) ? "nan" : "inf");
    if (width > 0 && out.size() < static_cast<size_t>(width))
      out.insert(0, static_cast<size_t>(width) - out.size(), ' ');
    return out;
  }
  std::string body = roundedDigits(std::fabs(value), decimals);
  const bool negative = std::signbit(value);
  const size_t signSize = negative ? 1 : 0;
  if (width > 0 && body.size() + signSize < static_cast<size_t>(width))
    body.insert(0, static_cast<size_t>(width) - body.size() - signSize, '0');
  if (negative) body.insert(body.begin(), '-');
  return body;
}

std::string textTooLong(std::string_view name, size_t size, size_t limit) {
  return std::string(name) + " com " + std::to_string(size) + " caracteres excede o limite de " +
         std::to_string(limit) + " caracteres do comando do ECF.";
}

}  // namespace tarvion::fields
