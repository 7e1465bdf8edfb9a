#include "emulator/sweda/codec.h"

#include <algorithm>

namespace tarvion::emulator::sweda {

FrameState parseSt(const uint8_t* data, size_t n, StRequest& out) {
  out = StRequest{};
  if (n == 0) return FrameState::Incomplete;
  if (data[0] != kSTX) {
    const uint8_t* next = std::find(data, data + n, kSTX);
    out.size = static_cast<size_t>(next - data);
    return FrameState::NotAFrame;
  }
  const uint8_t* etx = std::find(data + 1, data + n, kETX);
  if (etx == data + n || etx + 1 == data + n) return FrameState::Incomplete;
  out.size = static_cast<size_t>(etx - data) + 2;
  out.raw.assign(data, data + out.size);
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < out.size; ++i) sum += data[i];
  out.checkOk = static_cast<uint8_t>(sum) == data[out.size - 1];
  if (out.size < 6) return FrameState::Frame;  // too short for a code: checkOk decides
  out.seq = data[1];
  out.code.assign(data + 2, data + 4);
  std::string cur;
  bool open = false;
  for (const uint8_t* p = data + 4; p < etx; ++p) {
    if (*p < 0x20) out.damaged = true;
    if (*p == '|') {
      if (open) out.params.push_back(cur);
      cur.clear();
      open = true;
    } else if (open) {
      cur += static_cast<char>(*p);
    } else {
      out.damaged = true;  // bytes after the code that are not a parameter
    }
  }
  if (open) out.params.push_back(cur);
  return FrameState::Frame;
}

ByteArray stReply(uint8_t seq, const std::string& code, char status, int errorCode,
                  const std::vector<std::string>& fields) {
  ByteArray r;
  r.reserve(8 + code.size());
  r.push_back(kSTX);
  r.push_back(seq);
  // Byte by byte: gcc 12 misreads a range insert into a two-byte vector as out of bounds.
  for (char ch : code) r.push_back(static_cast<uint8_t>(ch));
  r.push_back(static_cast<uint8_t>(status));
  const int c = errorCode < 0 ? 0 : errorCode % 10000;
  for (int div : {1000, 100, 10, 1}) r.push_back(static_cast<uint8_t>('0' + (c / div) % 10));
  for (const std::string& f : fields) {
    r.push_back('|');
    for (size_t i = 0; i < f.size();) {
      size_t run = 1;
      while (i + run < f.size() && f[i + run] == f[i] && run < 225) ++run;
      r.push_back(static_cast<uint8_t>(f[i]));
      if (run >= 4) {
        r.push_back(kESC);
        r.push_back(static_cast<uint8_t>(run - 1 + 31));
      } else {
        r.insert(r.end(), run - 1, static_cast<uint8_t>(f[i]));
      }
      i += run;
    }
  }
  r.push_back(kETX);
  unsigned sum = 0;
  for (uint8_t b : r) sum += b;
  r.push_back(static_cast<uint8_t>(sum));
  return r;
}

FrameState parseClassic(const uint8_t* data, size_t n, ClassicRequest& out) {
  out = ClassicRequest{};
  if (n == 0) return FrameState::Incomplete;
  if (data[0] != kESC) {
    out.size = static_cast<size_t>(std::find(data + 1, data + n, kESC) - data);
    return FrameState::NotAFrame;
  }
  if (n < 2) return FrameState::Incomplete;
  if (data[1] != '.') {
    out.size = 1;
    return FrameState::NotAFrame;
  }
  const uint8_t* end = std::find(data + 2, data + n, '}');
  if (end == data + n) return FrameState::Incomplete;
  out.size = static_cast<size_t>(end - data) + 1;
  const std::string body(data + 2, end);
  out.code = body.substr(0, std::min<size_t>(2, body.size()));
  out.params = body.size() > 2 ? body.substr(2) : std::string();
  return FrameState::Frame;
}

bool parseDigits(const std::string& s, int64_t& out) {
  if (s.empty() || s.size() > 15) return false;
  out = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return false;
    out = out * 10 + (ch - '0');
  }
  return true;
}

bool parseComma(const std::string& s, int decimals, int64_t& out) {
  const size_t comma = s.find(',');
  const std::string whole = comma == std::string::npos ? s : s.substr(0, comma);
  std::string frac = comma == std::string::npos ? std::string() : s.substr(comma + 1);
  if (frac.size() > static_cast<size_t>(decimals)) return false;
  frac.resize(static_cast<size_t>(decimals), '0');
  int64_t w = 0, f = 0;
  if (!parseDigits(whole, w) || (decimals && !parseDigits(frac, f))) return false;
  int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  out = w * scale + f;
  return true;
}

}  // namespace tarvion::emulator::sweda
