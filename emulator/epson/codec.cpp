// The Epson frames as the printer reads and writes them.
#include "emulator/epson/codec.h"

#include <cstdio>

namespace tarvion::emulator::epson {

namespace {

constexpr uint8_t kStx = 0x02, kEtx = 0x03, kAck = 0x06, kEsc = 0x1B, kFs = 0x1C, kSub = 0x1A;

bool needsEscape(uint8_t b) {
  return b == kStx || b == kEtx || b == kSub || b == kEsc || b == kFs;
}

void put(ByteArray& f, uint8_t b) {
  if (needsEscape(b)) f.push_back(kEsc);
  f.push_back(b);
}

int hexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

FrameState parseRequest(const uint8_t* data, size_t n, Request& out) {
  out = Request{};
  if (n == 0) return FrameState::Incomplete;
  if (data[0] != kStx) {
    out.size = 1;
    return FrameState::NotAFrame;
  }
  // Find the unescaped ETX.
  size_t etx = 0;
  for (size_t i = 1; i < n; ++i) {
    if (data[i] == kEsc) {
      ++i;
      continue;
    }
    if (data[i] == kEtx) {
      etx = i;
      break;
    }
  }
  if (etx == 0 || etx + 5 > n) return FrameState::Incomplete;
  out.size = etx + 5;
  unsigned sum = 0;
  for (size_t i = 0; i <= etx; ++i) sum += data[i];
  unsigned given = 0;
  for (size_t i = etx + 1; i < etx + 5; ++i) {
    const int d = hexDigit(data[i]);
    if (d < 0) return FrameState::BadChecksum;
    given = given * 16 + static_cast<unsigned>(d);
  }
  if ((sum & 0xFFFF) != given || etx < 2) return FrameState::BadChecksum;
  out.seq = data[1];
  // The body: code bytes (escaped), FS, extension bytes, then FS fields.
  std::vector<std::string> parts(1);
  for (size_t i = 2; i < etx; ++i) {
    uint8_t b = data[i];
    if (b == kEsc && i + 1 < etx) {
      parts.back() += static_cast<char>(data[++i]);
      continue;
    }
    if (b == kFs)
      parts.emplace_back();
    else
      parts.back() += static_cast<char>(b);
  }
  if (parts.size() < 2 || parts[0].size() != 2 || parts[1].size() != 2) return FrameState::BadChecksum;
  for (int k = 0; k < 2; ++k) {
    out.code[k] = static_cast<uint8_t>(parts[0][static_cast<size_t>(k)]);
    out.ext[k] = static_cast<uint8_t>(parts[1][static_cast<size_t>(k)]);
  }
  out.fields.assign(parts.begin() + 2, parts.end());
  return FrameState::Whole;
}

ByteArray buildReply(int seq, const uint8_t code[2], uint16_t printerStatus, uint16_t fiscalStatus, int cls, int detail,
                     const std::vector<std::string>& results) {
  ByteArray f{kStx, static_cast<uint8_t>(seq)};
  put(f, code[0]);
  put(f, code[1]);
  f.push_back(kFs);
  put(f, static_cast<uint8_t>(printerStatus >> 8));
  put(f, static_cast<uint8_t>(printerStatus & 0xFF));
  f.push_back(kFs);
  put(f, static_cast<uint8_t>(fiscalStatus >> 8));
  put(f, static_cast<uint8_t>(fiscalStatus & 0xFF));
  f.push_back(kFs);
  put(f, static_cast<uint8_t>(cls));
  put(f, static_cast<uint8_t>(detail));
  for (const std::string& r : results) {
    f.push_back(kFs);
    for (const char c : r) put(f, static_cast<uint8_t>(c));
  }
  f.push_back(kEtx);
  unsigned sum = 0;
  for (const uint8_t b : f) sum += b;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", sum & 0xFFFFu);
  f.insert(f.end(), digits, digits + 4);
  f.insert(f.begin(), kAck);
  return f;
}

}  // namespace tarvion::emulator::epson
