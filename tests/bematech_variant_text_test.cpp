// The printed text of the FS models: their code page 850 conversion, the line
// layout with the markup tags, the receipt's limit and the 600-character blocks
// (never splitting an escape pair), as pure functions and then on the wire.
#include <gtest/gtest.h>

#include "bematech_fake_printer.h"
#include "core/text.h"
#include "drivers/bematech/CBematech2000.h"
#include "drivers/bematech/CBematechMP7000.h"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;
using namespace tarvion::bematech;
using text::cp;

namespace {

const std::string ESC = "\x1B";
const std::string kPrefix = "\x1B\x74\x02";

std::string hex(const std::string& s) {
  return text::hexDump(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace

TEST(BematechFsText, CodePage850WithThePrintersExceptions) {
  EXPECT_EQ(hex(fmt::fsCharset(cp("Ação"))), "4187c66f");
  // Every accented letter of Portuguese has its 850 code.
  EXPECT_EQ(fmt::fsCharset(cp("ÁÉÍÓÚÂÊÔÃÕÇÀÜáéíóúâêôãõçàü")), text::cp1252ToCp850(cp("ÁÉÍÓÚÂÊÔÃÕÇÀÜáéíóúâêôãõçàü")));
  // These four print wrongly in 850 on these printers: their plain letters instead.
  EXPECT_EQ(fmt::fsCharset(cp("ÑÝñý")), "NYny");
  // These stay as they are (they are not converted even where 850 has them).
  const std::string kept = cp("ÅÆÐ×ØÞßåæð÷øþÿ");
  EXPECT_EQ(fmt::fsCharset(kept), kept);
  EXPECT_EQ(kept.size(), 14u);
  // Below 0xC0 nothing changes, the 1252 specials included.
  const std::string low = cp("R$ 1,00 º ª € ‚ § ¿");
  EXPECT_EQ(fmt::fsCharset(low), low);
}

TEST(BematechFsText, LayoutCutsLinesAndTurnsTheTags) {
  // Line ends of every kind become "\n"; short lines keep theirs.
  EXPECT_EQ(fmt::fsLayout("a\r\nb\rc\n", 48), "a\nb\nc\n");
  // A text that does not end in a line feed gets one; an empty text is one line feed.
  EXPECT_EQ(fmt::fsLayout("total", 48), "total\n");
  EXPECT_EQ(fmt::fsLayout("", 48), "\n");
  // Bold becomes ESC E / ESC F; <h> and <barcode> go.
  EXPECT_EQ(fmt::fsLayout("<b>TOTAL</b> <h>10</h> <barcode>789</barcode>", 48), ESC + "ETOTAL" + ESC + "F 10 789\n");
  // Cutting at 10 visible characters: the tags do not count, other <...> text does.
  EXPECT_EQ(fmt::fsLayout("<b>0123456789</b>ABC", 10), ESC + "E0123456789" + ESC + "FABC\n");
  EXPECT_EQ(fmt::fsLayout("<b>0123456789", 10), ESC + "E0123456789");  // full: no line feed
  EXPECT_EQ(fmt::fsLayout("<i>0123456789", 10), "<i>0123456789\n");    // 13 visible: cut, the rest gets one
  // A full line wraps on the printer: no line feed of its own.
  EXPECT_EQ(fmt::fsLayout("0123456789abcdefghij", 10), "0123456789abcdefghij");
  // A line feed within the columns ends the piece there.
  EXPECT_EQ(fmt::fsLayout("012\n3456789abcd", 10), "012\n3456789abcd\n");
  EXPECT_EQ(fmt::fsLayout("012\n3456789abc", 10), "012\n3456789abc");
}

TEST(BematechFsText, LimitsNeverSplitAnEscapePair) {
  // The receipt's closing text: 480 characters, one less when ESC would end it.
  EXPECT_EQ(fmt::cutText(std::string(500, 'x'), 480).size(), 480u);
  EXPECT_EQ(fmt::cutText(std::string(10, 'x'), 480), std::string(10, 'x'));
  const std::string escAtEnd = std::string(479, 'x') + ESC + "E" + std::string(20, 'y');
  EXPECT_EQ(fmt::cutText(escAtEnd, 480), std::string(479, 'x'));

  // Blocks of 600; 598 when the character at 598 is ESC, 599 when the one at 599 is.
  const std::string plain(1500, 'a');
  auto blocks = fmt::textBlocks(plain);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].size(), 600u);
  EXPECT_EQ(blocks[1].size(), 600u);
  EXPECT_EQ(blocks[2].size(), 300u);

  std::string at598 = std::string(598, 'a') + ESC + "E" + std::string(100, 'b');
  blocks = fmt::textBlocks(at598);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], std::string(598, 'a'));
  EXPECT_EQ(blocks[1].substr(0, 2), ESC + "E");

  std::string at599 = std::string(599, 'a') + ESC + "F" + std::string(100, 'b');
  blocks = fmt::textBlocks(at599);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].size(), 599u);
  EXPECT_EQ(blocks[1].substr(0, 2), ESC + "F");

  // Exactly 600 is one block; nothing is lost or doubled on the way.
  EXPECT_EQ(fmt::textBlocks(std::string(600, 'c')).size(), 1u);
  std::string mixed;
  for (int i = 0; i < 400; ++i) mixed += (i % 7 == 0) ? ESC + "E" : std::string("abc");
  std::string joined;
  for (const std::string& b : fmt::textBlocks(mixed)) {
    EXPECT_LE(b.size(), 600u);
    EXPECT_NE(b.back(), '\x1B');
    joined += b;
  }
  EXPECT_EQ(joined, mixed);
}

