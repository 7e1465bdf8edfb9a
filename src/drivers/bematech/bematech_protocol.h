// The driver's side of the Bematech wire protocol as pure functions: frames,
// status bytes, the extended status tables, the packed-BCD numbers of the
// replies and (namespace fmt) the parameter and reply fields of the commands
// and the printed text of the FS models. The virtual printer answers with a
// codec of its own, so a mistake here shows up as a disagreement on the line.
//
// A request:  STX NBL NBH PREFIX CMD [SUB] PARAMS... CSL CSH
//   N = bytes after NBH (prefix, command, parameters, checksum);
//   S = 16-bit sum of the bytes from the prefix to the last parameter.
// A reply:    ACK, then the data of the command (if any), then ST1 ST2, and with
//   the FS prefix the two bytes of ST3 (little-endian). NAK instead of ACK
//   refuses the frame.
//
// Reply layouts the driver parses:
//   - data commands (23, 26, 27, 30, 35, 62, 71, 88): data then the status bytes;
//   - every other command: the status bytes only, except the reads that return
//     text over the port (69, and 8 with "r"/"R"): status, then the text, then the
//     status again, so the driver takes the status from the front and cuts it from
//     both ends;
//   - 35/17 (state flags): byte 0 bit 0x04 daylight saving on, bit 0x01 of the
//     last data byte receipt open; 3 data bytes;
//   - 35/27 (fiscal start date, 3 BCD) followed by the per-tax totals: 16 x 7 BCD
//     bytes of the day's total per programmed tax position;
//   - 35/67: the date of the day's movement (3 BCD bytes, DDMMYY);
//   - 62/55: 9 BCD bytes of the day's initial grand total from byte 1 (byte 0 is a
//     record flag), the initial operation counter as 3 BCD bytes from byte 284,
//     296 data bytes in all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/fields.h"
#include "core/host_text.h"
#include "core/types.h"

namespace tarvion::bematech {

constexpr uint8_t kSTX = 0x02, kACK = 0x06, kNAK = 0x15, kESC = 0x1B, kFS = 0x1C;

// Command codes (first byte after the prefix).
namespace cmd {
constexpr uint8_t OpenReceipt = 0, ReducaoZ = 5, LeituraX = 6, AddTax = 7, FiscalMemory = 8, CancelReceipt = 14,
                  Authenticate = 16, DaylightSaving = 18, Status = 19, Report = 20, CloseReport = 21, CashDrawer = 22,
                  DrawerStatus = 23, NonFiscal = 25, LoadTaxRates = 26, TaxTotals = 27, ReceiptNumber = 30,
                  CancelItem = 31, Totalize = 32, CloseReceipt = 34, Read = 35, AddNonFiscalTitle = 40, ReadBlock = 62,
                  RegisterItem = 63, OpenLinked = 66, LinkedText = 67, LeituraXSerial = 69, AddPayment = 71,
                  Payment = 72, RedefinePayments = 73;
}
// Sub-codes of command 35 (second byte of the command).
namespace sub {
constexpr uint8_t SerialNumber = 0, Firmware = 1, GrandTotal = 3, CancelTotal = 4, DiscountTotal = 5,
                  OperationCounter = 6, NonFiscalCounter = 7, ZCounter = 9, RestartCounter = 10, UserNumber = 11,
                  LastItem = 12, PrinterNumber = 14, Flags = 17, DateTime = 23, LastReductionDate = 26,
                  FiscalStartDate = 27, TaxFlags = 29, IncreaseTotal = 30, PaymentTypes = 32, NonFiscalTitles = 33,
                  MovementDate = 67;
constexpr uint8_t InitialBlock = 55;  // sub-code of command 62
}  // namespace sub

// ST1 and ST2 bits.
namespace st1 {
constexpr uint8_t BadParamCount = 0x01, ReceiptOpen = 0x02, UnknownCommand = 0x04, FirstNotEsc = 0x08,
                  PrinterError = 0x10, ClockError = 0x20, NearPaperEnd = 0x40, PaperOut = 0x80;
}
namespace st2 {
constexpr uint8_t NotExecuted = 0x01, OwnerNotProgrammed = 0x02, CancelNotAllowed = 0x04, TaxTableFull = 0x08,
                  TaxNotProgrammed = 0x10, RamError = 0x20, FiscalMemoryFull = 0x40, BadParamType = 0x80;
}

uint16_t checksum(const uint8_t* data, size_t n);

// Wire example: prefix ESC, command 0, no parameters -> 02 04 00 1B 00 1B 00.
ByteArray buildFrame(uint8_t prefix, const ByteArray& command, const ByteArray& parameters);

// The printer side of the frame: looks for one frame at the start of data.
enum class FrameState { Incomplete, Ok, BadChecksum, NotAFrame };
struct ParsedFrame {
  uint8_t prefix = 0;
  ByteArray body;   // command, sub-code and parameters
  size_t size = 0;  // bytes the frame took on the wire
};
FrameState parseFrame(const uint8_t* data, size_t n, ParsedFrame& out);

// Commands whose reply carries data before the status bytes.
bool isDataCommand(uint8_t command);
// Commands that return text over the port (status before and after the text).
bool isTextRead(const ByteArray& command, const ByteArray& parameters);

struct Status {
  uint8_t st1 = 0, st2 = 0;
};
// Where the driver finds ST1 and ST2 in a reply (after the ACK byte).
Status statusOf(const ByteArray& reply, uint8_t command, bool fsPrefix);
// One "\n"-ended line per error bit, ST1 bit 0 first (Windows-1252). Bit 6 of ST1
// is not an error.
std::string statusText(Status s);
inline bool statusOk(Status s) {
  return (s.st1 & ~st1::NearPaperEnd) == 0 && s.st2 == 0;
}
// ST3 of an FS reply: the last two bytes, little-endian; 0 when shorter than 2.
uint16_t st3Of(const ByteArray& reply);

// The extended status tables, Windows-1252; code c is entry c-1.
enum class St3Table { Full, MP25, IBM4610, MP2000 };
const std::vector<std::string>& st3Table(St3Table which);
// The text for a code, empty when the code is 0 or beyond the table.
std::string st3Text(St3Table which, uint16_t code);

// Packed BCD: each byte two decimal digits. Non-digit nibbles read as their hex
// value, which keeps a corrupt reply from crashing but makes it visible.
uint64_t bcdValue(const uint8_t* data, size_t n);
std::string bcdDigits(const uint8_t* data, size_t n);  // "%02x" per byte
ByteArray toBcd(uint64_t value, size_t bytes);

// ---------------------------------------------------------------- fields

// Parameter fields and reply fields of the commands, as pure functions.
namespace fmt {

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
// Their markup: <b> becomes ESC E, </b> ESC F; <h> and <barcode> take no bytes.
const text::Markup& fsMarkup();
// Their character set: the printers' code page 850 (text::charset::printer850).
std::string fsCharset(const std::string& cp1252);
// Their layout: text::layoutLines with fsMarkup in lines of `columns` (1 when
// not given): every line end becomes "\n", a line shorter than the columns
// that does not end in "\n" gets one, an empty text is a single line feed.
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

}  // namespace fmt

}  // namespace tarvion::bematech
