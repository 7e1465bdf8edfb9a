// The virtual printer of the 2009 command set: literal packets in and the
// bytes it answers, and the library's own drivers (models 54, 55 and 56)
// selling against it on the virtual wire with the bytes of both sides kept.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "core/capabilities.h"
#include "core/text.h"
#include "cv2009_frames.h"
#include "driver_port.h"
#include "drivers/cv2009/CDarumaFS800i.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "drivers/cv2009/CECFCV2009V2.h"
#include "emulator/cv2009/printer.h"
#include "emulator/paper.h"
#include "emulator/registry.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;
using text::cp;

namespace {

struct Sink final : ReplySink {
  void send(const ByteArray& bytes, uint32_t) override { got.insert(got.end(), bytes.begin(), bytes.end()); }
  int64_t nowUs() override { return now; }
  void hangUp() override { cut = true; }
  ByteArray take() {
    ByteArray g;
    g.swap(got);
    return g;
  }
  ByteArray got;
  int64_t now = 1'000'000;
  bool cut = false;
};

struct PrinterRig {
  int64_t hostNow = toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<Cv2009Printer> printer;
  Sink sink;

  explicit PrinterRig(int model = 54) {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [this] { return hostNow; }});
    core->setPaper(std::make_shared<Paper>(48));
    Cv2009Model m;
    EXPECT_TRUE(Cv2009Model::byNumber(model, m));
    printer = std::make_shared<Cv2009Printer>(core, m);
  }
  ByteArray send(const ByteArray& b) {
    printer->receive(b.data(), b.size(), sink);
    return sink.take();
  }
};

ByteArray command(uint8_t seq, uint16_t code, const std::string& params) {
  return cv2009test::hostFrame(seq, code, params);
}

const ByteArray kAck{0x06};
const ByteArray kEnq0{0x05, 0x00};

}  // namespace

TEST(EmulatedCv2009, LiteralPacketsAndTheirAnswers) {
  PrinterRig r;
  EXPECT_EQ(r.send({0x16}), (ByteArray{0x16, 0x00}));
  // 0x001A "1|1|": read the COO.
  const ByteArray readCoo{0x01, 0x01, 0x1A, 0x00, 0x04, 0x00, 0x31, 0x7C, 0x31, 0x7C, 0x79};
  EXPECT_EQ(r.send(readCoo), kAck);
  EXPECT_EQ(r.send(kEnq0),
            (ByteArray{0x01, 0x01, 0x1A, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x30, 0x7C, 0xCA}));
  EXPECT_EQ(r.send({0x16}), (ByteArray{0x16, 0x01}));
  // The same check byte off by one: refused as a checksum error.
  ByteArray bad = readCoo;
  bad.back() = 0x7A;
  EXPECT_EQ(r.send(bad), (ByteArray{0x15, 0x0F, 0x02, 0, 0, 0}));
  // A command this printer does not have.
  EXPECT_EQ(r.send(command(2, 0x0099, "")), (ByteArray{0x15, 0x01, 0x00, 0, 0, 0}));
  // A packet may arrive in pieces.
  const ByteArray open = command(3, 0x0001, "|||");
  EXPECT_TRUE(r.send(ByteArray(open.begin(), open.begin() + 4)).empty());
  EXPECT_EQ(r.send(ByteArray(open.begin() + 4, open.end())), kAck);
  EXPECT_TRUE(r.core->receiptOpen());
  // The same frame again is not a second receipt: it ran once.
  EXPECT_EQ(r.send(open), kAck);
  EXPECT_EQ(r.core->counters().coo, 1);
  // A new frame opening again is refused with class 5 code 1.
  EXPECT_EQ(r.send(command(4, 0x0001, "|||")), (ByteArray{0x15, 0x05, 0x01, 0, 0, 0}));
}

