// The FS-prefixed models of the family: what each constructor sets on top of
// its base class, what a model row changes, and the extended status table each
// one reads ST3 against.
#include "core/capabilities.h"
#include "core/text.h"
#include "drivers/bematech/CBematech2000.h"
#include "drivers/bematech/CBematech2100.h"
#include "drivers/bematech/CBematechMP25.h"
#include "drivers/bematech/CBematechMP6000.h"
#include "drivers/bematech/CBematechMP7000.h"
#include "drivers/bematech/CIBM4610.h"

namespace tarvion {

using bematech::St3Table;
using text::cp;

void CBematech::Configure(const caps::ModelRow& row) {
  CECFBase::Configure(row);
  if (row.prefix) nPrefix = row.prefix;
  // The FS models keep their payment types across the Z reduction.
  bCutPaymentsOnZ = nPrefix == bematech::kFS ? kFalse : kTrue;
  Thermal = row.thermal ? kTrue : kFalse;
  HasPaperCutter = row.cutter ? kTrue : kFalse;
  CanReadCheck = row.canReadCheck ? kTrue : kFalse;
  bCmc7Reader = row.cmc7;
}

CBematech2000::CBematech2000() {
  Log("CBematech2000::CBematech2000", cp("início"));
  nPrefix = bematech::kFS;
  bCutPaymentsOnZ = kFalse;
  Columns = 48;
  Thermal = kTrue;
  SendFullReport = kTrue;
  FreeReport = kTrue;
  CanGetCurrentDocumentDateTime = kTrue;
  CanRegDiscountAnyItem = kTrue;
  CanCancelDiscountAnyItem = kTrue;
  CanCCDAfterReport = kTrue;
  Log("CBematech2000::CBematech2000", "Fim");
}

CBematech2100::CBematech2100() {
  Log("CBematech2100::CBematech2100", cp("início"));
  SendFullReport = kTrue;
  FreeReport = kTrue;
  Log("CBematech2100::CBematech2100", "Fim");
}

// The full table, not the MP-2000 one: the check starts again from CBematech.
BOOL CBematech2100::CheckForSuccess() {
  const BOOL ok = CBematech::CheckForSuccess();
  AppendSt3(St3Table::Full);
  if (!ok) Log("CBematech2100::CheckForSuccess", strLastError);
  return ok;
}

CBematechMP6000::CBematechMP6000() {
  Log("CBematechMP6000::CBematechMP6000", cp("início"));
  CanReadCheck = kTrue;
  HasPaperCutter = kTrue;
  SendFullReport = kTrue;
  CanAuthenticateDocument = kTrue;
  FreeReport = kTrue;
  Log("CBematechMP6000::CBematechMP6000", "Fim");
}

CBematechMP7000::CBematechMP7000() {
  Log("CBematechMP7000::CBematechMP7000", cp("início"));
  SendFullReport = kTrue;
  CanAuthenticateDocument = kTrue;
  FreeReport = kTrue;
  Log("CBematechMP7000::CBematechMP7000", "Fim");
}

CBematechMP25::CBematechMP25() {
  Log("CBematechMP25::CBematechMP25", cp("início"));
  nPrefix = bematech::kFS;
  bCutPaymentsOnZ = kFalse;
  CanReadCheck = kFalse;
  bCmc7Reader = false;
  SendFullReport = kTrue;
  CanAuthenticateDocument = kTrue;
  FreeReport = kTrue;
  Log("CBematechMP25::CBematechMP25", "Fim");
}

BOOL CBematechMP25::CheckForSuccess() {
  const BOOL ok = CBematech::CheckForSuccess();
  AppendSt3(St3Table::MP25);
  if (!ok) Log("CBematechMP25::CheckForSuccess", strLastError);
  return ok;
}

CIBM4610::CIBM4610() {
  Log("CIBM4610::CIBM4610", cp("início"));
  CanReadCheck = kFalse;
  bCmc7Reader = false;
  SendFullReport = kTrue;
  CanAuthenticateDocument = kTrue;
  FreeReport = kTrue;
  Log("CIBM4610::CIBM4610", "Fim");
}

// The MP-2000 check first (with its table's text), then this model's own text.
BOOL CIBM4610::CheckForSuccess() {
  const BOOL ok = CBematech2000::CheckForSuccess();
  AppendSt3(St3Table::IBM4610);
  if (!ok) Log("CIBM4610::CheckForSuccess", strLastError);
  return ok;
}

}  // namespace tarvion
