// CItautecFiscNet: a FiscNET printer without DSR output flow control that cuts
// the paper after every document it finishes.
#pragma once

#include "drivers/fiscnet/CFiscNET.h"

namespace tarvion {

class CItautecFiscNet : public CFiscNET {
 public:
  CItautecFiscNet();
  const char* ClassName() const override { return "CItautecFiscNet"; }

 protected:
  // The cut's result never changes the operation's.
  void AfterDocument() override { CutPaper(); }
};

}  // namespace tarvion
