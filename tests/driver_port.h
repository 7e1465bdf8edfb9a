// The port settings every wire test gives a driver: 8 data bits, 1 stop bit.
#pragma once

#include "core/ecf_base.h"

namespace testsupport {

inline void usePort(tarvion::CECFBase& d, int port, int baud = 9600) {
  d.nPortNumber = port;
  d.nBaudRate = baud;
  d.nDataBits = 8;
  d.nStopBits = 1;
}

}  // namespace testsupport
