// What every virtual printer shares, whatever its maker: the registry of
// models with a face, ready printers by number or name, and the base face's
// buffer, timing, faults and check station, seen through a toy face whose
// commands are lines of text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "emulator/paper.h"
#include "emulator/printers.h"
#include "emulator/registry.h"
#include "emulator/virtual_printer.h"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

// Commands end with '\n'; each is answered "OK " and the command.
class LineFace final : public VirtualPrinter {
 public:
  explicit LineFace(bool checkStation)
      : VirtualPrinter(std::make_shared<FiscalCore>(), "LINE PRINTER", Hardware{32, checkStation}) {}

 protected:
  void consume(ByteArray& buf, ReplySink& out) override {
    for (;;) {
      auto nl = std::find(buf.begin(), buf.end(), '\n');
      if (nl == buf.end()) return;
      const std::string command(buf.begin(), nl);
      buf.erase(buf.begin(), nl + 1);
      if (!serve(out, ByteArray{'N', 'O'}, [&] {
            const std::string a = "OK " + command;
            return ByteArray(a.begin(), a.end());
          }))
        return;
    }
  }
};

struct Sink final : ReplySink {
  void send(const ByteArray& bytes, uint32_t delayMs) override {
    got += std::string(bytes.begin(), bytes.end()) + "|";
    lastDelayMs = delayMs;
  }
  int64_t nowUs() override { return now; }
  void hangUp() override { hungUp = true; }
  std::string take() {
    std::string s;
    s.swap(got);
    return s;
  }
  std::string got;
  int64_t now = 1'000'000;
  uint32_t lastDelayMs = 0;
  bool hungUp = false;
};

void feed(VirtualPrinter& p, Sink& s, const std::string& bytes) {
  p.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), s);
}

}  // namespace

TEST(VirtualPrinterBase, GathersBytesAndDropsACommandAbandonedHalfWay) {
  LineFace p(false);
  Sink s;
  feed(p, s, "AB");
  EXPECT_EQ(s.take(), "");
  s.now += 100'000;  // the rest comes soon: one command
  feed(p, s, "C\nD\n");
  EXPECT_EQ(s.take(), "OK ABC|OK D|");
  feed(p, s, "HALF");
  s.now += 600'000;  // the host gave up on it and starts again
  feed(p, s, "NEW\n");
  EXPECT_EQ(s.take(), "OK NEW|");
  feed(p, s, "PART");
  p.lineClosed();  // closing the line forgets it too
  feed(p, s, "X\n");
  EXPECT_EQ(s.take(), "OK X|");
  EXPECT_EQ(p.framesReceived(), 4);
  EXPECT_EQ(p.modelName(), "LINE PRINTER");
  EXPECT_EQ(p.core().identity().model, "LINE PRINTER");
}

TEST(VirtualPrinterBase, FaultsApplyToEachCommandOfAnyFace) {
  struct Case {
    const char* faults;
    const char* answer;
  };
  const Case cases[] = {
      {"none", "OK A|"}, {"nak", "NO|"}, {"noanswer", ""}, {"short", "OK|"}, {"slow=250", "OK A|"},
  };
  for (const Case& c : cases) {
    LineFace p(false);
    Sink s;
    ASSERT_TRUE(p.setFaults(c.faults)) << c.faults;
    feed(p, s, "A\n");
    EXPECT_EQ(s.take(), c.answer) << c.faults;
  }
  LineFace p(false);
  Sink s;
  ASSERT_TRUE(p.setFaults("slow=250"));
  feed(p, s, "A\n");
  EXPECT_EQ(s.lastDelayMs, 250u);
  EXPECT_EQ(s.take(), "OK A|");
  ASSERT_TRUE(p.setFaults("garbage"));
  feed(p, s, "A\n");
  const std::string g = s.take();
  EXPECT_EQ(g.size(), 5u);  // noise as long as "OK A", and the separator
  EXPECT_NE(g, "OK A|");
  // Noise never starts like an answer of any family, or a driver would take it
  // for the start of a reply instead of noise.
  const std::string answerStarts = "\x01\x02\x06\x11\x15\x16{";
  ASSERT_TRUE(p.setFaults("garbage,always"));
  for (int i = 0; i < 3000; ++i) {
    feed(p, s, "A\n");
    const std::string noise = s.take();
    ASSERT_FALSE(noise.empty());
    ASSERT_EQ(answerStarts.find(noise[0]), std::string::npos) << "command " << i;
  }
  // cut=1: one answer, then the line is dead and stays dead.
  ASSERT_TRUE(p.setFaults("cut=1"));
  feed(p, s, "B\nC\nD\n");
  EXPECT_EQ(s.take(), "OK B|");
  EXPECT_TRUE(s.hungUp);
  EXPECT_TRUE(p.lineCut());
  feed(p, s, "E\n");
  EXPECT_EQ(s.take(), "");
}

