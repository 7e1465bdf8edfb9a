// The 2009 command set exchange on the virtual wire against a scripted
// printer (simulated clock): every reply kind, the retries, the busy pauses,
// a reply for another frame and replies in blocks. Bytes both ways are
// written here by hand.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <functional>

#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "platform/platform.h"

using namespace tarvion;
using text::cp;

namespace {

// A reply frame as a printer writes it: SOH, sequence, code 1A 00, class,
// flags, 00, block, 00, length, data, and the low byte of the sum after SOH.
ByteArray reply(uint8_t seq, uint8_t flags, uint8_t block, const std::string& data, uint8_t cls = 0) {
  ByteArray r;
  r.reserve(12 + data.size());
  for (uint8_t b : {uint8_t{0x01}, seq, uint8_t{0x1A}, uint8_t{0x00}, cls, flags, uint8_t{0x00}, block, uint8_t{0x00},
                    static_cast<uint8_t>(data.size()), uint8_t{0x00}})
    r.push_back(b);
  for (char c : data) r.push_back(static_cast<uint8_t>(c));
  unsigned sum = 0;
  for (size_t i = 1; i < r.size(); ++i) sum += r[i];
  r.push_back(static_cast<uint8_t>(sum));
  return r;
}

const ByteArray kEnq0{0x05, 0x00};
const ByteArray kAck{0x06};
// The first command a new driver sends for GetOperationCounter: 0x001A "1|1|".
const ByteArray kReadCoo{0x01, 0x01, 0x1A, 0x00, 0x04, 0x00, 0x31, 0x7C, 0x31, 0x7C, 0x79};

struct Rig {
  static constexpr int kPort = 761;
  // Answers, in order, one per packet the host writes (empty: silence).
  std::deque<ByteArray> answers;
  std::shared_ptr<ScriptedPeer> peer;
  std::shared_ptr<VirtualDevice> dev;
  CECFCV2009 d{1};

