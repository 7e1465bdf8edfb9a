// One Bematech command on the virtual wire: the frame, the acknowledgement, the
// reply read (serial and USB), the status bytes and ST3, the status probe, the
// set-up exchange, the port settings and the document wait. Simulated clock:
// nothing here waits in real time.
#include <gtest/gtest.h>

#include <stdexcept>

#include "bematech_fake_printer.h"
#include "core/text.h"
#include "driver_port.h"
#include "drivers/bematech/CBematech2000.h"
#include "drivers/bematech/CBematech2100.h"
#include "drivers/bematech/CBematechMP25.h"
#include "drivers/bematech/CBematechMP6000.h"
#include "drivers/bematech/CBematechMP7000.h"
#include "drivers/bematech/CIBM4610.h"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;
using text::cp;

namespace {

const std::string kTimeoutAnswer = "Timeout aguardando resposta da impressora.";

// A USB channel whose read request fails with the codes a test hands it.
class CodedUsbChannel final : public Channel {
 public:
  std::deque<uint32_t> failures;  // consumed one per read request; 0 answers the next chunk
  std::deque<ByteArray> chunks;
  int requests = 0;
  VirtualClock clk;
  bool properties(PortProperties&) override { return true; }
  bool getSettings(PortSettings&) override { return true; }
  bool setSettings(const PortSettings&) override { return true; }
  bool setTimeouts(const PortTimeouts&) override { return true; }
  bool purge(bool, bool) override { return true; }
  bool lineStatus(LineStatus& out) override {
    out = LineStatus{};
    return true;
  }
  bool write(const uint8_t*, size_t n, size_t& written) override {
    written = n;
    return true;
  }
  bool read(uint8_t*, size_t, size_t& got) override {
    got = 0;
    return true;
  }
  WaitResult waitForInput(uint32_t, bool, bool) override { return WaitResult::Ready; }
  bool lineControl(LineFunction) override { return true; }
  bool deviceControl(uint32_t, const ByteArray&, ByteArray& out, size_t) override {
    ++requests;
    if (!failures.empty()) {
      uint32_t code = failures.front();
      failures.pop_front();
      if (code) {
        platform::setLastError(static_cast<int>(code));
        return false;
      }
    }
    if (chunks.empty()) {
      out = bytes("BEMAAMEB");
    } else {
      out = chunks.front();
      chunks.pop_front();
    }
    return true;
  }
  void close() override {}
  bool isOpen() const override { return true; }
  long handleValue() const override { return 7; }
  platform::Clock& clock() override { return clk; }
};

}  // namespace

TEST(BematechExchange, FrameAndLogOfOneCommand) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<> r(60);
  ASSERT_TRUE(r.open());
  EXPECT_EQ(r.d.AbreCupomFiscal(), 1);
  EXPECT_EQ(r.dev->written(), (ByteArray{0x02, 0x04, 0x00, 0x1B, 0x00, 0x1B, 0x00}));
  EXPECT_EQ(r.d.strLastError, "");
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech::SendCommand{0204001b001b00}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::SendCommand{Return=0000}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::SendCommand{Retorno=TRUE,strLastError=}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::AbreCupomFiscal{Retorno=TRUE}"), std::string::npos);
  // Four parameter bytes: N = prefix + command + 4 + checksum = 8.
  r.dev->clearWritten();
  ASSERT_EQ(r.d.CancelaItemFiscal(12, "", 0, 0, 0, 0), 1);
  const ByteArray& w = r.dev->written();
  ASSERT_EQ(w.size(), 11u);
  EXPECT_EQ(w[1] | (w[2] << 8), 8);
  EXPECT_EQ(r.printer->bodies.back(), bytes("\x1f"
                                            "0012"));
}

