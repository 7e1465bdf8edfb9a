#include "emulator/bematech/codec.h"

namespace tarvion::emulator::bematech {

uint16_t st3Entries(St3Table table) {
  switch (table) {
    case St3Table::Full:
      return 208;
    case St3Table::MP25:
      return 195;
    case St3Table::IBM4610:
      return 194;
    case St3Table::MP2000:
      return 157;
  }
  return 0;
}

uint16_t st3Code(St3Table table, uint16_t fullCode) {
  if (fullCode == 0) return 0;
  // The entry each table leaves out of the full list; the ones after it move
  // one code down.
  uint16_t missing = 0, lastFull = 208;
  switch (table) {
    case St3Table::Full:
      break;
    case St3Table::MP25:
      lastFull = 195;
      break;
    case St3Table::IBM4610:
      missing = 168;
      lastFull = 195;
      break;
    case St3Table::MP2000:
      missing = 125;
      lastFull = 158;
      break;
  }
  if (fullCode > lastFull || fullCode == missing) return code::NotDone;
  return missing && fullCode > missing ? static_cast<uint16_t>(fullCode - 1) : fullCode;
}

uint16_t checksum(const uint8_t* data, size_t n) {
  uint32_t s = 0;
  for (size_t i = 0; i < n; ++i) s += data[i];
  return static_cast<uint16_t>(s & 0xFFFF);
}

FrameState parseRequest(const uint8_t* data, size_t n, Request& out) {
  if (n == 0) return FrameState::Incomplete;
  if (data[0] != kSTX) return FrameState::NotAFrame;
  if (n < 3) return FrameState::Incomplete;
  const size_t len = data[1] | (static_cast<size_t>(data[2]) << 8);
  // The least a request holds: the prefix, a command code and the checksum.
  if (len < 4 || len > kMaxLength) return FrameState::NotAFrame;
  if (n < 3 + len) return FrameState::Incomplete;
  const uint8_t* first = data + 3;
  const size_t summed = len - 2;
  const uint16_t sent = static_cast<uint16_t>(first[summed] | (first[summed + 1] << 8));
  out.size = 3 + len;
  if (checksum(first, summed) != sent) return FrameState::BadChecksum;
  out.prefix = first[0];
  out.body.assign(first + 1, first + summed);
  return FrameState::Ok;
}

ByteArray statusBytes(uint8_t st1, uint8_t st2, bool fsPrefix, uint16_t st3) {
  ByteArray s{st1, st2};
  if (fsPrefix) {
    s.push_back(static_cast<uint8_t>(st3 & 0xFF));
    s.push_back(static_cast<uint8_t>(st3 >> 8));
  }
  return s;
}

ByteArray answer(const ByteArray& status, const ByteArray& data, bool statusFirst) {
  // Built byte by byte: GCC 12 sees false bounds errors in inserts after a
  // one-byte start.
  ByteArray a;
  a.reserve(1 + 2 + data.size() + status.size());
  a.push_back(kACK);
  if (statusFirst && status.size() >= 2) {
    a.push_back(status[0]);
    a.push_back(status[1]);
  }
  for (uint8_t b : data) a.push_back(b);
  for (uint8_t b : status) a.push_back(b);
  return a;
}

ByteArray toBcd(uint64_t value, size_t bytes) {
  ByteArray out(bytes, 0);
  for (size_t i = bytes; i-- > 0;) {
    const auto lo = static_cast<uint8_t>(value % 10);
    value /= 10;
    const auto hi = static_cast<uint8_t>(value % 10);
    value /= 10;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return out;
}

}  // namespace tarvion::emulator::bematech
