// The FiscNET driver's own cost per command on the virtual wire: the printer
// answers at once with a canned reply, so what is measured is the framing, the
// parameter formatting, the exchange and the reply check. The wire's clock is
// simulated; the simulated time of one command is reported as a counter, and
// with the reply ending on its closing brace it holds no idle wait.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/driver_rig.h"
#include "core/virtual_wire.h"
#include "drivers/fiscnet/CFiscNET.h"

using namespace tarvion;

namespace {

struct Bench : bench::DriverRig<CFiscNET> {
  Bench(int port, const std::string& reply)
      : DriverRig(port, std::make_shared<bench::CannedPeer>(ByteArray(reply.begin(), reply.end()))) {
    d.OpenComm(kFalse);
    d.arTaxes = {"T00,18.00"};
    d.arPaymentTypes = {"-2,DINHEIRO"};
  }
};

const std::string kDone = "{0;0;;5}";
const std::string kInteger = "{0;0;ValorInteiro=1234;22}";

void BM_CodeOnlyCommand(benchmark::State& state) {
  Bench b(94, kDone);
  for (auto _ : state) benchmark::DoNotOptimize(b.d.OpenCashDrawer());
  if (b.d.OpenCashDrawer() != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_CodeOnlyCommand)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_RegisterRead(benchmark::State& state) {
  Bench b(95, kInteger);
  long v = 0;
  for (auto _ : state) benchmark::DoNotOptimize(b.d.ReadInteger("COO", v));
  if (b.d.ReadInteger("COO", v) != 1 || v != 1234) state.SkipWithError("command failed");
}
BENCHMARK(BM_RegisterRead)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_Payment(benchmark::State& state) {
  Bench b(96, kDone);
  for (auto _ : state) benchmark::DoNotOptimize(b.d.RegistraPagamento("Dinheiro", 25.5));
  if (b.d.RegistraPagamento("Dinheiro", 1) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_Payment)->Repetitions(9)->ReportAggregatesOnly(true);

// An item with a discount is two commands.
void BM_ItemRegistrationWithDiscount(benchmark::State& state) {
  Bench b(97, kDone);
  for (auto _ : state)
    benchmark::DoNotOptimize(b.d.RegistraItemFiscal("7891234567890", "CAFE TORRADO 500G", "UN", 18, 2, 12.5, 0.5));
  if (b.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_ItemRegistrationWithDiscount)->Repetitions(9)->ReportAggregatesOnly(true);

// Simulated time of one register read at a line speed (0: bytes take no line
// time): the frame and the reply on the line, and nothing after the reply's end.
void BM_SimulatedTimePerCommand(benchmark::State& state) {
  Bench b(98, kInteger);
  b.dev->setBaud(static_cast<uint32_t>(state.range(0)));
  long v = 0;
  int64_t commands = 0;
  const int64_t start = b.dev->clock().nowUs();
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.d.ReadInteger("COO", v));
    ++commands;
  }
  const double perCommandUs = commands ? static_cast<double>(b.dev->clock().nowUs() - start) / commands : 0;
  state.counters["simulated_ms"] = perCommandUs / 1000.0;
}
BENCHMARK(BM_SimulatedTimePerCommand)->ArgNames({"baud"})->Arg(0)->Arg(9600)->Arg(115200);

// The sale over a paced pseudo-terminal is in sale_pty_bench (model 23).

}  // namespace

int main(int argc, char** argv) {
  return bench::runBenchmarks(argc, argv);
}
