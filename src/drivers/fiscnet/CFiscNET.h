// CFiscNET: printers that speak FiscNET, a text protocol of named commands with
// named parameters, answered by a return code and named results. The codec is
// in fiscnet_protocol.h; this class runs the exchange and maps the driver
// operations onto the commands. CElginX5, CItautecFiscNet and CZPM hold only
// what differs.
#pragma once

#include <initializer_list>
#include <string>

#include "core/ecf_base.h"
#include "core/operation.h"
#include "drivers/fiscnet/fiscnet_banks.h"
#include "drivers/fiscnet/fiscnet_protocol.h"

namespace tarvion {

class CFiscNET : public CECFBase {
 public:
  CFiscNET();
  const char* ClassName() const override { return "CFiscNET"; }

  // ---- transport
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL ECFOnline() override;
  BOOL InitialConfiguration() override { return kTrue; }
  int GetParity() override { return 2; }
  BOOL CarregaTimeoutsPorta() override;

  // One Name=value parameter, separated as the frame wants it.
  void AddNamedParameter(const std::string& nameValue);

  // ---- register reads: false (with the printer's message) leaves out untouched
  BOOL ReadInteger(const std::string& name, long& out);
  BOOL ReadIndicator(const std::string& name, BOOL& out);
  BOOL ReadMoney(const std::string& name, double& out);
  BOOL ReadText(const std::string& name, std::string& out);
  BOOL ReadDate(const std::string& name, DateTime& out);
  BOOL ReadTime(const std::string& name, DateParts& out);

