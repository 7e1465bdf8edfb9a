// CECFCV2009: its protocol arrives with its family's work; until then it keeps the
// base driver's behaviour.
#pragma once

#include "core/ecf_base.h"

namespace tarvion {

class CECFCV2009 : public CECFBase {
 public:
  explicit CECFCV2009(int intFabricante) : intFabricante(intFabricante) {}
  const char* ClassName() const override { return "CECFCV2009"; }
  // Maker code given by the model table (1 Bematech, 2 Epson, 3 Daruma).
  int intFabricante = 0;
};

}  // namespace tarvion
