// CBematechMP7000: the CBematech2100 protocol and status table. Its own operations
// arrive with the model work.
#pragma once

#include "drivers/bematech/CBematechMP6000.h"

namespace tarvion {

class CBematechMP7000 : public CBematechMP6000 {
 public:
  CBematechMP7000();
  const char* ClassName() const override { return "CBematechMP7000"; }
};

}  // namespace tarvion
