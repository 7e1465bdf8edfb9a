// Basic types shared by the control, the drivers and the channel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvion {

// Success flags: drivers answer 1 or 0, the control builds -1 for its own successes.
using BOOL = int;
constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

using ByteArray = std::vector<uint8_t>;
// A framed command ready for the wire; null means "nothing to send".
using Frame = std::unique_ptr<ByteArray>;

inline const char* boolText(bool b) {
  return b ? "TRUE" : "FALSE";
}

}  // namespace tarvion