TEST(BematechExchange, StatusBytesDecideTheResult) {
  Rig<> r(60);
  ASSERT_TRUE(r.open());
  r.printer->st1 = 0x40;  // near the paper end: not an error
  EXPECT_EQ(r.d.CancelaCupomFiscal(), 1);
  EXPECT_EQ(r.d.strLastError, "");
  r.printer->st1 = 0x02;
  EXPECT_EQ(r.d.CancelaCupomFiscal(), 0);
  EXPECT_EQ(r.d.strLastError, "Cupom aberto.\n");
  r.printer->st1 = 0x81;
  r.printer->st2 = 0x10;
  EXPECT_EQ(r.d.CancelaCupomFiscal(), 0);
  EXPECT_EQ(r.d.strLastError, cp("Número de parâmetros do comando inválido.\nFim de papel ou tampa aberta.\n"
                                 "Alíquota não programada.\n"));
  // A data command's status ends its reply: data bytes that look like errors are data.
  r.printer->st1 = r.printer->st2 = 0;
  r.printer->data[{30}] = {0xFF, 0xFF, 0xFF};
  std::string number;
  EXPECT_EQ(r.d.RetornaNumeroCupom(number), 1);
  EXPECT_EQ(number, "ffffff");
  r.printer->st2 = 0x01;
  EXPECT_EQ(r.d.RetornaNumeroCupom(number), 0);
  EXPECT_EQ(r.d.strLastError, cp("Comando não executado.\n"));
}

TEST(BematechExchange, RefusalsAndSilence) {
  Rig<> r(61);
  ASSERT_TRUE(r.open());
  r.printer->nak = true;
  EXPECT_EQ(r.d.LeituraX(), 0);
  EXPECT_EQ(r.d.strLastError, "Timeout enviando comando para a impressora.");
  r.printer->nak = false;
  r.printer->silent = true;
  int64_t start = r.nowUs();
  EXPECT_EQ(r.d.LeituraX(), 0);
  EXPECT_EQ(r.d.strLastError, kTimeoutAnswer);
  EXPECT_EQ(r.nowUs() - start, 120'000'000);
  r.d.nAnswerTimeout = 5000;
  start = r.nowUs();
  EXPECT_EQ(r.d.LeituraX(), 0);
  // After a command without an answer the line is drained before the next
  // one goes out: one read time-out (200 ms), then the wait.
  EXPECT_EQ(r.nowUs() - start, 5'200'000);
  // A slow printer within the wait is fine.
  r.printer->silent = false;
  r.printer->delayMs = 3000;
  EXPECT_EQ(r.d.LeituraX(), 1);
}

TEST(BematechExchange, LineHoldsStopTheCommandBeforeWriting) {
  Rig<> r(62);
  ASSERT_TRUE(r.open());
  VirtualLink link(*r.dev);
  link.setHolds(true, true);
  EXPECT_EQ(r.d.LeituraX(), 0);
  EXPECT_EQ(r.d.strLastError,
            cp("Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador."));
  link.setHolds(true, false);
  EXPECT_EQ(r.d.LeituraX(), 0);
  EXPECT_EQ(r.d.strLastError,
            cp("Erro de comunicação. Verifique se a impressora está ligada e o cabo está conectado corretamente."));
  EXPECT_TRUE(r.dev->written().empty());
  // DSR alone does not stop a Bematech command.
  link.setHolds(false, true);
  EXPECT_EQ(r.d.LeituraX(), 1);
  // A cut cable fails the line check with the system's message.
  r.dev->cut();
  EXPECT_EQ(r.d.LeituraX(), 0);
  EXPECT_EQ(r.d.strLastError.rfind("(1167)", 0), 0u);
  // No port at all: the handle is invalid.
  CBematech closed;
  EXPECT_EQ(closed.LeituraX(), 0);
  EXPECT_EQ(closed.strLastError, cp("(6)Falha na comunicação com o ECF."));
}

TEST(BematechExchange, AnExceptionInsideIsReportedAsUnknown) {
  Rig<> r(63);
  ASSERT_TRUE(r.open());
  r.printer->hook = [](const ByteArray&, ByteArray&) -> bool { throw std::runtime_error("boom"); };
  EXPECT_EQ(r.d.AbreCupomFiscal(), 0);
  EXPECT_NE(r.d.strLastError.find("Erro desconhecido."), std::string::npos);
}

