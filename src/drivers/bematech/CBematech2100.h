// CBematech2100: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/bematech/CBematech2000.h"

namespace tarvion {

class CBematech2100 : public CBematech2000 {
 public:
  const char* ClassName() const override { return "CBematech2100"; }
};

}  // namespace tarvion
