// A scripted Bematech printer for the driver tests. It decodes each frame with
// bematech::parseFrame, records the command body (command, sub-code, parameters)
// and answers ACK and the reply the way the layout contract of
// bematech_protocol.h says: data commands data then status, text reads status,
// text, status, every other command the status alone; ST3 follows with FS.
// Over USB it hands the same bytes out in 8-byte chunks.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/virtual_wire.h"
#include "driver_port.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/bematech_protocol.h"
#include "platform/prompt.h"

namespace bematest {

using tarvion::ByteArray;

inline ByteArray bytes(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}
inline std::string str(const ByteArray& b) {
  return std::string(b.begin(), b.end());
}
// A command body: the command byte, then the parameter text.
inline ByteArray body(uint8_t command, const std::string& params) {
  ByteArray b;
  b.reserve(1 + params.size());
  b.push_back(command);
  for (char c : params) b.push_back(static_cast<uint8_t>(c));
  return b;
}
inline std::string pad(const std::string& s, size_t n) {
  return s + std::string(n > s.size() ? n - s.size() : 0, ' ');
}

class FakeBematech : public tarvion::VirtualPeer {
 public:
  bool fs = false;
  uint8_t st1 = 0, st2 = 0;
  uint16_t st3 = 0;
  bool nak = false;      // refuse every frame
  bool silent = false;   // answer nothing at all
  uint32_t delayMs = 0;  // time before the answer starts
  bool holdCts = false;  // hold CTS from the first frame on, as a printer busy sending does
  // Data bytes per command: key {command} or {command, sub-code} for 35 and 62.
  std::map<ByteArray, ByteArray> data;
  // A hook that may answer a command itself (the bytes after the ACK); false
  // leaves it to the table above.
  std::function<bool(const ByteArray& body, ByteArray& reply)> hook;
  // What the printer received.
  std::vector<ByteArray> bodies;
  int badFrames = 0;

  // USB: chunks handed out by the read request, "BEMAAMEB" when there is none;
  // idleBefore answers "BEMAAMEB" that many times before the reply.
  std::deque<ByteArray> chunks;
  int idleBefore = 0;
  int readRequests = 0;
  std::vector<std::pair<uint32_t, ByteArray>> controls;  // other requests
  bool rejectControls = false;

  static ByteArray key(const ByteArray& body) {
    if (body.empty()) return {};
    if ((body[0] == 35 || body[0] == 62) && body.size() > 1) return {body[0], body[1]};
    return {body[0]};
  }

  ByteArray status() const {
    ByteArray s{st1, st2};
    if (fs) {
      s.push_back(static_cast<uint8_t>(st3 & 0xFF));
      s.push_back(static_cast<uint8_t>(st3 >> 8));
    }
    return s;
  }

  ByteArray replyFor(const ByteArray& body) {
    ByteArray reply;
    if (hook && hook(body, reply)) return reply;
    ByteArray d;
    auto it = data.find(key(body));
    if (it != data.end()) d = it->second;
    const ByteArray st = status();
    ByteArray command{body[0]};
    ByteArray params(body.begin() + 1, body.end());
    // Text reads, and the other commands that are not data commands but carry
    // data (the CMC-7 read, the per-tax totals): status, data, status.
    if (tarvion::bematech::isTextRead(command, params) || (!tarvion::bematech::isDataCommand(body[0]) && !d.empty())) {
      reply = {st1, st2};
      reply.insert(reply.end(), d.begin(), d.end());
    } else if (tarvion::bematech::isDataCommand(body[0])) {
      reply = d;
    }
    reply.insert(reply.end(), st.begin(), st.end());
    return reply;
  }