TEST(BematechExchange, KnownReplyLengthsEndTheReadEarly) {
  // The same commands with and without the early end: same bytes, same results,
  // and only the known-length replies skip the idle read.
  struct Outcome {
    BOOL result;
    ByteArray answer;
    std::string error;
    int64_t us;
  };
  auto run = [](bool early, const std::function<BOOL(CBematech&)>& op, FakeBematech& setup) {
    Rig<> r(64);
    r.printer->data = setup.data;
    EXPECT_TRUE(r.open()) << r.d.strLastError;
    r.printer->st1 = setup.st1;
    r.printer->st2 = setup.st2;
    r.d.bEndOnKnownLength = early;
    int64_t start = r.nowUs();
    Outcome o{op(r.d), r.d.arAnswer, r.d.strLastError, 0};
    o.us = r.nowUs() - start;
    return o;
  };
  FakeBematech setup;
  setup.data[{35, 1}] = {0x03, 0x10};
  ByteArray names(1 + 50 * 16, ' ');
  std::copy_n("Dinheiro", 8, names.begin() + 1);
  setup.data[{35, 32}] = names;
  const std::vector<std::pair<std::string, std::function<BOOL(CBematech&)>>> ops = {
      {"status only", [](CBematech& d) { return d.CancelaCupomFiscal(); }},
      {"fixed data", [](CBematech& d) { return d.InitialConfiguration(); }},
      {"list", [](CBematech& d) { return d.LoadPaymentTypes(kFalse); }},
  };
  for (auto& [name, op] : ops) {
    Outcome fast = run(true, op, setup), slow = run(false, op, setup);
    EXPECT_EQ(fast.result, 1) << name;
    EXPECT_EQ(fast.result, slow.result) << name;
    EXPECT_EQ(fast.answer, slow.answer) << name;
    EXPECT_EQ(fast.error, slow.error) << name;
    EXPECT_EQ(slow.us, 400'000) << name;  // two idle reads of 200 ms
    if (name == "list")
      EXPECT_EQ(fast.us, 400'000) << name;
    else
      EXPECT_EQ(fast.us, 0) << name;
  }
  setup.st1 = 0x02;
  Outcome fast = run(true, ops[0].second, setup), slow = run(false, ops[0].second, setup);
  EXPECT_EQ(fast.result, 0);
  EXPECT_EQ(fast.error, slow.error);
}

TEST(BematechExchange, EarlyEndKeepsEveryByteOfALongerOrPacedReply) {
  Rig<> r(65);
  ASSERT_TRUE(r.open());
  // More than the layout: the extra bytes are already waiting, so the read goes on.
  r.printer->hook = [](const ByteArray& body, ByteArray& reply) {
    if (body[0] != 14) return false;
    reply = {0x00, 0x00, 0x55, 0x66};
    return true;
  };
  EXPECT_EQ(r.d.CancelaCupomFiscal(), 1);
  EXPECT_EQ(r.d.arAnswer, (ByteArray{0x00, 0x00, 0x55, 0x66}));
  // At 9600 baud the bytes trickle in; the known length still gets all of them.
  r.printer->hook = nullptr;
  r.dev->setBaud(9600);
  std::string serial;
  r.printer->data[{35, 0}] = bytes("BE0123456789012345AB");
  int64_t start = r.nowUs();
  EXPECT_EQ(r.d.ReadSerialNumber(serial), 1);
  EXPECT_EQ(serial, "BE0123456789012");
  EXPECT_EQ(r.d.arAnswer.size(), 22u);
  // Frame out (8 bytes) and 23 bytes back at about 1 ms each, no idle read.
  EXPECT_LT(r.nowUs() - start, 40'000);
}

TEST(BematechExchange, UsbExchange) {
  Rig<> r(1060, false, true);
  ASSERT_TRUE(r.open());
  EXPECT_EQ(r.printer->controls.size(), 0u);  // the set-up requests belong to port 999 only
  // The acknowledgement goes, the printer's "still working" answers keep the loop going.
  r.printer->idleBefore = 3;
  r.printer->data[{30}] = {0x06, 0x12, 0x34};  // a receipt number that begins with the ACK value
  r.d.bEndOnKnownLength = kFalse;
  int64_t start = r.nowUs();
  const int purges = r.dev->purges();
  r.printer->readRequests = 0;
  std::string number;
  ASSERT_EQ(r.d.RetornaNumeroCupom(number), 1);
  EXPECT_EQ(number, "061234");
  EXPECT_EQ(r.d.arAnswer, (ByteArray{0x06, 0x12, 0x34, 0x00, 0x00}));
  // 3 idle answers, one chunk of 6 bytes, the closing idle answer.
  EXPECT_EQ(r.printer->readRequests, 5);
  EXPECT_EQ(r.nowUs() - start, 4 * 30'000);
  EXPECT_EQ(r.dev->purges(), purges + 1);
  // With the length known the read ends with the data.
  r.d.bEndOnKnownLength = kTrue;
  r.printer->readRequests = 0;
  r.printer->idleBefore = 0;
  ASSERT_EQ(r.d.RetornaNumeroCupom(number), 1);
  EXPECT_EQ(r.printer->readRequests, 1);
  // A reply longer than one chunk: the ACK is left out only at its start.
  r.printer->data[{35, 32}] = ByteArray(20, 0x06);
  ASSERT_EQ(r.d.LoadPaymentTypes(kFalse), 1);
  EXPECT_EQ(r.d.arAnswer.size(), 22u);
  EXPECT_EQ(r.d.arAnswer[0], 0x06);
  // A printer that never gets past "still working" runs into the answer wait.
  r.printer->silent = true;
  r.d.nAnswerTimeout = 3000;
  start = r.nowUs();
  EXPECT_EQ(r.d.CancelaCupomFiscal(), 0);
  EXPECT_EQ(r.d.strLastError, kTimeoutAnswer);
  EXPECT_GE(r.nowUs() - start, 3'000'000);
  EXPECT_LT(r.nowUs() - start, 3'100'000);
}

TEST(BematechExchange, UsbDeviceDriverErrors) {
  auto ch = std::make_shared<CodedUsbChannel>();
  CBematech d;
  d.nPortNumber = 1061;
  d.hPort = ch;
  d.bPortOpen = kTrue;
  for (uint32_t code : {0xE000100Au, 0xE0000005u, 0xE0001102u}) {
    ch->failures = {code};
    EXPECT_EQ(d.CancelaCupomFiscal(), 0) << std::hex << code;
    EXPECT_EQ(d.strLastError, "Timeout lendo status da impressora.");
  }
  // Busy: asked again at once, without the pause.
  ch->failures = {0xE0000008u, 0xE000100Cu, 0xE0000008u};
  ch->chunks = {ByteArray{0x06, 0x00, 0x00}};
  ch->requests = 0;
  int64_t start = ch->clk.nowUs();
  EXPECT_EQ(d.CancelaCupomFiscal(), 1);
  EXPECT_EQ(ch->requests, 4);
  EXPECT_EQ(ch->clk.nowUs() - start, 0);
  // Any other failure counts as an empty answer: the loop pauses and goes on.
  ch->failures = {0x1F};
  ch->chunks = {ByteArray{0x06, 0x02, 0x00}};
  start = ch->clk.nowUs();
  EXPECT_EQ(d.CancelaCupomFiscal(), 0);
  EXPECT_EQ(d.strLastError, "Cupom aberto.\n");
  EXPECT_EQ(ch->clk.nowUs() - start, 30'000);
  // Endless busy answers do not hang the driver: they end in the answer wait.
  ch->failures.assign(100000, 0xE0000008u);
  d.nAnswerTimeout = 1000;
  EXPECT_EQ(d.CancelaCupomFiscal(), 0);
  EXPECT_EQ(d.strLastError, kTimeoutAnswer);
}

TEST(BematechExchange, ExtendedStatusOfTheFsModels) {
  {
    Rig<CBematech2000> r(66, true);
    ASSERT_TRUE(r.open());
    r.printer->st3 = 125;
    r.printer->st2 = 0x01;
    EXPECT_EQ(r.d.LeituraX(), 0);
    EXPECT_EQ(r.dev->written()[3], 0x1C);
    EXPECT_EQ(r.d.strLastError, cp("Comando não executado.\nVersão já gravada na memória fiscal."));
    // ST3 adds its text but never decides the result.
    r.printer->st2 = 0;
    r.printer->st3 = 7;
    EXPECT_EQ(r.d.LeituraX(), 1);
    EXPECT_EQ(r.d.strLastError, cp("Cupom fiscal aberto."));
    r.printer->st3 = 158;  // beyond the MP-2000 table
    EXPECT_EQ(r.d.LeituraX(), 1);
    EXPECT_EQ(r.d.strLastError, "");
    // A data reply with FS: data, ST1, ST2, ST3.
    r.printer->st3 = 0;
    EXPECT_EQ(r.d.InitialConfiguration(), 1);
    EXPECT_DOUBLE_EQ(r.d.nFirmware, 3.10);
  }
  {
    Rig<CBematech2100> r(67, true);
    ASSERT_TRUE(r.open());
    r.printer->st3 = 208;
    EXPECT_EQ(r.d.LeituraX(), 1);
    EXPECT_EQ(r.d.strLastError, cp("Data de embarque anterior a data de emissão."));
  }
  {
    Rig<CBematechMP7000> r(67, true);
    ASSERT_TRUE(r.open());
    r.printer->st3 = 125;
    EXPECT_EQ(r.d.LeituraX(), 1);
    EXPECT_EQ(r.d.strLastError, cp("Caracter repetido na codificação do GT."));
  }
  {
    Rig<CBematechMP25> r(68, true);
    ASSERT_TRUE(r.open());
    r.printer->st3 = 12;
    EXPECT_EQ(r.d.LeituraX(), 1);
    EXPECT_EQ(r.d.strLastError, cp("Impressora com cabeça levantada."));
    r.printer->st3 = 196;
    EXPECT_EQ(r.d.LeituraX(), 1);
    EXPECT_EQ(r.d.strLastError, "");
  }
  {
    testsupport::TempDir tmp;
    tmp.enableLog();
    Rig<CIBM4610> r(69, true);
    ASSERT_TRUE(r.open());
    r.printer->st1 = 0x02;
    r.printer->st3 = 12;
    EXPECT_EQ(r.d.LeituraX(), 0);
    // The MP-2000 text first, then the model's own for the same code.
    EXPECT_EQ(r.d.strLastError, cp("Cupom aberto.\nImpressora com tampa aberta.Impressora com cabeça levantada."));
    r.printer->st1 = 0;
    r.printer->st3 = 168;  // beyond the MP-2000 table, within the model's own
    EXPECT_EQ(r.d.LeituraX(), 1);
    EXPECT_EQ(r.d.strLastError, bematech::st3Text(bematech::St3Table::Full, 169));
    std::string log = testsupport::readFile(tmp.logPath());
    EXPECT_NE(log.find("CBematech::CheckForSuccess{Cupom aberto.\n}"), std::string::npos);
    EXPECT_NE(log.find("CBematech2000::CheckForSuccess{Cupom aberto.\n"), std::string::npos);
    EXPECT_NE(log.find("CIBM4610::CheckForSuccess{Cupom aberto.\n"), std::string::npos);
  }
}

TEST(BematechExchange, StatusProbe) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<> r(70);
  ASSERT_TRUE(r.open());
  const int purges = r.dev->purges(), transmitPurges = r.dev->transmitPurges();
  EXPECT_EQ(r.d.ECFOnline(), 1);
  EXPECT_EQ(r.dev->written(), (ByteArray{0x02, 0x04, 0x00, 0x1B, 0x13, 0x2E, 0x00}));
  // Written after emptying the receive side only: what came before is no answer.
  EXPECT_EQ(r.dev->purges(), purges + 1);
  EXPECT_EQ(r.dev->transmitPurges(), transmitPurges);
  EXPECT_EQ(r.d.arAnswer, (ByteArray{0x06, 0x00, 0x00}));
  // The reply is not checked.
  r.printer->st1 = 0x80;
  EXPECT_EQ(r.d.ECFOnline(), 1);
  // Nothing for five seconds: no printer.
  r.printer->silent = true;
  int64_t start = r.nowUs();
  EXPECT_EQ(r.d.ECFOnline(), 0);
  EXPECT_EQ(r.nowUs() - start, 5'000'000);
  VirtualLink link(*r.dev);
  link.setHolds(true, false);
  EXPECT_EQ(r.d.ECFOnline(), 0);
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech::ECFOnline{Vai enviar pedido de status}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::ECFOnline{WaitCommEvent(5000) - Erro = Timeout}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::ECFOnline{CTSHold && !DSRHold - Erro = Erro de comunicação."), std::string::npos);
  // The opening uses the probe: a silent printer is not found.
  Rig<> absent(71);
  absent.printer->silent = true;
  EXPECT_EQ(absent.d.OpenComm(1), 0);
  EXPECT_EQ(absent.d.strLastError, cp("A impressora selecionada não pôde ser encontrada na porta serial."));
}

TEST(BematechExchange, SetUpExchangeAndPortSettings) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<> r(72);
  ASSERT_TRUE(r.open());
  EXPECT_DOUBLE_EQ(r.d.nFirmware, 3.10);
  r.printer->data[{35, 1}] = {0x04, 0x00};
  ASSERT_EQ(r.d.InitialConfiguration(), 1);
  EXPECT_DOUBLE_EQ(r.d.nFirmware, 4.0);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 1}}));
  r.printer->st2 = 0x01;
  r.d.nFirmware = 1.0;
  EXPECT_EQ(r.d.InitialConfiguration(), 0);
  EXPECT_DOUBLE_EQ(r.d.nFirmware, 1.0);
  const PortSettings& s = r.dev->settings();
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.fDsrSensitivity, 0);
  EXPECT_EQ(s.fOutxDsrFlow, 0);
  EXPECT_EQ(s.fOutxCtsFlow, 1);
  EXPECT_EQ(s.fDtrControl, kDtrDisable);
  EXPECT_EQ(s.fRtsControl, kRtsHandshake);
  EXPECT_EQ(s.XonLim, 2048);
  EXPECT_EQ(s.fAbortOnError, 1);
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech::InitialConfiguration{nFirmware=3.100000}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::GetCommState - BoundRate=9600, DataBits=8, StopBits=1, Paridade=0"),
            std::string::npos);
  // ContinueComm takes the port again and runs the set-up exchange.
  r.printer->st2 = 0;
  ASSERT_EQ(r.d.PauseComm(), 1);
  r.printer->take();
  EXPECT_EQ(r.d.ContinueComm(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 1}}));
  r.d.PauseComm();
  r.dev->refuseOpens(5);
  EXPECT_EQ(r.d.ContinueComm(), 0);
  EXPECT_TRUE(r.printer->take().empty());
}

