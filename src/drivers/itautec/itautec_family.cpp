// The Itautec POS4000 driver class.
#include "drivers/driver_classes.h"
#include "drivers/itautec/CItautec.h"

namespace tarvion {

DriverFamily itautec_drivers() {
  return {"itautec",
          {
              driverClass<CItautec>("CItautec"),
          }};
}

}  // namespace tarvion
