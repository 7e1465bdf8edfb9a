// The stand-alone check printers' driver classes.
#include "drivers/check/CChronos.h"
#include "drivers/check/CImprecheq.h"
#include "drivers/check/CPertoCheck.h"
#include "drivers/check/CPertoPay.h"
#include "drivers/driver_classes.h"

namespace tarvion {

DriverFamily check_drivers() {
  return {"check",
          {
              driverClass<CChronos>("CChronos"),
              driverClass<CImprecheq>("CImprecheq"),
              driverClass<CPertoCheck>("CPertoCheck"),
              driverClass<CPertoPay>("CPertoPay"),
          }};
}

}  // namespace tarvion
