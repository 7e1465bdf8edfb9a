// The FiscNET drivers on the virtual wire (simulated clock): the bytes each
// side puts on the line, the operations' commands and their outcomes against
// the virtual printer, and the cases a scripted printer makes happen (a
// refused reduction, a reply in pieces, a late reply after the open).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <limits>
#include <string>

#include "core/capabilities.h"
#include "core/text.h"
#include "driver_port.h"
#include "drivers/fiscnet/CElginX5.h"
#include "drivers/fiscnet/CFiscNET.h"
#include "drivers/fiscnet/CItautecFiscNet.h"
#include "drivers/fiscnet/CZPM.h"
#include "emulator/fiscnet/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "tap_face.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;
using text::cp;

namespace {

std::string str(const ByteArray& b) {
  return std::string(b.begin(), b.end());
}

using testsupport::Tap;

// The requests a tap has seen so far, one string per frame.
std::vector<std::string> framesSeen(const Tap& tap) {
  std::vector<std::string> f;
  std::string s = str(tap.in);
  for (size_t at = 0; at < s.size();) {
    const size_t end = s.find('}', at);
    if (end == std::string::npos) break;
    f.push_back(s.substr(at, end - at + 1));
    at = end + 1;
  }
  return f;
}

// A printer that answers each frame with the next scripted reply ("%d" takes
// the request's sequence number) and keeps the requests.
class ScriptFace final : public PrinterFace {
 public:
  void receive(const uint8_t* data, size_t n, ReplySink& out) override {
    buf_.append(reinterpret_cast<const char*>(data), n);
    for (size_t end = buf_.find('}'); end != std::string::npos; end = buf_.find('}')) {
      const std::string frame = buf_.substr(0, end + 1);
      buf_.erase(0, end + 1);
      requests.push_back(frame);
      const int seq = std::atoi(frame.c_str() + 1);
      if (replies.empty()) continue;
      std::string reply = replies.front();
      if (const size_t at = reply.find("%d"); at != std::string::npos) reply.replace(at, 2, std::to_string(seq));
      replies.pop_front();
      // A reply in two pieces a little apart, as a slow line delivers it.
      const size_t half = reply.size() / 2;
      out.send(ByteArray(reply.begin(), reply.begin() + static_cast<long>(half)), 0);
      out.send(ByteArray(reply.begin() + static_cast<long>(half), reply.end()), 30);
    }
  }
  std::string modelName() const override { return "SCRIPT"; }
  std::deque<std::string> replies;
  std::vector<std::string> requests;

 private:
  std::string buf_;
};

template <class Driver>
struct Rig {
  static constexpr int kPort = 743;
  int64_t hostNow = toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<Paper> paper = std::make_shared<Paper>(48);
  std::shared_ptr<FiscNETPrinter> printer;
  std::shared_ptr<Tap> tap;
  std::shared_ptr<VirtualDevice> dev;
  Driver d;

  explicit Rig(int model = 23, bool checkStation = false) {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [this] { return hostNow; }});
    core->setPaper(paper);
    const caps::ModelRow* row = caps::fiscalModel(model);
    printer = std::make_shared<FiscNETPrinter>(core, row->name, Hardware{48, checkStation || row->canReadCheck});
    tap = std::make_shared<Tap>(printer);
    dev = makeVirtualDevice(tap);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
  }
  ~Rig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
  void open() {
    ASSERT_TRUE(d.OpenComm(1)) << d.strLastError;
    tap->clear();
  }
};

struct ScriptRig {
  static constexpr int kPort = 744;
  std::shared_ptr<ScriptFace> face = std::make_shared<ScriptFace>();
  std::shared_ptr<VirtualDevice> dev;
  CFiscNET d;
  ScriptRig() {
    dev = makeVirtualDevice(face);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    EXPECT_TRUE(d.OpenComm(0)) << d.strLastError;
  }
  ~ScriptRig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

}  // namespace

