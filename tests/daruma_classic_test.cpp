// The classic Daruma driver (FS-345) on the virtual wire (simulated clock): the
// bytes each side puts on the line with the release after every reply, a
// whole sale against the virtual printer, the ":Edd" refusals, and a printer
// that never answers the release.
#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "daruma_test_rig.h"
#include "drivers/daruma/CDaruma.h"

using namespace darumatest;
using text::cp;

namespace {

using ClassicRig = Rig<CDaruma, DarumaClassicPrinter>;

// Answers every write with the next scripted reply; an empty one is silence.
struct ScriptRig {
  static constexpr int kPort = 768;
  std::vector<std::string> replies;
  std::shared_ptr<ScriptedPeer> peer;
  std::shared_ptr<VirtualDevice> dev;
  CDaruma d;
  ScriptRig() {
    peer = std::make_shared<ScriptedPeer>([this](const ByteArray&, VirtualLink& link) {
      if (replies.empty()) return;
      if (!replies.front().empty()) link.send(replies.front());
      replies.erase(replies.begin());
    });
    dev = std::make_shared<VirtualDevice>(peer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    EXPECT_TRUE(d.OpenComm(0)) << d.strLastError;
  }
  ~ScriptRig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

const std::string kReceiptRead = ":000001000000000000000000000000000000\r";

}  // namespace

TEST(DarumaClassicDriver, TheBytesOnTheLineAndTheReleaseAfterEachReply) {
  ClassicRig r(11);
  r.open(false);
  ASSERT_TRUE(r.d.LeituraX()) << r.d.strLastError;
  // The X report, then ESC 239, the release; its answer is the receipt read.
  EXPECT_EQ(r.tap->in, (ByteArray{0x1B, 0xCF, 0x1B, 0xEF}));
  // COO 1, no receipt open, grand total 0, CCF 0, GNF 1 (the X report).
  EXPECT_EQ(str(r.tap->out),
            ":\r"
            ":000001"
            "0"
            "000000000000000000"
            "000000"
            "000001\r");
  r.tap->clear();
  // ":E11": no document open.
  EXPECT_FALSE(r.d.FechaComprovanteVinculado());
  EXPECT_EQ(r.tap->in, (ByteArray{0x1B, 0xD4, 0x1B, 0xEF}));
  EXPECT_EQ(str(r.tap->out).substr(0, 5), ":E11\r");
  EXPECT_EQ(r.d.strLastError, cp("Documento não foi aberto."));
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::Refused);
  r.tap->clear();
  ASSERT_TRUE(r.d.OpenCashDrawer());
  EXPECT_EQ(r.tap->in, (ByteArray{0x1B, 'p', '0', '0', '0', 0x1B, 0xEF}));
  EXPECT_TRUE(r.printer->drawerOpen());
}

TEST(DarumaClassicDriver, AWholeSaleOnTheVirtualPrinter) {
  ClassicRig r(11);
  r.open();
  EXPECT_EQ(r.d.arTaxes, (std::vector<std::string>{"T18.00", "T12.00", "T07.00", "S05.00"}));
  EXPECT_EQ(r.d.arPaymentTypes, (std::vector<std::string>{"Dinheiro", "Cheque", "Cartao"}));
  EXPECT_EQ(r.d.arNonFiscalTitles, (std::vector<std::string>{"01 - SANGRIA", "02 - SUPRIMENTO"}));
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_EQ(r.d.strLastError, cp("Documento sendo emitido."));
  r.tap->clear();
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "CAFE", "UN", 18, 3, 2.5, 0.5)) << r.d.strLastError;
  const std::string in = str(r.tap->in);
  ASSERT_EQ(in.size(), 2u + 76 + 2);
  EXPECT_EQ(in.substr(0, 2), "\x1B\xF7");
  EXPECT_EQ(in.substr(2, 76), "T01            20000001500000002500000030003UNCAFE                          ");
  EXPECT_EQ(in.substr(78), "\x1B\xEF");
  const Item& sold = r.core->document().items.at(0);
  EXPECT_EQ(sold.quantity, 3000);
  EXPECT_EQ(sold.unitPrice, 2500);
  EXPECT_EQ(sold.discount, 150);
  EXPECT_EQ(sold.tax, "01");
  ASSERT_TRUE(r.d.RegistraItemFiscal("2", "SAL", "KG", -1, 1, 3, 0)) << r.d.strLastError;
  EXPECT_EQ(r.core->document().items.at(1).tax, "FF");
  EXPECT_FALSE(r.d.RegistraItemFiscal("3", "LEITE", "UN", 17, 1, 4, 0));
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de 17.00% não cadastrada na impressora."));
  ASSERT_TRUE(r.d.CancelaItemFiscal(2, "", 0, 0, 0, 0));
  EXPECT_FALSE(r.d.CancelaItemFiscal(7, "", 0, 0, 0, 0));
  EXPECT_EQ(r.d.strLastError, cp("Item a cancelar não foi encontrado."));
  ASSERT_TRUE(r.d.TotalizaCupomFiscalAcrescimo(1.259, 0)) << r.d.strLastError;
  EXPECT_EQ(r.core->document().subtotalIncrease, 125);  // cents cut, never rounded up
  EXPECT_FALSE(r.d.RegistraPagamento("Vale", 1));
  EXPECT_EQ(r.d.strLastError, cp("Forma de pagamento não cadastrada na impressora."));
  ASSERT_TRUE(r.d.RegistraPagamento("Cheque", 10)) << r.d.strLastError;
  BOOL open = kFalse;
  ASSERT_TRUE(r.d.CupomFiscalAberto(open));
  EXPECT_TRUE(open);
  ASSERT_TRUE(r.d.FechaCupomFiscal("OBRIGADO", 0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.CupomFiscalAberto(open));
  EXPECT_FALSE(open);
  std::string coo;
  ASSERT_TRUE(r.d.RetornaNumeroCupom(coo));
  EXPECT_EQ(coo, "1");
  ASSERT_TRUE(r.d.ReadFiscalInformation()) << r.d.strLastError;
  EXPECT_EQ(r.d.intFinalOperation, 1);
  EXPECT_DOUBLE_EQ(r.d.nSaleTotal, r.core->day().gross / 100.0);
  EXPECT_EQ(r.d.strSerialNumber, r.core->identity().serial.substr(12));
  EXPECT_DOUBLE_EQ(r.d.PaymentTypeValue(1), 7.25);  // 7,50 - 1,50 + 1,25
  EXPECT_NE(r.paper->printed().find("OBRIGADO"), std::string::npos);

  // Other documents.
  ASSERT_TRUE(r.d.NonFiscalReceipt(3, "SUPRIMENTO", "")) << r.d.strLastError;
  EXPECT_EQ(r.core->titles()[1].dayAmount, 300);
  ASSERT_TRUE(r.d.AbreRelatorioGerencial()) << r.d.strLastError;
  r.tap->clear();
  ASSERT_TRUE(r.d.ImprimeRelatorioGerencial("LINHA UM\nLINHA DOIS")) << r.d.strLastError;
  EXPECT_EQ(str(r.tap->in), "\x1B\xD5LINHA UM\n\x1B\xEF\x1B\xD5LINHA DOIS\n\x1B\xEF");
  ASSERT_TRUE(r.d.FechaRelatorioGerencial()) << r.d.strLastError;
  EXPECT_NE(r.paper->printed().find("LINHA DOIS"), std::string::npos);
  ASSERT_TRUE(r.d.AdicionaTotalizadorNaoFiscal("DIVERSOS")) << r.d.strLastError;
  ASSERT_TRUE(r.d.LoadNonFiscalTitles());
  EXPECT_FALSE(r.d.AdicionaTotalizadorNaoFiscal("diversos"));
  EXPECT_EQ(r.d.strLastError, cp("Totalizador já cadastrado na impressora."));
  EXPECT_FALSE(r.d.AdicionaAliquotaTributaria(18, 0));
  EXPECT_EQ(r.d.strLastError, cp("Alíquota já cadastrada na impressora."));
  // The day has movement: the printer keeps its tax table.
  EXPECT_FALSE(r.d.AdicionaAliquotaTributaria(25, 0));
  EXPECT_EQ(r.d.strLastError, cp("IF em Jornada Fiscal. Alteração da configuração não é permitida."));
  std::string text;
  EXPECT_FALSE(r.d.LeituraXSerial(text));
  EXPECT_EQ(r.d.strLastError, cp("A impressora Daruma não aceita Leitura X pela interface serial."));
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 22, 0, 0))) << r.d.strLastError;
  ASSERT_TRUE(r.d.LeituraMFSerialReducao(1, 1, text, kFalse)) << r.d.strLastError;
  EXPECT_NE(text.find(CDaruma::kUserHeader), std::string::npos);
  EXPECT_EQ(r.d.GetUserNumber(), 1);
  DateParts p;
  ASSERT_TRUE(r.d.GetUserDateTime().parts(p));
  EXPECT_EQ(p.year * 10000 + p.month * 100 + p.day, 20261204);
  EXPECT_EQ(r.d.GetZReportCounter(), 1);
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_EQ(r.d.strLastError, cp("Cupom de Redução Z já foi emitido. IF inoperante até 0:00h do próximo dia."));
}

