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
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "drivers/bematech/bematech_protocol.h"

namespace tarvion {

namespace bematech::fmt {

// printf's "%0<width>.<decimals>f" for one double, without the process locale:
// the exact binary value is rounded half away from zero, the sign comes before
// the zero padding, nan and inf are padded with blanks. width 0 means no padding.
std::string fixedField(double value, int width, int decimals);
// "%0<width>.0f": an amount or quantity already scaled (value * 100, * 1000).
inline std::string roundedField(double scaled, int width) { return fixedField(scaled, width, 0); }
// "%0<width>i" of the scaled value cut toward zero (as a C cast to an integer does).
std::string truncatedField(double scaled, int width);
// "%f" as the logs write doubles: six decimals.
inline std::string logNumber(double value) { return fixedField(value, 0, 6); }
// "%-<width>s": pads with blanks, never cuts.
std::string padRight(const std::string& s, size_t width);

// Exact decimal digits of packed BCD bytes; unlike bematech::bcdValue it does not
// overflow on the 10-byte (20-digit) amounts.
long double bcdDecimal(const uint8_t* data, size_t n);
// Two hex digits per byte read back as a decimal number ("0310" -> 310); stops at
// the first nibble that is not a digit, as atoi does.
long hexDigitsValue(const uint8_t* data, size_t n);

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

// The fields of command 63 (item registration), in wire order.
struct ItemFields {
  std::string tax;          // 2 characters of the label
  std::string unitPrice;    // price * 1000, 9 digits rounded
  std::string quantity;     // quantity * 1000, 7 digits rounded
  std::string discount;     // 10 digits rounded
  std::string increase;     // 10 digits rounded
};
ItemFields itemFields(const std::string& label, double quantity, double unitPrice, double discount);
// The description as the printer gets it (before the printer-text conversion):
// line breaks become blanks, trailing blanks go, a text without any ASCII letter
// gets a "D" as its twentieth character (the printer refuses descriptions without
// a letter; a shorter text is padded with blanks up to it), at most 199 characters.
std::string itemDescription(const std::string& description);
// The product code: first 14 characters, trailing blanks removed.
std::string itemCode(const std::string& code);

// The text printed at the end of a receipt or report: the two identification
// lines (each padded to 50 and cut to the columns), then the message.
std::string closingText(const std::string& message, const std::string& line1, const std::string& line2,
                        int columns);
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
constexpr size_t kFirst = 64;        // offset of the first user record
constexpr size_t kSize = 32;         // bytes per user record
constexpr size_t kNumber = 0;        // user number, 2 BCD bytes (not read: the position says it)
constexpr size_t kDate = 2;          // "DDMMYY", two-digit text fields
constexpr size_t kTime = 8;          // "hhmmss", two-digit text fields
constexpr size_t kRestarts = 14;     // restart counter at registration, 2 BCD bytes
constexpr size_t kGrandTotal = 16;   // grand total at registration, 9 BCD bytes (cents)
constexpr size_t offset(int user) { return kFirst + static_cast<size_t>(user > 0 ? user - 1 : 0) * kSize; }
}  // namespace userrec

// Records of the non-fiscal totalisers (35/33): 31 bytes each.
namespace titlerec {
constexpr size_t kSize = 31;
constexpr size_t kNumber = 0;   // totaliser number, 1 BCD byte
constexpr size_t kTotal = 1;    // day's total, 10 BCD bytes (cents)
constexpr size_t kTitle = 12;   // 19 text bytes
constexpr size_t kTitleSize = 19;
constexpr size_t kMax = 50;
}  // namespace titlerec

// The payment-type table (35/32): names of 16 bytes from byte 1, the amounts of
// 10 BCD bytes (four decimals) from byte 833.
namespace payrec {
constexpr size_t kNames = 1, kNameSize = 16, kValues = 833, kValueSize = 10, kMax = 50;
}

}  // namespace bematech::fmt

class CBematech : public CECFBase {
 public:
  CBematech();
  const char* ClassName() const override { return "CBematech"; }

  // ---- the exchange ----
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  void ClearBuffers() override;
  BOOL ECFOnline() override;
  BOOL InitialConfiguration() override;
  BOOL ContinueComm() override;
  BOOL GetCommState() override;
  // Waits for a document in the check slot (the sensor polled with 62/"0").
  BOOL WaitCheckEvent();

  // ---- the sale ----
  BOOL AbreCupomFiscal() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL RegisterService(const std::string& strProductCode, const std::string& strDescription,
                       const std::string& strUnit, double nTaxPercent, double nQuantity, double nUnitValue,
                       double nDiscountValue) override;
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
  std::string strReceiptCustomerId;  // customer id of the open receipt
  std::string strReceiptNumber;      // last receipt number read by GetOperationCounter
  DateTime dtDataMovUltimaRZ = DateTime::invalid();
  // The operator's answer to "keep waiting?" (text, title): false is "No".
  std::function<bool(const std::string& text, const std::string& title)> AskContinue =
      [](const std::string&, const std::string&) { return false; };

 protected:
  // Item registration after the tax lookup (command 63).
  virtual BOOL RegisterItem(const std::string& strCode, const std::string& strDescription,
                            const std::string& strUnit, const std::string& strLabel, double nQuantity,
                            double nUnitValue, double nDiscount);
  bool FsPrefix() const { return nPrefix == bematech::kFS; }
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

 private:
  BOOL TaxLabelFor(double rate, bool service, std::string& label, const char* where);
  BOOL RegisterWithTax(const char* where, bool service, const std::string& code, const std::string& description,
                       const std::string& unit, double rate, double quantity, double unitPrice, double discount);
  BOOL SendReportText(uint8_t command, const std::string& text);
  BOOL TextRead(std::string& out);
  BOOL ReadUserRecord(ByteArray& record, const char* where);
  std::string PaymentNameFor(int index);
  int PaymentIndexOrCash(const std::string& name);
  BOOL SerialExchange(const ByteArray& frame);
  BOOL UsbExchange(const ByteArray& frame);
  BOOL WriteFrame(const ByteArray& frame, bool purge);
  // expected: the reply's length when the command fixes it, 0 when unknown.
  BOOL ReadSerialReply(size_t expected);
  BOOL ReadUsbReply(size_t expected);
  BOOL LineCheck(const char* where, bool logStep);
  size_t ExpectedReply() const;
};

}  // namespace tarvion
