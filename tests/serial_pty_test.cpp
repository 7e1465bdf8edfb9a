// The system's serial ports, exercised over a real pseudo-terminal: the library
// opens the terminal end as its port, and a scripted peer thread plays the
// printer on the master end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/channel.h"
#include "platform/platform.h"

namespace tarvion {
namespace {

namespace fs = std::filesystem;
using Ms = std::chrono::milliseconds;

int64_t nowUs() {
  return platform::steadyClock().nowUs();
}
double msSince(int64_t startUs) {
  return static_cast<double>(nowUs() - startUs) / 1000.0;
}

double threadCpuMs() {
  struct rusage ru {};
  getrusage(RUSAGE_THREAD, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
}

std::string text(const ByteArray& b) {
  return std::string(b.begin(), b.end());
}
ByteArray bytes(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

// The settings the drivers ask for: binary, hardware handshake, DSR watched.
PortSettings driverRecord(uint32_t baud, uint8_t bits, uint8_t parity, uint8_t stop) {
  PortSettings s;
  s.BaudRate = baud;
  s.ByteSize = bits;
  s.Parity = parity;
  s.StopBits = stop;
  s.fParity = parity > 0 ? 1 : 0;
  s.fBinary = 1;
  s.fDsrSensitivity = 1;
  s.fAbortOnError = 1;
  s.XonLim = 2048;
  s.XoffLim = 512;
  s.XonChar = 0x11;
  s.XoffChar = 0x13;
  s.fOutxCtsFlow = 1;
  s.fOutxDsrFlow = 1;
  s.fDtrControl = kDtrHandshake;
  s.fRtsControl = kRtsHandshake;
  return s;
}

PortTimeouts readTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
  PortTimeouts t;
  t.ReadIntervalTimeout = interval;
  t.ReadTotalTimeoutMultiplier = multiplier;
  t.ReadTotalTimeoutConstant = constant;
  return t;
}

class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0) << strerror(errno);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    setenv("TARVION_PORT_5", slave_.c_str(), 1);
  }
  void TearDown() override {
    if (peer_.joinable()) peer_.join();
    unsetenv("TARVION_PORT_5");
    unsetenv("TARVION_USB_DEVICE");
    closeMaster();
  }

  ChannelPtr openPort() { return ports::openSerial(5, ports::serialName(5)); }

