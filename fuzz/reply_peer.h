// A printer for the reply fuzzers: it answers every frame with the fuzz input,
// whole or in 3-byte pieces a little apart (a slow line), so the drivers read
// arbitrary bytes through their real exchange on the virtual wire.
#pragma once

#include <algorithm>
#include <utility>

#include "core/ecf_base.h"
#include "core/virtual_wire.h"

namespace tarvion::fuzzing {

class ReplyPeer final : public VirtualPeer {
 public:
  ReplyPeer(ByteArray reply, bool pieces) : reply_(std::move(reply)), pieces_(pieces) {}
  void onBytes(const uint8_t*, size_t, VirtualLink& link) override {
    if (!pieces_) {
      link.send(reply_);
      return;
    }
    for (size_t i = 0; i < reply_.size(); i += 3)
      link.send(ByteArray(reply_.begin() + static_cast<long>(i),
                          reply_.begin() + static_cast<long>(std::min(reply_.size(), i + 3))),
                5);
  }

 private:
  ByteArray reply_;
  bool pieces_;
};

// A port behind which every frame is answered with the fuzz reply, for as long
// as the object lives. setup bit 0: the reply in pieces; bits 4-5: the line
// speed (unpaced, 9600, 115200, 1200 baud).
class ReplyPort {
 public:
  ReplyPort(int port, const ByteArray& reply, uint8_t setup) : port_(port) {
    auto dev = std::make_shared<VirtualDevice>(std::make_shared<ReplyPeer>(reply, (setup & 0x01) != 0));
    static const uint32_t kBauds[4] = {0, 9600, 115200, 1200};
    dev->setBaud(kBauds[(setup >> 4) & 3]);
    ports::attachVirtual(port, dev);
  }
  ~ReplyPort() { ports::detachVirtual(port_); }
  ReplyPort(const ReplyPort&) = delete;
  ReplyPort& operator=(const ReplyPort&) = delete;

  // A driver on this port at 9600 8N1. Short waits keep a silent printer
  // cheap; the wire's clock is simulated anyway.
  void setUp(CECFBase& d) const {
    d.nPortNumber = port_;
    d.nBaudRate = 9600;
    d.nDataBits = 8;
    d.nStopBits = 1;
    d.nAnswerTimeout = 2000;
  }

  // The driver set up on this port and opened, `run` when it opened, and the
  // driver closed again.
  template <class Run>
  void session(CECFBase& d, Run run) const {
    setUp(d);
    d.OpenComm(kFalse);
    if (d.bPortOpen) run();
    d.CloseComm();
  }

 private:
  int port_;
};

}  // namespace tarvion::fuzzing
