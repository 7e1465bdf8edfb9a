// CDarumaFS800i: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/cv2009/CECFCV2009V2.h"

namespace tarvion {

class CDarumaFS800i : public CECFCV2009V2 {
 public:
  explicit CDarumaFS800i(int intFabricante) : CECFCV2009V2(intFabricante) {}
  const char* ClassName() const override { return "CDarumaFS800i"; }
};

}  // namespace tarvion