  // An open port set as the drivers set it, with a short read rule.
  ChannelPtr openConfigured(uint32_t interval = 50, uint32_t constant = 50) {
    auto ch = openPort();
    if (!ch) return nullptr;
    if (!ch->setSettings(driverRecord(9600, 8, kNoParity, kOneStopBit))) return nullptr;
    if (!ch->setTimeouts(readTimeouts(interval, 0, constant))) return nullptr;
    return ch;
  }

  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // The peer's side: what the host sent, up to n bytes or the time limit.
  ByteArray peerRead(size_t n, int timeoutMs) {
    ByteArray got;
    const int64_t end = nowUs() + timeoutMs * 1000LL;
    while (got.size() < n) {
      int left = static_cast<int>((end - nowUs()) / 1000);
      if (left <= 0) break;
      struct pollfd p {
        master_, POLLIN, 0
      };
      if (poll(&p, 1, left) <= 0) break;
      uint8_t buf[256];
      ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.insert(got.end(), buf, buf + r);
    }
    return got;
  }
  void peerWrite(const std::string& s) {
    ASSERT_EQ(::write(master_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }

  // Waits (briefly) until the port has queued exactly n bytes.
  static bool queuedBecomes(Channel& ch, uint32_t n) {
    const int64_t end = nowUs() + 200'000;
    LineStatus st;
    while (nowUs() < end) {
      if (ch.lineStatus(st) && st.inQueue == n) return true;
      std::this_thread::sleep_for(Ms(1));
    }
    return false;
  }

  // Reads until a read brings nothing: the drivers' "read until idle" loop.
  static ByteArray readUntilIdle(Channel& ch) {
    ByteArray all;
    uint8_t buf[256];
    for (int i = 0; i < 100; ++i) {
      size_t got = 0;
      if (!ch.read(buf, sizeof buf, got) || got == 0) break;
      all.insert(all.end(), buf, buf + got);
    }
    return all;
  }

  int master_ = -1;
  std::string slave_;
  std::thread peer_;
};

TEST(SerialNames, PortNumbersMapToDevicesUnlessNamedInTheEnvironment) {
  unsetenv("TARVION_PORT_7");
  EXPECT_EQ(ports::serialName(1), "/dev/ttyS0");
  EXPECT_EQ(ports::serialName(7), "/dev/ttyS6");
  EXPECT_EQ(ports::serialName(10), "/dev/ttyS9");
  EXPECT_EQ(sysports::serialName(998), "/dev/ttyS997");
  // 999 and up select the USB search; no serial device has those numbers.
  EXPECT_EQ(sysports::serialName(999), "");
  EXPECT_EQ(sysports::serialName(0), "");

  setenv("TARVION_PORT_7", "/dev/pts/77", 1);
  EXPECT_EQ(ports::serialName(7), "/dev/pts/77");
  EXPECT_EQ(ports::serialName(8), "/dev/ttyS7");  // only the named port moves
  setenv("TARVION_PORT_7", "", 1);
  EXPECT_EQ(ports::serialName(7), "/dev/ttyS6");
  unsetenv("TARVION_PORT_7");
}

TEST(SerialOpenFailures, MissingOrWrongDevicesAreReportedWithTheDriversCodes) {
  setenv("TARVION_PORT_6", "/nonexistent/tarvion-port", 1);
  platform::setLastError(0);
  EXPECT_EQ(ports::openSerial(6, ports::serialName(6)), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrFileNotFound);
  unsetenv("TARVION_PORT_6");

  platform::setLastError(0);
  EXPECT_EQ(sysports::openSerial(""), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrFileNotFound);

  // A regular file opens but is no serial port.
  std::string file = platform::tempDir() + "tarvion-not-a-port-" + std::to_string(getpid());
  std::ofstream(file) << "x";
  EXPECT_EQ(sysports::openSerial(file), nullptr);
  EXPECT_EQ(platform::lastError(), ENOTTY);
  std::remove(file.c_str());

  platform::setLastError(0);
  EXPECT_EQ(sysports::openUsb("/nonexistent/usb/lp0"), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrFileNotFound);
}

TEST_F(PtyPort, SettingsAreAppliedToTheDeviceAndReadBack) {
  auto ch = openPort();
  ASSERT_TRUE(ch) << platform::lastError();
  // Raw from the moment it opens: no echo, no line editing, no output mapping.
  termios t{};
  ASSERT_EQ(tcgetattr(master_, &t), 0);  // the master reports the terminal's settings
  EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_iflag & (ICRNL | IXON));

  PortSettings before;
  ASSERT_TRUE(ch->getSettings(before));
  EXPECT_EQ(before.fBinary, 1);

  auto base = driverRecord(9600, 8, kNoParity, kOneStopBit);
  ASSERT_TRUE(ch->setSettings(base));
  PortSettings s;
  ASSERT_TRUE(ch->getSettings(s));
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, kNoParity);
  EXPECT_EQ(s.StopBits, kOneStopBit);
  EXPECT_EQ(s.fParity, 0);
  EXPECT_EQ(s.fOutxCtsFlow, 1);
  EXPECT_EQ(s.fRtsControl, kRtsHandshake);
  EXPECT_EQ(s.fDtrControl, kDtrHandshake);
  EXPECT_EQ(s.fOutxDsrFlow, 1);
  EXPECT_EQ(s.fDsrSensitivity, 1);
  EXPECT_EQ(s.XonLim, 2048);
  EXPECT_EQ(s.XoffLim, 512);
  EXPECT_EQ(s.XonChar, 0x11);
  EXPECT_EQ(s.XoffChar, 0x13);
  ASSERT_EQ(tcgetattr(master_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_FALSE(t.c_iflag & INPCK);

  // 7 data bits, even parity checked, two stop bits. A pseudo-terminal keeps
  // 8 bits without parity whatever is asked; the port reports the framing
  // asked for and applies the rest.
  ASSERT_TRUE(ch->setSettings(driverRecord(115200, 7, kEvenParity, kTwoStopBits)));
  ASSERT_TRUE(ch->getSettings(s));
  EXPECT_EQ(s.BaudRate, 115200u);
  EXPECT_EQ(s.ByteSize, 7);
  EXPECT_EQ(s.Parity, kEvenParity);
  EXPECT_EQ(s.StopBits, kTwoStopBits);
  EXPECT_EQ(s.fParity, 1);
  ASSERT_EQ(tcgetattr(master_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_iflag & INPCK);

  // Odd, mark and space parity; 1.5 stop bits become two.
  for (uint8_t parity : {kOddParity, kMarkParity, kSpaceParity}) {
    ASSERT_TRUE(ch->setSettings(driverRecord(19200, 8, parity, kOne5StopBits)));
    ASSERT_TRUE(ch->getSettings(s));
    EXPECT_EQ(s.Parity, parity);
    EXPECT_EQ(s.StopBits, kTwoStopBits);
    ASSERT_EQ(tcgetattr(master_, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B19200);
  }
  ASSERT_TRUE(ch->setSettings(driverRecord(9600, 8, kNoParity, kOneStopBit)));
  ASSERT_TRUE(ch->getSettings(s));
  EXPECT_EQ(s.Parity, kNoParity);
  EXPECT_EQ(s.StopBits, kOneStopBit);
  EXPECT_EQ(s.fParity, 0);
}

TEST_F(PtyPort, FlowControlChoicesSurviveTheRoundTrip) {
  auto ch = openPort();
  ASSERT_TRUE(ch);
  termios t{};
  PortSettings s;

  // CTS output flow with RTS merely raised (what some drivers ask for): the
  // record must still say "enable", or a driver would never raise RTS by hand.
  auto r = driverRecord(9600, 8, kNoParity, kOneStopBit);
  r.fRtsControl = kRtsEnable;
  r.fDtrControl = kDtrEnable;
  ASSERT_TRUE(ch->setSettings(r));
  ASSERT_TRUE(ch->getSettings(s));
  EXPECT_EQ(s.fOutxCtsFlow, 1);
  EXPECT_EQ(s.fRtsControl, kRtsEnable);
  EXPECT_EQ(s.fDtrControl, kDtrEnable);
  ASSERT_EQ(tcgetattr(master_, &t), 0);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);

  // Dropping RTS by hand does not change the configured control.
  ASSERT_TRUE(ch->lineControl(LineFunction::ClrRts));
  ASSERT_TRUE(ch->getSettings(s));
  EXPECT_EQ(s.fRtsControl, kRtsEnable);

  // No flow control at all, XON/XOFF on.
  r.fOutxCtsFlow = 0;
  r.fRtsControl = kRtsDisable;
  r.fOutX = 1;
  r.fInX = 1;
  ASSERT_TRUE(ch->setSettings(r));
  ASSERT_TRUE(ch->getSettings(s));
  EXPECT_EQ(s.fOutxCtsFlow, 0);
  EXPECT_EQ(s.fRtsControl, kRtsDisable);
  EXPECT_EQ(s.fOutX, 1);
  EXPECT_EQ(s.fInX, 1);
  ASSERT_EQ(tcgetattr(master_, &t), 0);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
}

TEST_F(PtyPort, SettingsTheDeviceCannotTakeAreRefusedAndChangeNothing) {
  auto ch = openPort();
  ASSERT_TRUE(ch);
  ASSERT_TRUE(ch->setSettings(driverRecord(9600, 8, kNoParity, kOneStopBit)));
  struct Bad {
    uint32_t baud;
    uint8_t bits, parity, stop;
  };
  for (Bad b : {Bad{14400, 8, 0, 0}, Bad{0, 8, 0, 0}, Bad{9600, 9, 0, 0}, Bad{9600, 4, 0, 0}, Bad{9600, 8, 5, 0},
                Bad{9600, 8, 0, 3}}) {
    platform::setLastError(0);
    EXPECT_FALSE(ch->setSettings(driverRecord(b.baud, b.bits, b.parity, b.stop)))
        << b.baud << " " << int(b.bits) << " " << int(b.parity) << " " << int(b.stop);
    EXPECT_EQ(platform::lastError(), EINVAL);
  }
  PortSettings s;
  ASSERT_TRUE(ch->getSettings(s));
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, kNoParity);
}

TEST_F(PtyPort, PortIsExclusiveUntilClosed) {
  auto first = openPort();
  ASSERT_TRUE(first) << platform::lastError();
  EXPECT_TRUE(first->isOpen());
  EXPECT_GE(first->handleValue(), 0);
  EXPECT_EQ(&first->clock(), &platform::steadyClock());

  platform::setLastError(0);
  EXPECT_EQ(openPort(), nullptr);
  EXPECT_EQ(platform::lastError(), EBUSY);

  first->close();
  EXPECT_FALSE(first->isOpen());
  EXPECT_EQ(first->handleValue(), -1);
  LineStatus st;
  uint8_t buf[4];
  size_t n = 99;
  EXPECT_FALSE(first->lineStatus(st));
  EXPECT_EQ(platform::lastError(), platform::kErrInvalidHandle);
  EXPECT_FALSE(first->read(buf, sizeof buf, n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(first->write(buf, sizeof buf, n));
  EXPECT_EQ(first->waitForInput(10, false, false), WaitResult::Failure);

  auto again = openPort();
  ASSERT_TRUE(again) << platform::lastError();
  EXPECT_TRUE(again->isOpen());
}

TEST_F(PtyPort, RequestIsWrittenAndTheAnswerIsDetectedAndReadUntilIdle) {
  auto ch = openConfigured();
  ASSERT_TRUE(ch);
  const std::string request = "\x02\x1b\x13\x03", answer = std::string("\x06\x02OK 0000\r\n\x00\xff", 13) + "\x03";
  std::atomic<int64_t> answeredAt{0};
  ByteArray seen;
  peer_ = std::thread([&] {
    seen = peerRead(request.size(), 1000);
    std::this_thread::sleep_for(Ms(30));
    answeredAt = nowUs();
    peerWrite(answer.substr(0, 6));
    std::this_thread::sleep_for(Ms(15));  // a pause shorter than the interval
    peerWrite(answer.substr(6));
  });

  size_t written = 0;
  ASSERT_TRUE(ch->write(reinterpret_cast<const uint8_t*>(request.data()), request.size(), written));
  EXPECT_EQ(written, request.size());
  const int64_t start = nowUs();
  ASSERT_EQ(ch->waitForInput(2000, true, true), WaitResult::Ready);
  const int64_t ready = nowUs();
  EXPECT_GE(msSince(start), 25.0);
  // Seen within a few milliseconds of the first byte (generous for loaded machines).
  EXPECT_LT((ready - answeredAt.load()) / 1000.0, 20.0);

  EXPECT_EQ(text(readUntilIdle(*ch)), answer);
  peer_.join();
  EXPECT_EQ(text(seen), request);
}

TEST_F(PtyPort, WaitTimesOutOnSilenceWithoutBurningTheProcessor) {
  auto ch = openConfigured();
  ASSERT_TRUE(ch);
  const double cpu0 = threadCpuMs();
  const int64_t start = nowUs();
  EXPECT_EQ(ch->waitForInput(80, true, true), WaitResult::Timeout);
  const double took = msSince(start);
  EXPECT_GE(took, 79.0);
  EXPECT_LT(took, 250.0);
  // A spinning wait would burn most of the 80 ms.
  EXPECT_LT(threadCpuMs() - cpu0, 15.0);

  // Bytes already queued make the wait return at once.
  peerWrite("Z");
  ASSERT_TRUE(queuedBecomes(*ch, 1));
  const int64_t t1 = nowUs();
  EXPECT_EQ(ch->waitForInput(1000, false, false), WaitResult::Ready);
  EXPECT_LT(msSince(t1), 20.0);
}

TEST_F(PtyPort, HangUpEndsWaitsAndReadsAtOnce) {
  auto ch = openConfigured();
  ASSERT_TRUE(ch);
  closeMaster();
  const int64_t start = nowUs();
  EXPECT_EQ(ch->waitForInput(2000, false, false), WaitResult::Failure);
  EXPECT_LT(msSince(start), 200.0);
  uint8_t buf[8];
  size_t got = 0;
  EXPECT_FALSE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(got, 0u);
}

TEST_F(PtyPort, ReadTotalTimeoutsBoundTheRead) {
  auto ch = openPort();
  ASSERT_TRUE(ch);
  uint8_t buf[64];
  size_t got = 99;

  // Nothing comes: the constant ends the read, successfully, with nothing.
  ASSERT_TRUE(ch->setTimeouts(readTimeouts(0, 0, 60)));
  int64_t start = nowUs();
  EXPECT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(msSince(start), 59.0);
  EXPECT_LT(msSince(start), 250.0);

  // The multiplier counts per requested byte: 6 bytes at 10 ms.
  ASSERT_TRUE(ch->setTimeouts(readTimeouts(0, 10, 0)));
  start = nowUs();
  EXPECT_TRUE(ch->read(buf, 6, got));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(msSince(start), 59.0);
  EXPECT_LT(msSince(start), 250.0);

  // The requested count ends the read long before the time-out.
  ASSERT_TRUE(ch->setTimeouts(readTimeouts(0, 0, 2000)));
  peerWrite("0123456789");
  start = nowUs();
  EXPECT_TRUE(ch->read(buf, 4, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "0123");
  EXPECT_LT(msSince(start), 200.0);
  ASSERT_TRUE(ch->setTimeouts(readTimeouts(0, 0, 30)));
  EXPECT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "456789");
}

TEST_F(PtyPort, ReadIntervalStartsWithTheFirstByte) {
  auto ch = openPort();
  ASSERT_TRUE(ch);
  ASSERT_TRUE(ch->setTimeouts(readTimeouts(40, 0, 0)));
  peer_ = std::thread([&] {
    std::this_thread::sleep_for(Ms(20));
    peerWrite("abc");
    std::this_thread::sleep_for(Ms(150));
    peerWrite("def");
  });
  uint8_t buf[64];
  size_t got = 0;
  int64_t start = nowUs();
  // The pause after "abc" ends the read; the wait before it did not.
  ASSERT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "abc");
  EXPECT_GE(msSince(start), 55.0);
  EXPECT_LT(msSince(start), 160.0);
  // With only an interval rule the read waits for its first byte as long as it takes.
  ASSERT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "def");
  EXPECT_GE(msSince(start), 165.0);
  peer_.join();
}

TEST_F(PtyPort, ReadWithInfiniteIntervalReturnsWhatIsThere) {
  auto ch = openPort();
  ASSERT_TRUE(ch);
  uint8_t buf[64];
  size_t got = 0;

  // No totals: at once, with whatever is queued.
  ASSERT_TRUE(ch->setTimeouts(readTimeouts(0xFFFFFFFF, 0, 0)));
  int64_t start = nowUs();
  EXPECT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(msSince(start), 20.0);
  peerWrite("HELLO");
  ASSERT_TRUE(queuedBecomes(*ch, 5));
  start = nowUs();
  EXPECT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "HELLO");
  EXPECT_LT(msSince(start), 20.0);

  // Infinite multiplier too: the first byte ends the read, the constant bounds the wait.
  ASSERT_TRUE(ch->setTimeouts(readTimeouts(0xFFFFFFFF, 0xFFFFFFFF, 1000)));
  peer_ = std::thread([&] {
    std::this_thread::sleep_for(Ms(30));
    peerWrite("x");
    std::this_thread::sleep_for(Ms(100));
    peerWrite("yz");
  });
  start = nowUs();
  EXPECT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "x");
  EXPECT_GE(msSince(start), 25.0);
  EXPECT_LT(msSince(start), 120.0);
  peer_.join();
  ASSERT_TRUE(ch->setTimeouts(readTimeouts(0xFFFFFFFF, 0xFFFFFFFF, 50)));
  start = nowUs();
  EXPECT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "yz");
  EXPECT_TRUE(ch->read(buf, sizeof buf, got));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(msSince(start), 49.0);
}

