// CBematechMP7000: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/bematech/CBematechMP6000.h"

namespace tarvion {

class CBematechMP7000 : public CBematechMP6000 {
 public:
  const char* ClassName() const override { return "CBematechMP7000"; }
};

}  // namespace tarvion
