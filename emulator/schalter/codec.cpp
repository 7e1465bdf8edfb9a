// Schalter framing from the printer's side.
#include "emulator/schalter/codec.h"

namespace tarvion::emulator::schalter {

int paramWidth(uint8_t code) {
  switch (code) {
    case 0x01:  // receipt opening: "&"
    case 0x12:  // totals of the day
    case 0xD1:  // subtotal
    case 0xDD:  // non-fiscal receipt opening
      return 1;
    case 0xDF:  // state
    case 0xE0:  // counters, date and time
    case 0xE1:  // a rate
    case 0xE2:  // a payment type
    case 0xE3:  // a non-fiscal title
    case 0xE4:  // identity
    case 0xE5:  // grand total
    case 0xE7:  // a pending linked receipt
    case 0xFA:  // drawer
      return 2;
    case 0x10:  // report opening
    case 0x13:  // Z
    case 0x14:  // X
      return 8;
    case 0x06:  // closing of any document
      return 10;
    case 0x16:  // clock change of daylight saving: hhmmss 0 ddmmyy
      return 13;
    case 0x04:  // cancelling the open receipt
    case 0x05:  // cancelling the last receipt
      return 14;
    case 0xDE:  // linked receipt: COO(6) payment(2) value(9)
      return 17;
    case 0x15:  // fiscal memory: kind, two dates, two reductions
      return 21;
    case 0xD5:  // payment
      return 25;
    case 0xD4:  // item cancel
      return 34;
    case 0xD9:  // receipt discount or increase
      return 37;
    case 0x23:  // title set-up
    case 0x6F:  // authentication
      return 48;
    case 0xD3:  // item discount
      return 77;
    case 0xD6:  // non-fiscal value
      return 89;
    case 0xD0:  // item
      return 111;
    default:
      return -1;
  }
}

size_t answerSize(uint8_t code) {
  switch (code) {
    case 0xE1:
      return 9;
    case 0xE3:
      return 24;
    case 0xE2:
      return 41;
    case 0xE7:
      return 60;
    case 0xDF:
      return 7;
    case 0xE0:
      return 31;
    case 0xE4:
      return 45;
    case 0x12:
      return 85;
    case 0xE5:
      return 250;
    default:
      return 1;
  }
}

FrameState parse(const uint8_t* data, size_t n, Request& out) {
  if (n == 0) return FrameState::Incomplete;
  if (data[0] != kESC) return FrameState::NotAFrame;
  if (n < 2) return FrameState::Incomplete;
  if (data[1] == kText) {
    for (size_t i = 2; i + 1 < n; ++i) {
      if (data[i] == 0x00 && data[i + 1] == 0x0A) {
        out = Request{};
        out.text = true;
        out.params.assign(reinterpret_cast<const char*>(data + 2), i - 2);
        out.size = i + 2;
        return FrameState::Ok;
      }
      if (i > kMaxLine) return FrameState::NotAFrame;
    }
    return FrameState::Incomplete;
  }
  if (data[1] != kFrame) return FrameState::NotAFrame;
  if (n < 3) return FrameState::Incomplete;
  const int width = paramWidth(data[2]);
  out = Request{};
  out.code = data[2];
  if (width < 0) {
    out.size = n;  // nothing tells where it ends: all of it goes
    return FrameState::Unknown;
  }
  const size_t size = 3 + static_cast<size_t>(width) + 1;
  if (n < size) return FrameState::Incomplete;
  unsigned sum = 0;
  for (size_t i = 0; i < size; ++i) sum += data[i];
  out.params.assign(reinterpret_cast<const char*>(data + 3), static_cast<size_t>(width));
  out.size = size;
  return (sum & 0xFF) == 0 ? FrameState::Ok : FrameState::BadCheck;
}

ByteArray answer(uint8_t status, size_t size, const std::string& fields) {
  ByteArray a(size < 1 ? 1 : size, 0x00);
  a[0] = status;
  for (size_t i = 0; i < fields.size() && i + 1 < a.size(); ++i) a[i + 1] = static_cast<uint8_t>(fields[i]);
  return a;
}

}  // namespace tarvion::emulator::schalter
