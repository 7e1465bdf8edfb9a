// Frames of the 2009 command set for the emulator fuzzer: the first byte is
// the sequence number and the command code, the rest the parameters; ENQ 00
// follows, as a driver asks for the reply.
#include "drivers/cv2009/cv2009_protocol.h"
#include "fuzz/records.h"

namespace tarvion::fuzz {

FrameRecords cv2009_records() {
  return {
      "cv2009", [](const uint8_t* bytes, size_t n, bool, int&) -> std::vector<ByteArray> {
        if (n == 0) return {};
        return {cv2009::buildFrame(bytes[0], ByteArray{bytes[0], 0}, ByteArray(bytes + 1, bytes + n)), cv2009::enq(0)};
      }};
}

}  // namespace tarvion::fuzz
