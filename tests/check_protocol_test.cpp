// The check printers' codec, byte for byte: the Perto frame and its status
// table, the Chronos frame and status byte, the Imprecheq frame, and the text
// layouts each prints. Every expected byte is written out by hand.
#include "drivers/check/check_protocol.h"

#include <gtest/gtest.h>

#include "core/text.h"

using namespace tarvion;
using namespace tarvion::check;
using text::cp;

namespace {

ByteArray bytes(std::initializer_list<int> list) {
  ByteArray b;
  for (int v : list) b.push_back(static_cast<uint8_t>(v));
  return b;
}
ByteArray of(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}
std::string same(const std::string& s) {
  return s;
}

}  // namespace

TEST(PertoCodec, FramesCarryTheirBlockCheck) {
  EXPECT_EQ(perto::frame(of("P"), {}), bytes({0x02, 0x50, 0x03, 0x51}));
  EXPECT_EQ(perto::frame(of(">"), {}), bytes({0x02, 0x3E, 0x03, 0x3F}));
  // "!" with 041226: 02 21 30 34 31 32 32 36 03, check 02^21^30^34^31^32^32^36^03 = 0x23.
  EXPECT_EQ(perto::frame(of("!"), of("041226")), bytes({0x02, 0x21, 0x30, 0x34, 0x31, 0x32, 0x32, 0x36, 0x03, 0x23}));
  EXPECT_EQ(perto::printParameters("000000012345", "0012"), "C000000012345001");
  fields::Checked num;
  EXPECT_EQ(num(123.45, perto::field::kValue), "000000012345");
  EXPECT_EQ(num(-1.0, perto::field::kValue), "");
  EXPECT_FALSE(num.ok());  // no sign in the field: refused before anything is built
}

TEST(PertoCodec, RepliesAndTheirStatus) {
  const ByteArray ok = bytes({0x02, '0', '0', '0', 0x03, 0x31});
  EXPECT_TRUE(perto::frameIntact(ok));
  EXPECT_FALSE(perto::frameIntact(bytes({0x02, '0', '0', '0', 0x03, 0x04})));        // wrong check byte
  EXPECT_FALSE(perto::frameIntact(bytes({0x02, '0', 'x', '0', 0x03, 0x4B})));        // not digits
  EXPECT_FALSE(perto::frameIntact(bytes({0x02, '0', 0x03, '0', '0', 0x03, 0x00})));  // ETX inside
  int code = -1;
  ASSERT_TRUE(perto::statusCode(ok, code));
  EXPECT_EQ(code, 0);

  // The library's reply comes without STX and ETX: framed, it reads the same.
  ByteArray lib = of("099");
  perto::frameReply(lib);
  EXPECT_EQ(lib, bytes({0x02, '0', '9', '9', 0x03}));
  ASSERT_TRUE(perto::statusCode(lib, code));
  EXPECT_EQ(code, 99);
  // A serial frame ending in ETX and its check byte is left alone.
  ByteArray serial = ok;
  perto::frameReply(serial);
  EXPECT_EQ(serial, ok);

  struct Case {
    int code;
    const char* message;
  } const cases[] = {
      {1, "Mensagem com dados inválidos."},
      {18, "Documento não inserido na máquina."},
      {14, "Erro no posicionamento da cabeça de impressão (relativo à S4)."},
      {97, "Cheque na posição errada."},
      {99, "99 - Erro indefinido."},
      {3, "3 - Erro indefinido."},
  };
  for (const Case& c : cases) EXPECT_EQ(perto::statusMessage(c.code), cp(c.message)) << c.code;
}

TEST(PertoCodec, TheCmc7LineSitsBetweenHeaderAndTrailer) {
  // Serial: STX "000" '<' line ':' ETX check.
  ByteArray serial =
      of("\x02"
         "000<00100011<0180000015>500001234565:\x03");
  serial.push_back(perto::blockCheck(serial.data(), serial.size()));
  EXPECT_EQ(perto::cmc7Line(serial, perto::kSerialTrailer), "00100011<0180000015>500001234565");
  // The library's text, framed: STX "000" '<' line ':' ETX.
  ByteArray lib = of("000<00100011<0180000015>500001234565:");
  perto::frameReply(lib);
  EXPECT_EQ(perto::cmc7Line(lib, perto::kLibraryTrailer), "00100011<0180000015>500001234565");
  EXPECT_EQ(perto::cmc7Line(of("\x02"
                               "000\x03"),
                            perto::kSerialTrailer),
            "");
}

