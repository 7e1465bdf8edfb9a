// The Bematech parameter and reply fields as pure functions: no port involved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "core/text.h"
#include "drivers/bematech/CBematech.h"

using namespace tarvion;
using namespace tarvion::bematech::fmt;
using text::cp;

namespace {

// printf's answer, unless the value is an exact tie at the rounding digit (where
// the C library rounds to even and the target platform away from zero).
bool printfReference(double v, int width, int decimals, std::string& out) {
  char exact[512];
  std::snprintf(exact, sizeof exact, "%.80f", v);
  const char* dot = std::strchr(exact, '.');
  const char* tail = dot + 1 + decimals;
  if (*tail == '5') {
    bool zeros = true;
    for (const char* p = tail + 1; *p; ++p) zeros = zeros && *p == '0';
    if (zeros) return false;
  }
  char buf[512];
  std::snprintf(buf, sizeof buf, "%0*.*f", width, decimals, v);
  out = buf;
  return true;
}

}  // namespace

TEST(BematechFields, RoundedAndTruncatedAmounts) {
  using fields::format;
  // Binary fractions: 10.009 * 100 is a hair below 1000.9.
  EXPECT_EQ(format(10.009, field::kSubtotalIncrease).text, "00000000001000");
  EXPECT_EQ(format(10.009, field::kSubtotalDiscount).text, "00000000001001");
  EXPECT_EQ(format(2.99, field::kUnitPrice).text, "000002990");
  EXPECT_EQ(format(1.5, field::kQuantity).text, "0001500");
  EXPECT_EQ(format(1.005, field::kTaxRate).text, "0100");  // 100.4999... stays below the half
  // Ties go away from zero, as the target platform's printf does.
  EXPECT_EQ(fixedField(0.5, 0, 0), "1");
  EXPECT_EQ(fixedField(2.5, 0, 0), "3");
  EXPECT_EQ(fixedField(-2.5, 0, 0), "-3");
  EXPECT_EQ(fixedField(0.125, 0, 2), "0.13");
  EXPECT_EQ(fixedField(-0.125, 6, 2), "-00.13");
  EXPECT_EQ(fixedField(9.995, 0, 2), "9.99");  // 9.99499999... in binary
  EXPECT_EQ(fixedField(99.5, 0, 0), "100");
  // The log and key formatter keeps printf's minimum width; the fields sent to the
  // printer refuse what does not fit instead (no Bematech field has a sign).
  EXPECT_EQ(fixedField(1e20, 0, 0), "100000000000000000000");
  EXPECT_EQ(format(-0.5, field::kPayment).error, cp("Valor do pagamento fora da faixa permitida (mínimo 0)."));
  EXPECT_EQ(format(1234567890.12, field::kTaxRate).error, cp("Alíquota fora da faixa permitida (máximo 99,99)."));
  EXPECT_EQ(format(1e30, field::kSubtotalIncrease).error,
            cp("Acréscimo fora da faixa permitida (máximo 999999999999,99)."));
  EXPECT_FALSE(format(std::nan(""), field::kSubtotalIncrease).ok());
  EXPECT_EQ(fixedField(18, 5, 2), "18.00");
  EXPECT_EQ(fixedField(5, 5, 2), "05.00");
  EXPECT_EQ(fixedField(-3, 5, 2), "-3.00");
  EXPECT_EQ(logNumber(1.5), "1.500000");
  EXPECT_EQ(logNumber(0), "0.000000");
  // Not a number: blanks instead of zeros, as printf pads them.
  EXPECT_EQ(fixedField(std::nan(""), 9, 0), "      nan");
  EXPECT_EQ(fixedField(-INFINITY, 6, 0), "  -inf");
}

