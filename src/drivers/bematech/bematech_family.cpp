// The Bematech driver classes the model rows name, with the IBM SureMark that speaks the same protocol.
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/CBematech2000.h"
#include "drivers/bematech/CBematech2100.h"
#include "drivers/bematech/CBematechMP25.h"
#include "drivers/bematech/CBematechMP6000.h"
#include "drivers/bematech/CBematechMP7000.h"
#include "drivers/bematech/CIBM4610.h"
#include "drivers/driver_classes.h"

namespace tarvion {

DriverFamily bematech_drivers() {
  return {"bematech",
          {
              driverClass<CBematech>("CBematech"),
              driverClass<CBematech2000>("CBematech2000"),
              driverClass<CBematech2100>("CBematech2100"),
              driverClass<CBematechMP25>("CBematechMP25"),
              driverClass<CBematechMP6000>("CBematechMP6000"),
              driverClass<CBematechMP7000>("CBematechMP7000"),
              driverClass<CIBM4610>("CIBM4610"),
          }};
}

}  // namespace tarvion
