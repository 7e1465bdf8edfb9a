#include "core/capabilities.h"

#include <cstring>

namespace tarvion::caps {

namespace {

constexpr uint8_t kESC = 0x1B, kFS = 0x1C;
constexpr const char* kBematechUsb = "{325DDF96-938C-11D3-9E34-0080C82727F4}";

struct Print {
  bool thermal = false, cutter = false, canReadCheck = false, cmc7 = true;
  DocumentSensor sensor = DocumentSensor::Standard;
};

ModelRow bematech(int n, const char* name, const char* cls, uint8_t prefix, int columns, StatusTable status, Print p) {
  ModelRow r;
  r.number = n;
  r.name = name;
  r.driverClass = cls;
  r.family = Family::Bematech;
  r.columns = columns;
  r.prefix = prefix;
  r.status = status;
  r.thermal = p.thermal;
  r.cutter = p.cutter;
  r.canReadCheck = p.canReadCheck;
  r.checkStation = p.sensor;
  r.cmc7 = p.cmc7;
  r.usbClass = kBematechUsb;
  return r;
}

ModelRow other(int n, const char* name, const char* cls, Family f, int maker = 0, int columns = 0, int variant = 0) {
  ModelRow r;
  r.number = n;
  r.name = name;
  r.driverClass = cls;
  r.family = f;
  r.maker = maker;
  r.columns = columns;
  r.variant = variant;
  return r;
}

// FiscNET printers: 48 columns; a check station on the models that have one,
// a cutter on those that cut after each document.
ModelRow fiscnet(int n, const char* name, const char* cls, bool checkStation = false, bool cutter = false) {
  ModelRow r;
  r.number = n;
  r.name = name;
  r.driverClass = cls;
  r.family = Family::FiscNET;
  r.columns = 48;
  r.cutter = cutter;
  r.canReadCheck = checkStation;
  r.checkStation = checkStation ? DocumentSensor::Standard : DocumentSensor::None;
  r.cmc7 = checkStation;
  return r;
}

// The 2009 command set: the constructor takes the maker's code.
ModelRow cv2009(int n, const char* name, const char* cls, int maker, int columns) {
  ModelRow r = other(n, name, cls, Family::CV2009, maker, columns);
  r.thermal = true;
  r.cutter = true;
  return r;
}

// Stand-alone check printers: the Perto printers read the CMC-7 line; the
// Chronos prints 82 columns, the others keep the driver interface's 40.
ModelRow checkPrinter(int n, const char* name, const char* cls, bool cmc7, int columns = 0) {
  ModelRow r = other(n, name, cls, Family::CheckPrinter, 0, columns);
  r.canReadCheck = cmc7;
  r.cmc7 = cmc7;
  r.checkStation = DocumentSensor::Standard;
  return r;
}

constexpr Print kMP20{};
constexpr Print kThermal{.thermal = true};
constexpr Print kMP6000{.thermal = true, .cutter = true, .canReadCheck = true};
constexpr Print kMP7000{.thermal = true, .cutter = true, .canReadCheck = true, .sensor = DocumentSensor::MP7000};
constexpr Print kMP25{.cmc7 = false};
constexpr Print kIBM4610{.thermal = true, .cmc7 = false};

}  // namespace

const std::vector<ModelRow>& fiscalModels() {
  using F = Family;
  using S = StatusTable;
  static const std::vector<ModelRow> rows = {
      bematech(1, "BEMATECH MP-20 FI II ECF-IF", "CBematech", kESC, 48, S::Full, kMP20),
      bematech(2, "BEMATECH MP-2000 TH FI", "CBematech2000", kFS, 48, S::MP2000, kThermal),
      bematech(3, "BEMATECH MP-2100 TH FI", "CBematech2100", kFS, 48, S::Full, kThermal),
      bematech(4, "BEMATECH MP-25 FI", "CBematechMP25", kFS, 48, S::MP25, kMP25),
      bematech(5, "BEMATECH MP-3000 TH FI", "CBematechMP6000", kFS, 48, S::Full, kMP6000),
      bematech(6, "BEMATECH MP-40 FI II ECF-IF", "CBematech", kESC, 40, S::Full, kMP20),
      bematech(7, "BEMATECH MP-4000 TH FI", "CBematechMP6000", kFS, 48, S::Full, kMP6000),
      bematech(8, "BEMATECH MP-50 FI", "CBematechMP25", kFS, 48, S::MP25, kMP25),
      bematech(9, "BEMATECH MP-6000 TH FI", "CBematechMP6000", kFS, 48, S::Full, kMP6000),
      bematech(10, "BEMATECH MP-7000 TH FI", "CBematechMP7000", kFS, 48, S::Full, kMP7000),
      other(11, "DARUMA FS-345", "CDaruma", F::DarumaClassic),
      other(12, "DARUMA FS2100T", "CDarumaFS600", F::Daruma),
      other(13, "DARUMA FS600", "CDarumaFS600", F::Daruma),
      other(14, "DARUMA FS700", "CDarumaFS600", F::Daruma),
      other(15, "DARUMA FS700 H", "CDarumaFS600", F::Daruma),
      other(16, "DARUMA FS700 M", "CDarumaFS600", F::Daruma),
      other(17, "DARUMA MACH 1", "CDarumaMach2", F::Daruma),
      other(18, "DARUMA MACH 2", "CDarumaMach2", F::Daruma),
      fiscnet(19, "DATAREGIS QUICK", "CFiscNET"),
      other(20, "ELGIN ECF IF SCFI 1E", "CSchalterECFIF", F::Schalter),
      fiscnet(21, "ELGIN FIT", "CFiscNET"),
      fiscnet(22, "ELGIN K", "CElginX5"),
      fiscnet(23, "ELGIN X5", "CElginX5"),
      other(24, "EPSON TM-T81F", "CEpson", F::Epson),
      other(25, "EPSON TM-T81FBIII", "CEpson", F::Epson),
      bematech(26, "IBM 4610 SUREMARK", "CIBM4610", kFS, 48, S::IBM4610, kIBM4610),
      other(27, "IBM 4610-SJ6", "CIBM4610SJ6", F::Unsupported),
      other(28, "ITAUTEC POS4000 ECF-IF/1E II", "CItautec", F::Unsupported),
      // The three-station model: narrower paper and its own variant code.
      other(29, "ITAUTEC POS4000 ECF-IF/3E II", "CItautec", F::Unsupported, 0, 43, 15),
      fiscnet(30, "ITAUTEC QW PRINTER 1E T3", "CItautecFiscNet", false, true),
      other(31, "NCR ECF-IF-02-01", "CNCR", F::Unsupported),
      fiscnet(32, "PERTOPAY 2023 ECF-IF", "CFiscNET", true),
      fiscnet(33, "PERTOPRINTER 1EF", "CFiscNET"),
      other(34, "PROCOMP ECF-2002", "CMecafFPE301", F::Unsupported),
      other(35, "PROCOMP ECF-2011", "CMecaf", F::Unsupported),
      other(36, "SCHALTER D PRINT", "CSchalterECFIF", F::Schalter),
      other(37, "SCHALTER S PRINT", "CSchalterECFIF", F::Schalter),
      other(38, "SCHALTER ECF IF SCFI 1E", "CSchalterECFIF", F::Schalter),
      other(39, "SWEDA IF S-7000I", "CSweda", F::SwedaClassic),
      other(40, "SWEDA IF S-7000IE", "CSweda", F::SwedaClassic),
      other(41, "SWEDA IF S-7000II", "CSweda", F::SwedaClassic),
      other(42, "SWEDA IF S-9000I", "CSweda", F::SwedaClassic),
      other(43, "SWEDA IF S-9000IE", "CSweda", F::SwedaClassic),
      other(44, "SWEDA IF S-9000II", "CSweda", F::SwedaClassic),
      other(45, "SWEDA IF S-9000IIIE", "CSweda", F::SwedaClassic),
      other(46, "SWEDA IF ST100", "CSwedaST", F::SwedaST),
      other(47, "SWEDA IF ST1000", "CSwedaST", F::SwedaST),
      other(48, "SWEDA IF ST120", "CSwedaST", F::SwedaST),
      other(49, "SWEDA IF ST200", "CSwedaST", F::SwedaST),
      other(50, "SWEDA IF ST2000", "CSwedaST", F::SwedaST),
      other(51, "SWEDA IF ST2500", "CSwedaST2500", F::SwedaST),
      fiscnet(52, "ZPM ZPM/1FIT LOGGER", "CZPM"),
      fiscnet(53, "ZPM ZPM/2ECF LOGGER", "CZPM", true),
      cv2009(54, "BEMATECH MP-4200 TH FI", "CECFCV2009", 1, 48),
      cv2009(55, "EPSON TM-T900F", "CECFCV2009V2", 2, 57),
      cv2009(56, "DARUMA FS800I", "CDarumaFS800i", 3, 48),
  };
  return rows;
}

// The check printer table. The control changes no member of these drivers, so
// the rows carry the printer's data and no creation details (columns, maker
// code, variant) that would differ from the class's own.
const std::vector<ModelRow>& checkModels() {
  using F = Family;
  using S = StatusTable;
  static const std::vector<ModelRow> rows = {
      // No creation details: its driver keeps the class's 48 columns.
      bematech(1, "BEMATECH MP-40 FI II ECF-IF", "CBematech", kESC, 0, S::Full, kMP20),
      bematech(2, "BEMATECH MP-50 FI", "CBematechMP25", kFS, 48, S::MP25, kMP25),
      bematech(3, "BEMATECH MP-6000 TH FI", "CBematechMP6000", kFS, 48, S::Full, kMP6000),
      bematech(4, "BEMATECH MP-7000 TH FI", "CBematechMP7000", kFS, 48, S::Full, kMP7000),
      checkPrinter(5, "CHRONOS CHECK-PRONTO", "CChronos", false, 82),
      other(6, "DARUMA FS2100T", "CDarumaFS600", F::Daruma),
      bematech(7, "IBM 4610 SUREMARK", "CIBM4610", kFS, 48, S::IBM4610, kIBM4610),
      checkPrinter(8, "IMPRECHEQ", "CImprecheq", false),
      other(9, "ITAUTEC POS4000 ECF-IF/3E II", "CItautec", F::Unsupported),
      checkPrinter(10, "PERTOCHECK", "CPertoCheck", true),
      checkPrinter(11, "PERTOPAY", "CPertoPay", true),
      fiscnet(12, "PERTOPAY 2023 ECF-IF", "CFiscNET", true),
      other(13, "PROCOMP ECF-2002", "CMecafFPE301", F::Unsupported),
      other(14, "SWEDA IF S-9000I", "CSweda", F::SwedaClassic),
      other(15, "SWEDA IF S-9000IE", "CSweda", F::SwedaClassic),
      other(16, "SWEDA IF S-9000II", "CSweda", F::SwedaClassic),
      other(17, "SWEDA IF S-9000IIIE", "CSweda", F::SwedaClassic),
      other(18, "SWEDA IF ST1000", "CSwedaST", F::SwedaST),
      other(19, "SWEDA IF ST2000", "CSwedaST", F::SwedaST),
      other(20, "SWEDA IF ST2500", "CSwedaST2500", F::SwedaST),
      fiscnet(21, "ZPM ZPM/2ECF LOGGER", "CZPM", true),
  };
  return rows;
}

const ModelRow* fiscalModel(int number) {
  const auto& rows = fiscalModels();
  if (number < 1 || number > static_cast<int>(rows.size())) return nullptr;
  return &rows[static_cast<size_t>(number - 1)];
}

const ModelRow* classRow(const char* driverClass) {
  if (!driverClass) return nullptr;
  for (const auto* table : {&fiscalModels(), &checkModels()})
    for (const ModelRow& r : *table)
      if (std::strcmp(r.driverClass, driverClass) == 0) return &r;
  return nullptr;
}

}  // namespace tarvion::caps
