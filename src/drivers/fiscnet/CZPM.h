// CZPM: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/fiscnet/CFiscNET.h"

namespace tarvion {

class CZPM : public CFiscNET {
 public:
  const char* ClassName() const override { return "CZPM"; }
};

}  // namespace tarvion
