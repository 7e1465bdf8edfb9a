// The variants of the 2009 command set driver: CECFCV2009V2 and CDarumaFS800i.
#include <cmath>

#include "core/fields.h"
#include "core/host_text.h"
#include "core/text.h"
#include "drivers/cv2009/CDarumaFS800i.h"

namespace tarvion {

using namespace cv2009;
using text::cp;
using text::format;

CECFCV2009V2::CECFCV2009V2(int maker) : CECFCV2009(maker) {
  Log("CECFCV2009V2::CECFCV2009V2", cp("início"));
  Columns = 57;
  bSuportaNegrito = kFalse;
  bBaseCalculoDoECF = kTrue;
  Log("CECFCV2009V2::CECFCV2009V2", "Fim");
}

std::string CECFCV2009V2::ToPrinterCodePage(const std::string& s) {
  return text::foldPrinterText(s, text::charset::printer850());
}

bool CECFCV2009V2::QuantityParams(double quantity, std::string& digits, std::string& decimals, std::string& error) {
  decimals = std::string(1, '2');
  return hundredthsText(quantity, digits, error);
}

void CECFCV2009V2::DocumentStarting() {
  dtLastDocument = DateTime::invalid();
}

void CECFCV2009V2::DocumentDone(BOOL ok) {
  if (ok && arCampos.size() > 1) dtLastDocument = ParseDateTimeText(arCampos[1]);
  DateParts p;
  if (!dtLastDocument.parts(p)) p = DateParts{0, 0, 0, 0, 0, 0, 0};
  if (Logging())
    Log("CECFCV2009V2", format("dtLastDocument=%d/%d/%d %d:%d:%d", p.day, p.month, p.year, p.hour, p.minute, p.second));
}

BOOL CECFCV2009V2::IsCashDrawerClosed() {
  Log("CECFCV2009V2::IsCashDrawerClosed", "Retorno=TRUE (fixo)");
  return kTrue;
}

DateTime CECFCV2009V2::GetLastDocumentDateTime() {
  const char* where = "CECFCV2009V2::GetLastDocumentDateTime";
  try {
    if (!ReadInfo(where, 1, 4) || arCampos.size() < 2) return DateTime::invalid();
    const long record = integerOf(arCampos[1]);
    if (!ReadInfo(where, 17, static_cast<int>(record)) || arCampos.size() < 3) return DateTime::invalid();
    return ParseDateTimeText(arCampos[2]);
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return DateTime::invalid();
  }
}

BOOL CECFCV2009V2::ResetPAFECFIdentification() {
  const char* where = "CECFCV2009V2::ResetPAFECFIdentification";
  if (!bPAFIdentification) return kTrue;
  bPAFIdentification = kFalse;
  const BOOL ok = Execute(where, cmd::AppIdentification, {"."});
  LogResult(where, ok ? "TRUE" : "FALSE");
  return ok;
}

// ---------------------------------------------------------------- CDarumaFS800i

CDarumaFS800i::CDarumaFS800i(int maker) : CECFCV2009V2(maker) {
  Log("CDarumaFS800i::CDarumaFS800i", cp("início"));
  Columns = 48;
  bSuportaNegrito = kTrue;
  bBaseCalculoDoECF = kTrue;
  intTimeoutResposta = 10000;
  Log("CDarumaFS800i::CDarumaFS800i", "Fim");
}

BOOL CDarumaFS800i::CutPaper() {
  const char* where = "CDarumaFS800i::CutPaper";
  try {
    // The paper moves past the cutter first; the cut goes whatever that gave.
    Execute(where, cmd::PrintText, {"\n\n\n\n\n"});
    const BOOL ok = Execute(where, cmd::CutPaper, {});
    LogResult(where, ok ? "TRUE" : "FALSE");
    return ok;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

// The port keeps the settings it was given outside this program: they are read
// once and never written.
BOOL CDarumaFS800i::GetCommState() {
  if (!bReadSettings) {
    if (!hPort || !hPort->getSettings(dcb)) {
      if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
      SetSystemError();
      Log(format("CDarumaFS800i::GetCommState{Retorno=FALSE,Erro=%s}", strLastError.c_str()));
      return kFalse;
    }
    bReadSettings = true;
  }
  bCheckDSR = dcb.fDsrSensitivity ? kTrue : kFalse;
  bCheckCTS = dcb.fRtsControl != kRtsDisable ? kTrue : kFalse;
  return kTrue;
}

BOOL CDarumaFS800i::ReadLastCFeKey(std::string& strKey) {
  const char* where = "CDarumaFS800i::ReadLastCFeKey";
  try {
    if (!ReadInfo(where, 99, 105) || arCampos.empty()) {
      LogResult(where, "FALSE");
      return kFalse;
    }
    strKey = arCampos[0];
    Log(where, "strKey=" + strKey);
    return kTrue;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

}  // namespace tarvion
