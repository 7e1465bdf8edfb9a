// Automation dates, and the virtual wire's read semantics on the simulated clock.
#include <gtest/gtest.h>

#include <cmath>

#include "core/datetime.h"
#include "core/virtual_wire.h"

using namespace tarvion;

TEST(DateTime, AutomationDatesRoundTrip) {
  DateTime d = DateTime::fromParts(2026, 12, 4, 17, 5, 9);
  ASSERT_TRUE(d.valid());
  DateParts p;
  ASSERT_TRUE(d.parts(p));
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.hour, 17);
  EXPECT_EQ(p.minute, 5);
  EXPECT_EQ(p.second, 9);
  EXPECT_DOUBLE_EQ(DateTime::fromParts(1899, 12, 30).automationDate(), 0.0);
  EXPECT_DOUBLE_EQ(DateTime::fromParts(1900, 1, 1).automationDate(), 2.0);
  EXPECT_DOUBLE_EQ(DateTime::fromParts(2000, 1, 1, 12).automationDate(), 36526.5);
  // Before the epoch the time still counts forward from midnight.
  DateTime before = DateTime::fromParts(1899, 12, 29, 6);
  EXPECT_DOUBLE_EQ(before.automationDate(), -1.25);
  ASSERT_TRUE(before.parts(p));
  EXPECT_EQ(p.day, 29);
  EXPECT_EQ(p.hour, 6);
}

TEST(DateTime, InvalidValues) {
  EXPECT_FALSE(DateTime::fromParts(2026, 2, 29).valid());
  EXPECT_TRUE(DateTime::fromParts(2024, 2, 29).valid());
  EXPECT_FALSE(DateTime::fromParts(2026, 13, 1).valid());
  EXPECT_FALSE(DateTime::fromParts(2026, 1, 1, 24).valid());
  DateParts p;
  EXPECT_FALSE(DateTime::invalid().parts(p));
  EXPECT_FALSE(DateTime(1e12).parts(p));
  EXPECT_FALSE(DateTime(std::nan("")).parts(p));
  // A time a hair below midnight rounds to the next day, not to 23:59:60.
  ASSERT_TRUE(DateTime(1.9999999999).parts(p));
  EXPECT_EQ(p.day, 1);
  EXPECT_EQ(p.month, 1);
  EXPECT_EQ(p.year, 1900);
  EXPECT_EQ(p.hour, 0);
}

namespace {
struct Wire {
  std::shared_ptr<ScriptedPeer> peer;
  std::shared_ptr<VirtualDevice> dev;
  ChannelPtr ch;
  explicit Wire(ScriptedPeer::Fn fn) {
    peer = std::make_shared<ScriptedPeer>(std::move(fn));
    dev = std::make_shared<VirtualDevice>(peer);
    ch = dev->open();
    PortTimeouts t;
    t.ReadIntervalTimeout = 200;
    t.ReadTotalTimeoutConstant = 200;
    ch->setTimeouts(t);
  }
  std::string read(size_t n) {
    std::string buf(n, '\0');
    size_t got = 0;
    EXPECT_TRUE(ch->read(reinterpret_cast<uint8_t*>(buf.data()), n, got));
    buf.resize(got);
    return buf;
  }
  void write(const std::string& s) {
    size_t w = 0;
    ch->write(reinterpret_cast<const uint8_t*>(s.data()), s.size(), w);
  }
};
}  // namespace

TEST(VirtualWire, ReadEndsAtTheTotalTimeOut) {
  Wire w([](const ByteArray&, VirtualLink& l) {
    l.send("AB");
    l.send("CD", 150);  // within the 200 ms window
    l.send("EF", 400);  // after it
  });
  w.write("?");
  int64_t t0 = w.dev->clock().nowUs();
  EXPECT_EQ(w.read(10), "ABCD");
  EXPECT_EQ(w.dev->clock().nowUs() - t0, 200'000);
  EXPECT_EQ(w.read(10), "EF");
  EXPECT_EQ(w.read(10), "");  // nothing more: the read gives up after 200 ms
}

TEST(VirtualWire, ReadReturnsAsSoonAsItHasEnough) {
  Wire w([](const ByteArray&, VirtualLink& l) { l.send("0123456789", 30); });
  w.write("?");
  int64_t t0 = w.dev->clock().nowUs();
  EXPECT_EQ(w.read(4), "0123");
  EXPECT_EQ(w.dev->clock().nowUs() - t0, 30'000);
  EXPECT_EQ(w.read(100), "456789");
}

TEST(VirtualWire, BaudRatePacesTheLine) {
  Wire w([](const ByteArray&, VirtualLink& l) { l.send(std::string(96, 'x')); });
  w.dev->setBaud(9600);  // about 1 ms per byte
  int64_t t0 = w.dev->clock().nowUs();
  w.write(std::string(10, 'q'));
  EXPECT_EQ(w.dev->clock().nowUs() - t0, 10 * 1041);
  EXPECT_EQ(w.read(96).size(), 96u);
  EXPECT_EQ(w.dev->clock().nowUs() - t0, 10 * 1041 + 96 * 1041);
}

TEST(VirtualWire, PortsAreExclusiveAndCablesCanBeCut) {
  Wire w(nullptr);
  EXPECT_EQ(w.dev->open(), nullptr);
  EXPECT_EQ(platform::lastError(), 5);
  w.dev->cut();
  size_t n = 0;
  uint8_t b = 1;
  EXPECT_FALSE(w.ch->write(&b, 1, n));
  EXPECT_EQ(w.ch->waitForInput(10, false, false), WaitResult::Failure);
  w.ch->close();
  EXPECT_FALSE(w.dev->isOpen());
  EXPECT_EQ(w.ch->handleValue(), -1);
  EXPECT_NE(w.dev->open(), nullptr);
}