TEST_F(PtyPort, WriteTimesOutWhenThePeerStopsTakingBytes) {
  auto ch = openPort();
  ASSERT_TRUE(ch);
  PortTimeouts t;
  t.WriteTotalTimeoutConstant = 60;
  ASSERT_TRUE(ch->setTimeouts(t));

  // A short write goes through whole, unaltered.
  const std::string small("\r\n\x00\x7f\x1b", 5);
  size_t written = 0;
  ASSERT_TRUE(ch->write(reinterpret_cast<const uint8_t*>(small.data()), small.size(), written));
  EXPECT_EQ(written, small.size());
  EXPECT_EQ(text(peerRead(small.size(), 500)), small);

  // Nobody reads the master: the terminal's buffers fill and the write times out.
  std::vector<uint8_t> big(1 << 20, 'A');
  const int64_t start = nowUs();
  platform::setLastError(0);
  EXPECT_FALSE(ch->write(big.data(), big.size(), written));
  EXPECT_EQ(platform::lastError(), platform::kErrTimeout);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  EXPECT_GE(msSince(start), 59.0);
  EXPECT_LT(msSince(start), 300.0);
}

TEST_F(PtyPort, LineStatusQueuesPurgeAndLineFunctions) {
  auto ch = openConfigured();
  ASSERT_TRUE(ch);
  peerWrite("1234567");
  ASSERT_TRUE(queuedBecomes(*ch, 7));
  LineStatus st;
  ASSERT_TRUE(ch->lineStatus(st));
  EXPECT_EQ(st.inQueue, 7u);
  EXPECT_EQ(st.outQueue, 0u);
  EXPECT_EQ(st.errors, 0u);
  // A pseudo-terminal has no modem lines: nothing holds, even under handshake.
  EXPECT_FALSE(st.ctsHold);
  EXPECT_FALSE(st.dsrHold);
  EXPECT_FALSE(st.rlsdHold);

  ASSERT_TRUE(ch->purge(true, true));
  ASSERT_TRUE(ch->lineStatus(st));
  EXPECT_EQ(st.inQueue, 0u);
  EXPECT_EQ(ch->waitForInput(30, true, true), WaitResult::Timeout);

  for (auto f : {LineFunction::SetRts, LineFunction::ClrRts, LineFunction::SetDtr, LineFunction::ClrDtr,
                 LineFunction::SetBreak, LineFunction::ClrBreak, LineFunction::SetXoff, LineFunction::SetXon})
    EXPECT_TRUE(ch->lineControl(f)) << static_cast<int>(f) << " error " << platform::lastError();
  // Output flows again after XOFF/XON.
  size_t written = 0;
  ASSERT_TRUE(ch->write(reinterpret_cast<const uint8_t*>("ok"), 2, written));
  EXPECT_EQ(text(peerRead(2, 500)), "ok");

  ByteArray out{1, 2, 3};
  EXPECT_FALSE(ch->deviceControl(0x80002000, bytes("x"), out, 16));
  EXPECT_EQ(platform::lastError(), ENOTSUP);
  EXPECT_TRUE(out.empty());

  PortProperties p;
  ASSERT_TRUE(ch->properties(p));
  EXPECT_EQ(p.dwProvSubType, 1u);
  EXPECT_GT(p.dwCurrentRxQueue, 0u);
  EXPECT_NE(p.dwSettableBaud & 0x800, 0u);  // 9600
}

