// CMecafFPE301: a printer whose protocol this library does not speak.
#pragma once

#include "drivers/unsupported/CUnsupportedProtocol.h"

namespace tarvion {

struct CMecafFPE301Tag {
  static constexpr const char* kName = "CMecafFPE301";
  static constexpr const char* kPrinter = "PROCOMP ECF-2002";
};

class CMecafFPE301 : public CUnsupportedProtocol<CMecafFPE301Tag> {};

}  // namespace tarvion