TEST(BematechExchange, SetUpOfTheUsbDeviceDriver) {
  Rig<> r(999, false, true);
  ASSERT_TRUE(r.open());
  ASSERT_EQ(r.printer->controls.size(), 2u);
  EXPECT_EQ(r.printer->controls[0].first, 0x80942024u);
  ByteArray setup(260, 0);
  setup[2] = 1;
  setup[9] = 0x10;
  EXPECT_EQ(r.printer->controls[0].second, setup);
  EXPECT_EQ(r.printer->controls[1].first, 0x80942078u);
  EXPECT_EQ(r.printer->controls[1].second, ByteArray{2});
  EXPECT_DOUBLE_EQ(r.d.nFirmware, 3.10);
  r.printer->rejectControls = true;
  r.printer->take();
  EXPECT_EQ(r.d.InitialConfiguration(), 0);
  EXPECT_TRUE(r.printer->take().empty());
}

TEST(BematechExchange, DocumentWait) {
  Rig<> r(73);
  ASSERT_TRUE(r.open());
  int polls = 0;
  r.printer->hook = [&polls](const ByteArray& body, ByteArray& reply) {
    if (body != ByteArray{62, '0'}) return false;
    // The document arrives at the fourth poll: sensor bits 0x04, 0x20, 0x40 without 0x08.
    reply = {static_cast<uint8_t>(++polls >= 4 ? 0x64 : 0x6C), 0x00, 0x00};
    return true;
  };
  EXPECT_EQ(r.d.WaitCheckEvent(), 1);
  EXPECT_EQ(polls, 4);
  polls = -1'000'000;
  int64_t start = r.nowUs();
  EXPECT_EQ(r.d.WaitCheckEvent(), 0);
  EXPECT_EQ(r.d.strLastError, kTimeoutAnswer);
  EXPECT_GE(r.nowUs() - start, 120'000'000);
  EXPECT_LT(r.nowUs() - start, 121'000'000);
  // A refused poll ends the polling; the wait runs out all the same.
  r.printer->nak = true;
  start = r.nowUs();
  EXPECT_EQ(r.d.WaitCheckEvent(), 0);
  EXPECT_EQ(r.d.strLastError, kTimeoutAnswer);
  EXPECT_EQ(r.nowUs() - start, 120'000'000);
}

