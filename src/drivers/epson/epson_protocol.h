// The Epson framed byte protocol as pure functions: the request frame with its
// sequence byte and checksum, the escapes of the command bytes, the reply's
// end and fields, the return-code pairs and their messages, and the printer's
// text. Nothing here touches a port, so tests and fuzzers reach it directly.
//
// A request: STX, sequence (0x81..0xFE), the command code and its extension
// (two bytes each, FS between them), FS before each field, ETX, and the sum of
// every byte from STX to ETX as four upper-case hex digits:
//   02 81 0A 01 1C 00 00 1C 1C 03 "00E5"     (open a receipt, two empty fields)
// The printer acknowledges with ACK and answers with a frame of the same shape:
//   02 81 0A 01 1C st st 1C st st 1C class detail [1C result...] 03 "CCCC"
// where a byte that would read as a control of the frame goes after an ESC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/fields.h"

namespace tarvion::epson {

constexpr uint8_t kStx = 0x02, kEtx = 0x03, kAck = 0x06, kNak = 0x15, kEsc = 0x1B, kFs = 0x1C, kSub = 0x1A;

// ---------------------------------------------------------------- the request

// Sequence bytes run 0x81..0xFE; after 0xFE comes 0x81 again (0xFF is never sent).
constexpr int kFirstSequence = 0x81;
inline int nextSequence(int seq) {
  const int n = seq + 1;
  return n >= 0xFF || n < kFirstSequence ? kFirstSequence : n;
}

// Appends a two-byte code to a command buffer: FS first unless the buffer is
// empty, then each byte, after an ESC when it is 0x02 or 0x1A.
// Wire example, code 0A02 then extension 0000 on an empty buffer: 0A 02 1C 00 00
void addCommandBytes(std::string& buffer, uint8_t a, uint8_t b);
// Appends one field: FS, then its bytes.
void addField(std::string& buffer, std::string_view text);

// The checksum text of a frame's bytes from STX to ETX: "%04X" of their sum.
std::string checksum(std::string_view bytes);

// Wire example, the status request 0001/0000 as the first frame:
//   02 81 00 01 1C 00 00 03 "00A3"
std::string buildFrame(int seq, std::string_view command, std::string_view fields = {});

// ---------------------------------------------------------------- the reply

// The size of the frame that starts at data[0] (STX .. ETX and four digits),
// or 0 while it is not complete or data[0] is not STX. ESC takes the next byte
// as data, so an escaped ETX does not end the frame.
size_t frameLength(const uint8_t* data, size_t n);

// Where the answer to the frame of sequence `seq` starts in data[0, n): the
// first STX followed by that sequence byte, past whole frames of other
// sequences (a late answer to an earlier frame) and stray bytes. npos while
// none is there yet; `length` is the answer's size, 0 while it is incomplete.
size_t findReply(const uint8_t* data, size_t n, int seq, size_t& length);

// Whether a whole frame's checksum matches its bytes.
bool checksumMatches(std::string_view frame);

// The fields of a reply split at FS, with every ESC dropped before the byte it
// guards; the last field ends before ETX. Field 0 holds STX, the sequence and
// the echoed command, 1 and 2 the printer's status, 3 the return code.
std::vector<std::string> replyFields(std::string_view frame);

// The return code of the fields (class, detail); false when field 3 is missing
// or shorter than two bytes.
bool returnCode(const std::vector<std::string>& fields, int& cls, int& detail);

// The message of a return-code pair (UTF-8), or null when the table has none.
const char* messageUtf8(int cls, int detail);
// How many pairs the table holds.
size_t messageCount();
// The driver's text for a failed pair (Windows-1252): FF/FF "Erro
// desconhecido.", a known pair its message, an unknown pair an empty text.
std::string errorText(int cls, int detail);

// ---------------------------------------------------------------- values

// The numeric fields this protocol sends (implied decimals, zeros lead).
namespace field {
constexpr fields::Field kAmount{"Valor", 13, 2, fields::Rounding::HalfAwayFromZero, false, 0};
constexpr fields::Field kAdjust{"Valor do desconto/acr\xE9scimo", 11, 2, fields::Rounding::HalfAwayFromZero, false, 0};
constexpr fields::Field kQuantity{"Quantidade", 7, 3, fields::Rounding::HalfAwayFromZero, false, 0};
constexpr fields::Field kUnitPrice{"Valor unit\xE1rio", 8, 2, fields::Rounding::HalfAwayFromZero, false, 0};
constexpr fields::Field kRate{"Percentual da al\xEDquota", 4, 2, fields::Rounding::HalfAwayFromZero, false, 0};
constexpr fields::Field kIndex{"\xCDndice", 2, 0, fields::Rounding::TowardZero, false, 0};
constexpr fields::Field kItem{"N\xFAmero do item", 3, 0, fields::Rounding::TowardZero, false, 0};
}  // namespace field

// The tax field of a rate entry of the tax table ("T1-18,00%"): "01T1800" for
// rate 18 at index 'A' of the code; empty when the entry does not hold that
// rate text (which is "%05.2f%%" with a decimal comma, "07,00%").
std::string taxField(const std::string& entry, double rate);
// The rate text an entry is matched on: 18 gives "18,00%".
std::string rateText(double rate);

// Host text in the printer's characters (code page 850 for the accented
// letters), cut into lines of `columns` bytes; an empty text is no line.
std::vector<std::string> printerLines(std::string_view cp1252, int columns);

}  // namespace tarvion::epson
