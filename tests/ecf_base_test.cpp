// The base driver: the command cycle, the lookups and the fixed answers.
#include "core/ecf_base.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"
#include "test_support.h"

using namespace tarvion;
using text::cp;

namespace {

// A driver with a trivial frame, to watch the command cycle.
class FramingDriver : public CECFBase {
 public:
  int checks = 0;
  std::vector<ByteArray> sent;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override {
    if (command.empty()) return nullptr;
    auto f = std::make_unique<ByteArray>(command);
    f->insert(f->end(), parameters.begin(), parameters.end());
    return f;
  }
  BOOL SendCommand(Frame command) override {
    if (command) sent.push_back(*command);
    return CECFBase::SendCommand(std::move(command));
  }
  BOOL CheckForSuccess() override {
    ++checks;
    return 1;
  }
  BOOL LeituraX() override {
    ClearBuffers();
    AddCommandString("X");
    AddParameterString("01");
    return Submit();
  }
};

}  // namespace

TEST(EcfBase, PlainDriverSucceedsWithoutSendingAnything) {
  testsupport::TempDir tmp;
  auto dev = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>());
  ports::attachVirtual(51, dev);
  CECFBase d;
  testsupport::usePort(d, 51);
  ASSERT_EQ(d.OpenComm(1), 1);
  EXPECT_EQ(d.AbreCupomFiscal(), 1);
  EXPECT_EQ(d.LeituraX(), 1);
  EXPECT_EQ(d.ReducaoZ(DateTime::now()), 1);
  EXPECT_EQ(d.RegistraItemFiscal("1", "A", "UN", 18, 1, 1, 0), 1);
  EXPECT_EQ(d.RegistraPagamento("DINHEIRO", 10), 1);
  EXPECT_EQ(d.FechaCupomFiscal("OBRIGADO", 10), 1);
  std::string s;
  EXPECT_EQ(d.LeituraXSerial(s), 1);
  EXPECT_EQ(d.CloseComm(), 1);
  EXPECT_TRUE(dev->written().empty());
  ports::detachVirtual(51);
}

TEST(EcfBase, FixedAnswersAndFailingOperations) {
  CECFBase d;
  EXPECT_EQ(d.RegistraDescontoItemApos(1, 1.0), 0);
  EXPECT_EQ(d.strLastError, cp("Método RegistraDescontoItemApos não disponível para esse ECF."));
  EXPECT_EQ(d.CancelaDescontoItem(1, 0), 0);
  EXPECT_EQ(d.strLastError, cp("Método CancelaDescontoItem não disponível para esse ECF."));
  EXPECT_EQ(d.ReadOperationsByDate(DateTime(), DateTime(), "x"), 0);
  EXPECT_EQ(d.strLastError, cp("Função não suportada pelo modelo de ECF utilizado."));
  EXPECT_EQ(d.ReadOperationsByCounter(1, 2, "x"), 0);
  EXPECT_EQ(d.LibraryVersion(), "01.00.00");
  EXPECT_EQ(d.GetEquipamentType(), "ECF-IF");
  EXPECT_EQ(d.AditionalFiscalMemory(), " ");
  EXPECT_FALSE(d.GetUserDateTime().valid());
  EXPECT_FALSE(d.GetDataMovUltimaRZ().valid());
  EXPECT_TRUE(d.GetFiscalDate().valid());
  std::string issqn = "old";
  EXPECT_EQ(d.DiscountISSQN(issqn), 1);
  EXPECT_EQ(issqn, "");
  EXPECT_EQ(d.SetCheckFooter("RODAPE"), 1);
  EXPECT_EQ(d.strCheckFooter, "RODAPE");
  d.intZReportCounter = 7;
  EXPECT_EQ(d.GetZReportCounter(), 7);
  d.SetTransmitirReducaoZ(1);
  EXPECT_EQ(d.TransmitirReducaoZ(), 1);
}

