// The FiscNET models: what each constructor sets beyond its row of the model
// tables.
#include "core/text.h"
#include "drivers/fiscnet/CElginX5.h"
#include "drivers/fiscnet/CItautecFiscNet.h"
#include "drivers/fiscnet/CZPM.h"

namespace tarvion {

using text::cp;

CElginX5::CElginX5() {
  Log("CElginX5::CElginX5", cp("início"));
  TakeModelRow("CElginX5");
  // Its DSR line means nothing: no flow control on it and no sensitivity.
  portProfile.fOutxDsrFlow = 0;
  portProfile.fDsrSensitivity = 0;
  Log("CElginX5::CElginX5", "Fim");
}

CItautecFiscNet::CItautecFiscNet() {
  Log("CItautecFiscNet::CItautecFiscNet", cp("início"));
  TakeModelRow("CItautecFiscNet");
  portProfile.fOutxDsrFlow = 0;
  Log("CItautecFiscNet::CItautecFiscNet", "Fim");
}

CZPM::CZPM() {
  Log("CZPM::CZPM", cp("início"));
  TakeModelRow("CZPM");
  Log("CZPM::CZPM", "Fim");
}

}  // namespace tarvion
