// CItautec: a printer whose protocol this library does not speak.
#pragma once

#include "core/capabilities.h"
#include "drivers/unsupported/CUnsupportedProtocol.h"

namespace tarvion {

struct CItautecTag {
  static constexpr const char* kName = "CItautec";
  static constexpr const char* kPrinter = "ITAUTEC POS4000";
};

class CItautec : public CUnsupportedProtocol<CItautecTag> {
 public:
  // Printer variant code: 15 marks the three-station ECF-IF/3E II.
  int nItautecVariant = 0;

  void Configure(const caps::ModelRow& row) override {
    CUnsupportedProtocol::Configure(row);
    nItautecVariant = row.variant;
  }
};

}  // namespace tarvion
