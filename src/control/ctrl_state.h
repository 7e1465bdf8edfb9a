// The control's own state and the pieces the entry handlers share.
#pragma once

#include <string>
#include <vector>

#include "core/capabilities.h"
#include "core/datetime.h"
#include "core/ecf_base.h"
#include "core/oplog.h"
#include "tarvion/entry.hpp"

namespace tarvion {
namespace detail {

struct ControlState {
  ControlState();
  ~ControlState();

  DriverPtr fiscal;  // objFiscalPrinter
  DriverPtr check;   // the check-printer driver
  std::string strLastError;
  OpLog log;
  std::string equipmentMaker, equipmentModel;
  int alterarHVAgendado = 0;
  // The outcome of the last call that ran (a tarvion::CTarvionCtrl::Outcome).
  int lastOutcome = 0;

  void Log(const std::string& where, const std::string& detail = {}) { log.log(where, detail); }
  void LogResult(const std::string& where, const std::string& result) { log.logResult(where, result, strLastError); }
  // "%s{%s}" of where and message: logged, and kept as the last error while a
  // fiscal driver exists.
  void RecordError(const std::string& where, const std::string& message);
};

}  // namespace detail

using detail::ControlState;

using EntryHandler = Value (*)(ControlState&, Value*);
using EntrySetter = void (*)(ControlState&, const Value&);
struct EntryImpl {
  EntryHandler get;
  EntrySetter set;
};

inline DateTime toDate(const Value& v) {
  return v.valid ? DateTime(v.d) : DateTime::invalid();
}
inline Value fromDate(const DateTime& d) {
  return Value::date(d.automationDate(), d.valid());
}

// The model tables: fiscal model n is row n-1.
using caps::checkModels;
using caps::fiscalModels;
using caps::ModelRow;
// Creates the driver class of a row by its class name; a plain CECFBase for null.
DriverPtr createDriver(const char* driverClass, int manufacturer = 0);

}  // namespace tarvion
