// The control's own logic: entries that answer without a driver, initialisation,
// error reporting, the exception guard and the entries with special rules.
#include <gtest/gtest.h>

#include <stdexcept>

#include "control/ctrl_state.h"
#include "core/text.h"
#include "core/virtual_wire.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;
using testsupport::countOf;
using testsupport::readFile;

namespace {

const std::string kNotInitialised =
    "A comunicação com a impressora ainda não foi inicializada ou a impressora não foi configurada.";

// A driver that records what the control hands it.
class RecordingDriver : public CECFBase {
 public:
  using CECFBase::LoadPaymentTypes;
  std::vector<std::string> names;
  int items = 0, cuts = 0, loads = 0, sends = 0;
  ByteArray reply;
  DateTime readDate = DateTime::invalid();
  BOOL readResult = 1;

  BOOL RedefineFormasPagamento(const std::vector<std::string>& n) override {
    names = n;
    return 1;
  }
  BOOL RegistraItemFiscal(const std::string&, const std::string&, const std::string&, double, double, double,
                          double) override {
    ++items;
    return 1;
  }
  BOOL AbreCupomFiscal() override { throw std::runtime_error("falha interna"); }
  BOOL LeituraX() override { throw 42; }
  BOOL SendCommand(Frame f) override {
    ++sends;
    arAnswer = reply;
    return f ? 1 : 1;
  }
  BOOL ReadDateTime(DateTime& dt) override {
    dt = readDate;
    return readResult;
  }
  BOOL SetCustomerInfo(const std::string& code, const std::string& name, const std::string& address) override {
    strCustomerCode = code;
    strCustomerName = name;
    strCustomerAddress = address;
    return 1;
  }
  BOOL CutPaper() override {
    ++cuts;
    return 1;
  }
  BOOL LoadPaymentTypes(BOOL) override {
    ++loads;
    arPaymentTypes = {"DINHEIRO", "CHEQUE", "CARTAO"};
    return 1;
  }
};

RecordingDriver& install(CTarvionCtrl& ctrl) {
  auto d = std::make_unique<RecordingDriver>();
  auto& ref = *d;
  ctrl.state().fiscal = std::move(d);
  return ref;
}

class ControlTest : public ::testing::Test {
 protected:
  testsupport::TempDir tmp;
};

}  // namespace

TEST_F(ControlTest, ModelNameLookups) {
  CTarvionCtrl c;
  EXPECT_EQ(c.ExisteECF("daruma fs600 "), 13);
  EXPECT_EQ(c.ExisteECF("DARUMA"), 0);
  EXPECT_EQ(c.ExisteECF("BEMATECH MP-20 FI II ECF-IF"), 1);
  EXPECT_EQ(c.ExisteECF("daruma fs800i"), 56);
  EXPECT_EQ(c.CheckPrinterID("PERTOCHECK"), 10);
  EXPECT_EQ(c.CheckPrinterID("pertocheck"), 0);
  EXPECT_EQ(c.CheckPrinterID("PERTOCHECK "), 0);
  EXPECT_EQ(c.CheckPrinterID("ZPM ZPM/2ECF LOGGER"), 21);
}

TEST_F(ControlTest, ModelListsAreDoubleNulTerminated) {
  CTarvionCtrl c;
  std::string list;
  EXPECT_EQ(c.ImpressorasDisponiveis(list), -1);
  ASSERT_GE(list.size(), 3u);
  EXPECT_EQ(list.substr(0, 28), std::string("BEMATECH MP-20 FI II ECF-IF\0", 28));
  EXPECT_EQ(list.substr(list.size() - 16), std::string("DARUMA FS800I\0\0\0", 16));
  EXPECT_EQ(countOf(list, std::string("\0", 1)), 56u + 2u);
  std::string checks;
  EXPECT_EQ(c.CheckPrinters(checks), -1);
  EXPECT_EQ(countOf(checks, std::string("\0", 1)), 21u + 2u);
  EXPECT_EQ(checks.rfind("BEMATECH MP-40 FI II ECF-IF", 0), 0u);
  EXPECT_NE(checks.find("PERTOPAY 2023 ECF-IF"), std::string::npos);
}

TEST_F(ControlTest, UltimoErroBeforeInitialisationHoldsTheSentenceOnce) {
  CTarvionCtrl c;
  std::string first = c.UltimoErro();
  std::string second = c.UltimoErro();
  EXPECT_EQ(first, "\r\n" + kNotInitialised);
  EXPECT_EQ(second, first);
  EXPECT_EQ(countOf(second, kNotInitialised), 1u);
}

