// CBematech2000: the first FS-prefixed model (MP-2000 TH FI) and the base of
// the MP-2100, MP-3000/4000/6000, MP-7000 and the IBM 4610 SureMark. Its replies
// end with the extended status ST3, read against the MP-2000 table. Next to
// the common protocol it has its own readings (the 35 sub-codes 40, 41, 49 to
// 55, 60, 64, 76 and commands 87, 88), prints text in code page 850 with bold
// marks, takes the customer on the receipt's opening, discounts an item after
// the fact, cuts the paper and carries the PAF-ECF identification, which the
// driver also keeps in the user's key store to know whether the printer has it.
#pragma once

#include "drivers/bematech/CBematech.h"

namespace tarvion {

class CBematech2000 : public CBematech {
 public:
  CBematech2000();
  const char* ClassName() const override { return "CBematech2000"; }
  BOOL CheckForSuccess() override;

  // ---- the sale ----
  BOOL AbreCupomFiscal() override;
  BOOL FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL RegistraDescontoItemApos(long intItem, double dblValorDesconto) override;
  BOOL CancelaDescontoItem(long intItem, BOOL bAcrescimo) override;
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL FechaRelatorioGerencial() override;
  BOOL OpenNamedReport(const std::string& strReportName) override;
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
  BOOL PrintSecondReceipt() override;
  BOOL AuthenticateDocument(const std::string& strAdditionalInfo) override;
  BOOL CutPaper() override;

  // ---- the printer's tables ----
  BOOL LoadReports() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override;
  BOOL LoadNonFiscalTitles() override;
  BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames) override;

  // ---- readings ----
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  BOOL ReadFiscalInformation() override;
  double GetSaleTotal() override;
  std::string GetFirmwareVersion() override;
  long GetFiscalReceiptCounter() override;
  long GetPaymentReceiptCounter() override;
  long GetManagementReportCounter() override;
  double GetNonFiscalTotal() override;
  DateTime GetLastDocumentDateTime() override;
  long GetOperationCounter() override;
  BOOL DiscountISSQN(std::string& strOut) override;
  std::string GetEquipamentMark() override;
  std::string GetEquipamentModel() override;
  std::string GetEquipamentType() override;
  BOOL ReadOperationsByDate(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName) override;
  BOOL ReadOperationsByCounter(long intStartCounter, long intFinishCounter, const std::string& strFileName) override;

  // ---- PAF-ECF identification ----
  BOOL SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) override;
  BOOL ResetPAFECFIdentification() override;
  // The stored "PEID": its first 20 characters are the serial number of the
  // printer that got the identification, the rest is the identification.
  BOOL ObtemRegPAFECFIdentification(std::string& strSerial, std::string& strIdentification);
  BOOL AtribuiRegPAFECFIdentification(const std::string& strSerial, const std::string& strIdentification);

  // The printer's own character conversion (code page 850 with its exceptions).
  std::string FormatPrinterText(const std::string& text);

  // The identification lines the printer was given, and whether it got them.
  std::string strIdentificacao1, strIdentificacao2;
  BOOL bIdentificacaoEnviada = kFalse;
  // The customer of the open receipt, as given to AbreCupomFiscal.
  std::string strReceiptCustomerName, strReceiptCustomerAddress;

  // Where the identification is kept (current user).
  static constexpr const char* kPafKey = "Software\\Norvex Dirazido\\NorvexPOS\\Bematech\\";
  static constexpr const char* kPafValue = "PEID";

 private:
  // A text for paper: ESC t 2, then the text converted and laid out.
  std::string PrinterPaper(const std::string& text);
  BOOL SendReportText(uint8_t command, const std::string& text) override;
  BOOL ReadEquipment(const char* where, std::string& mark, std::string& model, std::string& type);
  // The receipt number (35/6) with the retries of a printer that is still busy.
  BOOL ReadReceiptNumber(long& number, const char* where);
  BOOL SendIdentification(const char* where, const std::string& identification);
};

}  // namespace tarvion
