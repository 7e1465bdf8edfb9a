// The Sweda drivers: literal frames both ways, the ST line's attempts with the
// same sequence byte on the simulated clock (NAK pauses, '!' replies, a reply
// refused for its sum, code 193), and sales against the virtual ST and
// classic printers.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <set>
#include <string>

#include "core/capabilities.h"
#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"
#include "drivers/sweda/CSweda.h"
#include "drivers/sweda/CSwedaST.h"
#include "drivers/sweda/CSwedaST2500.h"
#include "drivers/sweda/sweda_protocol.h"
#include "emulator/paper.h"
#include "emulator/sweda/printer.h"
#include "platform/prompt.h"

using namespace tarvion;
using emulator::FiscalCore;
using emulator::Hardware;
using emulator::makeVirtualDevice;
using emulator::Paper;
using emulator::Stamp;
using emulator::SwedaClassicPrinter;
using emulator::SwedaSTPrinter;
using emulator::toSeconds;
using emulator::VirtualPrinter;
using text::cp;

namespace {

ByteArray bytes(std::initializer_list<int> v) {
  ByteArray b;
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
  return b;
}

ByteArray str(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

// The reply to "15" at sequence 43, written out by hand: 02 2B "15+0000" 03 81.
const ByteArray kXDone = bytes({0x02, 0x2B, '1', '5', '+', '0', '0', '0', '0', 0x03, 0x81});
// The same with '-' and code 0060: 02 2B "15-0060" 03 89.
const ByteArray kXRefused = bytes({0x02, 0x2B, '1', '5', '-', '0', '0', '6', '0', 0x03, 0x89});
// A '!' status for it, code 0098: 02 2B "15!0098" 03 sum 0x88.
const ByteArray kXWorking = bytes({0x02, 0x2B, '1', '5', '!', '0', '0', '9', '8', 0x03, 0x88});
// Code 193, the printer did not take the frame whole: 02 2B "15-0193" 03 sum 0x90.
const ByteArray kXDamaged = bytes({0x02, 0x2B, '1', '5', '-', '0', '1', '9', '3', 0x03, 0x90});

TEST(SwedaCodec, LiteralFramesAndReplies) {
  EXPECT_EQ(tarvion::sweda::buildFrame(43, "15", ""), bytes({0x02, 0x2B, 0x31, 0x35, 0x03, 0x96}));
  EXPECT_EQ(tarvion::sweda::nextSequence(254), 43);
  EXPECT_EQ(tarvion::sweda::nextSequence(43), 44);
  EXPECT_EQ(tarvion::sweda::expandRuns(bytes({'A', 0x1B, 0x22})), str("AAAA"));
  EXPECT_EQ(tarvion::sweda::expandRuns(bytes({'x', 'A', 0x1B, 0x20, 'y'})), str("xAAy"));
  EXPECT_TRUE(tarvion::sweda::replyCheckOk(kXDone));
  EXPECT_TRUE(tarvion::sweda::replyCheckOk(kXRefused));
  EXPECT_TRUE(tarvion::sweda::replyCheckOk(kXWorking));
  EXPECT_TRUE(tarvion::sweda::replyCheckOk(kXDamaged));
  EXPECT_EQ(tarvion::sweda::replyCode(kXRefused), 60);
  EXPECT_EQ(tarvion::sweda::errorCount(), 223u);
  EXPECT_EQ(tarvion::sweda::errorText(60), cp("É necessária a emissão do documento de Redução Z."));
  EXPECT_EQ(tarvion::sweda::errorText(10), cp("Erro inesperado ao enviar o comando."));
  EXPECT_EQ(tarvion::sweda::replyFields(str("\x02+34+0000|T1800|S0500\x03x")),
            (std::vector<std::string>{"T1800", "S0500"}));

  EXPECT_EQ(tarvion::sweda::buildClassicFrame("05", ""), bytes({0x1B, 0x2E, 0x30, 0x35, 0x7D}));
  struct Case {
    const char* reply;
    bool multi, ok;
  };
  const Case cases[] = {{".+05}", false, true},      {".{abc}", false, true},    {".-P0000+}", false, true},
                        {".-P0000-}", false, false}, {".-0014X}", false, false}, {".-13+abc}", true, true},
                        {"", false, false}};
  for (const Case& c : cases) EXPECT_EQ(tarvion::sweda::classicSuccess(str(c.reply), c.multi), c.ok) << c.reply;
  EXPECT_EQ(tarvion::sweda::classicErrorText(str(".-0014Texto do erro}")), "(0014) Texto do erro");
  EXPECT_TRUE(tarvion::sweda::classicBusy(str(".+01500}")));
  EXPECT_FALSE(tarvion::sweda::classicBusy(str(".+00500}")));
  EXPECT_TRUE(tarvion::sweda::classicNoDocument(str(".+00500}")));
}

// A printer that plays one scripted answer per frame and records what the
// driver wrote.
struct Script {
  static constexpr int kPort = 761;
  std::deque<ByteArray> answers;
  std::vector<ByteArray> frames;  // frames (STX...) the driver wrote
  ByteArray controls;             // single ACK/NAK bytes the driver wrote
  std::shared_ptr<VirtualDevice> dev;
  CSwedaST d;

  Script() {
    dev = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>([this](const ByteArray& req, VirtualLink& l) {
      if (req.size() == 1) {
        controls.push_back(req[0]);
        // A NAK asks for the reply again: the next scripted answer is it.
        if (req[0] == 0x15 && !answers.empty()) {
          l.send(answers.front());
          answers.pop_front();
        }
        return;
      }
      frames.push_back(req);
      if (answers.empty()) return;
      l.send(answers.front());
      answers.pop_front();
    }));
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    EXPECT_TRUE(d.OpenComm(0)) << d.strLastError;
  }
  ~Script() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
  int64_t nowMs() { return dev->clock().nowUs() / 1000; }
};

ByteArray ack(const ByteArray& reply) {
  ByteArray b{0x06};
  for (uint8_t x : reply) b.push_back(x);
  return b;
}

TEST(SwedaSTExchange, TheAttemptsSendTheSameFrameAndStopAtTheAnswer) {
  const ByteArray frame = bytes({0x02, 0x2B, 0x31, 0x35, 0x03, 0x96});
  {
    SCOPED_TRACE("NAK, NAK, ACK");
    Script s;
    s.answers = {bytes({0x15}), bytes({0x15}), ack(kXDone)};
    const int64_t t0 = s.nowMs();
    EXPECT_TRUE(s.d.LeituraX()) << s.d.strLastError;
    ASSERT_EQ(s.frames.size(), 3u);
    for (const ByteArray& f : s.frames) EXPECT_EQ(f, frame);
    EXPECT_GE(s.nowMs() - t0, 4000);  // two pauses of 2 s after the NAKs
    EXPECT_EQ(s.controls, bytes({0x06}));
  }
  {
    SCOPED_TRACE("five NAKs");
    Script s;
    for (int i = 0; i < 6; ++i) s.answers.push_back(bytes({0x15}));
    EXPECT_FALSE(s.d.LeituraX());
    EXPECT_EQ(s.d.strLastError, "Timeout enviando comando para a impressora.");
    EXPECT_EQ(s.frames.size(), 5u);
    EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::Refused);
  }
  {
    SCOPED_TRACE("one attempt when the print buffer is off");
    Script s;
    s.d.DisablePrintBuffer = kTrue;
    s.answers = {bytes({0x15}), ack(kXDone)};
    EXPECT_FALSE(s.d.LeituraX());
    EXPECT_EQ(s.frames.size(), 1u);
  }
  {
    SCOPED_TRACE("'!' while printing, then '+'");
    Script s;
    ByteArray a = ack(kXWorking);
    a.insert(a.end(), kXDone.begin(), kXDone.end());
    s.answers = {a};
    EXPECT_TRUE(s.d.LeituraX()) << s.d.strLastError;
    EXPECT_EQ(s.frames.size(), 1u);
    EXPECT_EQ(s.controls, bytes({0x06, 0x06}));  // both replies acknowledged
  }
  {
    SCOPED_TRACE("a reply with a bad sum is refused and comes again");
    Script s;
    ByteArray bad = ack(kXDone);
    bad.back() ^= 0xFF;
    s.answers = {bad, kXDone};  // the second answers the NAK
    EXPECT_TRUE(s.d.LeituraX()) << s.d.strLastError;
    EXPECT_EQ(s.frames.size(), 1u);
    EXPECT_EQ(s.controls, bytes({0x15, 0x06}));
  }
  {
    SCOPED_TRACE("193: the same frame again after a second");
    Script s;
    s.answers = {ack(kXDamaged), ack(kXDone)};
    const int64_t t0 = s.nowMs();
    EXPECT_TRUE(s.d.LeituraX()) << s.d.strLastError;
    ASSERT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.frames[1], frame);
    EXPECT_GE(s.nowMs() - t0, 1000);
  }
  {
    SCOPED_TRACE("a refusal ends it with the table's message");
    Script s;
    s.answers = {ack(kXRefused)};
    EXPECT_FALSE(s.d.LeituraX());
    EXPECT_EQ(s.d.strLastError, cp("É necessária a emissão do documento de Redução Z."));
    EXPECT_EQ(s.frames.size(), 1u);
    EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::Refused);
  }
  {
    SCOPED_TRACE("the sequence runs 43..254 and wraps");
    Script s;
    s.d.nSequence = 254;
    s.d.DisablePrintBuffer = kTrue;
    // A reply under another sequence byte is not this frame's answer.
    s.answers = {ack(kXDone)};
    EXPECT_FALSE(s.d.LeituraX());
    EXPECT_FALSE(s.d.LeituraX());
    ASSERT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.frames[0][1], 254);
    EXPECT_EQ(s.frames[1][1], 43);
  }
}

