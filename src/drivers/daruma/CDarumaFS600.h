// CDarumaFS600: Daruma printers of the FS600 family (FS600, FS700, FS2100T),
// framed commands of a letter and a code byte with an exclusive-or check byte,
// register reads sent bare, replies from their first ':'. The codec is in
// daruma_protocol.h; this class runs the exchange and maps the driver
// operations onto the commands. CDarumaMach2 differs only in its serial line.
#pragma once

#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "core/operation.h"
#include "drivers/daruma/daruma_protocol.h"

namespace tarvion {

class CDarumaFS600 : public CECFBase {
 public:
  CDarumaFS600();
  const char* ClassName() const override { return "CDarumaFS600"; }

  // ---- transport
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL ECFOnline() override;
  BOOL CarregaTimeoutsPorta() override;
  BOOL InitialConfiguration() override;

  // The value of a register (from offset 5 of its reply); false with the
  // message leaves value untouched.
  BOOL ReadRegister(int number, std::string& value);

  // ---- the receipt
  BOOL SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                       const std::string& strCustomerAddress) override;
  BOOL AbreCupomFiscal() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL RegisterService(const std::string& strProductCode, const std::string& strDescription, const std::string& strUnit,
                       double nTaxPercent, double nQuantity, double nUnitValue, double nDiscountValue) override;
  BOOL RegistraDescontoItemApos(long intItem, double dblValorDesconto) override;
  BOOL CancelaItemFiscal(long intItem, const std::string& strDescricao, double nAliquota, double nValor,
                         double nQuantidade, double nDesconto) override;
  BOOL CancelaDescontoItem(long intItem, BOOL bAcrescimo) override;
  BOOL TotalizaCupomFiscalDesconto(double nDesconto, double nTotalValue) override;
  BOOL TotalizaCupomFiscalAcrescimo(double nAcrescimo, double nTotalValue) override;
  BOOL RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) override;
  BOOL FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) override;
  BOOL CancelaCupomFiscal() override;
  BOOL CupomFiscalAberto(BOOL& bOut) override;

  // ---- other documents
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL FechaComprovanteVinculado() override;
  BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) override;
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
  BOOL OpenNamedReport(const std::string& strReportName) override;
  BOOL AbreRelatorioGerencial() override;
  BOOL FechaRelatorioGerencial() override;

  // ---- reports
  BOOL LeituraX() override;
  BOOL LeituraXSerial(std::string& strLeitura) override;
  BOOL ReducaoZ(DateTime dtReducao) override;
  BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) override;
  BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                  BOOL bResumida) override;
  BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) override;
  BOOL LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) override;

  // ---- settings and peripherals
  BOOL AdicionaFormaPagamento(const std::string& strPaymentType) override;
  BOOL MudaHorarioVerao(BOOL bHabilita) override;
  BOOL VerificaHorarioVerao(BOOL& bOut) override;
  BOOL ResetNonFiscalTitles() override;
  BOOL SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) override;
  BOOL GetPAFECFIdentification(std::string& strLine1, std::string& strLine2) override;
  BOOL ResetPAFECFIdentification() override;
  BOOL CutPaper() override;
  BOOL OpenCashDrawer() override;
  BOOL DiscountISSQN(std::string& strOut) override;

  // ---- tables
  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override { return LoadPaymentTypes(kFalse); }
  BOOL LoadNonFiscalTitles() override;
  BOOL LoadReports() override;

  // ---- information
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  BOOL ReadDateTime(DateTime& dtOut) override;
  BOOL ReadFiscalInformation() override;
  BOOL GetPendingZReport() override;
  double GetSaleTotal() override;
  double GetCancelTotal() override;
  double GetDiscountTotal() override;
  double GetIncreaseTotal() override;
  double GetFinalGrandTotal() override;
  double GetNonFiscalTotal() override;
  long GetPrinterID() override;
  short GetUserNumber() override;
  DateTime GetUserDateTime() override;
  short GetUserRestartCounter() override;
  std::string GetFirmwareVersion() override;
  DateTime GetFirmwareDateTime() override;
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

  // ---- state of the family
  int nQuantityDecimals = 2, nPriceDecimals = 2;
  // The printer's slot number (from 1) of each loaded payment type and report.
  std::vector<int> arPaymentSlots, arReportSlots;
  // Customer data given for the next receipt.
  op::PendingCustomer pendingCustomer;

  // The read time-out after the last byte of a reply (milliseconds).
  // Waits for the first byte of an answer (milliseconds).
  static constexpr uint32_t kAnswerMs = 20000, kProbeMs = 5000;

 protected:
  // One command: its letter and code byte, and its parameters; sent and checked.
  BOOL Command(uint8_t letter, uint8_t code, const std::string& params = {});
  // A counter, total or text read for an information operation: the fallback
  // when the read fails.
  long CounterRegister(const char* where, int number);
  double TotalRegister(const char* where, int number);
  std::string TextRegister(const char* where, int number);
  DateTime StampRegister(const char* where, int number, size_t length);

 private:
  BOOL SellItem(const char* where, const std::string& code, const std::string& description, const std::string& unit,
                const std::string& taxField, const std::string& label, double quantity, double unitPrice,
                double discount);
  // The tax field of an item and its label, or empty with the message.
  std::string TaxField(double rate, bool service, std::string& label);
  // The printer's number of a payment name (from 1), or -1 with the message.
  int PaymentSlot(const std::string& name);
  BOOL MemoryRead(const char* where, BOOL bResumida, const std::string& first, const std::string& last);
  // The 15-character slots of a table register: the names and their slot numbers.
  BOOL ReadSlots(int number, std::vector<std::string>& names, std::vector<int>& slots, bool reports);
  BOOL SendPafLines(const char* where, const std::string& line1, const std::string& line2);
};

}  // namespace tarvion
