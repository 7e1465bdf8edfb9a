// The model tables: the position of a name, counted from 1, is its model number.
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

const std::vector<ModelRow>& fiscalModels() {
  static const std::vector<ModelRow> rows = {
      {"BEMATECH MP-20 FI II ECF-IF", "CBematech"},
      {"BEMATECH MP-2000 TH FI", "CBematech2000"},
      {"BEMATECH MP-2100 TH FI", "CBematech2100"},
      {"BEMATECH MP-25 FI", "CBematechMP25"},
      {"BEMATECH MP-3000 TH FI", "CBematechMP6000"},
      {"BEMATECH MP-40 FI II ECF-IF", "CBematech"},
      {"BEMATECH MP-4000 TH FI", "CBematechMP6000"},
      {"BEMATECH MP-50 FI", "CBematechMP25"},
      {"BEMATECH MP-6000 TH FI", "CBematechMP6000"},
      {"BEMATECH MP-7000 TH FI", "CBematechMP7000"},
      {"DARUMA FS-345", "CDaruma"},
      {"DARUMA FS2100T", "CDarumaFS600"},
      {"DARUMA FS600", "CDarumaFS600"},
      {"DARUMA FS700", "CDarumaFS600"},
      {"DARUMA FS700 H", "CDarumaFS600"},
      {"DARUMA FS700 M", "CDarumaFS600"},
      {"DARUMA MACH 1", "CDarumaMach2"},
      {"DARUMA MACH 2", "CDarumaMach2"},
      {"DATAREGIS QUICK", "CFiscNET"},
      {"ELGIN ECF IF SCFI 1E", "CSchalterECFIF"},
      {"ELGIN FIT", "CFiscNET"},
      {"ELGIN K", "CElginX5"},
      {"ELGIN X5", "CElginX5"},
      {"EPSON TM-T81F", "CEpson"},
      {"EPSON TM-T81FBIII", "CEpson"},
      {"IBM 4610 SUREMARK", "CIBM4610"},
      {"IBM 4610-SJ6", "CIBM4610SJ6"},
      {"ITAUTEC POS4000 ECF-IF/1E II", "CItautec"},
      {"ITAUTEC POS4000 ECF-IF/3E II", "CItautec"},
      {"ITAUTEC QW PRINTER 1E T3", "CItautecFiscNet"},
      {"NCR ECF-IF-02-01", "CNCR"},
      {"PERTOPAY 2023 ECF-IF", "CFiscNET"},
      {"PERTOPRINTER 1EF", "CFiscNET"},
      {"PROCOMP ECF-2002", "CMecafFPE301"},
      {"PROCOMP ECF-2011", "CMecaf"},
      {"SCHALTER D PRINT", "CSchalterECFIF"},
      {"SCHALTER S PRINT", "CSchalterECFIF"},
      {"SCHALTER ECF IF SCFI 1E", "CSchalterECFIF"},
      {"SWEDA IF S-7000I", "CSweda"},
      {"SWEDA IF S-7000IE", "CSweda"},
      {"SWEDA IF S-7000II", "CSweda"},
      {"SWEDA IF S-9000I", "CSweda"},
      {"SWEDA IF S-9000IE", "CSweda"},
      {"SWEDA IF S-9000II", "CSweda"},
      {"SWEDA IF S-9000IIIE", "CSweda"},
      {"SWEDA IF ST100", "CSwedaST"},
      {"SWEDA IF ST1000", "CSwedaST"},
      {"SWEDA IF ST120", "CSwedaST"},
      {"SWEDA IF ST200", "CSwedaST"},
      {"SWEDA IF ST2000", "CSwedaST"},
      {"SWEDA IF ST2500", "CSwedaST2500"},
      {"ZPM ZPM/1FIT LOGGER", "CZPM"},
      {"ZPM ZPM/2ECF LOGGER", "CZPM"},
      {"BEMATECH MP-4200 TH FI", "CECFCV2009"},
      {"EPSON TM-T900F", "CECFCV2009V2"},
      {"DARUMA FS800I", "CDarumaFS800i"},
  };
  return rows;
}

const std::vector<ModelRow>& checkModels() {
  static const std::vector<ModelRow> rows = {
      {"BEMATECH MP-40 FI II ECF-IF", "CBematech"},
      {"BEMATECH MP-50 FI", "CBematechMP25"},
      {"BEMATECH MP-6000 TH FI", "CBematechMP6000"},
      {"BEMATECH MP-7000 TH FI", "CBematechMP7000"},
      {"CHRONOS CHECK-PRONTO", "CChronos"},
      {"DARUMA FS2100T", "CDarumaFS600"},
      {"IBM 4610 SUREMARK", "CIBM4610"},
      {"IMPRECHEQ", "CImprecheq"},
      {"ITAUTEC POS4000 ECF-IF/3E II", "CItautec"},
      {"PERTOCHECK", "CPertoCheck"},
      {"PERTOPAY", "CPertoPay"},
      {"PERTOPAY 2023 ECF-IF", "CFiscNET"},
      {"PROCOMP ECF-2002", "CMecafFPE301"},
      {"SWEDA IF S-9000I", "CSweda"},
      {"SWEDA IF S-9000IE", "CSweda"},
      {"SWEDA IF S-9000II", "CSweda"},
      {"SWEDA IF S-9000IIIE", "CSweda"},
      {"SWEDA IF ST1000", "CSwedaST"},
      {"SWEDA IF ST2000", "CSwedaST"},
      {"SWEDA IF ST2500", "CSwedaST2500"},
      {"ZPM ZPM/2ECF LOGGER", "CZPM"},
  };
  return rows;
}

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
