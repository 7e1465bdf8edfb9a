// The two Sweda protocols from the printer's side: taking a request apart and
// writing its reply. Written for the virtual printers alone; it shares nothing
// with the driver's codec, so each side checks the other.
//
// ST line:   request  02 seq "02|1,000|789|..." 03 sum      (sum of all bytes before it)
//            reply    06, then 02 seq "02" '+' "0000" "|field..." 03 sum
// Classic:   request  1B 2E "17" 7D          reply  ".+17}"  or  ".-0058text}"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"

namespace tarvion::emulator::sweda {

constexpr uint8_t kSTX = 0x02, kETX = 0x03, kACK = 0x06, kNAK = 0x15, kESC = 0x1B;

enum class FrameState { Incomplete, Frame, NotAFrame };

struct StRequest {
  size_t size = 0;  // bytes taken from the buffer
  uint8_t seq = 0;
  std::string code;                 // two digits
  std::vector<std::string> params;  // between the '|'
  bool checkOk = false;
  bool damaged = false;  // a control byte among the parameters
  ByteArray raw;
};

FrameState parseSt(const uint8_t* data, size_t n, StRequest& out);

// A reply frame; runs of four or more equal bytes in the fields go out as the
// byte, ESC and a count, as the printer saves line time.
ByteArray stReply(uint8_t seq, const std::string& code, char status, int errorCode,
                  const std::vector<std::string>& fields = {});

struct ClassicRequest {
  size_t size = 0;
  std::string code;
  std::string params;
};

FrameState parseClassic(const uint8_t* data, size_t n, ClassicRequest& out);

// "12,50" or "1,000" into hundredths or thousandths; false on junk.
bool parseComma(const std::string& s, int decimals, int64_t& out);
bool parseDigits(const std::string& s, int64_t& out);

}  // namespace tarvion::emulator::sweda
