// The Daruma virtual printers from the line: requests written by hand, the
// answers they get byte for byte, every row of the dispatch tables, the codes
// for wrong-state commands, a bad check byte, noise before the ':', frames in
// pieces, and a printer that restarts from its state file.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/capabilities.h"
#include "emulator/daruma/codec.h"
#include "emulator/daruma/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

struct Sink final : ReplySink {
  void send(const ByteArray& bytes, uint32_t) override { got.insert(got.end(), bytes.begin(), bytes.end()); }
  int64_t nowUs() override { return now += 1000; }
  void hangUp() override { hung = true; }
  ByteArray take() {
    ByteArray g;
    g.swap(got);
    return g;
  }
  ByteArray got;
  int64_t now = 0;
  bool hung = false;
};

std::string str(const ByteArray& b) {
  return std::string(b.begin(), b.end());
}

// An FS600 frame by hand: FS, the command, the parameters, their XOR, 00.
ByteArray fs(uint8_t letter, uint8_t code, const std::string& params) {
  ByteArray f{0x1C, letter, code};
  uint8_t x = 0x1C ^ letter ^ code;
  for (char c : params) {
    f.push_back(static_cast<uint8_t>(c));
    x ^= static_cast<uint8_t>(c);
  }
  f.push_back(x);
  f.push_back(0x00);
  return f;
}

std::string code3(int code) {
  char b[8];
  std::snprintf(b, sizeof b, "%03d", code);
  return b;
}

std::shared_ptr<FiscalCore> freshCore(const std::string& path = "") {
  auto core = std::make_shared<FiscalCore>(FiscalCore::Options{path, [] {
                                                                 return toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
                                                               }});
  core->setPaper(std::make_shared<Paper>(48));
  return core;
}

template <class Face>
struct Printer {
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<Face> p;
  Sink sink;
  explicit Printer(int model, const std::string& path = "")
      : core(freshCore(path)), p(std::make_shared<Face>(core, caps::fiscalModel(model)->name, Hardware{48, false})) {}
  ByteArray ask(const ByteArray& request) {
    p->receive(request.data(), request.size(), sink);
    return sink.take();
  }
};

}  // namespace