TEST(FiscNETDriver, TheBytesOnTheLineForEachSide) {
  Rig<CFiscNET> r(19);
  ASSERT_TRUE(r.d.OpenComm(0)) << r.d.strLastError;
  r.tap->clear();
  std::string coo;
  ASSERT_TRUE(r.d.RetornaNumeroCupom(coo)) << r.d.strLastError;
  EXPECT_EQ(coo, "0");
  EXPECT_EQ(str(r.tap->in), "{0;LeInteiro;NomeInteiro=\"COO\";30}");
  EXPECT_EQ(str(r.tap->out), "{0;0;ValorInteiro=0;19}");
  r.tap->clear();
  ASSERT_TRUE(r.d.LeituraX()) << r.d.strLastError;
  EXPECT_EQ(str(r.tap->in), "{1;EmiteLeituraX;;17}{2;AvancaPapel;Avanco=175;25}");
  EXPECT_EQ(str(r.tap->out), "{1;0;;5}{2;0;;5}");
  r.tap->clear();
  // A refusal comes back with its code and circumstance, and reads as the
  // code's message and a line with the circumstance.
  EXPECT_FALSE(r.d.FechaComprovanteVinculado());
  EXPECT_EQ(str(r.tap->in), "{3;EncerraDocumento;;20}");
  EXPECT_EQ(str(r.tap->out), "{3;15012;;9}");
  EXPECT_EQ(r.d.strLastError, cp("Tentativa de finalizar documento já encerrado."));
  r.tap->clear();
  r.d.arPaymentTypes = {"-2,DINHEIRO"};
  EXPECT_FALSE(r.d.RegistraPagamento("Dinheiro", 1));
  EXPECT_EQ(str(r.tap->in), "{4;PagaCupom;CodMeioPagamento=-2 Valor=1,00;43}");
  EXPECT_EQ(str(r.tap->out), "{4;8000;Circunstancia=\"NoReceiptOpen\";37}");
  EXPECT_EQ(r.d.strLastError, cp("Comando fora de seqüência.\r\nCircunstância: NoReceiptOpen"));
}

