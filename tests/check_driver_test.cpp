// The check printers' drivers on the virtual wire, in simulated time: against
// the virtual Perto, Chronos and Imprecheq printers (both sides written apart),
// and against scripted lines for the answers a virtual printer never gives.
// Expected bytes are written out by hand.
#include <gtest/gtest.h>

#include <memory>

#include "core/text.h"
#include "core/virtual_wire.h"
#include "drivers/check/CChronos.h"
#include "drivers/check/CImprecheq.h"
#include "drivers/check/CPertoCheck.h"
#include "emulator/check/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "platform/prompt.h"

using namespace tarvion;
using text::cp;

namespace {

ByteArray of(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}
// Bytes as "02 50 03 51", for readable failures.
std::string hex(const ByteArray& b) {
  std::string s;
  for (uint8_t v : b) s += text::format(s.empty() ? "%02X" : " %02X", v);
  return s;
}
double day(int y, int m, int d) {
  return DateTime::fromParts(y, m, d).automationDate();
}

// A driver on a port whose far end is a peer.
template <class Driver>
struct Rig {
  Rig(int port, std::shared_ptr<VirtualDevice> device) : port_(port), dev(std::move(device)) {
    ports::attachVirtual(port, dev);
    d.nPortNumber = port;
    d.nBaudRate = 9600;
    d.nDataBits = 8;
    d.nStopBits = 1;
    EXPECT_TRUE(d.OpenComm(kFalse)) << d.strLastError;
    dev->clearWritten();
  }
  ~Rig() {
    d.CloseComm();
    ports::detachVirtual(port_);
  }
  ByteArray take() {
    ByteArray w = dev->written();
    dev->clearWritten();
    return w;
  }
  int port_;
  std::shared_ptr<VirtualDevice> dev;
  Driver d;
};

// A virtual printer of the check table by name, on a device.
std::shared_ptr<emulator::CheckPrinter> checkPrinter(const char* name, const std::string& state = {}) {
  std::string err;
  auto p = std::dynamic_pointer_cast<emulator::CheckPrinter>(emulator::makePrinter(name, state, "", &err));
  EXPECT_NE(p, nullptr) << err;
  return p;
}

const std::string kLine = "00100011<0180000015>500001234565";
const std::string kDigits = "001000110180000015500001234565";

}  // namespace

TEST(PertoDriver, ReadsTheLineAndPrintsWithoutFeedingAgain) {
  auto printer = checkPrinter("PERTOCHECK");
  Rig<CPertoCheck> r(701, emulator::makeVirtualDevice(printer));
  printer->setDocumentInserted(true, kDigits);

  std::string line;
  ASSERT_TRUE(r.d.ReadCheck(kTrue, line)) << r.d.strLastError;
  EXPECT_EQ(line, kLine);
  // "P", then our acknowledgement of the answer.
  EXPECT_EQ(hex(r.take()), "02 50 03 51 06");
  // Just read: printed where it stands, no "=".
  ASSERT_TRUE(r.d.PrintCheck(123.45, "001")) << r.d.strLastError;
  EXPECT_EQ(r.take(), of("\x02;C000000012345001\x03\x49\x06"));
  EXPECT_EQ(printer->station().printed, 1);

  // Not read before: "=" feeds it first. Read without keeping it: ">" follows.
  printer->setDocumentInserted(true, kDigits);
  ASSERT_TRUE(r.d.PrintCheck(1, "237")) << r.d.strLastError;
  EXPECT_EQ(r.take(), of("\x02=\x03<\x06\x02;C000000000100237\x03\x4E\x06"));
  printer->setDocumentInserted(true, kDigits);
  ASSERT_TRUE(r.d.ReadCheck(kFalse, line)) << r.d.strLastError;
  EXPECT_EQ(hex(r.take()), "02 50 03 51 06 02 3E 03 3F 06");
  EXPECT_FALSE(printer->documentInserted());

  // ReadAndPrintCheck keeps the document and sends no "=".
  printer->setDocumentInserted(true, kDigits);
  ASSERT_TRUE(r.d.ReadAndPrintCheck(10, "001", line)) << r.d.strLastError;
  const ByteArray w = r.take();
  EXPECT_EQ(std::count(w.begin(), w.end(), '='), 0) << hex(w);
  EXPECT_EQ(std::count(w.begin(), w.end(), '>'), 0) << hex(w);
  EXPECT_EQ(printer->station().printed, 3);

  // An empty slot: the printer's own status and message.
  printer->setDocumentInserted(false);
  EXPECT_FALSE(r.d.ReadCheck(kTrue, line));
  EXPECT_EQ(r.d.strLastError, cp("Documento não inserido na máquina."));
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::Refused);
  r.take();
  EXPECT_FALSE(r.d.PrintCheck(5, "001"));  // the "=" fails: ";" is not sent
  EXPECT_EQ(hex(r.take()), "02 3D 03 3C 06");
}

