// CSwedaST: Sweda printers of the ST line. Frames carry a sequence byte that
// the printer uses to recognise a repeat: a frame sent again after a lost
// acknowledgement or reply keeps its sequence byte, so the printer answers it
// without running it twice. The codec is in sweda_protocol.h; CSwedaST2500
// holds only its check handling.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "drivers/sweda/sweda_protocol.h"

namespace tarvion {

class CSwedaST : public CECFBase {
 public:
  CSwedaST();
  const char* ClassName() const override { return "CSwedaST"; }

  // ---- transport
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL SendCommand(Frame command) override;
  BOOL SendCommandSerialComm(Frame command);
  BOOL CheckForSuccess() override;
  void ClearBuffers() override;
  BOOL CarregaTimeoutsPorta() override;
  BOOL ECFOnline() override;
  BOOL InitialConfiguration() override { return kTrue; }

  // One '|' parameter.
  void AddParameter(const std::string& text);

  // ---- operations
  BOOL AbreCupomFiscal() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL RegisterService(const std::string& strProductCode, const std::string& strDescription, const std::string& strUnit,
                       double nTaxPercent, double nQuantity, double nUnitValue, double nDiscountValue) override;
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
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
  BOOL SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                       const std::string& strCustomerAddress) override;
  BOOL LeituraX() override;
  BOOL LeituraXSerial(std::string& strLeitura) override;
  BOOL ReducaoZ(DateTime dtReducao) override;
  BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) override;
  BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                  BOOL bResumida) override;
  BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) override;
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
  BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames) override;
  BOOL AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) override;
  BOOL AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) override;
  BOOL ResetNonFiscalTitles() override;
  BOOL SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) override;
  BOOL ResetPAFECFIdentification() override;
  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override { return LoadPaymentTypes(kFalse); }
  BOOL LoadReports() override;
  BOOL LoadNonFiscalTitles() override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  BOOL ReadDateTime(DateTime& dtOut) override;
  BOOL ReadFiscalInformation() override;
  long GetOperationCounter() override;
  long GetZReportCounter() override;
  long GetRestartCounter() override;
  long GetFiscalReceiptCounter() override;
  long GetNonFiscalCounter() override;
  long GetManagementReportCounter() override;
  long GetPaymentReceiptCounter() override;
  double GetFinalGrandTotal() override;
  double GetSaleTotal() override;
  DateTime GetDataMovUltimaRZ() override;
  std::string GetFirmwareVersion() override;
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
  BOOL ReleaseCheck() override;

  // A register read (command 34): the fields of its reply.
  BOOL ReadRegister(const std::string& name, std::vector<std::string>& out);

  // ---- state of the family
  uint8_t nSequence = sweda::kFirstSequence;
  int nMultiReply = 0;            // the next command reads a long report in many replies
  int bCommunicationFailure = 0;  // the last reply check saw code 193
  int bItemOption = 1;            // item registrations carry the extra "A"
  std::string strReport;          // the text of the last long report read
  static constexpr int kAttempts = 5;
  static constexpr uint32_t kFirstByteMs = 20000, kReplyMs = 20000, kReplyLoopMs = 30000, kQuietMs = 10000;
  // Damaged replies refused in a row, and replies read, before one exchange gives up.
  static constexpr int kMaxRepliesRefused = 10;
  static constexpr size_t kMaxRepliesRead = 10000;
  static constexpr uint32_t kPauseMs = 1000, kNakPauseMs = 2000;

 protected:
  bool Logging() const { return log_.enabled(); }
  // ClearBuffers, the code, its parameters, Submit.
  BOOL Command(const char* code, std::initializer_list<std::string> params = {});
  // A command whose one parameter is a number: refused before the wire when it
  // does not fit its field; the operation's result line either way.
  template <class T>
  BOOL NumberCommand(const char* where, const char* code, T value, const fields::Field& f);
  BOOL SerialReport(const char* where, const char* code, std::initializer_list<std::string> params, std::string& out);
  BOOL CheckCommand(double value, const std::string& bank);

  BOOL AwaitAnswer(exchange::PortExchange& x, uint32_t timeoutMs) override;
  exchange::Verdict JudgeFirst(exchange::First kind, uint8_t byte) override;
  BOOL ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply) override;

 private:
  BOOL Exchange(Frame command, bool multi);
  BOOL SellItem(const char* where, char kind, const std::string& code, const std::string& description,
                const std::string& unit, double rate, double quantity, double price, double discount);
  long Counter(const char* reg);
  const char* tag_ = "CSwedaST::SendCommand";
  uint32_t retryPause_ = 0;         // the pause before the next attempt; 0: none
  std::vector<ByteArray> replies_;  // every reply of the last exchange
  uint8_t frameSequence_ = 0;
};

}  // namespace tarvion
