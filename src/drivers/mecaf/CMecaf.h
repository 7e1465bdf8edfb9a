// CMecaf: a printer whose protocol this library does not speak.
#pragma once

#include "drivers/unsupported/CUnsupportedProtocol.h"

namespace tarvion {

struct CMecafTag {
  static constexpr const char* kName = "CMecaf";
  static constexpr const char* kPrinter = "PROCOMP ECF-2011";
};

class CMecaf : public CUnsupportedProtocol<CMecafTag> {};

}  // namespace tarvion
