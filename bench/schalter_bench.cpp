// The Schalter driver's own cost per command on the virtual wire: the printer
// answers each frame at once with a status byte of success, so what is
// measured is the formatting, the framing, the exchange and the status check.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/driver_rig.h"
#include "core/virtual_wire.h"
#include "drivers/schalter/CSchalterECFIF.h"

using namespace tarvion;

namespace {

void BM_Payment(benchmark::State& state) {
  bench::DriverRig<CSchalterECFIF> b(71, std::make_shared<bench::CannedPeer>(ByteArray{0x00}));
  b.d.OpenComm(kFalse);
  b.d.arPaymentTypes = {"00,DINHEIRO"};
  for (auto _ : state) benchmark::DoNotOptimize(b.d.RegistraPagamento("Dinheiro", 25.5));
  if (b.d.RegistraPagamento("Dinheiro", 1) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_Payment)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_Item(benchmark::State& state) {
  bench::DriverRig<CSchalterECFIF> b(72, std::make_shared<bench::CannedPeer>(ByteArray{0x00}));
  b.d.OpenComm(kFalse);
  b.d.arTaxes = {"00,18,00"};
  for (auto _ : state)
    benchmark::DoNotOptimize(b.d.RegistraItemFiscal("7891234567890", "CAFE TORRADO 500G", "UN", 18, 2, 12.5, 0));
  if (b.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_Item)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  return bench::runBenchmarks(argc, argv);
}
