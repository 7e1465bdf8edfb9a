// CBematechMP6000: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/bematech/CBematech2100.h"

namespace tarvion {

class CBematechMP6000 : public CBematech2100 {
 public:
  const char* ClassName() const override { return "CBematechMP6000"; }
};

}  // namespace tarvion