TEST_F(ControlTest, EntriesWithoutADriverAnswerTheirZeroValue) {
  CTarvionCtrl c;
  EXPECT_EQ(c.AbreCupomFiscal(), 0);
  EXPECT_EQ(c.PaymentTypeIndex("DINHEIRO"), -1);
  EXPECT_EQ(c.LastItemNumber(), -1);
  EXPECT_EQ(c.StatusComprovante(), -1);
  EXPECT_EQ(c.TaxesCount(), 0);
  EXPECT_EQ(c.SerialNumber(), "");
  EXPECT_EQ(c.CommHandle(), 0);
  EXPECT_EQ(c.CutPaper(), 0);
  EXPECT_EQ(c.DocumentInserted(), 0);
  int open = -1;
  EXPECT_EQ(c.CupomFiscalAberto(open), 0);
  EXPECT_EQ(open, 0);  // cleared even without a driver
  std::string out = "kept";
  EXPECT_EQ(c.LeituraXSerial(out), 0);
}

TEST_F(ControlTest, InitializeEcfCreatesTheModelsDriverWithoutTouchingThePort) {
  tmp.enableLog();
  CTarvionCtrl c;
  EXPECT_EQ(c.InitializeECF(9, 1, 9600, 0, 8, 1, 0, 0, 0), -1);
  EXPECT_STREQ(c.state().fiscal->ClassName(), "CBematechMP6000");
  EXPECT_EQ(c.EquipamentMark(), "BEMATECH");
  EXPECT_EQ(c.EquipamentModel(), "MP-6000 TH FI");
  EXPECT_EQ(c.state().fiscal->nPortNumber, 1);
  EXPECT_EQ(c.state().fiscal->nBaudRate, 9600);
  EXPECT_FALSE(c.state().fiscal->bPortOpen);
  std::string log = readFile(tmp.logPath());
  EXPECT_NE(log.find("CTarvionCtrl::InitializeECF{objFiscalPrinter classe=CBematechMP6000}"), std::string::npos);
  EXPECT_NE(log.find("CTarvionCtrl::InitializeECF{intModeloECF=9,intNumeroPorta=1,intVelocidade=9600,intParidade=0,"
                     "intBitsDados=8,intBitsStop=1,intControleFluxo=0,bOpenComm=FALSE,bReadPrinterInfo=FALSE}"),
            std::string::npos);
  EXPECT_NE(log.find("CTarvionCtrl::InitializeECF{Retorno=TRUE,strLastError=}"), std::string::npos);
}

TEST_F(ControlTest, CreationDetailsOfTheModelTable) {
  CTarvionCtrl c;
  c.InitializeECF(6, 1, 9600, 0, 8, 1, 0, 0, 0);
  EXPECT_STREQ(c.state().fiscal->ClassName(), "CBematech");
  EXPECT_EQ(c.Columns(), 40);
  c.InitializeECF(29, 1, 9600, 0, 8, 1, 0, 0, 0);
  EXPECT_STREQ(c.state().fiscal->ClassName(), "CItautec");
  EXPECT_EQ(c.Columns(), 43);
  c.InitializeECF(56, 1, 9600, 0, 8, 1, 0, 0, 0);
  EXPECT_STREQ(c.state().fiscal->ClassName(), "CDarumaFS800i");
  EXPECT_EQ(c.EquipamentMark(), "DARUMA");
  EXPECT_EQ(c.EquipamentModel(), "FS800I");
  // The parity argument has no effect: the class decides.
  c.InitializeECF(9, 1, 9600, 2, 8, 1, 0, 0, 0);
  EXPECT_EQ(c.state().fiscal->nParity, 0);
}

TEST_F(ControlTest, PortZeroLeavesNoDriver) {
  CTarvionCtrl c;
  ASSERT_EQ(c.InitializeECF(9, 1, 9600, 0, 8, 1, 0, 0, 0), -1);
  EXPECT_EQ(c.InitializeECF(9, 0, 9600, 0, 8, 1, 0, 0, 0), 0);
  EXPECT_EQ(c.state().fiscal, nullptr);
  EXPECT_EQ(c.UltimoErro(), "O número da porta serial deve ser maior que zero.\r\n" + kNotInitialised);
}

