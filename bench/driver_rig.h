// What the per-command benches share: a driver on a virtual port whose printer
// answers every frame at once, and a main that keeps the operation log out of
// the figures.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "core/virtual_wire.h"

namespace tarvion::bench {

// Answers every frame with the same bytes, without looking at it.
class CannedPeer final : public VirtualPeer {
 public:
  explicit CannedPeer(ByteArray reply) : reply_(std::move(reply)) {}
  void onBytes(const uint8_t*, size_t, VirtualLink& link) override { link.send(reply_); }

 private:
  ByteArray reply_;
};

// A driver of class Driver on virtual port `port` at 9600 baud, 8N1; the port
// is attached before the driver opens it and let go after it closes it.
template <class Driver>
struct DriverRig {
  template <class... Args>
  DriverRig(int port, std::shared_ptr<VirtualPeer> peer, Args&&... args)
      : port(port), dev(std::make_shared<VirtualDevice>(std::move(peer))), d(std::forward<Args>(args)...) {
    ports::attachVirtual(port, dev);
    d.nPortNumber = port;
    d.nBaudRate = 9600;
    d.nDataBits = 8;
    d.nStopBits = 1;
  }
  ~DriverRig() {
    d.CloseComm();
    ports::detachVirtual(port);
  }
  int port;
  std::shared_ptr<VirtualDevice> dev;
  Driver d;
};

// The operation log is on only when its file exists in the temporary folder:
// point that at a fresh folder so the figures never include file writes.
inline int runBenchmarks(int argc, char** argv) {
  char folder[] = "/tmp/tarvion-bench-XXXXXX";
  if (mkdtemp(folder)) setenv("TMPDIR", folder, 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rmdir(folder);
  return 0;
}

}  // namespace tarvion::bench
