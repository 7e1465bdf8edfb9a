// The virtual Epson printer: literal requests and the answers they get, a
// damaged frame, refusals of the wrong state with the family's codes, a sale
// with the driver on the virtual wire, and the usual faults.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/capabilities.h"
#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"
#include "drivers/epson/CEpson.h"
#include "emulator/epson/printer.h"
#include "emulator/paper.h"

using namespace tarvion;
using namespace tarvion::emulator;
using text::cp;

namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

struct Sink final : ReplySink {
  void send(const ByteArray& b, uint32_t) override { got.append(b.begin(), b.end()); }
  int64_t nowUs() override { return 1'000'000; }
  void hangUp() override {}
  std::string take() {
    std::string g;
    g.swap(got);
    return g;
  }
  std::string got;
};

struct Face {
  int64_t now = toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<EpsonPrinter> printer;
  Sink sink;
  Face() {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [this] { return now; }});
    core->setPaper(std::make_shared<Paper>(48));
    printer = std::make_shared<EpsonPrinter>(core, "EPSON TM-T81F", Hardware{48, false});
    printer->lineOpened();
  }
  std::string ask(const std::string& frame) {
    printer->receive(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), sink);
    return sink.take();
  }
};

struct WireRig {
  static constexpr int kPort = 762;
  Face face;
  std::shared_ptr<VirtualDevice> dev;
  CEpson d;
  WireRig() {
    dev = makeVirtualDevice(face.printer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    d.nAnswerTimeout = 2000;
    EXPECT_TRUE(d.OpenComm(1)) << d.strLastError;
  }
  ~WireRig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

}  // namespace

TEST(EmulatorEpson, LiteralRequestsAndTheAnswersTheyGet) {
  Face f;
  struct Case {
    const char* what;
    std::string request, answer;
  } cases[] = {
      {"status", bytes({0x02, 0x81, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x03}) + "00A3",
       bytes({0x06, 0x02, 0x81, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x03}) + "00DB"},
      {"closing with no receipt: wrong state", bytes({0x02, 0x82, 0x0A, 0x06, 0x1C, 0x00, 0x01, 0x03}) + "00B4",
       bytes({0x06, 0x02, 0x82, 0x0A, 0x06, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x1C, 0x01, 0x01, 0x03}) + "00ED"},
      {"unknown command: 02 02, escaped", bytes({0x02, 0x83, 0x0B, 0x01, 0x1C, 0x00, 0x00, 0x03}) + "00B0",
       bytes({0x06, 0x02, 0x83, 0x0B, 0x01, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x1C, 0x1B, 0x02, 0x1B, 0x02, 0x03}) +
           "0122"},
      {"damaged checksum: NAK", bytes({0x02, 0x84, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x03}) + "00A3", "\x15"},
      {"the host's ACK alone: nothing", "\x06", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(f.ask(c.request), c.answer) << c.what;
  // A frame in two pieces is answered once it is whole.
  const std::string status = bytes({0x02, 0x81, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x03}) + "00A3";
  EXPECT_EQ(f.ask(status.substr(0, 5)), "");
  EXPECT_EQ(f.ask(status.substr(5)).substr(0, 3), "\x06\x02\x81");
}

TEST(EmulatorEpson, ASaleWithTheDriverAndTheStateItLeaves) {
  WireRig r;
  ASSERT_EQ(r.d.arTaxes.size(), 4u);
  EXPECT_EQ(r.d.arTaxes[0], "TA-18,00%");
  EXPECT_EQ(r.d.arTaxes[3], "SD-05,00%");
  ASSERT_EQ(r.d.arPaymentTypes.size(), 3u);
  r.d.SetCustomerInfo("123.456.789-09", cp("JOSÉ"), "RUA A");
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_EQ(r.face.core->document().customerName, cp("JOSÉ"));
  BOOL open = kFalse;
  ASSERT_TRUE(r.d.CupomFiscalAberto(open));
  EXPECT_TRUE(open);
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", cp("CAFÉ"), "UN", 7, 3, 2.5, 0.5)) << r.d.strLastError;
  EXPECT_EQ(r.d.GetLastItemNumber(), 1);
  ASSERT_EQ(r.face.core->document().items.size(), 1u);
  EXPECT_EQ(r.face.core->document().items[0].description, cp("CAFÉ"));
  EXPECT_EQ(r.face.core->document().items[0].tax, "03");
  EXPECT_EQ(r.face.core->document().items[0].net(), 700);
  // Paying before the total is covered, then closing too early: the printer's code.
  ASSERT_TRUE(r.d.RegistraPagamento("Dinheiro", 5)) << r.d.strLastError;
  EXPECT_FALSE(r.d.FechaCupomFiscal("OBRIGADO", 0));
  EXPECT_EQ(r.d.strLastError, cp("Registro de pagamento incompleto."));
  ASSERT_TRUE(r.d.RegistraPagamento("Cartao", 2)) << r.d.strLastError;
  ASSERT_TRUE(r.d.FechaCupomFiscal("OBRIGADO", 0)) << r.d.strLastError;
  EXPECT_EQ(r.face.core->document().kind, DocKind::None);
  std::string coo;
  ASSERT_TRUE(r.d.RetornaNumeroCupom(coo));
  EXPECT_EQ(coo, "000001");
  EXPECT_DOUBLE_EQ(r.d.GetSaleTotal(), 7.5);
  // The receipt just closed is cancelled by its own command.
  ASSERT_TRUE(r.d.CancelaCupomFiscal()) << r.d.strLastError;
  EXPECT_TRUE(r.face.core->lastReceipt().cancelled);
  ASSERT_TRUE(r.d.LeituraX()) << r.d.strLastError;
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 18, 0, 0))) << r.d.strLastError;
  EXPECT_EQ(r.face.core->counters().crz, 1);
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_EQ(r.d.strLastError, cp("Não pode abrir jornada fiscal."));
}

