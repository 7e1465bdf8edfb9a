// CItautecFiscNet: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/fiscnet/CFiscNET.h"

namespace tarvion {

class CItautecFiscNet : public CFiscNET {
 public:
  const char* ClassName() const override { return "CItautecFiscNet"; }
};

}  // namespace tarvion
