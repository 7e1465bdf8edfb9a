// CPertoPay: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/check/CPertoCheck.h"

namespace tarvion {

class CPertoPay : public CPertoCheck {
 public:
  const char* ClassName() const override { return "CPertoPay"; }
};

}  // namespace tarvion
