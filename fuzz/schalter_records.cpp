// Schalter frames for the emulator fuzzer, with the driver's own builder: the
// first byte picks the command, the rest are its parameters; the variant bit
// makes a raw text line instead.
#include <iterator>
#include <string_view>

#include "drivers/schalter/schalter_protocol.h"
#include "fuzz/records.h"

namespace tarvion::fuzz {

namespace {

constexpr uint8_t kCommands[] = {0x01, 0x04, 0x05, 0x06, 0x10, 0x12, 0x13, 0x14, 0x15, 0x16,
                                 0x23, 0x6F, 0xD0, 0xD1, 0xD3, 0xD4, 0xD5, 0xD6, 0xD9, 0xDD,
                                 0xDE, 0xDF, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE7, 0xFA};

}  // namespace

FrameRecords schalter_records() {
  return {"schalter", [](const uint8_t* bytes, size_t n, bool variant, int&) -> std::vector<ByteArray> {
            if (n == 0) return {};
            if (variant)
              return {schalter::buildTextLine(std::string_view(reinterpret_cast<const char*>(bytes + 1), n - 1))};
            const uint8_t code = kCommands[bytes[0] % std::size(kCommands)];
            return {schalter::buildFrame(ByteArray{code}, ByteArray(bytes + 1, bytes + n))};
          }};
}

}  // namespace tarvion::fuzz
