// CIBM4610SJ6: a printer whose protocol this library does not speak.
#pragma once

#include "drivers/unsupported/CUnsupportedProtocol.h"

namespace tarvion {

struct CIBM4610SJ6Tag {
  static constexpr const char* kName = "CIBM4610SJ6";
  static constexpr const char* kPrinter = "IBM 4610-SJ6";
};

class CIBM4610SJ6 : public CUnsupportedProtocol<CIBM4610SJ6Tag> {};

}  // namespace tarvion
