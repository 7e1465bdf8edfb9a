// The C seam a program uses to put a device of its own behind a port number
// (libtarvion-emulator's way in): the callbacks see what the drivers write,
// answer on the wire's clock, and are released exactly once, when the port
// lets the device go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/channel.h"
#include "core/virtual_wire.h"
#include "tarvion/tarvion.h"

using namespace tarvion;

namespace {

// A device that echoes every write in upper case after 5 ms, and hangs up on "bye".
struct Echo {
  std::vector<std::string> events;
  int released = 0;
  int64_t seenUs = -1;

  static void TARVION_CALL opened(void* c) { static_cast<Echo*>(c)->events.push_back("open"); }
  static void TARVION_CALL closed(void* c) { static_cast<Echo*>(c)->events.push_back("close"); }
  static void TARVION_CALL release(void* c) { ++static_cast<Echo*>(c)->released; }
  static void TARVION_CALL received(void* c, const unsigned char* data, size_t n, tarvion_wire* wire) {
    auto* self = static_cast<Echo*>(c);
    std::string text(reinterpret_cast<const char*>(data), n);
    self->events.push_back("got " + text);
    self->seenUs = tarvion_wire_now_us(wire);
    if (text == "bye") {
      tarvion_wire_hang_up(wire);
      return;
    }
    for (auto& ch : text) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    tarvion_wire_send(wire, reinterpret_cast<const unsigned char*>(text.data()), text.size(), 5);
  }

  tarvion_device device() {
    tarvion_device d{};
    d.size = sizeof d;
    d.context = this;
    d.opened = opened;
    d.received = received;
    d.closed = closed;
    d.release = release;
    return d;
  }
};

constexpr int kPort = 41;

ChannelPtr openPort() {
  return ports::openSerial(kPort, ports::serialName(kPort));
}

std::string readAll(Channel& ch) {
  PortTimeouts t{};
  t.ReadTotalTimeoutConstant = 100;
  ch.setTimeouts(t);
  uint8_t buf[64];
  size_t got = 0;
  if (!ch.read(buf, sizeof buf, got)) return "(read failed)";
  return std::string(reinterpret_cast<char*>(buf), got);
}

}  // namespace

TEST(DeviceSeam, CallbacksServeThePortAndAreReleasedOnceAfterTheLastUse) {
  Echo echo;
  const tarvion_device d = echo.device();
  ASSERT_EQ(tarvion_attach_device(kPort, &d), 0);
  {
    ChannelPtr ch = openPort();
    ASSERT_TRUE(ch);
    size_t written = 0;
    const int64_t before = ch->clock().nowUs();
    ASSERT_TRUE(ch->write(reinterpret_cast<const uint8_t*>("abc"), 3, written));
    EXPECT_EQ(echo.seenUs, before);
    EXPECT_EQ(readAll(*ch), "ABC");
    // The answer was due 5 ms later on the simulated clock, not in real time.
    EXPECT_GE(ch->clock().nowUs() - before, 5000);
    // Detached while open: the open port keeps the device until it closes.
    EXPECT_EQ(tarvion_detach_device(kPort), 0);
    EXPECT_EQ(echo.released, 0);
    ch->close();
  }
  EXPECT_EQ(echo.released, 1);
  EXPECT_EQ(echo.events, (std::vector<std::string>{"open", "got abc", "close"}));
  EXPECT_EQ(tarvion_detach_device(kPort), -1);
  EXPECT_FALSE(openPort());
}

TEST(DeviceSeam, HangingUpCutsTheLine) {
  Echo echo;
  const tarvion_device d = echo.device();
  ASSERT_EQ(tarvion_attach_device(kPort, &d), 0);
  ChannelPtr ch = openPort();
  ASSERT_TRUE(ch);
  size_t written = 0;
  ASSERT_TRUE(ch->write(reinterpret_cast<const uint8_t*>("bye"), 3, written));
  EXPECT_FALSE(ch->write(reinterpret_cast<const uint8_t*>("x"), 1, written));
  ch.reset();
  EXPECT_EQ(tarvion_detach_device(kPort), 0);
  EXPECT_EQ(echo.released, 1);
}

TEST(DeviceSeam, ReplacingADeviceReleasesTheOldOne) {
  Echo first, second;
  const tarvion_device a = first.device(), b = second.device();
  ASSERT_EQ(tarvion_attach_device(kPort, &a), 0);
  ASSERT_EQ(tarvion_attach_device(kPort, &b), 0);
  EXPECT_EQ(first.released, 1);
  EXPECT_EQ(second.released, 0);
  EXPECT_EQ(tarvion_detach_device(kPort), 0);
  EXPECT_EQ(second.released, 1);
}

TEST(DeviceSeam, BadAttachmentsAreRefusedWithoutTakingTheDevice) {
  Echo echo;
  tarvion_device d = echo.device();
  EXPECT_EQ(tarvion_attach_device(kPort, nullptr), -1);
  EXPECT_EQ(tarvion_attach_device(0, &d), -1);
  d.size = sizeof d - 1;  // an older, smaller struct than this library needs
  EXPECT_EQ(tarvion_attach_device(kPort, &d), -1);
  EXPECT_EQ(echo.released, 0);
  EXPECT_FALSE(ports::virtualAt(kPort));
  // Null callbacks are allowed: the device then ignores what it is told.
  tarvion_device quiet{};
  quiet.size = sizeof quiet;
  ASSERT_EQ(tarvion_attach_device(kPort, &quiet), 0);
  ChannelPtr ch = openPort();
  ASSERT_TRUE(ch);
  size_t written = 0;
  EXPECT_TRUE(ch->write(reinterpret_cast<const uint8_t*>("x"), 1, written));
  EXPECT_EQ(readAll(*ch), "");
  ch.reset();
  EXPECT_EQ(tarvion_detach_device(kPort), 0);
}
