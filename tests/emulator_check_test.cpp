// The virtual check printers from their side of the wire: literal requests and
// the bytes they answer, every row of their dispatch tables, the faults, and a
// check station that survives a restart. Expected bytes are written by hand.
#include <gtest/gtest.h>

#include "emulator/check/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

struct Sink final : ReplySink {
  void send(const ByteArray& bytes, uint32_t) override { got.insert(got.end(), bytes.begin(), bytes.end()); }
  int64_t nowUs() override { return now += 1000; }
  void hangUp() override {}
  ByteArray take() {
    ByteArray g;
    g.swap(got);
    return g;
  }
  ByteArray got;
  int64_t now = 1'000'000;
};

ByteArray of(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

template <class Face>
std::shared_ptr<Face> make(const char* name, const std::string& state = {}) {
  std::string err;
  auto p = std::dynamic_pointer_cast<Face>(makePrinter(name, state, "", &err));
  EXPECT_NE(p, nullptr) << err;
  return p;
}

ByteArray ask(VirtualPrinter& p, Sink& s, const ByteArray& bytes) {
  p.receive(bytes.data(), bytes.size(), s);
  return s.take();
}

const std::string kDigits = "001000110180000015500001234565";

}  // namespace

TEST(EmulatorPerto, LiteralRequestsAndTheAnswersTheyGet) {
  auto p = make<PertoPrinter>("PERTOCHECK");
  Sink s;
  // An empty slot.
  EXPECT_EQ(ask(*p, s, of("\x02P\x03Q")), of("\x06\x02"
                                             "018\x03\x38"));
  p->setDocumentInserted(true, kDigits);
  EXPECT_EQ(ask(*p, s, of("\x02P\x03Q")), of("\x06\x02"
                                             "000<00100011<0180000015>500001234565:\x03\x3E"));
  // Our acknowledgement of the answer is not a command.
  EXPECT_EQ(ask(*p, s, of("\x06")), ByteArray{});
  EXPECT_EQ(ask(*p, s, of("\x02;C000000012345001\x03\x49")), of("\x06\x02"
                                                                "000\x03\x31"));
  EXPECT_NE(p->printedPaper().find("BANCO 001 VALOR 123,45"), std::string::npos) << p->printedPaper();
  // Printed, the check is no longer in place to print again.
  EXPECT_EQ(ask(*p, s, of("\x02;C000000012345001\x03\x49")), of("\x06\x02"
                                                                "097\x03\x3F"));
  // A damaged frame is refused; an unknown command and a wrong length get their codes.
  EXPECT_EQ(ask(*p, s, of("\x02P\x03\x52")), of("\x15"));
  EXPECT_EQ(ask(*p, s, of("\x02Q\x03\x50")), of("\x06\x02"
                                                "001\x03\x30"));
  EXPECT_EQ(ask(*p, s, of("\x02;C1\x03\x48")), of("\x06\x02"
                                                  "002\x03\x33"));
  // Bytes in pieces make one frame.
  EXPECT_EQ(ask(*p, s, of("\x02>")), ByteArray{});
  EXPECT_EQ(ask(*p, s, of("\x03?")), of("\x06\x02"
                                        "000\x03\x31"));
  EXPECT_FALSE(p->documentInserted());
}

TEST(EmulatorPerto, EveryRowOfTheTableRuns) {
  for (const PertoPrinter::Command& c : PertoPrinter::dispatchTable()) {
    SCOPED_TRACE(std::string(1, static_cast<char>(c.code)));
    auto p = make<PertoPrinter>("PERTOCHECK");
    p->setDocumentInserted(true, kDigits);
    Sink s;
    // Parameters of the shortest length the row takes: digits, and text lines for "X".
    std::string params(c.minLength, '0');
    if (c.code == ';') params[0] = 'C';
    if (c.code == 'X') params = std::string(14, '\xFF');
    // STX, the command and its parameters, ETX, and the exclusive-or of them all.
    const auto frameOf = [&](const std::string& parameters) {
      std::string f = "\x02" + std::string(1, static_cast<char>(c.code)) + parameters + "\x03";
      char x = 0;
      for (char b : f) x = static_cast<char>(x ^ b);
      return of(f + x);
    };
    if (c.code == ';') ask(*p, s, of("\x02=\x03<"));  // into place first
    const ByteArray a = ask(*p, s, frameOf(params));
    ASSERT_GE(a.size(), 7u);
    EXPECT_EQ(std::string(a.begin() + 2, a.begin() + 5), "000");
    // One byte past the longest is refused before the handler.
    if (c.maxLength < 1000) {
      const ByteArray b = ask(*p, s, frameOf(params + std::string(c.maxLength + 1 - params.size(), '0')));
      ASSERT_GE(b.size(), 7u);
      EXPECT_EQ(std::string(b.begin() + 2, b.begin() + 5), "002");
    }
  }
}

