#ifndef _WIN32

#include "emulator/pty_host.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace tarvion::emulator {

namespace {

int64_t monoUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string sysError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

class PtyHost::Sink final : public ReplySink {
 public:
  explicit Sink(PtyHost& h) : h_(h) {}
  void send(const ByteArray& bytes, uint32_t delayMs) override {
    if (h_.cut_) return;
    const int64_t byteUs = h_.opt_.baud ? 10'000'000 / h_.opt_.baud : 0;
    int64_t t = std::max(monoUs() + static_cast<int64_t>(delayMs) * 1000, h_.lastDue_);
    for (auto b : bytes) {
      t += byteUs;
      h_.queue_.emplace_back(t, b);
    }
    h_.lastDue_ = t;
  }
  int64_t nowUs() override { return monoUs(); }
  void hangUp() override {
    // The line goes dead: what was on its way is lost, nothing more is answered.
    h_.cut_ = true;
    h_.queue_.clear();
  }

 private:
  PtyHost& h_;
};

PtyHost::PtyHost(std::shared_ptr<PrinterFace> face, PtyOptions options)
    : face_(std::move(face)), opt_(std::move(options)) {}

PtyHost::~PtyHost() {
  stop();
  close();
}

bool PtyHost::start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    close();
    return false;
  };
  if (master_ >= 0) return true;
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return fail(sysError("posix_openpt"));
  if (grantpt(master_) != 0) return fail(sysError("grantpt"));
  if (unlockpt(master_) != 0) return fail(sysError("unlockpt"));
  char name[128] = {};
#ifdef __linux__
  if (ptsname_r(master_, name, sizeof name) != 0) return fail(sysError("ptsname_r"));
#else
  const char* pn = ptsname(master_);
  if (!pn) return fail(sysError("ptsname"));
  std::strncpy(name, pn, sizeof name - 1);
#endif
  slavePath_ = name;
  // Holding the terminal end open keeps the master from seeing a hang-up
  // between the clients that come and go.
  slaveHold_ = ::open(name, O_RDWR | O_NOCTTY);
  if (slaveHold_ < 0) return fail(sysError("open terminal"));
  termios t{};
  if (tcgetattr(slaveHold_, &t) != 0) return fail(sysError("tcgetattr"));
  cfmakeraw(&t);
  if (tcsetattr(slaveHold_, TCSANOW, &t) != 0) return fail(sysError("tcsetattr"));
  const int fl = fcntl(master_, F_GETFL);
  fcntl(master_, F_SETFL, fl | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slaveHold_, F_SETFD, FD_CLOEXEC);
  if (pipe(wake_) != 0) return fail(sysError("pipe"));
  for (int fd : wake_) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (!opt_.linkPath.empty()) {
    struct stat st {};
    // Replace an old link, never a file that is not one.
    if (lstat(opt_.linkPath.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) return fail(opt_.linkPath + " exists and is not a symbolic link");
      ::unlink(opt_.linkPath.c_str());
    }
    if (symlink(name, opt_.linkPath.c_str()) != 0) return fail(sysError("symlink"));
  }
  face_->lineOpened();
  return true;
}

void PtyHost::close() {
  if (!opt_.linkPath.empty() && !slavePath_.empty()) {
    char target[256] = {};
    ssize_t n = readlink(opt_.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && slavePath_ == std::string(target, static_cast<size_t>(n))) ::unlink(opt_.linkPath.c_str());
  }
  for (int* fd : {&master_, &slaveHold_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void PtyHost::runUntil(const std::atomic<bool>& stop) {
  if (master_ < 0) return;
  Sink sink(*this);
  uint8_t buf[4096];
  while (!stop.load() && !stopping_.load()) {
    const int64_t now = monoUs();
    // Bytes from the host reach the printer at line speed too, as on a cable.
    size_t arrived = 0;
    while (arrived < inQueue_.size() && inQueue_[arrived].first <= now) ++arrived;
    if (arrived > 0) {
      ByteArray chunk;
      chunk.reserve(arrived);
      for (size_t i = 0; i < arrived; ++i) chunk.push_back(inQueue_[i].second);
      inQueue_.erase(inQueue_.begin(), inQueue_.begin() + static_cast<std::ptrdiff_t>(arrived));
      if (!cut_) face_->receive(chunk.data(), chunk.size(), sink);
      continue;
    }
    // Everything due goes out in one write; the rest waits for its time.
    size_t due = 0;
    while (due < queue_.size() && queue_[due].first <= now) ++due;
    if (due > 0) {
      uint8_t out[4096];
      const size_t n = std::min(due, sizeof out);
      for (size_t i = 0; i < n; ++i) out[i] = queue_[i].second;
      const ssize_t w = ::write(master_, out, n);
      if (w > 0) {
        queue_.erase(queue_.begin(), queue_.begin() + w);
        out_ += static_cast<uint64_t>(w);
        continue;
      }
    }
    // Sleep to the microsecond: at 115200 baud a byte lasts 87 us, and waits
    // rounded up to whole milliseconds would stretch every reply.
    int64_t timeoutUs = 100'000;
    bool wantOut = false;
    if (!queue_.empty()) {
      if (queue_.front().first <= now)
        wantOut = true;  // the terminal is full: wait until it takes more
      else
        timeoutUs = std::min<int64_t>(timeoutUs, queue_.front().first - now);
    }
    if (!inQueue_.empty()) timeoutUs = std::min<int64_t>(timeoutUs, std::max<int64_t>(0, inQueue_.front().first - now));
    pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0}, {wake_[0], POLLIN, 0}};
    const timespec ts{static_cast<time_t>(timeoutUs / 1'000'000), static_cast<long>(timeoutUs % 1'000'000) * 1000};
    const int r = ppoll(fds, 2, &ts, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents & (POLLERR | POLLNVAL)) break;
    if ((fds[0].revents & POLLHUP) && !(fds[0].revents & POLLIN)) {
      // Nobody holds the terminal end (should not happen while we hold it): wait, do not spin.
      poll(&fds[1], 1, 10);
      continue;
    }
    if (fds[1].revents & POLLIN) {
      while (::read(wake_[0], buf, sizeof buf) > 0) {
      }
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) {
        in_ += static_cast<uint64_t>(n);
        const int64_t byteUs = opt_.baud ? 10'000'000 / opt_.baud : 0;
        int64_t t = std::max(monoUs(), lastInDue_);
        for (ssize_t i = 0; i < n; ++i) {
          t += byteUs;
          inQueue_.emplace_back(t, buf[i]);
        }
        lastInDue_ = t;
      }
    }
  }
}

void PtyHost::startThread() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] {
    std::atomic<bool> never{false};
    runUntil(never);
  });
}

void PtyHost::stop() {
  stopping_ = true;
  if (wake_[1] >= 0) {
    const uint8_t b = 1;
    [[maybe_unused]] ssize_t w = ::write(wake_[1], &b, 1);
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace tarvion::emulator

#endif  // _WIN32
