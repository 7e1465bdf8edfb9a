// The Epson codec on literal bytes: frames and escapes, the end of a reply
// and the answer picked out behind a late one, the fields and return codes,
// the message table, tax fields and the printer's text.
#include "drivers/epson/epson_protocol.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "drivers/epson/CEpson.h"

using namespace tarvion;
using text::cp;

namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

const uint8_t* u8(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

}  // namespace

TEST(EpsonProtocol, FramesAndTheEscapesOfCommandBytes) {
  std::string status;
  epson::addCommandBytes(status, 0x00, 0x01);
  epson::addCommandBytes(status, 0x00, 0x00);
  EXPECT_EQ(epson::buildFrame(0x81, status), bytes({0x02, 0x81, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x03}) + "00A3");

  std::string open;
  epson::addCommandBytes(open, 0x0A, 0x01);
  epson::addCommandBytes(open, 0x00, 0x00);
  epson::addField(open, "");
  epson::addField(open, "");
  EXPECT_EQ(epson::buildFrame(0x81, open),
            bytes({0x02, 0x81, 0x0A, 0x01, 0x1C, 0x00, 0x00, 0x1C, 0x1C, 0x03}) + "00E5");

  // 0x02 and 0x1A in a code or extension go after an ESC; other bytes do not.
  std::string escaped;
  epson::addCommandBytes(escaped, 0x02, 0x1A);
  epson::addCommandBytes(escaped, 0x1A, 0x03);
  EXPECT_EQ(escaped, bytes({0x1B, 0x02, 0x1B, 0x1A, 0x1C, 0x1B, 0x1A, 0x03}));

  // A sum above 0xFFFF keeps its low four digits; lower-case never appears.
  EXPECT_EQ(epson::checksum(std::string(300, '\xFF')), "2AD4");
  EXPECT_EQ(epson::checksum(bytes({0x0A, 0x01})), "000B");
}

TEST(EpsonProtocol, TheSequenceRunsFrom81ToFEAndStartsAgain) {
  CEpson d;
  ByteArray cmd{0x00, 0x01, 0x1C, 0x00, 0x00};
  for (int i = 0; i < 126; ++i) {
    Frame f = d.BuildCommand(cmd, {});
    ASSERT_TRUE(f);
    ASSERT_EQ((*f)[1], 0x81 + i);
    EXPECT_EQ(d.nLastSequence, 0x81 + i);
  }
  Frame wrapped = d.BuildCommand(cmd, {});
  EXPECT_EQ((*wrapped)[1], 0x81);
  EXPECT_EQ(epson::nextSequence(0xFE), 0x81);
  EXPECT_EQ(epson::nextSequence(0x00), 0x81);  // a counter out of its range starts over
}

TEST(EpsonProtocol, WhereAReplyEndsAndWhichOneIsOurs) {
  // Return code 02 03 escaped: the ESC before 03 keeps it from ending the frame.
  const std::string reply =
      bytes({0x02, 0x81, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x1C, 0x1B, 0x02, 0x1B, 0x03, 0x03}) + "0116";
  EXPECT_EQ(epson::frameLength(u8(reply), reply.size()), reply.size());
  EXPECT_TRUE(epson::checksumMatches(reply));
  for (size_t n = 0; n < reply.size(); ++n) EXPECT_EQ(epson::frameLength(u8(reply), n), 0u) << n;
  EXPECT_EQ(epson::frameLength(u8(reply.substr(1)), reply.size() - 1), 0u);  // no STX first

  std::string bad = reply;
  bad.back() = '7';
  EXPECT_FALSE(epson::checksumMatches(bad));

  // A late answer with sequence 80 before ours (81), a stray ACK between.
  const std::string late =
      bytes({0x02, 0x80, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x03}) + "00DA";
  const std::string line = late + "\x06" + reply;
  size_t length = 0;
  EXPECT_EQ(epson::findReply(u8(line), line.size(), 0x81, length), late.size() + 1);
  EXPECT_EQ(length, reply.size());
  // Ours begun but not whole: found, with no length yet.
  EXPECT_EQ(epson::findReply(u8(line), line.size() - 2, 0x81, length), late.size() + 1);
  EXPECT_EQ(length, 0u);
  // Only the late one: nothing yet.
  EXPECT_EQ(epson::findReply(u8(late), late.size(), 0x81, length), std::string::npos);
  // A late answer cut off, then ours: ours restarts the reply.
  const std::string cut = late.substr(0, 6) + reply;
  EXPECT_EQ(epson::findReply(u8(cut), cut.size(), 0x81, length), 6u);
  EXPECT_EQ(length, reply.size());
}

