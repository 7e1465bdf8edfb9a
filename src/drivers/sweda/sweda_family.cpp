// The Sweda driver classes of the ST line and of the older printers.
#include "drivers/driver_classes.h"
#include "drivers/sweda/CSweda.h"
#include "drivers/sweda/CSwedaST.h"
#include "drivers/sweda/CSwedaST2500.h"

namespace tarvion {

DriverFamily sweda_drivers() {
  return {"sweda",
          {
              driverClass<CSweda>("CSweda"),
              driverClass<CSwedaST>("CSwedaST"),
              driverClass<CSwedaST2500>("CSwedaST2500"),
          }};
}

}  // namespace tarvion
