// The system's ports on Linux: a termios device (UART, USB CDC or serial
// adapter, pseudo-terminal) or a USB printer node, driven with the Win32
// communications semantics the drivers were written against.
//
// The descriptor stays non-blocking for its whole life and every wait sleeps in
// ppoll() until the device has something or the deadline passes, so a driver that
// waits two minutes for a printer costs no CPU and still sees the first byte of
// the answer as soon as the kernel has it.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/channel.h"
#include "platform/platform.h"
#include "platform/posix/sysfs_dir.h"
#include "platform/serial_devices.h"

namespace tarvion::sysports {

namespace {

using platform::posix::envOr;
using platform::posix::numberedEntries;

constexpr uint32_t kMaxDword = 0xFFFFFFFF;

// Win32 error-mask bits of the line status.
constexpr uint32_t kCeRxOver = 0x0001, kCeOverrun = 0x0002, kCeRxParity = 0x0004, kCeFrame = 0x0008, kCeBreak = 0x0010;

// The drivers tell "the device is not there" from other failures by the Win32
// codes, so the errno values meaning that are translated; every other failure
// keeps its errno, whose text the system gives.
int errorCode(int e) {
  switch (e) {
    case ENOENT:
    case ENODEV:  // a device node without hardware behind it
    case ENXIO:
      return platform::kErrFileNotFound;
    case EBADF:
      return platform::kErrInvalidHandle;
    case EEXIST:
      return platform::kErrAlreadyExists;
    default:
      return e;
  }
}

bool fail(int code) {
  platform::setLastError(code);
  return false;
}

bool failErrno() {
  return fail(errorCode(errno));
}

// The answer of a device that does not know a terminal request at all
// (pseudo-terminals have no modem lines, USB printer nodes no termios).
bool unsupportedRequest(int e) {
  return e == ENOTTY || e == EINVAL || e == EOPNOTSUPP;
}

int64_t nowUs() {
  return platform::steadyClock().nowUs();
}

// Sleeps in ppoll() until one of the events is pending on fd, or until the
// deadline (microseconds of the steady clock; negative = no deadline). fd < 0
// just sleeps. Returns 1 with revents filled, 0 at the deadline, -1 with errno.
int pollUntil(int fd, short events, int64_t deadlineUs, short& revents) {
  revents = 0;
  for (;;) {
    struct pollfd p {};
    p.fd = fd;
    p.events = events;
    struct timespec ts {};
    struct timespec* tsp = nullptr;
    if (deadlineUs >= 0) {
      int64_t left = deadlineUs - nowUs();
      if (left <= 0) return 0;
      ts.tv_sec = static_cast<time_t>(left / 1'000'000);
      ts.tv_nsec = static_cast<long>(left % 1'000'000) * 1000;
      tsp = &ts;
    }
    int rc = ::ppoll(&p, fd >= 0 ? 1 : 0, tsp, nullptr);
    if (rc > 0) {
      revents = p.revents;
      return 1;
    }
    if (rc == 0) {
      if (deadlineUs >= 0 && nowUs() < deadlineUs) continue;  // woke a hair early
      return 0;
    }
    if (errno != EINTR) return -1;
  }
}

// Baud rates the termios interface names.
struct BaudCode {
  uint32_t rate;
  speed_t code;
};
constexpr BaudCode kBauds[] = {
    {50, B50},           {75, B75},       {110, B110},     {134, B134},     {150, B150},       {200, B200},
    {300, B300},         {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400},     {4800, B4800},
    {9600, B9600},       {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool speedOf(uint32_t rate, speed_t& code) {
  for (const auto& b : kBauds)
    if (b.rate == rate) {
      code = b.code;
      return true;
    }
  return false;
}

uint32_t rateOf(speed_t code) {
  for (const auto& b : kBauds)
    if (b.code == code) return b.rate;
  return 0;
}

// Raw bytes both ways, as a Win32 port always is. VMIN 1 / VTIME 0 makes a
// non-blocking read answer EAGAIN when nothing is queued, so a read of 0 bytes
// means the line hung up. CLOCAL: printers seldom drive DCD, and a port must
// neither wait for it on open nor hang up when it drops.
// Input checks and software flow control a previous program left on the
// terminal are dropped too: each open starts from the same state, and the
// settings asked for are the only ones in force.
void makeRaw(termios& t) {
  cfmakeraw(&t);
  t.c_iflag &= ~(INPCK | IXOFF | IXANY);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

class PosixPort final : public Channel {
 public:
  PosixPort(int fd, bool tty, bool exclusive) : fd_(fd), tty_(tty), exclusive_(exclusive) {
    // A fresh Win32 port reports these until someone sets the record.
    stored_.fBinary = 1;
    stored_.fDtrControl = kDtrEnable;
    stored_.fRtsControl = kRtsEnable;
    stored_.XonLim = 2048;
    stored_.XoffLim = 512;
    stored_.XonChar = 0x11;
    stored_.XoffChar = 0x13;
  }
  ~PosixPort() override { close(); }

  // Puts a terminal in raw mode at once, keeping its speed and character format:
  // until the drivers set the port, echo or line editing would corrupt frames.
  bool init() {
    if (!tty_) return true;
    struct stat st {};
    // Pseudo-terminal slaves (majors 136-143) carry whole bytes: the kernel
    // keeps them at 8 bits without parity whatever is asked.
    pty_ = ::fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return failErrno();
    const tcflag_t keep = t.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    makeRaw(t);
    t.c_cflag = (t.c_cflag & ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS)) | keep;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return failErrno();
    hwFlow_ = (t.c_cflag & CRTSCTS) != 0;
    errorMask();  // counts from before the open are not this session's errors
    return true;
  }

  bool properties(PortProperties& out) override {
    if (!checkOpen()) return false;
    termios t{};
    if (tty_ && ::tcgetattr(fd_, &t) != 0) return failErrno();
    out = PortProperties{};
    out.wPacketLength = 64;  // the size of the Win32 record
    out.wPacketVersion = 2;
    out.dwServiceMask = 1;             // serial communications
    out.dwMaxBaud = 0x10000000;        // programmable: the kernel names rates far above 115200
    out.dwProvSubType = tty_ ? 1 : 0;  // RS-232, or of no known type for a printer node
    // RTS/CTS, parity check, XON/XOFF, settable XON/XOFF characters, total and interval time-outs.
    out.dwProvCapabilities = 0x02 | 0x08 | 0x10 | 0x20 | 0x40 | 0x80;
    out.dwSettableParams = 0x3F;  // parity, baud, data bits, stop bits, handshaking, parity check
    // 75 to 115200 without 7200/14400/56000/128000, which termios lacks, plus programmable rates.
    out.dwSettableBaud = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x80 | 0x100 | 0x200 | 0x800 | 0x2000 | 0x4000 |
                         0x20000 | 0x40000 | 0x10000000;
    out.wSettableData = 0x000F;        // 5 to 8 data bits
    out.wSettableStopParity = 0x1F05;  // one or two stop bits; none, odd, even, mark, space
    // The kernel's buffers (line discipline and transmit ring) are a page each.
    out.dwCurrentTxQueue = 4096;
    out.dwCurrentRxQueue = 4096;
    return true;
  }

  bool getSettings(PortSettings& out) override {
    if (!checkOpen()) return false;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return failErrno();
    // What termios keeps is read from the device; the rest of the record
    // (DSR/DTR handshake, limits, special characters) has no termios form and
    // comes back as it was last set.
    PortSettings s = stored_;
    s.BaudRate = rateOf(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
      case CS5:
        s.ByteSize = 5;
        break;
      case CS6:
        s.ByteSize = 6;
        break;
      case CS7:
        s.ByteSize = 7;
        break;
      default:
        s.ByteSize = 8;
        break;
    }
    s.StopBits = (t.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
    if (!(t.c_cflag & PARENB))
      s.Parity = kNoParity;
    else if (t.c_cflag & CMSPAR)
      s.Parity = (t.c_cflag & PARODD) ? kMarkParity : kSpaceParity;
    else
      s.Parity = (t.c_cflag & PARODD) ? kOddParity : kEvenParity;
    if (pty_) {
      // No framing on a pseudo-terminal: the one asked for is the port's, so
      // a program on the other end (an emulated printer) can be set up alike.
      s.ByteSize = stored_.ByteSize;
      s.Parity = stored_.Parity;
    }
    s.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    s.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    s.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    s.XonChar = t.c_cc[VSTART];
    s.XoffChar = t.c_cc[VSTOP];
    // CRTSCTS stands for both CTS output flow and RTS handshake. When it is on,
    // the stored record says which of the two was asked for; when it was turned
    // on by someone else, report both. DTR and RTS control are configuration,
    // not the momentary line level: a driver that dropped RTS by hand still has
    // an "enable" port and must be allowed to raise it again.
    if (t.c_cflag & CRTSCTS) {
      if (!stored_.fOutxCtsFlow && stored_.fRtsControl != kRtsHandshake) {
        s.fOutxCtsFlow = 1;
        s.fRtsControl = kRtsHandshake;
      }
    } else {
      s.fOutxCtsFlow = 0;
      if (s.fRtsControl == kRtsHandshake) s.fRtsControl = kRtsEnable;
    }
    out = s;
    return true;
  }

  bool setSettings(const PortSettings& in) override {
    if (!checkOpen()) return false;
    speed_t speed{};
    if (!speedOf(in.BaudRate, speed)) return fail(EINVAL);
    if (in.ByteSize < 5 || in.ByteSize > 8 || in.Parity > kSpaceParity || in.StopBits > kTwoStopBits)
      return fail(EINVAL);
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return failErrno();
    makeRaw(t);
    ::cfsetspeed(&t, speed);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    // A pseudo-terminal carries whole bytes whatever is asked, and the C
    // library refuses a request whose parity the kernel dropped: ask it for
    // what it keeps, and keep the framing asked for in the stored record.
    t.c_cflag |= pty_ ? CS8 : kSizes[in.ByteSize - 5];
    if (in.StopBits != kOneStopBit) t.c_cflag |= CSTOPB;  // 1.5 stop bits do not exist here: two
    switch (pty_ ? kNoParity : in.Parity) {
      case kOddParity:
        t.c_cflag |= PARENB | PARODD;
        break;
      case kEvenParity:
        t.c_cflag |= PARENB;
        break;
      case kMarkParity:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
      case kSpaceParity:
        t.c_cflag |= PARENB | CMSPAR;
        break;
      default:
        break;
    }
    // Linux has one switch for both directions of RTS/CTS flow control.
    if (in.fOutxCtsFlow || in.fRtsControl == kRtsHandshake) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (in.fParity) t.c_iflag |= INPCK;
    if (in.fOutX) t.c_iflag |= IXON;
    if (in.fInX) t.c_iflag |= IXOFF;
    if (in.XonChar) t.c_cc[VSTART] = in.XonChar;
    if (in.XoffChar) t.c_cc[VSTOP] = in.XoffChar;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return failErrno();
    // tcsetattr succeeds when any part of the request took; a device that
    // silently kept another speed or framing would garble every command.
    termios back{};
    if (::tcgetattr(fd_, &back) != 0) return failErrno();
    constexpr tcflag_t kFraming = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
    const tcflag_t checked = pty_ ? CSTOPB : kFraming;
    if (::cfgetospeed(&back) != speed || (back.c_cflag & checked) != (t.c_cflag & checked)) return fail(EINVAL);
    hwFlow_ = (back.c_cflag & CRTSCTS) != 0;
    // DTR handshake has no Linux form: the line is simply kept up. RTS toggle
    // (raised while sending) likewise keeps RTS up.
    if (!setModemLine(TIOCM_DTR, in.fDtrControl != kDtrDisable)) return false;
    if (!setModemLine(TIOCM_RTS, in.fRtsControl != kRtsDisable)) return false;
    stored_ = in;
    return true;
  }

  bool setTimeouts(const PortTimeouts& in) override {
    if (!checkOpen()) return false;
    timeouts_ = in;
    return true;
  }

  bool purge(bool transmit, bool receive) override {
    if (!checkOpen()) return false;
    if (!transmit && !receive) return true;
    int which = transmit && receive ? TCIOFLUSH : transmit ? TCOFLUSH : TCIFLUSH;
    if (::tcflush(fd_, which) != 0) return failErrno();
    return true;
  }

  bool lineStatus(LineStatus& out) override {
    out = LineStatus{};
    if (!checkOpen()) return false;
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) == 0) {
      out.inQueue = n > 0 ? static_cast<uint32_t>(n) : 0;
    } else if (unsupportedRequest(errno)) {
      // A printer node cannot count its input; "something is readable" is
      // what the waits need.
      short rev = 0;
      int rc = pollUntil(fd_, POLLIN, 0, rev);
      if (rc < 0) return failErrno();
      out.inQueue = (rc > 0 && (rev & POLLIN)) ? 1 : 0;
    } else {
      return failErrno();
    }
    n = 0;
    if (::ioctl(fd_, TIOCOUTQ, &n) == 0)
      out.outQueue = n > 0 ? static_cast<uint32_t>(n) : 0;
    else if (!unsupportedRequest(errno))
      return failErrno();
    int bits = 0;
    if (!modemBits(bits)) return false;
    if (modemLines_ == 1) {
      // A hold means transmission waits for a line. CTS: only under hardware
      // flow control. DSR: the drivers ask for DSR sensitivity and DSR output
      // flow together to notice a printer that is off; either one makes a low
      // DSR a hold, as on Windows.
      out.ctsHold = hwFlow_ && !(bits & TIOCM_CTS);
      out.dsrHold = (stored_.fOutxDsrFlow || stored_.fDsrSensitivity) && !(bits & TIOCM_DSR);
    }
    // DCD never holds: the settings record has no DCD flow control, so nothing
    // ever waits for it (Windows never reports this hold for a port set through
    // the record either). Reporting a low DCD here would keep the drivers' "read
    // while RLSD hold" loops reading for ever on cables that do not carry DCD.
    out.rlsdHold = false;
    out.errors = errorMask();
    return true;
  }

  bool write(const uint8_t* data, size_t n, size_t& written) override {
    written = 0;
    if (!checkOpen()) return false;
    const auto& t = timeouts_;
    const uint64_t totalMs = static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * n + t.WriteTotalTimeoutConstant;
    const int64_t deadline = totalMs ? nowUs() + static_cast<int64_t>(totalMs) * 1000 : -1;
    while (written < n) {
      ssize_t r = ::write(fd_, data + written, n - written);
      if (r > 0) {
        written += static_cast<size_t>(r);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        short rev = 0;
        int rc = pollUntil(fd_, POLLOUT, deadline, rev);
        if (rc == 0) return writeTimedOut(written);
        if (rc < 0) return failErrno();
        if ((rev & (POLLERR | POLLHUP | POLLNVAL)) && !(rev & POLLOUT)) return fail(EIO);
        continue;
      }
      return r < 0 ? failErrno() : fail(EIO);
    }
    return drain(deadline, written);
  }

  bool read(uint8_t* data, size_t n, size_t& got) override {
    got = 0;
    if (!checkOpen()) return false;
    if (n == 0) return true;
    const auto& t = timeouts_;
    // Interval "infinite" with no totals: whatever is queued, at once.
    const bool immediate =
        t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    // Interval and multiplier "infinite" with a constant: the first byte ends the
    // read, and the constant bounds the wait for it.
    const bool firstByte = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
                           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
    const bool useInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword;
    uint64_t totalMs = firstByte ? t.ReadTotalTimeoutConstant
                                 : static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * n + t.ReadTotalTimeoutConstant;
    const int64_t totalDeadline = totalMs ? nowUs() + static_cast<int64_t>(totalMs) * 1000 : -1;
    int64_t lastByte = -1;
    while (got < n) {
      ssize_t r = ::read(fd_, data + got, n - got);
      if (r > 0) {
        got += static_cast<size_t>(r);
        lastByte = nowUs();
        if (firstByte) break;
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
        // 0 from a terminal in this mode, or EIO from a pseudo-terminal whose
        // other end went away: the line hung up.
        return r == 0 ? fail(EIO) : failErrno();
      }
      if (immediate) break;
      int64_t deadline = totalDeadline;
      if (useInterval && lastByte >= 0) {
        int64_t intervalEnd = lastByte + static_cast<int64_t>(t.ReadIntervalTimeout) * 1000;
        deadline = deadline < 0 ? intervalEnd : std::min(deadline, intervalEnd);
      }
      short rev = 0;
      int rc = pollUntil(fd_, POLLIN, deadline, rev);
      if (rc == 0) break;
      if (rc < 0) return failErrno();
      if (rev & POLLNVAL) return fail(platform::kErrInvalidHandle);
      // POLLHUP/POLLERR: the next read tells whether bytes are left to take.
    }
    return true;
  }

  WaitResult waitForInput(uint32_t timeoutMs, bool checkDsr, bool checkCts) override {
    const int64_t deadline = nowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    bool hungUp = false;
    for (;;) {
      LineStatus st;
      if (!lineStatus(st)) return WaitResult::Failure;
      if (checkDsr && st.dsrHold) return WaitResult::Failure;
      const bool queued = st.inQueue > 0;
      if (queued && !(checkCts && st.ctsHold)) return WaitResult::Ready;
      if (hungUp && !queued) {
        // Nothing will ever come from a line that hung up: say so now rather
        // than at the deadline.
        platform::setLastError(EIO);
        return WaitResult::Failure;
      }
      int64_t now = nowUs();
      if (now >= deadline) return WaitResult::Timeout;
      short rev = 0;
      int rc;
      if (queued) {
        // Bytes are there but CTS holds them back. The kernel has no wake-up for
        // a modem line on every device, so look again in a few milliseconds.
        rc = pollUntil(-1, 0, std::min(deadline, now + kCtsRecheckUs), rev);
      } else {
        // The common case: one sleep until the first byte or the deadline.
        // Only a watched DSR line needs an earlier look.
        int64_t until = deadline;
        if (checkDsr && dsrWatched()) until = std::min(deadline, now + kDsrRecheckUs);
        rc = pollUntil(fd_, POLLIN, until, rev);
      }
      if (rc < 0) {
        platform::setLastError(errorCode(errno));
        return WaitResult::Failure;
      }
      if (rev & POLLNVAL) {
        platform::setLastError(platform::kErrInvalidHandle);
        return WaitResult::Failure;
      }
      if (rev & (POLLHUP | POLLERR)) hungUp = true;
    }
  }

  bool lineControl(LineFunction f) override {
    if (!checkOpen()) return false;
    switch (f) {
      case LineFunction::SetXoff:
        return ::tcflow(fd_, TCOOFF) == 0 || failErrno();
      case LineFunction::SetXon:
        return ::tcflow(fd_, TCOON) == 0 || failErrno();
      case LineFunction::SetRts:
        return setModemLine(TIOCM_RTS, true);
      case LineFunction::ClrRts:
        return setModemLine(TIOCM_RTS, false);
      case LineFunction::SetDtr:
        return setModemLine(TIOCM_DTR, true);
      case LineFunction::ClrDtr:
        return setModemLine(TIOCM_DTR, false);
      case LineFunction::SetBreak:
        return ::ioctl(fd_, TIOCSBRK) == 0 || failErrno();
      case LineFunction::ClrBreak:
        return ::ioctl(fd_, TIOCCBRK) == 0 || failErrno();
    }
    return fail(EINVAL);
  }

  // Control requests go to the makers' own USB device drivers, which exist only
  // for Windows; no Linux device answers them.
  bool deviceControl(uint32_t, const ByteArray&, ByteArray& out, size_t) override {
    out.clear();
    if (!checkOpen()) return false;
    return fail(ENOTSUP);
  }

  void close() override {
    if (fd_ < 0) return;
    // The exclusive flag outlives the descriptor on a terminal that stays
    // around (a pseudo-terminal whose other end is open): give it back.
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also drops the advisory lock
    fd_ = -1;
  }
  bool isOpen() const override { return fd_ >= 0; }
  long handleValue() const override { return fd_; }
  platform::Clock& clock() override { return platform::steadyClock(); }

 private:
  static constexpr int64_t kCtsRecheckUs = 5'000;
  static constexpr int64_t kDsrRecheckUs = 50'000;

  bool checkOpen() {
    if (fd_ >= 0) return true;
    return fail(platform::kErrInvalidHandle);
  }

  bool dsrWatched() const { return modemLines_ == 1 && (stored_.fOutxDsrFlow || stored_.fDsrSensitivity); }

  // Reads the modem lines. A device without them answers that it does not know
  // the request; it is remembered, and its lines then count as never holding.
  bool modemBits(int& bits) {
    bits = 0;
    if (modemLines_ == 0) return true;
    if (::ioctl(fd_, TIOCMGET, &bits) == 0) {
      modemLines_ = 1;
      return true;
    }
    bits = 0;
    if (unsupportedRequest(errno)) {
      modemLines_ = 0;
      return true;
    }
    return failErrno();
  }

  bool setModemLine(int bit, bool on) {
    if (modemLines_ == 0) return true;
    if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return true;
    if (unsupportedRequest(errno)) {
      modemLines_ = 0;
      return true;
    }
    return failErrno();
  }

  // Line errors since the previous call, as the Win32 error mask (reading
  // clears them). Devices without counters report none.
  uint32_t errorMask() {
    uint32_t mask = 0;
#if defined(__linux__) && defined(TIOCGICOUNT)
    if (!counters_) return 0;
    struct serial_icounter_struct c {};
    if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) {
      counters_ = false;
      return 0;
    }
    if (c.buf_overrun != last_.buf_overrun) mask |= kCeRxOver;
    if (c.overrun != last_.overrun) mask |= kCeOverrun;
    if (c.parity != last_.parity) mask |= kCeRxParity;
    if (c.frame != last_.frame) mask |= kCeFrame;
    if (c.brk != last_.brk) mask |= kCeBreak;
    last_ = c;
#endif
    return mask;
  }

  // A Win32 write returns once the bytes have left; here the kernel accepts
  // them into its buffer at once, so wait for the buffer to empty under the
  // same deadline. Otherwise a purge right after a write would throw away the
  // command, and a write held by flow control would never time out. Nothing in
  // the kernel signals "buffer empty" with a time limit, so the wait sleeps for
  // about the time the queued bytes need on the line and looks again.
  bool drain(int64_t deadline, size_t& written) {
    if (!tty_) return true;
    for (;;) {
      int q = 0;
      if (::ioctl(fd_, TIOCOUTQ, &q) != 0) return unsupportedRequest(errno) ? true : failErrno();
      if (q <= 0) return true;
      int64_t now = nowUs();
      if (deadline >= 0 && now >= deadline) return writeTimedOut(written);
      uint32_t baud = 9600;
      termios t{};
      if (::tcgetattr(fd_, &t) == 0 && rateOf(::cfgetospeed(&t))) baud = rateOf(::cfgetospeed(&t));
      int64_t lineUs = static_cast<int64_t>(q) * 11 * 1'000'000 / baud;  // start, 8 data, parity, stop
      int64_t until = now + std::clamp<int64_t>(lineUs, 1'000, 50'000);
      if (deadline >= 0) until = std::min(until, deadline);
      short rev = 0;
      if (pollUntil(-1, 0, until, rev) < 0) return failErrno();
    }
  }

  // What did not leave by the deadline is taken back, as Windows cancels the
  // rest of a timed-out write: it must not go out later in the middle of the
  // next command.
  bool writeTimedOut(size_t& written) {
    int q = 0;
    if (tty_ && ::ioctl(fd_, TIOCOUTQ, &q) == 0 && q > 0) written -= std::min(written, static_cast<size_t>(q));
    if (tty_) ::tcflush(fd_, TCOFLUSH);
    return fail(platform::kErrTimeout);
  }

  int fd_;
  bool tty_;
  bool exclusive_;
  bool pty_ = false;
  bool hwFlow_ = false;
  int modemLines_ = -1;  // -1 not yet known, 0 none, 1 present
  PortSettings stored_{};
  PortTimeouts timeouts_{};
#if defined(__linux__) && defined(TIOCGICOUNT)
  bool counters_ = true;
  struct serial_icounter_struct last_ {};
#endif
};

// Opens a device node. A serial port is taken for this program alone: TIOCEXCL
// stops other openers of the terminal, and since it does not stop the
// superuser, an advisory lock stops every program that honours it (two drivers
// of this library, in particular).
ChannelPtr openDevice(const std::string& path, bool exclusive) {
  if (path.empty()) {
    platform::setLastError(platform::kErrFileNotFound);
    return nullptr;
  }
  // A refused permission or a busy port is something the user can act on:
  // the message names the device's group or the program that holds it.
  auto explain = [&path](int code) {
    platform::setLastError(code);
    platform::setLastErrorDetail(platform::explainPortFailure(code, path));
  };
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    explain(errorCode(errno));
    return nullptr;
  }
  const bool tty = ::isatty(fd) == 1;
  auto refuse = [fd, &explain](int code) -> ChannelPtr {
    ::close(fd);  // first, so that only the holder's descriptor is left to find
    explain(code);
    return nullptr;
  };
  if (exclusive) {
    if (!tty) return refuse(ENOTTY);  // a serial port is a terminal
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(errno == EWOULDBLOCK ? EBUSY : errorCode(errno));
    if (::ioctl(fd, TIOCEXCL) != 0) return refuse(errorCode(errno));
  }
  auto port = std::make_shared<PosixPort>(fd, tty, exclusive);
  if (!port->init()) {
    int code = platform::lastError();
    port->close();
    platform::setLastError(code);
    return nullptr;
  }
  return port;
}

// True when a sysfs device link leads into a USB bus ("usb1", "usb2", ...).
bool onUsbBus(const std::string& link) {
  char resolved[PATH_MAX];
  if (!::realpath(link.c_str(), resolved)) return false;
  std::string p = resolved;
  size_t pos = 0;
  while ((pos = p.find("/usb", pos)) != std::string::npos) {
    size_t end = p.find('/', pos + 1);
    std::string part = p.substr(pos + 4, end == std::string::npos ? std::string::npos : end - pos - 4);
    if (!part.empty() && part.find_first_not_of("0123456789") == std::string::npos) return true;
    pos += 4;
  }
  return false;
}

bool nodeExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

// Serial port n is /dev/ttyS<n-1> unless TARVION_PORT_<n> names another device
// (a USB adapter, a pseudo-terminal for tests and demos).
std::string serialName(int portNumber) {
  if (portNumber < 1 || portNumber > 998) return {};
  std::string var = "TARVION_PORT_" + std::to_string(portNumber);
  const char* named = std::getenv(var.c_str());
  if (named && *named) return named;
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

ChannelPtr openSerial(const std::string& name) {
  return openDevice(name, true);
}

// Device interface classes are a Windows notion; Linux shows USB printers as
// CDC or adapter terminals and as usblp nodes, so a driver with a USB interface
// class gets every USB-attached one of those, in a fixed order. A driver
// without a class finds nothing, as on Windows. TARVION_USB_DEVICE names the
// one device to use instead of the search; TARVION_SYSFS_ROOT and
// TARVION_DEV_ROOT move the search to another tree.
std::vector<std::string> findUsb(const InterfaceClass& cls) {
  if (cls.isZero()) return {};
  const char* chosen = std::getenv("TARVION_USB_DEVICE");
  if (chosen && *chosen) return {chosen};
  const std::string sys = envOr("TARVION_SYSFS_ROOT", "/sys");
  const std::string dev = envOr("TARVION_DEV_ROOT", "/dev");
  std::vector<std::string> found;
  for (const char* prefix : {"ttyACM", "ttyUSB"}) {
    for (const auto& name : numberedEntries(sys + "/class/tty", prefix)) {
      std::string node = dev + "/" + name;
      if (onUsbBus(sys + "/class/tty/" + name + "/device") && nodeExists(node)) found.push_back(node);
    }
  }
  for (const auto& name : numberedEntries(sys + "/class/usbmisc", "lp")) {
    std::string node = dev + "/usb/" + name;
    if (onUsbBus(sys + "/class/usbmisc/" + name + "/device") && nodeExists(node)) found.push_back(node);
  }
  return found;
}

// USB devices are opened shared, as their Windows device interfaces are.
ChannelPtr openUsb(const std::string& path) {
  return openDevice(path, false);
}

}  // namespace tarvion::sysports
