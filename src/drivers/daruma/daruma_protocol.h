// The two Daruma protocols as pure functions: the FS600 frame with its check
// byte, the bare register-read packet, the classic ESC frame, the reply that
// starts at its first ':' and ends at its CR, the two error tables, the
// register layouts and the numeric fields of every command. Nothing here
// touches a port or the process locale, so tests and fuzzers reach it directly.
//
// FS600 (CDarumaFS600, CDarumaMach2):
//   request  1C 46 EB 30 81 00        FS, "F" 235, "0", check byte, terminator
//   read     1C 52 C8 30 32 36        FS, "R" 200, register "026", sent bare
//   replies  3A 46 EB 30 30 30 0D     ":", two bytes (the command echoed), code "000", CR
//            3A C8 30 32 36 ...  0D   ":", 200, the register number, its value, CR
// Classic (CDaruma):
//   request  1B CF                    ESC and the command byte, then the parameters
//   replies  3A 45 35 30 0D           ":E50" CR, an error (code 50)
//            3A ... 0D                anything else between ":" and CR, success
// Bytes before the first ':' are line noise and are dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/datetime.h"
#include "core/fields.h"
#include "core/types.h"

namespace tarvion::daruma {

constexpr uint8_t kFS = 0x1C, kESC = 0x1B, kGS = 0x1D;
// Ends a variable text inside the parameters.
constexpr uint8_t kTextEnd = 0xFF;
constexpr uint8_t kReplyStart = ':', kReplyEnd = '\r';
// The code byte of a register read ("R" 200) and of its reply.
constexpr uint8_t kRead = 200;

// ---------------------------------------------------------------- FS600 frames

// The exclusive-or of n bytes.
uint8_t checkByte(const uint8_t* data, size_t n);

// Wire example, the X report (F 235 with "0"):
//   1C 46 EB 30 81 00
// FS, the command bytes, the parameters, the check byte (the exclusive-or of
// every byte before it, FS included) and 00. An empty command makes no frame
// (an empty result).
ByteArray buildFrame(const ByteArray& command, const ByteArray& parameters);

// Wire example, the read of register 094 (the user number):
//   1C 52 C8 30 39 34
// sent as it is, without check byte or terminator.
ByteArray registerRead(int number);

// The command bytes of a register read ("R" 200 or 201).
bool isRegisterRead(const ByteArray& command);

// ---------------------------------------------------------------- replies

// The size of the whole reply in data[0, n): the noise before the first ':',
// the reply and its CR. 0 while the CR after the ':' has not come.
size_t replyLength(const uint8_t* data, size_t n);

// The reply from its first ':' up to (not including) the CR that ends it, or
// to the end of the bytes when no CR follows; empty without a ':'.
std::string_view replyBody(const ByteArray& reply);

// The FS600 error code of a command reply: the three digits at offsets 3-5 of
// the body. False when the body is too short or they are not digits.
bool replyCode(std::string_view body, int& code);

// The FS600 message of an error code (UTF-8); null for a code the table does
// not hold.
const char* messageUtf8(int code);
// The driver's text for an error code (Windows-1252): its message, or
// "Erro indefinido." for a code the table does not hold.
std::string errorText(int code);
// How many codes the table holds.
size_t messageCount();

// The value of a register-read reply: the body must carry `codeByte` at offset
// 1 and the register's three digits at offsets 2-4; the value starts at 5.
bool registerValue(std::string_view body, uint8_t codeByte, int number, std::string& value);

// ---------------------------------------------------------------- classic frames

// Wire example, the X report: 1B CF. ESC, the command byte, the parameters as
// they are; no check byte, no terminator. An empty command makes no frame.
ByteArray buildClassicFrame(const ByteArray& command, const ByteArray& parameters);

// Command bytes of the classic printers.
namespace classic {
constexpr uint8_t kOpenReceipt = 200, kCancelItem = 205, kCancelReceipt = 206, kXReport = 207, kZReport = 208,
                  kMemoryRead = 209, kOpenReport = 211, kCloseDocument = 212, kReportText = 213, kNonFiscal = 217,
                  kDefinePayment = 218, kOpenLinked = 219, kDefineTax = 220, kDefineTitle = 226, kChangeDaylight = 228,
                  kReadDaylight = 229, kReadClock = 230, kReadTaxes = 231, kReadIdentity = 236, kReadPayments = 238,
                  kReadReceipt = 239, kReadTotals = 240, kTotalize = 241, kPay = 242, kCloseReceipt = 243,
                  kReadTitles = 244, kSellItem = 247, kReadFiscal = 250, kReadPaper = 255, kDrawer = 'p',
                  kDisplay = 'Y';
// After every reply the host sends ESC 239 (the receipt read) and waits for
// its answer before the printer takes the next command.
constexpr uint8_t kRelease = kReadReceipt;

// The kinds of a fiscal-memory read (209): printed by date or by reduction
// counter, or sent back as text by counter or by date; upper case for the
// full read, lower case for the summarised one.
constexpr char kByDate = 'D', kByCounter = 'R', kTextByCounter = 'S', kTextByDate = 'T';

// The data after the ':' of each read:
//   229 255  "1" or "0": daylight saving, paper near its end
//   230      ddmmyyhhmmss
//   231      5 characters per rate: "T" or "S" and 4 digits (1800 is 18,00 %)
//   236      8 characters of the serial number, 4 digits of the printer
//            number, 2 of the user number
//   238      20 x (17 characters of a payment name, 13 digits of its day's amount in cents)
//   239      6 digits COO, "1" or "0" a fiscal receipt open, 18 digits grand
//            total in cents, 6 digits CCF, 6 digits GNF
//   240      14 digits each: gross sale, cancellations, discounts, increases,
//            non-fiscal, all in cents; 4 digits CRZ, 4 digits CRO
//   244      20 x 21 characters of a non-fiscal title
//   250      ddmmyy of the fiscal date, 4 digits printer number, "1" or "0" daylight saving
//   209 S/T  the read's text, lines ended by LF
constexpr size_t kPaymentName = 17, kTitleName = 21, kSlots = 20, kMoneyWidth = 13;
}  // namespace classic

// A classic error reply: the body reads ":E", two digits and was ended by CR.
// False for every other reply (success).
bool classicError(std::string_view body, int& code);
// The classic message of an error code (UTF-8); null for a code without one.
const char* classicMessageUtf8(int code);
size_t classicMessageCount();

// ---------------------------------------------------------------- values

// Host text for a fixed or 0xFF-ended field: control bytes made blanks, and the
// byte 0xFF (which would end the text early) written as 'y'. Cut to width when
// width is given; padded with blanks to it when pad is set.
std::string textField(std::string_view cp1252, size_t width = 0, bool pad = false);

// Digits only ("000123" is 123); false for anything else or an empty text.
bool digitsValue(std::string_view s, long long& out);
// "ddmmyyyy" (and "hhmmss" after it when the text has 14 digits) or, with
// two-digit years, "ddmmyy[hhmmss]" (years 2000-2099); invalid for anything else
// or for all zeros.
DateTime stampValue(std::string_view s);
// "ddmmyy" and "ddmmyyhhmmss" of a date-time (the printers' "%d%m%y%H%M%S");
// false when it has no valid date.
bool dateField(const DateTime& dt, bool withTime, std::string& out);

// The numeric fields the FS600 commands send. Quantity and unit price take the
// printer's decimals (see quantityField and priceField).
namespace field {
using fields::Field;
using fields::Rounding;
constexpr Field kItemDiscount{"Desconto do item", 11, 2, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kItemAdjust{"Valor do desconto", 11, 2, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kSubtotalDiscount{"Valor do desconto", 12, 2, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kSubtotalIncrease{"Valor do acr\xE9scimo", 12, 2, Rounding::TowardZero, false, 0};
constexpr Field kPayment{"Valor do pagamento", 12, 2, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kNonFiscal{"Valor", 11, 2, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kLinked{"Valor", 12, 2, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kItem{"N\xFAmero do item", 3, 0, Rounding::TowardZero, false, 0};
constexpr Field kIndex{"\xCDndice", 2, 0, Rounding::TowardZero, false, 0};
constexpr Field kCounter{"Contador", 6, 0, Rounding::TowardZero, false, 0};
Field quantityField(int decimals);  // 7 digits
Field priceField(int decimals);     // 8 digits

// The classic printers' fields.
constexpr Field kClassicDiscount{"Desconto do item", 9, 2, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kClassicPrice{"Valor unit\xE1rio", 10, 3, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kClassicQuantity{"Quantidade", 8, 3, Rounding::TowardZero, false, 0};
constexpr Field kClassicAmount{"Valor", 12, 2, Rounding::HalfAwayFromZero, false, 0};
constexpr Field kClassicIncrease{"Valor do acr\xE9scimo", 12, 2, Rounding::TowardZero, false, 0};
constexpr Field kClassicRate{"Percentual da al\xEDquota", 4, 2, Rounding::HalfAwayFromZero, false, 0};
}  // namespace field

// ---------------------------------------------------------------- FS600 registers

// The registers the driver reads and the layout of each value:
//   001 002 008 009 011 012 013   18 digits, cents (grand total, gross sale,
//                                 non-fiscal, discounts, increases, ICMS and
//                                 ISS cancellations)
//   006        20 x 13 digits, cents: the day's amount per payment slot
//   023 024 026 028 030 033 045   6 digits: CRO, CRZ, COO, GNF, CCF, GRG, CDC
//   046        1 digit: 0 nothing to cancel, 1 a fiscal receipt, 2 a non-fiscal one
//   056        1 digit: 0 no fiscal receipt open, else its phase (1 items,
//              2 totalled, 3 paying)
//   058        3 digits: the last item number
//   066 073 085  ddmmyyyyhhmmss
//   070 134    ddmmyyyy (all zeros: none)
//   078        20 characters; 079 10; 080 081 20 each
//   082        3 digits: printed columns
//   084        6 digits: the firmware version, two per field
//   093        ddmmyyyyhhmmss and 4 digits: the user's date and restart counter
//   094        2 digits; 107 3 digits
//   108 113 140  "1" or "0": daylight saving, an extra copy when a receipt
//              closes, a Z reduction pending
//   109        "S" or "N"
//   125        5 characters per programmed rate: "T" or "S" and 4 digits (1800)
//   126 127 128  20 x 15 characters (blank, or "---------------" for a report, is a free slot)
//   131        84 characters, two lines of 42
//   139        2 digits: quantity decimals, unit-price decimals
namespace reg {
constexpr int kGrandTotal = 1, kGrossSale = 2, kPaymentValues = 6, kNonFiscalTotal = 8, kDiscounts = 9, kIncreases = 11,
              kCancellations = 12, kIssCancellations = 13, kRestarts = 23, kReductions = 24, kOperations = 26,
              kNonFiscalCount = 28, kFiscalReceipts = 30, kReportCount = 33, kLinkedCount = 45, kDocument = 46,
              kReceiptState = 56, kLastItem = 58, kClock = 66, kFiscalDate = 70, kLastDocument = 73, kSerial = 78,
              kType = 79, kMark = 80, kModel = 81, kColumns = 82, kFirmware = 84, kFirmwareDate = 85, kUser = 93,
              kUserNumber = 94, kPrinterNumber = 107, kDaylight = 108, kIssDiscount = 109, kExtraCopy = 113,
              kTaxes = 125, kPayments = 126, kTitles = 127, kReports = 128, kPafLines = 131, kLastReduction = 134,
              kDecimals = 139, kPendingZ = 140;
constexpr size_t kSlots = 20, kSlotWidth = 15, kTaxWidth = 5, kValueWidth = 13;
}  // namespace reg

}  // namespace tarvion::daruma