  Rig() {
    peer = std::make_shared<ScriptedPeer>([this](const ByteArray&, VirtualLink& link) {
      if (answers.empty()) return;
      ByteArray a = answers.front();
      answers.pop_front();
      if (!a.empty()) link.send(a, 5);
    });
    dev = std::make_shared<VirtualDevice>(peer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
  }
  ~Rig() { ports::detachVirtual(kPort); }
  const std::vector<ByteArray>& sent() const { return peer->requests; }
};

}  // namespace

TEST(Cv2009Exchange, AnAckIsFollowedByEnqZeroAndTheFrameAnswers) {
  Rig r;
  r.answers = {kAck, reply(0x01, 0x01, 0, "42|")};
  EXPECT_EQ(r.d.GetOperationCounter(), 42);
  ASSERT_EQ(r.sent().size(), 2u);
  EXPECT_EQ(r.sent()[0], kReadCoo);
  EXPECT_EQ(r.sent()[1], kEnq0);
  // The reply frame, byte for byte: SOH 01 1A 00 00 01 00 00 00 03 00 "42|" 01.
  EXPECT_EQ(r.d.arAnswer,
            (ByteArray{0x01, 0x01, 0x1A, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x34, 0x32, 0x7C, 0x01}));
}

TEST(Cv2009Exchange, BusyAnswersPauseHalfASecondAndAskAgain) {
  Rig r;
  const ByteArray busy{0x11, 0, 0, 0, 0, 0};
  r.answers = {kAck, busy, busy, reply(0x01, 0x01, 0, "7|")};
  const int64_t before = r.dev->clock().nowUs();
  EXPECT_EQ(r.d.GetOperationCounter(), 7);
  EXPECT_EQ(r.sent(), (std::vector<ByteArray>{kReadCoo, kEnq0, kEnq0, kEnq0}));
  EXPECT_GE(r.dev->clock().nowUs() - before, 1'000'000);
}

TEST(Cv2009Exchange, ARefusalCarriesItsClassAndCodeAndTheFrameIsNotRepeated) {
  Rig r;
  r.answers = {ByteArray{0x15, 0x02, 0x09, 0, 0, 0}};
  BOOL open = kFalse;
  EXPECT_FALSE(r.d.CupomFiscalAberto(open));
  EXPECT_EQ(r.d.strLastError, cp("Erro desconhecido de parametro de comando."));
  EXPECT_EQ(r.sent().size(), 1u);
}

TEST(Cv2009Exchange, AReplyForAnotherFrameMakesTheSameFrameGoAgainUnchanged) {
  Rig r;
  r.answers = {kAck, reply(0x07, 0x01, 0, "1|"), kAck, reply(0x01, 0x01, 0, "5|")};
  EXPECT_EQ(r.d.GetOperationCounter(), 5);
  EXPECT_EQ(r.sent(), (std::vector<ByteArray>{kReadCoo, kEnq0, kReadCoo, kEnq0}));
}

TEST(Cv2009Exchange, BlocksAreAskedForByTheirNumberUntilTheLast) {
  Rig r;
  // Block 3 with bit 0 clear: the next ENQ asks for block 4.
  r.answers = {kAck, reply(0x01, 0x00, 3, "abc|"), reply(0x01, 0x01, 4, "def|")};
  std::string x;
  ASSERT_TRUE(r.d.LeituraXSerial(x)) << r.d.strLastError;
  EXPECT_EQ(x, "abcdef");
  ASSERT_EQ(r.sent().size(), 3u);
  // 0x0014 "1|": 01 01 14 00 02 00 31 7C, check 01+14+02+31+7C = C4.
  EXPECT_EQ(r.sent()[0], (ByteArray{0x01, 0x01, 0x14, 0x00, 0x02, 0x00, 0x31, 0x7C, 0xC4}));
  EXPECT_EQ(r.sent()[1], kEnq0);
  EXPECT_EQ(r.sent()[2], (ByteArray{0x05, 0x04}));
}

TEST(Cv2009Exchange, AnUnansweredEnqIsTriedFiveTimes) {
  Rig r;
  r.answers = {kAck};
  const int64_t before = r.dev->clock().nowUs();
  EXPECT_EQ(r.d.GetOperationCounter(), 0);
  EXPECT_EQ(r.d.strLastError, "Timeout aguardando resposta da impressora.");
  EXPECT_EQ(r.sent(), (std::vector<ByteArray>{kReadCoo, kEnq0, kEnq0, kEnq0, kEnq0, kEnq0}));
  // Five waits of the reply time-out, on the simulated clock.
  EXPECT_GE(r.dev->clock().nowUs() - before, 5 * 2'000'000);
}

TEST(Cv2009Exchange, AnUnknownFirstByteEndsTheExchangeAtOnce) {
  Rig r;
  r.answers = {kAck, ByteArray{0x42, 0x43}};
  EXPECT_EQ(r.d.GetOperationCounter(), 0);
  EXPECT_EQ(r.d.strLastError, cp("Erro de comunicação."));
  EXPECT_EQ(r.sent().size(), 2u);
}

TEST(Cv2009Exchange, AWrongCheckByteIsAskedForAgain) {
  Rig r;
  ByteArray bad = reply(0x01, 0x01, 0, "9|");
  bad.back() ^= 0xFF;
  r.answers = {kAck, bad, reply(0x01, 0x01, 0, "9|")};
  EXPECT_EQ(r.d.GetOperationCounter(), 9);
  EXPECT_EQ(r.sent(), (std::vector<ByteArray>{kReadCoo, kEnq0, kEnq0}));
}

TEST(Cv2009Exchange, AClassInTheReplyFrameFailsTheCommand) {
  Rig r;
  r.answers = {kAck, reply(0x01, 0x00, 0, "", 12)};
  EXPECT_EQ(r.d.GetOperationCounter(), 0);
  EXPECT_EQ(r.d.strLastError, "Sem papel.");
}

TEST(Cv2009Exchange, SynTakesThePrintersSequenceNumber) {
  Rig r;
  r.answers = {ByteArray{0x16, 0x07}};
  ASSERT_TRUE(r.d.ECFOnline()) << r.d.strLastError;
  EXPECT_EQ(r.sent(), (std::vector<ByteArray>{ByteArray{0x16}}));
  EXPECT_EQ((*r.d.BuildCommand(ByteArray{0x1A, 0x00}, {}))[1], 8);
}

TEST(Cv2009Exchange, APrinterBusyForeverEndsWithATimeOut) {
  Rig r;
  r.answers = {kAck};
  for (int i = 0; i < 400; ++i) r.answers.push_back(ByteArray{0x11, 0, 0, 0, 0, 0});
  EXPECT_EQ(r.d.GetOperationCounter(), 0);
  EXPECT_EQ(r.d.strLastError, "Timeout aguardando resposta da impressora.");
  EXPECT_LT(r.sent().size(), 300u);
}

TEST(Cv2009Exchange, ANumberThatDoesNotFitSendsNothing) {
  Rig r;
  r.d.arTaxes = {"T011800"};
  EXPECT_FALSE(r.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1e13, 0));
  EXPECT_FALSE(r.d.strLastError.empty());
  EXPECT_FALSE(r.d.RegistraItemFiscal("1", "X", "UN", 19, 1, 1, 0));
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de ICMS de 19.00% não cadastrada no ECF."));
  EXPECT_TRUE(r.sent().empty());
}