namespace {

// A printer that, when the port is opened, still has the late reply of a
// program that died mid-command on its way: the bytes arrive delayMs after
// the open, ahead of anything the printer says to the new program.
class LateReplyPeer final : public VirtualPeer {
 public:
  LateReplyPeer(std::shared_ptr<FakeBematech> printer, ByteArray late, uint32_t delayMs)
      : printer_(std::move(printer)), late_(std::move(late)), delayMs_(delayMs) {}
  void onOpen(VirtualLink& link) override {
    if (!late_.empty()) link.send(late_, delayMs_);
  }
  void onBytes(const uint8_t* p, size_t n, VirtualLink& link) override { printer_->onBytes(p, n, link); }

 private:
  std::shared_ptr<FakeBematech> printer_;
  ByteArray late_;
  uint32_t delayMs_;
};

// A driver on such a printer; the fake printer answers `answerDelayMs` after a frame.
struct LateRig {
  LateRig(int port, ByteArray late, uint32_t lateDelayMs, uint32_t answerDelayMs) : port(port) {
    printer = std::make_shared<FakeBematech>();
    printer->data[{35, 1}] = {0x03, 0x10};
    printer->delayMs = answerDelayMs;
    dev = std::make_shared<VirtualDevice>(std::make_shared<LateReplyPeer>(printer, std::move(late), lateDelayMs));
    ports::attachVirtual(port, dev);
    testsupport::usePort(d, port);
  }
  ~LateRig() {
    d.CloseComm();
    ports::detachVirtual(port);
  }
  int port;
  std::shared_ptr<FakeBematech> printer;
  std::shared_ptr<VirtualDevice> dev;
  CBematech d;
};

}  // namespace