TEST(FiscNETDriver, AWholeSaleOnTheVirtualPrinter) {
  Rig<CElginX5> r(23);
  r.open();
  ASSERT_EQ(r.d.arTaxes.size(), 4u);
  EXPECT_EQ(r.d.arTaxes[0], "T00,18.00");
  EXPECT_EQ(r.d.arTaxes[3], "S03,05.00");
  ASSERT_GE(r.d.arPaymentTypes.size(), 3u);
  EXPECT_EQ(r.d.arPaymentTypes[0], "-2,DINHEIRO");
  EXPECT_EQ(r.d.arPaymentTypes[2], "01,Cartao");

  r.d.SetCustomerInfo("123.456.789-09", cp("JOSÉ"), "");
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_EQ(r.core->document().customer, "123.456.789-09");
  EXPECT_EQ(r.core->document().customerName, cp("JOSÉ"));
  BOOL open = kFalse;
  ASSERT_TRUE(r.d.CupomFiscalAberto(open));
  EXPECT_TRUE(open);
  r.tap->clear();
  // 3 units with 0,50 off each: the item, then its whole discount.
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", cp("CAFÉ"), "UN", 18.0, 3, 2.5, 0.5)) << r.d.strLastError;
  const auto frames = framesSeen(*r.tap);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].substr(0, frames[0].rfind(';')),
            std::string("{") + frames[0].substr(1, frames[0].find(';') - 1) +
                ";VendeItem;CodAliquota=00 CodProduto=\"1\" NomeProduto=\"CAF\x90\" PrecoUnitario=2,500 "
                "Quantidade=3,000 Unidade=\"UN\"");
  EXPECT_NE(frames[1].find(";AcresceItemFiscal;Cancelar=F ValorAcrescimo=-1,50;"), std::string::npos) << frames[1];
  EXPECT_EQ(r.d.strLastItemLabel, "00T1800");
  ASSERT_TRUE(r.d.RegistraItemFiscal("2", "ARROZ", "KG", 0, 1, 10, 0)) << r.d.strLastError;  // exempt: -3
  EXPECT_NE(str(r.tap->in).find("CodAliquota=-3 "), std::string::npos);
  EXPECT_FALSE(r.d.RegistraItemFiscal("3", "LEITE", "UN", 17, 1, 4, 0));
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de ICMS de 17.00% não cadastrada na impressora."));
  // Over 100 %: refused before the wire, naming the rate asked for.
  r.tap->clear();
  EXPECT_FALSE(r.d.RegistraItemFiscal("3", "LEITE", "UN", 180, 1, 4, 0));
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de ICMS de 180.00% não cadastrada na impressora."));
  EXPECT_FALSE(r.d.RegistraItemFiscal("3", "LEITE", "UN", 1e300, 1, 4, 0));
  EXPECT_EQ(r.d.strLastError.rfind(cp("Alíquota de ICMS de 1"), 0), 0u) << r.d.strLastError;
  EXPECT_NE(r.d.strLastError.find(cp(".00% não cadastrada na impressora.")), std::string::npos) << r.d.strLastError;
  EXPECT_TRUE(r.tap->in.empty());
  ASSERT_TRUE(r.d.TotalizaCupomFiscalDesconto(1.0, 0)) << r.d.strLastError;
  // Not in the table: refused before anything is sent.
  r.tap->clear();
  EXPECT_FALSE(r.d.RegistraPagamento("PIX", 5));
  EXPECT_TRUE(r.tap->in.empty());
  EXPECT_EQ(r.d.strLastError, cp("Forma de pagamento não cadastrada na impressora."));
  ASSERT_TRUE(r.d.RegistraPagamento("cartao", 10)) << r.d.strLastError;
  EXPECT_EQ(r.d.LastPaymentType(), "Cartao");
  ASSERT_TRUE(r.d.RegistraPagamento("Dinheiro", 50)) << r.d.strLastError;
  ASSERT_TRUE(r.d.FechaCupomFiscal("VOLTE SEMPRE", 0)) << r.d.strLastError;
  EXPECT_FALSE(r.core->receiptOpen());
  EXPECT_EQ(r.core->lastReceipt().total, 750 - 150 + 1000 - 100);
  EXPECT_EQ(r.core->lastReceipt().change, 6000 - 1500);
  // The grand total counts what was sold; discounts do not take it back.
  EXPECT_NEAR(r.d.GetFinalGrandTotal(), 17.50, 1e-9);
  EXPECT_NEAR(r.d.GetDiscountTotal(), 2.50, 1e-9);
  EXPECT_EQ(r.d.GetFiscalReceiptCounter(), 1);
  EXPECT_NE(r.paper->printed().find("VOLTE SEMPRE"), std::string::npos);

  std::string x;
  ASSERT_TRUE(r.d.LeituraXSerial(x)) << r.d.strLastError;
  EXPECT_NE(x.find("COO"), std::string::npos) << x;
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 23, 0, 0))) << r.d.strLastError;
  EXPECT_EQ(r.d.GetZReportCounter(), 1);
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_NE(r.d.strLastError.find(cp("Dia já fechado.")), std::string::npos) << r.d.strLastError;
}

TEST(FiscNETDriver, NumbersThatDoNotFitSendNothing) {
  Rig<CFiscNET> r(19);
  r.open();
  ASSERT_TRUE(r.d.AbreCupomFiscal());
  r.tap->clear();
  EXPECT_FALSE(r.d.RegistraItemFiscal("1", "X", "UN", 18, 1e12, 1, 0));
  EXPECT_NE(r.d.strLastError.find("Quantidade"), std::string::npos);
  EXPECT_FALSE(r.d.RegistraItemFiscal("1", "X", "UN", 18, 1, -5, 0));
  EXPECT_FALSE(r.d.TotalizaCupomFiscalDesconto(std::numeric_limits<double>::infinity(), 0));
  EXPECT_FALSE(r.d.CancelaItemFiscal(-1, "", 0, 0, 0, 0));
  EXPECT_TRUE(r.tap->in.empty()) << str(r.tap->in);
  // Host text cannot break out of its quotes or inject control bytes.
  ASSERT_TRUE(r.d.RegistraItemFiscal("A\"B", "X\x1B\nY\\Z", "U\"", 18, 1, 1, 0)) << r.d.strLastError;
  EXPECT_NE(str(r.tap->in).find("CodProduto=\"AB\" NomeProduto=\"X  Y\\\\Z\" "), std::string::npos) << str(r.tap->in);
  EXPECT_EQ(r.core->document().items.back().description, "X  Y\\Z");
}

