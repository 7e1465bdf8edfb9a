// CDaruma: the older Daruma printers (FS-345): ESC and a command byte, then the
// parameters; replies from their first ':' to the CR, where ":Edd" is an
// error. After every reply the host releases the printer with ESC 239 and
// waits for its answer. The codec is in daruma_protocol.h.
#pragma once

#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "core/operation.h"
#include "drivers/daruma/daruma_protocol.h"

namespace tarvion {

class CDaruma : public CECFBase {
 public:
  CDaruma();
  const char* ClassName() const override { return "CDaruma"; }

  // ---- transport
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL ECFOnline() override;
  BOOL CarregaTimeoutsPorta() override;
  BOOL InitialConfiguration() override { return kTrue; }

  // ---- operations
  BOOL SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                       const std::string& strCustomerAddress) override;
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
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL FechaComprovanteVinculado() override;
  BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) override;
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
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
  BOOL AdicionaFormaPagamento(const std::string& strPaymentType) override;
  BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames) override;
  BOOL AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) override;
  BOOL AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) override;
  BOOL MudaHorarioVerao(BOOL bHabilita) override;
  BOOL VerificaHorarioVerao(BOOL& bOut) override;
  BOOL IsLowPaper() override;
  BOOL OpenCashDrawer() override;
  BOOL DisplayText(const std::string& strFirstLine, const std::string& strSecondLine) override;

  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override { return LoadPaymentTypes(kFalse); }
  BOOL LoadNonFiscalTitles() override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  BOOL ReadDateTime(DateTime& dtOut) override;
  BOOL ReadFiscalInformation() override;
  double GetSaleTotal() override;
  double GetCancelTotal() override;
  double GetDiscountTotal() override;
  double GetIncreaseTotal() override;
  double GetFinalGrandTotal() override;
  double GetNonFiscalTotal() override;
  long GetZReportCounter() override;
  long GetRestartCounter() override;
  short GetUserNumber() override;
  DateTime GetUserDateTime() override;

  // The data of the last reply: what follows its ':'.
  std::string strReply;
  op::PendingCustomer pendingCustomer;

  // The read time-out after the last byte of a reply (milliseconds).
  // Waits for the first byte of an answer and of the release's answer (milliseconds).
  static constexpr uint32_t kAnswerMs = 120000, kReleaseMs = 5000, kProbeMs = 5000;
  // The header line of the users in a fiscal-memory read.
  static constexpr const char* kUserHeader = "  Data    Hora          Venda Bruta    CRO   CRZ";

 protected:
  // One command: its byte and its parameters; sent, checked and released.
  BOOL Command(uint8_t code, const std::string& params = {});
  // A read: the command's reply data into strReply.
  BOOL Read(const char* where, uint8_t code);

 private:
  // Writes ESC 239 and waits for its answer, which is not kept.
  BOOL Release();
  BOOL MemoryRead(const char* where, char kind, const std::string& first, const std::string& last);
  // A run of digits of the reply data; false when they are not digits.
  bool Digits(size_t at, size_t n, long long& out) const;
  // One total of the day (command 240) in cents as money.
  double DayTotal(const char* where, size_t field);
  // The user lines of the fiscal memory: those after the header line.
  BOOL UserLines(const char* where, std::vector<std::string>& out);
};

}  // namespace tarvion
