// The driver classes of the 2009 command set that the model rows name; their constructors take the row's maker code.
#include "drivers/cv2009/CDarumaFS800i.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "drivers/cv2009/CECFCV2009V2.h"
#include "drivers/driver_classes.h"

namespace tarvion {

DriverFamily cv2009_drivers() {
  return {"cv2009",
          {
              driverClass<CECFCV2009>("CECFCV2009"),
              driverClass<CECFCV2009V2>("CECFCV2009V2"),
              driverClass<CDarumaFS800i>("CDarumaFS800i"),
          }};
}

}  // namespace tarvion
