// What each printer model is, as data: one row per model of the control's fiscal
// and check tables. The control picks the driver class from a row and hands the
// new driver its row (CECFBase::Configure), and the virtual printers build
// themselves from the same rows, so a model that differs from its family only
// in data is a row here and never a class or a condition on its number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvion::caps {

// The protocol a model speaks; one folder of drivers (and one virtual-printer
// face) per family.
enum class Family : uint8_t {
  None,           // no protocol: the plain base driver
  Bematech,       // ESC/FS framed binary protocol
  CV2009,         // the 2009 standard command set
  Daruma,         // Daruma FS600 and Mach
  DarumaClassic,  // older Daruma (FS-345)
  FiscNET,        // named-command text protocol
  CheckPrinter,   // stand-alone check printers
  SwedaST,        // Sweda ST
  SwedaClassic,   // older Sweda
  Epson,          // framed Epson protocol
  Schalter,       // Schalter ECF-IF
  Unsupported,    // a protocol this library does not speak (the port refuses to open)
};

// The extended status table a Bematech printer answers ST3 from.
enum class StatusTable : uint8_t { None, Full, MP25, IBM4610, MP2000 };

// How a check station's document sensor reports a check in place.
enum class DocumentSensor : uint8_t { None, Standard, MP7000 };

struct ModelRow {
  int number = 0;                // position in its table, from 1
  const char* name = "";         // as the control lists it
  const char* driverClass = "";  // the class the control creates
  Family family = Family::None;
  int maker = 0;       // maker code handed to the constructor (0: none)
  int columns = 0;     // printable columns the driver is given (0: the class's own)
  uint8_t prefix = 0;  // command prefix byte (Bematech: ESC 0x1B or FS 0x1C)
  StatusTable status = StatusTable::None;
  // The printer's hardware. The Bematech drivers take their capability flags
  // from these; the other families' classes fix their own.
  bool thermal = false;       // thermal print head
  bool cutter = false;        // paper cutter
  bool canReadCheck = false;  // a check reader the host may use
  DocumentSensor checkStation = DocumentSensor::None;
  bool cmc7 = false;               // CMC-7 reader in the check station
  int variant = 0;                 // a maker's variant code for the class (0: none)
  const char* usbClass = nullptr;  // device interface class of its USB driver
};

// The fiscal model table (number n is element n-1) and the check printer table.
const std::vector<ModelRow>& fiscalModels();
const std::vector<ModelRow>& checkModels();

// The row of a fiscal model number; null outside the table.
const ModelRow* fiscalModel(int number);
// The first fiscal row of a driver class (else its check row). Null for a
// class no table lists.
const ModelRow* classRow(const char* driverClass);

}  // namespace tarvion::caps
