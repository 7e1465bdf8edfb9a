// Arbitrary host traffic into the virtual printers, on every registered model:
// well-formed frames built from the input, so commands reach their handlers
// with arbitrary parameters and move the fiscal state, mixed with raw bytes
// (broken frames, bad checksums, noise).
//
// Input: byte 0 picks the model; then records [kind][length][bytes]: kind bit 0
// sends the bytes raw; else the bits from 3 up pick a family of the family
// list (fuzz/records.h), whose driver frame builder makes the bytes into the
// packets a host writes, with bit 1 as the family's variant; bit 2 opens and
// closes the line around the record.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulator/printers.h"
#include "emulator/registry.h"
#include "fuzz/records.h"

using namespace tarvion;

namespace {

class CountingSink final : public emulator::ReplySink {
 public:
  void send(const ByteArray& bytes, uint32_t delayMs) override {
    sent += bytes.size();
    clockUs += static_cast<int64_t>(delayMs) * 1000;
  }
  int64_t nowUs() override { return clockUs += 1000; }
  void hangUp() override { hungUp = true; }

  size_t sent = 0;
  int64_t clockUs = 0;
  bool hungUp = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto& models = emulator::virtualModels();
  const auto& families = fuzz::frameRecords();
  if (models.empty() || families.empty()) __builtin_trap();  // the family list gave nothing to fuzz
  const int model = models[data[0] % models.size()].number;
  auto printer = emulator::makePrinter(model, "", "");
  if (!printer) __builtin_trap();  // every registered model has a virtual printer
  CountingSink sink;
  std::vector<int> sequences(families.size(), 0);
  printer->lineOpened();
  size_t at = 1;
  while (at + 2 <= size) {
    const uint8_t kind = data[at];
    const size_t n = std::min<size_t>(data[at + 1], size - at - 2);
    const uint8_t* bytes = data + at + 2;
    at += 2 + n;
    if (kind & 0x04) {
      printer->lineClosed();
      printer->lineOpened();
    }
    if (kind & 0x01) {
      printer->receive(bytes, n, sink);
      continue;
    }
    const size_t family = (kind >> 3) % families.size();
    for (const ByteArray& packet : families[family].frames(bytes, n, (kind & 0x02) != 0, sequences[family]))
      printer->receive(packet.data(), packet.size(), sink);
  }
  printer->lineClosed();
  (void)printer->printedPaper();
  return 0;
}
