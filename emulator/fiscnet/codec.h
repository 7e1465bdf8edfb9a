// The FiscNET protocol from the printer's side: taking a request apart and
// writing its reply. Written for the virtual printer alone; it shares nothing
// with the driver's codec, so each side checks the other.
//
//   request  {7;PagaCupom;CodMeioPagamento=-2 Valor=25,00;39}
//   reply    {7;0;;5}            or, refused,
//            {7;8014;Circunstancia="PaymentNotProgrammed";40}
//
// The length counts the bytes from the sequence number up to the ';' before
// the length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace tarvion::emulator::fiscnet {

enum class FrameState {
  Incomplete,  // no closing brace yet: wait for more bytes
  Frame,       // a whole request (maybe with a syntax error, see Request::syntaxError)
  NotAFrame,   // bytes before the next '{': drop `size` of them
};

struct Request {
  size_t size = 0;  // bytes taken from the buffer
  int seq = -1;
  std::string command;
  // Values as written: texts without their quotes and with the printer's
  // escapes resolved (\\ is one backslash).
  std::map<std::string, std::string> params;
  bool syntaxError = false;

  bool has(const std::string& name) const { return params.count(name) != 0; }
  std::string get(const std::string& name) const {
    auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
  }
};

FrameState parseRequest(const uint8_t* data, size_t n, Request& out);

// One reply; results are "Name=value" items written in order.
ByteArray buildReply(int seq, int code, const std::vector<std::string>& results = {});

// Value notation.
std::string money(int64_t cents);  // 1234,50 with '.' between thousands: "1.234,50"
std::string fixed3(int64_t thousandths);
// "12,50" or "-1,50" into hundredths (or thousandths with decimals = 3); false on junk.
bool parseDecimal(std::string_view s, int decimals, int64_t& out);
bool parseInt(std::string_view s, long& out);
bool parseFlag(std::string_view s, bool& out);  // T or F
// "#dd/mm/yyyy#" and "#hh:mm:ss#" into their numbers; false when not that shape.
bool parseDate(std::string_view s, int& day, int& month, int& year);
bool parseTime(std::string_view s, int& hour, int& minute, int& second);
std::string dateText(int day, int month, int year);
std::string timeText(int hour, int minute, int second);
// A text result: quotes and backslashes kept out of the value.
std::string quoted(std::string_view name, std::string_view value);

}  // namespace tarvion::emulator::fiscnet
