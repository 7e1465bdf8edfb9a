// The driver's side of the Bematech wire protocol as pure functions: frames,
// status bytes, the extended status tables and the packed-BCD numbers of the
// replies. The virtual printer answers with a codec of its own, so a mistake
// here shows up as a disagreement on the line.
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
#include <string>
#include <vector>

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

}  // namespace tarvion::bematech
