// The virtual printers' dispatch tables seen from the line: every command a
// family's table lists is run (it answers something other than the unknown
// command), every command it does not list answers the family's unknown-
// command error, the parameter counts an entry declares are held to before its
// handler runs, and each Bematech register answers with its declared layout.
// The cases come from the tables themselves; the answers that say "unknown"
// are written out as literal bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>

#include "core/text.h"
#include "cv2009_frames.h"
#include "emulator/bematech/printer.h"
#include "emulator/cv2009/printer.h"
#include "emulator/fiscnet/printer.h"
#include "emulator/paper.h"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

struct Sink final : ReplySink {
  void send(const ByteArray& bytes, uint32_t) override { got.insert(got.end(), bytes.begin(), bytes.end()); }
  int64_t nowUs() override { return 1'000'000; }
  void hangUp() override {}
  ByteArray take() {
    ByteArray g;
    g.swap(got);
    return g;
  }
  ByteArray got;
};

std::shared_ptr<FiscalCore> freshCore() {
  auto core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [] {
                                                                 return toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
                                                               }});
  core->setPaper(std::make_shared<Paper>(48));
  return core;
}

// ---- Bematech ----------------------------------------------------------------

using BmCommand = BematechPrinter::Command;
using BmShape = BematechPrinter::Register::Shape;

// An FS model with the full status table, and one of them an MP-7000 or not.
BematechModel fsModel(bool mp7000) {
  for (const BematechModel& m : BematechModel::all())
    if (m.prefix == bematech::kFS && m.table == bematech::St3Table::Full && m.mp7000 == mp7000) return m;
  ADD_FAILURE() << "no FS model with mp7000=" << mp7000;
  return {};
}

struct Bematech {
  std::shared_ptr<FiscalCore> core = freshCore();
  std::shared_ptr<BematechPrinter> printer;
  explicit Bematech(bool mp7000) : printer(std::make_shared<BematechPrinter>(core, fsModel(mp7000))) {}
  // The whole answer to a body (command, sub-code, parameters): ACK, data, ST1
  // ST2 and ST3 (low byte first).
  ByteArray run(uint8_t command, const ByteArray& params = {}) {
    ByteArray body{command};
    body.insert(body.end(), params.begin(), params.end());
    return printer->execute(printer->model().prefix, body);
  }
};

// ST1, ST2 and ST3 at the end of an FS answer.
struct Status {
  uint8_t st1 = 0xFF, st2 = 0xFF;
  uint16_t st3 = 0xFFFF;
};
Status statusOf(const ByteArray& a) {
  if (a.size() < 5) return {};
  const size_t n = a.size();
  return {a[n - 4], a[n - 3], static_cast<uint16_t>(a[n - 2] | a[n - 1] << 8)};
}

// ACK, ST1 0x04 (unknown command), ST2 0, ST3 1 (invalid command).
const ByteArray kBmUnknown{0x06, 0x04, 0x00, 0x01, 0x00};
// ACK, ST1 0x01 (wrong parameter count), ST2 0, ST3 3.
const ByteArray kBmBadCount{0x06, 0x01, 0x00, 0x03, 0x00};
// ACK, ST1 0, ST2 0x80 (wrong parameter), ST3 4.
const ByteArray kBmBadParam{0x06, 0x00, 0x80, 0x04, 0x00};

ByteArray filler(size_t n) {
  return ByteArray(n, '0');
}

template <typename Entry, typename Key>
bool listed(std::span<const Entry> table, Key key, Key Entry::*field) {
  return std::any_of(table.begin(), table.end(), [&](const Entry& e) { return e.*field == key; });
}

