// Sweda frames for the emulator fuzzer: the first byte picks the command, the
// rest are its parameters; the variant bit picks the classic frame over the
// ST one, whose sequence byte wraps as the driver's does.
#include <string>

#include "drivers/sweda/sweda_protocol.h"
#include "fuzz/records.h"

namespace tarvion::fuzz {

namespace {
const char* const kCodes[] = {"01", "02", "05", "06", "07", "08", "15", "16", "17", "18", "20",
                              "25", "32", "34", "36", "37", "43", "50", "54", "55", "65", "69"};
}  // namespace

FrameRecords sweda_records() {
  return {"sweda", [](const uint8_t* bytes, size_t n, bool variant, int& sequence) -> std::vector<ByteArray> {
            if (n == 0) return {};
            const std::string code = kCodes[bytes[0] % (sizeof kCodes / sizeof *kCodes)];
            const std::string params(bytes + 1, bytes + n);
            if (variant) return {sweda::buildClassicFrame(code, params)};
            if (sequence < sweda::kFirstSequence || sequence > sweda::kLastSequence) sequence = sweda::kFirstSequence;
            const ByteArray frame =
                sweda::buildFrame(static_cast<uint8_t>(sequence), code, params.empty() ? params : "|" + params);
            sequence = sweda::nextSequence(static_cast<uint8_t>(sequence));
            return {frame};
          }};
}

}  // namespace tarvion::fuzz
