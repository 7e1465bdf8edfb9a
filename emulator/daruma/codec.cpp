#include "emulator/daruma/codec.h"

#include <algorithm>
#include <iterator>

namespace tarvion::emulator::daruma {

namespace {

constexpr uint8_t kFS = 0x1C, kGS = 0x1D, kACK = 0x06, kESC = 0x1B, kEnd = 0xFF, kLF = 0x0A;

size_t upTo(const uint8_t* data, size_t n, std::initializer_list<uint8_t> starts) {
  for (size_t i = 1; i < n; ++i)
    for (uint8_t s : starts)
      if (data[i] == s) return i;
  return n;
}

// Every classic command byte, in byte order, with the shape of its parameters.
constexpr ClassicShape kShapes[] = {
    {'Y', 0, 0, 0, true},    // display text
    {'p', 3, 0, 0, false},   // drawer
    {200, 0, 3, 0, false},   // open receipt: three customer texts
    {205, 3, 0, 0, false},   // cancel item
    {206, 0, 0, 0, false},   // cancel receipt
    {207, 0, 0, 0, false},   // X report
    {208, 12, 0, 0, false},  // Z report: ddmmyyhhmmss
    {209, 13, 0, 0, false},  // fiscal memory: kind, first, last
    {211, 0, 0, 0, false},   // open report
    {212, 0, 0, 0, false},   // close report or linked receipt
    {213, 0, 0, 0, true},    // report text
    {217, 26, 1, 0, false},  // non-fiscal receipt
    {218, 18, 0, 0, false},  // payment name ("PG" takes one byte more)
    {219, 0, 3, 12, false},  // open linked receipt: three texts, amount
    {220, 4, 0, 0, false},   // tax rate ("S" takes one byte more)
    {226, 22, 0, 0, false},  // non-fiscal title
    {228, 0, 0, 0, false},   // daylight saving over
    {229, 0, 0, 0, false},   // daylight saving read
    {230, 0, 0, 0, false},   // clock read
    {231, 0, 0, 0, false},   // tax table read
    {236, 0, 0, 0, false},   // identity read
    {238, 0, 0, 0, false},   // payment table read
    {239, 0, 0, 0, false},   // receipt read
    {240, 0, 0, 0, false},   // day totals read
    {241, 13, 0, 0, false},  // totalise
    {242, 14, 1, 0, false},  // pay
    {243, 0, 1, 0, false},   // close receipt: message
    {244, 0, 0, 0, false},   // title table read
    {247, 76, 0, 0, false},  // sell item
    {250, 0, 0, 0, false},   // fiscal date read
    {255, 0, 0, 0, false},   // paper read
};
static_assert([] {
  for (size_t i = 1; i < std::size(kShapes); ++i)
    if (kShapes[i - 1].code >= kShapes[i].code) return false;
  return true;
}());

}  // namespace

FrameState parseFs(const uint8_t* data, size_t n, Request& out) {
  out = Request{};
  if (n == 0) return FrameState::Incomplete;
  if (data[0] == kGS) {
    if (n < 2) return FrameState::Incomplete;
    out.size = data[1] == kACK ? 2 : 1;
    out.probe = data[1] == kACK;
    return out.probe ? FrameState::Frame : FrameState::NotAFrame;
  }
  if (data[0] != kFS) {
    out.size = upTo(data, n, {kFS, kGS});
    return FrameState::NotAFrame;
  }
  if (n < 3) return FrameState::Incomplete;
  out.letter = data[1];
  out.code = data[2];
  if (out.letter == 'R' && (out.code == 200 || out.code == 201)) {
    if (n < 6) return FrameState::Incomplete;
    out.size = 6;
    out.params.assign(reinterpret_cast<const char*>(data + 3), 3);
    return FrameState::Frame;
  }
  // A frame ends at a 00 where the XOR of every byte before it is zero: the
  // byte before that 00 was the check byte. When the check byte is itself 00
  // the same holds at it, and the terminator follows at once: a 00 right
  // after such a 00 ends the frame instead.
  uint8_t x = 0;
  for (size_t k = 0; k < n; ++k) {
    if (k >= 4 && data[k] == 0x00) {
      if (x != 0) {
        out.size = k + 1;
        return FrameState::BadCheck;
      }
      const size_t end = k + 1 < n && data[k + 1] == 0x00 ? k + 1 : k;
      out.size = end + 1;
      out.params.assign(reinterpret_cast<const char*>(data + 3), end - 4);
      return FrameState::Frame;
    }
    x ^= data[k];
  }
  return FrameState::Incomplete;
}

const ClassicShape* classicShape(uint8_t code) {
  const auto* end = std::end(kShapes);
  const auto* it =
      std::lower_bound(std::begin(kShapes), end, code, [](const ClassicShape& s, uint8_t c) { return s.code < c; });
  return it != end && it->code == code ? it : nullptr;
}

FrameState parseClassic(const uint8_t* data, size_t n, Request& out) {
  out = Request{};
  if (n == 0) return FrameState::Incomplete;
  if (data[0] != kESC) {
    out.size = upTo(data, n, {kESC});
    return FrameState::NotAFrame;
  }
  if (n < 2) return FrameState::Incomplete;
  out.code = data[1];
  const ClassicShape* shape = classicShape(out.code);
  if (!shape) {
    out.known = false;
    out.size = 2;
    return FrameState::Frame;
  }
  size_t at = 2;
  size_t before = shape->before;
  if (shape->code == 218 || shape->code == 220) {
    if (n < 3) return FrameState::Incomplete;
    if (data[2] == (shape->code == 218 ? 'P' : 'S')) ++before;
  }
  at += before;
  for (int t = 0; t < shape->texts; ++t) {
    while (at < n && data[at] != kEnd) ++at;
    if (at >= n) return FrameState::Incomplete;
    ++at;
  }
  at += shape->after;
  if (shape->lineText) {
    while (at < n && data[at] != kLF) ++at;
    if (at >= n) return FrameState::Incomplete;
    ++at;
  }
  if (at > n) return FrameState::Incomplete;
  out.size = at;
  out.params.assign(reinterpret_cast<const char*>(data + 2), at - 2);
  return FrameState::Frame;
}

ByteArray fsReply(uint8_t letter, uint8_t code, int error) {
  const std::string e = zeros(error, 3);
  return ByteArray{
      ':', letter, code, static_cast<uint8_t>(e[0]), static_cast<uint8_t>(e[1]), static_cast<uint8_t>(e[2]), '\r'};
}

ByteArray registerReply(int number, const std::string& value) {
  ByteArray r{':', 200};
  for (char c : zeros(number, 3)) r.push_back(static_cast<uint8_t>(c));
  for (char c : value) r.push_back(static_cast<uint8_t>(c == '\r' ? ' ' : c));
  r.push_back('\r');
  return r;
}

ByteArray classicReply(const std::string& data) {
  ByteArray r{':'};
  for (char c : data) r.push_back(static_cast<uint8_t>(c == '\r' ? ' ' : c));
  r.push_back('\r');
  return r;
}

ByteArray classicRefusal(int code) {
  const std::string d = zeros(code, 2);
  return ByteArray{':', 'E', static_cast<uint8_t>(d[0]), static_cast<uint8_t>(d[1]), '\r'};
}

bool digits(std::string_view s, long long& out) {
  if (s.empty() || s.size() > 18) return false;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

std::string zeros(long long value, int width) {
  std::string s = std::to_string(value < 0 ? -value : value);
  if (s.size() < static_cast<size_t>(width)) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s.substr(s.size() - static_cast<size_t>(width));
}

std::string padded(std::string_view s, size_t width) {
  std::string t(s.substr(0, width));
  t.resize(width, ' ');
  return t;
}

bool splitTexts(std::string_view s, size_t count, std::vector<std::string>& out, size_t& used) {
  out.clear();
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t end = s.find(static_cast<char>(kEnd), at);
    if (end == std::string_view::npos) return false;
    out.emplace_back(s.substr(at, end - at));
    at = end + 1;
  }
  used = at;
  return true;
}

}  // namespace tarvion::emulator::daruma
