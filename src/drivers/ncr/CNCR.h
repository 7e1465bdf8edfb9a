// CNCR: a printer whose protocol this library does not speak.
#pragma once

#include "drivers/unsupported/CUnsupportedProtocol.h"

namespace tarvion {

struct CNCRTag {
  static constexpr const char* kName = "CNCR";
  static constexpr const char* kPrinter = "NCR ECF-IF-02-01";
};

class CNCR : public CUnsupportedProtocol<CNCRTag> {};

}  // namespace tarvion