TEST(DarumaClassicDriver, RepliesAsTheyAreRead) {
  ScriptRig s;
  struct Case {
    const char* reply;
    bool ok;
    const char* message;
    exchange::Outcome outcome;
  } cases[] = {
      {":E50\r", false, "Sem papel.", exchange::Outcome::Refused},
      {":E52\r", false, "", exchange::Outcome::Refused},  // no message of its own
      {"\x11\x13:E17\r", false, "\"Estouro\" de capacidade numérica (overflow).", exchange::Outcome::Refused},
      {":\r", true, "", exchange::Outcome::Done},
      {":E5X\r", true, "", exchange::Outcome::Done},  // not ":E" and two digits: success
      {":OK\r", true, "", exchange::Outcome::Done},
      {"E50\r", false, "Resposta inválida da impressora.", exchange::Outcome::MayHaveRun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    s.replies = {c.reply, kReceiptRead};
    s.peer->requests.clear();
    EXPECT_EQ(s.d.LeituraX(), c.ok ? 1 : 0);
    EXPECT_EQ(s.d.strLastError, cp(c.message));
    EXPECT_EQ(s.d.lastOutcome, c.outcome);
    ASSERT_GE(s.peer->requests.size(), 1u);
    EXPECT_EQ(s.peer->requests[0], (ByteArray{0x1B, 0xCF}));
    // Whatever came back, the printer is released.
    ASSERT_EQ(s.peer->requests.size(), 2u);
    EXPECT_EQ(s.peer->requests[1], (ByteArray{0x1B, 0xEF}));
    s.replies.clear();
  }
}

TEST(DarumaClassicDriver, APrinterThatNeverAnswersTheReleaseFailsInTime) {
  ScriptRig s;
  s.replies = {":\r", ""};  // the X report is answered, its release is not
  const int64_t t0 = s.dev->clock().nowUs();
  EXPECT_FALSE(s.d.LeituraX());
  const int64_t tookMs = (s.dev->clock().nowUs() - t0) / 1000;
  EXPECT_GE(tookMs, static_cast<int64_t>(CDaruma::kReleaseMs));
  EXPECT_LT(tookMs, static_cast<int64_t>(CDaruma::kReleaseMs) + 1000);
  EXPECT_EQ(s.d.strLastError, "Timeout aguardando resposta da impressora.");
  // It ran: the host must neither take it for done nor send it again.
  EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::MayHaveRun);
  ASSERT_EQ(s.peer->requests.size(), 2u);
  EXPECT_EQ(s.peer->requests[1], (ByteArray{0x1B, 0xEF}));
  // A refusal keeps its own message when the release goes unanswered too.
  s.replies = {":E50\r", ""};
  EXPECT_FALSE(s.d.LeituraX());
  EXPECT_EQ(s.d.strLastError, cp("Sem papel."));
  EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::Refused);
}

