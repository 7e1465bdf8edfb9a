// The Sweda drivers' own cost per command on the virtual wire: the printer
// answers at once (ST: the acknowledgement and a '+' reply carrying the
// frame's sequence byte; classic: ".+..}"), so what is measured is the
// framing, the formatting, the exchange and the reply check.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/driver_rig.h"
#include "core/virtual_wire.h"
#include "drivers/sweda/CSweda.h"
#include "drivers/sweda/CSwedaST.h"

using namespace tarvion;

namespace {

// Answers each ST frame with ACK and "<code>+0000" under the frame's sequence byte.
class StPeer final : public VirtualPeer {
 public:
  void onBytes(const uint8_t* data, size_t n, VirtualLink& link) override {
    if (n < 6 || data[0] != 0x02) return;
    ByteArray r{0x06, 0x02, data[1], data[2], data[3], '+', '0', '0', '0', '0', 0x03};
    unsigned sum = 0;
    for (size_t i = 1; i < r.size(); ++i) sum += r[i];
    r.push_back(static_cast<uint8_t>(sum));
    link.send(r);
  }
};

void BM_STPayment(benchmark::State& state) {
  bench::DriverRig<CSwedaST> b(91, std::make_shared<StPeer>());
  b.d.OpenComm(kFalse);
  b.d.arPaymentTypes = {"DINHEIRO"};
  for (auto _ : state) benchmark::DoNotOptimize(b.d.RegistraPagamento("Dinheiro", 25.5));
  if (b.d.RegistraPagamento("Dinheiro", 1) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_STPayment)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_STItem(benchmark::State& state) {
  bench::DriverRig<CSwedaST> b(92, std::make_shared<StPeer>());
  b.d.OpenComm(kFalse);
  b.d.arTaxes = {"T18,00%"};
  for (auto _ : state)
    benchmark::DoNotOptimize(b.d.RegistraItemFiscal("7891234567890", "CAFE TORRADO 500G", "UN", 18, 2, 12.5, 0));
  if (b.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_STItem)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_ClassicDrawer(benchmark::State& state) {
  const std::string reply = ".+05}";
  bench::DriverRig<CSweda> b(93, std::make_shared<bench::CannedPeer>(ByteArray(reply.begin(), reply.end())));
  b.d.OpenComm(kFalse);
  b.d.nBusyPoll = 0;
  for (auto _ : state) benchmark::DoNotOptimize(b.d.OpenCashDrawer());
  if (b.d.OpenCashDrawer() != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_ClassicDrawer)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  return bench::runBenchmarks(argc, argv);
}