TEST(PertoDriver, ConfigurationTextAndItsRefusals) {
  auto printer = checkPrinter("PERTOCHECK");
  Rig<CPertoCheck> r(702, emulator::makeVirtualDevice(printer));
  ASSERT_TRUE(r.d.SetCheckConfiguration("Real", "Reais", "Recife", "Maria", DateTime(day(2026, 12, 4)),
                                        DateTime(day(2027, 1, 4))))
      << r.d.strLastError;
  EXPECT_EQ(printer->commands(),
            (std::vector<std::string>{"# Recife" + std::string(14, ' '), "% Maria" + std::string(45, ' '), "! 041226",
                                      "+ Bom para: 04/01/2027"}));
  // The same day twice: no "+".
  ASSERT_TRUE(r.d.SetCheckConfiguration("Real", "Reais", "Recife", "Maria", DateTime(day(2026, 12, 4)),
                                        DateTime(day(2026, 12, 4))));
  EXPECT_EQ(printer->commands().size(), 7u);

  // Three lines still make fourteen, each closed by 0xFF.
  r.take();
  ASSERT_TRUE(r.d.PrintCheckText(cp("um\r\ndois\ntrês"))) << r.d.strLastError;
  const ByteArray w = r.take();
  EXPECT_EQ(std::count(w.begin(), w.end(), 0xFF), 14) << hex(w);
  EXPECT_EQ(hex(ByteArray(w.begin(), w.begin() + 16)), "02 58 75 6D FF 64 6F 69 73 FF 74 72 65 73 FF FF");
  EXPECT_NE(printer->printedPaper().find("tres"), std::string::npos);

  ASSERT_TRUE(r.d.SetCheckAdditionalInfo("Conta 123"));
  EXPECT_EQ(printer->commands().back(), ": Conta 123           ");

  // A value the field cannot hold, or a negative one: nothing goes out.
  r.take();
  const unsigned long written = r.d.nCommandsWritten;
  EXPECT_FALSE(r.d.PrintCheck(1e12, "001"));
  // The message names the field and its limit.
  EXPECT_NE(r.d.strLastError.find("Valor do cheque"), std::string::npos) << r.d.strLastError;
  EXPECT_NE(r.d.strLastError.find("9999999999,99"), std::string::npos) << r.d.strLastError;
  EXPECT_FALSE(r.d.PrintCheck(-1, "001"));
  EXPECT_EQ(r.d.nCommandsWritten, written);
  EXPECT_TRUE(r.take().empty());
  EXPECT_FALSE(r.d.SetCheckConfiguration("", "", "", "", DateTime::invalid(), DateTime::invalid()));
  EXPECT_TRUE(r.take().empty());
}

