// CDaruma: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "core/ecf_base.h"

namespace tarvion {

class CDaruma : public CECFBase {
 public:
  const char* ClassName() const override { return "CDaruma"; }
};

}  // namespace tarvion
