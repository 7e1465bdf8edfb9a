// The Mecaf (Procomp) driver classes.
#include "drivers/driver_classes.h"
#include "drivers/mecaf/CMecaf.h"
#include "drivers/mecaf/CMecafFPE301.h"

namespace tarvion {

DriverFamily mecaf_drivers() {
  return {"mecaf",
          {
              driverClass<CMecaf>("CMecaf"),
              driverClass<CMecafFPE301>("CMecafFPE301"),
          }};
}

}  // namespace tarvion
