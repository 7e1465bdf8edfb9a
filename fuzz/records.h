// The frames the emulator fuzzer writes to the virtual printers. Every family
// of the family list makes well-formed host frames of its protocol from fuzz
// bytes, with its driver's own frame builder, in fuzz/<family>_records.cpp (a
// function `FrameRecords <family>_records()`); generated glue lists them, so
// the fuzzer reaches each family's command handlers without naming one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/types.h"

namespace tarvion::fuzz {

struct FrameRecords {
  const char* family = "";
  // The packets a host writes for one record: `bytes` is the record's body,
  // `variant` a bit of its kind the family may use for a second frame shape,
  // `sequence` the family's own counter, kept between records. Empty when the
  // bytes make no frame.
  std::vector<ByteArray> (*frames)(const uint8_t* bytes, size_t n, bool variant, int& sequence) = nullptr;
};

// Every listed family's frames, in the list's order (generated).
const std::vector<FrameRecords>& frameRecords();

}  // namespace tarvion::fuzz
