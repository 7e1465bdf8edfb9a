// CSwedaST2500: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/sweda/CSwedaST.h"

namespace tarvion {

class CSwedaST2500 : public CSwedaST {
 public:
  const char* ClassName() const override { return "CSwedaST2500"; }
};

}  // namespace tarvion
