// The numeric field formatter and the text filter shared by every family.
#include "core/fields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/text.h"

using namespace tarvion;
using fields::Field;
using fields::Rounding;
using text::cp;

namespace {

constexpr Field kQty{"Quantidade", 7, 3};
constexpr Field kAmount{"Valor", 14, 2};
constexpr Field kCut{"Valor", 14, 2, Rounding::TowardZero};
constexpr Field kSigned{"Ajuste", 6, 2, Rounding::HalfAwayFromZero, true};
constexpr Field kPointed{"Pre\xE7o", 7, 2, Rounding::HalfAwayFromZero, false, ','};
constexpr Field kCounter{"Contador", 4};

struct Row {
  double value;
  const Field* field;
  const char* text;   // expected field, or nullptr when refused
  const char* error;  // expected message (UTF-8), when refused
};

std::string show(const Row& r) {
  return std::string(r.field->name) + " <- " + std::to_string(r.value);
}

}  // namespace

TEST(Fields, FitsOrIsRefusedAtTheExactBoundary) {
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {
      // Quantities: 7 digits, 3 implied decimals.
      {0, &kQty, "0000000", nullptr},
      {1.5, &kQty, "0001500", nullptr},
      {9999.999, &kQty, "9999999", nullptr},
      {9999.9994, &kQty, "9999999", nullptr},
      // Rounding that carries into an eighth digit is refused, not widened.
      {9999.9995, &kQty, nullptr, "Quantidade fora da faixa permitida (máximo 9999,999)."},
      {10000, &kQty, nullptr, "Quantidade fora da faixa permitida (máximo 9999,999)."},
      {99999999999.0, &kQty, nullptr, "Quantidade fora da faixa permitida (máximo 9999,999)."},
      {-1, &kQty, nullptr, "Quantidade fora da faixa permitida (mínimo 0)."},
      {-0.0004, &kQty, "0000000", nullptr},  // rounds to nothing: no sign to refuse
      {-0.0, &kQty, "0000000", nullptr},
      {NAN, &kQty, nullptr, "Quantidade fora da faixa permitida (valor não numérico)."},
      {inf, &kQty, nullptr, "Quantidade fora da faixa permitida (máximo 9999,999)."},
      {-inf, &kQty, nullptr, "Quantidade fora da faixa permitida (mínimo 0)."},
      {1e300, &kQty, nullptr, "Quantidade fora da faixa permitida (máximo 9999,999)."},
      // Amounts: 14 digits in cents, rounded on the exact binary value.
      {999999999999.99, &kAmount, "99999999999999", nullptr},
      {1000000000000.0, &kAmount, nullptr, "Valor fora da faixa permitida (máximo 999999999999,99)."},
      {10.009, &kAmount, "00000000001001", nullptr},
      // The value is scaled by one multiplication, as value * 100 always was; the
      // products below are exact ties (0.5, 1.5, 267.5) and go away from zero.
      {0.005, &kAmount, "00000000000001", nullptr},
      {0.015, &kAmount, "00000000000002", nullptr},
      {2.675, &kAmount, "00000000000268", nullptr},
      // Cut toward zero.
      {10.009, &kCut, "00000000001000", nullptr},
      {999999999999.999, &kCut, "99999999999999", nullptr},
      {1e12, &kCut, nullptr, "Valor fora da faixa permitida (máximo 999999999999,99)."},
      // A signed field: '-' takes the first character, printf's way.
      {-150.7, &kSigned, "-15070", nullptr},
      {-999.99, &kSigned, "-99999", nullptr},
      {-1000, &kSigned, nullptr, "Ajuste fora da faixa permitida (mínimo -999,99)."},
      {9999.99, &kSigned, "999999", nullptr},
      {10000, &kSigned, nullptr, "Ajuste fora da faixa permitida (máximo 9999,99)."},
      // A written decimal point counts in the width.
      {12.5, &kPointed, "0012,50", nullptr},
      {0.05, &kPointed, "0000,05", nullptr},
      {9999.995, &kPointed, nullptr, "Preço fora da faixa permitida (máximo 9999,99)."},
  };
  for (const Row& r : rows) {
    const fields::Result got = fields::format(r.value, *r.field);
    if (r.text) {
      EXPECT_TRUE(got.ok()) << show(r) << ": " << got.error;
      EXPECT_EQ(got.text, r.text) << show(r);
      EXPECT_EQ(got.text.size(), static_cast<size_t>(r.field->width)) << show(r);
    } else {
      EXPECT_FALSE(got.ok()) << show(r) << " gave " << got.text;
      EXPECT_EQ(got.error, cp(r.error)) << show(r);
      EXPECT_EQ(got.text, "") << show(r);
    }
  }
}