TEST(EmulatedCv2009, WrongStatesAnswerTheFamilysClassesAndCodes) {
  const struct {
    FiscalError e;
    uint8_t cls, code;
  } cases[] = {
      {FiscalError::ReceiptAlreadyOpen, 5, 1}, {FiscalError::NoReceiptOpen, 5, 6},
      {FiscalError::PaperOut, 12, 0},          {FiscalError::ZPending, 8, 0},
      {FiscalError::LinkedNotAllowed, 7, 6},   {FiscalError::CancelNotAllowed, 16, 0},
      {FiscalError::InvalidRange, 2, 6},       {FiscalError::MemoryWrite, 9, 14},
  };
  PrinterRig r;
  for (const auto& c : cases) {
    const Cv2009Printer::Status s = r.printer->statusOf(c.e);
    EXPECT_EQ(s.statusClass, c.cls) << errorName(c.e);
    EXPECT_EQ(s.code, c.code) << errorName(c.e);
  }
  // An item without a receipt, on the wire.
  EXPECT_EQ(r.send(command(1, 0x0002, "1|X|T01|UN|1|0|100|2|A|")), (ByteArray{0x15, 0x05, 0x06, 0, 0, 0}));
}

TEST(EmulatedCv2009, ReportsKeepThePrinterBusyAndLongReadsComeInBlocks) {
  PrinterRig r;
  EXPECT_EQ(r.send(command(1, 0x0014, "0|")), kAck);
  EXPECT_EQ(r.send(kEnq0), (ByteArray{0x11, 0, 0, 0, 0, 0}));
  r.sink.now += Cv2009Printer::kReportPrintMs * 1000;
  EXPECT_EQ(r.send(kEnq0)[0], 0x01);
  // Enough Z reductions for a fiscal memory text longer than a block.
  for (int day = 0; day < 40; ++day) {
    ASSERT_EQ(r.core->zReduction(), FiscalError::Ok);
    r.hostNow += 86400;
  }
  EXPECT_EQ(r.send(command(2, 0x0016, "R|||1|40|")), kAck);
  std::string text;
  for (uint8_t block = 0;; ++block) {
    const ByteArray b = r.send({0x05, block});
    ASSERT_GE(b.size(), 12u);
    ASSERT_EQ(b[0], 0x01);
    EXPECT_EQ(b[7], block);
    const size_t n = b[9] | (b[10] << 8);
    ASSERT_EQ(b.size(), 12 + n);
    text.append(b.begin() + 11, b.begin() + 11 + static_cast<long>(n) - 1);
    if (b[5] & 1) break;
    ASSERT_LT(block, 50);
  }
  EXPECT_GT(text.size(), emulator::cv2009::kBlockData);
  EXPECT_NE(text.find("CRZ 0040"), std::string::npos);
}

TEST(EmulatedCv2009, TheRegistryListsTheFamilysThreeModels) {
  for (int n : {54, 55, 56}) {
    const VirtualModel* m = findVirtualModel(n);
    ASSERT_NE(m, nullptr) << n;
    EXPECT_EQ(m->name, caps::fiscalModel(n)->name);
    auto core = std::make_shared<FiscalCore>();
    EXPECT_NE(m->make(n, core), nullptr);
  }
}

namespace {

template <class Driver>
struct DriverRig {
  static constexpr int kPort = 762;
  PrinterRig p;
  std::shared_ptr<VirtualDevice> dev;
  Driver d;

