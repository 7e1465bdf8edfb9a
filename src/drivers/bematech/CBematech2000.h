// CBematech2000: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/bematech/CBematech.h"

namespace tarvion {

class CBematech2000 : public CBematech {
 public:
  const char* ClassName() const override { return "CBematech2000"; }
};

}  // namespace tarvion
