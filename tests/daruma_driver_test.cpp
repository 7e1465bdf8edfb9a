// The FS600 and Mach drivers on the virtual wire (simulated clock) against the
// Daruma virtual printer: the bytes each side puts on the line, a whole sale,
// the printer's refusals, the faults of the line and what becomes of the
// command after each, the register checks and the port settings.
#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "daruma_test_rig.h"
#include "drivers/daruma/CDarumaFS600.h"
#include "drivers/daruma/CDarumaMach2.h"

using namespace darumatest;
using text::cp;

namespace {

using FsRig = Rig<CDarumaFS600, DarumaFS600Printer>;

// A printer that answers every write with the next scripted reply.
struct ScriptRig {
  static constexpr int kPort = 758;
  std::vector<std::string> replies;
  std::shared_ptr<ScriptedPeer> peer;
  std::shared_ptr<VirtualDevice> dev;
  CDarumaFS600 d;
  ScriptRig() {
    peer = std::make_shared<ScriptedPeer>([this](const ByteArray&, VirtualLink& link) {
      if (replies.empty()) return;
      link.send(replies.front());
      replies.erase(replies.begin());
    });
    dev = std::make_shared<VirtualDevice>(peer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    // The set-up the driver reads when the port opens.
    replies = {
        ":\xC8"
        "13922\r",
        ":\xC8"
        "082048\r",
        ":\xC8"
        "1130\r"};
    EXPECT_TRUE(d.OpenComm(0)) << d.strLastError;
    peer->requests.clear();
  }
  ~ScriptRig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

}  // namespace

TEST(DarumaFS600Driver, TheBytesOnTheLineForEachSide) {
  FsRig r(13);
  r.open(false);
  ASSERT_TRUE(r.d.LeituraX()) << r.d.strLastError;
  EXPECT_EQ(r.tap->in, (ByteArray{0x1C, 0x46, 0xEB, 0x30, 0x81, 0x00}));
  EXPECT_EQ(r.tap->out, (ByteArray{':', 'F', 0xEB, '0', '0', '0', '\r'}));
  r.tap->clear();
  std::string coo;
  ASSERT_TRUE(r.d.RetornaNumeroCupom(coo)) << r.d.strLastError;
  EXPECT_EQ(coo, "1");  // the X report was document 1
  EXPECT_EQ(r.tap->in, (ByteArray{0x1C, 0x52, 0xC8, '0', '2', '6'}));
  EXPECT_EQ(str(r.tap->out),
            ":\xC8"
            "026000001\r");
  r.tap->clear();
  // A refusal: no linked receipt is open (084).
  EXPECT_FALSE(r.d.FechaComprovanteVinculado());
  EXPECT_EQ(r.tap->in, (ByteArray{0x1C, 0x46, 0xD6, 0x8C, 0x00}));
  EXPECT_EQ(str(r.tap->out),
            ":F\xD6"
            "084\r");
  EXPECT_EQ(r.d.strLastError, cp("CCD não aberto."));
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::Refused);
  r.tap->clear();
  ASSERT_TRUE(r.d.OpenCashDrawer()) << r.d.strLastError;
  // 1C ^ 4E ^ CE ^ 30 ^ 31 ^ 30 = AD
  EXPECT_EQ(r.tap->in, (ByteArray{0x1C, 0x4E, 0xCE, '0', '1', '0', 0xAD, 0x00}));
  EXPECT_TRUE(r.printer->drawerOpen());
}

TEST(DarumaFS600Driver, AWholeSaleOnTheVirtualPrinter) {
  FsRig r(14);
  r.open();
  EXPECT_EQ(r.d.arTaxes, (std::vector<std::string>{"T18.00", "T12.00", "T07.00", "S05.00"}));
  EXPECT_EQ(r.d.arPaymentTypes, (std::vector<std::string>{"Dinheiro", "Cheque", "Cartao"}));
  EXPECT_EQ(r.d.arReports, (std::vector<std::string>{"GERAL"}));
  EXPECT_EQ(r.d.arNonFiscalTitles, (std::vector<std::string>{"01 - SANGRIA", "02 - SUPRIMENTO"}));
  EXPECT_EQ(r.d.Columns, 48);
  EXPECT_FALSE(r.d.CupomAdicionalAoFecharCF);  // the printer is set up without the extra copy

  r.d.SetCustomerInfo("123.456.789-09", cp("JOSÉ"), "RUA A");
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_EQ(r.core->document().customer, "123.456.789-09");
  EXPECT_EQ(r.core->document().customerName, cp("JOSÉ"));
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_EQ(r.d.strLastError, cp("CF aberto."));
  r.tap->clear();
  // 3 units at 2,50 with 0,50 off each: the whole discount goes in the item.
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", cp("CAFÉ"), "UN", 18.0, 3, 2.5, 0.5)) << r.d.strLastError;
  const std::string item = str(r.tap->in);
  ASSERT_EQ(item.size(), 3u + 48 + 80 + 1 + 2);
  EXPECT_EQ(item.substr(0, 3),
            "\x1C"
            "F\xC9");
  EXPECT_EQ(item.substr(3, 48), "01000030000000250100000000150001             UN ");
  EXPECT_EQ(item.substr(51, 5), cp("CAFÉ ")) << "Windows-1252 as it is";
  EXPECT_EQ(static_cast<uint8_t>(item[131]), 0xFF);
  EXPECT_EQ(item.back(), '\0');
  EXPECT_EQ(r.d.strLastItemLabel, "01T1800");
  const Item& sold = r.core->document().items.at(0);
  EXPECT_EQ(sold.quantity, 3000);
  EXPECT_EQ(sold.unitPrice, 2500);
  EXPECT_EQ(sold.discount, 150);
  EXPECT_EQ(sold.tax, "01");
  // An increase (a negative discount), exempt, then a service at 5 %.
  ASSERT_TRUE(r.d.RegistraItemFiscal("2", "ARROZ", "KG", 0, 1, 10, -1)) << r.d.strLastError;
  EXPECT_EQ(r.core->document().items.at(1).tax, "II");
  EXPECT_EQ(r.core->document().items.at(1).increase, 100);
  EXPECT_EQ(r.d.strLastItemLabel, "I1");
  ASSERT_TRUE(r.d.RegisterService("3", "ENTREGA", "UN", 5, 1, 4, 0)) << r.d.strLastError;
  EXPECT_EQ(r.core->document().items.at(2).tax, "04");
  EXPECT_EQ(r.d.strLastItemLabel, "04S0500");
  // Not in the table, and too wide for the field: refused before the wire.
  r.tap->clear();
  EXPECT_FALSE(r.d.RegistraItemFiscal("4", "LEITE", "UN", 17, 1, 4, 0));
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de ICMS de 17.00% não cadastrada no ECF."));
  EXPECT_FALSE(r.d.RegisterService("4", "FRETE", "UN", 2, 1, 4, 0));
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de ISS de 02.00% não cadastrada no ECF."));
  EXPECT_FALSE(r.d.RegistraItemFiscal("4", "LEITE", "UN", 18, 1, 1000000, 0));
  EXPECT_NE(r.d.strLastError.find(cp("Valor unitário")), std::string::npos) << r.d.strLastError;
  EXPECT_TRUE(r.tap->in.empty());

  ASSERT_TRUE(r.d.CancelaItemFiscal(2, "", 0, 0, 0, 0)) << r.d.strLastError;
  EXPECT_TRUE(r.core->document().items.at(1).cancelled);
  EXPECT_FALSE(r.d.CancelaItemFiscal(2, "", 0, 0, 0, 0));
  EXPECT_EQ(r.d.strLastError, cp("Item cancelado."));
  ASSERT_TRUE(r.d.RegistraDescontoItemApos(3, 0.5)) << r.d.strLastError;
  EXPECT_EQ(r.core->document().items.at(2).discount, 50);
  ASSERT_TRUE(r.d.CancelaDescontoItem(3, kFalse)) << r.d.strLastError;
  EXPECT_EQ(r.core->document().items.at(2).discount, 0);
  EXPECT_EQ(r.d.GetLastItemNumber(), 3);

  r.tap->clear();
  ASSERT_TRUE(r.d.TotalizaCupomFiscalDesconto(0.5, 0)) << r.d.strLastError;
  EXPECT_EQ(str(r.tap->in).substr(3, 13), "1000000000050");
  EXPECT_EQ(r.core->document().subtotalDiscount, 50);
  EXPECT_FALSE(r.d.RegistraPagamento("PIX", 10));
  EXPECT_EQ(r.d.strLastError, cp("Forma de pagamento 'PIX' não está configurada no ECF."));
  r.tap->clear();
  ASSERT_TRUE(r.d.RegistraPagamento("dinheiro", 20)) << r.d.strLastError;
  EXPECT_EQ(str(r.tap->in).substr(3, 15), "01000000002000\xFF");
  BOOL open = kFalse;
  ASSERT_TRUE(r.d.CupomFiscalAberto(open));
  EXPECT_TRUE(open);
  r.tap->clear();
  ASSERT_TRUE(r.d.FechaCupomFiscal(cp("<b>VOLTE</b> SEMPRE, JOSÉ"), 0)) << r.d.strLastError;
  // Markup dropped and accents folded; the check byte is 0x20.
  EXPECT_EQ(str(r.tap->in).substr(3, 21), "0VOLTE SEMPRE, JOSE\xFF ");
  ASSERT_TRUE(r.d.CupomFiscalAberto(open));
  EXPECT_FALSE(open);
  EXPECT_EQ(r.d.GetFiscalReceiptCounter(), 1);
  EXPECT_EQ(r.d.GetOperationCounter(), 1);
  // The grand total grows by the items as sold (7,50 + 11,00 + 4,00); the
  // receipt came to 6,00 + 4,00 - 0,50 and the cash took that.
  EXPECT_DOUBLE_EQ(r.d.GetFinalGrandTotal(), 22.5);
  EXPECT_DOUBLE_EQ(r.d.GetSaleTotal(), r.core->day().gross / 100.0);
  ASSERT_TRUE(r.d.LoadPaymentTypes(kTrue));
  EXPECT_DOUBLE_EQ(r.d.PaymentTypeValue(0), 9.5);
  EXPECT_NE(r.paper->printed().find("VOLTE SEMPRE, JOSE"), std::string::npos);
}

TEST(DarumaFS600Driver, CancellingFollowsTheDocumentTheRegisterNames) {
  FsRig r(13);
  r.open();
  EXPECT_FALSE(r.d.CancelaCupomFiscal());
  EXPECT_EQ(r.d.strLastError, cp("Não existe cupom fiscal ou comprovante não fiscal a ser cancelado."));
  ASSERT_TRUE(r.d.AbreCupomFiscal());
  r.tap->clear();
  ASSERT_TRUE(r.d.CancelaCupomFiscal()) << r.d.strLastError;
  // register 046, then F 211
  const std::string in = str(r.tap->in);
  EXPECT_EQ(in.substr(0, 6),
            "\x1CR\xC8"
            "046");
  EXPECT_EQ(in.substr(6), std::string("\x1C"
                                      "F\xD3\x89\0",
                                      5));
  EXPECT_EQ(r.core->document().kind, DocKind::None);
  EXPECT_EQ(r.core->counters().cfc, 1);

  // A non-fiscal receipt whose item fails is cancelled with F 229.
  r.d.arNonFiscalTitles.push_back("15 - DIVERSOS");
  r.tap->clear();
  EXPECT_FALSE(r.d.ComprovanteNaoFiscalNaoVinculado(15, 5, ""));
  EXPECT_EQ(r.d.strLastError, cp("CNF não programado."));
  EXPECT_NE(str(r.tap->in).find("\x1C"
                                "F\xE5"),
            std::string::npos);
  EXPECT_EQ(r.core->document().kind, DocKind::None);
  EXPECT_EQ(r.d.nStatusComprovante, 1);
}

TEST(DarumaFS600Driver, NonFiscalReceiptsWithdrawalsAndTitles) {
  FsRig r(13);
  r.open();
  r.tap->clear();
  ASSERT_TRUE(r.d.NonFiscalReceipt(12.5, "sangria", "")) << r.d.strLastError;
  EXPECT_EQ(r.tap->in, bytes(std::string("\x1C"
                                         "F\xE3"
                                         "00000001250\xFF"
                                         "p\0",
                                         17)));
  EXPECT_EQ(r.core->titles()[0].dayAmount, 1250);
  EXPECT_FALSE(r.d.NonFiscalReceipt(0, "SANGRIA", ""));
  EXPECT_EQ(r.d.strLastError, cp("O valor deve ser maior que zero."));
  // The default titles take the free slots; the two taken ones are refused.
  EXPECT_FALSE(r.d.ResetNonFiscalTitles());
  EXPECT_EQ(r.d.strLastError, cp("Totalizador não fiscal já programado."));
  ASSERT_TRUE(r.d.LoadNonFiscalTitles());
  ASSERT_EQ(r.d.arNonFiscalTitles.size(), 10u);
  EXPECT_EQ(r.d.arNonFiscalTitles[2], "03 - VALE PRESENTE");
  r.tap->clear();
  ASSERT_TRUE(r.d.NonFiscalReceipt(5, "VALE PRESENTE", "Cheque")) << r.d.strLastError;
  EXPECT_EQ(r.d.nStatusComprovante, 15);
  // open, item, totalise, pay, close
  std::string in = str(r.tap->in);
  for (const char* step : {"\x1C"
                           "F\xDB\xFF\xFF\xFF",
                           "\x1C"
                           "F\xDC"
                           "0300000000500000000000000",
                           "\x1C"
                           "F\xDF"
                           "0000000000000",
                           "\x1C"
                           "F\xD1"
                           "02000000000500\xFF",
                           "\x1C"
                           "F\xE2\xFF"}) {
    const size_t at = in.find(step);
    ASSERT_NE(at, std::string::npos) << step;
    in = in.substr(at + 1);
  }
  EXPECT_EQ(r.core->titles()[2].dayAmount, 500);
  EXPECT_EQ(r.core->payments()[1].dayAmount, 500);
}

TEST(DarumaFS600Driver, ReportsReductionAndSettings) {
  FsRig r(16);
  r.open();
  // Daylight saving changes only on a day without movement.
  // It is turned over only when it differs.
  BOOL dst = kTrue;
  ASSERT_TRUE(r.d.VerificaHorarioVerao(dst));
  EXPECT_FALSE(dst);
  r.tap->clear();
  ASSERT_TRUE(r.d.MudaHorarioVerao(kFalse));
  EXPECT_EQ(r.tap->in.size(), 6u);  // the read only
  ASSERT_TRUE(r.d.MudaHorarioVerao(kTrue)) << r.d.strLastError;
  EXPECT_TRUE(r.core->daylightSaving());

  ASSERT_TRUE(r.d.AbreRelatorioGerencial()) << r.d.strLastError;
  EXPECT_EQ(r.core->document().kind, DocKind::Report);
  ASSERT_TRUE(r.d.FechaRelatorioGerencial()) << r.d.strLastError;
  EXPECT_FALSE(r.d.OpenNamedReport("VENDAS"));
  EXPECT_EQ(r.d.strLastError, cp("Relatório gerencial não cadastrado na impressora."));
  r.d.arReports.clear();
  EXPECT_FALSE(r.d.AbreRelatorioGerencial());
  EXPECT_EQ(r.d.strLastError, cp("A impressora não possui relatórios gerenciais cadastrados."));

  std::string text;
  EXPECT_FALSE(r.d.LeituraXSerial(text));
  EXPECT_EQ(r.d.strLastError, cp("A impressora Daruma não aceita Leitura X pela interface serial."));
  EXPECT_FALSE(r.d.AdicionaFormaPagamento("PIX"));
  EXPECT_EQ(r.d.strLastError, cp("Utilize a função \"RedefineFormasPagamento\"."));

  ASSERT_TRUE(r.d.SetPAFECFIdentification("PAF X", "MD5 123"));
  EXPECT_EQ(r.core->identity().appLine1, "PAF X");
  std::string l1, l2;
  ASSERT_TRUE(r.d.GetPAFECFIdentification(l1, l2));
  EXPECT_EQ(l2, "MD5 123");
  ASSERT_TRUE(r.d.ResetPAFECFIdentification());
  EXPECT_EQ(r.core->identity().appLine1, "");

  EXPECT_EQ(r.d.GetEquipamentMark(), "DARUMA");
  EXPECT_EQ(r.d.GetEquipamentModel(), "FS700 M");
  EXPECT_EQ(r.d.GetEquipamentType(), "ECF-IF");
  std::string serial;
  ASSERT_TRUE(r.d.ReadSerialNumber(serial));
  EXPECT_EQ(serial, r.core->identity().serial);
  EXPECT_EQ(r.d.GetPrinterID(), 1);
  std::string iss;
  ASSERT_TRUE(r.d.DiscountISSQN(iss));
  EXPECT_EQ(iss, "N");
  DateTime now;
  ASSERT_TRUE(r.d.ReadDateTime(now));
  DateParts p;
  ASSERT_TRUE(now.parts(p));
  EXPECT_EQ(p.hour, 10);  // the hour moved forward with daylight saving

  // A sale, then the Z with the host's date and a read of the fiscal memory.
  ASSERT_TRUE(r.d.AbreCupomFiscal());
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "PAO", "UN", 7, 2, 1.25, 0));
  ASSERT_TRUE(r.d.RegistraPagamento("Dinheiro", 5));
  ASSERT_TRUE(r.d.FechaCupomFiscal("", 0));
  r.tap->clear();
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 23, 10, 5))) << r.d.strLastError;
  EXPECT_EQ(str(r.tap->in).substr(3, 12), "041226231005");
  EXPECT_EQ(r.d.GetZReportCounter(), 1);
  DateParts z;
  ASSERT_TRUE(r.d.GetDataMovUltimaRZ().parts(z));
  EXPECT_EQ(z.day * 10000 + z.month * 100 + z.year % 100, 41226);
  r.tap->clear();
  ASSERT_TRUE(r.d.LeituraMFReducao(1, 1, kTrue)) << r.d.strLastError;
  EXPECT_EQ(str(r.tap->in).substr(3, 13), "2000001000001");
  ASSERT_TRUE(r.d.LeituraMemoriaFiscal(DateTime::fromParts(2026, 12, 1), DateTime::fromParts(2026, 12, 31), kFalse))
      << r.d.strLastError;
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_EQ(r.d.strLastError, cp("Já emitiu RZ de hoje."));
}