TEST(BematechFields, FixedFieldAgreesWithPrintfAwayFromTies) {
  std::mt19937_64 rng(20260504);
  std::uniform_real_distribution<double> amount(-100000.0, 100000.0);
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    // Amounts with a few decimals, like the host sends them, then scaled.
    const double v = static_cast<double>(static_cast<long long>(amount(rng) * 1000)) / 1000.0;
    for (int decimals : {0, 2, 6}) {
      const double scaled = decimals == 0 ? v * 100 : v;
      std::string expected;
      if (!printfReference(scaled, 14, decimals, expected)) continue;
      ASSERT_EQ(fixedField(scaled, 14, decimals), expected) << scaled << " " << decimals;
      ++compared;
    }
  }
  EXPECT_GT(compared, 50000);
}

TEST(BematechFields, TextPaddingAndPackedNumbers) {
  EXPECT_EQ(padRight("Dinheiro", 16), "Dinheiro        ");
  EXPECT_EQ(padRight("Cartao de credito longo", 16), "Cartao de credito longo");
  const uint8_t amount[10] = {0, 0, 0, 0, 0, 0, 0x01, 0x23, 0x45, 0x67};
  EXPECT_DOUBLE_EQ(static_cast<double>(bcdDecimal(amount, 10) / 10000.0L), 123.4567);
  // Twenty digits do not fit an unsigned 64-bit number; they still read right.
  const uint8_t big[10] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x90};
  EXPECT_DOUBLE_EQ(static_cast<double>(bcdDecimal(big, 10) / 10000.0L), 1234567890123456.789);
  const uint8_t cancel[7] = {0, 0, 0, 0, 0x01, 0x23, 0x45};
  EXPECT_DOUBLE_EQ(static_cast<double>(bcdDecimal(cancel, 7) / 100.0L), 123.45);
  const uint8_t fw[2] = {0x03, 0x10};
  EXPECT_EQ(hexDigitsValue(fw, 2), 310);
  const uint8_t junk[2] = {0x0A, 0x10};
  EXPECT_EQ(hexDigitsValue(junk, 2), 0);  // stops at the first nibble that is not a digit
}

TEST(BematechFields, TaxLabels) {
  EXPECT_EQ(taxKey(18, false), "T18.00");
  EXPECT_EQ(taxKey(5, true), "S05.00");
  EXPECT_EQ(taxKey(7.5, false), "T07.50");
  EXPECT_EQ(taxLabel(1, 18, false), "01T1800");
  EXPECT_EQ(taxLabel(12, 7.5, true), "12S0750");
  EXPECT_EQ(exemptLabel(0, false), "II");
  EXPECT_EQ(exemptLabel(-0.5, false), "II");  // truncated toward zero
  EXPECT_EQ(exemptLabel(-1, false), "FF");
  EXPECT_EQ(exemptLabel(-2, false), "NN");
  EXPECT_EQ(exemptLabel(-3, false), "");
  EXPECT_EQ(exemptLabel(0, true), "SI");
  EXPECT_EQ(exemptLabel(-1.9, true), "SF");
  EXPECT_EQ(exemptLabel(-2, true), "SN");
  EXPECT_EQ(lastItemLabel("II"), "I1");
  EXPECT_EQ(lastItemLabel("FF"), "F1");
  EXPECT_EQ(lastItemLabel("NN"), "N1");
  EXPECT_EQ(lastItemLabel("ABC"), "BS1");
  EXPECT_EQ(lastItemLabel("01T1800"), "01T1800");
  EXPECT_EQ(taxMissingMessage(18, false), cp("Alíquota de ICMS de 18.00% não cadastrada no ECF."));
  EXPECT_EQ(taxMissingMessage(5, true), cp("Alíquota de ISS de 05.00% não cadastrada no ECF."));
  EXPECT_EQ(taxMissingMessage(-3, false), cp("Alíquota de ICMS de -3.00% não cadastrada no ECF."));
}

