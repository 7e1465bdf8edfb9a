// The printer's side of the Bematech line, pinned by bytes written out by hand:
// what the virtual printer must accept and what it must answer, and the pieces
// of its own codec (request parsing, checksum, status layout, ST3 codes of the
// shorter tables, packed BCD). None of it goes through the driver's code.
#include <gtest/gtest.h>

#include "emulator/bematech/codec.h"
#include "emulator/bematech/printer.h"
#include "emulator_rig.h"

using namespace tarvion;
using namespace tarvion::emulator;
namespace pb = tarvion::emulator::bematech;

namespace {

ByteArray withSpaces(ByteArray b, size_t n) {
  b.insert(b.end(), n, ' ');
  return b;
}

}  // namespace

TEST(BematechWire, LiteralRequestsAndTheAnswersTheyGet) {
  // GORJETA as title 03 of command 40, 12 blanks after it: the sum is 1074,
  // 0x0432, so the checksum's high byte counts.
  const ByteArray title = withSpaces({0x1B, 0x28, '0', '3', 'G', 'O', 'R', 'J', 'E', 'T', 'A'}, 12);
  auto framed = [](const ByteArray& payload, uint8_t lo, uint8_t hi) {
    ByteArray f;
    f.push_back(0x02);
    f.push_back(static_cast<uint8_t>(payload.size() + 2));
    f.push_back(0x00);
    for (uint8_t x : payload) f.push_back(x);
    f.push_back(lo);
    f.push_back(hi);
    return f;
  };
  struct Case {
    const char* what;
    int model;
    ByteArray request, answer;
  };
  const Case cases[] = {
      {"status probe", 1, {0x02, 0x04, 0x00, 0x1B, 0x13, 0x2E, 0x00}, {0x06, 0x00, 0x00}},
      {"firmware 3.30", 1, {0x02, 0x05, 0x00, 0x1B, 0x23, 0x01, 0x3F, 0x00}, {0x06, 0x03, 0x30, 0x00, 0x00}},
      {"unknown command", 1, {0x02, 0x04, 0x00, 0x1B, 0x7F, 0x9A, 0x00}, {0x06, 0x04, 0x00}},
      {"FS to an ESC model", 1, {0x02, 0x04, 0x00, 0x1C, 0x13, 0x2F, 0x00}, {0x06, 0x08, 0x00}},
      {"checksum above 255", 1, framed(title, 0x32, 0x04), {0x06, 0x00, 0x00}},
      {"checksum high byte wrong", 1, framed(title, 0x32, 0x03), {0x15}},
      {"checksum low byte wrong", 1, {0x02, 0x04, 0x00, 0x1B, 0x13, 0x2F, 0x00}, {0x15}},
      {"length one short", 1, {0x02, 0x03, 0x00, 0x1B, 0x13, 0x2E, 0x00}, {0x15}},
      {"status probe, FS", 3, {0x02, 0x04, 0x00, 0x1C, 0x13, 0x2F, 0x00}, {0x06, 0x00, 0x00, 0x00, 0x00}},
      // First byte not ESC: ST1 bit 3, ST3 141 (0x8D) low byte first.
      {"ESC to an FS model", 3, {0x02, 0x04, 0x00, 0x1B, 0x13, 0x2E, 0x00}, {0x06, 0x08, 0x00, 0x8D, 0x00}},
      {"open the receipt", 3, {0x02, 0x04, 0x00, 0x1C, 0x00, 0x1C, 0x00}, {0x06, 0x00, 0x00, 0x00, 0x00}},
      // Totalising with no receipt open: ST2 bit 0, ST3 8 "Cupom fiscal fechado.".
      {"totalise, nothing open",
       3,
       framed({0x1C, 0x20, 'd', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'}, 0x40, 0x03),
       {0x06, 0x00, 0x01, 0x08, 0x00}},
      // The MP-2000 lacks the full table's entry 125, so "Primeiro dado diferente
      // de 1B ou 1C." (141 there) is its 140.
      {"ESC to the MP-2000", 2, {0x02, 0x04, 0x00, 0x1B, 0x13, 0x2E, 0x00}, {0x06, 0x08, 0x00, 0x8C, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    emutest::EmulatorRig r(c.model);
    EXPECT_EQ(r.raw(c.request), c.answer);
  }
  // The second opening of a receipt on an FS model: ST1 bit 1, ST3 7.
  emutest::EmulatorRig fs(3);
  const ByteArray open{0x02, 0x04, 0x00, 0x1C, 0x00, 0x1C, 0x00};
  ASSERT_EQ(fs.raw(open), (ByteArray{0x06, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(fs.raw(open), (ByteArray{0x06, 0x02, 0x00, 0x07, 0x00}));
}

// A request longer than 255 bytes: N takes both length bytes (0x0104 = 260).
TEST(BematechWire, TheLengthHasAHighByte) {
  emutest::EmulatorRig r(3);
  std::string names;
  for (int i = 1; i <= 16; ++i) names += emutest::pad("PAGTO " + std::to_string(i), 16);
  const ByteArray f = r.frame(ByteArray{pb::cmd::RedefinePayments}, names);
  ASSERT_EQ(f.size(), 3u + 260);
  EXPECT_EQ(ByteArray(f.begin(), f.begin() + 4), (ByteArray{0x02, 0x04, 0x01, 0x1C}));
  EXPECT_EQ(r.raw(f), (ByteArray{0x06, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_GE(r.core->paymentIndex("PAGTO 16"), 0);
}

TEST(BematechCodec, ParsesRequestsFromTheFrontOfTheBuffer) {
  struct Case {
    const char* what;
    ByteArray in;
    pb::FrameState state;
    size_t size;
    ByteArray body;
  };
  const Case cases[] = {
      {"nothing yet", {}, pb::FrameState::Incomplete, 0, {}},
      {"STX alone", {0x02}, pb::FrameState::Incomplete, 0, {}},
      {"no NBH yet", {0x02, 0x04}, pb::FrameState::Incomplete, 0, {}},
      {"checksum half there", {0x02, 0x04, 0x00, 0x1B, 0x13, 0x2E}, pb::FrameState::Incomplete, 0, {}},
      {"not STX", {0x06, 0x04, 0x00, 0x1B, 0x13, 0x2E, 0x00}, pb::FrameState::NotAFrame, 0, {}},
      {"N too small", {0x02, 0x03, 0x00, 0x1B, 0x2E, 0x00}, pb::FrameState::NotAFrame, 0, {}},
      {"N too large", {0x02, 0x01, 0x10, 0x1B}, pb::FrameState::NotAFrame, 0, {}},
      {"bad checksum", {0x02, 0x04, 0x00, 0x1B, 0x13, 0x2E, 0x01}, pb::FrameState::BadChecksum, 7, {}},
      {"status probe", {0x02, 0x04, 0x00, 0x1B, 0x13, 0x2E, 0x00}, pb::FrameState::Ok, 7, {0x13}},
      {"with a sub-code and more bytes after it",
       {0x02, 0x05, 0x00, 0x1C, 0x23, 0x01, 0x40, 0x00, 0x02, 0x04},
       pb::FrameState::Ok,
       8,
       {0x23, 0x01}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pb::Request req;
    EXPECT_EQ(pb::parseRequest(c.in.data(), c.in.size(), req), c.state);
    if (c.state == pb::FrameState::Ok || c.state == pb::FrameState::BadChecksum) {
      EXPECT_EQ(req.size, c.size);
    }
    if (c.state == pb::FrameState::Ok) {
      EXPECT_EQ(req.prefix, c.in[3]);
      EXPECT_EQ(req.body, c.body);
    }
  }
  // The sum keeps 16 bits: 300 bytes of 0xFF sum to 76500, 0x12AD4.
  const ByteArray ff(300, 0xFF);
  EXPECT_EQ(pb::checksum(ff.data(), ff.size()), 0x2AD4);
}

TEST(BematechCodec, AnswersAndPackedNumbers) {
  EXPECT_EQ(pb::statusBytes(0x02, 0x01, false, 7), (ByteArray{0x02, 0x01}));
  EXPECT_EQ(pb::statusBytes(0x00, 0x01, true, 0x0123), (ByteArray{0x00, 0x01, 0x23, 0x01}));
  EXPECT_EQ(pb::answer({0x00, 0x00}, {0x12, 0x34}, false), (ByteArray{0x06, 0x12, 0x34, 0x00, 0x00}));
  EXPECT_EQ(pb::answer({0x40, 0x00, 0x05, 0x00}, {'A', 'B'}, true),
            (ByteArray{0x06, 0x40, 0x00, 'A', 'B', 0x40, 0x00, 0x05, 0x00}));
  struct Bcd {
    uint64_t value;
    size_t bytes;
    ByteArray packed;
  };
  const Bcd bcd[] = {
      {0, 1, {0x00}},
      {99, 1, {0x99}},
      {1234, 2, {0x12, 0x34}},
      {1234, 3, {0x00, 0x12, 0x34}},
      {123456, 2, {0x34, 0x56}},  // too large: the lowest digits
      {330, 2, {0x03, 0x30}},
      {2448, 9, {0, 0, 0, 0, 0, 0, 0, 0x24, 0x48}},
  };
  for (const Bcd& b : bcd) EXPECT_EQ(pb::toBcd(b.value, b.bytes), b.packed) << b.value;
}

TEST(BematechCodec, ShorterTablesAnswerTheirOwnCodes) {
  using T = pb::St3Table;
  struct Case {
    T table;
    uint16_t full, own;
  };
  const Case cases[] = {
      {T::Full, 0, 0},       {T::Full, 7, 7},        {T::Full, 208, 208},    {T::Full, 209, 18},
      {T::MP25, 12, 12},     {T::MP25, 195, 195},    {T::MP25, 196, 18},     {T::IBM4610, 167, 167},
      {T::IBM4610, 168, 18}, {T::IBM4610, 169, 168}, {T::IBM4610, 195, 194}, {T::IBM4610, 196, 18},
      {T::MP2000, 124, 124}, {T::MP2000, 125, 18},   {T::MP2000, 126, 125},  {T::MP2000, 141, 140},
      {T::MP2000, 155, 154}, {T::MP2000, 158, 157},  {T::MP2000, 159, 18},   {T::MP2000, 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(pb::st3Code(c.table, c.full), c.own) << int(c.table) << " " << c.full;
  // The last entry of each table is its size.
  EXPECT_EQ(pb::st3Entries(T::Full), 208);
  EXPECT_EQ(pb::st3Entries(T::MP25), pb::st3Code(T::MP25, 195));
  EXPECT_EQ(pb::st3Entries(T::IBM4610), pb::st3Code(T::IBM4610, 195));
  EXPECT_EQ(pb::st3Entries(T::MP2000), pb::st3Code(T::MP2000, 158));
}
