// CIBM4610: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/bematech/CBematech2000.h"

namespace tarvion {

class CIBM4610 : public CBematech2000 {
 public:
  const char* ClassName() const override { return "CIBM4610"; }
};

}  // namespace tarvion
