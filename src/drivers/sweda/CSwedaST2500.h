// CSwedaST2500: the ST printer whose check must be put in place by hand before
// it prints; a check read always ejects the document.
#pragma once

#include "drivers/sweda/CSwedaST.h"

namespace tarvion {

class CSwedaST2500 : public CSwedaST {
 public:
  const char* ClassName() const override { return "CSwedaST2500"; }
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
};

}  // namespace tarvion