TEST(FiscNETDriver, PaymentsNamedValePresenteFallBackToValeProduto) {
  Rig<CFiscNET> r(19);
  r.open();
  ASSERT_TRUE(r.d.AdicionaFormaPagamento("VALE PRODUTO")) << r.d.strLastError;
  ASSERT_TRUE(r.d.LoadPaymentTypes(kTrue)) << r.d.strLastError;
  ASSERT_EQ(r.d.arPaymentTypes.back(), "02,VALE PRODUTO");
  ASSERT_EQ(r.d.arPaymentValues.size(), r.d.arPaymentTypes.size());
  ASSERT_TRUE(r.d.AbreCupomFiscal());
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "X", "UN", 12, 1, 5, 0)) << r.d.strLastError;
  r.tap->clear();
  ASSERT_TRUE(r.d.RegistraPagamento("vale presente", 5)) << r.d.strLastError;
  EXPECT_NE(str(r.tap->in).find("CodMeioPagamento=02 Valor=5,00"), std::string::npos) << str(r.tap->in);
}

TEST(FiscNETDriver, ClosingTextCarriesThePafLinesFirst) {
  Rig<CFiscNET> r(19);
  r.open();
  for (bool paf : {false, true}) {
    SCOPED_TRACE(paf);
    r.d.strPAFLine1 = paf ? "ABC" : "";
    ASSERT_TRUE(r.d.AbreCupomFiscal());
    ASSERT_TRUE(r.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 5, 0)) << r.d.strLastError;
    ASSERT_TRUE(r.d.RegistraPagamento("Dinheiro", 5)) << r.d.strLastError;
    r.tap->clear();
    ASSERT_TRUE(r.d.FechaCupomFiscal("OBRIGADO \"VOLTE\"", 0)) << r.d.strLastError;
    const auto f = framesSeen(*r.tap);
    ASSERT_EQ(f.size(), 3u);
    const std::string want = paf ? "TextoLivre=\"ABC" + std::string(47, ' ') + "OBRIGADO 'VOLTE'\n\""
                                 : std::string("TextoLivre=\"OBRIGADO 'VOLTE'\n\"");
    EXPECT_NE(f[0].find(";ImprimeTexto;" + want + ";"), std::string::npos) << f[0];
    EXPECT_NE(f[1].find(";EncerraDocumento;;"), std::string::npos);
    EXPECT_NE(f[2].find(";AvancaPapel;Avanco=175;"), std::string::npos);
  }
}

TEST(FiscNETDriver, AThousandCharacterReportGoesAsThreeTexts) {
  Rig<CFiscNET> r(19);
  r.open();
  ASSERT_TRUE(r.d.AbreRelatorioGerencial()) << r.d.strLastError;
  r.tap->clear();
  ASSERT_TRUE(r.d.ImprimeRelatorioGerencial(std::string(1000, 'R'))) << r.d.strLastError;
  const auto f = framesSeen(*r.tap);
  ASSERT_EQ(f.size(), 3u);
  for (const auto& frame : f) EXPECT_NE(frame.find(";ImprimeTexto;TextoLivre=\""), std::string::npos);
  // 20 full lines of 48 and one of 40 with its LF: 1001 bytes in 492, 492 and 17.
  const size_t sizes[] = {492, 492, 17};
  for (size_t i = 0; i < 3; ++i) {
    const size_t from = f[i].find("TextoLivre=\"") + 12, to = f[i].rfind('"');
    EXPECT_EQ(to - from, sizes[i]) << i;
  }
  ASSERT_TRUE(r.d.FechaRelatorioGerencial()) << r.d.strLastError;
  EXPECT_EQ(r.core->counters().grg, 1);
}

TEST(FiscNETDriver, ReadOperationsWritesTheHostsFileWhole) {
  Rig<CFiscNET> r(19);
  r.open();
  ASSERT_TRUE(r.d.LeituraX());
  testsupport::TempDir tmp;
  const std::string path = tmp.file("fita.txt");
  ASSERT_TRUE(r.d.ReadOperationsByCounter(1, 5, path)) << r.d.strLastError;
  const std::string got = testsupport::readFile(path);
  EXPECT_NE(got.find("LEITURA X"), std::string::npos) << got.substr(0, 200);
  EXPECT_NE(str(r.tap->in).find("EmiteLeituraFitaDetalhe;COOInicial=1 COOFinal=5 Destino=\"S\";"), std::string::npos);
  // The longer read time-out is back for the next command.
  EXPECT_EQ(r.d.nReadConstantMs, CFiscNET::kReadConstantMs);
  EXPECT_EQ(r.d.timeouts.ReadTotalTimeoutConstant, CFiscNET::kReadConstantMs);
  // A folder that is not there: the operation fails and says so.
  EXPECT_FALSE(r.d.ReadOperationsByDate(DateTime::fromParts(2026, 12, 1), DateTime::fromParts(2026, 12, 4),
                                        tmp.file("no/such/dir/f.txt")));
  EXPECT_NE(r.d.strLastError.find("no/such/dir"), std::string::npos) << r.d.strLastError;
}

