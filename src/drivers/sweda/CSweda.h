// CSweda: the older Sweda printers. A command is ESC '.', a two-digit code,
// fixed-width parameters and '}'; the printer answers ".+..." or an error
// code with its own message, and tells its state to the status request "23".
// Three ways of reading an answer: waiting for a document in the check
// station first, reading a report in parts, and polling a busy printer.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "drivers/sweda/sweda_protocol.h"

namespace tarvion {

class CSweda : public CECFBase {
 public:
  CSweda();
  const char* ClassName() const override { return "CSweda"; }

  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL SendCommand(Frame command) override;
  BOOL CheckForSuccess() override;
  void ClearBuffers() override;
  BOOL ECFOnline() override;
  BOOL InitialConfiguration() override { return kTrue; }
  BOOL CarregaTimeoutsPorta() override;

  BOOL AbreCupomFiscal() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL CancelaItemFiscal(long intItem, const std::string& strDescricao, double nAliquota, double nValor,
                         double nQuantidade, double nDesconto) override;
  BOOL TotalizaCupomFiscalDesconto(double nDesconto, double nTotalValue) override;
  BOOL TotalizaCupomFiscalAcrescimo(double nAcrescimo, double nTotalValue) override;
  BOOL RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) override;
  BOOL FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) override;
  BOOL CancelaCupomFiscal() override;
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) override;
  BOOL FechaComprovanteVinculado() override;
  BOOL AbreRelatorioGerencial() override;
  BOOL ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) override;
  BOOL FechaRelatorioGerencial() override;
  BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) override;
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
  BOOL LeituraX() override;
  BOOL LeituraXSerial(std::string& strLeitura) override;
  BOOL ReducaoZ(DateTime dtReducao) override;
  BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) override;
  BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                  BOOL bResumida) override;
  BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) override;
  BOOL LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) override;
  BOOL MudaHorarioVerao(BOOL bHabilita) override;
  BOOL VerificaHorarioVerao(BOOL& bOut) override;
  BOOL OpenCashDrawer() override;
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL IsLowPaper() override;
  BOOL IsDocumentInserted() override;
  BOOL AdicionaFormaPagamento(const std::string& strPaymentType) override;
  BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames) override;
  BOOL ResetNonFiscalTitles() override;
  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override { return LoadPaymentTypes(kFalse); }
  BOOL LoadNonFiscalTitles() override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL ReadDateTime(DateTime& dtOut) override;
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
  BOOL ReleaseCheck() override;
  BOOL ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) override;
  BOOL SetCheckConfiguration(const std::string& strSingleCurrency, const std::string& strMultipleCurrency,
                             const std::string& strCheckLocal, const std::string& strCheckCarrier, DateTime dtCheck,
                             DateTime dtDeposit) override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  long GetOperationCounter() override;
  long GetZReportCounter() override;
  long GetRestartCounter() override;
  long GetFiscalReceiptCounter() override;
  double GetFinalGrandTotal() override;
  double GetUserGrandTotal() override;

  // A register read (command "27"): the digits or text between the code and
  // the closing brace.
  BOOL ReadRegister(const char* which, std::string& out);

  // ---- state of the family
  int nMultiPart = 0;     // the next command reads a report in parts
  int nDocumentWait = 0;  // the next command needs a document in the station
  int nBusyPoll = 1;      // after the next command, wait while the printer is busy
  std::string strReport;  // the text of the last report read in parts
  // The longest a report may grow to, and a busy printer may be waited for.
  static constexpr size_t kMaxReport = 1u << 20;
  static constexpr uint32_t kPollMs = 25;

 protected:
  BOOL Command(const char* code, const std::string& params = {});
  BOOL ReadTable(const char* which, std::vector<std::string>& out);
  BOOL SerialReport(const char* where, const char* code, const std::string& params, std::string& out);
  BOOL ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply) override;
  long Counter(const char* which);

 private:
  // One status request on the line, its reply in out; false when it failed.
  BOOL Status(exchange::PortExchange& x, ByteArray& out);
  BOOL WaitForDocument(exchange::PortExchange& x);
};

}  // namespace tarvion