TEST(BematechExchange, ALateReplyAfterTheOpenIsNotTakenForTheAnswer) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  // The late reply of a status-only command (ACK ST1 ST2) comes 10 ms after the
  // open; the printer answers the firmware read (ACK 03 10 ST1 ST2) 300 ms after
  // the frame. Taken at face value the late bytes would be a firmware of 0.00.
  // The line is drained before the first command goes out: it is sent once.
  struct Case {
    const char* name;
    ByteArray late;
    uint32_t lateDelayMs;
  };
  const Case cases[] = {
      {"late status reply", {0x06, 0x00, 0x00}, 10},
      {"tail of a long reply", {0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00, 0x00}, 10},
      {"before the write", {0x06, 0x00, 0x00}, 0},
      {"nothing late", {}, 0},
  };
  for (const Case& c : cases) {
    LateRig r(74, c.late, c.lateDelayMs, 300);
    // The opening reads the firmware version: the first exchange on the line.
    ASSERT_EQ(r.d.OpenComm(0), 1) << c.name;
    EXPECT_DOUBLE_EQ(r.d.nFirmware, 3.10) << c.name;
    EXPECT_EQ(r.d.arAnswer, (ByteArray{0x03, 0x10, 0x00, 0x00})) << c.name;
    EXPECT_EQ(r.printer->take().size(), 1u) << c.name;
    // Stray bytes after the frame went out, ahead of the acknowledgement: the
    // answer is unreadable, the command may have run, and it is not sent again.
    VirtualLink(*r.dev).send(ByteArray{0x20, 0x20}, 10);
    EXPECT_EQ(r.d.InitialConfiguration(), 0) << c.name;
    EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::MayHaveRun) << c.name;
    EXPECT_EQ(r.printer->take().size(), 1u) << c.name;
  }
  EXPECT_NE(testsupport::readFile(tmp.logPath())
                .find("CBematech::SendCommand{Bytes na linha antes do comando; 3 bytes descartados"),
            std::string::npos);
}

