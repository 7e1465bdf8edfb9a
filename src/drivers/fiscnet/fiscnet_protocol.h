// The FiscNET protocol as pure functions: the request frame, the named
// parameters and their value notation, the reply's return code and named
// results, the message table, the text conversion and the line layout of
// printed text. Nothing here touches a port or the process locale, so tests
// and fuzzers reach it directly.
//
// A request names a command and a list of Name=value parameters:
//   {0;LeInteiro;NomeInteiro="COO";30}
// and its reply carries a return code and named results:
//   {0;0;ValorInteiro=17;21}
// Numbers use a decimal comma (12,50), texts go between double quotes in code
// page 850, flags are T or F, dates #dd/mm/yyyy#.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/datetime.h"
#include "core/fields.h"
#include "core/host_text.h"

namespace tarvion::fiscnet {

// ---------------------------------------------------------------- the frame

// Sequence numbers run 0..254; 255 is never sent.
constexpr int kSequenceLimit = 255;
inline int nextSequence(int seq) {
  const int n = seq + 1;
  return n >= kSequenceLimit || n < 0 ? 0 : n;
}

// Wire example, the first frame of a register read:
//   {0;LeInteiro;NomeInteiro="COO";30}
// and of a command without parameters: {0;EncerraDocumento;;20}. The length
// counts from the sequence number up to the ';' before the length itself.
std::string buildFrame(int seq, std::string_view command, std::string_view params);

// Appends one Name=value parameter: ';' before the first, a blank before the others.
void addParameter(std::string& params, std::string_view nameValue);

// ---------------------------------------------------------------- values

// Printer text for a quoted parameter (Windows-1252 in): double quotes
// removed, backslashes doubled (the printer's escape character), accented
// letters in the printers' code page 850 (text::charset::printer850).
std::string convertText(std::string_view cp1252);
// Name="text": the text cut to width (0: no cut) and converted.
std::string textParameter(std::string_view name, std::string_view cp1252, size_t width = 0);

// A number with a decimal comma and no grouping, as wide as it needs ("1234,50",
// "-1,50", "3,000"); the field bounds the value and names it in the refusal.
fields::Result decimal(double value, const fields::Field& field);

// The numeric fields this protocol sends.
namespace field {
constexpr fields::Field kAmount{"Valor", 16, 2, fields::Rounding::HalfAwayFromZero, true, ','};
constexpr fields::Field kSubtotalAdjust{"Valor do desconto/acr\xE9scimo",   16,   2,
                                        fields::Rounding::HalfAwayFromZero, true, ','};
constexpr fields::Field kUnitPrice{"Valor unit\xE1rio", 13, 3, fields::Rounding::HalfAwayFromZero, false, ','};
constexpr fields::Field kQuantity{"Quantidade", 11, 3, fields::Rounding::HalfAwayFromZero, false, ','};
constexpr fields::Field kPercent{"Percentual da al\xEDquota", 6, 2, fields::Rounding::HalfAwayFromZero, false, ','};
constexpr fields::Field kItem{"N\xFAmero do item", 4, 0, fields::Rounding::TowardZero, false, 0};
constexpr fields::Field kCounter{"Contador", 9, 0, fields::Rounding::TowardZero, false, 0};
}  // namespace field

// Reads a reply amount: '.' groupings dropped, ',' the decimal point
// ("1.234,50" is 1234.5). False on anything else.
bool parseMoney(std::string_view s, double& out);

// "#dd/mm/yyyy#" and "#hh:mm:ss#" of a date-time; false when it has no valid date.
bool dateValue(const DateTime& dt, std::string& out);
bool timeValue(const DateTime& dt, std::string& out);

// ---------------------------------------------------------------- replies

// Where a reply ends: its closing brace outside a quoted text. The size of the
// whole reply in data[0, n), or 0 while it is not complete.
size_t replyLength(const uint8_t* data, size_t n);

// The return code: the integer between the first ';' and the next. False when
// the reply has no such field or it is not yet closed by its ';'.
bool replyCode(std::string_view reply, int& code);

// The named results. The first occurrence of the name decides, as the printer
// lists each result once; a missing name gives -1, false, 0.0, an empty text,
// or false for the date and the time.
long replyInteger(std::string_view reply, std::string_view name);
bool replyFlag(std::string_view reply, std::string_view name);
double replyMoney(std::string_view reply, std::string_view name);
std::string replyText(std::string_view reply, std::string_view name);
bool replyDate(std::string_view reply, std::string_view name, DateParts& out);
bool replyTime(std::string_view reply, std::string_view name, DateParts& out);
// Whether the named result is in the reply whole: present and closed by the
// ';' after it (a text by its closing quote). A reply cut short may end in the
// middle of a value, which would otherwise read as a shorter one.
bool replyValueWhole(std::string_view reply, std::string_view name);

// The printer's message for a return code (UTF-8), or null for a code the
// table does not hold.
const char* messageUtf8(int code);
// The driver's error text for a failed reply (Windows-1252): the code's
// message, "Erro inesperado ao enviar o comando." for an unknown code, and a
// line "Circunstância: x" when the reply explains itself.
std::string errorText(std::string_view reply, int code);
// How many codes the table holds.
size_t messageCount();

// ---------------------------------------------------------------- printed text

// Escapes of the printer inside quoted text.
inline constexpr std::string_view kBoldOn{
    "\x1B"
    "E\x01",
    3};
inline constexpr std::string_view kBoldOff{
    "\x1B"
    "E\\x00",
    6};
// What one "ImprimeTexto" carries at most.
constexpr size_t kTextChunk = 492;

// The printer's markup: <b> </b> become kBoldOn and kBoldOff; <h> and
// <barcode> take no bytes.
const text::Markup& printerMarkup();

// Lays text out in printer lines of `columns` visible characters (48 when not
// given) with text::layoutLines and printerMarkup: CR LF and CR become LF, a
// line ends at its LF or where the width is reached, a line shorter than the
// width gets its LF. At most maxLines lines (0: no limit). An empty text is one LF.
std::string layoutText(std::string_view text, int columns, int maxLines = 0);

// The length of the next chunk of an "ImprimeTexto" series starting at `from`:
// at most kTextChunk, ended before a bold escape that would be split.
size_t nextChunk(std::string_view text, size_t from);

}  // namespace tarvion::fiscnet
