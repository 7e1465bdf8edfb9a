#include "core/text.h"

#include <gtest/gtest.h>

using namespace tarvion;

TEST(Text, ConvertsBetweenUtf8AndWindows1252) {
  std::string cp = text::utf8ToCp1252("AÇÚCAR € ç");
  EXPECT_EQ(cp, std::string("A\xC7\xDA"
                            "CAR \x80 \xE7"));
  EXPECT_EQ(text::cp1252ToUtf8(cp), "AÇÚCAR € ç");
  // Characters outside the code page become '?', malformed UTF-8 too.
  EXPECT_EQ(text::utf8ToCp1252("日本"), "??");
  EXPECT_EQ(text::utf8ToCp1252(std::string("a\xFF"
                                           "b")),
            "a?b");
  EXPECT_EQ(text::cp1252ToUtf16("\x80"), u"\u20AC");
  EXPECT_EQ(text::utf16ToCp1252(u"Ação"), "A\xE7\xE3o");
}

TEST(Text, UpperCasesAccentedLetters) {
  EXPECT_EQ(text::upper(text::cp("ação ÿ")), text::cp("AÇÃO Ÿ"));
  EXPECT_EQ(text::upper(text::cp("÷")), text::cp("÷"));
}

TEST(Text, CodePage850RoundTrip) {
  std::string ansi = text::cp("Ação Ç");
  std::string oem = text::cp1252ToCp850(ansi);
  EXPECT_EQ(oem, std::string("A\x87\xC6o \x80"));
  EXPECT_EQ(text::cp850ToCp1252(oem), ansi);
}

TEST(Text, FormatsNumbersWithoutTheLocale) {
  EXPECT_EQ(text::fixed(2.5, 2), "2.50");
  EXPECT_EQ(text::fixed(1234.5678, 2, ','), "1234,57");
  EXPECT_EQ(text::fixed(-0.125, 6), "-0.125000");
  double d = 0;
  EXPECT_TRUE(text::parseDecimal(" 12,50 ", d));
  EXPECT_DOUBLE_EQ(d, 12.5);
  EXPECT_FALSE(text::parseDecimal("12x", d));
  EXPECT_FALSE(text::parseDecimal("", d));
}

TEST(Text, Dumps) {
  const uint8_t bytes[] = {0x41, 0x0D};
  EXPECT_EQ(text::readableDump(bytes, 2), "A[41][D]");
  EXPECT_EQ(text::readableDump(nullptr, 0), "NULL");
  const uint8_t hex[] = {0x02, 0xAB, 0xff};
  EXPECT_EQ(text::hexDump(hex, 3), "02abff");
}