// A virtual printer of the model on the wire, with a fresh fiscal half.
template <class Driver>
struct Rig {
  static constexpr int kPort = 762;
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<VirtualPrinter> printer;
  std::shared_ptr<VirtualDevice> dev;
  Driver d;
  explicit Rig(int model, bool checkStation = false) {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [] {
                                                              return toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
                                                            }});
    core->setPaper(std::make_shared<Paper>(48));
    const caps::ModelRow* row = caps::fiscalModel(model);
    if (row->family == caps::Family::SwedaST)
      printer = std::make_shared<SwedaSTPrinter>(core, row->name, Hardware{48, checkStation});
    else
      printer = std::make_shared<SwedaClassicPrinter>(core, row->name, Hardware{48, false});
    dev = makeVirtualDevice(printer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    EXPECT_TRUE(d.OpenComm(1)) << d.strLastError;
  }
  ~Rig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

template <class Driver>
void sell(Rig<Driver>& r) {
  auto& d = r.d;
  ASSERT_FALSE(d.arPaymentTypes.empty());
  const std::string cash = d.arPaymentTypes[0];
  ASSERT_TRUE(d.AbreCupomFiscal()) << d.strLastError;
  ASSERT_TRUE(d.RegistraItemFiscal("789", "ARROZ", "UN", 18, 2, 2.5, 0)) << d.strLastError;
  ASSERT_TRUE(d.RegistraPagamento(cash, 10)) << d.strLastError;
  ASSERT_TRUE(d.FechaCupomFiscal("OBRIGADO", 0)) << d.strLastError;
  EXPECT_EQ(r.core->counters().ccf, 1);
  EXPECT_EQ(r.core->day().gross, 500);
  EXPECT_FALSE(r.core->receiptOpen());
}

