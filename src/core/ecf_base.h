// CECFBase: the base of every printer driver. The control reaches a driver only
// through these virtual operations (in this fixed order) and the public members.
// A plain CECFBase is also a driver: every printer operation submits the pending
// (empty) command and succeeds without effect.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/channel.h"
#include "core/datetime.h"
#include "core/exchange.h"
#include "core/oplog.h"
#include "core/types.h"

namespace tarvion {

namespace caps {
struct ModelRow;
}

struct TaxEntry {
  double percent = 0.0;
  double baseValue = 0.0;
  std::string title;
};

class CECFBase {
 public:
  CECFBase();
  virtual ~CECFBase();
  CECFBase(const CECFBase&) = delete;
  CECFBase& operator=(const CECFBase&) = delete;

  // The class name the model tables know this driver by.
  virtual const char* ClassName() const { return "CECFBase"; }
  // Applies what a model row says of its printer on top of the class's own
  // settings, once the control has created the row's class: the columns and the
  // USB interface class when the row gives them. A family overrides it for what
  // its rows tell apart; a field a row leaves unset keeps the class's value.
  virtual void Configure(const caps::ModelRow& row);

  // ---- the virtual operations ----
  /*  0*/ virtual BOOL CheckForSuccess();
  /*  1*/ virtual BOOL SendCommand(Frame command);
  /*  2*/ virtual Frame BuildCommand(const ByteArray& command, const ByteArray& parameters);
  /*  3*/ virtual int NonFiscalTitlesIndex(const std::string& title);
  /*  4*/ virtual int ReportIndex(const std::string& name);
  /*  5*/ virtual int PaymentTypeIndex(const std::string& name);
  /*  6*/ virtual std::string PaymentType(int index);
  /*  7*/ virtual double PaymentTypeValue(int index);
  /*  8*/ virtual void ClearBuffers();
  /*  9*/ virtual BOOL OpenComm(BOOL bReadPrinterInfo);
  /* 10*/ virtual BOOL LoadECFInfo(BOOL bReadPrinterInfo);
  /* 11*/ virtual BOOL CloseComm();
  /* 12*/ virtual BOOL GetCommState();
  /* 13*/ virtual BOOL SetCommState();
  /* 14*/ virtual BOOL CarregaTimeoutsPorta();
  /* 15*/ virtual BOOL SetCommTimeouts();
  /* 16*/ virtual int GetParity();
  /* 17*/ virtual BOOL InitialConfiguration();
  /* 18*/ virtual BOOL PauseComm();
  /* 19*/ virtual BOOL ContinueComm();
  /* 20*/ virtual BOOL ECFOnline();
  /* 21*/ virtual BOOL FechaComprovanteVinculado();
  /* 22*/ virtual BOOL OpenNamedReport(const std::string& strReportName);
  /* 23*/ virtual BOOL AbreRelatorioGerencial();
  /* 24*/ virtual BOOL FechaRelatorioGerencial();
  /* 25*/ virtual BOOL LoadNonFiscalTitles();
  /* 26*/ virtual BOOL LoadReports();
  /* 27*/ virtual BOOL LoadPaymentTypes(BOOL bLoadValues);
  /* 28*/ virtual BOOL LoadPaymentTypes();
  /* 29*/ virtual BOOL CancelaCupomFiscal();
  /* 30*/ virtual BOOL LeituraX();
  /* 31*/ virtual BOOL ReducaoZ(DateTime dtReducao);
  /* 32*/ virtual BOOL AbreCupomFiscal();
  /* 33*/ virtual BOOL LoadTaxes();
  /* 34*/ virtual BOOL EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante);
  /* 35*/ virtual BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                                const std::string& strNumeroCupom);
  /* 36*/ virtual BOOL ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor,
                                                        const std::string& strPaymentType);
  /* 37*/ virtual BOOL ImprimeRelatorioGerencial(const std::string& strTextoRelatorio);
  /* 38*/ virtual BOOL AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador);
  /* 39*/ virtual BOOL RegistraPagamento(const std::string& strPaymentType, double nValorPagamento);
  /* 40*/ virtual BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                          const std::string& strUnidade, double nAliquota, double nQuantidade,
                                          double nValorUnitario, double nValorDesconto);
  /* 41*/ virtual BOOL FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue);
  /* 42*/ virtual BOOL RetornaNumeroCupom(std::string& strNumeroCupom);
  /* 43*/ virtual BOOL CancelaItemFiscal(long intItem, const std::string& strDescricao, double nAliquota, double nValor,
                                         double nQuantidade, double nDesconto);
  /* 44*/ virtual BOOL TotalizaCupomFiscalAcrescimo(double nAcrescimo, double nTotalValue);
  /* 45*/ virtual BOOL TotalizaCupomFiscalDesconto(double nDesconto, double nTotalValue);
  /* 46*/ virtual BOOL AdicionaFormaPagamento(const std::string& strPaymentType);
  /* 47*/ virtual BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames);
  /* 48*/ virtual BOOL AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota);
  /* 49*/ virtual BOOL LeituraXSerial(std::string& strLeitura);
  /* 50*/ virtual BOOL VerificaHorarioVerao(BOOL& bOut);
  /* 51*/ virtual BOOL MudaHorarioVerao(BOOL bHabilita);
  /* 52*/ virtual BOOL LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida);
  /* 53*/ virtual BOOL LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                                  BOOL bResumida);
  /* 54*/ virtual BOOL LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida);
  /* 55*/ virtual BOOL LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida);
  /* 56*/ virtual BOOL RetornaAliquotas(std::string& strOut);
  /* 57*/ virtual BOOL CupomFiscalAberto(BOOL& bOut);
  /* 58*/ virtual BOOL OpenCashDrawer();
  /* 59*/ virtual BOOL AuthenticateDocument(const std::string& strAdditionalInfo);
  /* 60*/ virtual BOOL IsLowPaper();
  /* 61*/ virtual BOOL CanCancelReceipt();
  /* 62*/ virtual BOOL IsCashDrawerClosed();
  /* 63*/ virtual BOOL PrintSecondReceipt();
  /* 64*/ virtual BOOL PrintSecondReport();
  /* 65*/ virtual BOOL PrintCustomerInfo(const std::string& strCustomerInfo);
  /* 66*/ virtual BOOL CutPaper();
  /* 67*/ virtual BOOL NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType);
  /* 68*/ virtual BOOL SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                                       const std::string& strCustomerAddress);
  /* 69*/ virtual BOOL RegisterService(const std::string& strProductCode, const std::string& strDescription,
                                       const std::string& strUnit, double nTaxPercent, double nQuantity,
                                       double nUnitValue, double nDiscountValue);
  /* 70*/ virtual BOOL SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2);
  /* 71*/ virtual BOOL GetPAFECFIdentification(std::string& strLine1, std::string& strLine2);
  /* 72*/ virtual BOOL ResetPAFECFIdentification();
  /* 73*/ virtual BOOL EnviaComandoECF(const ByteArray& command, ByteArray& answer);
  /* 74*/ virtual BOOL LeMFDataBIN(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName);
  /* 75*/ virtual BOOL LeMFContZBIN(long intStartCounter, long intFinishCounter, const std::string& strFileName);
  /* 76*/ virtual BOOL ReadCFeXML(const std::string& strIdCFeI, const std::string& strIdCFeF, long intTipo,
                                  BOOL bParaArquivo, std::string& strXML);
  /* 77*/ virtual BOOL ReadCFeKey(const std::string& strIdCFe, long intTipo, std::string& strKey);
  /* 78*/ virtual BOOL ReadLastCFeKey(std::string& strKey);
  /* 79*/ virtual BOOL RegistraDescontoItemApos(long intItem, double dblValorDesconto);
  /* 80*/ virtual BOOL CancelaDescontoItem(long intItem, BOOL bAcrescimo);
  /* 81*/ virtual BOOL DisplaySubtotal();
  /* 82*/ virtual BOOL SetOperator(const std::string& strOperator);
  /* 83*/ virtual BOOL DisplayText(const std::string& strFirstLine, const std::string& strSecondLine);
  /* 84*/ virtual BOOL ResetNonFiscalTitles();
  /* 85*/ virtual BOOL ReadSerialNumber(std::string& strOut);
  /* 86*/ virtual BOOL ReadDateTime(DateTime& dtOut);
  /* 87*/ virtual BOOL ReadFiscalInformation();
  /* 88*/ virtual BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo);
  /* 89*/ virtual BOOL PrintCheck(double nValue, const std::string& strBankNumber);
  /* 90*/ virtual BOOL ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo);
  /* 91*/ virtual BOOL ReleaseCheck();
  /* 92*/ virtual BOOL SetCheckConfiguration(const std::string& strSingleCurrency,
                                             const std::string& strMultipleCurrency, const std::string& strCheckLocal,
                                             const std::string& strCheckCarrier, DateTime dtCheck, DateTime dtDeposit);
  /* 93*/ virtual BOOL SetCheckAdditionalInfo(const std::string& strAdditionalInfo);
  /* 94*/ virtual BOOL IsDocumentInserted();
  /* 95*/ virtual BOOL PrintCheckText(const std::string& strText);
  /* 96*/ virtual BOOL SetCheckFooter(const std::string& strFooterText);
  /* 97*/ virtual double GetSaleTotal();
  /* 98*/ virtual double GetCancelTotal();
  /* 99*/ virtual double GetDiscountTotal();
  /*100*/ virtual double GetIncreaseTotal();
  /*101*/ virtual double GetFinalGrandTotal();
  /*102*/ virtual long GetPrinterID();
  /*103*/ virtual short GetUserNumber();
  /*104*/ virtual DateTime GetUserDateTime();
  /*105*/ virtual short GetUserRestartCounter();
  /*106*/ virtual std::string GetFirmwareVersion();
  /*107*/ virtual DateTime GetFirmwareDateTime();
  /*108*/ virtual std::string LibraryVersion();
  /*109*/ virtual long GetOperationCounter();
  /*110*/ virtual long GetFiscalReceiptCounter();
  /*111*/ virtual long GetNonFiscalCounter();
  /*112*/ virtual long GetPaymentReceiptCounter();
  /*113*/ virtual long GetManagementReportCounter();
  /*114*/ virtual double GetNonFiscalTotal();
  /*115*/ virtual DateTime GetLastDocumentDateTime();
  /*116*/ virtual long GetZReportCounter();
  /*117*/ virtual long GetRestartCounter();
  /*118*/ virtual double GetUserGrandTotal();
  /*119*/ virtual BOOL FinishOperation();
  /*120*/ virtual BOOL GetPendingZReport();
  /*121*/ virtual std::string GetEquipamentMark();
  /*122*/ virtual std::string GetEquipamentModel();
  /*123*/ virtual std::string GetEquipamentType();
  /*124*/ virtual std::string AditionalFiscalMemory();
  /*125*/ virtual BOOL ReadOperationsByDate(DateTime dtStartDate, DateTime dtFinishDate,
                                            const std::string& strFileName);
  /*126*/ virtual BOOL ReadOperationsByCounter(long intStartCounter, long intFinishCounter,
                                               const std::string& strFileName);
  /*127*/ virtual BOOL DiscountISSQN(std::string& strOut);
  /*128*/ virtual DateTime GetDataMovUltimaRZ();
  /*129*/ virtual std::string GetCustomerCode();
  /*130*/ virtual std::string GetCustomerName();
  /*131*/ virtual std::string GetCustomerAddress();
  /*132*/ virtual DateTime GetFiscalDate();
  /*133*/ virtual long GetLastItemNumber();
  /*134*/ virtual std::string LastPaymentType();
  /*135*/ virtual std::string LastItemCode();
  /*136*/ virtual std::string LastItemDescription();
  /*137*/ virtual std::string LastItemUnit();
  /*138*/ virtual std::string LastItemLabel();
  /*139*/ virtual BOOL ErroRegistroDescontoItem();
  /*140*/ virtual long StatusComprovante();
  /*141*/ virtual BOOL TransmitirReducaoZ();
  /*142*/ virtual void SetTransmitirReducaoZ(BOOL value);

  // ---- channel helpers used by the drivers ----
  BOOL WaitCommEvent(uint32_t timeoutMs);
  BOOL WaitCommEvent() { return WaitCommEvent(static_cast<uint32_t>(nAnswerTimeout)); }
  void SetSystemError();
  // Closes and drops the handle; the port's open state is the caller's.
  void ReleaseHandle();
  // Notes a failure of the open port that means its device went away.
  void NoteLostLine(int code);
  // Opens again a port whose device went away; false (with the reason in
  // strLastError) while it is not back.
  BOOL ReopenLostPort();
  void LogCommState(const std::string& where);

  // ---- command assembly ----
  void AddCommandString(const std::string& text);
  void AddParameterString(const std::string& text);
  void AddCommandByte(uint8_t b) { arCommand.push_back(b); }
  void AddParameterByte(uint8_t b) { arParameters.push_back(b); }
  // Host text for a printer that prints it plain: markup dropped, accents folded.
  std::string FormatPrinterText(const std::string& text);
  // Submits the pending buffers: SendCommand(BuildCommand(command, parameters)),
  // unless OversizedCommand refuses them.
  BOOL Submit();
  // Why the pending buffers cannot make one frame (a length field they would
  // wrap), naming the field and its limit; empty when they fit.
  virtual std::string OversizedCommand() const { return {}; }

  // ---- log and error helpers ----
  void Log(const std::string& where, const std::string& detail = {});
  void LogBuffered(const std::string& where, const std::string& detail = {});
  void LogResult(const std::string& where, const std::string& result);
  void RecordError(const std::string& where, const std::string& message);
  static BOOL BytesToHex(const ByteArray& bytes, size_t start, size_t count, std::string& out);
  static std::string ReadableBytes(const ByteArray* bytes);

  // ---- sale and tax resets ----
  void ResetSale();
  void ResetTaxes();

  // ---- public data (the control reads these directly) ----
  int Columns = 40;
  BOOL VerifyTimeAndSerial = 1;
  BOOL VerifyMoneyExchange = 0;
  BOOL SendFullReport = 0;
  BOOL CanReadCheck = 0;
  BOOL CashDrawerAttached = 0;
  BOOL MultipleReceipts = 1;
  BOOL ExtraReceiptClose = 0;
  BOOL IncreaseIncluded = 1;
  BOOL HasPaperCutter = 0;
  BOOL CanAuthenticateDocument = 0;
  BOOL FreeReport = 0;
  BOOL Thermal = 0;
  BOOL AutoReopenReport = 0;
  BOOL ReadCheckOnTest = 0;
  BOOL DisablePrintBuffer = 0;
  BOOL CanGetCurrentDocumentDateTime = 0;
  int nLastItemNumber = -1;
  BOOL bItemCountByDriver = 0;
  std::string strLastItemCode, strLastItemDescription, strLastItemUnit, strLastItemLabel;
  BOOL bErroRegistroDescontoItem = 0;
  int nStatusComprovante = 0;
  BOOL bTransmitirReducaoZ = 0;
  BOOL CanRegDiscountAnyItem = 0, CanCancelDiscountAnyItem = 0, CanCCDAfterReport = 0;
  int AlterarHVAgendado = 0;
  ChannelPtr hPort;  // null is the invalid handle
  BOOL bPortOpen = 0;
  BOOL bCheckDSR = 0;
  BOOL bCheckCTS = 1;
  int nPortNumber = 0, nBaudRate = 0, nDataBits = 0, nStopBits = 0, nParity = 0, nFlowControl = 0;
  int nWriteTimeout = 30;       // seconds
  int nAnswerTimeout = 120000;  // milliseconds
  PortSettings dcb{};
  PortTimeouts timeouts{};
  std::string strLastError;
  ByteArray arCommand, arParameters, arAnswer;
  std::vector<std::string> arTaxes;
  std::vector<std::string> arNonFiscalTitles;
  std::vector<std::string> arReports;
  std::vector<std::string> arPaymentTypes;
  std::vector<double> arPaymentValues;
  std::vector<std::string> arDefaultTitles;
  std::string strCustomerCode, strCustomerName, strCustomerAddress;
  std::string strLastPaymentType;
  BOOL CupomAdicionalAoFecharCF = 0;
  BOOL bCheckAfterSend = 1;
  std::string strSerialNumber;
  int intPrinterID = 0;
  DateTime dtFiscalDate{};
  double nFinalGrandTotal = 0.0;
  double nInitialGrandTotal = 0.0;
  int intZReportCounter = 0, intRestartCounter = 0;
  double nSaleTotal = 0.0, nCancelTotal = 0.0, nDiscountTotal = 0.0, nIncreaseTotal = 0.0;
  int intFinalOperation = 0, intInitialOperation = 0;
  int16_t TaxesCount = 0;
  std::array<TaxEntry, 30> arTaxTable{};
  std::string strPAFLine1, strPAFLine2;
  std::string strPAFIdent1, strPAFIdent2;
  BOOL bPAFIdentification = 0;
  std::string strCheckFooter;

  // Channel-only members.
  InterfaceClass usbInterfaceClass{};
  // The handshake GetCommState asks of the port; a family sets its own.
  PortProfile portProfile{};
  // Set when the port is opened or taken again, cleared by the first exchange
  // that gets an answer: until then a reply may be a late one meant for the
  // program that held the port before (see exchange::PortExchange::Guarded).
  BOOL bFreshLine = 0;
  // Set when a read or write found the device gone: the next command opens the
  // port again first (see ReopenLostPort), so a printer plugged back in or
  // restarted answers without the host starting over.
  BOOL bLineLost = 0;

  // What became of the last command this driver exchanged, and how many
  // commands it has written: the control tells a host from these whether a
  // failed call may have run in the printer.
  exchange::Outcome lastOutcome = exchange::Outcome::Done;
  unsigned long nCommandsWritten = 0;
  // The paper as the last reply that carried the printer's paper sensors
  // told it, for families whose every reply does (known stays clear for the
  // others): lets a monitor see the paper without sending a command of its own.
  struct PaperSense {
    bool known = false, nearEnd = false, out = false;
  } paperSense;
  // Told of each reply that ended because the line went quiet, not by its
  // length or terminator, with the time its reading took and the bytes it
  // read: what is beyond their line time is the dead time a bench looks for.
  std::function<void(const ByteArray& frame, int64_t readUs, size_t bytes)> idleEndObserver;

 protected:
  friend class exchange::PortExchange;
  OpLog log_;
  // The clock that paces retries on this driver's port.
  platform::Clock& PortClock();

  // ---- the command cycle: BuildCommand, then ExchangeCommand, then the judge ----
  // Exchanges one frame on the port as the plan says, appending each attempt's
  // reply to `reply` (an attempt starts again from its size on entry), judges
  // each reply with `judge`, and records the outcome.
  exchange::Result ExchangeCommand(const ByteArray& frame, const exchange::Plan& plan, ByteArray& reply,
                                   const exchange::Judge& judge);
  // The judgement of a status reply: CheckForSuccess unless the sender asked
  // for the raw answer only (EnviaComandoECF).
  exchange::Verdict JudgeStatus();
  // The family's steps of an exchange, where they differ from a serial port's.
  // AwaitAnswer waits for the answer to start (a family may raise its lines
  // first); JudgeFirst says what the first byte read apart means (Done goes on
  // to the rest of the reply); ReadAnswer reads the reply by the plan's end rule;
  // AfterAttempt runs after every attempt.
  virtual BOOL AwaitAnswer(exchange::PortExchange& x, uint32_t timeoutMs);
  virtual exchange::Verdict JudgeFirst(exchange::First kind, uint8_t byte);
  virtual BOOL ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply);
  virtual void AfterAttempt(int attempt, const exchange::Plan& plan, exchange::Verdict verdict);
  // A step that changes nothing in the printer, repeated up to `tries` times
  // with a pause on the port's clock between failed ones.
  template <class F>
  bool Retry(int tries, uint32_t pauseMs, F attempt) {
    return exchange::retry(PortClock(), tries, pauseMs, attempt);
  }

 private:
  exchange::Verdict Attempt(exchange::PortExchange& x, const ByteArray& frame, const exchange::Plan& plan,
                            ByteArray& reply, size_t start, const exchange::Judge& judge, exchange::Result& r);
  BOOL OpenPortHandle(bool forContinue, int attempt);
  BOOL OpenUsbHandle(const char* where, bool continueStyle);
  BOOL ConfigurePort();
};

using DriverPtr = std::unique_ptr<CECFBase>;

}  // namespace tarvion
