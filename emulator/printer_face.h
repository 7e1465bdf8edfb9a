// The protocol half of a virtual printer, seen from the line: bytes come in, a
// face answers through a ReplySink. The face knows nothing of the wire, so the
// same object answers on the in-process virtual wire (WirePeer) and on a
// pseudo-terminal (PtyHost).
//
// Faults are injected at the byte level, the same way for every maker:
//
//   list   := item ("," item)*
//   item   := "noanswer"   the command is swallowed: not executed, no byte back
//           | "nak"        NAK instead of ACK: not executed
//           | "garbage"    executed, but the reply is replaced by noise of the same length
//           | "short"      executed, but only the first half of the reply is sent (at least the ACK)
//           | "slow=MS"    executed, the reply leaves MS milliseconds later (line time)
//           | "cut=N"      N more commands are served; the next one cuts the line
//           | "once"       the faults hit the next command only, then clear ("cut" excepted)
//           | "always"     the faults stay until changed (the default)
//           | "none"       no fault
//
// Examples: "nak", "slow=2000", "garbage,once", "slow=300,cut=5".
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/types.h"
#include "core/virtual_wire.h"

namespace tarvion::emulator {

class ReplySink {
 public:
  virtual ~ReplySink() = default;
  // Queues bytes for the host; they leave delayMs later, paced by the line.
  virtual void send(const ByteArray& bytes, uint32_t delayMs) = 0;
  // The line's clock in microseconds (simulated on the virtual wire).
  virtual int64_t nowUs() = 0;
  // The cable is cut: nothing passes any more.
  virtual void hangUp() = 0;
};

struct FaultSet {
  bool noAnswer = false, nak = false, garbage = false, shortReply = false;
  uint32_t slowMs = 0;
  int cutAfter = -1;  // -1: never
  bool once = false;

  bool any() const { return noAnswer || nak || garbage || shortReply || slowMs || cutAfter >= 0; }
  // False with a message for an unknown item or a bad number.
  static bool parse(const std::string& list, FaultSet& out, std::string* error = nullptr);
  std::string toString() const;
};

// What the faults make of one command.
struct FaultAction {
  bool cut = false, noAnswer = false, nak = false, garbage = false, shortReply = false;
  uint32_t delayMs = 0;
};

class PrinterFace {
 public:
  virtual ~PrinterFace() = default;
  // Bytes from the host. May answer at once through out.
  virtual void receive(const uint8_t* data, size_t n, ReplySink& out) = 0;
  virtual void lineOpened() {}
  virtual void lineClosed() {}
  virtual std::string modelName() const = 0;

  void setFaults(const FaultSet& f);
  bool setFaults(const std::string& list, std::string* error = nullptr);
  void clearFaults() { setFaults(FaultSet{}); }
  FaultSet faults() const;
  bool lineCut() const;

 protected:
  // Called once per complete command: what to do with it.
  FaultAction nextCommand();
  // Noise of the given length that never starts like an answer of any family.
  static ByteArray garble(size_t n, uint32_t seed);

 private:
  mutable std::mutex faultMu_;
  FaultSet faults_;
  int served_ = 0;  // commands since the faults were set
  bool cut_ = false;
};

// A face on the in-process virtual wire.
class WirePeer final : public VirtualPeer {
 public:
  explicit WirePeer(std::shared_ptr<PrinterFace> face) : face_(std::move(face)) {}
  void attach(const std::shared_ptr<VirtualDevice>& device) { device_ = device; }
  void onOpen(VirtualLink&) override { face_->lineOpened(); }
  void onBytes(const uint8_t* data, size_t n, VirtualLink& link) override;
  void onClose() override { face_->lineClosed(); }
  PrinterFace& face() { return *face_; }

 private:
  std::shared_ptr<PrinterFace> face_;
  std::weak_ptr<VirtualDevice> device_;
};

// A virtual device whose far end is the face (attach it with ports::attachVirtual).
std::shared_ptr<VirtualDevice> makeVirtualDevice(std::shared_ptr<PrinterFace> face,
                                                 std::shared_ptr<VirtualClock> clock = nullptr);

}  // namespace tarvion::emulator
