// CECFCV2009V2: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/cv2009/CECFCV2009.h"

namespace tarvion {

class CECFCV2009V2 : public CECFCV2009 {
 public:
  explicit CECFCV2009V2(int intFabricante) : CECFCV2009(intFabricante) {}
  const char* ClassName() const override { return "CECFCV2009V2"; }
};

}  // namespace tarvion