// A table's entries checked on a command of the printer: with the fewest
// parameters the handler runs; one fewer, or one more than the most, is a
// wrong count. `send` runs an entry's code with the given parameters.
template <typename Send>
void checkBematechEntries(std::span<const BmCommand> table, bool mp7000, const char* what, Send send) {
  for (const BmCommand& c : table) {
    SCOPED_TRACE(testing::Message() << what << " " << int(c.code) << (mp7000 ? " on the MP-7000" : ""));
    Bematech b(mp7000);
    const ByteArray reply = send(b, c.code, filler(c.minParams));
    if (c.mp7000Only && !mp7000) {
      EXPECT_EQ(reply, kBmUnknown);
      continue;
    }
    const Status st = statusOf(reply);
    EXPECT_EQ(st.st1 & bematech::st1::UnknownCommand, 0);
    EXPECT_NE(st.st3, bematech::code::InvalidCommand);
    if (c.minParams > 0) {
      EXPECT_EQ(send(b, c.code, filler(c.minParams - 1)), kBmBadCount);
    }
    if (c.maxParams != BematechPrinter::kAnyLength) {
      EXPECT_EQ(send(b, c.code, filler(size_t{c.maxParams} + 1)), kBmBadCount);
    }
  }
}

TEST(EmulatorDispatch, BematechRunsEveryCommandOfItsTablesAndHoldsTheirCounts) {
  const auto command = [](Bematech& b, uint8_t code, const ByteArray& p) { return b.run(code, p); };
  const auto block = [](Bematech& b, uint8_t sub, const ByteArray& p) {
    ByteArray params{sub};
    params.insert(params.end(), p.begin(), p.end());
    return b.run(bematech::cmd::Block, params);
  };
  for (bool mp7000 : {false, true}) {
    checkBematechEntries(BematechPrinter::dispatchTable(), mp7000, "command", command);
    checkBematechEntries(BematechPrinter::blockTable(), mp7000, "62/", block);
  }
}

TEST(EmulatorDispatch, BematechAnswersAnUnknownCommandForEveryCodeOutsideItsTables) {
  Bematech b(true);
  int unknown = 0;
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<uint8_t>(code);
    if (listed(BematechPrinter::dispatchTable(), c, &BmCommand::code)) continue;
    EXPECT_EQ(b.run(c), kBmUnknown) << "command " << code;
    ++unknown;
  }
  EXPECT_GT(unknown, 0);
  // A frame with the prefix alone names no command either.
  EXPECT_EQ(b.printer->execute(b.printer->model().prefix, {}), kBmUnknown);
  for (int sub = 0; sub < 256; ++sub) {
    const auto s = static_cast<uint8_t>(sub);
    if (listed(BematechPrinter::blockTable(), s, &BmCommand::code)) continue;
    EXPECT_EQ(b.run(bematech::cmd::Block, ByteArray{s}), kBmUnknown) << "62/" << sub;
  }
}

// The register's value as the test writes it: BCD digits of a number, a date
// as DDMMYY[hhmmss] digits, text padded with blanks.
std::string digitsOf(const ByteArray& data) {
  std::string s;
  for (uint8_t b : data) s += text::format("%02x", b);
  return s;
}

