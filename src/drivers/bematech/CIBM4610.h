// CIBM4610: the CBematech2000 protocol; its status check adds the text of its own
// extended status table to the one of the MP-2000 table. Its own operations arrive
// with the model work.
#pragma once

#include "drivers/bematech/CBematech2000.h"

namespace tarvion {

class CIBM4610 : public CBematech2000 {
 public:
  CIBM4610();
  const char* ClassName() const override { return "CIBM4610"; }
  BOOL CheckForSuccess() override;
};

}  // namespace tarvion
