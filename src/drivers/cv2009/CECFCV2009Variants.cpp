// The variants of the 2009 command set driver: CECFCV2009V2 and CDarumaFS800i.
#include <cmath>

#include "core/fields.h"
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
  std::string out = s;
  for (char& c : out) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0xC0 || b > 0xFD) continue;
    switch (b) {
      case 0xD1:  // Ñ
        c = 'N';
        continue;
      case 0xDD:  // Ý
        c = 'Y';
        continue;
      case 0xF1:  // ñ
        c = 'n';
        continue;
      case 0xFD:  // ý
        c = 'y';
        continue;
      case 0xC5:  // Å Æ Ð × Ø Þ ß å æ ð ÷ ø þ stay
      case 0xC6:
      case 0xD0:
      case 0xD7:
      case 0xD8:
      case 0xDE:
      case 0xDF:
      case 0xE5:
      case 0xE6:
      case 0xF0:
      case 0xF7:
      case 0xF8:
      case 0xFE:
        continue;
      default:
        c = text::cp1252ToCp850(std::string(1, c))[0];
    }
  }
  return out;
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
