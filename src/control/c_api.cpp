// The C interface: a handle wraps one control; every call runs one shell line.
// No exception may cross into a C caller, so each function catches them all.
#define TARVION_BUILDING 1
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "control/script.h"
#include "tarvion/tarvion.h"
#include "tarvion/tarvion.hpp"

struct tarvion_control {
  tarvion::CTarvionCtrl ctrl;
  std::string lastOutput;
  int lastStatus = 0;
};

namespace {

size_t copyOut(std::string_view text, char* out, size_t outSize) {
  if (out && outSize > 0) {
    const size_t n = text.size() < outSize - 1 ? text.size() : outSize - 1;
    if (n > 0) std::memcpy(out, text.data(), n);
    out[n] = '\0';
  }
  return text.size();
}

}  // namespace

extern "C" {

TARVION_API tarvion_control* TARVION_CALL tarvion_create(void) {
  try {
    return new tarvion_control();
  } catch (...) {
    return nullptr;
  }
}

TARVION_API void TARVION_CALL tarvion_destroy(tarvion_control* handle) {
  delete handle;
}

TARVION_API size_t TARVION_CALL tarvion_call(tarvion_control* handle, const char* line, int json, char* out,
                                             size_t outSize) {
  const bool asJson = json != 0;
  try {
    if (!handle) return copyOut(tarvion::script::formatError("", "no control (null handle)", asJson), out, outSize);
    tarvion::script::LineResult r = tarvion::script::runLine(handle->ctrl, line ? line : "", asJson);
    handle->lastStatus = r.parsed ? 0 : 2;
    handle->lastOutput = std::move(r.output);
    return copyOut(handle->lastOutput, out, outSize);
  } catch (...) {
    // Only running out of memory gets here; answer without allocating.
    if (handle) {
      handle->lastStatus = 2;
      handle->lastOutput.clear();
    }
    static const std::string_view kJson = "{\"entry\": \"\", \"error\": \"out of memory\"}";
    static const std::string_view kText = "error: out of memory";
    return copyOut(asJson ? kJson : kText, out, outSize);
  }
}

TARVION_API size_t TARVION_CALL tarvion_last_output(tarvion_control* handle, char* out, size_t outSize) {
  return copyOut(handle ? std::string_view(handle->lastOutput) : std::string_view(), out, outSize);
}

// A null handle has run nothing that could have succeeded.
TARVION_API int TARVION_CALL tarvion_last_status(tarvion_control* handle) {
  return handle ? handle->lastStatus : 2;
}

TARVION_API int TARVION_CALL tarvion_entry_count(void) {
  size_t count = 0;
  tarvion::entryTable(count);
  return static_cast<int>(count);
}

TARVION_API const char* TARVION_CALL tarvion_entry_name(int index) {
  size_t count = 0;
  const tarvion::EntryInfo* table = tarvion::entryTable(count);
  if (index < 0 || static_cast<size_t>(index) >= count) return nullptr;
  return table[index].name;
}

}  // extern "C"