  DriverRig(int model, int maker) : p(model), d(maker) {
    dev = makeVirtualDevice(p.printer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
  }
  ~DriverRig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

template <class Driver>
void sellAndCloseTheDay(int model, int maker) {
  DriverRig<Driver> r(model, maker);
  ASSERT_TRUE(r.d.OpenComm(kTrue)) << r.d.strLastError;
  ASSERT_EQ(r.d.arTaxes.size(), 4u);
  EXPECT_EQ(r.d.arTaxes[0], "T011800");
  EXPECT_EQ(r.d.arTaxes[3], "S040500");
  ASSERT_EQ(r.d.arPaymentTypes.size(), 3u);

  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_EQ(r.d.strLastError, cp("Comando enviado não pode ser executado, pois existe um Cupom Fiscal aberto."));
  BOOL open = kFalse;
  ASSERT_TRUE(r.d.CupomFiscalAberto(open));
  EXPECT_TRUE(open);
  ASSERT_TRUE(r.d.RegistraItemFiscal("789", "CAFE 500G", "UN", 18.0, 2.0, 12.5, 0.0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.RegisterService("S1", "ENTREGA", "UN", 5.0, 1.0, 7.0, 0.0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.TotalizaCupomFiscalDesconto(2.0, 0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.RegistraPagamento("Cartao", 10.0)) << r.d.strLastError;
  EXPECT_FALSE(r.d.RegistraPagamento("Vale", 1.0));
  ASSERT_TRUE(r.d.RegistraPagamento("Dinheiro", 50.0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.FechaCupomFiscal("OBRIGADO", 0)) << r.d.strLastError;
  EXPECT_FALSE(r.p.core->receiptOpen());
  EXPECT_EQ(r.p.core->lastReceipt().total, 2500 + 700 - 200);
  EXPECT_EQ(r.p.core->day().perTax.at("01"), 2500);
  EXPECT_EQ(r.p.core->day().perTax.at("04"), 700);
  ASSERT_EQ(r.d.arPagamentosCupom.size(), 2u);

  ASSERT_TRUE(r.d.AbreComprovanteVinculado("Cartao", 10.0, "")) << r.d.strLastError;
  ASSERT_TRUE(r.d.EnviaTextoComprovanteVinculado("VIA DO CLIENTE\n")) << r.d.strLastError;
  ASSERT_TRUE(r.d.FechaComprovanteVinculado()) << r.d.strLastError;
  EXPECT_FALSE(r.d.AbreComprovanteVinculado("Cartao", 10.0, ""));

  // The grand total counts the items before the discount, as the gross sale does.
  EXPECT_NEAR(r.d.GetUserGrandTotal(), 32.00, 1e-9);
  EXPECT_NEAR(r.d.GetSaleTotal(), 32.00, 1e-9);
  EXPECT_NEAR(r.d.GetDiscountTotal(), 2.00, 1e-9);
  EXPECT_EQ(r.d.GetFiscalReceiptCounter(), 1);

  ASSERT_TRUE(r.d.NonFiscalReceipt(20.0, "SUPRIMENTO", "")) << r.d.strLastError;
  std::string x;
  ASSERT_TRUE(r.d.LeituraXSerial(x)) << r.d.strLastError;
  EXPECT_NE(x.find("COO"), std::string::npos);
  ASSERT_TRUE(r.d.LeituraX()) << r.d.strLastError;
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::invalid())) << r.d.strLastError;
  EXPECT_EQ(r.d.GetZReportCounter(), 1);
  EXPECT_EQ(r.p.core->fiscalMemory().size(), 1u);
}

}  // namespace

TEST(EmulatedCv2009, Model54SellsAndClosesTheDay) {
  sellAndCloseTheDay<CECFCV2009>(54, 1);
}
TEST(EmulatedCv2009, Model55SellsAndClosesTheDay) {
  sellAndCloseTheDay<CECFCV2009V2>(55, 2);
}
TEST(EmulatedCv2009, Model56SellsAndClosesTheDay) {
  sellAndCloseTheDay<CDarumaFS800i>(56, 3);
}

TEST(EmulatedCv2009, FaultsOnTheLineFailTheCommandWithoutRunningIt) {
  DriverRig<CECFCV2009> r(54, 1);
  ASSERT_TRUE(r.d.OpenComm(kTrue)) << r.d.strLastError;
  ASSERT_TRUE(r.p.printer->setFaults("noanswer,once"));
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_EQ(r.d.strLastError, "Timeout aguardando resposta da impressora.");
  EXPECT_FALSE(r.p.core->receiptOpen());
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_EQ(r.p.core->counters().coo, 1);
  ASSERT_TRUE(r.p.printer->setFaults("nak,once"));
  EXPECT_FALSE(r.d.RegistraItemFiscal("1", "X", "UN", 18.0, 1.0, 1.0, 0.0));
  EXPECT_EQ(r.d.strLastError, cp("Checksum inválido no comando recebido pelo ECF."));
  EXPECT_TRUE(r.p.core->document().items.empty());
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "X", "UN", 18.0, 1.0, 1.0, 0.0)) << r.d.strLastError;
  EXPECT_EQ(r.p.core->document().items.size(), 1u);
}

TEST(EmulatedCv2009, TablesGrowThroughTheDriver) {
  DriverRig<CECFCV2009> r(54, 1);
  ASSERT_TRUE(r.d.AdicionaAliquotaTributaria(3.5, 1)) << r.d.strLastError;
  ASSERT_TRUE(r.d.AdicionaAliquotaTributaria(25, 0)) << r.d.strLastError;
  ASSERT_EQ(r.p.core->taxes().size(), 6u);
  // The command carries the index in decimal and no kind: the printer files
  // every rate it is given this way as ICMS.
  EXPECT_EQ(r.p.core->taxes()[4].kind, 'T');
  EXPECT_EQ(r.p.core->taxes()[4].rate, 350);
  EXPECT_EQ(r.p.core->taxes()[5].kind, 'T');
  EXPECT_EQ(r.p.core->taxes()[5].rate, 2500);
  ASSERT_TRUE(r.d.AdicionaFormaPagamento("PIX")) << r.d.strLastError;
  EXPECT_EQ(r.p.core->payments().back().name, "PIX");
  EXPECT_FALSE(r.d.AdicionaFormaPagamento("PIX"));
  EXPECT_EQ(r.d.strLastError, cp("Índice de Meio de pagamento já existente"));
  ASSERT_TRUE(r.d.ResetNonFiscalTitles()) << r.d.strLastError;
  EXPECT_EQ(r.p.core->titles().size(), 7u);
  ASSERT_TRUE(r.d.ResetNonFiscalTitles()) << r.d.strLastError;
  EXPECT_EQ(r.p.core->titles().size(), 7u);
  std::string rates;
  ASSERT_TRUE(r.d.RetornaAliquotas(rates)) << r.d.strLastError;
  EXPECT_EQ(rates, "T18.00;T12.00;T07.00;S05.00;T03.50;T25.00");
}

TEST(EmulatedCv2009, TheV2DriverSendsCodePage850AndQuantitiesInHundredths) {
  DriverRig<CECFCV2009V2> r(55, 2);
  ASSERT_TRUE(r.d.OpenComm(kTrue)) << r.d.strLastError;
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_TRUE(r.d.dtLastDocument.valid());
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "X", "UN", 18.0, 3.0, 1.0, 0.0)) << r.d.strLastError;
  EXPECT_EQ(r.p.core->document().items.back().quantity, 3000);
  EXPECT_EQ(CECFCV2009V2::ToPrinterCodePage(cp("AÇÃO Ñ")), std::string("\x41\x80\xC7\x4F N"));
  EXPECT_TRUE(r.d.IsCashDrawerClosed());
}