TEST_F(ControlTest, UnknownModelKeepsAPlainDriverButFails) {
  tmp.enableLog();
  CTarvionCtrl c;
  EXPECT_EQ(c.InitializeECF(99, 1, 9600, 0, 8, 1, 0, 0, 0), 0);
  ASSERT_NE(c.state().fiscal, nullptr);
  EXPECT_STREQ(c.state().fiscal->ClassName(), "CECFBase");
  EXPECT_NE(readFile(tmp.logPath()).find("CTarvionCtrl::InitializeECF{objFiscalPrinter classe=CECFBase}"),
            std::string::npos);
  EXPECT_EQ(c.UltimoErro().rfind("CTarvionCtrl::InitializeECF{", 0), 0u);
  // The plain driver succeeds at every printer operation without effect.
  EXPECT_EQ(c.AbreCupomFiscal(), 1);
}

TEST_F(ControlTest, AlterarHVAgendadoSetBeforeInitialisationReachesTheDriver) {
  tmp.enableLog();
  CTarvionCtrl c;
  EXPECT_EQ(c.AlterarHVAgendado(), 0);
  c.SetAlterarHVAgendado(1);
  EXPECT_EQ(c.AlterarHVAgendado(), -1);
  c.InitializeECF(9, 1, 9600, 0, 8, 1, 0, 0, 0);
  EXPECT_EQ(c.state().fiscal->AlterarHVAgendado, 1);
  c.SetAlterarHVAgendado(0);
  EXPECT_EQ(c.state().fiscal->AlterarHVAgendado, 0);
  EXPECT_NE(readFile(tmp.logPath()).find("CTarvionCtrl::SetAlterarHVAgendado{TRUE}"), std::string::npos);
}

TEST_F(ControlTest, SettableFlagsAndReadOnlyProperties) {
  CTarvionCtrl c;
  c.SetCashDrawerAttached(1);  // nothing happens without a driver
  EXPECT_EQ(c.CashDrawerAttached(), 0);
  c.InitializeECF(9, 1, 9600, 0, 8, 1, 0, 0, 0);
  c.SetCashDrawerAttached(1);
  c.SetAutoReopenReport(1);
  c.SetTransmitirReducaoZ(1);
  EXPECT_EQ(c.CashDrawerAttached(), 1);
  EXPECT_EQ(c.AutoReopenReport(), 1);
  EXPECT_EQ(c.TransmitirReducaoZ(), 1);
  EXPECT_FALSE(c.SetProperty(*findEntry("TaxesCount"), Value::shortInt(3)));
  EXPECT_FALSE(c.SetProperty(*findEntry("UltimoErro"), Value::string("x")));
}

TEST_F(ControlTest, RedefineFormasPagamentoSplitsTheList) {
  CTarvionCtrl c;
  auto& d = install(c);
  EXPECT_EQ(c.RedefineFormasPagamento("DINHEIRO/CHEQUE/", 0), -1);
  EXPECT_EQ(d.names, (std::vector<std::string>{"DINHEIRO", "CHEQUE"}));
  c.RedefineFormasPagamento("DINHEIRO/CHEQUE", 0);
  EXPECT_EQ(d.names, (std::vector<std::string>{"DINHEIRO"}));
  c.RedefineFormasPagamento("/DINHEIRO/", -1);
  EXPECT_TRUE(d.names.empty());
  c.RedefineFormasPagamento(std::string("DINHEIRO\0CHEQUE\0", 16), 16);
  EXPECT_EQ(d.names, (std::vector<std::string>{"DINHEIRO", "CHEQUE"}));
  // A length beyond the text never reads past it; empty names are skipped.
  c.RedefineFormasPagamento(std::string("A\0\0B", 4), 1000);
  EXPECT_EQ(d.names, (std::vector<std::string>{"A", "B"}));
}

TEST_F(ControlTest, HundredPercentDiscountFailsWithoutCallingTheDriver) {
  CTarvionCtrl c;
  auto& d = install(c);
  EXPECT_EQ(c.RegistraItemFiscal("1", "ARROZ", "UN", 18, 1, 2.5, 2.5), 0);
  EXPECT_EQ(d.items, 0);
  EXPECT_EQ(c.UltimoErro(), "Não é possível lançar um desconto de 100%.");
  // Items are counted by the control once the driver knows the count.
  d.nLastItemNumber = 0;
  EXPECT_EQ(c.RegistraItemFiscal("1", "ARROZ", "UN", 18, 1, 2.5, 0), 1);
  EXPECT_EQ(c.RegistraItemFiscal("2", "FEIJAO", "UN", 18, 1, 3.5, 0.5), 1);
  EXPECT_EQ(d.items, 2);
  EXPECT_EQ(c.LastItemNumber(), 2);
  d.bItemCountByDriver = 1;
  c.RegistraItemFiscal("3", "SAL", "UN", 18, 1, 1, 0);
  EXPECT_EQ(c.LastItemNumber(), 2);
}