TEST(FiscNETDriver, ChecksFollowTheBankTableOfTheFirmware) {
  // No data folder with the tables: the compiled-in copies serve.
  setenv("TARVION_DATA_DIR", "/nonexistent-tarvion-data", 1);
  Rig<CFiscNET> r(32);
  r.open();
  r.d.SetCheckConfiguration("REAL", "REAIS", "SAO PAULO", "FULANO", DateTime::fromParts(2026, 12, 4), DateTime{});
  struct Case {
    int firmware;  // version digits as the printer keeps them
    const char* bank;
    const char* positions;
  } cases[] = {
      {33000, "999",
       " HPosAno=153 HPosCidade=49 HPosDia=103 HPosExtensoLinha1=27 HPosExtensoLinha2=5 HPosFavorecido=10 HPosMes=123 "
       "HPosMsgLinha1=79 HPosValor=122 VPosCidade=13 VPosExtensoLinha1=36 VPosExtensoLinha2=29 VPosFavorecido=22 "
       "VPosMsgLinha1=7 VPosValor=47 LarguraCheque=165;"},
      {33000, "001", " HPosAno=154 HPosCidade=49 "},
      {30100, "237",
       " HPosAno=1547 HPosCidade=599 HPosDia=1068 HPosExtensoLinha1=209 HPosExtensoLinha2=79 HPosFavorecido=99 "
       "HPosMes=1218 HPosMsgLinha1=878 HPosValor=1238 VPosCidade=368 VPosExtensoLinha1=176 VPosExtensoLinha2=240 "
       "VPosFavorecido=296 VPosMsgLinha1=416 VPosValor=88;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bank);
    Identity id = r.core->identity();
    id.firmware = c.firmware;
    ASSERT_EQ(r.core->setIdentity(id), FiscalError::Ok);
    r.printer->setAutoDocument(true);
    r.tap->clear();
    ASSERT_TRUE(r.d.PrintCheck(150, c.bank)) << r.d.strLastError;
    const auto f = framesSeen(*r.tap);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_NE(f[1].find(";ImprimeCheque;Cidade=\"SAO PAULO\" Data=#04/12/2026# Favorecido=\"FULANO\" Valor=150,00" +
                        std::string(c.positions)),
              std::string::npos)
        << f[1];
  }
  std::string cmc7;
  ASSERT_TRUE(r.d.ReadCheck(kFalse, cmc7)) << r.d.strLastError;
  EXPECT_EQ(cmc7.size(), 30u) << cmc7;
  EXPECT_EQ(cmc7.find_first_not_of("0123456789"), std::string::npos) << cmc7;

  // A table in the data folder overrides the compiled one.
  testsupport::TempDir data;
  ASSERT_EQ(std::system(("mkdir -p " + data.file("fiscnet")).c_str()), 0);
  const auto writeTable = [&](const std::string& text) {
    std::FILE* f = std::fopen(data.file("fiscnet/banks-b.txt") /* the firmware is 03.01 now */.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
  };
  writeTable("### 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n");
  setenv("TARVION_DATA_DIR", data.file("").c_str(), 1);
  r.tap->clear();
  ASSERT_TRUE(r.d.PrintCheck(10, "001")) << r.d.strLastError;
  EXPECT_NE(str(r.tap->in).find(" HPosAno=1 HPosCidade=2 "), std::string::npos) << str(r.tap->in);
  // A table that is not one fails with a clear message and sends nothing.
  writeTable("001 1 2 x\n");
  r.tap->clear();
  EXPECT_FALSE(r.d.PrintCheck(10, "001"));
  EXPECT_NE(r.d.strLastError.find(cp("Tabela de layout de cheques inválida")), std::string::npos) << r.d.strLastError;
  EXPECT_EQ(framesSeen(*r.tap).size(), 1u);  // the firmware read only
  unsetenv("TARVION_DATA_DIR");
}

TEST(FiscNETDriver, ZpmChecksAlwaysUseItsOwnTable) {
  setenv("TARVION_DATA_DIR", TARVION_SOURCE_DIR "/data", 1);
  Rig<CZPM> r(53);
  r.open();
  r.d.SetCheckConfiguration("", "", "RIO", "CICLANO", DateTime::fromParts(2026, 1, 2), DateTime{});
  r.printer->setAutoDocument(true);
  r.tap->clear();
  ASSERT_TRUE(r.d.PrintCheck(1, "237")) << r.d.strLastError;  // firmware 33.00: table A elsewhere
  EXPECT_NE(str(r.tap->in).find(" HPosAno=1577 "), std::string::npos) << str(r.tap->in);
  EXPECT_EQ(str(r.tap->in).find("LarguraCheque"), std::string::npos);
  unsetenv("TARVION_DATA_DIR");
}

TEST(FiscNETDriver, ItautecCutsAfterEachFinishedDocumentOnly) {
  Rig<CItautecFiscNet> r(30);
  r.open();
  ASSERT_TRUE(r.d.LeituraX());
  auto f = framesSeen(*r.tap);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_NE(f[2].find(";CortaPapel;TipoCorte=0;"), std::string::npos);
  r.tap->clear();
  EXPECT_FALSE(r.d.FechaRelatorioGerencial());  // nothing open: no advance, no cut
  EXPECT_EQ(framesSeen(*r.tap).size(), 1u);
  // The line settings differ by model; the rest is the family's.
  EXPECT_EQ(r.d.portProfile.fOutxDsrFlow, 0);
  EXPECT_EQ(r.d.portProfile.fDsrSensitivity, 1);
  CElginX5 elgin;
  EXPECT_EQ(elgin.portProfile.fDsrSensitivity, 0);
  CFiscNET plain;
  EXPECT_EQ(plain.portProfile.fOutxDsrFlow, 1);
  EXPECT_EQ(plain.GetParity(), 2);
}

TEST(FiscNETDriver, ARefusedReductionIsAskedAgainWithoutTheTime) {
  ScriptRig r;
  r.face->replies = {"{%d;8092;;9}", "{%d;0;;5}", "{%d;0;;5}"};
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 22, 15, 0))) << r.d.strLastError;
  ASSERT_EQ(r.face->requests.size(), 3u);
  EXPECT_EQ(r.face->requests[0], "{0;EmiteReducaoZ;Hora=#22:15:00#;32}");
  EXPECT_EQ(r.face->requests[1], "{1;EmiteReducaoZ;;17}");
  EXPECT_EQ(r.face->requests[2], "{2;AvancaPapel;Avanco=175;25}");
}

