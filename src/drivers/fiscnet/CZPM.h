// CZPM: a FiscNET printer whose checks always follow its own layout table.
#pragma once

#include "drivers/fiscnet/CFiscNET.h"

namespace tarvion {

class CZPM : public CFiscNET {
 public:
  CZPM();
  const char* ClassName() const override { return "CZPM"; }

 protected:
  fiscnet::BankTable CheckTable(const std::string&) const override { return fiscnet::BankTable::ZPM; }
};

}  // namespace tarvion
