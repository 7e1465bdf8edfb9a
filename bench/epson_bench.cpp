// The Epson driver's own cost per command on the virtual wire: the printer
// answers each frame at once with ACK and a canned reply carrying the frame's
// sequence byte, so what is measured is the framing, the field formatting, the
// exchange and the reply check. The wire's clock is simulated; the simulated
// time of one command is reported as a counter, and with the reply ending on
// its ETX and checksum it holds no idle wait.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/driver_rig.h"
#include "core/virtual_wire.h"
#include "drivers/epson/CEpson.h"

using namespace tarvion;

namespace {

// Answers every frame (not the host's ACK) with ACK and the reply for its sequence.
class EpsonPeer final : public VirtualPeer {
 public:
  explicit EpsonPeer(std::string results) : results_(std::move(results)) {}
  void onBytes(const uint8_t* data, size_t n, VirtualLink& link) override {
    if (n < 2 || data[0] != 0x02) return;
    std::string f = std::string("\x02") + static_cast<char>(data[1]) +
                    std::string("\x00\x01\x1C\x00\x00\x1C\x00\x00\x1C\x00\x00", 11) + results_ + "\x03";
    unsigned sum = 0;
    for (const char c : f) sum += static_cast<uint8_t>(c);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", sum & 0xFFFFu);
    f = "\x06" + f + digits;
    link.send(ByteArray(f.begin(), f.end()));
  }

 private:
  std::string results_;
};

struct Bench : bench::DriverRig<CEpson> {
  Bench(int port, const std::string& results) : DriverRig(port, std::make_shared<EpsonPeer>(results)) {
    d.OpenComm(kFalse);
    d.arTaxes = {"TA-18,00%"};
    d.arPaymentTypes = {"DINHEIRO"};
  }
};

const std::string kCounters =
    "\x1C"
    "0001\x1C"
    "001234";

void BM_CodeOnlyCommand(benchmark::State& state) {
  Bench b(194, "");
  for (auto _ : state) benchmark::DoNotOptimize(b.d.CutPaper());
  if (b.d.CutPaper() != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_CodeOnlyCommand)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_RegisterRead(benchmark::State& state) {
  Bench b(195, kCounters);
  std::string coo;
  for (auto _ : state) benchmark::DoNotOptimize(b.d.RetornaNumeroCupom(coo));
  if (b.d.RetornaNumeroCupom(coo) != 1 || coo != "001234") state.SkipWithError("command failed");
}
BENCHMARK(BM_RegisterRead)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_Payment(benchmark::State& state) {
  Bench b(196, "");
  for (auto _ : state) benchmark::DoNotOptimize(b.d.RegistraPagamento("Dinheiro", 25.5));
  if (b.d.RegistraPagamento("Dinheiro", 1) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_Payment)->Repetitions(9)->ReportAggregatesOnly(true);

// An item with a discount is two commands.
void BM_ItemRegistrationWithDiscount(benchmark::State& state) {
  Bench b(197, "");
  for (auto _ : state)
    benchmark::DoNotOptimize(b.d.RegistraItemFiscal("7891234567890", "CAFE TORRADO 500G", "UN", 18, 2, 12.5, 0.5));
  if (b.d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0) != 1) state.SkipWithError("command failed");
}
BENCHMARK(BM_ItemRegistrationWithDiscount)->Repetitions(9)->ReportAggregatesOnly(true);

// Simulated time of one register read at a line speed (0: bytes take no line time).
void BM_SimulatedTimePerCommand(benchmark::State& state) {
  Bench b(198, kCounters);
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
BENCHMARK(BM_SimulatedTimePerCommand)->ArgNames({"baud"})->Arg(0)->Arg(9600)->Arg(115200);

// The sale over a paced pseudo-terminal is in sale_pty_bench (model 24).

}  // namespace

int main(int argc, char** argv) {
  return bench::runBenchmarks(argc, argv);
}
