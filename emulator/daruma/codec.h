// The two Daruma protocols from the printer's side: cutting the host's bytes
// into requests and writing the replies. Written for the virtual printers
// alone; it shares nothing with the driver's codec, so each side checks the
// other.
//
// FS600 requests
//   1C 46 EB 30 81 00      FS, letter and code byte, parameters, XOR of all
//                          bytes before it, 00
//   1C 52 C8 30 32 36      a register read: FS "R" 200 and three digits, bare
//   1D 06                  the status probe
// Classic requests
//   1B CF                  ESC, the command byte, parameters whose length the
//                          command fixes (fixed fields, texts ended by FF or LF)
// Replies
//   3A 46 EB 30 30 30 0D   ":", the command's two bytes, the code, CR (FS600)
//   3A C8 30 32 36 ... 0D  ":", 200, the register, its value, CR (FS600)
//   3A 45 35 30 0D         ":E50" CR, a refusal (classic)
//   3A ... 0D              ":", the data, CR: success (classic)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace tarvion::emulator::daruma {

enum class FrameState {
  Incomplete,  // wait for more bytes
  Frame,       // a whole request
  BadCheck,    // a whole FS600 frame whose check byte is wrong
  NotAFrame,   // bytes that start no request: drop `size` of them
};

struct Request {
  size_t size = 0;  // bytes taken from the buffer
  // FS600: the letter and the code byte ("F" 235); a register read is "R" 200.
  // Classic: letter 0 and the command byte.
  uint8_t letter = 0, code = 0;
  std::string params;  // between the command bytes and the check byte
  bool probe = false;  // FS600 status probe (GS ACK)
  bool known = true;   // classic: the printer knows the command byte
};

FrameState parseFs(const uint8_t* data, size_t n, Request& out);
FrameState parseClassic(const uint8_t* data, size_t n, Request& out);

// How a classic command's parameters end: fixed bytes, texts ended by 0xFF,
// fixed bytes after them, and a text ended by LF. Commands 218 and 220 have two
// forms told apart by their first parameter byte.
struct ClassicShape {
  uint8_t code = 0;
  uint8_t before = 0, texts = 0, after = 0;
  bool lineText = false;
};
// The shape of a classic command byte; null for a byte the printer does not know.
const ClassicShape* classicShape(uint8_t code);

// FS600 replies.
ByteArray fsReply(uint8_t letter, uint8_t code, int error);
ByteArray registerReply(int number, const std::string& value);
// Classic replies.
ByteArray classicReply(const std::string& data);
ByteArray classicRefusal(int code);

// Field notation.
bool digits(std::string_view s, long long& out);  // digits only, not empty
std::string zeros(long long value, int width);    // value in width digits (cut from the left when wider)
std::string padded(std::string_view s, size_t width);
// The 0xFF-ended texts at the front of s: up to count of them; false when s
// holds fewer. `used` is the bytes they took, terminators included.
bool splitTexts(std::string_view s, size_t count, std::vector<std::string>& out, size_t& used);

}  // namespace tarvion::emulator::daruma
