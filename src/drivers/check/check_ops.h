// What the stand-alone check printers share: the check configuration the host
// sets, the operations that need no command, and the result line their
// operations end with (the guard and the host-text helpers come from the core).
#pragma once

#include <string>

#include "core/ecf_base.h"
#include "core/operation.h"
#include "core/text.h"

namespace tarvion {

namespace check {

using op::guarded;
using op::lines;
using op::oneLine;

// "Retorno=TRUE" or "Retorno=FALSE, <message>".
inline constexpr auto& finish = op::finish<op::ResultLine::ErrorAfter>;
inline constexpr auto& refuse = op::refuse<op::ResultLine::ErrorAfter>;

}  // namespace check

// The base of the check printers: a printer that keeps no tables, so loading
// them asks nothing, and that keeps the check's data the host gives it.
class CCheckPrinter : public CECFBase {
 protected:
  // The check printers' line: no hardware flow control, DTR held on, RTS off.
  static PortProfile plainLine(const char* tag) {
    PortProfile p;
    p.logTag = tag;
    p.fDsrSensitivity = 0;
    p.fOutxCtsFlow = 0;
    p.fOutxDsrFlow = 0;
    p.fDtrControl = kDtrEnable;
    p.fRtsControl = kRtsDisable;
    return p;
  }

 public:
  BOOL InitialConfiguration() override { return kTrue; }
  BOOL LoadTaxes() override { return kTrue; }
  BOOL LoadPaymentTypes(BOOL) override { return kTrue; }
  BOOL LoadPaymentTypes() override { return kTrue; }
  BOOL LoadNonFiscalTitles() override { return kTrue; }
  BOOL LoadReports() override { return kTrue; }

  // The check's data as the printer will print it: one-line host text in the
  // printer's plain characters, the currency names cut to 20, the city to 30
  // and the payee to 80; the dates as given.
  std::string strSingleCurrency, strMultipleCurrency, strCheckLocal, strCheckCarrier;
  DateTime dtCheck, dtDeposit;

 protected:
  void StoreCheckConfiguration(const std::string& single, const std::string& multiple, const std::string& local,
                               const std::string& carrier, DateTime check, DateTime deposit) {
    auto plain = [&](const std::string& s, size_t width) {
      return FormatPrinterText(check::oneLine(s)).substr(0, width);
    };
    strSingleCurrency = plain(single, 20);
    strMultipleCurrency = plain(multiple, 20);
    strCheckLocal = plain(local, 30);
    strCheckCarrier = plain(carrier, 80);
    dtCheck = check;
    dtDeposit = deposit;
  }
  // Sends the pending buffers as one command of a chain, logging what failed.
  BOOL SendPending(const char* where) {
    const BOOL ok = Submit();
    if (!ok) Log(where, text::format("Falha no comando: %s", strLastError.c_str()));
    return ok;
  }
};

}  // namespace tarvion
