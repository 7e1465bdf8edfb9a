// Check-printer frames for the emulator fuzzer: the first byte picks the
// command, the rest are its parameters; the variant bit makes a Chronos frame
// instead of a Perto one. Both come from the drivers' own frame builders.
#include "drivers/check/check_protocol.h"
#include "fuzz/records.h"

namespace tarvion::fuzz {

namespace {

const uint8_t kPerto[] = {'P', '=', ';', '>', '#', '%', '!', '+', ':', 'X', 'Q'};
const uint8_t kChronos[] = {'M', 0xA2, 0xA3, 0xA6, 0xA7, 0xA8, 0xB0, 0x01};

}  // namespace

FrameRecords check_records() {
  return {"check", [](const uint8_t* bytes, size_t n, bool variant, int&) -> std::vector<ByteArray> {
            if (n == 0) return {};
            ByteArray params(bytes + 1, bytes + n);
            if (!variant) return {check::perto::frame({kPerto[bytes[0] % sizeof kPerto]}, params)};
            // A Chronos frame ends at its zero: the parameters hold none, and end in CR.
            for (uint8_t& b : params)
              if (b == 0) b = ' ';
            params.push_back(check::kCR);
            return {check::chronos::frame({kChronos[bytes[0] % sizeof kChronos]}, params)};
          }};
}

}  // namespace tarvion::fuzz
