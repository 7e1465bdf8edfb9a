// The Schalter ECF-IF protocol as the printer sees it, written from the
// printer's side on its own:
//   ESC 'f' CODE PARAMS CK   a command; PARAMS has the width CODE fixes; CK
//                            makes the sum of every byte of the frame 0 mod 256
//   ESC 'n' TEXT 00 0A       one line of printed text
// Every answer is the status byte (0 done, else the error code), then for the
// reads their fields at fixed places, the whole answer as long as the command
// fixes (a refused read keeps its size, its fields NUL).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/types.h"

namespace tarvion::emulator::schalter {

constexpr uint8_t kESC = 0x1B, kFrame = 'f', kText = 'n';
// A printed line longer than this is noise.
constexpr size_t kMaxLine = 512;

enum class FrameState {
  Incomplete,  // more bytes are needed
  Ok,          // a whole command or line
  BadCheck,    // a whole command whose check byte is wrong
  Unknown,     // a command code the printer does not know: its size cannot be told
  NotAFrame    // the first byte starts nothing: skip it
};

struct Request {
  bool text = false;  // an ESC 'n' line
  uint8_t code = 0;
  std::string params;  // the parameters, or the line's text
  size_t size = 0;     // bytes taken from the line
};

// The width of the parameters of a command; -1 for a code the printer lacks.
int paramWidth(uint8_t code);
// The size of the answer to a command, status included.
size_t answerSize(uint8_t code);

FrameState parse(const uint8_t* data, size_t n, Request& out);

// An answer: the status, then the fields from the second byte, NUL to the size.
ByteArray answer(uint8_t status, size_t size, const std::string& fields = {});

}  // namespace tarvion::emulator::schalter
