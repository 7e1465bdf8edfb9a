// The virtual Schalter printer on its own, fed literal requests written by
// hand: its framing, its answers and status codes, its refusals of commands
// the state does not allow, the faults, and the models it serves.
#include <gtest/gtest.h>

#include <string>

#include "core/capabilities.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "emulator/registry.h"
#include "emulator/schalter/printer.h"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

struct Sink final : ReplySink {
  void send(const ByteArray& bytes, uint32_t) override { got.append(bytes.begin(), bytes.end()); }
  int64_t nowUs() override { return 1'000'000; }
  void hangUp() override {}
  std::string take() {
    std::string s;
    s.swap(got);
    return s;
  }
  std::string got;
};

// A frame with the check byte worked out here, apart from any codec.
std::string frame(const std::string& body) {
  std::string f = "\x1B\x66" + body;
  unsigned sum = 0;
  for (unsigned char c : f) sum += c;
  f += static_cast<char>((256 - sum % 256) % 256);
  return f;
}

struct Printer {
  int64_t hostNow = toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<SchalterPrinter> p;
  Sink sink;
  Printer() {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [this] { return hostNow; }});
    core->setPaper(std::make_shared<Paper>(40));
    p = std::make_shared<SchalterPrinter>(core, "SCHALTER ECF IF SCFI 1E", Hardware{40, false});
  }
  std::string ask(const std::string& request) {
    p->receive(reinterpret_cast<const uint8_t*>(request.data()), request.size(), sink);
    return sink.take();
  }
  // The status byte of the answer.
  int status(const std::string& request) {
    const std::string a = ask(request);
    return a.empty() ? -1 : static_cast<unsigned char>(a[0]);
  }
};

std::string s(const char* p, size_t n) {
  return std::string(p, n);
}

const std::string kItemCafe = s("\xD0\0\0\0\0", 5) + "1            " + s("\0", 1) + "CAFE" + std::string(58, ' ') +
                              "001,500"
                              "x"
                              "KG" +
                              std::string(10, '\0') +
                              "000000250"
                              "00";

}  // namespace

TEST(EmulatorSchalter, LiteralRequestsAndTheAnswersTheyGet) {
  Printer e;
  // The first rate and the end of the table, entirely by hand.
  EXPECT_EQ(e.ask("\x1B\x66\xE1"
                  "00"
                  "\x3E"),
            s("\0"
              "00T18,00",
              9));
  EXPECT_EQ(e.ask("\x1B\x66\xE1"
                  "15"
                  "\x38"),
            s("\0"
              "15N\0\0\0\0\0",
              9));
  EXPECT_EQ(e.ask("\x1B\x66\x01\x26\x58"), s("\0", 1));
  EXPECT_EQ(e.ask("\x1B\x66\x01\x26\x58"), "\x5A");  // 90: a receipt is open
  EXPECT_EQ(e.ask(frame(kItemCafe)), s("\0", 1));
  // The state read: a receipt open, the drawer closed.
  EXPECT_EQ(e.ask(s("\x1B\x66\xDF\0\0\xA0", 6)), s("\0\0\0\0\0\x01\x08", 7));
  EXPECT_EQ(e.status(frame(s("\xD5\x01"
                             "0",
                             3) +
                           std::string(11, '\0') + "00" + "0000001000")),
            0);
  EXPECT_EQ(e.ask("\x1B\x6E"
                  "OBRIGADO" +
                  s("\0\n", 2)),
            s("\0", 1));
  EXPECT_EQ(e.status(frame(s("\x06\0\0", 3) + "        ")), 0);
  EXPECT_EQ(e.core->lastReceipt().total, 375);
  EXPECT_EQ(e.core->lastReceipt().items.at(0).quantity, 1500);
  EXPECT_EQ(e.core->lastReceipt().items.at(0).tax, "01");
  // A wrong check byte, and a code the printer lacks.
  EXPECT_EQ(e.ask("\x1B\x66\x01\x26\x59"), "\x01");
  EXPECT_EQ(e.ask("\x1B\x66\x99\x00"), "\x6B");
  // Noise before a frame is skipped.
  EXPECT_EQ(e.ask("zz" + frame(s("\xE0\0\0", 3))).size(), 31u);
}

