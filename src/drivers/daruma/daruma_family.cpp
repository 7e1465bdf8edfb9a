// The Daruma driver classes of the FS600, Mach and FS-345 printers.
#include "drivers/daruma/CDaruma.h"
#include "drivers/daruma/CDarumaFS600.h"
#include "drivers/daruma/CDarumaMach2.h"
#include "drivers/driver_classes.h"

namespace tarvion {

DriverFamily daruma_drivers() {
  return {"daruma",
          {
              driverClass<CDaruma>("CDaruma"),
              driverClass<CDarumaFS600>("CDarumaFS600"),
              driverClass<CDarumaMach2>("CDarumaMach2"),
          }};
}

}  // namespace tarvion
