// The driver classes of the model tables, created by name: every folder of
// src/drivers/ registers its own (drivers/driver_classes.h).
#include "control/ctrl_state.h"
#include "drivers/driver_classes.h"

namespace tarvion {

DriverPtr createDriver(const char* driverClass, int manufacturer) {
  if (driverClass)
    if (const DriverClass* c = findDriverClass(driverClass)) return c->make(manufacturer);
  return std::make_unique<CECFBase>();
}

}  // namespace tarvion