TEST(EmulatorDaruma, FS600LiteralRequestsAndTheAnswersTheyGet) {
  Printer<DarumaFS600Printer> r(13);
  struct Case {
    ByteArray request;
    std::string answer;
  } cases[] = {
      // The X report, "F" 235 "0".
      {{0x1C, 0x46, 0xEB, 0x30, 0x81, 0x00},
       ":F\xEB"
       "000\r"},
      // The COO after it.
      {{0x1C, 0x52, 0xC8, '0', '2', '6'},
       ":\xC8"
       "026000001\r"},
      // The tax table: four rates.
      {{0x1C, 0x52, 0xC8, '1', '2', '5'},
       ":\xC8"
       "125T1800T1200T0700S0500\r"},
      // A register it does not have.
      {{0x1C, 0x52, 0xC8, '0', '0', '0'},
       ":R\xC8"
       "040\r"},
      // The probe.
      {{0x1D, 0x06},
       ":\x1D\x06"
       "000\r"},
      // Close a linked receipt none is open: 084.
      {{0x1C, 0x46, 0xD6, 0x8C, 0x00},
       ":F\xD6"
       "084\r"},
      // The X report with a wrong check byte: 024.
      {{0x1C, 0x46, 0xEB, 0x30, 0x80, 0x00},
       ":F\xEB"
       "024\r"},
      // A command it does not know ("F" 250): 014.
      {{0x1C, 0x46, 0xFA, 0xA0, 0x00},
       ":F\xFA"
       "014\r"},
      // The item without its description text: 051.
      {{0x1C, 0x46, 0xC9, '0', '1', 0x92, 0x00},
       ":F\xC9"
       "051\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(str(c.request));
    EXPECT_EQ(str(r.ask(c.request)), c.answer);
  }
  // A frame in pieces is answered once it is whole; noise between frames is dropped.
  const ByteArray x = fs('F', 235, "0");
  EXPECT_TRUE(r.ask(ByteArray(x.begin(), x.begin() + 3)).empty());
  EXPECT_EQ(str(r.ask(ByteArray(x.begin() + 3, x.end()))),
            ":F\xEB"
            "000\r");
  EXPECT_TRUE(r.ask({'x', 'y', 0x11}).empty());
  EXPECT_EQ(r.core->counters().coo, 2);
}

TEST(EmulatorDaruma, FS600ASaleAndTheCodesOfWrongStateCommands) {
  Printer<DarumaFS600Printer> r(17);
  const std::string item =
      std::string("01") + "0000200" + "00000150" + "1" + "00000000000" + "00" + "7891          " + "UN " + "PAO\xFF";
  struct Step {
    ByteArray request;
    int code;
  } steps[] = {
      {fs('F', 209, "01000000000500\xFF"), 82},             // pay, no receipt
      {fs('F', 200, "\xFF\xFF\xFF"), 0},                    // open
      {fs('F', 200, "\xFF\xFF\xFF"), 78},                   // again
      {fs('F', 201, item), 0},                              // 2 x 1,50
      {fs('F', 201, "99" + item.substr(2)), 90},            // no such tax
      {fs('F', 203, "005"), 94},                            // no such item
      {fs('F', 202, "0011" + std::string(11, '0')), 95},    // a zero discount
      {fs('F', 206, "1000000000050"), 0},                   // 0,50 off
      {fs('F', 206, "1000000000050"), 87},                  // totalled already
      {fs('F', 209, "07000000000500\xFF"), 118},            // no such payment
      {fs('F', 210, "0OBRIGADO\xFF"), 120},                 // not paid yet
      {fs('F', 209, "01000000000500\xFF"), 0},              // 5,00
      {fs('F', 210, "0OBRIGADO\xFF"), 0},                   // close
      {fs('F', 212, "0201000000000100\xFF\xFF\xFF"), 139},  // no linked receipt on cheque
      {fs('F', 230, "05"), 129},                            // no report 05
      {fs('F', 220,
          "01"
          "00000000500"
          "0"
          "00000000000"),
       83},  // no non-fiscal receipt open
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(str(s.request));
    const std::string a = str(r.ask(s.request));
    ASSERT_EQ(a.size(), 7u);
    EXPECT_EQ(a.substr(3, 3), code3(s.code));
  }
  EXPECT_EQ(r.core->grandTotal(), 300);
  EXPECT_EQ(r.core->lastReceipt().total, 250);
}

TEST(EmulatorDaruma, ClassicLiteralRequestsAndTheAnswersTheyGet) {
  Printer<DarumaClassicPrinter> r(11);
  struct Case {
    ByteArray request;
    std::string answer;
  } cases[] = {
      {{0x1B, 0xCF}, ":\r"},  // X report
      {{0x1B, 0xEF},
       ":000001"
       "0"
       "000000000000000000"
       "000000"
       "000001\r"},                               // receipt read: COO 1, GNF 1
      {{0x1B, 0xD4}, ":E11\r"},                   // nothing to close
      {{0x1B, 0x01}, ":E16\r"},                   // unknown command
      {{0x1B, 0xE5}, ":0\r"},                     // daylight saving off
      {{0x1B, 0xE7}, ":T1800T1200T0700S0500\r"},  // tax table
      {{0x1B, 0xD1, 'X', '0', '0', '0', '0', '0', '1', '0', '0', '0', '0', '0', '2'}, ":E87\r"},  // bad kind
      {{0x1B, 0x70, '0', '0', '0'}, ":\r"},                                                       // drawer
      {{0x1B, 0xDC, 'S', '0', '5', '0', '0'}, ":E37\r"},                                          // 5 % ISS is loaded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(str(c.request));
    EXPECT_EQ(str(r.ask(c.request)), c.answer);
  }
  EXPECT_TRUE(r.p->drawerOpen());
  // A frame in pieces; bytes that are not a command are dropped.
  EXPECT_TRUE(r.ask({0x1B, 0xC8, 0xFF, 0xFF}).empty());
  EXPECT_EQ(str(r.ask({0xFF})), ":\r");
  EXPECT_TRUE(r.core->receiptOpen());
  EXPECT_TRUE(r.ask({'n', 'o', 'i', 's', 'e'}).empty());
  EXPECT_EQ(str(r.ask({0x1B, 0xC8, 0xFF, 0xFF, 0xFF})), ":E10\r");
}

TEST(EmulatorDaruma, EveryRowOfTheTablesRunsItsHandler) {
  {
    Printer<DarumaFS600Printer> r(13);
    for (const auto& c : DarumaFS600Printer::dispatchTable()) {
      std::string params(c.fixed, '0');
      params += std::string(c.texts, '\xFF');
      const std::string a = str(r.ask(fs(static_cast<uint8_t>(c.key >> 8), static_cast<uint8_t>(c.key), params)));
      SCOPED_TRACE(std::to_string(c.key >> 8) + " " + std::to_string(c.key & 0xFF));
      ASSERT_EQ(a.size(), 7u);
      EXPECT_NE(a.substr(3, 3), "014");
      EXPECT_NE(a.substr(3, 3), "051");
      // One byte short of the fixed part is refused before the handler.
      if (c.fixed) {
        const std::string shortOne = std::string(c.fixed - 1u, '0') + std::string(c.texts, '\xFF');
        EXPECT_EQ(str(r.ask(fs(static_cast<uint8_t>(c.key >> 8), static_cast<uint8_t>(c.key), shortOne))).substr(3, 3),
                  "051");
      }
    }
    for (const auto& reg : DarumaFS600Printer::registers()) {
      const std::string n = code3(reg.number);
      const std::string a = str(
          r.ask({0x1C, 'R', 0xC8, static_cast<uint8_t>(n[0]), static_cast<uint8_t>(n[1]), static_cast<uint8_t>(n[2])}));
      SCOPED_TRACE(n);
      ASSERT_GE(a.size(), 6u);
      EXPECT_EQ(a.substr(0, 5), std::string(":\xC8") + n);
      EXPECT_EQ(a.back(), '\r');
      EXPECT_EQ(a.find('\r'), a.size() - 1);
    }
  }
  Printer<DarumaClassicPrinter> r(11);
  for (const auto& c : DarumaClassicPrinter::dispatchTable()) {
    const daruma::ClassicShape* shape = daruma::classicShape(c.code);
    ASSERT_NE(shape, nullptr) << int(c.code);
    ByteArray f{0x1B, c.code};
    f.insert(f.end(), shape->before, '0');
    f.insert(f.end(), shape->texts, 0xFF);
    f.insert(f.end(), shape->after, '0');
    if (shape->lineText) f.push_back('\n');
    const std::string a = str(r.ask(f));
    SCOPED_TRACE(int(c.code));
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a[0], ':');
    EXPECT_NE(a, ":E16\r");
  }
  // Every byte outside the table is a syntax error.
  for (int b = 0; b < 256; ++b) {
    if (daruma::classicShape(static_cast<uint8_t>(b)) || b == 0x1B) continue;
    EXPECT_EQ(str(r.ask({0x1B, static_cast<uint8_t>(b)})), ":E16\r") << b;
  }
}