TEST(SwedaVirtual, ASaleOnEachProtocol) {
  {
    SCOPED_TRACE("ST");
    Rig<CSwedaST> r(47);
    ASSERT_FALSE(r.d.arTaxes.empty());
    EXPECT_EQ(r.d.arTaxes[0], "T18,00%");  // the fresh printer's first rate
    sell(r);
    std::string coo;
    ASSERT_TRUE(r.d.RetornaNumeroCupom(coo));
    EXPECT_EQ(std::stol(coo), r.core->counters().coo);
    std::string x;
    ASSERT_TRUE(r.d.LeituraXSerial(x)) << r.d.strLastError;
    EXPECT_GT(x.size(), 200u);  // more than one part
  }
  {
    SCOPED_TRACE("classic");
    Rig<CSweda> r(39);
    sell(r);
    std::string x;
    ASSERT_TRUE(r.d.LeituraXSerial(x)) << r.d.strLastError;
    EXPECT_GT(x.size(), SwedaClassicPrinter::kPart);
    EXPECT_FALSE(r.d.CancelaItemFiscal(1, "", 0, 0, 0, 0));  // no receipt open
    EXPECT_EQ(r.d.strLastError.substr(0, 7), "(0058) ");
  }
}

TEST(SwedaVirtual, ALostReplyIsAskedForWithTheSameSequenceAndRunsOnce) {
  for (const char* fault : {"garbage,once", "short,once", "noanswer,once"}) {
    SCOPED_TRACE(fault);
    Rig<CSwedaST> r(47);
    const int before = r.core->counters().coo;
    ASSERT_TRUE(r.printer->setFaults(fault));
    EXPECT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
    EXPECT_TRUE(r.core->receiptOpen());
    EXPECT_EQ(r.core->counters().coo, before + 1);  // one receipt, not two
  }
  Rig<CSwedaST> r(47);
  std::static_pointer_cast<SwedaSTPrinter>(r.printer)->failTransmissions(2);
  EXPECT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_TRUE(r.core->receiptOpen());
  ASSERT_TRUE(r.printer->setFaults("nak"));
  EXPECT_FALSE(r.d.CancelaCupomFiscal());
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::Refused);
  EXPECT_TRUE(r.core->receiptOpen());
}

}  // namespace

namespace {

// ---- the faces on their own: literal requests and the bytes they get back

struct FaceSink final : emulator::ReplySink {
  void send(const ByteArray& b, uint32_t) override { got.insert(got.end(), b.begin(), b.end()); }
  int64_t nowUs() override { return now; }
  void hangUp() override {}
  ByteArray take() {
    ByteArray g;
    g.swap(got);
    return g;
  }
  ByteArray got;
  int64_t now = 1'000'000;
};

std::shared_ptr<FiscalCore> freshCore() {
  auto core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [] {
                                                                 return toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
                                                               }});
  core->setPaper(std::make_shared<Paper>(48));
  return core;
}

TEST(SwedaSTFace, LiteralRequestsAndTheAnswersTheyGet) {
  auto core = freshCore();
  SwedaSTPrinter p(core, "SWEDA IF ST1000", Hardware{48, false});
  FaceSink out;
  // "01" at 43: 02 2B 30 31 03 sum 0x91; answered ACK, 02 2B "01+0000" 03 sum 0x7C.
  const ByteArray open = bytes({0x02, 0x2B, '0', '1', 0x03, 0x91});
  const ByteArray opened = bytes({0x06, 0x02, 0x2B, '0', '1', '+', '0', '0', '0', '0', 0x03, 0x7C});
  p.receive(open.data(), open.size(), out);
  EXPECT_EQ(out.take(), opened);
  EXPECT_TRUE(core->receiptOpen());
  const int coo = core->counters().coo;
  // The same frame again (a lost reply): the same answer, nothing run twice.
  p.receive(open.data(), open.size(), out);
  EXPECT_EQ(out.take(), opened);
  EXPECT_EQ(core->counters().coo, coo);
  // A NAK from the host: the reply again, without the ACK.
  const uint8_t nak = 0x15;
  p.receive(&nak, 1, out);
  EXPECT_EQ(out.take(), ByteArray(opened.begin() + 1, opened.end()));
  // A bad sum: NAK, and the command is not run.
  const ByteArray bad = bytes({0x02, 0x2C, '0', '8', 0x03, 0x00});
  p.receive(bad.data(), bad.size(), out);
  EXPECT_EQ(out.take(), bytes({0x15}));
  EXPECT_TRUE(core->receiptOpen());
  // "01" at 44 while open: refused with 0058: 02 2C "01-0058" 03 sum 0x8C.
  const ByteArray again = bytes({0x02, 0x2C, '0', '1', 0x03, 0x92});
  p.receive(again.data(), again.size(), out);
  EXPECT_EQ(out.take(), bytes({0x06, 0x02, 0x2C, '0', '1', '-', '0', '0', '5', '8', 0x03, 0x8C}));
  // Damaged on the way: 193, not run, and the repeat runs.
  p.failTransmissions(1);
  const ByteArray cancel = bytes({0x02, 0x2D, '0', '8', 0x03, 0x9A});
  p.receive(cancel.data(), cancel.size(), out);
  EXPECT_EQ(out.take(), bytes({0x06, 0x02, 0x2D, '0', '8', '-', '0', '1', '9', '3', 0x03, 0x94}));
  EXPECT_TRUE(core->receiptOpen());
  p.receive(cancel.data(), cancel.size(), out);
  EXPECT_EQ(out.take(), bytes({0x06, 0x02, 0x2D, '0', '8', '+', '0', '0', '0', '0', 0x03, 0x85}));
  EXPECT_FALSE(core->receiptOpen());
  // An unknown code: 0029.
  const ByteArray unknown = bytes({0x02, 0x2E, '9', '9', 0x03, 0xA5});
  p.receive(unknown.data(), unknown.size(), out);
  EXPECT_EQ(out.take(), bytes({0x06, 0x02, 0x2E, '9', '9', '-', '0', '0', '2', '9', 0x03, 0x9D}));
}

