// The Epson frames from the printer's side: a request taken from the line
// (STX, sequence, code and extension, FS-separated fields, ETX and four hex
// digits of the byte sum), and the reply that answers it, with the command
// echoed, two status fields and the class/detail return code. A byte of a
// reply that would read as a frame control goes after an ESC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"

namespace tarvion::emulator::epson {

enum class FrameState { Incomplete, NotAFrame, Whole, BadChecksum };

struct Request {
  size_t size = 0;  // bytes of the frame taken from the buffer
  int seq = 0;
  uint8_t code[2]{}, ext[2]{};
  std::vector<std::string> fields;
  // The command and its extension as one key: code high byte first.
  uint32_t key() const {
    return (uint32_t{code[0]} << 24) | (uint32_t{code[1]} << 16) | (uint32_t{ext[0]} << 8) | ext[1];
  }
};

// Reads the frame at the front of data. NotAFrame: data[0] is not STX (size
// 1, to drop); BadChecksum: a whole frame whose sum does not match (size set).
FrameState parseRequest(const uint8_t* data, size_t n, Request& out);

// ACK, then the reply frame.
ByteArray buildReply(int seq, const uint8_t code[2], uint16_t printerStatus, uint16_t fiscalStatus, int cls, int detail,
                     const std::vector<std::string>& results);

}  // namespace tarvion::emulator::epson
