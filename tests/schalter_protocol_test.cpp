// The Schalter codec with literal bytes: frames and their check byte, raw text
// lines, the status table, the numeric fields and the reply readers.
#include "drivers/schalter/schalter_protocol.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

using namespace tarvion;
using namespace tarvion::schalter;
using text::cp;

TEST(SchalterCodec, FramesSumToZeroWithTheirCheckByte) {
  EXPECT_EQ(buildFrame({0x01}, {0x26}), (ByteArray{0x1B, 0x66, 0x01, 0x26, 0x58}));
  EXPECT_EQ(buildFrame({0xE4}, {0x00, 0x00}), (ByteArray{0x1B, 0x66, 0xE4, 0x00, 0x00, 0x9B}));
  EXPECT_EQ(buildFrame({0xE7}, {'0', '0'}), (ByteArray{0x1B, 0x66, 0xE7, 0x30, 0x30, 0x38}));
  // A sum that is already a multiple of 256 takes a zero check byte, not 0x100.
  EXPECT_EQ(buildFrame({0x10}, {0x6F}), (ByteArray{0x1B, 0x66, 0x10, 0x6F, 0x00}));
}

TEST(SchalterCodec, TextLinesGoRawAndANulInsideIsBlanked) {
  EXPECT_EQ(buildTextLine("OK"), (ByteArray{0x1B, 0x6E, 'O', 'K', 0x00, 0x0A}));
  EXPECT_EQ(buildTextLine(std::string("A\0B", 3)), (ByteArray{0x1B, 0x6E, 'A', ' ', 'B', 0x00, 0x0A}));
  EXPECT_EQ(buildTextLine(""), (ByteArray{0x1B, 0x6E, 0x00, 0x0A}));
}

TEST(SchalterCodec, StatusCodes) {
  EXPECT_TRUE(isSuccess(0));
  EXPECT_TRUE(isSuccess(27));
  EXPECT_FALSE(isSuccess(1));
  struct Case {
    uint8_t code;
    const char* message;
  };
  const Case cases[] = {
      {1, "Erro de checksum"},
      {16, "Erro múltiplo de comunicação"},
      {69, "Não começou venda"},
      {79, "Erro de checksum"},
      {120, "Seqüência de cheque incorreta"},
      {116, "Ajuste somente de +/- 1 hora"},
      {157, "Caracter proibido na codificação"},
      // Codes the table lacks, successes among them, carry no message.
      {5, ""},
      {93, ""},
      {27, ""},
      {255, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(statusMessage(c.code), cp(c.message)) << int(c.code);
  // The messages are Windows-1252 bytes.
  EXPECT_EQ(statusMessage(69), "N\xE3o come\xE7ou venda");
}

TEST(SchalterCodec, QuantityTakesThreeDecimalsBelowAThousandAndOneFromThere) {
  struct Case {
    double q;
    const char* text;
  };
  const Case cases[] = {{1.5, "001,500"},     {1500, "01500,0"}, {0.001, "000,001"},
                        {999.999, "999,999"}, {1000, "01000,0"}, {99999.94, "99999,9"}};
  for (const Case& c : cases) {
    const fields::Result r = quantity(c.q);
    EXPECT_TRUE(r.ok()) << c.q;
    EXPECT_EQ(r.text, c.text) << c.q;
  }
  EXPECT_FALSE(quantity(100000).ok());
  EXPECT_FALSE(quantity(-1).ok());
}

TEST(SchalterCodec, FixedTaxCodes) {
  EXPECT_EQ(fixedTaxCode(0), "17");
  EXPECT_EQ(fixedTaxCode(-1), "16");
  EXPECT_EQ(fixedTaxCode(-2), "18");
  EXPECT_EQ(fixedTaxCode(18), "");
  EXPECT_EQ(fixedTaxCode(-3), "");
}

TEST(SchalterCodec, ReplyReaders) {
  const std::string s = std::string(
                            "\x00"
                            "00T",
                            4) +
                        " 18,00" + "0042" + "AB  ";
  const ByteArray r(s.begin(), s.end());
  double v = 0;
  ASSERT_TRUE(numberAt(r, 4, 6, v));
  EXPECT_DOUBLE_EQ(v, 18.0);
  long long n = 0;
  ASSERT_TRUE(digitsAt(r, 10, 4, n));
  EXPECT_EQ(n, 42);
  EXPECT_FALSE(digitsAt(r, 6, 4, n));   // a comma among the digits
  EXPECT_FALSE(digitsAt(r, 14, 8, n));  // past the end
  EXPECT_FALSE(numberAt(r, 14, 4, v));  // not a number
  EXPECT_EQ(textAt(r, 14, 4), "AB");
  EXPECT_EQ(textAt(r, 40, 4), "");
  EXPECT_EQ(replyLength(kOpenReceipt), 1u);
  EXPECT_EQ(replyLength(kPendingRead), 60u);
}
