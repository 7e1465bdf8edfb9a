// The Bematech line as the printer sees it: requests to take apart, replies to
// put together. Written from the printer's side of the conversation, on its
// own, so that a host whose framing or checksum goes wrong is refused here
// instead of being understood by a copy of its own mistake.
//
// A request:  STX NBL NBH PREFIX CMD [SUB] PARAMS... CSL CSH
//   N (NBL + 256 NBH) counts every byte after NBH, the checksum included;
//   S (CSL + 256 CSH) is the sum of the bytes from PREFIX to the last parameter,
//   each unsigned, kept to 16 bits. No end byte, no escaping.
// The answer: NAK alone refuses the frame (not executed); otherwise ACK, then
//   the command's data, then ST1 ST2, and with the FS prefix the extended code
//   ST3 as two bytes, low byte first. The commands that print text back over
//   the line put ST1 ST2 before the text as well.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/types.h"

namespace tarvion::emulator::bematech {

constexpr uint8_t kSTX = 0x02, kACK = 0x06, kNAK = 0x15;
// The first byte after the length: the classic models take ESC, the later
// ones FS.
constexpr uint8_t kESC = 0x1B, kFS = 0x1C;

// Command codes, the first byte after the prefix.
namespace cmd {
constexpr uint8_t OpenReceipt = 0, ReducaoZ = 5, LeituraX = 6, AddTax = 7, FiscalMemory = 8, CancelReceipt = 14,
                  Authenticate = 16, DaylightSaving = 18, Status = 19, Report = 20, CloseReport = 21, CashDrawer = 22,
                  DrawerStatus = 23, NonFiscal = 25, TaxRates = 26, TaxTotals = 27, ReceiptNumber = 30, CancelItem = 31,
                  Totalize = 32, CloseReceipt = 34, Read = 35, AddNonFiscalTitle = 40, PrintCheck = 57,
                  CurrencySingular = 58, CurrencyPlural = 59, Block = 62, RegisterItem = 63, OpenLinked = 66,
                  LinkedText = 67, LeituraXSerial = 69, AddPayment = 71, Payment = 72, RedefinePayments = 73,
                  ReadCmc7 = 76, NameReport = 82, OpenNamedReport = 83, SecondCopy = 85, TaxTotalsText = 87,
                  DayStart = 88, ItemAdjustment = 93, CancelItemAdjustment = 114;
}  // namespace cmd

// Sub-codes of command 35 (the reads), the second byte of the command.
namespace read {
constexpr uint8_t SerialNumber = 0, Firmware = 1, GrandTotal = 3, CancelTotal = 4, DiscountTotal = 5,
                  OperationCounter = 6, NonFiscalCounter = 7, ZCounter = 9, RestartCounter = 10, UserNumber = 11,
                  LastItem = 12, PrinterNumber = 14, Flags = 17, DateTime = 23, LastReductionDate = 26,
                  FiscalStartDate = 27, TaxFlags = 29, IncreaseTotal = 30, PaymentTypes = 32, NonFiscalTitles = 33,
                  LongSerialNumber = 40, LongFirmware = 41, Payments20 = 49, Titles30 = 50, ReportNames = 51,
                  LinkedCounter = 52, ReportCounter = 54, FiscalReceiptCounter = 55, Equipment = 60,
                  LastDocumentTime = 64, MovementDate = 67, IssDiscounts = 76;
}  // namespace read

// Sub-codes of command 62, the first parameter byte.
namespace block {
constexpr uint8_t Sensor = '0', DayStart = 55, Cut = 'K', AppIdentification = '@', Item = 'I', LongCheck = 'L';
}

// ST1: the first status byte. NearPaperEnd is a warning, never a failure.
namespace st1 {
constexpr uint8_t BadParamCount = 0x01, ReceiptOpen = 0x02, UnknownCommand = 0x04, FirstNotEsc = 0x08,
                  PrinterError = 0x10, ClockError = 0x20, NearPaperEnd = 0x40, PaperOut = 0x80;
}
// ST2: the second status byte.
namespace st2 {
constexpr uint8_t NotExecuted = 0x01, OwnerNotProgrammed = 0x02, CancelNotAllowed = 0x04, TaxTableFull = 0x08,
                  TaxNotProgrammed = 0x10, RamError = 0x20, FiscalMemoryFull = 0x40, BadParamType = 0x80;
}

// Extended status codes (ST3) as the full 208-entry table numbers them; the
// models with a shorter table answer the code of the same entry in their own
// (st3Code below).
namespace code {
constexpr uint16_t InvalidCommand = 1, BadParamCount = 3, BadParamType = 4, TaxesFull = 5, TitleProgrammed = 6,
                   ReceiptOpen = 7, ReceiptClosed = 8, PaperOut = 11, TaxNotProgrammed = 14, DiscountTooLarge = 16,
                   NoItems = 17, NotDone = 18, PaymentsFull = 19, PaymentNotProgrammed = 20, PaymentsClosed = 22,
                   NotTotalized = 23, CancelNotAfter = 26, CancelDone = 27, LinkedNotAllowed = 28, NoNonFiscal = 30,
                   TitleNotProgrammed = 34, PaymentMissing = 37, ReportProgrammed = 40, ReportNotProgrammed = 41,
                   NonFiscalOpen = 48, MemoryFull = 51, StartDate = 52, DayMovement = 62, ZLock = 63, ZPending = 66,
                   SecondCopy = 80, LinkedOpen = 82, ZeroSale = 85, AuthNotAllowed = 92, NonFiscalClosed = 96,
                   DateTime = 100, NoReport = 101, TitleNumber = 102, ReportNumber = 105, BlankName = 111,
                   DateBefore = 112, ItemMissing = 115, IncreaseTooLarge = 118, ItemDiscountTooLarge = 119,
                   IncreaseDone = 121, DiscountDone = 122, CheckReadTimeout = 128, FirstByte = 141,
                   PaymentDuplicate = 155, DstAfterZ = 156, Subtotalled = 170, IncreaseZero = 174, DiscountZero = 175,
                   BadDate = 177, CheckZero = 178, CheckNoCity = 180, CancelIncrease = 181, CancelDiscount = 182,
                   MaxItems = 183, ItemZero = 184, CheckInsertTimeout = 191;
}  // namespace code

// The extended status tables of the FS models:
//   Full     208 entries (MP-2100, MP-3000, MP-4000, MP-6000, MP-7000);
//   MP25     the first 195 entries, same codes;
//   IBM4610  as MP25 without entry 168, so 169-195 answer one lower;
//   MP2000   the first 124 entries, then the full table's 126-158 at 125-157
//            (it lacks entry 125).
enum class St3Table { Full, MP25, IBM4610, MP2000 };
// Entries in a table.
uint16_t st3Entries(St3Table table);
// The code a model answers for a code of the full table: the same entry in its
// own table, or NotDone (18) when the model has no such entry. 0 stays 0.
uint16_t st3Code(St3Table table, uint16_t fullCode);

// S: the 16-bit sum of the bytes.
uint16_t checksum(const uint8_t* data, size_t n);

// No request is longer than this; a larger N means the STX was noise.
constexpr size_t kMaxLength = 4096;

// One request at the start of the bytes received.
enum class FrameState {
  Incomplete,   // more bytes are needed
  Ok,           // a whole request, checksum right
  BadChecksum,  // a whole request whose checksum is wrong: NAK, and it is dropped
  NotAFrame     // the first byte cannot start a request (not STX, or an impossible N)
};
struct Request {
  uint8_t prefix = 0;
  ByteArray body;   // command, sub-code and parameters
  size_t size = 0;  // bytes the request took on the line
};
FrameState parseRequest(const uint8_t* data, size_t n, Request& out);

// ST1 ST2, and with the FS prefix ST3 low and high.
ByteArray statusBytes(uint8_t st1, uint8_t st2, bool fsPrefix, uint16_t st3);
// A whole answer: ACK, data, status. With statusFirst (the reads that print
// text back) the first two status bytes also come before the data. A failed
// command answers its status alone.
ByteArray answer(const ByteArray& status, const ByteArray& data, bool statusFirst);

// Packed BCD, two decimal digits a byte, most significant first; a value too
// large keeps its lowest digits.
ByteArray toBcd(uint64_t value, size_t bytes);

}  // namespace tarvion::emulator::bematech