// Each fault of the line, and what the host is told became of the command.
TEST(DarumaFS600Driver, TheLineFaultsAndTheOutcomeOfTheCommand) {
  struct Case {
    const char* faults;
    bool ok;
    const char* message;
    exchange::Outcome outcome;
    int64_t maxMs;  // simulated time the command may take
  } cases[] = {
      {"nak,once", false, "ECF OFF LINE.", exchange::Outcome::Refused, 100},
      {"garbage,once", false, "Erro indefinido.", exchange::Outcome::MayHaveRun, 1000},
      {"short,once", false, "Erro indefinido.", exchange::Outcome::MayHaveRun, 1000},
      {"noanswer,once", false, "Timeout aguardando resposta da impressora.", exchange::Outcome::MayHaveRun, 21000},
      {"slow=300,once", true, "", exchange::Outcome::Done, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    FsRig r(13);
    r.open(false);
    ASSERT_TRUE(r.printer->setFaults(c.faults));
    const int before = r.printer->framesReceived();
    const int64_t t0 = r.nowMs();
    EXPECT_EQ(r.d.AbreCupomFiscal(), c.ok ? 1 : 0);
    EXPECT_LE(r.nowMs() - t0, c.maxMs);
    EXPECT_EQ(r.d.strLastError, cp(c.message));
    EXPECT_EQ(r.d.lastOutcome, c.outcome);
    // Written once, whatever came back.
    EXPECT_EQ(r.printer->framesReceived() - before, 1);
    // The next command finds the line clean and the receipt as the printer left it.
    BOOL open = kFalse;
    ASSERT_TRUE(r.d.CupomFiscalAberto(open)) << r.d.strLastError;
    EXPECT_EQ(open != 0, r.core->receiptOpen());
  }
}

TEST(DarumaFS600Driver, NoiseBeforeTheColonIsDropped) {
  FsRig r(13);
  r.open(false);
  r.printer->setNoise(7);
  std::string coo;
  ASSERT_TRUE(r.d.RetornaNumeroCupom(coo)) << r.d.strLastError;
  EXPECT_EQ(coo, "0");
  ASSERT_EQ(r.tap->out.size(), 7u + 12);
  EXPECT_EQ(r.tap->out[7], ':');
  EXPECT_TRUE(r.d.LeituraX()) << r.d.strLastError;
  ASSERT_TRUE(r.d.LoadTaxes());
  EXPECT_EQ(r.d.arTaxes.size(), 4u);
}

TEST(DarumaFS600Driver, ARegisterReplyMustNameTheRegisterAsked) {
  ScriptRig s;
  s.replies = {
      ":\xC8"
      "027000017\r",
      ":\xC9"
      "026000017\r",
      ":R\xC8"
      "040\r",
      "\x11\x13:\xC8"
      "026000017\r",
      "no reply at all"};
  std::string coo = "x";
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(s.d.RetornaNumeroCupom(coo)) << i;
    EXPECT_EQ(s.d.strLastError, cp("Erro ao consultar informações do ECF.")) << i;
    EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::Refused) << i;
  }
  ASSERT_TRUE(s.d.RetornaNumeroCupom(coo)) << s.d.strLastError;
  EXPECT_EQ(coo, "17");
  EXPECT_FALSE(s.d.RetornaNumeroCupom(coo));
  EXPECT_EQ(s.d.strLastError, cp("Erro ao consultar informações do ECF."));
  EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::MayHaveRun);
  // A command reply whose code the table does not hold.
  s.replies = {
      ":F\xEB"
      "167\r"};
  EXPECT_FALSE(s.d.LeituraX());
  EXPECT_EQ(s.d.strLastError, cp("Erro indefinido."));
  EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::Refused);
}

