// CIBM4610 (IBM 4610 SureMark): the CBematech2000 protocol; its status check
// adds the text of its own extended status table to the MP-2000 one, and it
// prints checks with command 57 (it has no CMC-7 reader).
#pragma once

#include "drivers/bematech/CBematech2000.h"

namespace tarvion {

class CIBM4610 : public CBematech2000 {
 public:
  CIBM4610();
  const char* ClassName() const override { return "CIBM4610"; }
  BOOL CheckForSuccess() override;
  BOOL WaitCheckEvent() override;
};

}  // namespace tarvion
