// Time to ready: InitializeECF with the printer information read, as a till
// does every time it starts, over a real pseudo-terminal paced at 9600 baud
// against the virtual printer of each model asked (by default one model of
// each driver class that has a virtual printer). Prints the wall time, the
// bytes on the line, the line time and the printer's own time, their ratio,
// and every reply that ended because the line went quiet instead of by its
// length or terminator, with the time that wait cost.
//   ready_bench [rounds [model...]]
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "control/ctrl_state.h"
#include "core/capabilities.h"
#include "core/text.h"
#include "emulator/printers.h"
#include "emulator/pty_host.h"
#include "emulator/registry.h"
#include "tarvion/tarvion.hpp"
#include "timed_face.h"

using namespace tarvion;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kBaud = 9600;

// The first bytes of a frame, enough to name its command.
std::string frameName(const ByteArray& frame) {
  std::string out;
  for (size_t i = 0; i < frame.size() && i < 12; ++i) {
    const uint8_t b = frame[i];
    char buf[8];
    std::snprintf(buf, sizeof buf, b >= 0x20 && b < 0x7F ? "%c" : "<%02X>", b);
    out += buf;
  }
  return frame.size() > 12 ? out + "..." : out;
}

struct Idle {
  int count = 0;
  int64_t waitedUs = 0;
};

// The worst ratio over the rounds, or a negative number when the model could not start.
double measure(int model, int rounds) {
  auto timed = std::make_shared<TimedFace>(emulator::makePrinter(model, "", ""));
  emulator::PtyHost host(timed, {"", kBaud});
  std::string error;
  if (!host.start(&error)) {
    std::fprintf(stderr, "pty: %s\n", error.c_str());
    return -1;
  }
  host.startThread();
  setenv("TARVION_PORT_9", host.path().c_str(), 1);
  std::printf("model %d (%s) at %u baud\n", model, timed->modelName().c_str(), kBaud);
  double worst = 0;
  for (int r = 0; r < rounds; ++r) {
    CTarvionCtrl c;
    std::map<std::string, Idle> idle;
    const uint64_t in0 = host.bytesIn(), out0 = host.bytesOut();
    const int64_t busy0 = timed->busyNs;
    const auto t0 = Clock::now();
    // InitializeECF with the port and the information is the driver made,
    // then OpenComm(TRUE): made first here, so that the observer is in place
    // before the reads the bench times.
    if (!c.InitializeECF(model, 9, kBaud, 0, 8, 1, 0, 0, 0)) {
      std::fprintf(stderr, "InitializeECF %d: %s\n", model, c.UltimoErro().c_str());
      return -1;
    }
    // The wait is what reading the reply took beyond its bytes' line time.
    c.state().fiscal->idleEndObserver = [&idle](const ByteArray& frame, int64_t readUs, size_t bytes) {
      Idle& i = idle[frameName(frame)];
      ++i.count;
      i.waitedUs += std::max<int64_t>(0, readUs - static_cast<int64_t>(bytes * 10'000'000ull / kBaud));
    };
    const bool ok = c.OpenComm(1) != 0;
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!ok) {
      std::fprintf(stderr, "OpenComm %d with the information: %s\n", model, c.UltimoErro().c_str());
      return -1;
    }
    const uint64_t bytes = (host.bytesIn() - in0) + (host.bytesOut() - out0);
    const double line = bytes * 10.0 / kBaud;
    const double busy = (timed->busyNs - busy0) / 1e9;
    const double ratio = wall / (line + busy);
    worst = std::max(worst, ratio);
    int64_t idleUs = 0;
    int idleCount = 0;
    for (const auto& [name, i] : idle) idleUs += i.waitedUs, idleCount += i.count;
    std::printf(
        "round %d: %llu bytes, wall %.1f ms, line time %.1f ms, printer %.2f ms, ratio %.3f; "
        "%d replies ended on the idle gap (%.1f ms)\n",
        r + 1, static_cast<unsigned long long>(bytes), wall * 1e3, line * 1e3, busy * 1e3, ratio, idleCount,
        idleUs / 1e3);
    if (r == 0)
      for (const auto& [name, i] : idle)
        std::printf("  idle end: %-28s x%d  %.1f ms\n", name.c_str(), i.count, i.waitedUs / 1e3);
    c.CloseComm();
  }
  host.stop();
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? atoi(argv[1]) : 2;
  std::vector<int> models;
  for (int i = 2; i < argc; ++i) models.push_back(atoi(argv[i]));
  if (models.empty()) {
    std::set<std::string> classes;
    for (const emulator::VirtualModel& m : emulator::virtualModels()) {
      const caps::ModelRow* row = caps::fiscalModel(m.number);
      if (row && classes.insert(row->driverClass).second) models.push_back(m.number);
    }
  }
  int status = 0;
  for (int model : models) {
    const double worst = measure(model, rounds);
    if (worst < 0) {
      status = 1;
      continue;
    }
    std::printf("model %d: worst ratio %.3f (goal <= 1.1 where every reply ends by its length or terminator)\n\n",
                model, worst);
  }
  return status;
}