TEST(BematechFsText, TheClosingMessageOnTheWire) {
  Rig<CBematech2000> r(301, true);
  ASSERT_TRUE(r.open());
  ASSERT_EQ(r.d.FechaCupomFiscal(cp("Ação"), 0), 1) << r.d.strLastError;
  auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 1u);
  // Command 34, ESC t 2, then the converted text and its line feed.
  EXPECT_EQ(sent[0], (ByteArray{0x22, 0x1B, 0x74, 0x02, 0x41, 0x87, 0xC6, 0x6F, 0x0A}));

  // With the identification lines and a long message: the text stops at 480.
  r.d.strPAFIdent1 = "MD5 0123456789abcdef";
  r.d.strPAFIdent2 = "PDV 1.0";
  ASSERT_EQ(r.d.FechaCupomFiscal(std::string(900, 'm'), 0), 1) << r.d.strLastError;
  sent = r.printer->take();
  ASSERT_EQ(sent.size(), 1u);
  const std::string param(sent[0].begin() + 1, sent[0].end());
  EXPECT_EQ(param.size(), 3u + 480u);
  EXPECT_EQ(param.substr(0, 3), kPrefix);
  EXPECT_EQ(param.substr(3, 48), pad("MD5 0123456789abcdef", 48));
  EXPECT_EQ(param.substr(51, 48), pad("PDV 1.0", 48));
}

TEST(BematechFsText, ReportsAndLinkedTextGoInBlocks) {
  Rig<CBematechMP7000> r(302, true);
  ASSERT_TRUE(r.open());
  // 30 lines of 40 characters on 48 columns: 30 * 41 + 3 = 1233 bytes, three blocks.
  std::string report;
  for (int i = 0; i < 30; ++i) report += std::string(40, static_cast<char>('a' + i % 26)) + "\r\n";
  ASSERT_EQ(r.d.ImprimeRelatorioGerencial(report), 1) << r.d.strLastError;
  auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 3u);
  std::string joined;
  for (const ByteArray& b : sent) {
    EXPECT_EQ(b[0], cmd::Report);
    EXPECT_LE(b.size() - 1, 600u);
    joined += std::string(b.begin() + 1, b.end());
  }
  EXPECT_EQ(joined.substr(0, 3), kPrefix);
  EXPECT_EQ(joined.size(), 1233u);
  EXPECT_EQ(joined.substr(3, 41), std::string(40, 'a') + "\n");

  // The linked receipt's text: command 67, accents in 850, bold marks.
  ASSERT_EQ(r.d.EnviaTextoComprovanteVinculado(cp("<b>Cartão</b>")), 1);
  sent = r.printer->take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(str(sent[0]), "\x43" + kPrefix + ESC + "ECart\xC6o" + ESC + "F\n");

  // The first refused block ends the report.
  r.printer->st2 = st2::NotExecuted;
  EXPECT_EQ(r.d.ImprimeRelatorioGerencial(report), 0);
  EXPECT_EQ(r.printer->take().size(), 1u);
  EXPECT_NE(r.d.strLastError.find(cp("Comando não executado.")), std::string::npos);
}