TEST_F(ControlTest, ExceptionsAreCaughtRecordedAndLogged) {
  tmp.enableLog();
  CTarvionCtrl c;
  install(c);
  EXPECT_EQ(c.AbreCupomFiscal(), 0);
  EXPECT_EQ(c.state().fiscal->strLastError, "CTarvionCtrl::AbreCupomFiscal{falha interna}");
  EXPECT_EQ(c.LeituraX(), 0);
  EXPECT_EQ(c.state().fiscal->strLastError, "CTarvionCtrl::LeituraX{Erro desconhecido.}");
  std::string log = readFile(tmp.logPath());
  EXPECT_NE(log.find("CTarvionCtrl::AbreCupomFiscal{falha interna}\r\n"), std::string::npos);
}

TEST_F(ControlTest, EnviaComandoEcfCopiesAtMostTheRequestedLength) {
  CTarvionCtrl c;
  auto& d = install(c);
  d.reply = {'A', 'B', 'C', 'D', 0xE9};
  std::string answer;
  int32_t n = 2;
  EXPECT_EQ(c.EnviaComandoECF("xyz", 2, answer, n), 1);
  EXPECT_EQ(answer, "AB");
  EXPECT_EQ(n, 2);
  n = 50;
  EXPECT_EQ(c.EnviaComandoECF("xyz", 99, answer, n), 1);  // length beyond the text is clamped
  EXPECT_EQ(n, 5);
  EXPECT_EQ(answer, "ABCD\xC3\xA9");  // each byte one character (é)
}

TEST_F(ControlTest, CutPaperOnlyWithACutter) {
  CTarvionCtrl c;
  auto& d = install(c);
  EXPECT_EQ(c.CutPaper(), 0);
  EXPECT_EQ(d.cuts, 0);
  d.HasPaperCutter = 1;
  EXPECT_EQ(c.CutPaper(), 1);
  EXPECT_EQ(d.cuts, 1);
}

TEST_F(ControlTest, ReadDateTimeChecksTheDate) {
  CTarvionCtrl c;
  auto& d = install(c);
  double when = 5;
  EXPECT_EQ(c.ReadDateTime(when), 0);
  EXPECT_EQ(when, 5);
  EXPECT_EQ(c.UltimoErro(), "Erro lendo informações da impressora fiscal.");
  d.readDate = DateTime::fromParts(2026, 12, 4, 17, 5, 9);
  EXPECT_EQ(c.ReadDateTime(when), -1);
  EXPECT_DOUBLE_EQ(when, d.readDate.automationDate());
}

TEST_F(ControlTest, PaymentTypeCountReloadsWhenFewerThanTwo) {
  CTarvionCtrl c;
  auto& d = install(c);
  EXPECT_EQ(c.PaymentTypeCount(), 3);
  EXPECT_EQ(d.loads, 1);
  EXPECT_EQ(c.PaymentTypeCount(), 3);
  EXPECT_EQ(d.loads, 1);
  EXPECT_EQ(c.PaymentType(2), "CARTAO");
  EXPECT_EQ(c.PaymentType(3), "");
  EXPECT_EQ(c.PaymentType(-1), "");
  EXPECT_EQ(c.PaymentTypeValue(0), 0.0);
}

TEST_F(ControlTest, TaxPropertiesCheckTheirIndex) {
  CTarvionCtrl c;
  auto& d = install(c);
  d.arTaxTable[0] = {18.0, 100.0, "T1800"};
  d.arTaxTable[1] = {7.0, 0.0, "T0700"};
  d.TaxesCount = 2;
  EXPECT_EQ(c.TaxPercents(0), 18.0);
  EXPECT_EQ(c.TaxBaseValues(0), 100.0);
  EXPECT_EQ(c.TaxTitles(1), "T0700");
  EXPECT_EQ(c.TaxPercents(2), 0.0);
  EXPECT_EQ(c.TaxPercents(-1), 0.0);
  EXPECT_EQ(c.TaxTitles(99), "");
  d.arTaxes = {"1800", "", "0700"};
  std::string list;
  EXPECT_EQ(c.RetornaAliquotas(list), 1);
  EXPECT_EQ(list, "1800, 0700");
}

