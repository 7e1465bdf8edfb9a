// The IBM 4610 SJ6 driver class.
#include "drivers/driver_classes.h"
#include "drivers/ibm/CIBM4610SJ6.h"

namespace tarvion {

DriverFamily ibm_drivers() {
  return {"ibm",
          {
              driverClass<CIBM4610SJ6>("CIBM4610SJ6"),
          }};
}

}  // namespace tarvion
