// The FiscNET driver classes the model rows name.
#include "drivers/driver_classes.h"
#include "drivers/fiscnet/CElginX5.h"
#include "drivers/fiscnet/CFiscNET.h"
#include "drivers/fiscnet/CItautecFiscNet.h"
#include "drivers/fiscnet/CZPM.h"

namespace tarvion {

DriverFamily fiscnet_drivers() {
  return {"fiscnet",
          {
              driverClass<CFiscNET>("CFiscNET"),
              driverClass<CElginX5>("CElginX5"),
              driverClass<CItautecFiscNet>("CItautecFiscNet"),
              driverClass<CZPM>("CZPM"),
          }};
}

}  // namespace tarvion
