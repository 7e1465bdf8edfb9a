#include "emulator/check/codec.h"

#include <algorithm>

#include "core/text.h"

namespace tarvion::emulator::checks {

namespace perto {

Take takeFrame(const ByteArray& buf, size_t& used, ByteArray& body) {
  const auto stx = std::find(buf.begin(), buf.end(), kSTX);
  const size_t start = static_cast<size_t>(stx - buf.begin());
  const auto etx = std::find(stx, buf.end(), kETX);
  if (etx == buf.end() || etx + 1 == buf.end()) {
    used = start;  // the bytes before STX go; the frame waits for its end
    return Take::Need;
  }
  uint8_t x = 0;
  for (auto it = stx; it <= etx; ++it) x ^= *it;
  used = static_cast<size_t>(etx - buf.begin()) + 2;
  if (x != *(etx + 1)) return Take::Bad;
  body.assign(stx + 1, etx);
  return Take::Frame;
}

ByteArray answer(int status, const std::string& data) {
  const std::string head = text::format("%03d", status % 1000);
  ByteArray f;
  f.push_back(kSTX);
  f.insert(f.end(), head.begin(), head.end());
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(kETX);
  uint8_t x = 0;
  for (uint8_t b : f) x ^= b;
  f.push_back(x);
  return f;
}

std::string cmc7Text(const std::string& digits) {
  if (digits.size() != 30) return digits;
  return "<" + digits.substr(0, 8) + "<" + digits.substr(8, 10) + ">" + digits.substr(18, 12) + ":";
}

}  // namespace perto

namespace chronos {

Take take(const ByteArray& buf, size_t& used, uint8_t& code, std::string& params, bool& hasCr) {
  if (buf.empty()) return Take::Need;
  if (buf[0] == kESC) {
    const auto zero = std::find(buf.begin() + 1, buf.end(), 0x00);
    if (zero == buf.end()) return Take::Need;
    used = static_cast<size_t>(zero - buf.begin()) + 1;
    code = buf[1];
    auto end = zero;
    if (zero == buf.begin() + 1) {
      // ESC and the zero: a frame with no code at all.
      code = 0;
      params.clear();
      hasCr = false;
      return Take::Command;
    }
    hasCr = end > buf.begin() + 2 && *(end - 1) == kCR;
    if (hasCr) --end;
    params.assign(buf.begin() + 2, end);
    return Take::Command;
  }
  const auto stop = std::find_if(buf.begin(), buf.end(), [](uint8_t b) { return b == kLF || b == kESC; });
  if (stop == buf.end()) return Take::Need;
  params.assign(buf.begin(), stop);
  used = static_cast<size_t>(stop - buf.begin()) + (*stop == kLF ? 1 : 0);
  return Take::Text;
}

}  // namespace chronos

namespace imprecheq {

Take take(const ByteArray& buf, size_t& used, std::string& code, std::string& params) {
  if (buf.empty()) return Take::Need;
  if (buf[0] != kESC) {
    const auto esc = std::find(buf.begin(), buf.end(), kESC);
    used = static_cast<size_t>(esc - buf.begin());
    return Take::Noise;
  }
  if (buf.size() < 2) return Take::Need;
  const char letter = static_cast<char>(buf[1]);
  auto fixed = [&](size_t n) {
    if (buf.size() < 2 + n) return Take::Need;
    code = std::string(1, letter);
    params.assign(buf.begin() + 2, buf.begin() + 2 + static_cast<long>(n));
    used = 2 + n;
    return Take::Command;
  };
  auto until = [&](size_t from, uint8_t end) {
    const auto at = std::find(buf.begin() + static_cast<long>(from), buf.end(), end);
    if (at == buf.end()) return Take::Need;
    params.assign(buf.begin() + static_cast<long>(from), at);
    used = static_cast<size_t>(at - buf.begin()) + 1;
    return Take::Command;
  };
  switch (letter) {
    case 'B':
      return fixed(3);
    case 'V':
      return fixed(14);
    case 'D':
      return fixed(6);
    case 'F':
    case 'C':
      code = std::string(1, letter);
      return until(2, '$');
    case 'S':
      if (buf.size() < 3) return Take::Need;
      code = std::string("S") + static_cast<char>(buf[2]);
      return until(3, kFF);
    default:
      used = 2;
      return Take::Noise;
  }
}

}  // namespace imprecheq

}  // namespace tarvion::emulator::checks