TEST(PertoDriver, LineFaultsAreNeverSentAgain) {
  struct Case {
    const char* name;
    ByteArray answer;  // what the printer says to every frame
    bool ok;
    exchange::Outcome outcome;
    const char* message;
  };
  const Case cases[] = {
      {"status 0",
       of("\x06\x02"
          "000\x03\x31"),
       true, exchange::Outcome::Done, ""},
      {"status 99",
       of("\x06\x02"
          "099\x03\x31"),
       false, exchange::Outcome::Refused, "99 - Erro indefinido."},
      {"NAK", of("\x15"), false, exchange::Outcome::Refused, "Timeout recebendo resposta da impressora."},
      {"silence", {}, false, exchange::Outcome::MayHaveRun, "Timeout recebendo resposta da impressora."},
      {"acknowledged, then silence", of("\x06"), false, exchange::Outcome::MayHaveRun,
       "Timeout aguardando resposta da impressora."},
      {"wrong check byte",
       of("\x06\x02"
          "000\x03\x07"),
       false, exchange::Outcome::MayHaveRun, "Resposta inválida da impressora."},
      {"noise", of("\x06\xA5\x10\x03\x44"), false, exchange::Outcome::MayHaveRun, "Resposta inválida da impressora."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto peer = std::make_shared<ScriptedPeer>([&](const ByteArray& req, VirtualLink& link) {
      if (req.size() > 1) link.send(c.answer);  // our lone ACK gets no answer
    });
    Rig<CPertoCheck> r(703, std::make_shared<VirtualDevice>(peer));
    const int64_t before = r.dev->clock().nowUs();
    EXPECT_EQ(r.d.ReleaseCheck(), c.ok ? 1 : 0);
    EXPECT_EQ(r.d.strLastError, cp(c.message));
    EXPECT_EQ(r.d.lastOutcome, c.outcome);
    // One frame, written once, whatever came back.
    const ByteArray w = r.take();
    EXPECT_EQ(std::count(w.begin(), w.end(), 0x3E), 1) << hex(w);
    // The waits ran on the simulated clock: at most the acknowledgement's and the answer's.
    EXPECT_LE(r.dev->clock().nowUs() - before, int64_t{63'000'000});
  }
  // A cable that holds both lines: nothing is written.
  auto peer = std::make_shared<ScriptedPeer>();
  Rig<CPertoCheck> r(704, std::make_shared<VirtualDevice>(peer));
  VirtualLink(*r.dev).setHolds(true, true);
  EXPECT_FALSE(r.d.ReleaseCheck());
  EXPECT_EQ(r.d.strLastError,
            cp("Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador."));
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::NotWritten);
  EXPECT_TRUE(r.take().empty());
}

TEST(ChronosDriver, StatusBytesAndTheirMessages) {
  struct Case {
    uint8_t status;
    bool ok;
    const char* message;
  } const cases[] = {
      {0x14, true, ""}, {0x02, false, "Sem papel.\n"}, {0x21, false, "Buffer de impressão cheio.\nFalha no motor.\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.status));
    auto peer =
        std::make_shared<ScriptedPeer>([&](const ByteArray&, VirtualLink& link) { link.send(ByteArray{c.status}); });
    Rig<CChronos> r(705, std::make_shared<VirtualDevice>(peer));
    EXPECT_EQ(r.d.PrintCheck(123.45, "001"), c.ok ? 1 : 0);
    EXPECT_EQ(r.d.strLastError, cp(c.message));
    // The chain stops at the first refusal.
    EXPECT_EQ(peer->requests.size(), c.ok ? 3u : 1u);
  }
  // A byte no Chronos sends is no status: the command may have run.
  auto peer = std::make_shared<ScriptedPeer>([](const ByteArray&, VirtualLink& link) { link.send(ByteArray{0xC4}); });
  Rig<CChronos> r(706, std::make_shared<VirtualDevice>(peer));
  EXPECT_FALSE(r.d.PrintCheck(1, "001"));
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::MayHaveRun);
  EXPECT_EQ(peer->requests.size(), 1u);
}

TEST(ChronosDriver, OnTheVirtualPrinter) {
  auto printer = checkPrinter("CHRONOS CHECK-PRONTO");
  Rig<CChronos> r(707, emulator::makeVirtualDevice(printer));
  EXPECT_EQ(r.d.Columns, 82);
  ASSERT_TRUE(r.d.SetCheckConfiguration("Real", "Reais", "Recife", "Maria", DateTime(day(2026, 12, 4)),
                                        DateTime(day(2027, 1, 4))))
      << r.d.strLastError;
  EXPECT_EQ(r.take(),
            of(std::string("\x1BMReal,Reais\r", 13) + '\0' + "\x1B\xA6Maria\r" + '\0' + "\x1B\xA7Recife\r" + '\0' +
               "\x1B\xA8"
               "04/12/26\r" +
               '\0'));
  // Nothing in the slot: the margin sensor finds no paper under the head.
  EXPECT_FALSE(r.d.PrintCheck(123.45, "001"));
  EXPECT_EQ(r.d.strLastError, cp("Falha na margem.\n"));
  r.take();
  printer->setDocumentInserted(true);
  ASSERT_TRUE(r.d.PrintCheck(123.45, "001")) << r.d.strLastError;
  EXPECT_EQ(r.take(), of(std::string("\x1B\xA2"
                                     "001\r",
                                     6) +
                         '\0' + "\x1B\xA3        123,45\r" + '\0' + "\x1B\xB0" + '\0'));
  EXPECT_EQ(printer->station().printed, 1);
  EXPECT_NE(printer->printedPaper().find("123,45"), std::string::npos);

  // Text goes out raw, one line at a time, and is not answered.
  EXPECT_TRUE(r.d.PrintCheckText("um\ndois\nsem fim"));
  EXPECT_EQ(r.take(), of("um\ndois\n"));
  EXPECT_NE(printer->printedPaper().find("dois"), std::string::npos);
  // No sensor: the answer alternates.
  EXPECT_FALSE(r.d.IsDocumentInserted());
  EXPECT_TRUE(r.d.IsDocumentInserted());
  EXPECT_FALSE(r.d.IsDocumentInserted());
  std::string line;
  EXPECT_TRUE(r.d.ReadCheck(kFalse, line));
  EXPECT_EQ(line, std::string(30, ' '));
}

