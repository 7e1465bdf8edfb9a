// The check printers' drivers' own cost per command on the virtual wire: the
// printer answers each frame at once with a canned reply (our acknowledgement
// of a Perto answer gets none), so what is measured is the framing, the
// parameter formatting, the exchange and the status check.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/driver_rig.h"
#include "core/virtual_wire.h"
#include "drivers/check/CChronos.h"
#include "drivers/check/CPertoCheck.h"

using namespace tarvion;

namespace {

// Answers frames, not the lone acknowledgement a Perto driver writes back.
class FramePeer final : public VirtualPeer {
 public:
  explicit FramePeer(ByteArray reply) : reply_(std::move(reply)) {}
  void onBytes(const uint8_t*, size_t n, VirtualLink& link) override {
    if (n > 1) link.send(reply_);
  }

 private:
  ByteArray reply_;
};

const ByteArray kPertoDone{0x06, 0x02, '0', '0', '0', 0x03, 0x31};

void BM_PertoRelease(benchmark::State& state) {
  bench::DriverRig<CPertoCheck> b(90, std::make_shared<FramePeer>(kPertoDone));
  b.d.OpenComm(kFalse);
  for (auto _ : state) benchmark::DoNotOptimize(b.d.ReleaseCheck());
  if (b.d.ReleaseCheck() != 1) state.SkipWithError("command failed");
  // The frame and our acknowledgement, every time: 02 3E 03 3F 06.
  state.counters["bytes_per_command"] =
      static_cast<double>(b.dev->written().size()) / static_cast<double>(state.iterations() + 1);
}
BENCHMARK(BM_PertoRelease)->Repetitions(9)->ReportAggregatesOnly(true);

// The check read just before: one ";" frame with the value and the bank.
void BM_PertoPrintCheck(benchmark::State& state) {
  bench::DriverRig<CPertoCheck> b(91, std::make_shared<FramePeer>(kPertoDone));
  b.d.OpenComm(kFalse);
  for (auto _ : state) {
    b.d.bCheckRead = true;
    benchmark::DoNotOptimize(b.d.PrintCheck(123.45, "001"));
  }
  if (b.d.PrintCheck(1, "001") != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_PertoPrintCheck)->Repetitions(9)->ReportAggregatesOnly(true);

// Three commands: bank, value, print.
void BM_ChronosPrintCheck(benchmark::State& state) {
  bench::DriverRig<CChronos> b(92, std::make_shared<bench::CannedPeer>(ByteArray{0x14}));
  b.d.OpenComm(kFalse);
  for (auto _ : state) benchmark::DoNotOptimize(b.d.PrintCheck(123.45, "001"));
  if (b.d.PrintCheck(1, "001") != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_ChronosPrintCheck)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  return bench::runBenchmarks(argc, argv);
}