TEST(BematechFields, ItemFields) {
  ItemFields f = itemFields("01T1800", 1.5, 2.99, 0);
  EXPECT_EQ(f.tax, "01");
  EXPECT_EQ(f.unitPrice, "000002990");
  EXPECT_EQ(f.quantity, "0001500");
  EXPECT_EQ(f.discount, "0000000000");
  EXPECT_EQ(f.increase, "0000000000");
  // A negative discount is an increase over the whole quantity.
  f = itemFields("II", 3, 1.0, -0.50);
  EXPECT_EQ(f.tax, "II");
  EXPECT_EQ(f.increase, "0000000150");
  EXPECT_EQ(f.discount, "0000000000");
  f = itemFields("02T0700", 2, 10.0, 0.255);
  EXPECT_EQ(f.discount, "0000000051");
  EXPECT_EQ(f.increase, "0000000000");
  EXPECT_EQ(f.error, "");
  // The MP-7000's narrower price and discount fields.
  f = itemFields("01T1800", 2, 3.5, 0, true);
  EXPECT_EQ(f.unitPrice, "00003500");
  EXPECT_EQ(f.discount, "00000000");
  f = itemFields("01T1800", 1, 100000, 0, true);
  EXPECT_EQ(f.error, cp("Valor unitário fora da faixa permitida (máximo 99999,999)."));
  EXPECT_EQ(itemFields("01T1800", 1, 100000, 0).unitPrice, "100000000");

  EXPECT_EQ(itemDescription("Arroz\r\nTipo 1   "), "Arroz  Tipo 1");
  // No letter at all: the twentieth character becomes a D.
  EXPECT_EQ(itemDescription("1234567890123456789012345"), "1234567890123456789D12345");
  EXPECT_EQ(itemDescription("12345"), "12345              D");
  EXPECT_EQ(itemDescription(std::string(300, 'x')), std::string(199, 'x'));
  EXPECT_EQ(itemDescription(std::string(198, 'x') + "  y"), std::string(198, 'x'));
  EXPECT_EQ(itemCode("789012345678901234"), "78901234567890");
  EXPECT_EQ(itemCode("123   "), "123");
  EXPECT_EQ(itemCode("1234567890123 5"), "1234567890123");
}

TEST(BematechFields, ClosingTextAndReportBlocks) {
  EXPECT_EQ(closingText("Obrigado", "", "", 48), "Obrigado");
  EXPECT_EQ(closingText("", "", "X", 48), "");
  const std::string l1 = "MD5: 0123456789abcdef", l2 = "PAF-ECF: 1.0";
  EXPECT_EQ(closingText("Volte sempre", l1, l2, 48), padRight(l1, 48) + padRight(l2, 48) + "Volte sempre");
  EXPECT_EQ(closingText("", l1, "", 48), padRight(l1, 48));
  EXPECT_EQ(closingText("", std::string(60, 'a'), "", 48), std::string(48, 'a'));
  EXPECT_EQ(closingText("m", "a", "b", 40), padRight("a", 40) + padRight("b", 40) + "m");

  std::string text;
  for (int i = 1; i <= 25; ++i) text += (i > 1 ? "\n" : "") + std::string("linha ") + std::to_string(i);
  auto blocks = reportBlocks(text, 48);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(std::count(blocks[0].begin(), blocks[0].end(), '\n'), 12);
  EXPECT_EQ(std::count(blocks[1].begin(), blocks[1].end(), '\n'), 12);
  EXPECT_EQ(blocks[2], "linha 25\n");
  EXPECT_EQ(blocks[0].substr(0, 16), "linha 1\nlinha 2\n");
  EXPECT_EQ(reportBlocks("a\r\nb\rc\nd", 48), std::vector<std::string>{"a\nb\nc\nd\n"});
  EXPECT_EQ(reportBlocks(std::string(60, 'z') + "\nfim   ", 48),
            std::vector<std::string>{std::string(48, 'z') + "\nfim\n"});
  EXPECT_EQ(reportBlocks("", 48), std::vector<std::string>{"\n"});
  EXPECT_EQ(reportBlocks("a\n", 48), std::vector<std::string>{"a\n\n"});
}

