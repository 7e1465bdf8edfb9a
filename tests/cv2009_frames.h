// A 2009-set command as the host frames it, by the test's own hand: SOH,
// sequence, code (low first), the length of the parameter text (low first), the
// text, the low byte of the sum of every byte after SOH. Neither the driver's
// nor the virtual printer's codec makes it.
#pragma once

#include <cstdint>
#include <string>

#include "core/types.h"

namespace cv2009test {

inline tarvion::ByteArray hostFrame(uint8_t seq, uint16_t code, const std::string& params) {
  tarvion::ByteArray f{0x01,
                       seq,
                       static_cast<uint8_t>(code & 0xFF),
                       static_cast<uint8_t>(code >> 8),
                       static_cast<uint8_t>(params.size()),
                       static_cast<uint8_t>(params.size() >> 8)};
  for (char c : params) f.push_back(static_cast<uint8_t>(c));  // gcc 12 misjudges an insert here
  unsigned sum = 0;
  for (size_t i = 1; i < f.size(); ++i) sum += f[i];
  f.push_back(static_cast<uint8_t>(sum));
  return f;
}

}  // namespace cv2009test