TEST(BematechExchange, ALateReplyBeforeTheStatusProbeOfTheOpening) {
  // The late bytes arrive between the open and the probe's answer: the probe is
  // asked once more, and the printer's tables are then read normally.
  for (bool early : {true, false}) {
    LateRig r(75, ByteArray{0x06, 0x11, 0x22, 0x33, 0x00, 0x00}, 5, 50);
    r.d.bEndOnKnownLength = early ? kTrue : kFalse;
    ASSERT_EQ(r.d.OpenComm(1), 1) << r.d.strLastError;
    const auto bodies = r.printer->take();
    ASSERT_GE(bodies.size(), 2u);
    EXPECT_EQ(bodies[0], ByteArray{19});
    EXPECT_EQ(bodies[1], ByteArray{19});
    EXPECT_NE(bodies[2], ByteArray{19});
  }
  // A line that is quiet at the open: one probe.
  LateRig quiet(76, {}, 0, 50);
  ASSERT_EQ(quiet.d.OpenComm(1), 1);
  const auto bodies = quiet.printer->take();
  ASSERT_GE(bodies.size(), 2u);
  EXPECT_EQ(bodies[0], ByteArray{19});
  EXPECT_NE(bodies[1], ByteArray{19});
  // Bytes already waiting when the probe goes out are thrown away before it.
  Rig<> r(77);
  ASSERT_TRUE(r.open());
  VirtualLink(*r.dev).send(ByteArray{0x06, 0x00});
  EXPECT_EQ(r.d.ECFOnline(), 1);
  EXPECT_EQ(r.d.arAnswer, (ByteArray{0x06, 0x00, 0x00}));
  EXPECT_EQ(r.printer->take().size(), 1u);
}

TEST(BematechExchange, ParametersThatWouldWrapTheLengthAreRefusedUnsent) {
  CBematech d;
  const unsigned long written = d.nCommandsWritten;
  d.ClearBuffers();
  d.AddCommandByte(bematech::cmd::Report);
  d.AddParameterString(std::string(65532, 'A'));
  EXPECT_FALSE(d.Submit());
  EXPECT_EQ(d.strLastError, "Texto com 65532 caracteres excede o limite de 65531 caracteres do comando do ECF.");
  EXPECT_EQ(d.lastOutcome, exchange::Outcome::NotWritten);
  EXPECT_EQ(d.nCommandsWritten, written);
  EXPECT_TRUE(d.arParameters.empty());
}