  void onBytes(const uint8_t* p, size_t n, tarvion::VirtualLink& link) override {
    tarvion::bematech::ParsedFrame f;
    if (tarvion::bematech::parseFrame(p, n, f) != tarvion::bematech::FrameState::Ok) {
      ++badFrames;
      return;
    }
    bodies.push_back(f.body);
    if (silent) return;
    ByteArray out{nak ? tarvion::bematech::kNAK : tarvion::bematech::kACK};
    if (!nak) {
      ByteArray r = replyFor(f.body);
      out.insert(out.end(), r.begin(), r.end());
    }
    if (usbMode) {
      for (int i = 0; i < idleBefore; ++i) chunks.push_back(bytes("BEMAAMEB"));
      for (size_t i = 0; i < out.size(); i += 8)
        chunks.push_back(ByteArray(out.begin() + static_cast<long>(i),
                                   out.begin() + static_cast<long>(std::min(out.size(), i + 8))));
      return;
    }
    link.send(out, delayMs);
    if (holdCts) link.setHolds(true, false);
  }

  bool onControl(uint32_t code, const ByteArray& in, ByteArray& out, tarvion::VirtualLink&) override {
    if (code != 0x80942032) {
      controls.emplace_back(code, in);
      return !rejectControls;
    }
    ++readRequests;
    if (chunks.empty()) {
      out = bytes("BEMAAMEB");
    } else {
      out = chunks.front();
      chunks.pop_front();
    }
    return true;
  }

  bool usbMode = false;

  // The bodies received since the last call, and forget them.
  std::vector<ByteArray> take() {
    std::vector<ByteArray> b;
    b.swap(bodies);
    return b;
  }
};

// A driver on a fake printer attached to a port number, opened without reading
// the printer's tables.
template <class Driver = tarvion::CBematech>
struct Rig {
  explicit Rig(int port, bool fs = false, bool usb = false) : port(port) {
    printer = std::make_shared<FakeBematech>();
    printer->fs = fs;
    printer->usbMode = usb;
    printer->data[{35, 1}] = {0x03, 0x10};
    dev = std::make_shared<tarvion::VirtualDevice>(printer);
    tarvion::ports::attachVirtual(port, dev);
    testsupport::usePort(d, port);
  }
  ~Rig() {
    d.CloseComm();
    tarvion::ports::detachVirtual(port);
  }
  bool open() {
    bool ok = d.OpenComm(0) != 0;
    printer->take();
    dev->clearWritten();
    return ok;
  }
  int64_t nowUs() { return dev->clock().nowUs(); }

  int port;
  std::shared_ptr<FakeBematech> printer;
  std::shared_ptr<tarvion::VirtualDevice> dev;
  Driver d;
};

// The operator, scripted: answers the prompts in order (the safe answer once the
// script runs out) and records what was asked. Notices (PromptKind::Ok) take no
// answer from the script. Restores the previous handler when it goes.
class ScriptedPrompts {
 public:
  using Kind = tarvion::platform::PromptKind;
  using Answer = tarvion::platform::PromptAnswer;
  explicit ScriptedPrompts(std::deque<Answer> script = {}) : answers(std::move(script)) {
    previous_ = tarvion::platform::setPromptHandler([this](const tarvion::platform::PromptRequest& r) {
      asked.push_back(r);
      if (onAsk) onAsk(r);
      if (r.kind == Kind::Ok) return Answer::Ok;
      if (answers.empty()) return tarvion::platform::safeAnswer(r.kind);
      const Answer a = answers.front();
      answers.pop_front();
      return a;
    });
  }
  ~ScriptedPrompts() { tarvion::platform::setPromptHandler(std::move(previous_)); }
  ScriptedPrompts(const ScriptedPrompts&) = delete;
  ScriptedPrompts& operator=(const ScriptedPrompts&) = delete;

  std::deque<Answer> answers;
  std::vector<tarvion::platform::PromptRequest> asked;
  // Runs when a question comes, before it is answered (the operator inserting a check).
  std::function<void(const tarvion::platform::PromptRequest&)> onAsk;

 private:
  tarvion::platform::PromptHandler previous_;
};

}  // namespace bematest
