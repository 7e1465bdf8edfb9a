// CBematechMP25: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/bematech/CBematech.h"

namespace tarvion {

class CBematechMP25 : public CBematech {
 public:
  const char* ClassName() const override { return "CBematechMP25"; }
};

}  // namespace tarvion