TEST(PertoCodec, TextBlocksHoldFourteenLines) {
  const std::string three = perto::textBlock("  um  \r\ndois\rtres", same);
  EXPECT_EQ(three,
            "um\xFF"
            "dois\xFF"
            "tres\xFF"
            "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF");
  // A long line is cut to 78; lines past the fourteenth are not sent.
  std::string many;
  for (int i = 0; i < 20; ++i) many += std::string(90, 'a' + static_cast<char>(i)) + "\n";
  const std::string block = perto::textBlock(many, same);
  EXPECT_EQ(block.size(), 14u * 79u);
  EXPECT_EQ(block.substr(0, 79), std::string(78, 'a') + "\xFF");
  EXPECT_EQ(block.substr(13 * 79), std::string(78, 'n') + "\xFF");

  EXPECT_EQ(perto::additionalInfo("Conta 123"), "Conta 123           ");
  EXPECT_EQ(perto::additionalInfo(std::string(25, 'x')), std::string(25, 'x') + std::string(15, ' '));
  EXPECT_EQ(perto::additionalInfo(std::string(50, 'y')), std::string(40, 'y'));
}

TEST(ChronosCodec, FramesStatusAndText) {
  EXPECT_EQ(chronos::frame({0xA2}, of("001\r")), bytes({0x1B, 0xA2, '0', '0', '1', 0x0D, 0x00}));
  EXPECT_EQ(chronos::frame({0xB0}, {}), bytes({0x1B, 0xB0, 0x00}));
  struct Amount {
    double value;
    const char* text;
  } const amounts[] = {{123.45, "        123,45"}, {0.5, "          0,50"}, {99999999999.99, "99999999999,99"}};
  for (const Amount& a : amounts) EXPECT_EQ(chronos::amount(a.value).text, a.text) << a.value;
  EXPECT_FALSE(chronos::amount(100000000000.0).ok());

  struct Status {
    uint8_t byte;
    bool ok;
    const char* message;
  } const statuses[] = {
      {0x00, true, ""},
      {0x14, true, ""},
      {0x02, false, "Sem papel.\n"},
      {0x69, false, "Buffer de impressão cheio.\nFalha na margem.\nFalha no motor.\nErro de paridade.\n"},
  };
  for (const Status& s : statuses) {
    EXPECT_EQ(chronos::statusOk(s.byte), s.ok) << int(s.byte);
    EXPECT_EQ(chronos::statusMessage(s.byte), cp(s.message)) << int(s.byte);
  }
  EXPECT_FALSE(chronos::statusReadable(0x80));

  // Lines that end with LF only; each cut to the columns and trimmed at the right.
  const auto lines = chronos::textLines("um  \r\n" + std::string(90, 'x') + "\nsem fim", 82, same);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "um\n");
  EXPECT_EQ(lines[1], std::string(82, 'x') + "\n");
}

TEST(ImprecheqCodec, FramesAndText) {
  EXPECT_EQ(imprecheq::frame(of("B"), of("001")), bytes({0x1B, 'B', '0', '0', '1'}));
  fields::Checked num;
  EXPECT_EQ(num(123.45, imprecheq::field::kValue), "00000000012345");
  // A final LF is added; FF closes the parameters.
  EXPECT_EQ(imprecheq::textBlock("um  \r\ndois", 40, same), "um\ndois\n\x0C");
  EXPECT_EQ(imprecheq::textBlock(std::string(50, 'z') + "\n", 40, same), std::string(40, 'z') + "\n\x0C");
  std::string date;
  ASSERT_TRUE(dateText(DateTime::fromParts(2026, 12, 4), "%d%m%y", date));
  EXPECT_EQ(date, "041226");
  ASSERT_TRUE(dateText(DateTime::fromParts(2027, 1, 4), "Bom para: %d/%m/%Y", date));
  EXPECT_EQ(date, "Bom para: 04/01/2027");
  EXPECT_FALSE(dateText(DateTime::invalid(), "%d%m%y", date));
}