TEST(EmulatorDispatch, BematechAnswersEachRegisterInItsDeclaredLayout) {
  Bematech b(false);
  FiscalCore& c = *b.core;
  // A sale, a third totaliser and a management report, so that the counters,
  // the totals and the record registers hold something.
  ASSERT_EQ(c.addTitle("VALE"), FiscalError::Ok);
  ASSERT_EQ(c.addReport("CONFERENCIA"), FiscalError::Ok);
  ASSERT_EQ(c.openReceipt(), FiscalError::Ok);
  FiscalCore::ItemInput item;
  item.code = "1";
  item.description = "CAFE";
  item.unit = "UN";
  item.tax = "01";
  item.quantity = 2000;
  item.unitPrice = 1500;
  ASSERT_EQ(c.registerItem(item), FiscalError::Ok);
  ASSERT_EQ(c.totalize(0, 0), FiscalError::Ok);
  ASSERT_EQ(c.pay(0, 300), FiscalError::Ok);
  ASSERT_EQ(c.closeReceipt(""), FiscalError::Ok);

  for (const BematechPrinter::Register& r : BematechPrinter::registers()) {
    SCOPED_TRACE(testing::Message() << "35/" << int(r.number));
    const ByteArray reply = b.run(bematech::cmd::Read, ByteArray{r.number});
    ASSERT_GE(reply.size(), 5u);
    const Status st = statusOf(reply);
    EXPECT_EQ(st.st1, 0);
    EXPECT_EQ(st.st2, 0);
    const ByteArray data(reply.begin() + 1, reply.end() - 4);
    if (r.shape == BmShape::Records) {
      EXPECT_GT(data.size(), 0u);
      EXPECT_EQ(data.size() % r.size, 0u) << data.size() << " bytes";
      continue;
    }
    ASSERT_EQ(data.size(), r.size);
    switch (r.shape) {
      case BmShape::Bcd: {
        const std::string want = text::format("%0*lld", 2 * r.size, static_cast<long long>(r.value(c)));
        EXPECT_EQ(digitsOf(data), want.substr(want.size() - 2 * r.size));
        break;
      }
      case BmShape::Text: {
        std::string want = r.text(c).substr(0, r.size);
        want.resize(r.size, ' ');
        EXPECT_EQ(std::string(data.begin(), data.end()), want);
        break;
      }
      case BmShape::Date: {
        const int64_t seconds = r.value(c);
        std::string full(12, '0');
        if (seconds >= 0) {
          const Stamp s = fromSeconds(seconds);
          full = text::format("%02d%02d%02d%02d%02d%02d", s.day, s.month, s.year % 100, s.hour, s.minute, s.second);
        }
        EXPECT_EQ(digitsOf(data), full.substr(0, 2 * r.size));
        break;
      }
      case BmShape::Block:
      case BmShape::Records:
        break;
    }
  }
  for (int n = 0; n < 256; ++n) {
    const auto number = static_cast<uint8_t>(n);
    if (listed(BematechPrinter::registers(), number, &BematechPrinter::Register::number)) continue;
    EXPECT_EQ(b.run(bematech::cmd::Read, ByteArray{number}), kBmBadParam) << "35/" << n;
  }
  // The read takes the register's number and nothing else.
  EXPECT_EQ(b.run(bematech::cmd::Read), kBmBadCount);
  EXPECT_EQ(b.run(bematech::cmd::Read, ByteArray{bematech::read::OperationCounter, 0}), kBmBadCount);
}

// ---- the 2009 command set ------------------------------------------------------

struct Cv2009 {
  std::shared_ptr<FiscalCore> core = freshCore();
  std::shared_ptr<Cv2009Printer> printer;
  Sink sink;
  Cv2009() : printer(std::make_shared<Cv2009Printer>(core, Cv2009Model::all().at(0))) {}
  ByteArray send(uint8_t seq, uint16_t code, const std::string& params) {
    return raw(cv2009test::hostFrame(seq, code, params));
  }
  ByteArray raw(const ByteArray& bytes) {
    printer->receive(bytes.data(), bytes.size(), sink);
    return sink.take();
  }
};

// NAK, class 1 code 0 (invalid command); NAK, class 2 code 2 (missing parameter).
const ByteArray kCvUnknown{0x15, 0x01, 0x00, 0x00, 0x00, 0x00};
const ByteArray kCvMissing{0x15, 0x02, 0x02, 0x00, 0x00, 0x00};

std::string cvParams(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += "1|";
  return s;
}

TEST(EmulatorDispatch, Cv2009RunsEveryCommandOfItsTableAndAsksForWhatItNeeds) {
  for (const Cv2009Printer::Command& c : Cv2009Printer::dispatchTable()) {
    SCOPED_TRACE(testing::Message() << "command 0x" << std::hex << c.code);
    Cv2009 p;
    const ByteArray reply = p.send(1, c.code, cvParams(c.minParams));
    ASSERT_FALSE(reply.empty());
    EXPECT_NE(reply, kCvUnknown);
    if (c.minParams > 0) {
      EXPECT_EQ(p.send(2, c.code, cvParams(c.minParams - 1)), kCvMissing);
    }
  }
}

