// The Bematech frame, status bytes and extended status tables as pure functions.
#include "drivers/bematech/bematech_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/text.h"

using namespace tarvion;
using namespace tarvion::bematech;

TEST(BematechFrame, LayoutAndChecksum) {
  EXPECT_EQ(buildFrame(kESC, {0x00}, {}), (ByteArray{0x02, 0x04, 0x00, 0x1B, 0x00, 0x1B, 0x00}));
  ByteArray f = buildFrame(kFS, {0x3F}, {'1', '2', '3'});
  EXPECT_EQ(f[1] | (f[2] << 8), 7);  // prefix + command + 3 parameters + 2 checksum bytes
  EXPECT_EQ(f.size(), 10u);
  uint16_t s = 0x1C + 0x3F + '1' + '2' + '3';
  EXPECT_EQ(f[8], s & 0xFF);
  EXPECT_EQ(f[9], s >> 8);
  // The sum is kept to 16 bits.
  ByteArray big(600, 0xFF);
  ByteArray g = buildFrame(kESC, {0x14}, big);
  uint32_t total = 0x1B + 0x14 + 600 * 0xFF;
  EXPECT_EQ(g[g.size() - 2] | (g[g.size() - 1] << 8), static_cast<int>(total & 0xFFFF));
  EXPECT_EQ(g[1] | (g[2] << 8), 1 + 1 + 600 + 2);
}

TEST(BematechFrame, ParsesWhatItBuilds) {
  ByteArray f = buildFrame(kFS, {0x23, 0x1D}, {'x'});
  ParsedFrame p;
  for (size_t n = 0; n < f.size(); ++n) EXPECT_EQ(parseFrame(f.data(), n, p), FrameState::Incomplete) << n;
  ASSERT_EQ(parseFrame(f.data(), f.size(), p), FrameState::Ok);
  EXPECT_EQ(p.prefix, kFS);
  EXPECT_EQ(p.body, (ByteArray{0x23, 0x1D, 'x'}));
  EXPECT_EQ(p.size, f.size());
  f[5] ^= 1;
  EXPECT_EQ(parseFrame(f.data(), f.size(), p), FrameState::BadChecksum);
  uint8_t junk[] = {0x41, 0x02};
  EXPECT_EQ(parseFrame(junk, 2, p), FrameState::NotAFrame);
  uint8_t tooShort[] = {0x02, 0x01, 0x00, 0x1B};
  EXPECT_EQ(parseFrame(tooShort, 4, p), FrameState::NotAFrame);
}

TEST(BematechStatus, WhereTheStatusBytesAre) {
  // Plain command: ST1 and ST2 lead the reply.
  Status s = statusOf({0x40, 0x00}, 0, false);
  EXPECT_TRUE(statusOk(s));
  EXPECT_EQ(statusText(s), "");
  s = statusOf({0x02, 0x00}, 0, false);
  EXPECT_FALSE(statusOk(s));
  EXPECT_EQ(statusText(s), "Cupom aberto.\n");
  // Data command with FS: data, ST1, ST2, ST3 low, ST3 high.
  ByteArray r{0x03, 0x10, 0x00, 0x10, 0x0E, 0x00};
  s = statusOf(r, 35, true);
  EXPECT_EQ(s.st1, 0x00);
  EXPECT_EQ(s.st2, 0x10);
  EXPECT_EQ(st3Of(r), 14);
  EXPECT_EQ(statusText(s), text::cp("Alíquota não programada.\n"));
  // Too short: positions below 0 read byte 0; missing ST2 reads 0.
  s = statusOf({0x01}, 35, true);
  EXPECT_EQ(s.st1, 0x01);
  EXPECT_EQ(s.st2, 0x01);
  s = statusOf({0x80}, 14, false);
  EXPECT_EQ(s.st2, 0);
  // Every bit but ST1 bit 6 is an error line of its own.
  std::string all = statusText({0xFF, 0xFF});
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 15);
  EXPECT_EQ(all.rfind(text::cp("Número de parâmetros"), 0), 0u);
}

TEST(BematechStatus, ExtendedTables) {
  EXPECT_EQ(st3Table(St3Table::Full).size(), 208u);
  EXPECT_EQ(st3Table(St3Table::MP25).size(), 195u);
  EXPECT_EQ(st3Table(St3Table::IBM4610).size(), 194u);
  EXPECT_EQ(st3Table(St3Table::MP2000).size(), 157u);
  EXPECT_EQ(st3Text(St3Table::Full, 1), text::cp("Comando inválido."));
  EXPECT_EQ(st3Text(St3Table::Full, 208), text::cp("Data de embarque anterior a data de emissão."));
  EXPECT_EQ(st3Text(St3Table::Full, 0), "");
  EXPECT_EQ(st3Text(St3Table::Full, 209), "");
  EXPECT_EQ(st3Text(St3Table::MP25, 12), text::cp("Impressora com cabeça levantada."));
  EXPECT_EQ(st3Text(St3Table::MP25, 196), "");
  // The IBM table lacks one entry, so 168..194 carry the texts of 169..195.
  EXPECT_EQ(st3Text(St3Table::IBM4610, 168), st3Text(St3Table::Full, 169));
  EXPECT_EQ(st3Text(St3Table::IBM4610, 194), st3Text(St3Table::Full, 195));
  EXPECT_EQ(st3Text(St3Table::IBM4610, 12), text::cp("Impressora com cabeça levantada."));
  // The MP-2000 table: its codes 125..157 carry the texts of full-table codes 126..158.
  EXPECT_EQ(st3Text(St3Table::MP2000, 124), st3Text(St3Table::Full, 124));
  EXPECT_EQ(st3Text(St3Table::MP2000, 125), st3Text(St3Table::Full, 126));
  EXPECT_EQ(st3Text(St3Table::MP2000, 157), st3Text(St3Table::Full, 158));
  EXPECT_EQ(st3Text(St3Table::MP2000, 30), text::cp("Comprovante não fiscal aberto."));
  EXPECT_EQ(st3Text(St3Table::MP2000, 40), text::cp("Já programado."));
  EXPECT_EQ(st3Text(St3Table::MP2000, 106), st3Text(St3Table::MP2000, 107));
}

TEST(BematechBcd, PackedNumbers) {
  uint8_t v[] = {0x00, 0x00, 0x00, 0x00, 0x01, 0x23, 0x45};
  EXPECT_EQ(bcdValue(v, 7), 12345u);
  EXPECT_EQ(bcdDigits(v, 7), "00000000012345");
  EXPECT_EQ(toBcd(12345, 7), ByteArray(v, v + 7));
  uint8_t fw[] = {0x03, 0x10};
  EXPECT_EQ(bcdValue(fw, 2), 310u);
  EXPECT_EQ(toBcd(123456789, 2), (ByteArray{0x67, 0x89}));  // high digits beyond the width are dropped
}
