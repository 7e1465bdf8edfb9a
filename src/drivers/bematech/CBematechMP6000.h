// CBematechMP6000 (MP-3000, MP-4000 and MP-6000 TH FI): the CBematech2100
// protocol, a paper cutter and a check station that reads the CMC-7 line.
#pragma once

#include "drivers/bematech/CBematech2100.h"

namespace tarvion {

class CBematechMP6000 : public CBematech2100 {
 public:
  CBematechMP6000();
  const char* ClassName() const override { return "CBematechMP6000"; }
};

}  // namespace tarvion