TEST_F(ControlTest, UltimoErroPrefersTheFiscalDriversText) {
  CTarvionCtrl c;
  auto& d = install(c);
  EXPECT_EQ(c.UltimoErro(), "Erro indefinido (sem retorno).");
  d.strLastError = "Cupom aberto.";
  EXPECT_EQ(c.UltimoErro(), "Cupom aberto.");
  d.strLastError.clear();
  c.state().check = std::make_unique<CECFBase>();
  c.state().check->strLastError = "cheque";
  EXPECT_EQ(c.UltimoErro(), "cheque");
}

TEST_F(ControlTest, CheckPrinterSharesTheFiscalPort) {
  auto peer = std::make_shared<ScriptedPeer>();
  auto dev = std::make_shared<VirtualDevice>(peer);
  ports::attachVirtual(41, dev);
  CTarvionCtrl c;
  ASSERT_EQ(c.InitializeECF(99, 41, 9600, 0, 8, 1, 0, 1, 0), 0);  // unknown model: fails after opening
  ASSERT_TRUE(c.state().fiscal->bPortOpen);
  EXPECT_EQ(dev->openAttempts(), 1);
  EXPECT_EQ(c.InitializeCheckPrinter("PERTOCHECK", 41, 9600, 0, 8, 1), -1);
  EXPECT_STREQ(c.state().check->ClassName(), "CPertoCheck");
  EXPECT_EQ(dev->openAttempts(), 1);  // not opened a second time
  EXPECT_EQ(c.state().check->hPort, c.state().fiscal->hPort);
  EXPECT_FALSE(c.state().check->bPortOpen);
  // An unknown name still opens its own port with a plain driver.
  auto dev2 = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>());
  ports::attachVirtual(42, dev2);
  EXPECT_EQ(c.InitializeCheckPrinter("NAO EXISTE", 42, 9600, 0, 8, 1), 1);
  EXPECT_STREQ(c.state().check->ClassName(), "CECFBase");
  EXPECT_TRUE(dev2->isOpen());
  EXPECT_EQ(c.InitializeCheckPrinter("PERTOCHECK", 0, 9600, 0, 8, 1), 0);
  EXPECT_EQ(c.state().check, nullptr);
  ports::detachVirtual(41);
  ports::detachVirtual(42);
}

TEST_F(ControlTest, UnsupportedFamiliesRefuseToOpen) {
  auto dev = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>());
  ports::attachVirtual(43, dev);
  CTarvionCtrl c;
  for (int model : {27, 28, 31, 34, 35}) {
    EXPECT_EQ(c.InitializeECF(model, 43, 9600, 0, 8, 1, 0, 1, 1), 0) << model;
    EXPECT_NE(c.UltimoErro().find("não é suportado"), std::string::npos) << model;
    EXPECT_TRUE(dev->written().empty());
  }
  ports::detachVirtual(43);
}

TEST_F(ControlTest, LoggedEntriesWriteTheirLines) {
  tmp.enableLog();
  CTarvionCtrl c;
  install(c);
  c.RegistraDescontoItemApos(3, -1.5);
  c.CancelaDescontoItem(2, 1);
  c.OpenNamedReport("FECHAMENTO");
  c.CupomAdicionalAoFecharCF();
  c.FiscalDate();
  std::string log = readFile(tmp.logPath());
  EXPECT_NE(log.find("CTarvionCtrl::RegistraDescontoItemApos{intItem=3, dblValorDesconto=-1.500000}"),
            std::string::npos);
  EXPECT_NE(log.find("CTarvionCtrl::RegistraDescontoItemApos{Retorno=0}"), std::string::npos);
  EXPECT_NE(log.find("CTarvionCtrl::CancelaDescontoItem{intItem=2, bAcrescimo=TRUE}"), std::string::npos);
  EXPECT_NE(log.find("CTarvionCtrl::OpenNamedReport{strReportName=FECHAMENTO}"), std::string::npos);
  EXPECT_NE(log.find("CTarvionCtrl::CupomAdicionalAoFecharCF{Retorno=FALSE}"), std::string::npos);
  EXPECT_NE(log.find(" - CTarvionCtrl::GetFiscalDate\r\n"), std::string::npos);
  EXPECT_EQ(c.UltimoErro(), "Método CancelaDescontoItem não disponível para esse ECF.");
}

TEST_F(ControlTest, StringsCrossTheBoundaryAsUtf8) {
  CTarvionCtrl c;
  auto& d = install(c);
  c.SetCustomerInfo("1", "JOSÉ DA CONCEIÇÃO", "RUA");
  EXPECT_EQ(d.strCustomerName, "JOS\xC9 DA CONCEI\xC7\xC3O");
  EXPECT_EQ(c.GetCustomerName(), "JOSÉ DA CONCEIÇÃO");
}