TEST(EmulatorDaruma, NoiseBeforeTheColonAndTheFaults) {
  Printer<DarumaFS600Printer> r(13);
  r.p->setNoise(5);
  const std::string a = str(r.ask(fs('F', 235, "0")));
  ASSERT_EQ(a.size(), 12u);
  EXPECT_EQ(a.find(':'), 5u);
  EXPECT_EQ(a.find('\r'), 11u);
  EXPECT_EQ(a.substr(5),
            ":F\xEB"
            "000\r");
  r.p->setNoise(0);
  ASSERT_TRUE(r.p->setFaults("nak,once"));
  EXPECT_EQ(str(r.ask(fs('F', 235, "0"))),
            ":F\xEB"
            "144\r");
  EXPECT_EQ(r.core->counters().coo, 1);  // refused: not run
  ASSERT_TRUE(r.p->setFaults("noanswer,once"));
  EXPECT_TRUE(r.ask(fs('F', 235, "0")).empty());
  ASSERT_TRUE(r.p->setFaults("garbage,once"));
  const ByteArray g = r.ask(fs('F', 235, "0"));
  ASSERT_EQ(g.size(), 7u);
  EXPECT_NE(g[0], ':');
  EXPECT_EQ(r.core->counters().coo, 2);  // garbled: it ran
}

TEST(EmulatorDaruma, APrinterRestartedFromItsStateFileGoesOn) {
  testsupport::TempDir tmp;
  const std::string path = tmp.file("state.json");
  {
    Printer<DarumaFS600Printer> r(13, path);
    EXPECT_EQ(str(r.ask(fs('F', 200, "\xFF\xFF\xFF"))).substr(3, 3), "000");
    const std::string item =
        std::string("01") + "0000100" + "00000300" + "1" + "00000000000" + "00" + "1             " + "UN " + "CAFE\xFF";
    EXPECT_EQ(str(r.ask(fs('F', 201, item))).substr(3, 3), "000");
  }
  Printer<DarumaFS600Printer> r(13, path);
  EXPECT_EQ(str(r.ask({0x1C, 'R', 0xC8, '0', '5', '6'})),
            ":\xC8"
            "0561\r");  // the receipt is still open
  EXPECT_EQ(str(r.ask(fs('F', 209, "01000000000300\xFF"))).substr(3, 3), "000");
  EXPECT_EQ(str(r.ask(fs('F', 210, "0\xFF"))).substr(3, 3), "000");
  EXPECT_EQ(r.core->grandTotal(), 300);
  EXPECT_EQ(r.core->counters().ccf, 1);
}
