// The FiscNET models: what each constructor sets on top of CFiscNET.
#include "core/text.h"
#include "drivers/fiscnet/CElginX5.h"
#include "drivers/fiscnet/CItautecFiscNet.h"
#include "drivers/fiscnet/CZPM.h"

namespace tarvion {

using text::cp;

CElginX5::CElginX5() {
  Log("CElginX5::CElginX5", cp("início"));
  // Its DSR line means nothing: no flow control on it and no sensitivity.
  portProfile.fOutxDsrFlow = 0;
  portProfile.fDsrSensitivity = 0;
  Log("CElginX5::CElginX5", "Fim");
}

CItautecFiscNet::CItautecFiscNet() {
  Log("CItautecFiscNet::CItautecFiscNet", cp("início"));
  portProfile.fOutxDsrFlow = 0;
  Log("CItautecFiscNet::CItautecFiscNet", "Fim");
}

CZPM::CZPM() {
  Log("CZPM::CZPM", cp("início"));
  Log("CZPM::CZPM", "Fim");
}

}  // namespace tarvion