TEST(SwedaClassicFace, LiteralRequestsAndTheAnswersTheyGet) {
  auto core = freshCore();
  SwedaClassicPrinter p(core, "SWEDA IF S-9000I", Hardware{40, false});
  FaceSink out;
  auto ask = [&](const std::string& s) {
    p.receive(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out);
    const ByteArray g = out.take();
    return std::string(g.begin(), g.end());
  };
  EXPECT_EQ(ask("\x1B.17}"), ".+17}");
  EXPECT_EQ(ask("\x1B.17}"), ".-0058CUPOM JA ABERTO}");
  EXPECT_EQ(ask("\x1B.23}"), ".+005001}");  // no document, receipt open
  EXPECT_EQ(ask("\x1B.05}"), ".+05}");
  EXPECT_EQ(ask("\x1B.99}"), ".-0029COMANDO NAO RECONHECIDO}");
  // The X report over the line comes in parts until ".]}".
  const std::string first = ask("\x1B.13X}");
  ASSERT_EQ(first.substr(0, 5), ".+13+");
  std::string part = first;
  int parts = 0;
  while (part != ".]}" && parts < 1000) {
    part = ask("\x1B.++}");
    ++parts;
  }
  EXPECT_EQ(part, ".]}");
  EXPECT_GT(parts, 1);
  // A printed X report keeps the printer busy for a while.
  EXPECT_EQ(ask("\x1B.13N}"), ".+13}");
  EXPECT_EQ(ask("\x1B.23}")[3], '1');
  out.now += SwedaClassicPrinter::kBusyMs * 1000 + 1;
  EXPECT_EQ(ask("\x1B.23}")[3], '0');
}

// The classic transport: a document asked for until it is in the station (or
// the operator gives up), and a busy printer polled only so long.
TEST(SwedaClassicExchange, TheOperatorIsAskedForTheDocumentUntilItIsInOrCancelled) {
  constexpr int kPort = 763;
  auto core = freshCore();
  auto printer = std::make_shared<SwedaClassicPrinter>(core, "SWEDA IF S-9000I", Hardware{40, true});
  auto dev = makeVirtualDevice(printer);
  ports::attachVirtual(kPort, dev);
  CSweda d;
  testsupport::usePort(d, kPort);
  ASSERT_TRUE(d.OpenComm(0));
  int prompts = 0;
  platform::setPromptHandler([&](const platform::PromptRequest& r) {
    EXPECT_EQ(r.message, "Insira o documento na impressora.");
    if (++prompts == 2) printer->setDocumentInserted(true);
    return prompts < 4 ? platform::PromptAnswer::Ok : platform::PromptAnswer::Cancel;
  });
  std::string cmc7;
  EXPECT_TRUE(d.ReadCheck(kTrue, cmc7)) << d.strLastError;
  EXPECT_EQ(prompts, 2);
  EXPECT_EQ(cmc7.size(), 30u);
  printer->setDocumentInserted(false);
  prompts = 3;  // the next prompt is the operator's last: Cancel
  EXPECT_FALSE(d.ReadCheck(kTrue, cmc7));
  EXPECT_EQ(d.strLastError, cp("Operação cancelada pelo usuário."));
  EXPECT_EQ(d.lastOutcome, exchange::Outcome::NotWritten);
  platform::setPromptHandler(nullptr);
  d.CloseComm();
  ports::detachVirtual(kPort);
}

TEST(SwedaClassicExchange, APrinterThatStaysBusyIsPolledOnlyUntilTheAnswerTimeOut) {
  constexpr int kPort = 764;
  int statusRequests = 0;
  auto dev = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>([&](const ByteArray& req, VirtualLink& l) {
    const std::string s(req.begin(), req.end());
    if (s == "\x1B.23}") {
      ++statusRequests;
      l.send(std::string(".+010000}"));  // printing, for ever
    } else {
      l.send(std::string(".+15}"));
    }
  }));
  ports::attachVirtual(kPort, dev);
  CSweda d;
  testsupport::usePort(d, kPort);
  ASSERT_TRUE(d.OpenComm(0));
  d.nAnswerTimeout = 3000;
  const int64_t t0 = dev->clock().nowUs();
  EXPECT_FALSE(d.LeituraMFReducao(1, 1, kFalse));
  const int64_t took = dev->clock().nowUs() - t0;
  EXPECT_GE(took, 3'000'000);
  EXPECT_LT(took, 4'000'000);
  EXPECT_GT(statusRequests, 5);
  EXPECT_EQ(d.lastOutcome, exchange::Outcome::MayHaveRun);  // the report went out
  d.CloseComm();
  ports::detachVirtual(kPort);
}

}  // namespace

