// Schalter frames for the emulator fuzzer, with the driver's own builder: the
// first byte picks the command, the rest are its parameters; the variant bit
// makes a raw text line instead.
#include <iterator>
#include <string_view>

#include "drivers/schalter/schalter_protocol.h"
#include "fuzz/records.h"

namespace tarvion::fuzz {

namespace {

// Each command with the width of its parameters: the printer tells where a
// frame ends only by its code, so the fuzz bytes are cut or padded to fit.
struct Command {
  uint8_t code;
  uint8_t width;
};
constexpr Command kCommands[] = {
    {0x01, 1},  {0x04, 14}, {0x05, 14}, {0x06, 10}, {0x10, 8},   {0x12, 1}, {0x13, 8},  {0x14, 8},
    {0x15, 21}, {0x16, 13}, {0x23, 48}, {0x6F, 48}, {0xD0, 111}, {0xD1, 1}, {0xD3, 77}, {0xD4, 34},
    {0xD5, 25}, {0xD6, 89}, {0xD9, 37}, {0xDD, 1},  {0xDE, 17},  {0xDF, 2}, {0xE0, 2},  {0xE1, 2},
    {0xE2, 2},  {0xE3, 2},  {0xE4, 2},  {0xE5, 2},  {0xE7, 2},   {0xFA, 2},
};

}  // namespace

FrameRecords schalter_records() {
  return {"schalter", [](const uint8_t* bytes, size_t n, bool variant, int&) -> std::vector<ByteArray> {
            if (n == 0) return {};
            if (variant)
              return {schalter::buildTextLine(std::string_view(reinterpret_cast<const char*>(bytes + 1), n - 1))};
            const Command c = kCommands[bytes[0] % std::size(kCommands)];
            ByteArray params(bytes + 1, bytes + n);
            params.resize(c.width, '0');
            return {schalter::buildFrame(ByteArray{c.code}, params)};
          }};
}

}  // namespace tarvion::fuzz