TEST_F(PtyPort, UsbDeviceNamedInTheEnvironmentOpensSharedAndRaw) {
  setenv("TARVION_USB_DEVICE", slave_.c_str(), 1);
  const auto cls = InterfaceClass::parse("{325DDF96-938C-11D3-9E34-0080C82727F4}");
  auto found = ports::findUsb(999, cls);
  ASSERT_EQ(found, std::vector<std::string>{slave_});
  // A driver without an interface class still finds nothing.
  EXPECT_TRUE(ports::findUsb(999, InterfaceClass{}).empty());

  auto a = ports::openUsb(999, found[0]);
  ASSERT_TRUE(a) << platform::lastError();
  auto b = ports::openUsb(999, found[0]);
  ASSERT_TRUE(b) << platform::lastError();  // shared
  ASSERT_TRUE(a->setTimeouts(readTimeouts(20, 0, 100)));

  const std::string binary("\r\n\x00\x11\x13\x03\x7f", 7);
  peerWrite(binary);
  ASSERT_EQ(a->waitForInput(500, false, false), WaitResult::Ready);
  EXPECT_EQ(text(readUntilIdle(*a)), binary);
}

// A sysfs tree with USB terminals, non-USB terminals and a USB printer node.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarvion-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    const fs::path usbIf = root_ / "sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
    const fs::path usbIf2 = root_ / "sys/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1:1.1";
    const fs::path platform = root_ / "sys/devices/platform/serial8250";
    const fs::path lookalike = root_ / "sys/devices/platform/usbhost-bridge/port1";  // "usb" but no bus number
    for (const auto& d : {usbIf, usbIf2, platform, lookalike}) fs::create_directories(d);
    // name, device folder, node present
    struct Entry {
      const char* cls;
      const char* name;
      fs::path device;
      bool node;
    };
    const Entry entries[] = {
        {"tty", "ttyS0", platform, true}, {"tty", "ttyACM10", usbIf2, true}, {"tty", "ttyACM2", usbIf, true},
        {"tty", "ttyACM7", usbIf, false}, {"tty", "ttyUSB0", usbIf2, true},  {"tty", "ttyUSB1", lookalike, true},
        {"tty", "ttyUSBx", usbIf, true},  {"usbmisc", "lp0", usbIf, true},   {"usbmisc", "hiddev0", usbIf, true},
    };
    fs::create_directories(root_ / "dev/usb");
    for (const auto& e : entries) {
      fs::path dir = root_ / "sys/class" / e.cls / e.name;
      fs::create_directories(dir);
      fs::create_directory_symlink(fs::relative(e.device, dir), dir / "device");
      if (e.node) {
        fs::path node = std::string(e.cls) == "usbmisc" ? root_ / "dev/usb" / e.name : root_ / "dev" / e.name;
        std::ofstream(node) << "";
      }
    }
    setenv("TARVION_SYSFS_ROOT", (root_ / "sys").c_str(), 1);
    setenv("TARVION_DEV_ROOT", (root_ / "dev").c_str(), 1);
    unsetenv("TARVION_USB_DEVICE");
  }
  void TearDown() override {
    unsetenv("TARVION_SYSFS_ROOT");
    unsetenv("TARVION_DEV_ROOT");
    unsetenv("TARVION_USB_DEVICE");
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string dev(const std::string& rel) { return (root_ / "dev" / rel).string(); }
  fs::path root_;
};