TEST(EcfBase, CommandCycleConsumesThePendingCommand) {
  FramingDriver d;
  EXPECT_EQ(d.LeituraX(), 1);
  ASSERT_EQ(d.sent.size(), 1u);
  EXPECT_EQ(d.sent[0], (ByteArray{'X', '0', '1'}));
  EXPECT_EQ(d.checks, 1);
  // An operation that only submits must not repeat the last command.
  EXPECT_EQ(d.LoadPaymentTypes(), 1);
  EXPECT_EQ(d.AbreCupomFiscal(), 1);
  EXPECT_EQ(d.sent.size(), 1u);
  // With the check cleared for one command, the next is checked again.
  d.bCheckAfterSend = 0;
  d.LeituraX();
  EXPECT_EQ(d.checks, 1);
  EXPECT_EQ(d.bCheckAfterSend, 1);
  d.LeituraX();
  EXPECT_EQ(d.checks, 2);
}

TEST(EcfBase, SendCommandClearsTheLastError) {
  FramingDriver d;
  d.strLastError = "antigo";
  d.LeituraX();
  EXPECT_EQ(d.strLastError, "");
  CECFBase plain;
  plain.strLastError = "antigo";
  // Nothing to send: the old text stays (the plain driver never framed anything).
  EXPECT_EQ(plain.SendCommand(nullptr), 1);
  EXPECT_EQ(plain.SendCommand(std::make_unique<ByteArray>(ByteArray{1})), 0);  // base check is FALSE
  EXPECT_EQ(plain.strLastError, "");
}

TEST(EcfBase, PassThroughHandsTheDriverACopyAndReturnsTheAnswer) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  FramingDriver d;
  ByteArray cmd{0x1B, 0x23}, answer;
  d.arAnswer = {9};
  EXPECT_EQ(d.EnviaComandoECF(cmd, answer), 1);
  EXPECT_EQ(d.checks, 0);  // the success check is skipped for raw commands
  EXPECT_EQ(d.sent.at(0), cmd);
  EXPECT_EQ(cmd, (ByteArray{0x1B, 0x23}));
  EXPECT_TRUE(answer.empty());  // ClearBuffers emptied the old answer
  EXPECT_EQ(d.bCheckAfterSend, 1);
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CECFBase::EnviaComandoECF{arComando=ENVIADO,*arResp=ENDEREÇO}"), std::string::npos);
  EXPECT_NE(log.find("CECFBase::EnviaComandoECF{bRetorno=1}"), std::string::npos);
  EXPECT_NE(log.find("CECFBase::EnviaComandoECF{Retorno=TRUE,strLastError=}"), std::string::npos);
}

TEST(EcfBase, PaymentAndReportLookups) {
  CECFBase d;
  d.arPaymentTypes = {"DINHEIRO", "Vale Produto", "CHEQUE"};
  EXPECT_EQ(d.PaymentTypeIndex("cheque  "), 2);
  EXPECT_EQ(d.PaymentTypeIndex("vale presente"), 1);
  EXPECT_EQ(d.PaymentTypeIndex("PIX"), -1);
  EXPECT_EQ(d.strLastError, cp("Forma de pagamento não cadastrada na impressora."));
  d.arPaymentTypes = {"DINHEIRO"};
  EXPECT_EQ(d.PaymentTypeIndex("VALE PRESENTE"), -1);

  d.arReports = {"GERAL", "SANGRIA", "SUPRIMENTO"};
  d.strLastError.clear();
  EXPECT_EQ(d.ReportIndex("sangria "), 1);
  EXPECT_EQ(d.strLastError, "");
  EXPECT_EQ(d.ReportIndex("XYZ"), -1);
  EXPECT_EQ(d.ReportIndex(""), 2);  // the last report, though the message is set too
  EXPECT_EQ(d.strLastError, cp("Relatório gerencial não cadastrado na impressora."));
  d.arReports.clear();
  EXPECT_EQ(d.ReportIndex(""), -1);
}

TEST(EcfBase, NonFiscalTitleLookupReadsTheNumberFromTheEntry) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  CECFBase d;
  d.arNonFiscalTitles = {"01   SANGRIA", "07   Vale Produto", "12   TROCO"};
  EXPECT_EQ(d.NonFiscalTitlesIndex("troco "), 12);
  EXPECT_EQ(d.NonFiscalTitlesIndex("VALE PRESENTE"), 7);
  EXPECT_EQ(d.NonFiscalTitlesIndex("SUPRIMENTO"), -1);
  EXPECT_EQ(d.strLastError, cp("Totalizador não fiscal não cadastrado na impressora."));
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CECFBase::NonFiscalTitlesIndex{intTitleIndex=2,strTitle=TROCO,strCurrentTitle=12   TROCO,"
                     "Mid(5)=TROCO}"),
            std::string::npos);
  EXPECT_NE(log.find("CECFBase::NonFiscalTitlesIndex{Retorno=12}"), std::string::npos);
  EXPECT_NE(log.find("CECFBase::NonFiscalTitlesIndex{Vai checar vale produto.strTitle=SUPRIMENTO}"), std::string::npos);
}

