// A 10-item sale over a real pseudo-terminal paced at 115200 baud against the
// virtual printer of each registered family (on the bench model the family
// names), compared with the least it could take: the line time of every byte
// plus the printer's own processing time. A ratio near 1 means the driver adds
// no dead time of its own (no idle-read waits on replies whose length or
// terminator the protocol gives).
//   sale_pty_bench [rounds [model...]]
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "control/ctrl_state.h"
#include "drivers/bematech/CBematech.h"
#include "emulator/printers.h"
#include "emulator/pty_host.h"
#include "emulator/registry.h"
#include "tarvion/tarvion.hpp"
#include "timed_face.h"

using namespace tarvion;
using Clock = std::chrono::steady_clock;

namespace {

// Runs the sales on one model; the worst ratio, or a negative number when the
// sale could not run.
double measure(int model, int rounds) {
  const uint32_t baud = 115200;
  auto timed = std::make_shared<TimedFace>(emulator::makePrinter(model, "", ""));
  emulator::PtyHost host(timed, {"", baud});
  std::string error;
  if (!host.start(&error)) {
    std::fprintf(stderr, "pty: %s\n", error.c_str());
    return -1;
  }
  host.startThread();
  setenv("TARVION_PORT_9", host.path().c_str(), 1);

  CTarvionCtrl c;
  if (!c.InitializeECF(model, 9, baud, 0, 8, 1, 0, 1, 1)) {
    std::fprintf(stderr, "InitializeECF %d: %s\n", model, c.UltimoErro().c_str());
    return -1;
  }
  std::printf("model %d (%s)\n", model, timed->modelName().c_str());
  double worst = 0;
  // On Bematech a last round runs with every reply read until the line is idle,
  // to show the dead time that ending on the known reply length saves.
  auto* bematech = dynamic_cast<CBematech*>(c.state().fiscal.get());
  for (int r = 0; r < rounds + (bematech ? 1 : 0); ++r) {
    const bool idleRule = r == rounds;
    if (bematech) bematech->bEndOnKnownLength = idleRule ? 0 : 1;
    const uint64_t in0 = host.bytesIn(), out0 = host.bytesOut();
    const int64_t busy0 = timed->busyNs;
    auto t0 = Clock::now();
    bool ok = c.AbreCupomFiscal();
    for (int i = 1; i <= 10 && ok; ++i)
      ok = c.RegistraItemFiscal(std::to_string(7891000000000LL + i), "PRODUTO DE TESTE " + std::to_string(i), "UN",
                                i % 2 ? 18 : 7, 1 + i % 3, 1.99 * i, 0);
    ok = ok && c.TotalizaCupomDesconto(0.5, 0) && c.RegistraPagamento("Dinheiro", 500) &&
         c.FechaCupomFiscal("OBRIGADO", 0);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!ok) {
      std::fprintf(stderr, "sale failed on model %d: %s\n", model, c.UltimoErro().c_str());
      return -1;
    }
    const uint64_t bytes = (host.bytesIn() - in0) + (host.bytesOut() - out0);
    const double line = bytes * 10.0 / baud;
    const double busy = (timed->busyNs - busy0) / 1e9;
    const double ratio = wall / (line + busy);
    if (!idleRule && ratio > worst) worst = ratio;
    std::printf("%s %d: %llu bytes, wall %.1f ms, line time %.1f ms, printer %.2f ms, ratio %.3f\n",
                idleRule ? "idle-read sale" : "sale", r + 1, static_cast<unsigned long long>(bytes), wall * 1e3,
                line * 1e3, busy * 1e3, ratio);
  }
  c.CloseComm();
  host.stop();
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? atoi(argv[1]) : 3;
  std::vector<int> models;
  for (int i = 2; i < argc; ++i) models.push_back(atoi(argv[i]));
  if (models.empty())
    for (const emulator::FaceFamily& f : emulator::faceFamilies())
      if (f.benchModel) models.push_back(f.benchModel);  // a family of check printers sells nothing
  int status = 0;
  for (int model : models) {
    const double worst = measure(model, rounds);
    if (worst < 0) {
      status = 1;
      continue;
    }
    std::printf("model %d: worst ratio %.3f (goal <= 1.1)\n", model, worst);
  }
  return status;
}