TEST(FiscNETDriver, RepliesInPiecesAndUnknownOrGarbledReplies) {
  ScriptRig r;
  r.face->replies = {"{%d;0;ValorMoeda=1.234,50;26}", "{%d;4242;;9}", "{%d;xx;;7}", "{%d;0;Circunstancia=\"y\";28}"};
  double v = 0;
  ASSERT_TRUE(r.d.ReadMoney("GT", v)) << r.d.strLastError;
  EXPECT_DOUBLE_EQ(v, 1234.5);
  EXPECT_FALSE(r.d.ReadMoney("GT", v));
  EXPECT_EQ(r.d.strLastError, cp("Erro inesperado ao enviar o comando."));
  EXPECT_FALSE(r.d.ReadMoney("GT", v));
  EXPECT_EQ(r.d.strLastError, cp("Resposta inválida da impressora."));
  // Code 0 succeeds even with a circumstance.
  EXPECT_TRUE(r.d.ReadMoney("GT", v));
}

// The closing brace is not needed: a reply ends on it when it comes, else
// when the line goes quiet, and its return code decides. A value taken from a
// reply cut short must be whole, and a cut reply never waits past its time-out.
TEST(FiscNETDriver, RepliesWithoutTheirClosingBrace) {
  using exchange::Outcome;
  struct Case {
    const char* reply;
    bool ok;
    long value;  // what the read gives when it succeeds
    const char* message;
    Outcome outcome;
  } cases[] = {
      {"{%d;0;ValorInteiro=17;21", true, 17, "", Outcome::Done},
      {"{%d;0;ValorInteiro=17;", true, 17, "", Outcome::Done},
      {"{%d;0;ValorInteiro=1", false, 0, "Resposta inválida da impressora.", Outcome::MayHaveRun},
      {"{%d;0;Valor", false, 0, "Resposta inválida da impressora.", Outcome::MayHaveRun},
      {"{%d;80", false, 0, "Resposta inválida da impressora.", Outcome::MayHaveRun},
      {"{%d;8014;;9", false, 0, "Meio de pagamento indefinido.", Outcome::Refused},
  };
  ScriptRig r;
  r.d.nAnswerTimeout = 2000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    r.face->requests.clear();
    r.face->replies = {c.reply};
    long v = -7;
    const int64_t before = r.dev->clock().nowUs();
    EXPECT_EQ(r.d.ReadInteger("COO", v) != 0, c.ok) << r.d.strLastError;
    EXPECT_LE(r.dev->clock().nowUs() - before, 2000 * 1000);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
    EXPECT_EQ(r.d.strLastError, cp(c.message));
    EXPECT_EQ(r.d.lastOutcome, c.outcome);
    EXPECT_EQ(r.face->requests.size(), 1u);
  }
  // A fiscal command answered without its brace ran, and is not sent again.
  r.face->requests.clear();
  r.face->replies = {"{%d;0;;5"};
  EXPECT_TRUE(r.d.LeituraX()) << r.d.strLastError;
  ASSERT_EQ(r.face->requests.size(), 2u);  // the report, then its paper advance
  EXPECT_NE(r.face->requests[0].find("EmiteLeituraX"), std::string::npos);
}

