// CBematechMP25: FS prefix, ST3 read against the MP-25 table. Its own operations
// arrive with the model work; until then it keeps those of CBematech.
#pragma once

#include "drivers/bematech/CBematech.h"

namespace tarvion {

class CBematechMP25 : public CBematech {
 public:
  CBematechMP25();
  const char* ClassName() const override { return "CBematechMP25"; }
  BOOL CheckForSuccess() override;
};

}  // namespace tarvion
