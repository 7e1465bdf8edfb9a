// CBematechMP6000: the CBematech2100 protocol and status table. Its own operations
// arrive with the model work.
#pragma once

#include "drivers/bematech/CBematech2100.h"

namespace tarvion {

class CBematechMP6000 : public CBematech2100 {
 public:
  CBematechMP6000();
  const char* ClassName() const override { return "CBematechMP6000"; }
};

}  // namespace tarvion
