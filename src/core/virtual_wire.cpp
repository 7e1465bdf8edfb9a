#include "core/virtual_wire.h"

#include <algorithm>

namespace tarvion {

namespace {
constexpr int kErrAccessDenied = 5;
constexpr int kErrNotConnected = 1167;  // the device is not connected
}  // namespace

class VirtualChannel final : public Channel {
 public:
  explicit VirtualChannel(std::shared_ptr<VirtualDevice> d) : d_(std::move(d)) {}
  ~VirtualChannel() override { close(); }

  bool properties(PortProperties& out) override {
    if (!ok()) return false;
    out = PortProperties{};
    out.wPacketLength = 64;
    out.wPacketVersion = 2;
    out.dwServiceMask = 1;
    out.dwMaxBaud = 0x10000000;
    out.dwProvSubType = 1;
    out.dwProvCapabilities = 0xFF;
    out.dwSettableParams = 0x7F;
    out.dwSettableBaud = 0x1006FFFF;
    out.wSettableData = 0x0F;
    out.wSettableStopParity = 0x1F07;
    out.dwCurrentTxQueue = 0;
    out.dwCurrentRxQueue = 4096;
    return true;
  }
  bool getSettings(PortSettings& out) override {
    if (!ok()) return false;
    out = d_->settings_;
    return true;
  }
  bool setSettings(const PortSettings& in) override {
    if (!ok()) return false;
    d_->settings_ = in;
    return true;
  }
  bool setTimeouts(const PortTimeouts& in) override {
    if (!ok()) return false;
    d_->timeouts_ = in;
    return true;
  }
  bool purge(bool transmit, bool receive) override {
    if (!ok()) return false;
    ++d_->purges_;
    if (transmit) ++d_->transmitPurges_;
    if (receive) {
      // Bytes already on the line are thrown away; bytes still to come are not.
      int64_t now = d_->clock_->nowUs();
      while (!d_->pending_.empty() && d_->pending_.front().first <= now) d_->pending_.pop_front();
    }
    return true;
  }
  bool lineStatus(LineStatus& out) override {
    if (!ok()) return false;
    out = LineStatus{};
    int64_t now = d_->clock_->nowUs();
    // Bytes are queued in the order they fall due: the count stops at the
    // first still to come, so a long queue of future bytes costs nothing here.
    for (auto& p : d_->pending_) {
      if (p.first > now) break;
      ++out.inQueue;
    }
    out.ctsHold = d_->cts_;
    out.dsrHold = d_->dsr_;
    out.rlsdHold = d_->rlsd_;
    return true;
  }
  bool write(const uint8_t* data, size_t n, size_t& written) override {
    written = 0;
    if (!ok()) return false;
    if (d_->byteUs_) d_->clock_->advanceTo(d_->clock_->nowUs() + static_cast<int64_t>(n) * d_->byteUs_);
    d_->written_.insert(d_->written_.end(), data, data + n);
    written = n;
    VirtualLink link(*d_);
    d_->peer_->onBytes(data, n, link);
    return true;
  }
  bool read(uint8_t* data, size_t n, size_t& got) override {
    got = 0;
    if (!ok()) return false;
    auto& clk = *d_->clock_;
    const auto& t = d_->timeouts_;
    const int64_t start = clk.nowUs();
    const bool hasTotal = t.ReadTotalTimeoutConstant || t.ReadTotalTimeoutMultiplier;
    const int64_t totalDeadline =
        start + (static_cast<int64_t>(t.ReadTotalTimeoutMultiplier) * n + t.ReadTotalTimeoutConstant) * 1000;
    int64_t lastByte = -1;
    while (got < n) {
      int64_t now = clk.nowUs();
      if (!d_->pending_.empty() && d_->pending_.front().first <= now) {
        data[got++] = d_->pending_.front().second;
        d_->pending_.pop_front();
        lastByte = now;
        continue;
      }
      if (t.ReadIntervalTimeout == 0xFFFFFFFF && !hasTotal) break;  // return at once with what is there
      int64_t deadline = INT64_MAX;
      if (hasTotal) deadline = totalDeadline;
      if (t.ReadIntervalTimeout && t.ReadIntervalTimeout != 0xFFFFFFFF && lastByte >= 0)
        deadline = std::min(deadline, lastByte + static_cast<int64_t>(t.ReadIntervalTimeout) * 1000);
      if (!d_->pending_.empty() && d_->pending_.front().first <= deadline) {
        clk.advanceTo(d_->pending_.front().first);
        continue;
      }
      if (deadline == INT64_MAX) break;  // would block for ever: the peer has nothing more to say
      clk.advanceTo(deadline);
      break;
    }
    return true;
  }
  WaitResult waitForInput(uint32_t timeoutMs, bool checkDsr, bool checkCts) override {
    auto& clk = *d_->clock_;
    const int64_t deadline = clk.nowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    for (;;) {
      if (!ok()) return WaitResult::Failure;
      if (checkDsr && d_->dsr_) return WaitResult::Failure;
      int64_t now = clk.nowUs();
      bool queued = !d_->pending_.empty() && d_->pending_.front().first <= now;
      if (queued && !(checkCts && d_->cts_)) return WaitResult::Ready;
      if (!queued && !d_->pending_.empty() && d_->pending_.front().first <= deadline) {
        clk.advanceTo(d_->pending_.front().first);
        continue;
      }
      clk.advanceTo(deadline);
      return WaitResult::Timeout;
    }
  }
  bool lineControl(LineFunction) override { return ok(); }
  bool deviceControl(uint32_t code, const ByteArray& in, ByteArray& out, size_t outCapacity) override {
    if (!ok()) return false;
    VirtualLink link(*d_);
    out.clear();
    if (!d_->peer_->onControl(code, in, out, link)) {
      platform::setLastError(1);  // invalid function
      return false;
    }
    if (out.size() > outCapacity) out.resize(outCapacity);
    return true;
  }
  void close() override {
    if (!open_) return;
    open_ = false;
    d_->open_ = false;
    d_->peer_->onClose();
  }
  bool isOpen() const override { return open_; }
  long handleValue() const override { return open_ ? handle_ : -1; }
  platform::Clock& clock() override { return *d_->clock_; }