TEST(FiscNETDriver, TheOpenProbesTheLineWithARegisterRead) {
  Rig<CFiscNET> r(19);
  ASSERT_TRUE(r.d.OpenComm(1)) << r.d.strLastError;
  const auto f = framesSeen(*r.tap);
  ASSERT_GE(f.size(), 2u);
  EXPECT_EQ(f[0], "{0;LeInteiro;NomeInteiro=\"COO\";30}");
  EXPECT_EQ(f[1], "{1;LeInteiro;NomeInteiro=\"AliquotaDisponivel\";45}");
}

TEST(FiscNETDriver, TheFirstCommandAfterTheOpenIsSentOnce) {
  ScriptRig r;
  // Bytes left on the line before the first command are drained before it
  // goes out; a reply's sequence number is not looked at.
  VirtualLink(*r.dev).send(ByteArray{'{', '7', '7', ';', '0', ';', ';', '7', '}'}, 0);
  r.face->replies = {"{77;0;ValorInteiro=5;20}", "{%d;0;ValorInteiro=9;20}"};
  long v = 0;
  ASSERT_TRUE(r.d.ReadInteger("COO", v)) << r.d.strLastError;
  EXPECT_EQ(v, 5);
  EXPECT_EQ(r.face->requests.size(), 1u);
  // Two stray bytes ahead of the answer: unreadable, and not sent again.
  r.face->replies = {"..{%d;0;;5}"};
  EXPECT_FALSE(r.d.LeituraX());
  EXPECT_EQ(r.d.strLastError, cp("Resposta inválida da impressora."));
  EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::MayHaveRun);
  ASSERT_EQ(r.face->requests.size(), 2u);
  EXPECT_NE(r.face->requests[1].find("EmiteLeituraX"), std::string::npos);
}

TEST(FiscNETDriver, ASilentPrinterTimesOutOnTheSimulatedClock) {
  ScriptRig r;
  r.d.nAnswerTimeout = 3000;
  long v = 0;
  EXPECT_FALSE(r.d.ReadInteger("COO", v));
  EXPECT_FALSE(r.d.strLastError.empty());
  EXPECT_FALSE(r.d.ECFOnline());
}

