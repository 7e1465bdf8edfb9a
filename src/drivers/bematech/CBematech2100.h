// CBematech2100: the CBematech2000 protocol and operations; reads ST3 against
// the full extended status table.
#pragma once

#include "drivers/bematech/CBematech2000.h"

namespace tarvion {

class CBematech2100 : public CBematech2000 {
 public:
  CBematech2100();
  const char* ClassName() const override { return "CBematech2100"; }
  BOOL CheckForSuccess() override;
};

}  // namespace tarvion