TEST(EmulatorDispatch, Cv2009AnswersAnInvalidCommandForEveryCodeOutsideItsTable) {
  Cv2009 p;
  int unknown = 0;
  for (unsigned code = 0; code <= 0xFFFF; ++code) {
    const auto c = static_cast<uint16_t>(code);
    if (listed(Cv2009Printer::dispatchTable(), c, &Cv2009Printer::Command::code)) continue;
    const ByteArray reply = p.send(static_cast<uint8_t>(code), c, "1|1|1|1|1|1|1|1|1|");
    if (reply != kCvUnknown) ADD_FAILURE() << "command 0x" << std::hex << code;
    ++unknown;
  }
  EXPECT_GT(unknown, 0);
  // None of them was taken: ENQ finds no reply waiting (NAK, class 2 code 1).
  EXPECT_EQ(p.raw({0x05, 0x00}), (ByteArray{0x15, 0x02, 0x01, 0x00, 0x00, 0x00}));
}

// ---- FiscNET -------------------------------------------------------------------

struct FiscNET {
  std::shared_ptr<FiscalCore> core = freshCore();
  std::shared_ptr<FiscNETPrinter> printer;
  Sink sink;
  FiscNET() : printer(std::make_shared<FiscNETPrinter>(core, "ELGIN X5", Hardware{48, false})) {}
  // {seq;command;params;length}, the length counting from the sequence
  // number to the ';' before it. The answer's return code.
  int ask(const std::string& command, const std::string& params = {}) {
    const std::string body = "1;" + command + ";" + params + ";";
    const std::string frame = "{" + body + std::to_string(body.size()) + "}";
    printer->receive(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), sink);
    const ByteArray got = sink.take();
    const std::string reply(got.begin(), got.end());
    const size_t a = reply.find(';'), b = reply.find(';', a + 1);
    if (reply.empty() || reply[0] != '{' || a == std::string::npos || b == std::string::npos) return -1;
    return std::stoi(reply.substr(a + 1, b - a - 1));
  }
};

constexpr int kFnNoCommand = 11006, kFnMissing = 11005;

TEST(EmulatorDispatch, FiscNETRunsEveryCommandOfItsTableAndAsksForWhatItNeeds) {
  for (const FiscNETPrinter::Command& c : FiscNETPrinter::dispatchTable()) {
    const std::string name(c.name);
    SCOPED_TRACE(name);
    FiscNET p;
    if (!c.required) {
      const int code = p.ask(name);
      EXPECT_GE(code, 0);
      EXPECT_NE(code, kFnNoCommand);
      continue;
    }
    EXPECT_EQ(p.ask(name), kFnMissing);
    const int code = p.ask(name, std::string(c.required) + "=\"X\"");
    EXPECT_GE(code, 0);
    EXPECT_NE(code, kFnNoCommand);
    EXPECT_NE(code, kFnMissing);
  }
}

TEST(EmulatorDispatch, FiscNETKnowsACommandByItsExactName) {
  FiscNET p;
  const auto table = FiscNETPrinter::dispatchTable();
  auto known = [&](const std::string& n) {
    return std::any_of(table.begin(), table.end(), [&](const FiscNETPrinter::Command& c) { return c.name == n; });
  };
  for (const FiscNETPrinter::Command& c : table) {
    const std::string name(c.name);
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    for (const std::string& other : {lower, name + "X", name.substr(0, name.size() - 1)}) {
      if (known(other)) continue;
      EXPECT_EQ(p.ask(other), kFnNoCommand) << "'" << other << "'";
    }
  }
}

}  // namespace