TEST(Cv2009Exchange, AnItemWithTaxMinusOneSendsF1AndTheQuantityInTwoParameters) {
  Rig r;
  r.answers = {kAck, reply(0x01, 0x01, 0, "1|150|150|")};
  ASSERT_TRUE(r.d.RegistraItemFiscal("7", "PAO", "KG", -1, 1.5, 1.0, 0)) << r.d.strLastError;
  ASSERT_GE(r.sent().size(), 1u);
  const ByteArray& f = r.sent()[0];
  const std::string params(f.begin() + 6, f.end() - 1);
  EXPECT_EQ(params, "7|PAO|F1|KG|15|1|100|2|A|");
  EXPECT_EQ(f[2], 0x02);
  EXPECT_EQ(r.d.nLastItemNumber, 1);
  EXPECT_EQ(r.d.strLastItemLabel, "F1");
}

TEST(Cv2009Exchange, RawPacketsGoUnchangedAndTheSequenceStaysPut) {
  Rig r;
  r.answers = {ByteArray{0x16, 0x09}, kAck, reply(0x09, 0x01, 0, "x|")};
  // (SYN's answer is the whole reply: nothing is asked after it.)
  ByteArray answer;
  ASSERT_TRUE(r.d.EnviaComandoECF(ByteArray{0x16}, answer)) << r.d.strLastError;
  EXPECT_EQ(answer, (ByteArray{0x16, 0x09}));
  // A whole frame of the caller's, sequence 9: its reply is fetched with ENQ.
  const ByteArray frame{0x01, 0x09, 0x1A, 0x00, 0x00, 0x00, 0x23};
  ASSERT_TRUE(r.d.EnviaComandoECF(frame, answer)) << r.d.strLastError;
  EXPECT_EQ(answer, reply(0x09, 0x01, 0, "x|"));
  EXPECT_EQ(r.sent(), (std::vector<ByteArray>{ByteArray{0x16}, frame, kEnq0}));
  EXPECT_EQ(r.d.intSequencia, 0);
}

TEST(Cv2009Exchange, AReplyForAnotherFrameWithNoFrameStoredIsAskedForAgain) {
  Rig r;
  // Nothing framed was sent yet: a frame of another sequence, then the reply.
  // Each is answered by asking again (there is no frame to send again), then
  // the silent printer gets its five attempts and the wait ends.
  r.answers = {kAck, reply(0x05, 0x01, 0, "x|"), reply(0x05, 0x01, 0, "y|")};
  ByteArray answer;
  EXPECT_FALSE(r.d.EnviaComandoECF(ByteArray{0x05, 0x00}, answer));
  EXPECT_EQ(r.d.strLastError, "Timeout aguardando resposta da impressora.");
  EXPECT_EQ(r.sent(), std::vector<ByteArray>(8, kEnq0));
}

