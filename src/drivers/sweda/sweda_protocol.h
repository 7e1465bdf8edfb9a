// The two Sweda protocols as pure functions, so that tests and fuzzers reach
// them without a port.
//
// ST line: STX, a sequence byte (43..254), a two-digit command code, the
// parameters each behind '|', ETX and a sum check:
//   request  02 2B "15" 03 96
//   reply    02 2B "15" '+' "0000" 03 chk       ('-' and an error code: refused;
//                                                '!' an intermediate status)
// A reply may shorten a run of one byte as that byte, ESC and a count.
//
// Classic line: ESC '.', a two-digit code, fixed-width parameters and '}':
//   request  1B 2E "05" 7D
//   reply    ".+05}"   or   ".-0014Texto do erro}"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/fields.h"
#include "core/types.h"

namespace tarvion::sweda {

constexpr uint8_t kSTX = 0x02, kETX = 0x03, kACK = 0x06, kNAK = 0x15, kESC = 0x1B;
constexpr uint8_t kFirstSequence = 43, kLastSequence = 254;
// The printer's code for a frame it did not receive whole.
constexpr int kCommunicationFailure = 193;

// ---------------------------------------------------------------- ST frames

// The low 8 bits of the sum of the bytes.
uint8_t sumCheck(const uint8_t* data, size_t n);

// Wire example, LeituraX at sequence 43:  02 2B 31 35 03 96
ByteArray buildFrame(uint8_t sequence, std::string_view code, std::string_view parameters);
// 43, 44, ... 254, then 43 again.
uint8_t nextSequence(uint8_t sequence);

// A reply with its runs written out: ESC and a count n stand for the byte
// before the ESC repeated n - 31 more times.
ByteArray expandRuns(const ByteArray& reply);

// The assembly buffer ends in a candidate reply (ETX then one byte).
bool candidateComplete(const ByteArray& buf);
// Its last byte is the sum check of the others.
bool replyCheckOk(const ByteArray& buf);
// The reply's sequence byte, status byte ('+', '-', '!') and error code
// (the four digits after the status; -1 when they are not digits).
inline int replySequence(const ByteArray& r) {
  return r.size() > 1 ? r[1] : -1;
}
inline int replyStatus(const ByteArray& r) {
  return r.size() > 4 ? r[4] : -1;
}
int replyCode(const ByteArray& r);
// The '|' fields after the error code, up to the ETX.
std::vector<std::string> replyFields(const ByteArray& r);

// The printer's message for an error code; "Erro inesperado ao enviar o
// comando." for a code it does not list. Windows-1252.
std::string errorText(int code);
// How many codes the table lists.
size_t errorCount();

// Amounts and quantities as the ST line writes them: a decimal comma and no
// leading zeros ("12,50", "1,000"); empty with the message in error when the
// value does not fit its field.
namespace field {
inline constexpr fields::Field kAmount{"Valor", 13, 2, fields::Rounding::HalfAwayFromZero, false, ','};
inline constexpr fields::Field kPrice{"Valor unit\xE1rio", 13, 2, fields::Rounding::HalfAwayFromZero, false, ','};
inline constexpr fields::Field kQuantity{"Quantidade", 8, 3, fields::Rounding::HalfAwayFromZero, false, ','};
inline constexpr fields::Field kRate{"Al\xEDquota", 5, 2, fields::Rounding::HalfAwayFromZero, false, ','};
inline constexpr fields::Field kItem{"Item", 3, 0};
inline constexpr fields::Field kIndex{"\xCDndice", 2, 0};
inline constexpr fields::Field kReduction{"Redu\xE7\xE3o", 4, 0};
inline constexpr fields::Field kCounter{"Contador", 6, 0};
// Classic fields: fixed widths, amounts in hundredths.
inline constexpr fields::Field kClassicTotal{"Valor", 12, 2};
inline constexpr fields::Field kClassicPrice{"Valor unit\xE1rio", 9, 2};
inline constexpr fields::Field kClassicQuantity{"Quantidade", 4, 0, fields::Rounding::TowardZero};
inline constexpr fields::Field kClassicItem{"Item", 3, 0};
inline constexpr fields::Field kClassicIncrease{"Acr\xE9scimo", 11, 2};
}  // namespace field
// A field's digits with leading zeros dropped (one kept before the comma).
std::string stNumber(const std::string& fixed);

// ---------------------------------------------------------------- classic frames

// Wire example, CancelaCupomFiscal:  1B 2E 30 35 7D
ByteArray buildClassicFrame(std::string_view code, std::string_view parameters);
// The status request and the request for the next part of a report.
inline const ByteArray& classicStatusRequest() {
  static const ByteArray r{kESC, '.', '2', '3', '}'};
  return r;
}
inline const ByteArray& classicContinuation() {
  static const ByteArray r{kESC, '.', '+', '+', '}'};
  return r;
}
// A classic reply that says the command was done.
bool classicSuccess(const ByteArray& reply, bool multiPart);
// "(dddd) text" from an error reply.
std::string classicErrorText(const ByteArray& reply);
// A piece of a report that closes it: ".]}".
bool classicReportEnd(const ByteArray& piece);
// The status reply says the printer is still busy (a '1' or a '6' in its
// fourth to sixth bytes), or without a document (a '5' as its fifth).
bool classicBusy(const ByteArray& status);
bool classicNoDocument(const ByteArray& status);
// The frame only reads, and its reply carries its code (registers, date and
// state, tables; the status reply does not).
bool classicRead(const ByteArray& frame);
// The reply is this frame's: ".+" and the frame's code, or a refusal ".-".
bool classicAnswers(const ByteArray& frame, const ByteArray& reply);
// A register's value: digits only, at most 18 of them.
bool classicDigits(const std::string& text, int64_t& out);
// The first "GT " amount of a fiscal-memory report ("GT 1.234,56"): the dots
// group thousands, the comma leads the cents.
bool reportGrandTotal(const std::string& report, double& out);

}  // namespace tarvion::sweda
