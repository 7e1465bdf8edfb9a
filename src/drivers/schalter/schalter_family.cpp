// The Schalter ECF-IF driver class.
#include "drivers/driver_classes.h"
#include "drivers/schalter/CSchalterECFIF.h"

namespace tarvion {

DriverFamily schalter_drivers() {
  return {"schalter",
          {
              driverClass<CSchalterECFIF>("CSchalterECFIF"),
          }};
}

}  // namespace tarvion