TEST(Fields, WholeNumbers) {
  const struct {
    long long value;
    const Field* field;
    const char* text;
    const char* error;
  } rows[] = {
      {0, &kCounter, "0000", nullptr},
      {9999, &kCounter, "9999", nullptr},
      {10000, &kCounter, nullptr, "Contador fora da faixa permitida (máximo 9999)."},
      {-1, &kCounter, nullptr, "Contador fora da faixa permitida (mínimo 0)."},
      {std::numeric_limits<long long>::min(), &kCounter, nullptr, "Contador fora da faixa permitida (mínimo 0)."},
      {std::numeric_limits<long long>::max(), &kCounter, nullptr, "Contador fora da faixa permitida (máximo 9999)."},
      // A whole number in a field with implied decimals: 12 units are 1200 cents.
      {12, &kAmount, "00000000001200", nullptr},
      {-12, &kSigned, "-01200", nullptr},
  };
  for (const auto& r : rows) {
    const fields::Result got = fields::format(r.value, *r.field);
    if (r.text) {
      EXPECT_EQ(got.text, r.text) << r.value;
      EXPECT_TRUE(got.ok()) << r.value;
    } else {
      EXPECT_EQ(got.error, cp(r.error)) << r.value;
    }
  }
}

TEST(Fields, LimitsAsTheMessagesShowThem) {
  EXPECT_EQ(fields::limitText(kQty), "9999,999");
  EXPECT_EQ(fields::limitText(kAmount), "999999999999,99");
  EXPECT_EQ(fields::limitText(kCounter), "9999");
  EXPECT_EQ(fields::limitText(Field{"x", 2, 3}), "0,099");
  EXPECT_EQ(fields::limitText(kPointed), "9999,99");
}

TEST(Fields, CheckedKeepsTheFirstRefusal) {
  fields::Checked num;
  EXPECT_EQ(num(1.5, kQty), "0001500");
  EXPECT_TRUE(num.ok());
  EXPECT_EQ(num(1e6, kQty), "");
  EXPECT_EQ(num(-1.0, kAmount), "");  // not formatted: the first message stays
  EXPECT_FALSE(num.ok());
  EXPECT_EQ(num.error(), cp("Quantidade fora da faixa permitida (máximo 9999,999)."));
}

TEST(Fields, PrintfFixedKeepsTheLogFormat) {
  EXPECT_EQ(fields::printfFixed(1.5, 0, 6), "1.500000");
  EXPECT_EQ(fields::printfFixed(-50, 14, 0), "-0000000000050");
  EXPECT_EQ(fields::printfFixed(123456789012.0, 4, 0), "123456789012");
  EXPECT_EQ(fields::printfFixed(NAN, 5, 0), "  nan");
}

TEST(TextFilter, ControlBytesBecomeBlanksPerFieldKind) {
  static const char kNasty[] =
      "AB\0CD\x1b"
      "EF\x1c"
      "G\x7fH\tI\r\nJ\x80\xe7";
  const std::string nasty(kNasty, sizeof kNasty - 1);
  // One-line fields: every control byte, line breaks too.
  EXPECT_EQ(text::printable(nasty, text::LineBreaks::Blank), std::string("AB CD EF G H I  J\x80\xe7"));
  // Texts printed as lines keep CR and LF, nothing else.
  EXPECT_EQ(text::printable(nasty, text::LineBreaks::Keep), std::string("AB CD EF G H I\r\nJ\x80\xe7"));
  EXPECT_EQ(text::printable("", text::LineBreaks::Keep), "");
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string out = text::printable(all);
  ASSERT_EQ(out.size(), 256u);
  for (int b = 0; b < 256; ++b) {
    const bool control = b < 0x20 || b == 0x7F;
    EXPECT_EQ(static_cast<uint8_t>(out[static_cast<size_t>(b)]), control ? 0x20 : b) << b;
  }
}
