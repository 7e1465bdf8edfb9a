// A Daruma driver on the virtual wire (simulated clock) against a Daruma
// virtual printer, with a tap that keeps every byte each way.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/capabilities.h"
#include "driver_port.h"
#include "emulator/daruma/printer.h"
#include "emulator/paper.h"
#include "tap_face.h"

namespace darumatest {

using namespace tarvion;
using namespace tarvion::emulator;

inline std::string str(const ByteArray& b) {
  return std::string(b.begin(), b.end());
}
inline ByteArray bytes(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

// Face is DarumaFS600Printer or DarumaClassicPrinter; model a row of its family.
template <class Driver, class Face>
struct Rig {
  int port;
  int64_t hostNow = toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<Paper> paper = std::make_shared<Paper>(48);
  std::shared_ptr<Face> printer;
  std::shared_ptr<testsupport::Tap> tap;
  std::shared_ptr<VirtualDevice> dev;
  Driver d;

  explicit Rig(int model, int portNumber = 751, const std::string& statePath = "") : port(portNumber) {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{statePath, [this] { return hostNow; }});
    core->setPaper(paper);
    printer = std::make_shared<Face>(core, caps::fiscalModel(model)->name, Hardware{48, false});
    tap = std::make_shared<testsupport::Tap>(printer);
    dev = makeVirtualDevice(tap);
    ports::attachVirtual(port, dev);
    testsupport::usePort(d, port);
  }
  ~Rig() {
    d.CloseComm();
    ports::detachVirtual(port);
  }
  // Opens the port and reads the printer's tables, then forgets the traffic.
  void open(bool readInfo = true) {
    ASSERT_TRUE(d.OpenComm(readInfo ? 1 : 0)) << d.strLastError;
    tap->clear();
  }
  int64_t nowMs() { return dev->clock().nowUs() / 1000; }
};

}  // namespace darumatest