TEST(EmulatedCv2009, ReadsThatWriteTheHostsFileReplaceItWhole) {
  testsupport::TempDir tmp;
  DriverRig<CECFCV2009> r(54, 1);
  ASSERT_EQ(r.p.core->zReduction(), FiscalError::Ok);
  const std::string file = tmp.file("mf.txt");
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("OLD CONTENTS", f);
    std::fclose(f);
  }
  ASSERT_TRUE(r.d.LeMFContZBIN(1, 1, file)) << r.d.strLastError;
  const std::string mf = testsupport::readFile(file);
  EXPECT_NE(mf.find("CRZ 0001"), std::string::npos) << mf;
  EXPECT_EQ(mf.find("OLD"), std::string::npos);
  // A folder that is not there: the operation fails and leaves nothing.
  const std::string nowhere = tmp.file("no/such/folder/mf.txt");
  EXPECT_FALSE(r.d.LeMFDataBIN(DateTime::fromParts(2026, 1, 1), DateTime::fromParts(2026, 12, 31), nowhere));
  EXPECT_FALSE(r.d.strLastError.empty());
  EXPECT_FALSE(r.d.LeMFContZBIN(1, 1, ""));
  EXPECT_EQ(r.d.strLastError, cp("Caminho do arquivo destino não informado."));

  std::string xml = tmp.file("cfe.xml");
  ASSERT_TRUE(r.d.ReadCFeXML("123", "", 1, kTrue, xml)) << r.d.strLastError;
  EXPECT_NE(testsupport::readFile(xml).find("Id=\"CFe123\""), std::string::npos);
  std::string key;
  ASSERT_TRUE(r.d.ReadCFeKey("123", 1, key)) << r.d.strLastError;
  EXPECT_EQ(key, "CFe123");
  EXPECT_FALSE(r.d.ReadCFeXML("", "", 1, kFalse, xml));
  EXPECT_EQ(r.d.strLastError, cp("Id inicial do CF-e-ECF não informado."));
  EXPECT_FALSE(r.d.ReadCFeKey("1", 7, key));
  EXPECT_EQ(r.d.strLastError, cp("Tipo de Id do CF-e-ECF inválido."));
}

