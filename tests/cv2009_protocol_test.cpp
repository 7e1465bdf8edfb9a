// The 2009 command set codec of the driver, on literal bytes written by hand.
#include "drivers/cv2009/cv2009_protocol.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "drivers/cv2009/CECFCV2009.h"

using namespace tarvion;
using namespace tarvion::cv2009;
using text::cp;

namespace {

ByteArray bytes(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

}  // namespace

TEST(Cv2009Protocol, TheFirstFrameAfterCreationCarriesSequenceOne) {
  CECFCV2009 d(1);
  Frame f = d.BuildCommand(ByteArray{0x01, 0x00}, bytes("a|"));
  ASSERT_TRUE(f);
  EXPECT_EQ(*f, (ByteArray{0x01, 0x01, 0x01, 0x00, 0x02, 0x00, 0x61, 0x7C, 0xE1}));
}

TEST(Cv2009Protocol, TheSequenceWrapsAfter255AndAnEmptyCommandDoesNotCount) {
  CECFCV2009 d(1);
  EXPECT_TRUE(d.BuildCommand({}, bytes("x|"))->empty());
  for (int i = 1; i <= 255; ++i) ASSERT_EQ((*d.BuildCommand(ByteArray{0x1A, 0x00}, {}))[1], i);
  const Frame f256 = d.BuildCommand(ByteArray{0x1A, 0x00}, {});
  EXPECT_EQ((*f256)[1], 0);
  // Nothing after SOH but the code and a zero length: the check byte is their sum.
  EXPECT_EQ(*f256, (ByteArray{0x01, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x1A}));
  EXPECT_EQ((*d.BuildCommand(ByteArray{0x1A, 0x00}, {}))[1], 1);
}

TEST(Cv2009Protocol, ReplyLengthsByTheirFirstByte) {
  const struct {
    ByteArray head;
    size_t length;
  } cases[] = {
      {{0x06}, 1},
      {{0x11, 0, 0}, 6},
      {{0x15, 2, 9}, 6},
      {{0x16}, 2},
      {{0x01, 1, 0, 0, 0, 1, 0, 0, 0}, 0},  // header not whole yet
      {{0x01, 1, 0, 0, 0, 1, 0, 0, 0, 0x00, 0x00}, 12},
      {{0x01, 1, 0, 0, 0, 1, 0, 0, 0, 0x05, 0x01}, 11 + 261 + 1},
      {{0x42}, 1},
      {{}, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(replyLength(c.head.data(), c.head.size()), c.length);
}

TEST(Cv2009Protocol, AReplyFrameWithNoDataHasNoFields) {
  // SOH seq 02, code 1A 00, class 0, flags 01 (last), 00, block 00, 00, length 0, check
  const ByteArray r{0x01, 0x02, 0x1A, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1D};
  ReplyFrame f;
  ASSERT_TRUE(parseReplyFrame(r.data(), r.size(), f));
  EXPECT_EQ(f.sequence, 2);
  EXPECT_TRUE(f.lastBlock());
  EXPECT_TRUE(splitFields(f.data).empty());
  ByteArray broken = r;
  broken.back() = 0x1E;
  EXPECT_FALSE(parseReplyFrame(broken.data(), broken.size(), f));
  EXPECT_TRUE(parseReplyFrame(broken.data(), broken.size(), f, false));
}

TEST(Cv2009Protocol, FieldsKeepEmptyOnesAndATailWithoutSeparator) {
  const struct {
    std::string data;
    std::vector<std::string> fields;
  } cases[] = {
      {"12|34|", {"12", "34"}}, {"12||34", {"12", "", "34"}}, {"|", {""}}, {"", {}}, {"a", {"a"}}, {"||", {"", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitFields(bytes(c.data)), c.fields) << c.data;
}

TEST(Cv2009Protocol, StatusMessagesByClassAndCode) {
  const struct {
    int cls, code, maker;
    const char* text;
  } cases[] = {
      {1, 7, 1, "Comando inválido."},
      {2, 2, 1, "Falta parâmetro no comando."},
      {2, 9, 1, "Erro desconhecido de parametro de comando."},
      {5, 1, 1, "Comando enviado não pode ser executado, pois existe um Cupom Fiscal aberto."},
      {6, 5, 1, "Comando enviado não pode ser executado, pois existe um Relatório Gerencial aberto."},
      {7, 3, 1, "Comando enviado não pode ser executado, pois existe um Comprovante de Crédito ou Débito aberto."},
      {6, 6, 1, "A quantidade máxima de itens em um Comprovante Não Fiscal foi ultrapassada."},
      {7, 11, 1, "Limite máximo de CCD’s por cupom foi excedido."},
      {8, 0, 1, "Redução Z pendente ou já realizada na data."},
      {9, 17, 1, "Checksum inválido no comando recebido pelo ECF."},
      {12, 3, 1, "Sem papel."},
      {15, 9, 1, "Erro desconhecido de protocolo."},
      {16, 0, 1, "Erro ao utilizar o ECF. Verifique se a tampa do equipamento está aberta."},
      {16, 0, 2, "Erro ao utilizar o ECF."},
      {17, 0, 1, "Erro desconhecido."},
  };
  for (const auto& c : cases) EXPECT_EQ(statusMessage(c.cls, c.code, c.maker), cp(c.text)) << c.cls << "/" << c.code;
  EXPECT_EQ(statusMessage(0, 1, 1), "");
}

TEST(Cv2009Protocol, TrataRetornoTakesTheClassFromTheReplyKind) {
  CECFCV2009 d(3);
  EXPECT_TRUE(d.TrataRetorno(ByteArray{0x06}));
  EXPECT_FALSE(d.TrataRetorno(ByteArray{0x15, 0x02, 0x09, 0, 0, 0}));
  EXPECT_EQ(d.strLastError, cp("Erro desconhecido de parametro de comando."));
  EXPECT_FALSE(d.TrataRetorno(ByteArray{0x15, 0x11, 0x00, 0, 0, 0}));
  EXPECT_EQ(d.strLastError, cp("Erro desconhecido."));
  // Class 0, flag bit 0 clear, block 3: more blocks follow.
  EXPECT_TRUE(d.TrataRetorno(ByteArray{0x01, 0x05, 0, 0, 0x00, 0x00, 0, 0x03, 0, 0, 0, 0}));
  EXPECT_TRUE(d.bMaisBlocos);
  EXPECT_EQ(d.intBloco, 3);
  EXPECT_TRUE(d.TrataRetorno(ByteArray{0x01, 0x05, 0, 0, 0x00, 0x01, 0, 0x04, 0, 0, 0, 0}));
  EXPECT_FALSE(d.bMaisBlocos);
  EXPECT_FALSE(d.TrataRetorno(ByteArray{0x15}));
  EXPECT_EQ(d.strLastError, cp("Erro desconhecido."));
}

TEST(Cv2009Protocol, ParameterTextsOfAmountsAndQuantities) {
  std::string digits, decimals, error;
  const struct {
    double q;
    const char* digits;
    const char* decimals;
  } quantities[] = {{1.5, "15", "1"}, {2, "2", "0"}, {0.25, "25", "2"}, {1.125, "1125", "3"}, {10, "10", "0"}};
  for (const auto& c : quantities) {
    ASSERT_TRUE(quantityText(c.q, digits, decimals, error)) << error;
    EXPECT_EQ(digits, c.digits);
    EXPECT_EQ(decimals, c.decimals);
  }
  const struct {
    double v;
    const char* text;
  } amounts[] = {{12.5, "1250"}, {0, "000"}, {0.05, "005"}, {1234.567, "123457"}};
  for (const auto& c : amounts) {
    ASSERT_TRUE(amountText(c.v, digits, error));
    EXPECT_EQ(digits, c.text);
  }
  EXPECT_FALSE(amountText(-1, digits, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(amountText(1e13, digits, error));
  EXPECT_FALSE(quantityText(1e8, digits, decimals, error));
  ASSERT_TRUE(hundredthsText(3, digits, error));
  EXPECT_EQ(digits, "300");
  ASSERT_TRUE(hundredthsText(1.509, digits, error));
  EXPECT_EQ(digits, "150");
}

TEST(Cv2009Protocol, DateTimeTextsReadOnlyTheirParts) {
  DateParts p;
  ASSERT_TRUE(parseDateTimeText("04122026093015").parts(p));
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.hour, 9);
  EXPECT_EQ(p.minute, 30);
  EXPECT_EQ(p.second, 15);
  ASSERT_TRUE(parseDateTimeText("0412202609").parts(p));
  EXPECT_EQ(p.hour, 9);
  EXPECT_EQ(p.minute, 0);
  EXPECT_FALSE(parseDateTimeText("3102202").valid());
  EXPECT_FALSE(parseDateTimeText("31022026").valid());
  EXPECT_FALSE(parseDateTimeText("ab122026").valid());
  EXPECT_EQ(dateText(DateTime::fromParts(2026, 12, 4, 9, 30, 0)), "04122026");
  EXPECT_EQ(timeText(DateTime::fromParts(2026, 12, 4, 9, 30, 0)), "093000");
  EXPECT_EQ(integerOf("0042abc"), 42);
  EXPECT_EQ(integerOf(""), 0);
  EXPECT_DOUBLE_EQ(amountOf("12.50"), 12.5);
  EXPECT_DOUBLE_EQ(amountOf("x"), 0.0);
}
