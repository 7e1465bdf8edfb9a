// The Epson driver class of the TM-T81F printers.
#include "drivers/driver_classes.h"
#include "drivers/epson/CEpson.h"

namespace tarvion {

DriverFamily epson_drivers() {
  return {"epson",
          {
              driverClass<CEpson>("CEpson"),
          }};
}

}  // namespace tarvion
