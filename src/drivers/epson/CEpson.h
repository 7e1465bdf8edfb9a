// CEpson: printers that speak Epson's framed byte protocol: two-byte command
// codes with an extension, FS-separated fields, a sequence byte and a hex
// checksum, acknowledged by ACK and answered with a class/detail return code.
// The codec is in epson_protocol.h; this class runs the exchange and maps the
// driver operations onto the commands.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "core/operation.h"
#include "drivers/epson/epson_protocol.h"

namespace tarvion {

class CEpson : public CECFBase {
 public:
  CEpson();
  const char* ClassName() const override { return "CEpson"; }

  // ---- transport
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL ECFOnline() override;
  BOOL CarregaTimeoutsPorta() override;

  // A two-byte code (the command, then its extension) and one field.
  void AddCommandBytes(uint8_t a, uint8_t b);
  void AddField(const std::string& text);
  // Text in the printer's characters, cut into lines of its columns.
  std::vector<std::string> PrinterLines(const std::string& text) const;

  // ---- operations
  BOOL AbreCupomFiscal() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL CancelaItemFiscal(long intItem, const std::string& strDescricao, double nAliquota, double nValor,
                         double nQuantidade, double nDesconto) override;
  BOOL CancelaDescontoItem(long intItem, BOOL bAcrescimo) override;
  BOOL TotalizaCupomFiscalDesconto(double nDesconto, double nTotalValue) override;
  BOOL TotalizaCupomFiscalAcrescimo(double nAcrescimo, double nTotalValue) override;
  BOOL RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) override;
  BOOL FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) override;
  BOOL CancelaCupomFiscal() override;
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) override;
  BOOL FechaComprovanteVinculado() override;
  BOOL OpenNamedReport(const std::string& strReportName) override;
  BOOL AbreRelatorioGerencial() override;
  BOOL ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) override;
  BOOL FechaRelatorioGerencial() override;
  BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) override;
  BOOL LeituraX() override;
  BOOL ReducaoZ(DateTime dtReducao) override;
  BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) override;
  BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) override;
  BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                  BOOL bResumida) override;
  BOOL LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) override;
  BOOL MudaHorarioVerao(BOOL bHabilita) override;
  BOOL VerificaHorarioVerao(BOOL& bOut) override;
  BOOL OpenCashDrawer() override;
  BOOL IsCashDrawerClosed() override;
  BOOL PrintSecondReceipt() override;
  BOOL CutPaper() override;
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL IsLowPaper() override;
  BOOL AuthenticateDocument(const std::string& strAdditionalInfo) override;
  BOOL InitialConfiguration() override;
  BOOL AdicionaFormaPagamento(const std::string& strPaymentType) override;
  BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames) override;
  BOOL AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) override;
  BOOL AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) override;
  BOOL ResetNonFiscalTitles() override;
  BOOL SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                       const std::string& strCustomerAddress) override;

  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override { return LoadPaymentTypes(kFalse); }
  BOOL LoadReports() override;
  BOOL LoadNonFiscalTitles() override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL ReadDateTime(DateTime& dtOut) override;
  BOOL ReadFiscalInformation() override;
  BOOL DiscountISSQN(std::string& strOut) override;

  double GetSaleTotal() override;
  double GetCancelTotal() override;
  double GetDiscountTotal() override;
  double GetIncreaseTotal() override;
  double GetFinalGrandTotal() override;
  double GetNonFiscalTotal() override;
  long GetPrinterID() override;
  short GetUserNumber() override;
  long GetOperationCounter() override;
  long GetFiscalReceiptCounter() override;
  long GetNonFiscalCounter() override;
  long GetPaymentReceiptCounter() override;
  long GetManagementReportCounter() override;
  long GetZReportCounter() override;
  long GetRestartCounter() override;
  DateTime GetLastDocumentDateTime() override;
  DateTime GetFiscalDate() override;
  DateTime GetDataMovUltimaRZ() override;
  long GetLastItemNumber() override { return nLastItemNumber; }

  // ---- checks: this printer has no check station
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
  BOOL ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) override;
  BOOL ReleaseCheck() override;
  BOOL SetCheckConfiguration(const std::string& strSingleCurrency, const std::string& strMultipleCurrency,
                             const std::string& strCheckLocal, const std::string& strCheckCarrier, DateTime dtCheck,
                             DateTime dtDeposit) override;
  BOOL IsDocumentInserted() override;

  // ---- state of the family
  int nSequence = epson::kFirstSequence;  // the sequence byte of the next frame
  int nLastSequence = -1;                 // the sequence byte of the frame last sent
  std::vector<std::string> arReplyFields;
  int nErrorClass = 0, nErrorDetail = 0;
  int nQuantityDecimals = 3, nUnitPriceDecimals = 2;
  BOOL bSecondReceipt = kFalse;
  // Text lines per management-report command: 15, or 1 for a line each.
  int nReportLinesPerCommand = 15;
  // The application identification sent before a receipt is closed.
  std::string strApplicationId = "TARVION";
  // Customer data given for the next receipt; the base's customer fields
  // hold those of the last receipt opened with them.
  op::PendingCustomer pendingCustomer;
  static constexpr uint32_t kReadConstantMs = 100;

 protected:
  bool Logging() const { return log_.enabled(); }
  // One command: code, extension and fields, sent and checked.
  BOOL Command(uint8_t c1, uint8_t c2, uint8_t e1, uint8_t e2, std::initializer_list<std::string> fields = {});
  exchange::Verdict JudgeFirst(exchange::First kind, uint8_t byte) override;
  BOOL ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply) override;

 private:
  const std::string& Field(size_t i) const;
  // A register read of `n` fields at least; FALSE with the message otherwise.
  BOOL ReadFields(const char* where, uint8_t c1, uint8_t c2, size_t n);
  // The result fields of the last reply, after the return code, one line each.
  std::string ResultText() const;
  long CounterField(size_t i);
  double TotalField(size_t i);
  DateTime DateField(const char* where, uint8_t c1, uint8_t c2, size_t date, size_t time);
  BOOL LoadTable(const char* where, uint8_t e2, std::vector<std::string>& out);
  std::string TaxFieldFor(double rate);
  int firstByte_ = -1;  // a reply's first byte read in place of its ACK
};

}  // namespace tarvion