TEST(EpsonProtocol, ReplyFieldsAndReturnCodes) {
  const std::string reply =
      bytes({0x02, 0x82, 0x0A, 0x02, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x1C}) + "0000000000700" +
      "\x1C" + "001" + "\x03" + "0428";
  ASSERT_TRUE(epson::checksumMatches(reply));
  const auto f = epson::replyFields(reply);
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0], bytes({0x02, 0x82, 0x0A, 0x02}));
  EXPECT_EQ(f[2], bytes({0x00, 0x01}));
  EXPECT_EQ(f[4], "0000000000700");
  EXPECT_EQ(f[5], "001");  // ETX and the checksum are no field text
  int cls = -1, detail = -1;
  ASSERT_TRUE(epson::returnCode(f, cls, detail));
  EXPECT_EQ(cls, 0);
  EXPECT_EQ(detail, 0);

  const std::string escaped =
      bytes({0x02, 0x81, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x1C, 0x1B, 0x02, 0x1B, 0x03, 0x03}) + "0116";
  ASSERT_TRUE(epson::returnCode(epson::replyFields(escaped), cls, detail));
  EXPECT_EQ(cls, 0x02);
  EXPECT_EQ(detail, 0x03);
  EXPECT_FALSE(epson::returnCode(epson::replyFields(bytes({0x02, 0x81, 0x1C, 0x00})), cls, detail));
}

TEST(EpsonProtocol, TheReturnCodeTable) {
  EXPECT_EQ(epson::messageCount(), 193u);
  struct Case {
    int cls, detail;
    const char* text;
  } cases[] = {
      {0x00, 0x01, "Erro interno."},
      {0x01, 0x02, "Comando inválido para o documento atual."},
      {0x02, 0x03, "Campos em excesso."},
      {0x05, 0x21, "Alíquota não cadastrada."},
      {0x09, 0x14, "Leitura da memória fiscal – intervalo crz inválido."},
      {0x0A, 0x14, "Último cupom fiscal não encontrado."},
      {0x0E, 0x1E, "Relatório gerencial inválido."},
      {0x30, 0x07, "Número máximo de autenticações já impresso."},
      {0xFF, 0xFF, "Erro desconhecido."},
      // Pairs the table does not hold: no text at all.
      {0x00, 0x00, ""},
      {0x02, 0x16, ""},
      {0x0B, 0x01, ""},
      {0xFF, 0x00, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(epson::errorText(c.cls, c.detail), cp(c.text)) << c.cls << "/" << c.detail;
}

TEST(EpsonProtocol, TaxFieldsAndPrinterText) {
  struct Case {
    const char* entry;
    double rate;
    const char* field;
  } cases[] = {
      {"TA-18,00%", 18, "01T1800"},   {"TB-07,00%", 7, "02T0700"}, {"TA-18,00%", 7, ""},
      {"TC-12,50%", 12.5, "03T1250"}, {"TA-18", 18, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(epson::taxField(c.entry, c.rate), c.field) << c.entry;
  EXPECT_EQ(epson::rateText(7), "07,00%");

  const auto lines = epson::printerLines(
      "\xC0\xC1\xC2\xC3\xC4\xC7\xC9"
      "ABC",
      4);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "\xB7\xB5\xB6\xC7");
  EXPECT_EQ(lines[1],
            "\x8E\x80\x90"
            "A");
  EXPECT_EQ(lines[2], "BC");
  EXPECT_TRUE(epson::printerLines("", 48).empty());
}
