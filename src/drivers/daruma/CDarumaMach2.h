// CDarumaMach2: the Mach printers speak the FS600 protocol; only their serial
// line differs: no CTS/DSR output flow control and no DSR sensitivity, with
// DTR and RTS still raised as handshakes.
#pragma once

#include "drivers/daruma/CDarumaFS600.h"

namespace tarvion {

class CDarumaMach2 : public CDarumaFS600 {
 public:
  CDarumaMach2() {
    portProfile.logTag = "CDarumaMach2";
    portProfile.fOutxCtsFlow = 0;
    portProfile.fOutxDsrFlow = 0;
    portProfile.fDsrSensitivity = 0;
    portProfile.fTXContinueOnXoff = 0;
  }
  const char* ClassName() const override { return "CDarumaMach2"; }
};

}  // namespace tarvion
