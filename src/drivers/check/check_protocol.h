// The stand-alone check printers' protocols as pure functions: the Perto frame
// with its block check, its reply and status table; the Chronos frame and its
// status byte; the Imprecheq frame; and the text and number layouts each of
// them prints. Nothing here touches a port, so tests and fuzzers reach it
// directly.
//
// Perto: STX, command, parameters, ETX and the exclusive-or of them all; the
// printer acknowledges with one byte, then answers STX, a three-digit status,
// its data, ETX and the block check:
//   02 50 03 51                     read the CMC-7 line ("P")
//   02 30 30 30 03 31               status 000, no data
// Chronos: ESC, a one-byte command, its parameters ending in CR, then a zero;
// the answer is one status byte:
//   1B A2 30 30 31 0D 00            bank 001
// Imprecheq: ESC, a letter and its parameters, one byte at a time under DSR;
// no answer:
//   1B 42 30 30 31                  bank 001
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/datetime.h"
#include "core/fields.h"
#include "core/types.h"

namespace tarvion::check {

constexpr uint8_t kSTX = 0x02, kETX = 0x03, kACK = 0x06, kNAK = 0x15, kESC = 0x1B, kCR = 0x0D, kLF = 0x0A, kFF = 0x0C;

// How a driver turns host text into the printer's plain text (its own
// FormatPrinterText, which also logs).
using Convert = std::function<std::string(const std::string&)>;

// The text with CR LF and lone CR turned into LF.
std::string unixBreaks(std::string_view text);

// "%d%m%y", "%d/%m/%y" and "%d/%m/%Y" of a date; false when it has none.
bool dateText(const DateTime& dt, const char* layout, std::string& out);

// ---------------------------------------------------------------- Perto

namespace perto {

// The commands, one byte each.
constexpr uint8_t kRead = 'P', kFeed = '=', kPrint = ';', kRelease = '>', kCity = '#', kPayee = '%', kDate = '!',
                  kDeposit = '+', kInfo = ':', kText = 'X';
constexpr size_t kTextLines = 14, kTextWidth = 78;
constexpr uint8_t kLineEnd = 0xFF;

// The exclusive-or of every byte.
uint8_t blockCheck(const uint8_t* data, size_t n);

// Wire example, "P" without parameters: 02 50 03 51.
ByteArray frame(const ByteArray& command, const ByteArray& parameters);

// The parameters of ";": 'C', the value in cents as twelve digits, the bank
// code cut to three characters. Wire example for 123.45 and bank "001":
// 02 3B "C000000012345001" 03 and its check byte.
namespace field {
constexpr fields::Field kValue{"Valor do cheque", 12, 2, fields::Rounding::HalfAwayFromZero, false, 0};
}
std::string printParameters(const std::string& cents, std::string_view bank);

// The text of ":": up to 20 characters padded to 20, else up to 40 padded to 40.
std::string additionalInfo(std::string_view text);

// The parameters of "X": exactly 14 lines, each taken up to its LF, padded to
// 100, cut to 78, trimmed on both sides, converted and ended by 0xFF; lines
// the text lacks go empty.
std::string textBlock(std::string_view text, const Convert& convert);

// Whether a serial reply is one whole frame: STX, a three-digit status, ETX
// and the right check byte.
bool frameIntact(const ByteArray& reply);

// A reply as the status check reads it: STX put in front and ETX appended when
// the reply lacks them (the maker's library hands its replies unframed); a
// serial frame that ends in ETX and its check byte is left as it is.
void frameReply(ByteArray& reply);

// The status code of a framed reply (the three digits after STX); false when
// they are not three digits.
bool statusCode(const ByteArray& reply, int& code);

// The message of a status code (Windows-1252): the printer's own for the codes
// it documents, "<code> - Erro indefinido." for the others.
std::string statusMessage(int code);

// The CMC-7 line of a framed reply to "P": from its sixth byte, as long as the
// reply minus the trailer (8 for a serial frame, 7 for the library's reply).
// Empty when the reply is shorter than the trailer.
std::string cmc7Line(const ByteArray& reply, size_t trailer);
constexpr size_t kSerialTrailer = 8, kLibraryTrailer = 7;

}  // namespace perto

// ---------------------------------------------------------------- Chronos

namespace chronos {

constexpr uint8_t kCurrency = 'M', kBank = 0xA2, kValue = 0xA3, kPrint = 0xB0, kPayee = 0xA6, kCity = 0xA7,
                  kDate = 0xA8;
constexpr int kColumns = 82;

// Wire example, bank "001": 1B A2 30 30 31 0D 00 (the parameters already end
// in CR; the zero closes every frame).
ByteArray frame(const ByteArray& command, const ByteArray& parameters);

// The amount as "%14.2f" with a decimal comma: right-aligned in fourteen
// characters ("        123,45"); the field refuses what does not fit.
namespace field {
constexpr fields::Field kValue{"Valor do cheque", 14, 2, fields::Rounding::HalfAwayFromZero, false, ','};
}
fields::Result amount(double value);

// What a status byte says: bits 2 and 4 are the printer's own notes; every
// other bit is a fault. The message lists each fault on a line of its own.
bool statusOk(uint8_t status);
std::string statusMessage(uint8_t status);
// A status byte with bit 7 set is none the printer sends.
inline bool statusReadable(uint8_t status) {
  return (status & 0x80) == 0;
}

// The lines of a text as the printer gets them, one per LF: padded to 100,
// cut to the columns, trimmed at the right and converted, each with its LF.
// A last line without LF is not printed.
std::vector<std::string> textLines(std::string_view text, int columns, const Convert& convert);

}  // namespace chronos

// ---------------------------------------------------------------- Imprecheq

namespace imprecheq {

constexpr uint8_t kBank = 'B', kValue = 'V', kPayee = 'F', kCity = 'C', kDate = 'D';
constexpr const char* kText = "S0";

// Wire example, bank "001": 1B 42 30 30 31.
ByteArray frame(const ByteArray& command, const ByteArray& parameters);

namespace field {
constexpr fields::Field kValue{"Valor do cheque", 14, 2, fields::Rounding::HalfAwayFromZero, false, 0};
}

// The parameters of "S0": every line (a final LF added when missing) padded
// to 100, cut to the columns, trimmed at the right and converted, with its
// LF; FF after the last one.
std::string textBlock(std::string_view text, int columns, const Convert& convert);

}  // namespace imprecheq

}  // namespace tarvion::check
