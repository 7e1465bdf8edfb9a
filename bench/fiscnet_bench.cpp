// The FiscNET driver's own cost per command on the virtual wire: the printer
// answers at once with a canned reply, so what is measured is the framing, the
// parameter formatting, the exchange and the reply check. The wire's clock is
// simulated; the simulated time of one command is reported as a counter, and
// with the reply ending on its closing brace it holds no idle wait.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/fiscnet/CFiscNET.h"
#include "emulator/printers.h"
#include "emulator/pty_host.h"
#include "tarvion/tarvion.hpp"

using namespace tarvion;

namespace {

class CannedPeer final : public VirtualPeer {
 public:
  explicit CannedPeer(const std::string& reply) : reply_(reply.begin(), reply.end()) {}
  void onBytes(const uint8_t*, size_t, VirtualLink& link) override { link.send(reply_); }

 private:
  ByteArray reply_;
};

struct Bench {
  Bench(int port, const std::string& reply) : port(port) {
    dev = std::make_shared<VirtualDevice>(std::make_shared<CannedPeer>(reply));
    ports::attachVirtual(port, dev);
    d.nPortNumber = port;
    d.nBaudRate = 9600;
    d.nDataBits = 8;
    d.nStopBits = 1;
    d.OpenComm(kFalse);
    d.arTaxes = {"T00,18.00"};
    d.arPaymentTypes = {"-2,DINHEIRO"};
  }
  ~Bench() {
    d.CloseComm();
    ports::detachVirtual(port);
  }
  int port;
  std::shared_ptr<VirtualDevice> dev;
  CFiscNET d;
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

// A 10-item sale over a real pseudo-terminal paced at 115200 baud against the
// virtual ELGIN X5, against the least it could take: the line time of every
// byte plus the printer's own time. A ratio near 1 means the driver adds no
// dead time of its own (every reply ends on its closing brace).
class TimedFace final : public emulator::PrinterFace {
 public:
  explicit TimedFace(std::shared_ptr<emulator::PrinterFace> inner) : inner_(std::move(inner)) {}
  void receive(const uint8_t* data, size_t n, emulator::ReplySink& out) override {
    const auto t0 = std::chrono::steady_clock::now();
    inner_->receive(data, n, out);
    busyNs += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
  }
  void lineOpened() override { inner_->lineOpened(); }
  void lineClosed() override { inner_->lineClosed(); }
  std::string modelName() const override { return inner_->modelName(); }
  std::atomic<int64_t> busyNs{0};

 private:
  std::shared_ptr<emulator::PrinterFace> inner_;
};

void BM_SaleOverPseudoTerminal(benchmark::State& state) {
  const uint32_t baud = 115200;
  auto timed = std::make_shared<TimedFace>(emulator::makePrinter(23, "", ""));
  emulator::PtyHost host(timed, {"", baud});
  std::string error;
  if (!host.start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  host.startThread();
  setenv("TARVION_PORT_9", host.path().c_str(), 1);
  CTarvionCtrl c;
  if (!c.InitializeECF(23, 9, baud, 0, 8, 1, 0, 1, 1)) {
    state.SkipWithError("InitializeECF failed");
    host.stop();
    return;
  }
  double worst = 0;
  for (auto _ : state) {
    const uint64_t in0 = host.bytesIn(), out0 = host.bytesOut();
    const int64_t busy0 = timed->busyNs;
    const auto t0 = std::chrono::steady_clock::now();
    bool ok = c.AbreCupomFiscal();
    for (int i = 1; i <= 10 && ok; ++i)
      ok = c.RegistraItemFiscal(std::to_string(7891000000000LL + i), "PRODUTO DE TESTE " + std::to_string(i), "UN",
                                i % 2 ? 18 : 7, 1 + i % 3, 1.99 * i, 0);
    ok = ok && c.TotalizaCupomDesconto(0.5, 0) && c.RegistraPagamento("Dinheiro", 500) &&
         c.FechaCupomFiscal("OBRIGADO", 0);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok) {
      state.SkipWithError("sale failed");
      break;
    }
    const uint64_t bytes = (host.bytesIn() - in0) + (host.bytesOut() - out0);
    const double line = static_cast<double>(bytes) * 10.0 / baud;
    const double busy = static_cast<double>(timed->busyNs - busy0) / 1e9;
    const double ratio = wall / (line + busy);
    if (ratio > worst) worst = ratio;
    state.counters["line_ms"] = line * 1e3;
    state.counters["wall_ms"] = wall * 1e3;
  }
  state.counters["worst_ratio"] = worst;  // goal <= 1.1
  c.CloseComm();
  host.stop();
}
BENCHMARK(BM_SaleOverPseudoTerminal)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // The operation log is on only when its file exists in the temporary folder:
  // point that at a fresh folder so the figures never include file writes.
  char folder[] = "/tmp/tarvion-bench-XXXXXX";
  if (mkdtemp(folder)) setenv("TMPDIR", folder, 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rmdir(folder);
  return 0;
}
