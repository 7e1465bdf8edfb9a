#include "emulator/printer_face.h"

#include <vector>

#include "core/text.h"
#include "emulator/registry.h"

namespace tarvion::emulator {

namespace {

bool parseCount(const std::string& s, int64_t max, int64_t& out) {
  if (s.empty() || s.size() > 10) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > max) return false;
  out = v;
  return true;
}

}  // namespace

bool FaultSet::parse(const std::string& list, FaultSet& out, std::string* error) {
  FaultSet f;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string item = text::trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    start = comma == std::string::npos ? list.size() + 1 : comma + 1;
    for (auto& c : item) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (item.empty() || item == "none") continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string val = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (eq != std::string::npos && key != "slow" && key != "cut") return fail("'" + key + "' takes no value");
    int64_t n = 0;
    if (key == "noanswer")
      f.noAnswer = true;
    else if (key == "nak")
      f.nak = true;
    else if (key == "garbage")
      f.garbage = true;
    else if (key == "short")
      f.shortReply = true;
    else if (key == "once")
      f.once = true;
    else if (key == "always")
      f.once = false;
    else if (key == "slow") {
      if (!parseCount(val, 3'600'000, n)) return fail("slow needs milliseconds: slow=2000");
      f.slowMs = static_cast<uint32_t>(n);
    } else if (key == "cut") {
      if (!parseCount(val, 1'000'000, n)) return fail("cut needs a command count: cut=5");
      f.cutAfter = static_cast<int>(n);
    } else {
      return fail("unknown fault '" + item + "' (noanswer, nak, garbage, short, slow=MS, cut=N, once, always)");
    }
  }
  out = f;
  return true;
}

std::string FaultSet::toString() const {
  std::vector<std::string> items;
  if (noAnswer) items.push_back("noanswer");
  if (nak) items.push_back("nak");
  if (garbage) items.push_back("garbage");
  if (shortReply) items.push_back("short");
  if (slowMs) items.push_back("slow=" + std::to_string(slowMs));
  if (cutAfter >= 0) items.push_back("cut=" + std::to_string(cutAfter));
  if (items.empty()) return "none";
  if (once) items.push_back("once");
  std::string s;
  for (auto& i : items) s += (s.empty() ? "" : ",") + i;
  return s;
}

void PrinterFace::setFaults(const FaultSet& f) {
  std::lock_guard<std::mutex> lock(faultMu_);
  faults_ = f;
  served_ = 0;
  cut_ = false;
}

bool PrinterFace::setFaults(const std::string& list, std::string* error) {
  FaultSet f;
  if (!FaultSet::parse(list, f, error)) return false;
  setFaults(f);
  return true;
}

FaultSet PrinterFace::faults() const {
  std::lock_guard<std::mutex> lock(faultMu_);
  return faults_;
}

bool PrinterFace::lineCut() const {
  std::lock_guard<std::mutex> lock(faultMu_);
  return cut_;
}

FaultAction PrinterFace::nextCommand() {
  std::lock_guard<std::mutex> lock(faultMu_);
  FaultAction a;
  if (cut_) {
    a.cut = true;
    return a;
  }
  if (faults_.cutAfter >= 0 && served_ >= faults_.cutAfter) {
    cut_ = true;
    a.cut = true;
    return a;
  }
  ++served_;
  a.noAnswer = faults_.noAnswer;
  a.nak = faults_.nak;
  a.garbage = faults_.garbage;
  a.shortReply = faults_.shortReply;
  a.delayMs = faults_.slowMs;
  if (faults_.once) {
    // The one-shot faults are spent; a pending cut keeps counting.
    const int cut = faults_.cutAfter;
    faults_ = FaultSet{};
    faults_.cutAfter = cut;
  }
  return a;
}

ByteArray PrinterFace::garble(size_t n, uint32_t seed) {
  ByteArray out(n);
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<uint8_t>(x >> 16);
  }
  // Noise never starts the way an answer of any family does, so a driver sees
  // it as noise and not as the start of a reply cut short: such a first byte
  // becomes the first one from 0xA5 on that starts no answer.
  static const uint8_t kNoiseStart = [] {
    uint8_t b = 0xA5;
    for (int tries = 0; tries < 256 && startsAnAnswer(b); ++tries) ++b;
    return b;
  }();
  if (!out.empty() && startsAnAnswer(out[0])) out[0] = kNoiseStart;
  return out;
}

namespace {
class LinkSink final : public ReplySink {
 public:
  LinkSink(VirtualLink& l, std::weak_ptr<VirtualDevice> d) : link_(l), device_(std::move(d)) {}
  void send(const ByteArray& bytes, uint32_t delayMs) override { link_.send(bytes, delayMs); }
  int64_t nowUs() override { return link_.nowUs(); }
  void hangUp() override {
    if (auto d = device_.lock()) d->cut(true);
  }

 private:
  VirtualLink& link_;
  std::weak_ptr<VirtualDevice> device_;
};
}  // namespace

void WirePeer::onBytes(const uint8_t* data, size_t n, VirtualLink& link) {
  LinkSink sink(link, device_);
  face_->receive(data, n, sink);
}

std::shared_ptr<VirtualDevice> makeVirtualDevice(std::shared_ptr<PrinterFace> face,
                                                 std::shared_ptr<VirtualClock> clock) {
  auto peer = std::make_shared<WirePeer>(std::move(face));
  auto dev = std::make_shared<VirtualDevice>(peer, std::move(clock));
  peer->attach(dev);
  return dev;
}

}  // namespace tarvion::emulator
