// The Daruma drivers' own cost per command on the virtual wire: the printer
// answers at once (an FS600 reply echoes the command and its register, a
// classic reply is ":" CR), so what is measured is the framing, the field
// formatting, the exchange and the reply check. The classic commands carry
// their release (a second exchange) in the figure. The wire's clock is
// simulated; the simulated time of one command is reported as a counter, and
// with the reply ending on its CR it holds no idle wait.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/driver_rig.h"
#include "core/virtual_wire.h"
#include "drivers/daruma/CDaruma.h"
#include "drivers/daruma/CDarumaFS600.h"

using namespace tarvion;

namespace {

// Answers an FS600 register read with the register asked for and a six-digit
// value, and any other frame with its command bytes and code 000.
class Fs600Peer final : public VirtualPeer {
 public:
  void onBytes(const uint8_t* data, size_t n, VirtualLink& link) override {
    if (n >= 6 && data[1] == 'R') {
      link.send(ByteArray{':', 0xC8, data[3], data[4], data[5], '2', '2', '0', '0', '1', '7', '\r'});
    } else if (n >= 3) {
      link.send(ByteArray{':', data[1], data[2], '0', '0', '0', '\r'});
    }
  }
};

struct Fs600Bench : bench::DriverRig<CDarumaFS600> {
  explicit Fs600Bench(int port) : DriverRig(port, std::make_shared<Fs600Peer>()) {
    d.OpenComm(kFalse);
    d.arTaxes = {"T18.00"};
    d.arPaymentTypes = {"Dinheiro"};
  }
};

struct ClassicBench : bench::DriverRig<CDaruma> {
  explicit ClassicBench(int port) : DriverRig(port, std::make_shared<bench::CannedPeer>(ByteArray{':', '\r'})) {
    d.OpenComm(kFalse);
    d.arTaxes = {"T18.00"};
    d.arPaymentTypes = {"Dinheiro"};
  }
};

void BM_FS600CodeOnlyCommand(benchmark::State& state) {
  Fs600Bench b(84);
  for (auto _ : state) benchmark::DoNotOptimize(b.d.OpenCashDrawer());
  if (b.d.OpenCashDrawer() != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_FS600CodeOnlyCommand)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_FS600RegisterRead(benchmark::State& state) {
  Fs600Bench b(85);
  std::string coo;
  for (auto _ : state) benchmark::DoNotOptimize(b.d.RetornaNumeroCupom(coo));
  if (b.d.RetornaNumeroCupom(coo) != 1 || coo != "220017") state.SkipWithError("command failed");
}
BENCHMARK(BM_FS600RegisterRead)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_FS600Item(benchmark::State& state) {
  Fs600Bench b(86);
  for (auto _ : state)
    benchmark::DoNotOptimize(b.d.RegistraItemFiscal("7891234567890", "CAFE TORRADO 500G", "UN", 18, 2, 12.5, 0.5));
  if (b.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_FS600Item)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_ClassicItemWithRelease(benchmark::State& state) {
  ClassicBench b(87);
  for (auto _ : state)
    benchmark::DoNotOptimize(b.d.RegistraItemFiscal("7891234567890", "CAFE TORRADO 500G", "UN", 18, 2, 12.5, 0.5));
  if (b.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_ClassicItemWithRelease)->Repetitions(9)->ReportAggregatesOnly(true);

// Simulated time of one register read at a line speed (0: bytes take no line
// time): the packet and the reply on the line, and nothing after the CR.
void BM_FS600SimulatedTimePerCommand(benchmark::State& state) {
  Fs600Bench b(88);
  b.dev->setBaud(static_cast<uint32_t>(state.range(0)));
  std::string coo;
  int64_t commands = 0;
  const int64_t start = b.dev->clock().nowUs();
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.d.RetornaNumeroCupom(coo));
    ++commands;
  }
  const double perCommandUs = commands ? static_cast<double>(b.dev->clock().nowUs() - start) / commands : 0;
  state.counters["simulated_ms"] = perCommandUs / 1000.0;
}
BENCHMARK(BM_FS600SimulatedTimePerCommand)->ArgNames({"baud"})->Arg(0)->Arg(9600)->Arg(115200);

// The sale over a paced pseudo-terminal is in sale_pty_bench (model 13).

}  // namespace

int main(int argc, char** argv) {
  return bench::runBenchmarks(argc, argv);
}