namespace {

// The ST2500 asks for the check to be put in place before it prints, and
// ejects every check it reads; the other ST models keep one when asked to.
TEST(SwedaST2500, ChecksArePlacedByHandAndAlwaysEjected) {
  std::vector<platform::PromptRequest> asked;
  platform::setPromptHandler([&](const platform::PromptRequest& r) {
    asked.push_back(r);
    return platform::PromptAnswer::Ok;
  });
  {
    Rig<CSwedaST2500> r(51, true);
    EXPECT_TRUE(r.d.PrintCheck(10, "001")) << r.d.strLastError;
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, cp("Atenção"));
    EXPECT_EQ(asked[0].message, "Posicione o cheque para que ele seja impresso.");
    r.printer->setDocumentInserted(true);
    const int before = r.printer->framesReceived();
    std::string cmc7;
    EXPECT_TRUE(r.d.ReadCheck(kTrue, cmc7)) << r.d.strLastError;
    EXPECT_EQ(cmc7.size(), 30u);
    EXPECT_EQ(r.printer->framesReceived() - before, 2);  // the read and the eject
  }
  {
    Rig<CSwedaST> r(47, true);
    EXPECT_TRUE(r.d.PrintCheck(10, "001")) << r.d.strLastError;
    EXPECT_EQ(asked.size(), 1u);  // no prompt on the other models
    r.printer->setDocumentInserted(true);
    const int before = r.printer->framesReceived();
    std::string cmc7;
    EXPECT_TRUE(r.d.ReadCheck(kTrue, cmc7)) << r.d.strLastError;
    EXPECT_EQ(r.printer->framesReceived() - before, 1);
  }
  platform::setPromptHandler(nullptr);
}

}  // namespace

namespace {

// ---- each operation's frames, written out by hand (the sum byte of an ST
// frame is checked apart; the literal vectors above pin the sum itself)

struct OpCase {
  const char* what;
  std::function<BOOL(CECFBase&)> run;
  std::vector<std::string> frames;  // ST: STX..ETX; classic: ESC..'}'
  bool ok = true;
};

// An ST printer that says yes to everything, under each frame's own sequence
// byte; the status register answers "00000" (nothing open, paper fine).
std::vector<std::string> stFrames(const OpCase& c) {
  constexpr int kPort = 765;
  std::vector<std::string> seen;
  auto dev = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>([&](const ByteArray& req, VirtualLink& l) {
    if (req.size() < 6) return;
    EXPECT_TRUE(tarvion::sweda::replyCheckOk(req)) << c.what;
    seen.emplace_back(req.begin(), req.end() - 1);
    std::string body = "\x06\x02";
    body += static_cast<char>(req[1]);
    body += static_cast<char>(req[2]);
    body += static_cast<char>(req[3]);
    body += "+0000";
    if (req[2] == '3' && req[3] == '4') body += "|00000";
    body += '\x03';
    ByteArray r(body.begin(), body.end());
    unsigned sum = 0;
    for (size_t i = 1; i < r.size(); ++i) sum += r[i];
    r.push_back(static_cast<uint8_t>(sum));
    l.send(r);
  }));
  ports::attachVirtual(kPort, dev);
  CSwedaST d;
  testsupport::usePort(d, kPort);
  EXPECT_TRUE(d.OpenComm(0));
  d.arTaxes = {"T18,00%", "S05,00%"};
  d.arPaymentTypes = {"Dinheiro", "Cartao"};
  EXPECT_EQ(c.run(d), c.ok ? kTrue : kFalse) << c.what << ": " << d.strLastError;
  d.CloseComm();
  ports::detachVirtual(kPort);
  return seen;
}