  // ---- operations
  BOOL AbreCupomFiscal() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL RegisterService(const std::string& strProductCode, const std::string& strDescription, const std::string& strUnit,
                       double nTaxPercent, double nQuantity, double nUnitValue, double nDiscountValue) override;
  BOOL CancelaItemFiscal(long intItem, const std::string& strDescricao, double nAliquota, double nValor,
                         double nQuantidade, double nDesconto) override;
  BOOL RegistraDescontoItemApos(long intItem, double dblValorDesconto) override;
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
  BOOL LeituraX() override;
  BOOL ReducaoZ(DateTime dtReducao) override;
  BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) override;
  BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) override;
  BOOL LeituraXSerial(std::string& strLeitura) override;
  BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                  BOOL bResumida) override;
  BOOL LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) override;
  BOOL ReadOperationsByDate(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName) override;
  BOOL ReadOperationsByCounter(long intStartCounter, long intFinishCounter, const std::string& strFileName) override;
  BOOL MudaHorarioVerao(BOOL bHabilita) override;
  BOOL VerificaHorarioVerao(BOOL& bOut) override;
  BOOL OpenCashDrawer() override;
  BOOL IsCashDrawerClosed() override;
  BOOL PrintSecondReceipt() override;
  BOOL PrintSecondReport() override;
  BOOL CutPaper() override;
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL IsLowPaper() override;
  BOOL AdicionaFormaPagamento(const std::string& strPaymentType) override;
  BOOL AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) override;
  BOOL AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) override;
  BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames) override;
  BOOL ResetNonFiscalTitles() override;
  BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) override;
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
  BOOL SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                       const std::string& strCustomerAddress) override;

  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override { return LoadPaymentTypes(kFalse); }
  BOOL LoadReports() override;
  BOOL LoadNonFiscalTitles() override;
  int PaymentTypeIndex(const std::string& name) override;
  BOOL RetornaAliquotas(std::string& strOut) override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL ReadSerialNumber(std::string& strOut) override;
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
  std::string GetFirmwareVersion() override;
  long GetOperationCounter() override;
  long GetFiscalReceiptCounter() override;
  long GetNonFiscalCounter() override;
  long GetPaymentReceiptCounter() override;
  long GetManagementReportCounter() override;
  long GetZReportCounter() override;
  long GetRestartCounter() override;
  DateTime GetLastDocumentDateTime() override;
  std::string GetEquipamentMark() override;
  std::string GetEquipamentModel() override;
  std::string GetEquipamentType() override;
  DateTime GetFiscalDate() override;
  long GetLastItemNumber() override;
  DateTime GetDataMovUltimaRZ() override;
  DateTime GetUserDateTime() override;
  short GetUserRestartCounter() override;
  double GetUserGrandTotal() override;
  DateTime GetFirmwareDateTime() override;

  // ---- checks
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
  BOOL ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) override;
  BOOL ReleaseCheck() override;
  BOOL SetCheckConfiguration(const std::string& strSingleCurrency, const std::string& strMultipleCurrency,
                             const std::string& strCheckLocal, const std::string& strCheckCarrier, DateTime dtCheck,
                             DateTime dtDeposit) override;
  BOOL SetCheckAdditionalInfo(const std::string& strAdditionalInfo) override;
  BOOL IsDocumentInserted() override { return kTrue; }

  // ---- state of the family
  int nSequence = 0;     // sequence number of the next frame
  std::string strReply;  // the last checked reply: every result comes from it
  std::string strPaperAdvance = "Avanco=175";
  int nLastPaymentIndex = -1;
  std::vector<double> arPaymentDayTotals;
  std::string strSingleCurrency, strMultipleCurrency, strCheckLocal, strCheckCarrier, strCheckAdditionalInfo;
  DateTime dtCheck{}, dtDeposit{};
  std::string strLastZData;
  BOOL bLastZValid = kFalse;
  // Customer data given for the next receipt; the base's customer fields
  // hold those of the last receipt opened with them.
  op::PendingCustomer pendingCustomer;
  // The read time-out after the last byte of a reply (milliseconds).
  uint32_t nReadConstantMs = kReadConstantMs;

  static constexpr uint32_t kReadConstantMs = 100, kSerialReadConstantMs = 250;

 protected:
  bool Logging() const { return log_.enabled(); }
  // One command: the name and its parameters, sent and checked.
  BOOL Command(const char* name, std::initializer_list<std::string> params = {});
  // The paper advance after a document; its result is not used.
  void Advance();
  // What a model does after a document that succeeded (CItautecFiscNet cuts).
  virtual void AfterDocument() {}
  // The layout table a check is printed with, by firmware version.
  virtual fiscnet::BankTable CheckTable(const std::string& firmware) const;

 private:
  BOOL ReplyReadable() const;
  BOOL ResultWhole(const char* name);
  BOOL SellItem(const char* where, const std::string& code, const std::string& description, const std::string& unit,
                const std::string& taxCode, const std::string& label, double quantity, double unitPrice,
                double discount);
  std::string TaxCode(double rate, char kind, std::string& label);
  std::string PaymentCode(const std::string& name);
  BOOL SerialRead(const char* where, std::string& out);
  BOOL ReadToFile(const char* where, const std::string& path, std::initializer_list<std::string> params);
  BOOL PrintText(const char* where, const std::string& laidOut);
  BOOL EndDocument(const char* where);
  // The simplified fiscal memory report of the last reduction, read back
  // (code page 850), for the values only that report carries.
  BOOL LastReductionReport(const char* where, std::string& out);
  // The last line of the report that names the user, empty when none does.
  std::string UserLine(const char* where);
  BOOL PrintedRead(const char* where, const char* command, std::initializer_list<std::string> params);
  std::string PafText(const std::string& message) const;
  // A register read for an information operation: the fallback when it fails.
  template <class T>
  T Register(BOOL (CFiscNET::*read)(const std::string&, T&), const char* name, T fallback) {
    try {
      T v = fallback;
      return (this->*read)(name, v) ? v : fallback;
    } catch (...) {
      RecordError("CFiscNET::Register", "Erro desconhecido.");
      return fallback;
    }
  }
};

}  // namespace tarvion
