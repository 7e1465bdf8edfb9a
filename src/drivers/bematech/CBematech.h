// CBematech: the driver of the Bematech printers that speak the binary
// ESC-prefixed protocol, and the root of the family (the FS-prefixed models
// derive from it). One command travels as STX NBL NBH PREFIX CMD [SUB] PARAMS
// CSL CSH; the printer answers ACK (or NAK), then the data of the command, then
// the status bytes ST1 ST2 (and ST3, two bytes, with the FS prefix).
//
// The parameter formatting lives in free functions (namespace bematech::fmt) so
// that every field can be checked without a port.
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

namespace bematech::fmt {

// printf's "%0<width>.<decimals>f" for one double, without the process locale:
// the exact binary value is rounded half away from zero, the sign comes before
// the zero padding, nan and inf are padded with blanks. width 0 means no padding.
// For logs and lookup keys only: fields sent to the printer go through
// fields::format with one of the field descriptions below, which refuses a value
// that does not fit instead of widening the field.
std::string fixedField(double value, int width, int decimals);
// "%f" as the logs write doubles: six decimals.
inline std::string logNumber(double value) {
  return fixedField(value, 0, 6);
}
// "%-<width>s": pads with blanks, never cuts.
std::string padRight(const std::string& s, size_t width);
// What non-fiscal totaliser t (from 1) is called in a non-fiscal receipt: the
// first two have codes of the model's own, 3 and 4 are "#1" and "#2", the
// others their number less two ("%02i").
std::string totaliserCode(int t, const char* first, const char* second);

// Exact decimal digits of packed BCD bytes; unlike bematech::bcdValue it does not
// overflow on the 10-byte (20-digit) amounts.
long double bcdDecimal(const uint8_t* data, size_t n);
// Two hex digits per byte read back as a decimal number ("0310" -> 310); stops at
// the first nibble that is not a digit, as atoi does.
long hexDigitsValue(const uint8_t* data, size_t n);

// The numeric fields of the commands, in the units the host gives (the
// formatter scales them). Names are Windows-1252, for the messages.
namespace field {
using fields::Field;
using fields::Rounding;
// Item registration (63) and the MP-7000's item (62 "I").
inline constexpr Field kQuantity{"Quantidade", 7, 3};
inline constexpr Field kUnitPrice{"Valor unit\xE1rio", 9, 3};
inline constexpr Field kItemDiscount{"Desconto do item", 10, 2};
inline constexpr Field kItemIncrease{"Acr\xE9scimo do item", 10, 2};
inline constexpr Field kUnitPriceMP7000{"Valor unit\xE1rio", 8, 3};
inline constexpr Field kItemDiscountMP7000{"Desconto do item", 8, 2};
inline constexpr Field kItemIncreaseMP7000{"Acr\xE9scimo do item", 8, 2};
// Amounts of 14 digits in cents: totalling (32), payments (72), linked (66) and
// non-fiscal (25) receipts, checks (57, 62 "L"). The increase on the subtotal
// goes in whole cents, cut and not rounded.
inline constexpr Field kSubtotalIncrease{"Acr\xE9scimo", 14, 2, Rounding::TowardZero};
inline constexpr Field kSubtotalDiscount{"Desconto", 14, 2};
inline constexpr Field kPayment{"Valor do pagamento", 14, 2};
inline constexpr Field kLinkedValue{"Valor do comprovante", 14, 2};
inline constexpr Field kNonFiscalValue{"Valor", 14, 2};
inline constexpr Field kCheckValue{"Valor do cheque", 14, 2};
// Discount or increase on an item after it was registered (93), in cents.
inline constexpr Field kDiscountAfterItem{"Desconto do item", 8, 2};
inline constexpr Field kIncreaseAfterItem{"Acr\xE9scimo do item", 8, 2};
// Whole numbers.
inline constexpr Field kItemNumber{"N\xFAmero do item", 4};          // 31
inline constexpr Field kItemNumberAfter{"N\xFAmero do item", 3};     // 93, 114
inline constexpr Field kReceiptNumber{"N\xFAmero do cupom", 6};      // 66
inline constexpr Field kFirstReduction{"Redu\xE7\xE3o inicial", 6};  // 8
inline constexpr Field kLastReduction{"Redu\xE7\xE3o final", 6};     // 8
inline constexpr Field kTitleNumber{"Totalizador", 2};               // 25, 40
inline constexpr Field kPaymentIndex{"Forma de pagamento", 2};       // 72
inline constexpr Field kReportNumber{"Relat\xF3rio gerencial", 2};   // 82, 83
// Programming a tax rate (7): the rate in hundredths and its kind.
inline constexpr Field kTaxRate{"Al\xEDquota", 4, 2};
inline constexpr Field kTaxKind{"Tipo de al\xEDquota", 1};
}  // namespace field

// Tax lookup of an item. The key of the tax list ("T18.00", "S05.00").
std::string taxKey(double rate, bool service);
// The label for tax list position index: "%02iT%04.0f" ("01T1800").
std::string taxLabel(int index, double rate, bool service);
// Labels for rates of 0 and below ("II", "FF", "NN"; "SI", "SF", "SN" for services);
// empty for any other value.
std::string exemptLabel(double rate, bool service);
// The item's label as the driver keeps it for the host ("II" -> "I1", "01T1800" kept).
std::string lastItemLabel(const std::string& label);
// "Alíquota de ICMS de %05.2f%% não cadastrada no ECF." (ISS for services), 1252.
std::string taxMissingMessage(double rate, bool service);

// The fields of command 63 (item registration), in wire order; error holds the
// message of the first number that does not fit (the others are then empty).
struct ItemFields {
  std::string tax;        // 2 characters of the label
  std::string unitPrice;  // price * 1000, 9 digits rounded
  std::string quantity;   // quantity * 1000, 7 digits rounded
  std::string discount;   // 10 digits rounded
  std::string increase;   // 10 digits rounded
  std::string error;
};
// The discount argument d is per unit: d > 0 discounts d * quantity, d < 0 adds
// |d| * quantity. The MP-7000 takes narrower price and discount fields.
ItemFields itemFields(const std::string& label, double quantity, double unitPrice, double discount,
                      bool mp7000 = false);
// The description as the printer gets it (before the printer-text conversion):
// line breaks become blanks, trailing blanks go, a text without any ASCII letter
// gets a "D" as its twentieth character (the printer refuses descriptions without
// a letter; a shorter text is padded with blanks up to it), at most 199 characters.
std::string itemDescription(const std::string& description);
// The product code: first 14 characters, trailing blanks removed.
std::string itemCode(const std::string& code);

// The text printed at the end of a receipt or report: the two identification
// lines (each padded to 50 and cut to the columns), then the message.
std::string closingText(const std::string& message, const std::string& line1, const std::string& line2, int columns);
// A report text cut for the printer: lines of at most `columns` characters
// without trailing blanks, each ended by "\n", twelve lines per block.
std::vector<std::string> reportBlocks(const std::string& text, int columns);

// "%d%m%y" (DDMMYY) and "%d%m%y%H%M%S" (DDMMYYhhmmss) of a date; empty when invalid.
std::string dateField(const DateTime& dt);
std::string dateTimeField(const DateTime& dt);
// A date from three BCD bytes day, month, two-digit year (2000 + year); invalid
// for anything that is not a calendar date. With six bytes the time follows.
DateTime bcdDate(const uint8_t* data, size_t n);

// The 16 tax flags of 35/29: each byte as eight "1"/"0" from its highest bit down.
std::string taxFlags(const ByteArray& reply);
// The tax list from the reply to command 26 and the flags: index 0 is an empty
// placeholder, then "T" (flag "0") or "S" followed by "%02x.%02x" of each rate.
std::vector<std::string> taxList(const ByteArray& rates, const std::string& flags);

// Reply length, ST1 and ST2 (and ST3) included, of a command whose reply has a
// fixed size; nothing for replies of unknown length (texts, lists). The data
// sizes, by command (and sub-code of 35 and 62):
//   status only: every command but 23, 26, 27, 30, 35, 62, 71, 88, 69 and the
//                fiscal-memory reads that return text (8 with "r"/"R");
//   26: 33 (count and 16 rates of 2 BCD bytes)                30: 3 (receipt number)
//   35/0: 20 (serial number; a printer that sends 15 only ends by the idle rule)
//   35/1: 2 (firmware)               35/3: 9 (grand total)
//   35/4, 35/5, 35/30: 7 (totals)    35/6, 35/7: 3 (counters)
//   35/9, 35/10, 35/11, 35/12, 35/14: 2 (counters, numbers)
//   35/17: 3 (state flags)           35/23: 6 (date and time)
//   35/26, 35/67: 3 (dates)          35/27: 3 + 16 * 7 (date and tax totals)
//   35/29: 2 (tax flags)             62/55: 296 (initial block)
std::optional<size_t> replyLength(const ByteArray& command, const ByteArray& parameters, bool fsPrefix);
// The text of a reply that returns text over the port: ST1 ST2 lead it and the
// status ends it (ST1 ST2, and ST3 with FS); both are left out.
std::string textOfReply(const ByteArray& reply, bool fsPrefix);

// Where the driver finds the fields of the user record in the fiscal-memory dump
// (command 8, read over the port). The dump starts with the owner header, then one
// record per user, numbered from 1.
namespace userrec {
constexpr size_t kFirst = 64;       // offset of the first user record
constexpr size_t kSize = 32;        // bytes per user record
constexpr size_t kNumber = 0;       // user number, 2 BCD bytes (not read: the position says it)
constexpr size_t kDate = 2;         // "DDMMYY", two-digit text fields
constexpr size_t kTime = 8;         // "hhmmss", two-digit text fields
constexpr size_t kRestarts = 14;    // restart counter at registration, 2 BCD bytes
constexpr size_t kGrandTotal = 16;  // grand total at registration, 9 BCD bytes (cents)
constexpr size_t offset(int user) {
  return kFirst + static_cast<size_t>(user > 0 ? user - 1 : 0) * kSize;
}
}  // namespace userrec

// Records of the non-fiscal totalisers (35/33): 31 bytes each.
namespace titlerec {
constexpr size_t kSize = 31;
constexpr size_t kNumber = 0;  // totaliser number, 1 BCD byte
constexpr size_t kTotal = 1;   // day's total, 10 BCD bytes (cents)
constexpr size_t kTitle = 12;  // 19 text bytes
constexpr size_t kTitleSize = 19;
constexpr size_t kMax = 50;
}  // namespace titlerec

// The payment-type table (35/32): names of 16 bytes from byte 1, the amounts of
// 10 BCD bytes (four decimals) from byte 833.
namespace payrec {
constexpr size_t kNames = 1, kNameSize = 16, kValues = 833, kValueSize = 10, kMax = 50;
}

// "%-<n>.<n>s": blanks up to n, cut at n.
std::string fitField(const std::string& s, size_t n);

// ---- the printed text of the FS models (CBematech2000 and its descendants) ----
// ESC t 2 selects the printer's code page 850; it heads every text they print.
inline const std::string kCodePage850{"\x1B\x74\x02", 3};
// Their own character conversion: the letters from 0xC0 on in code page 850,
// except Ñ Ý ñ ý, which become N Y n y, and Å Æ Ð × Ø Þ ß å æ ð ÷ ø þ ÿ, which
// pass unchanged; everything below 0xC0 passes unchanged.
std::string fsCharset(const std::string& cp1252);
// The layout: "\r\n" and "\r" become "\n"; the text is cut into lines of at
// most `columns` visible characters (the tags <b> </b> <h> </h> <barcode>
// </barcode> are not visible); <b> becomes ESC E, </b> ESC F, the other tags
// go; a line shorter than the columns that does not end in "\n" gets one. An
// empty text is a single line feed.
std::string fsLayout(const std::string& text, int columns);
// At most `limit` characters; one less when the last one kept would be an ESC
// whose letter was cut off.
std::string cutText(const std::string& text, size_t limit);
// The pieces of a long text, one command each: 600 characters, or 598 (599)
// when the character at 598 (599) is an ESC, so no escape pair is split.
std::vector<std::string> textBlocks(const std::string& text);
constexpr size_t kClosingLimit = 480;
constexpr size_t kBlockLimit = 600;

// ---- checks ----
// The banks whose check layout the printers know; any other prints with "###".
bool knownBank(const std::string& number);
// The bank field of a check: the three digits of a known bank (a shorter number
// gets its leading zeros), else "###".
std::string bankField(const std::string& number);
// "%d%m%Y" (DDMMYYYY); today when the date is not valid.
std::string checkDate(const DateTime& dt);
// The document-sensor byte of 62 "0" with a check in place: sensors 0x04, 0x20
// and 0x40 see paper and 0x08 (slot empty) is off; on the MP-7000 the sensors
// 0x01, 0x40 and 0x08 are all on.
bool documentReady(uint8_t sensor);
bool documentReadyMP7000(uint8_t sensor);
// The CMC-7 line as the host gets it: padded to 33, then without blanks and the
// field marks < > ^ = / (and, for the MP-7000, its letters a to e).
std::string cmc7Text(const std::string& raw, bool dropLetters);

// ---- reply layouts of the FS models' own reads ----
// Payment types (35/49): 20 names of 16 bytes, then 20 amounts of 7 BCD bytes (cents).
namespace pay2000 {
constexpr size_t kNameSize = 16, kCount = 20, kValues = 320, kValueSize = 7;
}
// Non-fiscal totalisers (35/50): records of 30 bytes from byte 0: the
// totaliser's number (1 BCD byte), the day's total (10 BCD bytes, cents), 19
// bytes of title. The withdrawal and the supply (01 and 02), which every printer
// has, are not in the reply; a record without a number is number i + 3.
namespace title2000 {
constexpr size_t kSize = 30, kNumber = 0, kTotal = 1, kTotalSize = 10, kTitle = 11, kTitleSize = 19, kMax = 50;
constexpr int kFirstNumber = 3;
}  // namespace title2000
// Management reports (35/51): 17-byte names from byte 0; record i is report i + 1.
namespace report2000 {
constexpr size_t kSize = 17, kMax = 50;
}
// Command 88: the day's opening block; operation counter (3 BCD) from byte 5,
// grand total (9 BCD, cents) from byte 150.
namespace open88 {
constexpr size_t kOperation = 5, kGrandTotal = 150;
}
// Equipment (35/60): maker 15 bytes, model 20, type 7.
namespace equip {
constexpr size_t kMark = 0, kMarkSize = 15, kModel = 15, kModelSize = 20, kType = 35, kTypeSize = 7;
}
// Per-tax totals (command 87): 7 BCD bytes (cents) per tax position.
constexpr size_t kTaxTotalSize = 7;

// The PAF-ECF identification as the printer takes it: "%-48.48s%-36.36s".
std::string pafIdentification(const std::string& line1, const std::string& line2);

}  // namespace bematech::fmt

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
  bool ReplyFits(uint8_t first, size_t size) const;
  BOOL LineCheck(const char* where, bool logStep);
  size_t ExpectedReply() const;
};

}  // namespace tarvion
