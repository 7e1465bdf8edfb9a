// Bematech frames for the emulator fuzzer: the first byte is the command, the
// rest its parameters, framed with the ESC prefix of the classic models, or
// with FS for the variant.
#include "drivers/bematech/bematech_protocol.h"
#include "fuzz/records.h"

namespace tarvion::fuzz {

FrameRecords bematech_records() {
  return {"bematech", [](const uint8_t* bytes, size_t n, bool fs, int&) -> std::vector<ByteArray> {
            if (n == 0) return {};
            const ByteArray command(bytes, bytes + 1), parameters(bytes + 1, bytes + n);
            return {bematech::buildFrame(fs ? bematech::kFS : bematech::kESC, command, parameters)};
          }};
}

}  // namespace tarvion::fuzz