TEST(DarumaFS600Driver, TheLineChecksBeforeEveryCommand) {
  ScriptRig s;
  struct Case {
    bool cts, dsr;
    const char* command;  // what the command says
    const char* probe;    // what the online probe says
  } cases[] = {
      {true, false,
       "Erro de comunicação. Verifique se a impressora está ligada, se cabo está conectado corretamente, se a "
       "impressora tem papel ou se a tampa está aberta.",
       "Erro de comunicação. Verifique se a impressora está ligada e o cabo está conectado corretamente."},
      {true, true, "Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador.",
       "Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador."},
  };
  for (const Case& c : cases) {
    VirtualLink(*s.dev).setHolds(c.cts, c.dsr);
    EXPECT_FALSE(s.d.LeituraX());
    EXPECT_EQ(s.d.strLastError, cp(c.command));
    EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::NotWritten);
    EXPECT_FALSE(s.d.ECFOnline());
    EXPECT_EQ(s.d.strLastError, cp(c.probe));
  }
  EXPECT_TRUE(s.peer->requests.empty());
  VirtualLink(*s.dev).setHolds(false, false);
  s.replies = {
      ":\x1D\x06"
      "000\r"};
  EXPECT_TRUE(s.d.ECFOnline());
  ASSERT_EQ(s.peer->requests.size(), 1u);
  EXPECT_EQ(s.peer->requests[0], (ByteArray{0x1D, 0x06}));
}

