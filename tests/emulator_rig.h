// A virtual Bematech printer on the virtual wire with a channel open to it, for
// tests that speak raw frames to the printer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "drivers/bematech/bematech_protocol.h"
#include "emulator/bematech_printer.h"
#include "emulator/paper.h"

namespace emutest {

using namespace tarvion;
using namespace tarvion::emulator;

inline ByteArray bytes(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

// Text cut or padded with blanks to n characters.
inline std::string pad(const std::string& s, size_t n) {
  std::string t = s.substr(0, n);
  t.resize(n, ' ');
  return t;
}

// The ten fields of command 63 (an item) as the driver lays them out.
inline std::string itemParams(const std::string& tax, const std::string& price9, const std::string& qty7,
                              const std::string& code, const std::string& desc,
                              const std::string& discount10 = "0000000000") {
  return tax + price9 + qty7 + discount10 + std::string(10, '0') + "01" + std::string(20, '0') + "UN" + code +
         std::string(1, '\0') + desc + std::string(1, '\0');
}

struct EmulatorRig {
  int64_t hostNow = toSeconds(Stamp{2026, 12, 4, 10, 0, 0});
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<Paper> paper = std::make_shared<Paper>(48);
  std::shared_ptr<BematechPrinter> printer;
  std::shared_ptr<VirtualDevice> dev;
  ChannelPtr ch;
  BematechModel model;

  explicit EmulatorRig(int number, const std::string& statePath = "") {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{statePath, [this] { return hostNow; }});
    core->setPaper(paper);
    EXPECT_TRUE(BematechModel::byNumber(number, model));
    printer = std::make_shared<BematechPrinter>(core, model);
    dev = makeVirtualDevice(printer);
    ch = dev->open();
    PortTimeouts t;
    t.ReadIntervalTimeout = 50;
    ch->setTimeouts(t);
  }
  ByteArray frame(const ByteArray& command, const std::string& params = {}) const {
    return bematech::buildFrame(model.prefix, command, bytes(params));
  }
  // Everything the printer answers to a frame, ACK included.
  ByteArray raw(const ByteArray& f) {
    size_t w = 0;
    if (!ch->write(f.data(), f.size(), w)) return {};
    ByteArray got(8192);
    size_t n = 0;
    ch->read(got.data(), got.size(), n);
    got.resize(n);
    return got;
  }
  // The reply after the ACK; empty when the printer did not acknowledge.
  ByteArray reply(const ByteArray& command, const std::string& params = {}) {
    ByteArray got = raw(frame(command, params));
    if (got.empty() || got[0] != bematech::kACK) return {};
    return ByteArray(got.begin() + 1, got.end());
  }
  ByteArray read35(uint8_t sub) { return reply(ByteArray{bematech::cmd::Read, sub}); }
  std::string printed() const { return paper->printed(); }
};

// The status that ends an FS reply: ST1, ST2 and the 2-byte ST3.
struct St {
  uint8_t st1 = 0xFF, st2 = 0xFF;
  uint16_t st3 = 0xFFFF;
  bool operator==(const St& o) const { return st1 == o.st1 && st2 == o.st2 && st3 == o.st3; }
};
inline std::ostream& operator<<(std::ostream& os, const St& s) {
  return os << "ST1=" << int(s.st1) << " ST2=" << int(s.st2) << " ST3=" << s.st3;
}
inline St tail(const ByteArray& reply) {
  if (reply.size() < 4) return {};
  const size_t n = reply.size();
  return {reply[n - 4], reply[n - 3], static_cast<uint16_t>(reply[n - 2] | reply[n - 1] << 8)};
}
inline const St kDone{0, 0, 0};

}  // namespace emutest
