// Daruma frames for the emulator fuzzer, with the driver's own builders: the
// first byte picks the command, the rest are its parameters. The variant bit
// makes classic (ESC) frames instead of FS600 ones; an FS600 pick past the
// commands is a register read of the number the next byte gives.
#include <iterator>
#include <string>

#include "drivers/daruma/daruma_protocol.h"
#include "fuzz/records.h"

namespace tarvion::fuzz {

namespace {

struct FsCommand {
  uint8_t letter, code;
};
constexpr FsCommand kFsCommands[] = {
    {'F', 200}, {'F', 201}, {'F', 202}, {'F', 203}, {'F', 205}, {'F', 206}, {'F', 209},
    {'F', 210}, {'F', 211}, {'F', 212}, {'F', 214}, {'F', 219}, {'F', 220}, {'F', 223},
    {'F', 226}, {'F', 227}, {'F', 229}, {'F', 230}, {'F', 232}, {'F', 233}, {'F', 234},
    {'F', 235}, {'F', 236}, {'C', 200}, {'C', 204}, {'C', 214}, {'N', 202}, {'N', 206},
};
constexpr uint8_t kClassicCommands[] = {200, 205, 206, 207, 208, 209, 211, 212, 213, 217, 218, 219, 220, 226, 228, 229,
                                        230, 231, 236, 238, 239, 240, 241, 242, 243, 244, 247, 250, 255, 'p', 'Y'};

}  // namespace

FrameRecords daruma_records() {
  return {"daruma", [](const uint8_t* bytes, size_t n, bool variant, int&) -> std::vector<ByteArray> {
            if (n == 0) return {};
            const ByteArray params(bytes + 1, bytes + n);
            if (variant) {
              const uint8_t code = kClassicCommands[bytes[0] % std::size(kClassicCommands)];
              return {daruma::buildClassicFrame(ByteArray{code}, params)};
            }
            const size_t pick = bytes[0] % (std::size(kFsCommands) + 1);
            if (pick == std::size(kFsCommands)) return {daruma::registerRead(n > 1 ? bytes[1] : 0)};
            const FsCommand c = kFsCommands[pick];
            return {daruma::buildFrame(ByteArray{c.letter, c.code}, params)};
          }};
}

}  // namespace tarvion::fuzz