TEST(SwedaSTOperations, TheFramesEachOperationSends) {
  const DateTime day1 = DateTime::fromParts(2026, 12, 1), day4 = DateTime::fromParts(2026, 12, 4, 9, 30, 0);
  const OpCase cases[] = {
      {"open", [](CECFBase& d) { return d.AbreCupomFiscal(); }, {"\x02+34|H2\x03", "\x02,01\x03"}},
      {"item with discount",
       [](CECFBase& d) { return d.RegistraItemFiscal("789", "ARROZ\r\nTIPO 1", "UN", 18, 2, 2.5, 0.5); },
       {"\x02+02|2,000|789|2,50|UN|00T1800|ARROZ  TIPO 1|A\x03", "\x02,03|0,50\x03"}},
      {"service",
       [](CECFBase& d) { return d.RegisterService("9", "SERVICO", "UN", 5, 1, 10, 0); },
       {"\x02+02|1,000|9|10,00|UN|01S0500|SERVICO|A\x03"}},
      {"exempt item",
       [](CECFBase& d) { return d.RegistraItemFiscal("1", "X", "KG", 0, 0.5, 3, 0); },
       {"\x02+02|0,500|1|3,00|KG|I1|X|A\x03"}},
      {"substituted service",
       [](CECFBase& d) { return d.RegisterService("1", "X", "UN", -1, 1, 3, 0); },
       {"\x02+02|1,000|1|3,00|UN|FS1|X|A\x03"}},
      {"cancel item", [](CECFBase& d) { return d.CancelaItemFiscal(3, "", 0, 0, 0, 0); }, {"\x02+05|3\x03"}},
      {"payment", [](CECFBase& d) { return d.RegistraPagamento("cartao", 10); }, {"\x02+06|02|10,00\x03"}},
      {"discount", [](CECFBase& d) { return d.TotalizaCupomFiscalDesconto(1.5, 0); }, {"\x02+55|1,50\x03"}},
      {"increase", [](CECFBase& d) { return d.TotalizaCupomFiscalAcrescimo(1234.56, 0); }, {"\x02+54|1234,56\x03"}},
      {"close", [](CECFBase& d) { return d.FechaCupomFiscal("OBRIGADO", 0); }, {"\x02+07\x03"}},
      {"cancel", [](CECFBase& d) { return d.CancelaCupomFiscal(); }, {"\x02+08\x03"}},
      {"memory by reduction", [](CECFBase& d) { return d.LeituraMFReducao(1, 3, kFalse); }, {"\x02+17|0001|0003\x03"}},
      {"memory by date",
       [&](CECFBase& d) { return d.LeituraMemoriaFiscal(day1, day4, kFalse); },
       {"\x02+18|01122026|04122026\x03"}},
      {"reduction", [&](CECFBase& d) { return d.ReducaoZ(day4); }, {"\x02+16|04/12/2026|09:30\x03"}},
      {"tax", [](CECFBase& d) { return d.AdicionaAliquotaTributaria(7, 1); }, {"\x02+32|S07,00%\x03"}},
      {"payment type", [](CECFBase& d) { return d.AdicionaFormaPagamento("CHEQUE"); }, {"\x02+36|0|CHEQUE\x03"}},
      {"summer time", [](CECFBase& d) { return d.MudaHorarioVerao(kTrue); }, {"\x02+35|S\x03"}},
      {"item discount off", [](CECFBase& d) { return d.CancelaDescontoItem(2, kFalse); }, {"\x02+69|2\x03"}},
      {"linked", [](CECFBase& d) { return d.AbreComprovanteVinculado("Dinheiro", 5, ""); }, {"\x02+50|01|5,00\x03"}},
      {"drawer", [](CECFBase& d) { return d.OpenCashDrawer(); }, {"\x02+11\x03"}},
      {"customer",
       [](CECFBase& d) { return d.SetCustomerInfo("123", "JOSE", "RUA A"); },
       {"\x02+12|123|JOSE|RUA A|0\x03"}},
      // Refused before the wire.
      {"rate not in the table",
       [](CECFBase& d) { return d.RegistraItemFiscal("1", "X", "UN", 17, 1, 1, 0); },
       {},
       false},
      {"quantity too wide",
       [](CECFBase& d) { return d.RegistraItemFiscal("1", "X", "UN", 18, 10000, 1, 0); },
       {},
       false},
      {"payment not programmed", [](CECFBase& d) { return d.RegistraPagamento("PIX", 1); }, {}, false},
  };
  for (const OpCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(stFrames(c), c.frames);
  }
}

// A classic printer that says yes to everything and is never busy.
std::vector<std::string> classicFrames(const OpCase& c) {
  constexpr int kPort = 766;
  std::vector<std::string> seen;
  auto dev = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>([&](const ByteArray& req, VirtualLink& l) {
    const std::string s(req.begin(), req.end());
    seen.push_back(s);
    l.send(s == "\x1B.23}" ? std::string(".+000000}") : ".+" + s.substr(2, 2) + "}");
  }));
  ports::attachVirtual(kPort, dev);
  CSweda d;
  testsupport::usePort(d, kPort);
  EXPECT_TRUE(d.OpenComm(0));
  d.arTaxes = {"T18,00", "S05,00"};
  d.arPaymentTypes = {"Dinheiro", "Cartao"};
  EXPECT_EQ(c.run(d), c.ok ? kTrue : kFalse) << c.what << ": " << d.strLastError;
  d.CloseComm();
  ports::detachVirtual(kPort);
  return seen;
}

TEST(SwedaClassicOperations, TheFramesEachOperationSends) {
  const DateTime day1 = DateTime::fromParts(2026, 12, 1), day4 = DateTime::fromParts(2026, 12, 4, 9, 30, 0);
  const OpCase cases[] = {
      {"cancel", [](CECFBase& d) { return d.CancelaCupomFiscal(); }, {"\x1B.05}", "\x1B.23}"}},
      {"item",
       [](CECFBase& d) { return d.RegistraItemFiscal("789", "ARROZ", "UN", 18, 2, 2.5, 0); },
       {"\x1B.01789          0002000000000250000000000500ARROZ                   T01}"}},
      {"exempt item",
       [](CECFBase& d) { return d.RegistraItemFiscal("1", "X", "UN", 0, 1, 1, 0); },
       {"\x1B.011            0001000000000100000000000100X                       I  }"}},
      {"payment",
       [](CECFBase& d) { return d.RegistraPagamento("Cartao", 10); },
       {"\x1B.1002000000001000}", "\x1B.23}"}},
      {"increase",
       [](CECFBase& d) { return d.TotalizaCupomFiscalAcrescimo(1.5, 0); },
       {"\x1B.1151000000000000150S}", "\x1B.23}"}},
      {"discount",
       [](CECFBase& d) { return d.TotalizaCupomFiscalDesconto(1.5, 0); },
       {"\x1B.030000 DESCONTO  000000000150S}", "\x1B.23}"}},
      {"close", [](CECFBase& d) { return d.FechaCupomFiscal("", 0); }, {"\x1B.12SNN0}", "\x1B.23}"}},
      {"X", [](CECFBase& d) { return d.LeituraX(); }, {"\x1B.13N}"}},
      {"Z", [&](CECFBase& d) { return d.ReducaoZ(day4); }, {"\x1B.14N041226093000}"}},
      {"memory by reduction",
       [](CECFBase& d) { return d.LeituraMFReducao(1, 3, kFalse); },
       {"\x1B.1500010003}", "\x1B.23}"}},
      {"memory by date",
       [&](CECFBase& d) { return d.LeituraMemoriaFiscal(day1, day4, kFalse); },
       {"\x1B.16011226041226}", "\x1B.23}"}},
      {"summer time", [](CECFBase& d) { return d.MudaHorarioVerao(kFalse); }, {"\x1B.36N}", "\x1B.23}"}},
      {"cancel item", [](CECFBase& d) { return d.CancelaItemFiscal(7, "", 0, 0, 0, 0); }, {"\x1B.04007}", "\x1B.23}"}},
      {"payment already there", [](CECFBase& d) { return d.AdicionaFormaPagamento("DINHEIRO"); }, {}, false},
      {"rate not in the table",
       [](CECFBase& d) { return d.RegistraItemFiscal("1", "X", "UN", 12, 1, 1, 0); },
       {},
       false},
  };
  for (const OpCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(classicFrames(c), c.frames);
  }
}

}  // namespace

