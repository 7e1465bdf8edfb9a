// Text handed back through a C interface into the caller's own buffer.
#pragma once

#include <cstring>
#include <string_view>

namespace tarvion {

// Copies as much of text as fits into out (outSize bytes, the terminating NUL
// included) and always terminates it; a null out or a zero size writes
// nothing. Returns the full length of text, so a caller whose buffer was too
// small can ask again with length + 1 bytes.
inline size_t copyOut(std::string_view text, char* out, size_t outSize) {
  if (out && outSize > 0) {
    const size_t n = text.size() < outSize - 1 ? text.size() : outSize - 1;
    if (n > 0) std::memcpy(out, text.data(), n);
    out[n] = '\0';
  }
  return text.size();
}

}  // namespace tarvion