TEST(FiscNETDriver, UserDataComeFromTheLastReductionsReport) {
  ScriptRig r;
  // The user's line (code page 850), laid out by column as the printer prints it.
  std::string user(60, ' ');
  user.replace(0, 8, "Usu\xA0rio:");
  user.replace(16, 4, "0003");
  user.replace(21, 2, "05");
  user.replace(24, 2, "11");
  user.replace(27, 4, "2025");
  user.replace(33, 2, "14");
  user.replace(36, 2, "07");
  user.replace(39, 2, "09");
  user.replace(44, 16, "GT: 1.234.567,89");
  auto script = [&] {
    r.face->replies = {"{%d;0;ValorInteiro=7;19}", "{%d;0;;5}",
                       "{%d;0;TextoImpressao=\"Usu\xA0rio: antigo\n" + user + "\n\";99}",
                       "{%d;0;TextoImpressao=\"\";99}"};
  };
  script();
  const DateTime dt = r.d.GetUserDateTime();
  DateParts p;
  ASSERT_TRUE(dt.parts(p));
  EXPECT_EQ(p.day, 5);
  EXPECT_EQ(p.month, 11);
  EXPECT_EQ(p.year, 2025);
  EXPECT_EQ(p.hour, 14);
  EXPECT_EQ(p.minute, 7);
  EXPECT_EQ(p.second, 9);
  EXPECT_EQ(r.face->requests[1],
            "{1;EmiteLeituraMF;ReducaoInicial=7 ReducaoFinal=7 LeituraSimplificada=T Destino=\"S\";83}");
  script();
  EXPECT_EQ(r.d.GetUserRestartCounter(), 3);
  script();
  EXPECT_DOUBLE_EQ(r.d.GetUserGrandTotal(), 1234567.89);
  // Firmware: the version line after the general data.
  std::string fw(40, ' ');
  fw.replace(0, 5, "03.30");
  fw.replace(9, 2, "21");
  fw.replace(12, 2, "03");
  fw.replace(15, 4, "2019");
  fw.replace(22, 2, "10");
  fw.replace(25, 2, "20");
  fw.replace(28, 2, "30");
  r.face->replies = {"{%d;0;ValorTexto=\"03.30\";99}", "{%d;0;ValorInteiro=7;19}", "{%d;0;;5}",
                     "{%d;0;TextoImpressao=\"03.30 antes\nDADOS GERAIS\n" + fw + "\n\";99}",
                     "{%d;0;TextoImpressao=\"\";99}"};
  ASSERT_TRUE(r.d.GetFirmwareDateTime().parts(p));
  EXPECT_EQ(p.day, 21);
  EXPECT_EQ(p.year, 2019);
  EXPECT_EQ(p.second, 30);
}

TEST(FiscNETDriver, PrinterFaultsEndInAMessageAndTheNextCommandWorks) {
  Rig<CFiscNET> r(19);
  r.open();
  r.d.nAnswerTimeout = 1000;
  using exchange::Outcome;
  struct Case {
    const char* faults;
    const char* message;  // empty: any message
    Outcome outcome;
  } cases[] = {
      {"garbage,once", "", Outcome::MayHaveRun},
      {"short,once", "Resposta inválida da impressora.", Outcome::MayHaveRun},
      {"noanswer,once", "Timeout aguardando resposta da impressora.", Outcome::MayHaveRun},
      {"slow=5000,once", "Timeout aguardando resposta da impressora.", Outcome::MayHaveRun},
      {"nak,once", "Fila de comandos cheia.", Outcome::Refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    r.printer->setFaults(c.faults);
    long v = 0;
    EXPECT_FALSE(r.d.ReadInteger("COO", v));
    EXPECT_FALSE(r.d.strLastError.empty());
    if (*c.message) {
      EXPECT_EQ(r.d.strLastError, cp(c.message));
    }
    // Whatever is left of the faulty answer (the slow one arrives while the
    // host goes on) is drained before the next command, and the command that
    // got it is not sent again: one frame each.
    EXPECT_EQ(r.d.lastOutcome, c.outcome);
    r.dev->clock().sleepMs(5000);
    r.tap->clear();
    r.d.nAnswerTimeout = 10000;
    ASSERT_TRUE(r.d.ReadInteger("CRO", v)) << r.d.strLastError;
    EXPECT_EQ(v, 1);
    EXPECT_EQ(framesSeen(*r.tap).size(), 1u);
    r.d.nAnswerTimeout = 1000;
  }
}
