// CSchalterECFIF: the Schalter ECF-IF printers. ESC "f", a command byte,
// fixed-width parameters and a check byte; text lines go raw after ESC "n".
// Every reply starts with its status byte. The codec is in schalter_protocol.h.
#pragma once

#include <string>

#include "core/ecf_base.h"
#include "drivers/schalter/schalter_protocol.h"

namespace tarvion {

class CSchalterECFIF : public CECFBase {
 public:
  CSchalterECFIF();
  const char* ClassName() const override { return "CSchalterECFIF"; }

  // ---- transport
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL ECFOnline() override;
  int GetParity() override { return kEvenParity; }
  BOOL InitialConfiguration() override { return kTrue; }

  // ---- receipts
  BOOL AbreCupomFiscal() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL CancelaItemFiscal(long intItem, const std::string& strDescricao, double nAliquota, double nValor,
                         double nQuantidade, double nDesconto) override;
  BOOL TotalizaCupomFiscalAcrescimo(double nAcrescimo, double nTotalValue) override;
  BOOL TotalizaCupomFiscalDesconto(double nDesconto, double nTotalValue) override;
  BOOL RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) override;
  BOOL FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) override;
  BOOL CancelaCupomFiscal() override;
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL FechaComprovanteVinculado() override;
  BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) override;
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
  BOOL FinishOperation() override;

  // ---- reports
  BOOL AbreRelatorioGerencial() override;
  BOOL ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) override;
  BOOL FechaRelatorioGerencial() override;
  BOOL LeituraX() override;
  BOOL LeituraXSerial(std::string& strLeitura) override;
  BOOL ReducaoZ(DateTime dtReducao) override;
  BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) override;
  BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                  BOOL bResumida) override;
  BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) override;
  BOOL LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) override;
  BOOL MudaHorarioVerao(BOOL bHabilita) override;
  BOOL AuthenticateDocument(const std::string& strAdditionalInfo) override;
  BOOL OpenCashDrawer() override;
  BOOL IsCashDrawerClosed() override;
  BOOL IsLowPaper() override;
  BOOL ResetNonFiscalTitles() override;

  // ---- tables and registers
  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override { return LoadPaymentTypes(kFalse); }
  BOOL LoadNonFiscalTitles() override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  BOOL ReadDateTime(DateTime& dtOut) override;
  BOOL ReadFiscalInformation() override;
  long GetOperationCounter() override;
  long GetPrinterID() override;
  double GetSaleTotal() override;
  double GetCancelTotal() override;
  double GetDiscountTotal() override;
  double GetIncreaseTotal() override;
  double GetFinalGrandTotal() override;

  // The printer index of a payment type ("01"), empty when the list lacks it.
  std::string PaymentIndex(const std::string& name) const;
  // The printer code of a tax rate ("17", "03"), empty when the list lacks it.
  std::string TaxCode(double rate) const;

  // The wait for the online probe's answer (milliseconds).
  static constexpr uint32_t kProbeMs = 5000;
  // The pause before the identity read is asked once more (milliseconds).
  static constexpr uint32_t kIdentityRetryMs = 250;

 protected:
  // One command: its byte and its parameters, through the command cycle.
  BOOL Command(uint8_t code, const std::string& params = {});
  // Text printed line by line with ESC "n".
  BOOL PrintLines(const std::string& text);
  // Closes every linked receipt the printer still waits for.
  BOOL SettlePending(const char* where);

 private:
  // A read of one table entry: the command with the index "%02i".
  BOOL ReadEntry(uint8_t code, int index);
  // One total of the 0x12 read, 0 when it cannot be read.
  double Total(const char* where, size_t field);
};

}  // namespace tarvion
