// CDarumaMach2: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/daruma/CDarumaFS600.h"

namespace tarvion {

class CDarumaMach2 : public CDarumaFS600 {
 public:
  const char* ClassName() const override { return "CDarumaMach2"; }
};

}  // namespace tarvion