TEST(EmulatorEpson, OtherDocuments) {
  WireRig r;
  ASSERT_TRUE(r.d.AdicionaTotalizadorNaoFiscal("TROCO")) << r.d.strLastError;
  EXPECT_EQ(r.face.core->titles().size(), 3u);
  // Already held: refused before anything is sent.
  const int frames = r.face.printer->framesReceived();
  EXPECT_FALSE(r.d.AdicionaTotalizadorNaoFiscal("Sangria"));
  EXPECT_EQ(r.d.strLastError, cp("Totalizador já cadastrado na impressora."));
  EXPECT_EQ(r.face.printer->framesReceived(), frames);
  ASSERT_TRUE(r.d.ComprovanteNaoFiscalNaoVinculado(2, 5, "Dinheiro")) << r.d.strLastError;
  EXPECT_EQ(r.face.core->day().nonFiscal, 500);
  ASSERT_TRUE(r.d.AbreRelatorioGerencial()) << r.d.strLastError;
  ASSERT_TRUE(r.d.ImprimeRelatorioGerencial("LINHA 1\nLINHA 2")) << r.d.strLastError;
  ASSERT_TRUE(r.d.FechaRelatorioGerencial()) << r.d.strLastError;
  EXPECT_EQ(r.face.core->document().kind, DocKind::None);
  EXPECT_FALSE(r.d.FechaRelatorioGerencial());
  EXPECT_EQ(r.d.strLastError, cp("Comando inválido para o documento atual."));
}

TEST(EmulatorEpson, FaultsOnTheLine) {
  using exchange::Outcome;
  struct Case {
    const char* faults;
    const char* message;  // null: whatever the noise reads as
    Outcome outcome;
    bool ran;
  } cases[] = {
      {"nak,once", "Timeout enviando comando para a impressora.", Outcome::Refused, false},
      {"noanswer,once", "Timeout aguardando resposta da impressora.", Outcome::MayHaveRun, false},
      {"short,once", "Resposta inválida da impressora.", Outcome::MayHaveRun, true},
      {"garbage,once", nullptr, Outcome::MayHaveRun, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    WireRig r;
    ASSERT_TRUE(r.face.printer->setFaults(c.faults));
    const int before = r.face.printer->framesReceived();
    const int64_t start = r.dev->clock().nowUs();
    EXPECT_FALSE(r.d.AbreCupomFiscal());
    if (c.message) {
      EXPECT_EQ(r.d.strLastError, cp(c.message));
    }
    EXPECT_EQ(r.d.lastOutcome, c.outcome);
    EXPECT_LE(r.dev->clock().nowUs() - start, 2600 * 1000);
    EXPECT_EQ(r.face.printer->framesReceived() - before, 1);  // never sent twice
    // The next command finds the line clean and the receipt as the fault left it.
    BOOL open = kFalse;
    EXPECT_TRUE(r.d.CupomFiscalAberto(open)) << r.d.strLastError;
    EXPECT_EQ(open != 0, c.ran);
  }
}