TEST(EmulatorSchalter, WrongStatesAnswerTheFamilysCodes) {
  struct Case {
    const char* what;
    std::string request;
    int status;
  };
  Printer e;
  const Case cases[] = {
      {"item without a receipt", frame(kItemCafe), 69},
      {"payment without a receipt",
       frame(s("\xD5\x01"
               "0",
               3) +
             std::string(11, '\0') + "00" + "0000001000"),
       69},
      {"closing with nothing open", frame(s("\x06\0\0", 3) + "        "), 126},
      {"cancelling with nothing issued", frame(s("\x05\0\0", 3) + "        " + std::string(4, '\0')), 91},
      {"a line with nothing open",
       "\x1B\x6E"
       "X" +
           s("\0\n", 2),
       126},
      {"quantity without its comma", frame(s("\xD0", 1) + std::string(111, '0')), 136},
  };
  for (const Case& c : cases) EXPECT_EQ(e.status(c.request), c.status) << c.what;
  ASSERT_EQ(e.status("\x1B\x66\x01\x26\x58"), 0);
  EXPECT_EQ(e.status(frame(kItemCafe.substr(0, kItemCafe.size() - 2) + "15")), 106);         // rate not programmed
  EXPECT_EQ(e.status(frame(s("\xD9\0\0", 3) + std::string(25, '\0') + "0000000000")), 126);  // no subtotal asked
  EXPECT_EQ(e.status(frame(s("\xD1\0", 2))), 135);                                           // nothing sold yet
  EXPECT_EQ(SchalterPrinter::statusOf(FiscalError::MemoryWrite), 121);
  EXPECT_EQ(SchalterPrinter::statusOf(FiscalError::Ok), 0);
}

TEST(EmulatorSchalter, FaultsAndTheStateAcrossARestart) {
  Printer e;
  ASSERT_TRUE(e.p->setFaults("nak,once"));
  EXPECT_EQ(e.ask("\x1B\x66\x01\x26\x58"), "\x02");  // not taken
  EXPECT_FALSE(e.core->receiptOpen());
  EXPECT_EQ(e.ask("\x1B\x66\x01\x26\x58"), s("\0", 1));
  ASSERT_TRUE(e.p->setFaults("noanswer,once"));
  EXPECT_EQ(e.ask(frame(kItemCafe)), "");
  EXPECT_TRUE(e.core->document().items.empty());  // lost on its way in
  // A frame cut in two is answered once its last byte comes.
  const std::string x = frame(s("\xE0\0\0", 3));
  EXPECT_EQ(e.ask(x.substr(0, 3)), "");
  EXPECT_EQ(e.ask(x.substr(3)).size(), 31u);
}

TEST(EmulatorSchalter, ServesItsFourModels) {
  for (int model : {20, 36, 37, 38}) {
    const VirtualModel* m = findVirtualModel(model);
    ASSERT_NE(m, nullptr) << model;
    EXPECT_EQ(m->name, caps::fiscalModel(model)->name);
    auto printer = makePrinter(model, "", "");
    ASSERT_NE(printer, nullptr) << model;
    EXPECT_NE(dynamic_cast<SchalterPrinter*>(printer.get()), nullptr);
  }
}

TEST(EmulatorSchalter, EveryCommandOfItsTableIsRunAndEveryOtherCodeIsUnknown) {
  for (const SchalterPrinter::Command& c : SchalterPrinter::dispatchTable()) {
    SCOPED_TRACE(testing::Message() << "command 0x" << std::hex << int(c.code));
    Printer e;
    const int width = schalter::paramWidth(c.code);
    ASSERT_GE(width, 0);
    const std::string a = e.ask(frame(std::string(1, static_cast<char>(c.code)) + std::string(width, '0')));
    ASSERT_EQ(a.size(), schalter::answerSize(c.code));
    EXPECT_NE(static_cast<unsigned char>(a[0]), SchalterPrinter::kUnknownCommand);
  }
  Printer e;
  for (unsigned code = 0; code < 256; ++code) {
    if (schalter::paramWidth(static_cast<uint8_t>(code)) >= 0) continue;
    EXPECT_EQ(e.ask(frame(std::string(1, static_cast<char>(code)) + "00")), "\x6B") << code;
  }
}
