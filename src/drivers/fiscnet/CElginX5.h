// CElginX5: a FiscNET printer that ignores DSR on its line.
#pragma once

#include "drivers/fiscnet/CFiscNET.h"

namespace tarvion {

class CElginX5 : public CFiscNET {
 public:
  CElginX5();
  const char* ClassName() const override { return "CElginX5"; }
};

}  // namespace tarvion