TEST(DarumaFS600Driver, TheTwoClassesDifferOnlyInTheirSerialLine) {
  struct Case {
    int model;
    const char* cls;
    uint8_t flow;
  } cases[] = {{13, "CDarumaFS600", 1}, {18, "CDarumaMach2", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cls);
    std::unique_ptr<CDarumaFS600> d;
    if (c.flow)
      d = std::make_unique<CDarumaFS600>();
    else
      d = std::make_unique<CDarumaMach2>();
    EXPECT_STREQ(d->ClassName(), c.cls);
    auto dev = makeVirtualDevice(std::make_shared<DarumaFS600Printer>(
        std::make_shared<FiscalCore>(), caps::fiscalModel(c.model)->name, Hardware{48, false}));
    ports::attachVirtual(759, dev);
    testsupport::usePort(*d, 759);
    ASSERT_TRUE(d->OpenComm(1)) << d->strLastError;
    const PortSettings& s = dev->settings();
    EXPECT_EQ(s.fOutxCtsFlow, c.flow);
    EXPECT_EQ(s.fOutxDsrFlow, c.flow);
    EXPECT_EQ(s.fDsrSensitivity, c.flow);
    EXPECT_EQ(s.fTXContinueOnXoff, c.flow);
    EXPECT_EQ(s.fDtrControl, kDtrHandshake);
    EXPECT_EQ(s.fRtsControl, kRtsHandshake);
    EXPECT_EQ(d->arTaxes.size(), 4u);
    d->CloseComm();
    ports::detachVirtual(759);
  }
}
