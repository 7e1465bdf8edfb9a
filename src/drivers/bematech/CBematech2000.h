// CBematech2000: the first FS-prefixed model; its replies end with the extended
// status ST3, read against the MP-2000 table. Its own operations arrive with the
// model work; until then it keeps those of CBematech.
#pragma once

#include "drivers/bematech/CBematech.h"

namespace tarvion {

class CBematech2000 : public CBematech {
 public:
  CBematech2000();
  const char* ClassName() const override { return "CBematech2000"; }
  BOOL CheckForSuccess() override;
};

}  // namespace tarvion
