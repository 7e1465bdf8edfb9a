#include "emulator/cv2009/codec.h"

namespace tarvion::emulator::cv2009 {

uint8_t checksum(const uint8_t* data, size_t n) {
  uint32_t s = 0;
  for (size_t i = 0; i < n; ++i) s += data[i];
  return static_cast<uint8_t>(s);
}

PacketState parsePacket(const uint8_t* data, size_t n, Packet& out) {
  if (n == 0) return PacketState::Incomplete;
  switch (data[0]) {
    case kSYN:
      out.kind = Packet::Kind::Sync;
      out.size = 1;
      return PacketState::Ok;
    case kENQ:
      if (n < 2) return PacketState::Incomplete;
      out.kind = Packet::Kind::Enq;
      out.block = data[1];
      out.size = 2;
      return PacketState::Ok;
    case kSOH:
      break;
    default:
      return PacketState::NotAPacket;
  }
  if (n < 6) return PacketState::Incomplete;
  const size_t length = data[4] | (static_cast<size_t>(data[5]) << 8);
  if (length > kMaxParams) return PacketState::NotAPacket;
  if (n < 7 + length) return PacketState::Incomplete;
  out.size = 7 + length;
  if (checksum(data + 1, 5 + length) != data[6 + length]) return PacketState::BadChecksum;
  out.kind = Packet::Kind::Command;
  out.sequence = data[1];
  out.code = static_cast<uint16_t>(data[2] | (data[3] << 8));
  out.params.assign(data + 6, data + 6 + length);
  return PacketState::Ok;
}

std::vector<std::string> splitParams(const ByteArray& params) {
  std::vector<std::string> out;
  std::string cur;
  for (uint8_t b : params) {
    if (b == '|') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(static_cast<char>(b));
    }
  }
  return out;
}

ByteArray replyBlock(uint8_t sequence, uint16_t code, bool last, uint8_t block, const std::string& data) {
  ByteArray r;
  r.reserve(12 + data.size());
  r.push_back(kSOH);
  r.push_back(sequence);
  r.push_back(static_cast<uint8_t>(code & 0xFF));
  r.push_back(static_cast<uint8_t>(code >> 8));
  r.push_back(0);
  r.push_back(last ? 0x01 : 0x00);
  r.push_back(0);
  r.push_back(block);
  r.push_back(0);
  r.push_back(static_cast<uint8_t>(data.size() & 0xFF));
  r.push_back(static_cast<uint8_t>((data.size() >> 8) & 0xFF));
  for (char c : data) r.push_back(static_cast<uint8_t>(c));
  r.push_back(checksum(r.data() + 1, r.size() - 1));
  return r;
}

ByteArray nak(uint8_t statusClass, uint8_t code) {
  return ByteArray{kNAK, statusClass, code, 0, 0, 0};
}

ByteArray busy() {
  return ByteArray{kDC1, 0, 0, 0, 0, 0};
}

ByteArray sync(uint8_t sequence) {
  return ByteArray{kSYN, sequence};
}

std::string fields(const std::vector<std::string>& values) {
  std::string s;
  for (const std::string& v : values) {
    s += v;
    s += '|';
  }
  return s;
}

}  // namespace tarvion::emulator::cv2009