TEST_F(FakeSysfs, UsbSearchListsUsbTerminalsThenPrinterNodesInNumberOrder) {
  const auto cls = InterfaceClass::parse("{325DDF96-938C-11D3-9E34-0080C82727F4}");
  ASSERT_FALSE(cls.isZero());
  const std::vector<std::string> expected{dev("ttyACM2"), dev("ttyACM10"), dev("ttyUSB0"), dev("usb/lp0")};
  EXPECT_EQ(sysports::findUsb(cls), expected);
  EXPECT_EQ(ports::findUsb(999, cls), expected);

  // Without an interface class nothing is searched.
  EXPECT_TRUE(sysports::findUsb(InterfaceClass{}).empty());

  // A device named in the environment replaces the search.
  setenv("TARVION_USB_DEVICE", "/dev/my-printer", 1);
  EXPECT_EQ(sysports::findUsb(cls), std::vector<std::string>{"/dev/my-printer"});
  unsetenv("TARVION_USB_DEVICE");

  // The printer unplugged: its class entries go away with it.
  fs::remove_all(root_ / "sys/class/tty");
  fs::remove_all(root_ / "sys/class/usbmisc");
  EXPECT_TRUE(sysports::findUsb(cls).empty());
}

}  // namespace
}  // namespace tarvion
