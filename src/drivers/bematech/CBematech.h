// CBematech: the driver of the Bematech printers that speak the binary
// ESC-prefixed protocol, and the root of the family (the FS-prefixed models
// derive from it). One command travels as STX NBL NBH PREFIX CMD [SUB] PARAMS
// CSL CSH; the printer answers ACK (or NAK), then the data of the command, then
// the status bytes ST1 ST2 (and ST3, two bytes, with the FS prefix).
//
// The parameter formatting lives in free functions (namespace bematech::fmt,
// in bematech_protocol.h) so that every field can be checked without a port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "core/fields.h"
#include "drivers/bematech/bematech_protocol.h"

namespace tarvion {

class CBematech : public CECFBase {
 public:
  CBematech();
  const char* ClassName() const override { return "CBematech"; }
  // The row's prefix, print head, cutter, check reader and CMC-7 reader, which
  // every Bematech row gives: what tells the models of the family apart.
  void Configure(const caps::ModelRow& row) override;

  // ---- the exchange ----
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  std::string OversizedCommand() const override;
  void ClearBuffers() override;
  BOOL ECFOnline() override;
  BOOL InitialConfiguration() override;
  BOOL ContinueComm() override;
  // Waits for a document in the check slot (the sensor polled with 62/"0").
  virtual BOOL WaitCheckEvent();

