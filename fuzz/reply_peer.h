// A printer for the reply fuzzers: it answers every frame with the fuzz input,
// whole or in 3-byte pieces a little apart (a slow line), so the drivers read
// arbitrary bytes through their real exchange on the virtual wire.
#pragma once

#include <algorithm>
#include <utility>

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

}  // namespace tarvion::fuzzing
