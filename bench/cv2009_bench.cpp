// The 2009 command set driver's own cost per command on the virtual wire: the
// printer answers ACK to each frame and a canned reply frame to ENQ, so what
// is measured is the framing, the two exchanges of a command (the frame, then
// ENQ for its reply), the port taken and released around each, the status
// check and the parameter formatting. The wire's clock is simulated; the
// simulated time of one command is reported as a counter.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/driver_rig.h"
#include "core/virtual_wire.h"
#include "drivers/cv2009/CECFCV2009.h"

using namespace tarvion;

namespace {

// ACK to a frame; to ENQ the reply frame, its sequence byte set to the last
// frame's so that the driver takes it.
class CannedPeer final : public VirtualPeer {
 public:
  explicit CannedPeer(std::string data) : data_(std::move(data)) {}
  void onBytes(const uint8_t* p, size_t n, VirtualLink& link) override {
    if (n == 0) return;
    if (p[0] == 0x01) {
      seq_ = n > 1 ? p[1] : 0;
      link.send(ByteArray{0x06});
      return;
    }
    ByteArray r;
    r.reserve(12 + data_.size());
    for (uint8_t b : {uint8_t{0x01}, seq_, uint8_t{0x1A}, uint8_t{0}, uint8_t{0}, uint8_t{1}, uint8_t{0}, uint8_t{0},
                      uint8_t{0}, static_cast<uint8_t>(data_.size()), uint8_t{0}})
      r.push_back(b);
    for (char c : data_) r.push_back(static_cast<uint8_t>(c));
    unsigned sum = 0;
    for (size_t i = 1; i < r.size(); ++i) sum += r[i];
    r.push_back(static_cast<uint8_t>(sum));
    link.send(r);
  }

 private:
  std::string data_;
  uint8_t seq_ = 0;
};

struct Bench : bench::DriverRig<CECFCV2009> {
  Bench(int port, std::string data) : DriverRig(port, std::make_shared<CannedPeer>(std::move(data)), 1) {
    d.arTaxes = {"T011800"};
  }
};

void BM_InformationRead(benchmark::State& state) {
  Bench b(95, "42|");
  for (auto _ : state) benchmark::DoNotOptimize(b.d.GetOperationCounter());
  if (b.d.GetOperationCounter() != 42) state.SkipWithError("command failed");
}
BENCHMARK(BM_InformationRead)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_ItemRegistration(benchmark::State& state) {
  Bench b(96, "1|2500|2500|");
  for (auto _ : state)
    benchmark::DoNotOptimize(b.d.RegistraItemFiscal("7891234567890", "CAFE TORRADO 500G", "UN", 18, 2, 12.5, 0));
  if (b.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_ItemRegistration)->Repetitions(9)->ReportAggregatesOnly(true);

// Simulated time of one information read at a line speed (0: bytes take no
// line time): two packets each way, and not one idle wait.
void BM_SimulatedTimePerCommand(benchmark::State& state) {
  Bench b(97, "42|");
  b.dev->setBaud(static_cast<uint32_t>(state.range(0)));
  int64_t simulated = 0;
  int64_t count = 0;
  for (auto _ : state) {
    const int64_t before = b.dev->clock().nowUs();
    benchmark::DoNotOptimize(b.d.GetOperationCounter());
    simulated += b.dev->clock().nowUs() - before;
    ++count;
  }
  state.counters["simulated_us"] = count ? static_cast<double>(simulated) / static_cast<double>(count) : 0.0;
}
BENCHMARK(BM_SimulatedTimePerCommand)->Arg(0)->Arg(9600)->Iterations(200);

}  // namespace

int main(int argc, char** argv) {
  return bench::runBenchmarks(argc, argv);
}