TEST(EmulatedCv2009, TheApplicationIdentificationIsSentOnceAndKeptInTheKeyStore) {
  testsupport::TempDir tmp;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string kept = old ? old : "";
  setenv("XDG_CONFIG_HOME", tmp.path().c_str(), 1);
  {
    DriverRig<CECFCV2009> r(54, 1);
    ASSERT_TRUE(r.d.SetPAFECFIdentification("MEU PAF 1.0", "ABC123")) << r.d.strLastError;
    EXPECT_EQ(r.p.core->identity().appLine1, "42.42MEU PAF 1.0ABC123");
    std::string serial, ident;
    ASSERT_TRUE(r.d.ObtemRegPAFECFIdentification(serial, ident));
    EXPECT_EQ(serial, r.p.core->identity().serial);
    EXPECT_EQ(ident, "MEU PAF 1.0ABC123");
    // The same identification again: nothing goes to the printer.
    const int before = r.p.printer->framesReceived();
    ASSERT_TRUE(r.d.SetPAFECFIdentification("MEU PAF 1.0", "ABC123")) << r.d.strLastError;
    // Only the serial number read went out (its frame and its ENQ).
    EXPECT_EQ(r.p.printer->framesReceived() - before, 2);
  }
  if (old)
    setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

TEST(EmulatedCv2009, TheDarumaDriverFeedsBeforeTheCutAndWaitsTenSeconds) {
  DriverRig<CDarumaFS800i> r(56, 3);
  // Outside a report the five line feeds are refused; the cut goes all the same.
  const int before = r.p.printer->framesReceived();
  EXPECT_TRUE(r.d.CutPaper()) << r.d.strLastError;
  EXPECT_EQ(r.p.printer->framesReceived() - before, 3);  // text (refused), cut, its ENQ
  std::string key;
  ASSERT_TRUE(r.d.ReadLastCFeKey(key)) << r.d.strLastError;
  EXPECT_EQ(key.size(), 47u);
  EXPECT_EQ(key.rfind("CFe", 0), 0u);
  EXPECT_TRUE(r.d.IsCashDrawerClosed());
  ASSERT_TRUE(r.d.OpenCashDrawer()) << r.d.strLastError;
  EXPECT_FALSE(r.d.IsCashDrawerClosed());
  // A printer that never answers: the first byte is awaited 10 s of line time.
  ASSERT_TRUE(r.p.printer->setFaults("noanswer,once"));
  const int64_t t0 = r.dev->clock().nowUs();
  EXPECT_EQ(r.d.GetOperationCounter(), 0);
  const int64_t waited = r.dev->clock().nowUs() - t0;
  EXPECT_GE(waited, 10'000'000);
  EXPECT_LT(waited, 11'000'000);
}

TEST(EmulatedCv2009, CancellingTheOpenOrTheLastReceipt) {
  DriverRig<CDarumaFS800i> r(56, 3);
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "X", "UN", 0.0, 1.0, 3.0, 0.0)) << r.d.strLastError;
  EXPECT_EQ(r.p.core->document().items.back().tax, "II");
  ASSERT_TRUE(r.d.CancelaCupomFiscal()) << r.d.strLastError;
  EXPECT_FALSE(r.p.core->receiptOpen());
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "X", "UN", -2.0, 1.0, 3.0, 0.0)) << r.d.strLastError;
  EXPECT_EQ(r.p.core->document().items.back().tax, "NN");
  ASSERT_TRUE(r.d.RegistraPagamento("", 3.0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.FechaCupomFiscal("", 0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.CancelaCupomFiscal()) << r.d.strLastError;
  EXPECT_TRUE(r.p.core->lastReceipt().cancelled);
  // Once more: the printer's refusal becomes the driver's advice.
  EXPECT_FALSE(r.d.CancelaCupomFiscal());
  EXPECT_EQ(r.d.strLastError, cp("Não é possível cancelar o documento. Realize uma operação do tipo inverso para "
                                 "estornar o efeito da operação não cancelada."));
}

TEST(EmulatedCv2009, LastDocumentAndReductionDates) {
  DriverRig<CECFCV2009> base(54, 1);
  ASSERT_TRUE(base.d.AbreCupomFiscal()) << base.d.strLastError;
  DateParts p;
  ASSERT_TRUE(base.d.GetLastDocumentDateTime().parts(p));
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.day, 4);
  ASSERT_TRUE(base.d.CancelaCupomFiscal()) << base.d.strLastError;
  ASSERT_TRUE(base.d.ReducaoZ(DateTime::invalid())) << base.d.strLastError;
  ASSERT_TRUE(base.d.GetDataMovUltimaRZ().parts(p));
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.hour, 0);
  EXPECT_TRUE(base.d.GetPendingZReport() == kFalse);
}

