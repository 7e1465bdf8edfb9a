// A virtual Bematech printer on the virtual wire with a channel open to it, for
// tests that speak raw frames to the printer. The frames are built here, by
// the test's own hand, and pinned by literal byte vectors: neither the
// driver's frame code nor the printer's own codec makes them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "emulator/bematech/codec.h"
#include "emulator/bematech/printer.h"
#include "emulator/paper.h"

namespace emutest {

using namespace tarvion;
using namespace tarvion::emulator;

namespace pbm = tarvion::emulator::bematech;

inline ByteArray bytes(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

// A request as the host frames it: STX, N (bytes after it, low first), the
// prefix, the command and parameters, and the 16-bit sum of those bytes from
// the prefix on (low first).
inline ByteArray request(uint8_t prefix, const ByteArray& command, const ByteArray& params) {
  const size_t n = 1 + command.size() + params.size() + 2;
  ByteArray f;
  f.reserve(3 + n);
  f.push_back(0x02);
  f.push_back(static_cast<uint8_t>(n & 0xFF));
  f.push_back(static_cast<uint8_t>(n >> 8));
  f.push_back(prefix);
  for (uint8_t b : command) f.push_back(b);
  for (uint8_t b : params) f.push_back(b);
  unsigned sum = 0;
  for (size_t i = 3; i < f.size(); ++i) sum += f[i];
  f.push_back(static_cast<uint8_t>(sum & 0xFF));
  f.push_back(static_cast<uint8_t>((sum >> 8) & 0xFF));
  return f;
}

// Packed BCD read back: the decimal value of n bytes.
inline uint64_t bcdValue(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = v * 100 + (p[i] >> 4) * 10 + (p[i] & 0x0F);
  return v;
}
// The hex digits of n bytes, two per byte ("041226" for 04 12 26).
inline std::string hexDigits(const uint8_t* p, size_t n) {
  static const char* const kHex = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 0x0F];
  }
  return s;
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
    return request(model.prefix, command, bytes(params));
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
    if (got.empty() || got[0] != pbm::kACK) return {};
    return ByteArray(got.begin() + 1, got.end());
  }
  ByteArray read35(uint8_t sub) { return reply(ByteArray{pbm::cmd::Read, sub}); }
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
