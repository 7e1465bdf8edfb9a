// The Bematech driver's own cost per command on the virtual wire: the printer
// answers at once with a canned reply, so what is measured is the framing, the
// exchange, the status check and the parameter formatting. The wire's clock is
// simulated, so its waits cost no real time; the simulated time of one command
// is reported as a counter (with and without the early end of known-length replies).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/driver_rig.h"
#include "core/virtual_wire.h"
#include "drivers/bematech/CBematech.h"

using namespace tarvion;

namespace {

struct Bench : bench::DriverRig<CBematech> {
  Bench(int port, ByteArray reply) : DriverRig(port, std::make_shared<bench::CannedPeer>(std::move(reply))) {
    d.OpenComm(kFalse);
    d.arTaxes = {"", "T18.00"};
  }
};

const ByteArray kStatusOnly{0x06, 0x00, 0x00};
const ByteArray kFirmware{0x06, 0x03, 0x10, 0x00, 0x00};

void BM_StatusOnlyCommand(benchmark::State& state) {
  Bench b(90, kStatusOnly);
  for (auto _ : state) benchmark::DoNotOptimize(b.d.CancelaCupomFiscal());
  if (b.d.CancelaCupomFiscal() != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_StatusOnlyCommand)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_FixedDataCommand(benchmark::State& state) {
  Bench b(91, kFirmware);
  for (auto _ : state) benchmark::DoNotOptimize(b.d.InitialConfiguration());
  if (b.d.InitialConfiguration() != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_FixedDataCommand)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_ItemRegistration(benchmark::State& state) {
  Bench b(92, kStatusOnly);
  for (auto _ : state)
    benchmark::DoNotOptimize(b.d.RegistraItemFiscal("7891234567890", "CAFE TORRADO 500G", "UN", 18, 2, 12.5, 0));
  if (b.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_ItemRegistration)->Repetitions(9)->ReportAggregatesOnly(true);

// Simulated time of one status-only command: first argument 1 with the early
// end, 0 without; second the line speed (0: bytes take no line time).
void BM_SimulatedTimePerCommand(benchmark::State& state) {
  Bench b(93, kStatusOnly);
  b.d.bEndOnKnownLength = state.range(0) ? kTrue : kFalse;
  b.dev->setBaud(static_cast<uint32_t>(state.range(1)));
  int64_t commands = 0;
  const int64_t start = b.dev->clock().nowUs();
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.d.CancelaCupomFiscal());
    ++commands;
  }
  const double perCommandUs = commands ? static_cast<double>(b.dev->clock().nowUs() - start) / commands : 0;
  state.counters["simulated_ms"] = perCommandUs / 1000.0;
}
BENCHMARK(BM_SimulatedTimePerCommand)
    ->ArgNames({"early", "baud"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 9600})
    ->Args({0, 9600});

}  // namespace

int main(int argc, char** argv) {
  return bench::runBenchmarks(argc, argv);
}