TEST(EmulatorPerto, FaultsAndARestartThatKeepsTheStation) {
  testsupport::TempDir tmp;
  const std::string state = tmp.file("perto.json");
  {
    auto p = make<PertoPrinter>("PERTOCHECK", state);
    Sink s;
    ASSERT_TRUE(p->setFaults("nak,once"));
    EXPECT_EQ(ask(*p, s, of("\x02P\x03Q")), of("\x15"));
    ASSERT_TRUE(p->setFaults("noanswer,once"));
    EXPECT_EQ(ask(*p, s, of("\x02P\x03Q")), ByteArray{});
    ASSERT_TRUE(p->setFaults("garbage,once"));
    const ByteArray noise = ask(*p, s, of("\x02P\x03Q"));
    ASSERT_FALSE(noise.empty());
    EXPECT_NE(noise[0], 0x06);
    p->setDocumentInserted(true, kDigits);
    EXPECT_EQ(ask(*p, s, of("\x02P\x03Q")).size(), 41u);  // read: the check is in place
    EXPECT_EQ(ask(*p, s, of("\x02#Recife\x03\x1C")), of("\x06\x02"
                                                        "000\x03\x31"));
  }
  auto p = make<PertoPrinter>("PERTOCHECK", state);
  const StationState st = p->station();
  EXPECT_TRUE(st.document);
  EXPECT_TRUE(st.read);
  EXPECT_TRUE(st.positioned);
  EXPECT_EQ(st.cmc7, kDigits);
  EXPECT_EQ(st.city, "Recife");
  EXPECT_TRUE(p->documentInserted());
  Sink s;
  // Still in place after the restart: printed without feeding it again.
  EXPECT_EQ(ask(*p, s, of("\x02;C000000012345001\x03\x49")), of("\x06\x02"
                                                                "000\x03\x31"));
  EXPECT_EQ(p->station().printed, 1);
}

TEST(EmulatorChronos, StatusBytesTextAndTheTable) {
  auto p = make<ChronosPrinter>("CHRONOS CHECK-PRONTO");
  EXPECT_EQ(p->hardware().columns, 82);
  Sink s;
  const ByteArray bank =
      of(std::string("\x1B\xA2"
                     "001\r\0",
                     7));
  EXPECT_EQ(ask(*p, s, bank), ByteArray{0x04});  // ready, slot empty
  p->setDocumentInserted(true);
  EXPECT_EQ(ask(*p, s, bank), ByteArray{0x14});  // ready, a document in
  // A code it does not know, and parameters where none belong: the parity bit.
  EXPECT_EQ(ask(*p, s, of(std::string("\x1B\x01x\r\0", 5))), ByteArray{0x54});
  EXPECT_EQ(ask(*p, s, of(std::string("\x1B\xB0x\r\0", 5))), ByteArray{0x54});
  // Text is printed and never answered.
  EXPECT_EQ(ask(*p, s, of("TEXTO LIVRE\n")), ByteArray{});
  EXPECT_NE(p->printedPaper().find("TEXTO LIVRE"), std::string::npos);
  EXPECT_EQ(ask(*p, s, of(std::string("\x1B\xB0\0", 3))), ByteArray{0x14});
  EXPECT_EQ(p->station().printed, 1);
  p->setDocumentInserted(false);
  EXPECT_EQ(ask(*p, s, of(std::string("\x1B\xB0\0", 3))), ByteArray{0x0C});  // nothing under the head

  for (const ChronosPrinter::Command& c : ChronosPrinter::dispatchTable()) {
    SCOPED_TRACE(int(c.code));
    ByteArray frame{0x1B, c.code};
    if (c.parameters) {
      const std::string params = c.code == 0xA3 ? "        123,45\r" : "abc\r";
      frame.insert(frame.end(), params.begin(), params.end());
    }
    frame.push_back(0);
    const ByteArray a = ask(*p, s, frame);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0] & 0x40, 0);  // the row ran
  }
}

TEST(EmulatorImprecheq, TakesItsCommandsAndNeverAnswers) {
  auto p = make<ImprecheqPrinter>("IMPRECHEQ");
  Sink s;
  EXPECT_EQ(ask(*p, s,
                of("\x1B"
                   "FMaria$\x1B"
                   "CRec")),
            ByteArray{});
  EXPECT_EQ(ask(*p, s,
                of("ife$junk\x1B"
                   "B001\x1BV000000000123")),
            ByteArray{});
  EXPECT_EQ(ask(*p, s, of("45\x1BS0um\ndois\n\x0C")), ByteArray{});
  EXPECT_EQ(p->commands(),
            (std::vector<std::string>{"F Maria", "C Recife", "B 001", "V 00000000012345", "S0 um\ndois\n"}));
  const std::string paper = p->printedPaper();
  EXPECT_NE(paper.find("BANCO 001 VALOR 00000000012345"), std::string::npos) << paper;
  EXPECT_NE(paper.find("dois"), std::string::npos) << paper;
  EXPECT_EQ(p->station().printed, 1);
}