TEST(ImprecheqDriver, ByteByByteUnderDsrAfterTheOperatorSaysSo) {
  platform::PromptAnswer answer = platform::PromptAnswer::Ok;
  std::vector<platform::PromptRequest> asked;
  const auto previous = platform::setPromptHandler([&](const platform::PromptRequest& q) {
    asked.push_back(q);
    return answer;
  });
  auto printer = checkPrinter("IMPRECHEQ");
  Rig<CImprecheq> r(708, emulator::makeVirtualDevice(printer));
  ASSERT_TRUE(r.d.PrintCheck(123.45, "0012")) << r.d.strLastError;
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].kind, platform::PromptKind::OkCancel);
  EXPECT_EQ(asked[0].title, cp("Atenção"));
  EXPECT_EQ(asked[0].message, "Insira o cheque na impressora.");
  EXPECT_EQ(r.take(), of("\x1B"
                         "B001\x1BV00000000012345"));
  EXPECT_EQ(printer->commands(), (std::vector<std::string>{"B 001", "V 00000000012345"}));

  // Cancel: nothing goes out, and no message.
  answer = platform::PromptAnswer::Cancel;
  EXPECT_FALSE(r.d.PrintCheck(1, "001"));
  EXPECT_EQ(r.d.strLastError, "");
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::NotWritten);
  EXPECT_TRUE(r.take().empty());
  answer = platform::PromptAnswer::Ok;
  std::string line;
  ASSERT_TRUE(r.d.ReadAndPrintCheck(2, "237", line));
  EXPECT_EQ(line, std::string(30, ' '));
  EXPECT_EQ(r.take(), of("\x1B"
                         "B237\x1BV00000000000200"));
  platform::setPromptHandler(previous);

  ASSERT_TRUE(r.d.SetCheckConfiguration("Real", "Reais", "Recife", "Maria", DateTime(day(2026, 12, 4)),
                                        DateTime(day(2026, 12, 4))));
  EXPECT_EQ(r.take(), of("\x1B"
                         "FMaria$\x1B"
                         "CRecife$\x1B"
                         "D041226"));
  ASSERT_TRUE(r.d.PrintCheckText("um\r\ndois"));
  EXPECT_EQ(r.take(), of("\x1BS0um\ndois\n\x0C"));
}

TEST(ImprecheqDriver, APrinterThatHoldsDsrTimesOutOnTheSimulatedClock) {
  int bytes = 0;
  auto peer = std::make_shared<ScriptedPeer>([&](const ByteArray& req, VirtualLink& link) {
    bytes += static_cast<int>(req.size());
    // Busy after the second byte, for good.
    link.setHolds(false, bytes >= 2);
  });
  Rig<CImprecheq> r(709, std::make_shared<VirtualDevice>(peer));
  const int64_t before = r.dev->clock().nowUs();
  EXPECT_FALSE(r.d.PrintCheckText("um"));
  EXPECT_EQ(r.d.strLastError, "Timeout aguardando resposta da impressora.");
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::MayHaveRun);
  EXPECT_EQ(hex(r.take()), "1B 53");  // one byte at a time: the third never went
  const int64_t waited = r.dev->clock().nowUs() - before;
  EXPECT_GE(waited, int64_t{60'000'000});
  EXPECT_LT(waited, int64_t{61'000'000});
  // The document sensor is the CTS line.
  EXPECT_TRUE(r.d.IsDocumentInserted());
  VirtualLink link(*r.dev);
  link.setHolds(true, false);
  EXPECT_FALSE(r.d.IsDocumentInserted());
  // CTS held at the start: nothing is written.
  EXPECT_FALSE(r.d.PrintCheckText("x"));
  EXPECT_EQ(r.d.strLastError,
            cp("Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador."));
  EXPECT_TRUE(r.take().empty());
}
