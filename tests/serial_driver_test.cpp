// A driver on a real pseudo-terminal: the whole path from OpenComm through the
// system's port to a scripted peer on the master end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/ecf_base.h"
#include "core/text.h"
#include "driver_port.h"
#include "test_support.h"

using namespace tarvion;

TEST(DriverOnPty, OpensConfiguresExchangesAndTimesOut) {
  testsupport::TempDir tmp;
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  setenv("TARVION_PORT_5", ptsname(master), 1);

  CECFBase d;
  testsupport::usePort(d, 5, 115200);
  ASSERT_EQ(d.OpenComm(1), 1) << d.strLastError;
  PortSettings s;
  ASSERT_TRUE(d.hPort->getSettings(s));
  EXPECT_EQ(s.BaudRate, 115200u);
  EXPECT_EQ(s.ByteSize, 8);

  // The peer answers a request in two bursts 50 ms apart: one read-until-idle
  // loop under the 200 ms interval rule collects both.
  std::thread peer([master] {
    uint8_t buf[16];
    struct pollfd p {
      master, POLLIN, 0
    };
    if (poll(&p, 1, 2000) <= 0 || read(master, buf, sizeof buf) <= 0) return;
    (void)!write(master, "\x06OK", 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    (void)!write(master, "FIM", 3);
  });
  const uint8_t req[] = {0x02, 0x13};
  size_t written = 0;
  ASSERT_TRUE(d.hPort->write(req, sizeof req, written));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(d.WaitCommEvent(2000), 1);
  std::string answer;
  for (;;) {
    uint8_t buf[256];
    size_t got = 0;
    ASSERT_TRUE(d.hPort->read(buf, sizeof buf, got));
    if (got == 0) break;
    answer.append(reinterpret_cast<char*>(buf), got);
  }
  peer.join();
  EXPECT_EQ(answer, "\x06OKFIM");

  // Silence: the wait fails at its limit with the printer message.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(d.WaitCommEvent(100), 0);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 95);
  EXPECT_LT(ms, 1000);
  EXPECT_EQ(d.strLastError, "Timeout aguardando resposta da impressora.");

  // The port is exclusive while the driver holds it.
  CECFBase second;
  second.nPortNumber = 5;
  second.nBaudRate = 9600;
  second.nDataBits = 8;
  EXPECT_EQ(second.OpenComm(0), 0);
  EXPECT_EQ(second.strLastError.rfind("(", 0), 0u);
  EXPECT_EQ(d.CloseComm(), 1);
  EXPECT_EQ(second.OpenComm(0), 1) << second.strLastError;
  second.CloseComm();
  unsetenv("TARVION_PORT_5");
  close(master);
}