namespace {

// ---- the ST attempt loop at its edges, on the simulated clock

TEST(SwedaSTExchange, SilenceAndStrayRepliesAtEachStep) {
  const ByteArray frame = bytes({0x02, 0x2B, 0x31, 0x35, 0x03, 0x96});
  {
    SCOPED_TRACE("no byte ever: five equal frames, each after its wait and a pause");
    Script s;
    const int64_t t0 = s.nowMs();
    EXPECT_FALSE(s.d.LeituraX());
    ASSERT_EQ(s.frames.size(), 5u);
    for (const ByteArray& f : s.frames) EXPECT_EQ(f, frame);
    const int64_t took = s.nowMs() - t0;
    EXPECT_GE(took, 5 * 20000 + 4 * 1000);
    EXPECT_LT(took, 5 * 20000 + 4 * 1000 + 5000);
    EXPECT_TRUE(s.controls.empty());
    EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::MayHaveRun);
  }
  {
    SCOPED_TRACE("acknowledged, then no reply: the same frame again, answered");
    Script s;
    s.answers = {bytes({0x06}), ack(kXDone)};
    const int64_t t0 = s.nowMs();
    EXPECT_TRUE(s.d.LeituraX()) << s.d.strLastError;
    ASSERT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.frames[1], frame);
    EXPECT_GE(s.nowMs() - t0, 20000 + 1000);
  }
  {
    SCOPED_TRACE("a reply under another sequence byte is neither acknowledged nor taken");
    Script s;
    // 02 2C "15+0000" 03: the sum is 0x81 + 1 = 0x82.
    const ByteArray other = bytes({0x02, 0x2C, '1', '5', '+', '0', '0', '0', '0', 0x03, 0x82});
    ByteArray a = ack(other);
    a.insert(a.end(), kXRefused.begin(), kXRefused.end());
    s.answers = {a};
    EXPECT_FALSE(s.d.LeituraX());
    EXPECT_EQ(s.d.strLastError, cp("É necessária a emissão do documento de Redução Z."));
    EXPECT_EQ(s.controls, bytes({0x06}));  // only this frame's reply
    EXPECT_EQ(s.frames.size(), 1u);
  }
  {
    SCOPED_TRACE("193 on every attempt: five frames, nothing ran");
    Script s;
    for (int i = 0; i < 5; ++i) s.answers.push_back(ack(kXDamaged));
    EXPECT_FALSE(s.d.LeituraX());
    EXPECT_EQ(s.frames.size(), 5u);
    for (const ByteArray& f : s.frames) EXPECT_EQ(f, frame);
    EXPECT_EQ(s.d.strLastError, cp("Falha de comunicação na transmissão das informações."));
    EXPECT_EQ(s.d.bCommunicationFailure, 1);
    EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::Refused);
  }
  {
    SCOPED_TRACE("NAK then silence: the NAK pause, then the wait");
    Script s;
    s.answers = {bytes({0x15})};
    const int64_t t0 = s.nowMs();
    EXPECT_FALSE(s.d.LeituraX());
    EXPECT_EQ(s.frames.size(), 5u);
    EXPECT_GE(s.nowMs() - t0, 2000 + 4 * 20000 + 3 * 1000);
  }
}

// A printer that answers '!' after every acknowledgement keeps the reply loop
// going only for its 30 seconds; the frame is not written again.
TEST(SwedaSTExchange, EndlessIntermediateRepliesEndWithTheLoop) {
  constexpr int kPort = 793;
  int frames = 0, acks = 0;
  auto dev = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>([&](const ByteArray& req, VirtualLink& l) {
    if (req.size() == 1) {
      if (req[0] == 0x06) ++acks;
      l.send(kXWorking, 1000);
      return;
    }
    ++frames;
    l.send(ack(kXWorking));
  }));
  ports::attachVirtual(kPort, dev);
  CSwedaST d;
  testsupport::usePort(d, kPort);
  ASSERT_TRUE(d.OpenComm(0));
  const int64_t t0 = dev->clock().nowUs();
  d.LeituraX();
  const int64_t took = dev->clock().nowUs() - t0;
  EXPECT_GE(took, 30'000'000);
  EXPECT_LT(took, 32'000'000);
  EXPECT_EQ(frames, 1);
  EXPECT_GE(acks, 25);
  d.CloseComm();
  ports::detachVirtual(kPort);
}