TEST(DarumaClassicDriver, TheOnlineProbeAndTheLineFaults) {
  struct Case {
    const char* faults;
    bool ok;
    const char* message;
    exchange::Outcome outcome;
  } cases[] = {
      {"nak,once", false, "Erro na comunicação.", exchange::Outcome::Refused},
      {"garbage,once", false, "Resposta inválida da impressora.", exchange::Outcome::MayHaveRun},
      {"noanswer,once", false, "Timeout aguardando resposta da impressora.", exchange::Outcome::MayHaveRun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    ClassicRig r(11);
    r.open(false);
    r.tap->clear();
    ASSERT_TRUE(r.d.ECFOnline());
    EXPECT_EQ(r.tap->in, (ByteArray{0x1B, 0xEC}));
    ASSERT_TRUE(r.printer->setFaults(c.faults));
    const int before = r.printer->framesReceived();
    EXPECT_EQ(r.d.AbreCupomFiscal(), c.ok ? 1 : 0);
    EXPECT_EQ(r.d.strLastError, cp(c.message));
    EXPECT_EQ(r.d.lastOutcome, c.outcome);
    // The command went once (a release after it only when a reply came).
    EXPECT_LE(r.printer->framesReceived() - before, 2);
    BOOL open = kFalse;
    ASSERT_TRUE(r.d.CupomFiscalAberto(open)) << r.d.strLastError;
    EXPECT_EQ(open != 0, r.core->receiptOpen());
  }
}
