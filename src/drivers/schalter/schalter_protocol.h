// The Schalter ECF-IF codec: ESC "f", one command byte, fixed-width parameters
// and a check byte that makes the whole frame sum to zero; every reply starts
// with its status byte. Pure functions, so tests and fuzzers reach them
// without a port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/fields.h"
#include "core/types.h"

namespace tarvion::schalter {

inline constexpr uint8_t kESC = 0x1B, kFrame = 'f', kText = 'n';

// Command bytes.
inline constexpr uint8_t kOpenReceipt = 0x01, kCancelOpen = 0x04, kCancelLast = 0x05, kCloseDocument = 0x06,
                         kOpenReport = 0x10, kTotals = 0x12, kZReport = 0x13, kXReport = 0x14, kMemoryRead = 0x15,
                         kSummerTime = 0x16, kTitleSetup = 0x23, kAuthenticate = 0x6F, kItem = 0xD0, kSubtotal = 0xD1,
                         kItemDiscount = 0xD3, kCancelItem = 0xD4, kPayment = 0xD5, kNonFiscalValue = 0xD6,
                         kReceiptAdjust = 0xD9, kOpenNonFiscal = 0xDD, kOpenLinked = 0xDE, kState = 0xDF,
                         kCounters = 0xE0, kTaxRead = 0xE1, kPaymentRead = 0xE2, kTitleRead = 0xE3, kIdentity = 0xE4,
                         kGrandTotal = 0xE5, kPendingRead = 0xE7, kDrawer = 0xFA;

// Statuses that mean the command was carried out.
inline constexpr uint8_t kOk = 0, kOkToo = 27;

// Wire example, the receipt opening: 1B 66 01 26 58 (0x1B+0x66+0x01+0x26 = 0xA8; 0x100-0xA8 = 0x58).
ByteArray buildFrame(const ByteArray& command, const ByteArray& parameters);
// The byte that makes the sum of data[0, n) and itself zero modulo 256.
uint8_t checkByte(const uint8_t* data, size_t n);

// Wire example, one printed line: 1B 6E "TOTAL DO DIA" 00 0A. A line of text
// goes out without the frame or the check byte.
ByteArray buildTextLine(std::string_view line);

// The message of a status byte; empty for a success or a code the table lacks.
std::string statusMessage(uint8_t code);
inline bool isSuccess(uint8_t code) {
  return code == kOk || code == kOkToo;
}

// The size of the reply to a command byte (status byte included): the reads
// carry their fields at fixed places, the rest answer the status alone.
size_t replyLength(uint8_t command);
inline constexpr size_t kTaxReply = 9, kTitleReply = 24, kPaymentReply = 41, kPendingReply = 60, kStateReply = 7,
                        kCountersReply = 31, kIdentityReply = 45, kTotalsReply = 85, kGrandTotalReply = 250;

// Layout of the reads (offsets from the status byte).
inline constexpr size_t kEntryFlag = 3;  // 'T'/'S' for a defined entry, 'N' for the end of the pending registers
inline constexpr size_t kTaxText = 4, kTitleText = 4, kTitleWidth = 20, kPaymentName = 5, kPaymentNameWidth = 20,
                        kPaymentValue = 26, kPaymentValueWidth = 15;
inline constexpr size_t kPendingName = 4, kPendingAmount = 24, kPendingAmountWidth = 12;
inline constexpr size_t kReceiptOpenAt = 5, kStateFlagsAt = 6;
inline constexpr uint8_t kDrawerClosed = 8, kPaperLow = 2;
inline constexpr size_t kPrinterIdAt = 3, kReceiptNumberAt = 8, kDateAt = 16, kSerialAt = 35, kSerialWidth = 9;
inline constexpr size_t kTotalWidth = 21, kGrandTotalAt = 229;

// The tax code of an item for the rates with fixed codes (0, -1, -2); empty for
// any other rate, which is looked up in the printer's tax table.
std::string fixedTaxCode(double rate);

// Numeric fields.
namespace field {
inline constexpr fields::Field kQuantity{"Quantidade", 7, 3, fields::Rounding::HalfAwayFromZero, false, ','};
inline constexpr fields::Field kBigQuantity{"Quantidade", 7, 1, fields::Rounding::HalfAwayFromZero, false, ','};
inline constexpr fields::Field kUnitPrice{"Valor unit\xE1rio", 9, 2};
inline constexpr fields::Field kItemDiscount{"Desconto", 9, 2};
inline constexpr fields::Field kItemNumber{"N\xFAmero do item", 4, 0, fields::Rounding::TowardZero};
inline constexpr fields::Field kIncrease{"Valor do acr\xE9scimo", 10, 2, fields::Rounding::TowardZero};
inline constexpr fields::Field kDiscount{"Desconto", 10, 2};
inline constexpr fields::Field kPayment{"Valor do pagamento", 10, 2};
inline constexpr fields::Field kLinkedValue{"Valor", 9, 2};
inline constexpr fields::Field kReceiptNumber{"N\xFAmero do cupom", 6, 0, fields::Rounding::TowardZero};
inline constexpr fields::Field kNonFiscalValue{"Valor", 9, 2};
inline constexpr fields::Field kIndex{"\xCDndice", 2, 0, fields::Rounding::TowardZero};
inline constexpr fields::Field kReduction{"Redu\xE7\xE3o", 4, 0, fields::Rounding::TowardZero};
}  // namespace field

// The quantity field: three decimals below 1000, one from 1000 on. "001,500",
// "01500,0".
fields::Result quantity(double q);

// Reads of the replies. A number written with the decimal comma from
// reply[at, at+n); false when the bytes are not one.
bool numberAt(const ByteArray& reply, size_t at, size_t n, double& out);
// Digits of reply[at, at+n) as a whole number; false when they are not digits.
bool digitsAt(const ByteArray& reply, size_t at, size_t n, long long& out);
// Text of reply[at, at+n) without its trailing blanks and zeros.
std::string textAt(const ByteArray& reply, size_t at, size_t n);

}  // namespace tarvion::schalter