TEST(BematechFields, DatesAndTaxTables) {
  const DateTime z = DateTime::fromParts(2026, 12, 4, 17, 5, 9);
  EXPECT_EQ(dateTimeField(z), "041226170509");
  EXPECT_EQ(dateField(z), "041226");
  EXPECT_EQ(dateField(DateTime::invalid()), "");
  const uint8_t d[6] = {0x04, 0x12, 0x26, 0x17, 0x05, 0x09};
  DateParts p;
  ASSERT_TRUE(bcdDate(d, 6).parts(p));
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.hour, 17);
  EXPECT_EQ(p.second, 9);
  ASSERT_TRUE(bcdDate(d, 3).parts(p));
  EXPECT_EQ(p.hour, 0);
  const uint8_t bad[3] = {0x31, 0x02, 0x26};
  EXPECT_FALSE(bcdDate(bad, 3).valid());
  EXPECT_FALSE(bcdDate(d, 2).valid());

  EXPECT_EQ(taxFlags({0x40, 0x01}), "0100000000000001");
  EXPECT_EQ(taxFlags({}), std::string(16, '0'));
  const ByteArray rates{3, 0x18, 0x00, 0x05, 0x00, 0x07, 0x50, 0x12, 0x00};
  EXPECT_EQ(taxList(rates, "0100000000000000"), (std::vector<std::string>{"", "T18.00", "S05.00", "T07.50"}));
  // A count beyond the bytes stops at the bytes.
  EXPECT_EQ(taxList({16, 0x18, 0x00}, std::string(16, '0')), (std::vector<std::string>{"", "T18.00"}));
  EXPECT_EQ(taxList({}, ""), std::vector<std::string>{""});
}

TEST(BematechFields, ReplyLengthsOfTheCommands) {
  using tarvion::ByteArray;
  EXPECT_EQ(replyLength({0}, {}, false), 2u);
  EXPECT_EQ(replyLength({0}, {}, true), 4u);
  EXPECT_EQ(replyLength({63}, {'0', '1'}, false), 2u);
  EXPECT_EQ(replyLength({8}, {'0', 'i'}, false), 2u);
  EXPECT_EQ(replyLength({8}, {'0', 'r'}, false), std::nullopt);
  EXPECT_EQ(replyLength({69}, {}, true), std::nullopt);
  EXPECT_EQ(replyLength({35, 1}, {}, false), 4u);
  EXPECT_EQ(replyLength({35}, {1}, true), 6u);  // the sub-code given as a parameter
  EXPECT_EQ(replyLength({35, 0}, {}, false), 22u);
  EXPECT_EQ(replyLength({35, 3}, {}, false), 11u);
  EXPECT_EQ(replyLength({35, 27}, {}, false), 117u);
  EXPECT_EQ(replyLength({35, 32}, {}, false), std::nullopt);
  EXPECT_EQ(replyLength({35, 33}, {}, false), std::nullopt);
  EXPECT_EQ(replyLength({35}, {}, false), std::nullopt);
  EXPECT_EQ(replyLength({62, 55}, {}, false), 298u);
  EXPECT_EQ(replyLength({62}, {'0'}, false), std::nullopt);
  EXPECT_EQ(replyLength({26}, {}, true), 37u);
  EXPECT_EQ(replyLength({30}, {}, false), 5u);
  EXPECT_EQ(replyLength({71}, {'x'}, false), std::nullopt);
  EXPECT_EQ(replyLength({}, {}, false), std::nullopt);

  const ByteArray esc{0, 0, 'a', 'b', 0, 0};
  EXPECT_EQ(textOfReply(esc, false), "ab");
  const ByteArray fs{0, 0, 'a', 'b', 0, 0, 5, 0};
  EXPECT_EQ(textOfReply(fs, true), "ab");
  EXPECT_EQ(textOfReply({0, 0, 0}, false), "");
}
