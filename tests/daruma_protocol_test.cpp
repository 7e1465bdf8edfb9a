// The Daruma codec as pure functions, both protocols: frames written out by
// hand byte for byte, replies taken apart, the two error tables at their edges,
// the values and the field limits.
#include "drivers/daruma/daruma_protocol.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

using namespace tarvion;
using text::cp;
namespace dr = tarvion::daruma;

namespace {

ByteArray bytes(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

}  // namespace

TEST(DarumaProtocol, FramesByteForByte) {
  // F 235 "0": the check byte is 1C ^ 46 ^ EB ^ 30 = 81.
  EXPECT_EQ(dr::buildFrame(ByteArray{'F', 235}, bytes("0")), (ByteArray{0x1C, 0x46, 0xEB, 0x30, 0x81, 0x00}));
  // F 232 without parameters: 1C ^ 46 ^ E8 = B2.
  EXPECT_EQ(dr::buildFrame(ByteArray{'F', 232}, {}), (ByteArray{0x1C, 0x46, 0xE8, 0xB2, 0x00}));
  // F 200 with three empty texts: the FF bytes cancel in pairs, 1C ^ 46 ^ C8 ^ FF = 6D.
  EXPECT_EQ(dr::buildFrame(ByteArray{'F', 200}, ByteArray{0xFF, 0xFF, 0xFF}),
            (ByteArray{0x1C, 0x46, 0xC8, 0xFF, 0xFF, 0xFF, 0x6D, 0x00}));
  EXPECT_TRUE(dr::buildFrame({}, bytes("0")).empty());
  // A register read goes bare.
  EXPECT_EQ(dr::registerRead(94), (ByteArray{0x1C, 0x52, 0xC8, 0x30, 0x39, 0x34}));
  EXPECT_EQ(dr::registerRead(1), (ByteArray{0x1C, 0x52, 0xC8, 0x30, 0x30, 0x31}));
  EXPECT_TRUE(dr::isRegisterRead(ByteArray{'R', 200}));
  EXPECT_TRUE(dr::isRegisterRead(ByteArray{'R', 201}));
  EXPECT_FALSE(dr::isRegisterRead(ByteArray{'F', 200}));
  EXPECT_FALSE(dr::isRegisterRead(ByteArray{'R', 200, '0'}));
  // The classic frame: ESC, the byte, the parameters as they are.
  EXPECT_EQ(dr::buildClassicFrame(ByteArray{207}, {}), (ByteArray{0x1B, 0xCF}));
  EXPECT_EQ(dr::buildClassicFrame(ByteArray{'p'}, bytes("000")), (ByteArray{0x1B, 0x70, 0x30, 0x30, 0x30}));
  EXPECT_TRUE(dr::buildClassicFrame({}, bytes("x")).empty());
}

TEST(DarumaProtocol, RepliesStartAtTheirColonAndEndAtTheirCR) {
  struct Case {
    std::string reply;
    size_t length;  // 0: not complete
    std::string body;
  } cases[] = {
      {":F\xEB"
       "000\r",
       7,
       ":F\xEB"
       "000"},
      {"\x11\x13noise:F\xEB"
       "014\r",
       14,
       ":F\xEB"
       "014"},
      {"\rnoise:abc\rmore", 11, ":abc"},  // a CR before the ':' does not end it
      {":F\xEB"
       "00",
       0,
       ":F\xEB"
       "00"},
      {"no colon\r", 0, ""},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    const ByteArray r = bytes(c.reply);
    EXPECT_EQ(dr::replyLength(r.data(), r.size()), c.length);
    EXPECT_EQ(std::string(dr::replyBody(r)), c.body);
  }
}

TEST(DarumaProtocol, TheFS600CodeAndItsMessage) {
  struct Case {
    std::string body;
    bool readable;
    int code;
    const char* message;
  } cases[] = {
      {":F\xEB"
       "000",
       true, 0, "Erro indefinido."},
      {":F\xEB"
       "001",
       true, 1, "ECF com falha mecânica."},
      {":F\xEB"
       "072",
       true, 72, "Fim do papel."},
      {":F\xEB"
       "166",
       true, 166, "Meio de pagamento estornado é igual ao efetivado."},
      {":F\xEB"
       "167",
       true, 167, "Erro indefinido."},
      {":F\xEB"
       "300",
       true, 300, "Erro indefinido."},
      {":F\xEB"
       "301",
       true, 301, "CFBP não habilitado."},
      {":F\xEB"
       "305",
       true, 305, "Operação disponível apenas em CF genérico ( não CFBP )."},
      {":F\xEB"
       "306",
       true, 306, "Erro indefinido."},
      {":F\xEB"
       "0A0",
       false, 0, nullptr},
      {":F\xEB"
       "00",
       false, 0, nullptr},
      {"F\xEB"
       "0000",
       false, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    int code = -1;
    ASSERT_EQ(dr::replyCode(c.body, code), c.readable);
    if (!c.readable) continue;
    EXPECT_EQ(code, c.code);
    if (code) {
      EXPECT_EQ(dr::errorText(code), cp(c.message));
    }
  }
  EXPECT_EQ(dr::messageCount(), 171u);
  EXPECT_EQ(dr::errorText(68), cp("Deve ajustar o relógio ( utilize o comando [FS] M <200> )."));
}

TEST(DarumaProtocol, ARegisterReplyMustNameTheRegisterAsked) {
  std::string v;
  EXPECT_TRUE(
      dr::registerValue(":\xC8"
                        "026000017",
                        200, 26, v));
  EXPECT_EQ(v, "000017");
  EXPECT_TRUE(
      dr::registerValue(":\xC8"
                        "108",
                        200, 108, v));
  EXPECT_EQ(v, "");
  v = "kept";
  EXPECT_FALSE(
      dr::registerValue(":\xC8"
                        "027000017",
                        200, 26, v));  // another register
  EXPECT_FALSE(
      dr::registerValue(":\xC9"
                        "026000017",
                        200, 26, v));  // another code byte
  EXPECT_FALSE(
      dr::registerValue(":R\xC8"
                        "040",
                        200, 26, v));  // a refusal
  EXPECT_FALSE(
      dr::registerValue(":\xC8"
                        "02",
                        200, 26, v));
  EXPECT_EQ(v, "kept");
}

TEST(DarumaProtocol, TheClassicErrorReply) {
  struct Case {
    std::string body;
    int code;  // -1: success
    const char* message;
  } cases[] = {
      {":E50", 50, "Sem papel."},
      {":E00", 0, "IF em modo manutenção. Foi ligada sem o jumper de operação."},
      {":E17", 17, "\"Estouro\" de capacidade numérica (overflow)."},
      {":E90", 90, "Erro na comunicação."},
      {":E52", 52, nullptr},
      {":E5", -1, nullptr},
      {":E501", -1, nullptr},
      {":e50", -1, nullptr},
      {":X50", -1, nullptr},
      {":000017", -1, nullptr},
      {"", -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    int code = -1;
    EXPECT_EQ(dr::classicError(c.body, code), c.code >= 0);
    if (c.code < 0) continue;
    EXPECT_EQ(code, c.code);
    const char* m = dr::classicMessageUtf8(code);
    if (c.message) {
      EXPECT_STREQ(m, c.message);
    } else {
      EXPECT_EQ(m, nullptr);
    }
  }
  EXPECT_EQ(dr::classicMessageCount(), 50u);
}

TEST(DarumaProtocol, ValuesAndTextFields) {
  long long n = 0;
  EXPECT_TRUE(dr::digitsValue("000123", n));
  EXPECT_EQ(n, 123);
  EXPECT_FALSE(dr::digitsValue("", n));
  EXPECT_FALSE(dr::digitsValue("12 3", n));
  EXPECT_FALSE(dr::digitsValue("-1", n));
  EXPECT_FALSE(dr::digitsValue(std::string(19, '9'), n));

  DateParts p;
  ASSERT_TRUE(dr::stampValue("04122026231005").parts(p));
  EXPECT_EQ(p.day * 1000000 + p.month * 10000 + p.year, 4122026);
  EXPECT_EQ(p.hour * 10000 + p.minute * 100 + p.second, 231005);
  ASSERT_TRUE(dr::stampValue("041226").parts(p));
  EXPECT_EQ(p.year, 2026);
  EXPECT_FALSE(dr::stampValue("00000000").valid());
  EXPECT_FALSE(dr::stampValue("31022026").valid());
  EXPECT_FALSE(dr::stampValue("0412202").valid());
  std::string f;
  ASSERT_TRUE(dr::dateField(DateTime::fromParts(2026, 12, 4, 23, 10, 5), true, f));
  EXPECT_EQ(f, "041226231005");
  ASSERT_TRUE(dr::dateField(DateTime::fromParts(2026, 1, 9), false, f));
  EXPECT_EQ(f, "090126");
  EXPECT_FALSE(dr::dateField(DateTime::invalid(), false, f));

  // Control bytes become blanks and the text terminator cannot end a text early.
  EXPECT_EQ(dr::textField("A\x1B"
                          "B\xFF"
                          "C\r\n"),
            "A ByC  ");
  EXPECT_EQ(dr::textField(cp("CAFÉ"), 3), "CAF");
  EXPECT_EQ(dr::textField("UN", 3, true), "UN ");
}

TEST(DarumaProtocol, NumericFieldsRefuseWhatTheyCannotHold) {
  struct Case {
    double value;
    fields::Field field;
    const char* text;  // null: refused
  } cases[] = {
      {2.5, dr::field::priceField(2), "00000250"},
      {999999.99, dr::field::priceField(2), "99999999"},
      {1000000, dr::field::priceField(2), nullptr},
      {3, dr::field::quantityField(2), "0000300"},
      {3, dr::field::quantityField(3), "0003000"},
      {1.5, dr::field::kItemDiscount, "00000000150"},
      {1.255, dr::field::kSubtotalIncrease, "000000000125"},  // cut, never rounded up
      {0.005, dr::field::kSubtotalDiscount, "000000000001"},  // rounded half away
      {-1, dr::field::kPayment, nullptr},
      {10, dr::field::kClassicPrice, "0000010000"},
      {2.5, dr::field::kClassicQuantity, "00002500"},
      {18, dr::field::kClassicRate, "1800"},
      {100, dr::field::kClassicRate, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const fields::Result r = fields::format(c.value, c.field);
    if (c.text) {
      EXPECT_EQ(r.text, c.text);
    } else {
      EXPECT_FALSE(r.ok()) << r.text;
    }
  }
  EXPECT_EQ(fields::format(1000L, dr::field::kItem).ok(), false);
  EXPECT_EQ(fields::format(7L, dr::field::kItem).text, "007");
}