  // ---- the sale ----
  BOOL AbreCupomFiscal() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL RegisterService(const std::string& strProductCode, const std::string& strDescription, const std::string& strUnit,
                       double nTaxPercent, double nQuantity, double nUnitValue, double nDiscountValue) override;
  BOOL CancelaItemFiscal(long intItem, const std::string& strDescricao, double nAliquota, double nValor,
                         double nQuantidade, double nDesconto) override;
  BOOL CancelaCupomFiscal() override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL TotalizaCupomFiscalAcrescimo(double nAcrescimo, double nTotalValue) override;
  BOOL TotalizaCupomFiscalDesconto(double nDesconto, double nTotalValue) override;
  BOOL RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) override;
  BOOL FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) override;
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) override;
  BOOL FechaComprovanteVinculado() override;
  BOOL AbreRelatorioGerencial() override;
  BOOL ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) override;
  BOOL FechaRelatorioGerencial() override;
  BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) override;
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
  BOOL SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                       const std::string& strCustomerAddress) override;

  // ---- the printer's tables ----
  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override;
  BOOL LoadNonFiscalTitles() override;
  BOOL AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) override;
  BOOL AdicionaFormaPagamento(const std::string& strPaymentType) override;
  BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames) override;
  BOOL AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) override;
  BOOL ResetNonFiscalTitles() override;

  // ---- reports and the fiscal memory ----
  BOOL LeituraX() override;
  BOOL LeituraXSerial(std::string& strLeitura) override;
  BOOL ReducaoZ(DateTime dtReducao) override;
  BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) override;
  BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                  BOOL bResumida) override;
  BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) override;
  BOOL LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) override;

  // ---- printer state ----
  BOOL VerificaHorarioVerao(BOOL& bOut) override;
  BOOL MudaHorarioVerao(BOOL bHabilita) override;
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL OpenCashDrawer() override;
  BOOL IsCashDrawerClosed() override;
  BOOL IsLowPaper() override;
  BOOL AuthenticateDocument(const std::string& strAdditionalInfo) override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  BOOL ReadDateTime(DateTime& dtOut) override;
  BOOL ReadFiscalInformation() override;

  // ---- counters, totals, dates ----
  double GetSaleTotal() override;
  double GetCancelTotal() override;
  double GetDiscountTotal() override;
  double GetIncreaseTotal() override;
  double GetFinalGrandTotal() override;
  long GetPrinterID() override;
  short GetUserNumber() override;
  DateTime GetUserDateTime() override;
  short GetUserRestartCounter() override;
  double GetUserGrandTotal() override;
  std::string GetFirmwareVersion() override;
  long GetOperationCounter() override;
  long GetNonFiscalCounter() override;
  double GetNonFiscalTotal() override;
  long GetZReportCounter() override;
  long GetRestartCounter() override;
  long GetLastItemNumber() override;
  BOOL GetPendingZReport() override;
  DateTime GetFiscalDate() override;
  DateTime GetDataMovUltimaRZ() override;

  // ---- checks (command 57; the CMC-7 read with command 76) ----
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
  BOOL ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) override;
  BOOL SetCheckConfiguration(const std::string& strSingleCurrency, const std::string& strMultipleCurrency,
                             const std::string& strCheckLocal, const std::string& strCheckCarrier, DateTime dtCheck,
                             DateTime dtDeposit) override;

  // ---- accepted without a printer command ----
  BOOL DisplaySubtotal() override;
  BOOL SetOperator(const std::string& strOperator) override;
  BOOL DisplayText(const std::string& strFirstLine, const std::string& strSecondLine) override;
  BOOL IsDocumentInserted() override;
  BOOL PrintSecondReceipt() override;
  BOOL PrintSecondReport() override;
  BOOL CanCancelReceipt() override;

  // ---- Bematech data ----
  uint8_t nPrefix = bematech::kESC;  // ESC here, FS in the derived models
  double nFirmware = 0.0;            // from InitialConfiguration; 0 until then
  BOOL bCutPaymentsOnZ = kTrue;      // a Z reduction ends all but the first two payment types
  // End the reply read as soon as a reply of known length is complete, instead
  // of waiting for the line to go idle (same bytes, less waiting).
  BOOL bEndOnKnownLength = kTrue;
  // The check station reads the CMC-7 line.
  bool bCmc7Reader = true;
  std::string strReceiptCustomerId;  // customer id of the open receipt
  std::string strReceiptNumber;      // last receipt number read by GetOperationCounter
  DateTime dtDataMovUltimaRZ = DateTime::invalid();
  // The check data kept by SetCheckConfiguration for the next check.
  std::string strCheckCity, strCheckPayee, strCurrencySingular, strCurrencyPlural;
  DateTime dtCheck = DateTime::invalid(), dtDeposit = DateTime::invalid();

 protected:
  // ---- shared by the models of the family; `where` is the name their logs carry ----
  // Checks: the CMC-7 read (76), the check print (57) and the two in a row.
  BOOL ReadCmc7(const char* where, BOOL bKeepCheck, std::string& strCheckInfo, bool dropLetters);
  BOOL PrintCheck57(const char* where, double nValue, const std::string& strBankNumber);
  BOOL ReadThenPrint(const char* where, double nValue, const std::string& strBankNumber, std::string& strCheckInfo);
  // Polls the document sensor (62 "0") until ready(sensor byte) or the wait runs out.
  BOOL WaitDocument(const char* where, bool (*ready)(uint8_t));
  // The readings and tables that CBematech2000 and CBematechMP25 share.
  BOOL ReadSerial20(const char* where, std::string& strOut);
  BOOL ReceiptOpenFs(const char* where, BOOL& bOut);
  BOOL SendSimple(const char* where, uint8_t command);
  BOOL OpenLinkedLong(const char* where, const std::string& strPaymentType, double nValor,
                      const std::string& strNumeroCupom);
  BOOL LoadPayments2000(const char* where, BOOL bLoadValues);
  BOOL LoadTitles2000(const char* where);
  BOOL AddMissingPayments(const char* where, const std::vector<std::string>& arNames, size_t most);
  double SaleTotal2000(const char* where);
  BOOL LoadReports2000(const char* where);
  BOOL OpenReport2000(const char* where, const std::string& strReportName);
  BOOL FiscalInformation2000(const char* where);
  // The tax label of an item rate; false when the printer lacks the rate.
  bool FindTaxLabel(double rate, bool service, std::string& label);
  // Submit for a command whose reply length the protocol does not fix: the
  // reply is read until the line goes idle.
  BOOL SubmitToIdle();

  // Item registration after the tax lookup (command 63).
  virtual BOOL RegisterItem(const std::string& strCode, const std::string& strDescription, const std::string& strUnit,
                            const std::string& strLabel, double nQuantity, double nUnitValue, double nDiscount);
  bool FsPrefix() const { return nPrefix == bematech::kFS; }
  // "<class>::<operation>" for the model that runs an operation the family shares.
  std::string Where(const char* operation) const { return std::string(ClassName()) + "::" + operation; }
  size_t StatusSize() const { return FsPrefix() ? 4 : 2; }
  bool Logging() const { return log_.enabled(); }
  // The reply without its trailing status bytes (data commands).
  size_t DataSize() const { return arAnswer.size() > StatusSize() ? arAnswer.size() - StatusSize() : 0; }
  // Sends command 35 (or 62) with a sub-code; TRUE when it succeeded with at least
  // `need` data bytes.
  BOOL ReadInfo(uint8_t command, uint8_t sub, size_t need);
  // BCD number of the first n reply bytes of a 35 read; nullopt when the read failed.
  std::optional<long double> ReadBcd(uint8_t sub, size_t n, const char* where);
  // Appends the text of the class's extended status table for ST3 of the reply.
  void AppendSt3(bematech::St3Table table);

 protected:
  // Sends report or linked-receipt text (commands 20 and 67) the way the model
  // prints it.
  virtual BOOL SendReportText(uint8_t command, const std::string& text);
  // What every non-fiscal receipt does first: log the call, forget the last
  // sale, refuse an amount that is not positive.
  bool StartNonFiscalReceipt(const char* where, double nValue, const std::string& strTitle,
                             const std::string& strPaymentType);

 private:
  BOOL TaxLabelFor(double rate, bool service, std::string& label, const char* where);
  BOOL RegisterWithTax(const char* where, bool service, const std::string& code, const std::string& description,
                       const std::string& unit, double rate, double quantity, double unitPrice, double discount);
  BOOL TextRead(std::string& out);
  BOOL ReadUserRecord(ByteArray& record, const char* where);
  std::string PaymentNameFor(int index);
  int PaymentIndexOrCash(const std::string& name);
  // The family's steps of the command cycle: NAK refuses the frame; over USB
  // the device driver's read does the waiting and reading.
  exchange::Verdict JudgeFirst(exchange::First kind, uint8_t byte) override;
  BOOL AwaitAnswer(exchange::PortExchange& x, uint32_t timeoutMs) override;
  BOOL ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply) override;
  // expected: the reply's length when the command fixes it, 0 when unknown.
  BOOL ReadUsbReply(size_t expected);
  bool ReplyFits(size_t size) const;
  BOOL LineCheck(const char* where, bool logStep);
  size_t ExpectedReply() const;
};

}  // namespace tarvion
