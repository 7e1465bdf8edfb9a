// The 2009 command set as the printer sees it: packets to take apart, replies
// to put together. Written from the printer's side on its own, so that a host
// whose framing or checksum goes wrong is refused here instead of being
// understood by a copy of its own mistake.
//
// From the host:
//   SOH SEQ CODE_L CODE_H LEN_L LEN_H PARAMS CK   a command; CK is the low byte
//       of the sum of every byte after SOH; PARAMS is text, each parameter
//       closed by '|'
//   ENQ N      the reply of the last command, block N (0 the first)
//   SYN        the sequence number of the last command taken
// To the host:
//   ACK                                         command taken, reply waiting
//   SOH SEQ CODE_L CODE_H CLASS FLAGS 00 BLOCK 00 LEN_L LEN_H DATA CK
//       a reply block; class 0, FLAGS bit 0 set on the last block; CK over
//       every byte after SOH
//   NAK CLASS CODE 00 00 00                     refused, not executed
//   DC1 00 00 00 00 00                          busy printing, ask again
//   SYN SEQ
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"

namespace tarvion::emulator::cv2009 {

constexpr uint8_t kSOH = 0x01, kENQ = 0x05, kACK = 0x06, kDC1 = 0x11, kNAK = 0x15, kSYN = 0x16;

// A command longer than this is taken for noise.
constexpr size_t kMaxParams = 8192;
// Data bytes of one reply block; longer replies go in blocks.
constexpr size_t kBlockData = 1024;

enum class PacketState {
  Incomplete,   // more bytes are needed
  Ok,           // a whole packet
  BadChecksum,  // a whole command whose check byte is wrong
  NotAPacket    // the first byte starts nothing: skip it
};

struct Packet {
  enum class Kind { Command, Enq, Sync } kind = Kind::Command;
  uint8_t sequence = 0;
  uint16_t code = 0;
  ByteArray params;
  uint8_t block = 0;  // ENQ
  size_t size = 0;    // bytes taken from the line
};

uint8_t checksum(const uint8_t* data, size_t n);
PacketState parsePacket(const uint8_t* data, size_t n, Packet& out);

// The parameters, each up to its '|'; text after the last '|' is dropped.
std::vector<std::string> splitParams(const ByteArray& params);

ByteArray replyBlock(uint8_t sequence, uint16_t code, bool last, uint8_t block, const std::string& data);
ByteArray nak(uint8_t statusClass, uint8_t code);
ByteArray busy();
ByteArray sync(uint8_t sequence);

// Fields joined, each closed by '|'.
std::string fields(const std::vector<std::string>& values);

}  // namespace tarvion::emulator::cv2009
