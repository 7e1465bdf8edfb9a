// CECFCV2009: the driver of the printers that speak the 2009 command set
// (binary frames with a sequence number, a 16-bit command code and text
// parameters each closed by '|'). The frame and status codec is in
// cv2009_protocol.h; this class runs the exchange (ACK then ENQ for the reply,
// DC1 busy pauses, NAK with class and code, SYN resynchronisation, replies in
// blocks, a reply for another frame answered by sending the same frame again)
// and the fiscal operations on it.
#pragma once

#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "drivers/cv2009/cv2009_protocol.h"

namespace tarvion {

class CECFCV2009 : public CECFBase {
 public:
  explicit CECFCV2009(int intFabricante);
  const char* ClassName() const override { return "CECFCV2009"; }

  // ---- transport
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL GetCommState() override;
  int GetParity() override { return nParity; }
  BOOL InitialConfiguration() override;
  BOOL ECFOnline() override;
  BOOL CloseComm() override;
  BOOL EnviaComandoECF(const ByteArray& command, ByteArray& answer) override;

  // ---- documents
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
  BOOL TotalizaCupomFiscalAcrescimo(double nAcrescimo, double nTotalValue) override;
  BOOL TotalizaCupomFiscalDesconto(double nDesconto, double nTotalValue) override;
  BOOL RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) override;
  BOOL FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) override;
  BOOL CancelaCupomFiscal() override;
  BOOL RetornaNumeroCupom(std::string& strNumeroCupom) override;
  BOOL SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                       const std::string& strCustomerAddress) override;
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) override;
  BOOL FechaComprovanteVinculado() override;
  BOOL OpenNamedReport(const std::string& strReportName) override;
  BOOL AbreRelatorioGerencial() override;
  BOOL ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) override;
  BOOL FechaRelatorioGerencial() override;
  BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) override;
  BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) override;
  BOOL OpenCashDrawer() override;
  BOOL CutPaper() override;

  // ---- reports and the day
  BOOL LeituraX() override;
  BOOL LeituraXSerial(std::string& strLeitura) override;
  BOOL ReducaoZ(DateTime dtReducao) override;
  BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) override;
  BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                  BOOL bResumida) override;
  BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) override;
  BOOL LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) override;
  BOOL LeMFDataBIN(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName) override;
  BOOL LeMFContZBIN(long intStartCounter, long intFinishCounter, const std::string& strFileName) override;
  BOOL ReadOperationsByDate(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName) override;
  BOOL ReadOperationsByCounter(long intStartCounter, long intFinishCounter, const std::string& strFileName) override;
  BOOL ReadCFeXML(const std::string& strIdCFeI, const std::string& strIdCFeF, long intTipo, BOOL bParaArquivo,
                  std::string& strXML) override;
  BOOL ReadCFeKey(const std::string& strIdCFe, long intTipo, std::string& strKey) override;
  BOOL MudaHorarioVerao(BOOL bHabilita) override;
  BOOL VerificaHorarioVerao(BOOL& bOut) override;
  BOOL SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) override;
  BOOL ResetPAFECFIdentification() override;

  // ---- tables
  BOOL LoadTaxes() override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override { return LoadPaymentTypes(kFalse); }
  BOOL LoadNonFiscalTitles() override;
  BOOL LoadReports() override;
  BOOL AdicionaFormaPagamento(const std::string& strPaymentType) override;
  BOOL AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) override;
  BOOL AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) override;
  BOOL ResetNonFiscalTitles() override;
  BOOL RetornaAliquotas(std::string& strOut) override;

  // ---- printer information
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL IsLowPaper() override;
  BOOL IsCashDrawerClosed() override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  BOOL ReadDateTime(DateTime& dtOut) override;
  BOOL ReadFiscalInformation() override;
  BOOL DiscountISSQN(std::string& strOut) override;
  BOOL GetPendingZReport() override;
  double GetSaleTotal() override;
  double GetCancelTotal() override;
  double GetDiscountTotal() override;
  double GetIncreaseTotal() override;
  double GetUserGrandTotal() override;
  double GetNonFiscalTotal() override;
  long GetPrinterID() override;
  std::string GetFirmwareVersion() override;
  long GetOperationCounter() override;
  long GetFiscalReceiptCounter() override;
  long GetNonFiscalCounter() override;
  long GetPaymentReceiptCounter() override;
  long GetManagementReportCounter() override;
  long GetZReportCounter() override;
  long GetRestartCounter() override;
  DateTime GetLastDocumentDateTime() override;
  DateTime GetDataMovUltimaRZ() override;
  DateTime GetFiscalDate() override;

  // ---- the layer's own operations
  // True for ACK and class 0 (whose flag byte sets bMaisBlocos and intBloco);
  // otherwise strLastError gets the class and code's message.
  BOOL TrataRetorno(const ByteArray& reply);
  // Asks with ENQ (or the stored frame, after a reply to another frame) until
  // the answer is neither ACK nor busy.
  BOOL AguardaOcupado();
  // Raises DTR and RTS and waits for the first reply byte.
  BOOL WaitForReplyData(uint32_t timeoutMs);
  // SETRTS 3, CLRRTS 4, SETDTR 5, CLRDTR 6, each only when the port's settings
  // give the line to the program; any other number is refused.
  BOOL ChamaEscapeCommFunction(int function);
  static std::vector<std::string> SplitReplyFields(const ByteArray& data) { return cv2009::splitFields(data); }
  static DateTime ParseDateTimeText(const std::string& s) { return cv2009::parseDateTimeText(s); }
  // The serial number (20 characters) and the application identification kept
  // in the key store between sessions.
  BOOL ObtemRegPAFECFIdentification(std::string& strSerial, std::string& strIdent);
  BOOL AtribuiRegPAFECFIdentification(const std::string& strSerial, const std::string& strIdent);
  // Bold markup passed on (or dropped), the host's other tags dropped, CR LF as LF.
  std::string FormatPrinterLines(const std::string& s) const;

  // Maker code given by the model table (1 Bematech, 2 Epson, 3 Daruma).
  int intFabricante = 0;
  int intSequencia = 0;
  uint8_t intSequenciaEnviada = 0;
  ByteArray arUltimoComando;
  bool bReenviaComando = false;
  bool bMaisBlocos = false;
  uint8_t intBloco = 0;
  int intTimeoutResposta = 2000;
  ByteArray arResposta;
  // The host closed the port: the line probe opens it again first. Cleared
  // once the probe finds the port open.
  bool bPortaFechada = false;
  BOOL bSuportaNegrito = kTrue;
  BOOL bBaseCalculoDoECF = kFalse;
  // The data fields of the last reply frame.
  std::vector<std::string> arCampos;

  // A payment of the last closed receipt, as its closing reply lists it.
  struct PagamentoCupom {
    int sequencia = 0, indice = 0, parcelas = 0;
    double valor = 0.0;
    bool usado = false;
  };
  std::vector<PagamentoCupom> arPagamentosCupom;
  std::string strUltimoCOO;

  // The longest a printer may stay busy (DC1, ACK) before the wait gives up.
  static constexpr uint32_t kBusyLimitMs = 120000;

 protected:
  bool Logging() const { return log_.enabled(); }
  // The line controls a configured handshake gets.
  virtual uint8_t DtrControl() const { return kDtrEnable; }
  virtual uint8_t RtsControl() const { return kRtsEnable; }
  // One command of the operation pattern: code and parameters (each closed by
  // '|'), the exchange, ENQ for the reply when needed, the sequence check, the
  // reply's fields in arCampos. A command whose reply carries data fails
  // without a reply frame for it.
  BOOL Execute(const char* where, uint16_t code, const std::vector<std::string>& params, bool needsReply = false);
  // Information read 0x001A group|item|.
  BOOL ReadInfo(const char* where, int group, int item);
  // A long read whose reply comes in blocks; field 0 of each block is appended.
  BOOL ReadBlocks(const char* where, uint16_t code, const std::vector<std::string>& params, std::string& out);
  // Writes a read to the host's file through a temporary name.
  BOOL WriteHostFile(const char* where, const std::string& path, const std::string& data);
  BOOL ReadFiscalMemory(const char* where, char mode, const std::string& d0, const std::string& d1,
                        const std::string& c0, const std::string& c1, std::string* out);
  BOOL ReadMemoryToFile(const char* where, uint16_t code, int mode, const std::string& d0, const std::string& d1,
                        const std::string& c0, const std::string& c1, const std::string& file);
  // The tax code of an item: "T01" found by rate in the loaded table, or the
  // fixed codes of 0, -1 and -2; empty with strLastError set otherwise.
  std::string TaxCode(double percent, bool service);
  BOOL RegisterItem(const char* where, const std::string& code, const std::string& description, const std::string& unit,
                    double tax, double quantity, double price, double discount, bool service);
  // The quantity parameters of an item (digits and decimals).
  virtual bool QuantityParams(double quantity, std::string& digits, std::string& decimals, std::string& error);
  // Hooks around the commands that start or end a document (the V2 driver
  // keeps the last document's time).
  virtual void DocumentStarting() {}
  virtual void DocumentDone(BOOL /*ok*/) {}
  // The character set of the text of customers, reports, linked receipts
  // and closing messages (the V2 driver's printers read code page 850).
  virtual const text::Charset& PrinterCharset() const { return text::charset::windows1252(); }
  // Host text in that character set.
  std::string PrinterText(const std::string& s) const;
  BOOL ImprimeCCDouRG(const char* where, const std::string& text);
  BOOL FechaCCDouRG(const char* where);
  BOOL RegistraSangriaFundoTroco(const char* where, int title, double value, const std::string& message);
  long ReadCounter(const char* where, int group, int item);
  double ReadAmount(const char* where, int group, int item);
  // The family's steps of the command cycle: DTR and RTS raised for the wait
  // and dropped after every attempt; the reply judged by its first byte.
  BOOL AwaitAnswer(exchange::PortExchange& x, uint32_t timeoutMs) override;
  void AfterAttempt(int attempt, const exchange::Plan& plan, exchange::Verdict verdict) override;
  exchange::Verdict JudgeReply(bool framed);
};

}  // namespace tarvion