TEST(EmulatedCv2009, TheV2DriverTakesTheLastDocumentFromTheReductionRecord) {
  DriverRig<CECFCV2009V2> r(55, 2);
  r.p.hostNow += 3600;
  ASSERT_EQ(r.p.core->zReduction(), FiscalError::Ok);
  DateParts p;
  ASSERT_TRUE(r.d.GetLastDocumentDateTime().parts(p));
  EXPECT_EQ(p.hour, 10);
  EXPECT_EQ(p.minute, 30);
}

TEST(EmulatedCv2009, TheModelThatReadsCodePage850PrintsItsCustomerAndReportsAsWritten) {
  DriverRig<CECFCV2009V2> r(55, 2);
  ASSERT_TRUE(r.d.OpenComm(kTrue)) << r.d.strLastError;
  ASSERT_TRUE(r.d.SetCustomerInfo("12345678909", cp("JOÃO"), cp("RUA AÇAÍ")));
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  ASSERT_TRUE(r.d.CancelaCupomFiscal()) << r.d.strLastError;
  ASSERT_TRUE(r.d.AbreRelatorioGerencial()) << r.d.strLastError;
  ASSERT_TRUE(r.d.ImprimeRelatorioGerencial(cp("AÇÃO É ÓTIMA"))) << r.d.strLastError;
  ASSERT_TRUE(r.d.FechaRelatorioGerencial()) << r.d.strLastError;
  const std::string paper = r.p.core->paper()->printed();
  EXPECT_NE(paper.find("JOÃO"), std::string::npos) << paper;
  EXPECT_NE(paper.find("AÇÃO É ÓTIMA"), std::string::npos) << paper;
  EXPECT_EQ(paper.find("JOÇO"), std::string::npos) << paper;
}

TEST(EmulatedCv2009, ParametersBeyondTheLengthFieldAreRefusedBeforeSending) {
  DriverRig<CECFCV2009> r(54, 1);
  ASSERT_TRUE(r.d.OpenComm(kTrue)) << r.d.strLastError;
  const int frames = r.p.printer->framesReceived();
  ASSERT_TRUE(r.d.SetCustomerInfo(std::string(70000, '1'), "X", "Y"));
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_EQ(r.d.strLastError,
            "CPF/CNPJ do consumidor com 70000 caracteres excede o limite de 65530 caracteres do comando do ECF.");
  EXPECT_EQ(r.p.printer->framesReceived(), frames);
  EXPECT_FALSE(r.p.core->receiptOpen());
  // The next command is framed as ever: the printer reads it.
  ASSERT_TRUE(r.d.SetCustomerInfo("", "", ""));
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  ASSERT_TRUE(r.d.CancelaCupomFiscal()) << r.d.strLastError;
  ASSERT_TRUE(r.d.AbreRelatorioGerencial()) << r.d.strLastError;
  EXPECT_FALSE(r.d.ImprimeRelatorioGerencial(std::string(65535, 'A')));
  EXPECT_EQ(r.d.strLastError, "Texto com 65535 caracteres excede o limite de 65534 caracteres do comando do ECF.");
  // The report is still open for a text that fits.
  EXPECT_TRUE(r.d.ImprimeRelatorioGerencial("LINHA")) << r.d.strLastError;
}

TEST(EmulatedCv2009, AClosedPortIsOpenedAgainByTheLineProbe) {
  DriverRig<CECFCV2009> r(54, 1);
  ASSERT_TRUE(r.d.OpenComm(kTrue)) << r.d.strLastError;
  ASSERT_TRUE(r.d.CloseComm());
  r.d.arTaxes.clear();
  EXPECT_TRUE(r.d.ECFOnline()) << r.d.strLastError;
  // Opened with the printer's information read again.
  EXPECT_EQ(r.d.arTaxes.size(), 4u);
  EXPECT_TRUE(r.d.ECFOnline()) << r.d.strLastError;
}
