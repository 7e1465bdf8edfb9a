// What the answer wait costs on a real port (a pseudo-terminal here):
//   1. processor time burnt while waiting for an answer that never comes
//      (10 s, or 1 s with --short or TARVION_BENCH_SHORT=1); goal: at most 1 ms;
//   2. time from the answer's first byte, written by a peer thread on the other
//      end, to the wait's return, median over many trials; goal: at most 1 ms.
// Exits with 1 when a goal is missed.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "core/channel.h"
#include "platform/platform.h"

using namespace tarvion;

namespace {

constexpr int kPort = 5;
constexpr int kTrials = 200;

double cpuMs(const rusage& ru, bool user) {
  const timeval& tv = user ? ru.ru_utime : ru.ru_stime;
  return tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0;
}

int64_t nowUs() {
  return platform::steadyClock().nowUs();
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  bool shortRun = false;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--short") == 0) shortRun = true;
  if (const char* e = std::getenv("TARVION_BENCH_SHORT"); e && *e && *e != '0') shortRun = true;
  const uint32_t idleMs = shortRun ? 1000 : 10000;

  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("pseudo-terminal");
    return 2;
  }
  setenv(("TARVION_PORT_" + std::to_string(kPort)).c_str(), ptsname(master), 1);
  auto ch = ports::openSerial(kPort, ports::serialName(kPort));
  if (!ch) {
    std::fprintf(stderr, "cannot open %s: error %d\n", ports::serialName(kPort).c_str(), platform::lastError());
    return 2;
  }
  PortSettings s;
  s.BaudRate = 115200;
  s.ByteSize = 8;
  s.fBinary = 1;
  s.fOutxCtsFlow = 1;
  s.fOutxDsrFlow = 1;
  s.fDsrSensitivity = 1;
  s.fDtrControl = kDtrHandshake;
  s.fRtsControl = kRtsHandshake;
  if (!ch->setSettings(s)) {
    std::fprintf(stderr, "cannot set the port: error %d\n", platform::lastError());
    return 2;
  }
  bool ok = true;

  // 1. An answer that never comes.
  {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const int64_t start = nowUs();
    WaitResult r = ch->waitForInput(idleMs, true, true);
    const double wallMs = static_cast<double>(nowUs() - start) / 1000.0;
    getrusage(RUSAGE_SELF, &after);
    const double user = cpuMs(after, true) - cpuMs(before, true);
    const double sys = cpuMs(after, false) - cpuMs(before, false);
    const bool met = r == WaitResult::Timeout && user + sys <= 1.0;
    ok = ok && met;
    std::printf("idle wait (%u ms, no answer): result %s after %.1f ms wall\n", idleMs,
                r == WaitResult::Timeout ? "Timeout"
                : r == WaitResult::Ready ? "Ready"
                                         : "Failure",
                wallMs);
    std::printf("  CPU time %.3f ms (user %.3f ms, system %.3f ms); goal <= 1 ms: %s\n", user + sys, user, sys,
                met ? "met" : "MISSED");
  }

  // 2. Latency from the first byte of the answer to the wait's return.
  {
    std::binary_semaphore go(0);
    std::atomic<int64_t> sentAt{0};
    std::atomic<bool> stop{false};
    std::thread peer([&] {
      for (;;) {
        go.acquire();
        if (stop) return;
        // Let the host settle into its wait before the byte comes.
        std::this_thread::sleep_for(std::chrono::microseconds(1500));
        sentAt = nowUs();
        const uint8_t b = 0x06;
        if (::write(master, &b, 1) != 1) return;
      }
    });
    std::vector<double> lat;
    int failures = 0;
    for (int i = 0; i < kTrials; ++i) {
      go.release();
      WaitResult r = ch->waitForInput(1000, true, true);
      const int64_t seen = nowUs();
      if (r != WaitResult::Ready) {
        ++failures;
        continue;
      }
      lat.push_back(static_cast<double>(seen - sentAt.load()) / 1000.0);
      ch->purge(false, true);
    }
    stop = true;
    go.release();
    peer.join();
    if (lat.empty()) {
      std::printf("answer latency: no trial saw its answer\n");
      return 1;
    }
    const double median = percentile(lat, 0.5);
    const bool met = failures == 0 && median <= 1.0;
    ok = ok && met;
    std::printf("answer latency over %zu trials (%d failed): median %.3f ms, p90 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                lat.size(), failures, median, percentile(lat, 0.9), percentile(lat, 0.99),
                *std::max_element(lat.begin(), lat.end()));
    std::printf("  goal median <= 1 ms: %s\n", met ? "met" : "MISSED");
  }

  ch->close();
  ::close(master);
  return ok ? 0 : 1;
}
