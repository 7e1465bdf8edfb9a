// CEpsonCV2009: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "drivers/cv2009/CECFCV2009V2.h"

namespace tarvion {

class CEpsonCV2009 : public CECFCV2009V2 {
 public:
  explicit CEpsonCV2009(int intFabricante) : CECFCV2009V2(intFabricante) {}
  const char* ClassName() const override { return "CEpsonCV2009"; }
};

}  // namespace tarvion