TEST(VirtualPrinterBase, TheCheckStationAndTheDrawer) {
  LineFace none(false);
  std::string err;
  EXPECT_FALSE(none.setCheckDocument("in", &err));
  EXPECT_NE(err.find("no check station"), std::string::npos) << err;

  LineFace p(true);
  EXPECT_FALSE(p.setCheckDocument("sideways", &err));
  EXPECT_NE(err.find("sideways"), std::string::npos) << err;
  ASSERT_TRUE(p.setCheckDocument("in", &err)) << err;
  EXPECT_TRUE(p.documentInserted());
  const std::string made = p.documentCmc7();
  ASSERT_EQ(made.size(), 30u);
  EXPECT_EQ(made.find_first_not_of("0123456789"), std::string::npos);
  // A document put in with its own line keeps it; a short line gets a made-up one.
  p.setDocumentInserted(true, "<34191570<0180000455>500007651286");
  EXPECT_EQ(p.documentCmc7(), "341915700180000455500007651286");
  p.setDocumentInserted(true, "123");
  EXPECT_NE(p.documentCmc7(), made);
  ASSERT_TRUE(p.setCheckDocument("out", &err));
  EXPECT_FALSE(p.documentInserted());
  EXPECT_EQ(p.documentCmc7(), "");
  ASSERT_TRUE(p.setCheckDocument("auto", &err));
  EXPECT_TRUE(p.autoDocument());

  p.setDrawerAutoCloseMs(0);
  p.setDrawerOpen(true);
  EXPECT_TRUE(p.drawerOpen());
  p.setDrawerOpen(false);
  EXPECT_FALSE(p.drawerOpen());
}

TEST(VirtualPrinterRegistry, ModelsByNumberAndName) {
  const auto& models = virtualModels();
  ASSERT_FALSE(models.empty());
  std::set<int> numbers;
  for (size_t i = 0; i < models.size(); ++i) {
    const VirtualModel& m = models[i];
    EXPECT_TRUE(numbers.insert(m.number).second) << "twice: " << m.number;
    if (i > 0) {
      EXPECT_LT(models[i - 1].number, m.number);
    }
    ASSERT_NE(m.make, nullptr) << m.number;
    EXPECT_EQ(findVirtualModel(m.number), &m);
    EXPECT_EQ(virtualModelNumber("  " + m.name + " "), m.number);
    EXPECT_EQ(virtualModelNumber(std::to_string(m.number)), m.number);
    // Every row makes a printer of its own name, with paper of its width.
    std::string err;
    auto p = makePrinter(m.number, "", "", &err);
    ASSERT_NE(p, nullptr) << err;
    EXPECT_EQ(p->modelName(), m.name);
    EXPECT_EQ(p->core().paper()->columns(), m.hardware.columns);
    EXPECT_TRUE(hasVirtualPrinter(m.number));
  }
  // Names are matched without regard to case.
  std::string lower = models.back().name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(virtualModelNumber(lower), models.back().number);
  EXPECT_NE(makePrinter(lower, "", ""), nullptr);

  // A model without a face: refused, and the message lists those with one.
  for (const std::string& bad : {std::string("99"), std::string("0"), std::string("NO SUCH PRINTER"), std::string()}) {
    std::string err;
    EXPECT_EQ(makePrinter(bad, "", "", &err), nullptr) << bad;
    EXPECT_EQ(virtualModelNumber(bad), 0) << bad;
    for (const VirtualModel& m : models) EXPECT_NE(err.find(m.name), std::string::npos) << bad << ": " << err;
  }
  EXPECT_EQ(findVirtualModel(99), nullptr);
  EXPECT_FALSE(hasVirtualPrinter(99));
  std::string err;
  EXPECT_EQ(makePrinter(99, "", "", &err), nullptr);
  EXPECT_NE(err.find("model 99"), std::string::npos) << err;
}