// On a line that takes no time per byte the clock never runs out: a printer
// that answers every NAK at once with another damaged reply, or only ever says
// '!', still ends the exchange, by the count of replies.
TEST(SwedaSTExchange, RepliesThatNeverEndStopByTheirCount) {
  constexpr int kPort = 794;
  ByteArray damaged = kXWorking;
  damaged.back() ^= 0x01;
  for (const bool bad : {true, false}) {
    SCOPED_TRACE(bad ? "damaged replies" : "endless '!' at once");
    int frames = 0, naks = 0;
    std::set<ByteArray> sent;
    auto dev =
        std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>([&](const ByteArray& req, VirtualLink& l) {
          const ByteArray& again = bad ? damaged : kXWorking;
          if (req.size() == 1) {
            if (req[0] == 0x15) ++naks;
            l.send(again, 0);
            return;
          }
          ++frames;
          sent.insert(req);
          ByteArray first{0x06};
          first.insert(first.end(), again.begin(), again.end());
          l.send(first, 0);
        }));
    ports::attachVirtual(kPort, dev);
    CSwedaST d;
    testsupport::usePort(d, kPort);
    ASSERT_TRUE(d.OpenComm(0));
    const BOOL ok = d.LeituraX();
    // At most the protocol's five attempts, each the same frame with the same
    // sequence byte, which the printer runs once.
    EXPECT_GE(frames, 1);
    EXPECT_LE(frames, 5);
    EXPECT_EQ(sent.size(), 1u);
    if (bad) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(naks, frames * CSwedaST::kMaxRepliesRefused);
    }
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
}

// A run of one byte in a reply (ESC and a count) is written out before the
// fields are read.
TEST(SwedaSTExchange, ARegisterReplyWithARunOfZeros) {
  Script s;
  // 02 2B "34+0000|0" ESC 22 "7" 03, sum 0xA2: "0" and three more, then "7".
  s.answers = {ack(bytes({0x02, 0x2B, '3', '4', '+', '0', '0', '0', '0', '|', '0', 0x1B, 0x22, '7', 0x03, 0xA2}))};
  EXPECT_EQ(s.d.GetZReportCounter(), 7);
  ASSERT_EQ(s.frames.size(), 1u);
  EXPECT_EQ(s.frames[0], bytes({0x02, 0x2B, '3', '4', '|', 'A', '2', 0x03, 0x86}));
}

// Commands the printer's state does not allow come back with the printer's
// code, and the driver's message is that code's text.
TEST(SwedaSTVirtual, WrongStateCommandsGetTheTableText) {
  struct Case {
    const char* what;
    std::function<BOOL(CSwedaST&)> run;
    const char* error;
  };
  const std::string wrongState = cp("Comando inválido. Não foram obedecidos os requisitos para execução do comando.");
  Rig<CSwedaST> r(47);
  const Case closed[] = {
      {"pay with no receipt", [](CSwedaST& d) { return d.RegistraPagamento(d.arPaymentTypes.at(0), 1); }, nullptr},
      {"close with no receipt", [](CSwedaST& d) { return d.FechaCupomFiscal("", 0); }, nullptr},
      {"range backwards", [](CSwedaST& d) { return d.LeituraMFReducao(3, 1, kFalse); },
       "A faixa selecionada é inválida."},
  };
  for (const Case& c : closed) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.run(r.d));
    EXPECT_EQ(r.d.strLastError, c.error ? cp(c.error) : wrongState);
    EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::Refused);
  }
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  const Case open[] = {
      {"open twice", [](CSwedaST& d) { return d.AbreCupomFiscal(); }, nullptr},
      {"cancel a missing item", [](CSwedaST& d) { return d.CancelaItemFiscal(9, "", 0, 0, 0, 0); }, "Item inválido."},
      {"X with a receipt open", [](CSwedaST& d) { return d.LeituraX(); }, nullptr},
  };
  for (const Case& c : open) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.run(r.d));
    EXPECT_EQ(r.d.strLastError, c.error ? cp(c.error) : wrongState);
  }
  EXPECT_TRUE(r.core->receiptOpen());
}

}  // namespace

namespace {

// The first register read on a fresh line skips the wait for a quiet line; a
// reply left there from before (same sequence byte, another code) is not
// taken, and the same frame goes once more.
TEST(SwedaSTExchange, AStaleReplyToTheFirstReadIsDrainedAndTheReadRepeated) {
  // 02 2B "01+0000" 03 7C: an answer to an opening, left from before.
  const ByteArray stale = bytes({0x02, 0x2B, '0', '1', '+', '0', '0', '0', '0', 0x03, 0x7C});
  // 02 2B "34+0000|00000" 03 EE: the status register.
  const ByteArray status =
      bytes({0x02, 0x2B, '3', '4', '+', '0', '0', '0', '0', '|', '0', '0', '0', '0', '0', 0x03, 0xEE});
  Script s;
  s.answers = {ack(stale), ack(status)};
  EXPECT_TRUE(s.d.ECFOnline()) << s.d.strLastError;
  ASSERT_EQ(s.frames.size(), 2u);
  EXPECT_EQ(s.frames[0], s.frames[1]);
  EXPECT_EQ(s.frames[0], bytes({0x02, 0x2B, '3', '4', '|', 'H', '2', 0x03, 0x8D}));
  EXPECT_EQ(s.controls, bytes({0x06, 0x06}));
}

}  // namespace