  long handle_ = 0;

 private:
  bool ok() {
    if (!open_) {
      platform::setLastError(platform::kErrInvalidHandle);
      return false;
    }
    if (d_->cut_) {
      platform::setLastError(kErrNotConnected);
      return false;
    }
    return true;
  }
  std::shared_ptr<VirtualDevice> d_;
  bool open_ = true;
};

VirtualDevice::VirtualDevice(std::shared_ptr<VirtualPeer> peer, std::shared_ptr<VirtualClock> clock)
    : peer_(std::move(peer)), clock_(clock ? std::move(clock) : std::make_shared<VirtualClock>()) {}

ChannelPtr VirtualDevice::open() {
  static long nextHandle = 0x100;
  ++attempts_;
  if (refuse_ > 0 || open_) {
    if (refuse_ > 0) --refuse_;
    platform::setLastError(kErrAccessDenied);
    return nullptr;
  }
  open_ = true;
  auto ch = std::make_shared<VirtualChannel>(shared_from_this());
  ch->handle_ = nextHandle += 4;
  VirtualLink link(*this);
  peer_->onOpen(link);
  return ch;
}

void VirtualLink::send(const ByteArray& bytes, uint32_t delayMs) {
  int64_t t = std::max(d_.clock_->nowUs() + static_cast<int64_t>(delayMs) * 1000, d_.lastDue_);
  for (auto b : bytes) {
    t += d_.byteUs_;
    d_.pending_.emplace_back(t, b);
  }
  d_.lastDue_ = t;
}

}  // namespace tarvion
