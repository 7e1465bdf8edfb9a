// The driver classes of the model tables, created by name.
#include <functional>
#include <map>

#include "control/ctrl_state.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/CBematech2000.h"
#include "drivers/bematech/CBematech2100.h"
#include "drivers/bematech/CBematechMP25.h"
#include "drivers/bematech/CBematechMP6000.h"
#include "drivers/bematech/CBematechMP7000.h"
#include "drivers/bematech/CIBM4610.h"
#include "drivers/check/CChronos.h"
#include "drivers/check/CImprecheq.h"
#include "drivers/check/CPertoCheck.h"
#include "drivers/check/CPertoPay.h"
#include "drivers/cv2009/CDarumaFS800i.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "drivers/cv2009/CECFCV2009V2.h"
#include "drivers/cv2009/CEpsonCV2009.h"
#include "drivers/daruma/CDaruma.h"
#include "drivers/daruma/CDarumaFS600.h"
#include "drivers/daruma/CDarumaMach2.h"
#include "drivers/epson/CEpson.h"
#include "drivers/fiscnet/CElginX5.h"
#include "drivers/fiscnet/CFiscNET.h"
#include "drivers/fiscnet/CItautecFiscNet.h"
#include "drivers/fiscnet/CZPM.h"
#include "drivers/ibm/CIBM4610SJ6.h"
#include "drivers/itautec/CItautec.h"
#include "drivers/mecaf/CMecaf.h"
#include "drivers/mecaf/CMecafFPE301.h"
#include "drivers/ncr/CNCR.h"
#include "drivers/schalter/CSchalterECFIF.h"
#include "drivers/sweda/CSweda.h"
#include "drivers/sweda/CSwedaST.h"
#include "drivers/sweda/CSwedaST2500.h"

namespace tarvion {

DriverPtr createDriver(const char* driverClass, int manufacturer) {
  using Make = std::function<DriverPtr(int)>;
  static const std::map<std::string, Make> makers = {
      {"CBematech", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CBematech>(); }},
      {"CBematech2000", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CBematech2000>(); }},
      {"CBematech2100", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CBematech2100>(); }},
      {"CBematechMP25", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CBematechMP25>(); }},
      {"CBematechMP6000", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CBematechMP6000>(); }},
      {"CBematechMP7000", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CBematechMP7000>(); }},
      {"CChronos", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CChronos>(); }},
      {"CDaruma", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CDaruma>(); }},
      {"CDarumaFS600", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CDarumaFS600>(); }},
      {"CDarumaFS800i", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CDarumaFS800i>(m); }},
      {"CDarumaMach2", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CDarumaMach2>(); }},
      {"CECFCV2009", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CECFCV2009>(m); }},
      {"CECFCV2009V2", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CECFCV2009V2>(m); }},
      {"CElginX5", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CElginX5>(); }},
      {"CEpson", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CEpson>(); }},
      {"CEpsonCV2009", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CEpsonCV2009>(m); }},
      {"CFiscNET", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CFiscNET>(); }},
      {"CIBM4610", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CIBM4610>(); }},
      {"CIBM4610SJ6", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CIBM4610SJ6>(); }},
      {"CImprecheq", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CImprecheq>(); }},
      {"CItautec", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CItautec>(); }},
      {"CItautecFiscNet", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CItautecFiscNet>(); }},
      {"CMecaf", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CMecaf>(); }},
      {"CMecafFPE301", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CMecafFPE301>(); }},
      {"CNCR", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CNCR>(); }},
      {"CPertoCheck", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CPertoCheck>(); }},
      {"CPertoPay", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CPertoPay>(); }},
      {"CSchalterECFIF", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CSchalterECFIF>(); }},
      {"CSweda", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CSweda>(); }},
      {"CSwedaST", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CSwedaST>(); }},
      {"CSwedaST2500", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CSwedaST2500>(); }},
      {"CZPM", []([[maybe_unused]] int m) -> DriverPtr { return std::make_unique<CZPM>(); }},
  };
  if (driverClass) {
    auto it = makers.find(driverClass);
    if (it != makers.end()) return it->second(manufacturer);
  }
  return std::make_unique<CECFBase>();
}

}  // namespace tarvion
