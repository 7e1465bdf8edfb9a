// The in-process virtual wire: a channel whose far end is a virtual printer (or a
// scripted peer in tests) running on a simulated clock. Nothing ever sleeps: a
// wait for bytes that are due later moves the clock forward to them, and a wait
// for bytes that never come moves it to the deadline.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "core/channel.h"

namespace tarvion {

class VirtualClock final : public platform::Clock {
 public:
  int64_t nowUs() override { return now_; }
  void sleepMs(uint32_t ms) override { now_ += static_cast<int64_t>(ms) * 1000; }
  void advanceTo(int64_t us) {
    if (us > now_) now_ = us;
  }

 private:
  int64_t now_ = 1'000'000;
};

class VirtualLink;

// The far end of a virtual wire. Called on the host's thread, synchronously.
class VirtualPeer {
 public:
  virtual ~VirtualPeer() = default;
  virtual void onOpen(VirtualLink&) {}
  virtual void onBytes(const uint8_t* data, size_t n, VirtualLink& link) = 0;
  // Control requests of a USB device driver; false rejects the request.
  virtual bool onControl(uint32_t /*code*/, const ByteArray& /*in*/, ByteArray& /*out*/, VirtualLink&) { return false; }
  virtual void onClose() {}
};

// A virtual device on one port number: the wire, its line state and its peer.
class VirtualDevice : public std::enable_shared_from_this<VirtualDevice> {
 public:
  explicit VirtualDevice(std::shared_ptr<VirtualPeer> peer, std::shared_ptr<VirtualClock> clock = nullptr);

  ChannelPtr open();  // fails (access denied) while already open: ports are exclusive
  bool isOpen() const { return open_; }
  VirtualClock& clock() { return *clock_; }
  std::shared_ptr<VirtualClock> sharedClock() { return clock_; }
  VirtualPeer& peer() { return *peer_; }

  // Line time per byte: pace the wire at a baud rate (0 = instantaneous).
  void setBaud(uint32_t baud) { byteUs_ = baud ? 10'000'000 / baud : 0; }
  // Cut cable: every later call on the channel fails.
  void cut(bool c = true) { cut_ = c; }
  bool isCut() const { return cut_; }
  // Refuse to open (port busy) for the next n attempts.
  void refuseOpens(int n) { refuse_ = n; }
  int openAttempts() const { return attempts_; }

  // What the host wrote, for tests.
  const ByteArray& written() const { return written_; }
  void clearWritten() { written_.clear(); }
  const PortSettings& settings() const { return settings_; }
  const PortTimeouts& timeouts() const { return timeouts_; }
  int purges() const { return purges_; }
  // Purges that emptied the transmit side (a command that was still going out).
  int transmitPurges() const { return transmitPurges_; }

 private:
  friend class VirtualChannel;
  friend class VirtualLink;
  std::shared_ptr<VirtualPeer> peer_;
  std::shared_ptr<VirtualClock> clock_;
  std::deque<std::pair<int64_t, uint8_t>> pending_;  // (due time, byte) for the host
  int64_t lastDue_ = 0;
  uint32_t byteUs_ = 0;
  bool open_ = false, cut_ = false;
  bool cts_ = false, dsr_ = false, rlsd_ = false;
  int refuse_ = 0, attempts_ = 0, purges_ = 0, transmitPurges_ = 0;
  ByteArray written_;
  PortSettings settings_{};
  PortTimeouts timeouts_{};
};

// The peer's handle on the wire.
class VirtualLink {
 public:
  explicit VirtualLink(VirtualDevice& d) : d_(d) {}
  // Queues bytes for the host; they arrive after delayMs, paced by the line time.
  void send(const ByteArray& bytes, uint32_t delayMs = 0);
  void send(const std::string& bytes, uint32_t delayMs = 0) { send(ByteArray(bytes.begin(), bytes.end()), delayMs); }
  void setHolds(bool cts, bool dsr, bool rlsd = false) {
    d_.cts_ = cts;
    d_.dsr_ = dsr;
    d_.rlsd_ = rlsd;
  }
  int64_t nowUs() const { return d_.clock_->nowUs(); }
  const PortSettings& settings() const { return d_.settings_; }

 private:
  VirtualDevice& d_;
};

// A peer made of a function, for tests: it sees every write and may answer.
class ScriptedPeer final : public VirtualPeer {
 public:
  using Fn = std::function<void(const ByteArray& request, VirtualLink& link)>;
  explicit ScriptedPeer(Fn fn = nullptr) : fn_(std::move(fn)) {}
  void onBytes(const uint8_t* data, size_t n, VirtualLink& link) override {
    ByteArray req(data, data + n);
    requests.push_back(req);
    if (fn_) fn_(req, link);
  }
  std::vector<ByteArray> requests;

 private:
  Fn fn_;
};

namespace ports {
// Attaches a virtual device to a port number (COM port, or 999+ for USB) for this process.
void attachVirtual(int portNumber, std::shared_ptr<VirtualDevice> device);
void detachVirtual(int portNumber);
std::shared_ptr<VirtualDevice> virtualAt(int portNumber);
}  // namespace ports

}  // namespace tarvion
