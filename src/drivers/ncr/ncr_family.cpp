// The NCR driver class.
#include "drivers/driver_classes.h"
#include "drivers/ncr/CNCR.h"

namespace tarvion {

DriverFamily ncr_drivers() {
  return {"ncr",
          {
              driverClass<CNCR>("CNCR"),
          }};
}

}  // namespace tarvion