TEST(EcfBase, PafIdentificationAndResets) {
  CECFBase d;
  EXPECT_EQ(d.SetPAFECFIdentification("  LINHA 1 ", "LINHA 2  "), 1);
  std::string a, b;
  EXPECT_EQ(d.GetPAFECFIdentification(a, b), 1);
  EXPECT_EQ(a, "LINHA 1");
  EXPECT_EQ(b, "LINHA 2");
  d.ResetPAFECFIdentification();
  d.GetPAFECFIdentification(a, b);
  EXPECT_EQ(a + b, "");
  EXPECT_EQ(d.strPAFLine1, "LINHA 1");  // the host's lines stay

  d.strLastItemCode = "1";
  d.nStatusComprovante = 3;
  d.bErroRegistroDescontoItem = 1;
  d.ResetSale();
  EXPECT_EQ(d.nLastItemNumber, 0);
  EXPECT_EQ(d.nStatusComprovante, 0);
  EXPECT_EQ(d.bErroRegistroDescontoItem, 0);
  EXPECT_EQ(d.LastItemCode(), "");
  d.arTaxTable[3] = {12, 5, "T"};
  d.TaxesCount = 4;
  d.ResetTaxes();
  EXPECT_EQ(d.TaxesCount, 0);
  EXPECT_EQ(d.arTaxTable[3].percent, 0.0);
}

TEST(EcfBase, LoadEcfInfoStopsAtTheFirstFailure) {
  struct Loader : CECFBase {
    using CECFBase::LoadPaymentTypes;
    std::string calls;
    bool failPayments = false;
    BOOL LoadTaxes() override { return calls += "T", 1; }
    BOOL LoadPaymentTypes(BOOL) override { return calls += "P", failPayments ? 0 : 1; }
    BOOL LoadReports() override { return calls += "R", 1; }
    BOOL LoadNonFiscalTitles() override { return calls += "N", 1; }
  };
  testsupport::TempDir tmp;
  tmp.enableLog();
  Loader l;
  EXPECT_EQ(l.LoadECFInfo(0), 1);
  EXPECT_EQ(l.calls, "");
  EXPECT_EQ(l.LoadECFInfo(1), 1);
  EXPECT_EQ(l.calls, "TPRN");
  l.calls.clear();
  l.failPayments = true;
  EXPECT_EQ(l.LoadECFInfo(1), 0);
  EXPECT_EQ(l.calls, "TP");
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CECFBase::LoadECFInfo{bReadPrinterInfo=TRUE}"), std::string::npos);
  EXPECT_NE(log.find("CECFBase::LoadECFInfo{Lendo informações.}"), std::string::npos);
  EXPECT_NE(log.find("CECFBase::LoadECFInfo{Erro ao carregar tipos de pagamento.}"), std::string::npos);
}

TEST(EcfBase, FormatPrinterTextLogsInputAndOutput) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  CECFBase d;
  EXPECT_EQ(d.FormatPrinterText(cp("<b>AÇÚCAR</b> ç")), "ACUCAR c");
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CECFBase::FormatPrinterText{<b>AÇÚCAR</b> ç}"), std::string::npos);
  EXPECT_NE(log.find("CECFBase::FormatPrinterText{ACUCAR c}"), std::string::npos);
}

TEST(EcfBase, ByteDumps) {
  std::string hex;
  ByteArray b{0x02, 0x04, 0x00, 0x1B};
  EXPECT_EQ(CECFBase::BytesToHex(b, 1, 2, hex), 1);
  EXPECT_EQ(hex, "0400");
  CECFBase::BytesToHex(b, 3, 99, hex);  // never reads past the array
  EXPECT_EQ(hex, "1b");
  EXPECT_EQ(CECFBase::ReadableBytes(nullptr), "NULL");
  ByteArray r{0x41, 0x0D};
  EXPECT_EQ(CECFBase::ReadableBytes(&r), "A[41][D]");
}
