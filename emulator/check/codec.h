// The check printers' side of their wires: how a Perto printer finds a frame
// among the bytes it gets and how it answers, how a Chronos printer splits
// commands from the text it prints, and how an Imprecheq takes its commands.
// Written from the printers' side, apart from the drivers' codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/types.h"

namespace tarvion::emulator::checks {

constexpr uint8_t kSTX = 0x02, kETX = 0x03, kACK = 0x06, kNAK = 0x15, kESC = 0x1B, kCR = 0x0D, kLF = 0x0A, kFF = 0x0C;

namespace perto {

enum class Take {
  Need,   // no whole frame yet: the bytes stay
  Frame,  // one frame, its check byte right
  Bad,    // a frame whose check byte is wrong: answered NAK
};

// Looks for the first frame in buf: what comes before its STX is dropped (the
// host's acknowledgements, noise); used says how much of buf the frame and what
// came before it took; body is the command byte and its parameters.
Take takeFrame(const ByteArray& buf, size_t& used, ByteArray& body);

// The answer frame: STX, the status as three digits, the data, ETX and the
// exclusive-or of all of them. 02 30 30 30 03 31 for status 0 without data.
ByteArray answer(int status, const std::string& data = {});

// The CMC-7 line as the printer sends it: "<" the first group "<" the second
// ">" the third ":", from the 30 digits of the three groups (8, 10, 12).
std::string cmc7Text(const std::string& digits);

}  // namespace perto

namespace chronos {

// What starts the bytes: a command frame (ESC, code, parameters ending in CR,
// then a zero), text for the paper up to LF, or not enough bytes yet.
enum class Take { Need, Command, Text };

// Takes the first piece of buf. For a command, code is its byte and params
// what stands between it and the zero (a CR closing them removed; hasCr says
// whether there was one). For text, the line without its LF.
Take take(const ByteArray& buf, size_t& used, uint8_t& code, std::string& params, bool& hasCr);

}  // namespace chronos

namespace imprecheq {

// One command: ESC and its letter ("S0" for text), then its parameters as
// each letter ends them: 'B' three characters, 'V' fourteen digits, 'D' six,
// 'F' and 'C' up to '$', "S0" up to FF. Bytes that are not a command are dropped.
enum class Take { Need, Command, Noise };
Take take(const ByteArray& buf, size_t& used, std::string& code, std::string& params);

}  // namespace imprecheq

}  // namespace tarvion::emulator::checks