TEST(Cv2009Exchange, PrintedTextCarriesBoldOnlyWhereTheModelPrintsIt) {
  Rig r;
  r.answers = {kAck, reply(0x01, 0x01, 0, ""), kAck, reply(0x02, 0x01, 0, "")};
  ASSERT_TRUE(r.d.ImprimeRelatorioGerencial(cp("<b>Ação</b> <h>1</h>\r\nfim"))) << r.d.strLastError;
  r.d.bSuportaNegrito = kFalse;
  ASSERT_TRUE(r.d.ImprimeRelatorioGerencial("<b>X</b><i>\r")) << r.d.strLastError;
  ASSERT_EQ(r.sent().size(), 4u);
  auto params = [](const ByteArray& f) { return std::string(f.begin() + 6, f.end() - 1); };
  // Bold as ESC E and ESC F, the high tags gone, CR LF as LF, the letters as the host wrote them.
  EXPECT_EQ(params(r.sent()[0]), std::string("\x1B"
                                             "EA\xE7\xE3o\x1B"
                                             "F 1\nfim|"));
  // Without bold the tags go too; a tag the host's markup does not have is printed.
  EXPECT_EQ(params(r.sent()[2]), "X<i>\n|");
}

namespace {
// The parameter text of a command frame as the host wrote it.
std::string paramsOf(const ByteArray& frame) {
  if (frame.size() < 7) return {};
  return std::string(frame.begin() + 6, frame.end() - 1);
}
}  // namespace

TEST(Cv2009Exchange, TheReductionCarriesThePrintersMomentNotTheHosts) {
  Rig r;
  r.answers = {kAck, reply(0x01, 0x01, 0, "04122026|")};
  const DateTime before = DateTime::now();
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::fromParts(2001, 2, 3, 4, 5, 6))) << r.d.strLastError;
  ASSERT_FALSE(r.sent().empty());
  const std::string params = paramsOf(r.sent()[0]);
  DateParts now;
  ASSERT_TRUE(before.parts(now));
  EXPECT_EQ(params.substr(0, 9), text::format("%02d%02d%04d|", now.day, now.month, now.year)) << params;
  EXPECT_EQ(params.substr(15), "|||10|") << params;
}

TEST(Cv2009Exchange, ARateIsAddedUnderItsDecimalIndexWhateverItsKind) {
  struct Case {
    long kind;
    double rate;
    const char* params;
  };
  for (const Case& c : {Case{1, 5.5, "7||0550|"}, Case{0, 18, "7||1800|"}}) {
    Rig r;
    r.answers = {kAck, reply(0x01, 0x01, 0, "T011800|T021200|T030700|S040500|T050100|S060200|"), kAck,
                 reply(0x02, 0x01, 0, "")};
    ASSERT_TRUE(r.d.AdicionaAliquotaTributaria(c.rate, c.kind)) << r.d.strLastError;
    ASSERT_EQ(r.sent().size(), 4u);
    EXPECT_EQ(r.sent()[2][2], 0x54);
    EXPECT_EQ(paramsOf(r.sent()[2]), c.params);
  }
}

TEST(Cv2009Exchange, TheFiscalInformationReadsEveryRegisterGroupOfTheDay) {
  Rig r;
  const char* data[] = {"1|2|3|", "100|50|0|0|0|", "10|", "0|0|0|0|0|0|", "1|04122026|1|0|"};
  for (uint8_t seq = 1; seq <= 5; ++seq) {
    r.answers.push_back(kAck);
    r.answers.push_back(reply(seq, 0x01, 0, data[seq - 1]));
  }
  ASSERT_TRUE(r.d.ReadFiscalInformation()) << r.d.strLastError;
  std::vector<std::string> asked;
  for (const ByteArray& f : r.sent())
    if (f.size() > 6 && f[0] == 0x01) asked.push_back(paramsOf(f));
  EXPECT_EQ(asked, (std::vector<std::string>{"1|0|", "4|0|", "5|0|", "6|1|", "8|0|"}));
  EXPECT_EQ(r.d.intZReportCounter, 3);
  EXPECT_EQ(r.d.intInitialOperation, 1);
}

#ifndef _WIN32
TEST(Cv2009Exchange, AHostFileThatCannotBeMadeFailsWithTheSystemsCodeAndText) {
  Rig r;
  r.answers = {kAck, reply(0x01, 0x01, 0, "MF|")};
  EXPECT_FALSE(r.d.LeMFContZBIN(1, 2, "/nonexistent-folder-of-tarvion/mf.bin"));
  EXPECT_EQ(r.d.strLastError, text::format("(%d)%s", ENOENT, platform::systemErrorText(ENOENT).c_str()));
}
#endif
