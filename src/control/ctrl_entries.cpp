// The entries that do more than forward: the control's own logic.
#include <stdexcept>

#include "control/ctrl_state.h"
#include "core/model_lookup.h"
#include "core/text.h"

namespace tarvion {

using text::cp;
using text::format;

namespace detail {

ControlState::ControlState() {
  Log(cp("CTarvionCtrl::CTarvionCtrl{início}"));
  Log("CTarvionCtrl::CTarvionCtrl{fim}");
}

ControlState::~ControlState() {
  Log(cp("CTarvionCtrl::~CTarvionCtrl{início}"));
  for (DriverPtr* d : {&fiscal, &check}) {
    if (!*d) continue;
    try {
      if ((*d)->bPortOpen) (*d)->CloseComm();
    } catch (...) {
    }
    d->reset();
  }
  Log("CTarvionCtrl::~CTarvionCtrl{fim}");
}

}  // namespace detail

namespace {

const std::string kNotInitialised =
    "A comunicação com a impressora ainda não foi inicializada ou a impressora não foi configurada.";
const char* kPortMustBePositive = "O número da porta serial deve ser maior que zero.";

// Runs a driver call with an out flag that is cleared first and set only on success.
template <class F>
Value withOutFlag(ControlState& c, Value* a, F call) {
  a[0].i = 0;
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::zero(Type::Bool);
  BOOL flag = 0;
  BOOL r = call(*d, flag);
  if (r) a[0].i = flag;
  return Value::boolean(r);
}

std::string joinNames(const std::vector<ModelRow>& rows) {
  std::string s;
  for (const ModelRow& r : rows) {
    s += r.name;
    s += '\0';
  }
  s.append(2, '\0');
  return s;
}

Value registerItem(ControlState& c, Value* a, bool service) {
  const std::string where = service ? "CTarvionCtrl::RegisterService" : "CTarvionCtrl::RegistraItemFiscal";
  c.Log(where, cp("início"));
  CECFBase* d = c.fiscal.get();
  if (!d) {
    c.Log(where, "Retorno=FALSE");
    return Value::boolean(0);
  }
  if (a[6].d == a[5].d) {
    d->strLastError = cp("Não é possível lançar um desconto de 100%.");
    c.LogResult(where, "FALSE");
    return Value::boolean(0);
  }
  BOOL r = service ? d->RegisterService(a[0].s, a[1].s, a[2].s, a[3].d, a[4].d, a[5].d, a[6].d)
                   : d->RegistraItemFiscal(a[0].s, a[1].s, a[2].s, a[3].d, a[4].d, a[5].d, a[6].d);
  if (r && !d->bItemCountByDriver && d->nLastItemNumber >= 0) ++d->nLastItemNumber;
  c.Log(where, r ? "Retorno=TRUE" : "Retorno=FALSE");
  return Value::boolean(r);
}

// Entries that log "início" before the call and "Retorno=%d" after it.
template <class F>
Value loggedCall(ControlState& c, const char* name, const std::string& before, F call) {
  std::string where = std::string("CTarvionCtrl::") + name;
  c.Log(where, before);
  CECFBase* d = c.fiscal.get();
  BOOL r = d ? call(*d) : 0;
  c.Log(where, format("Retorno=%d", r));
  return Value::boolean(r);
}

const TaxEntry* taxAt(ControlState& c, int index) {
  CECFBase* d = c.fiscal.get();
  if (!d || index < 0 || index >= d->TaxesCount || index >= static_cast<int>(d->arTaxTable.size())) return nullptr;
  return &d->arTaxTable[index];
}

}  // namespace

// ------------------------------------------------------------------ model names

// ExisteECF takes a fiscal name in either case and with blanks after it (a
// host's fixed-width field); a check printer's name counts only as its table
// writes it.
Value entry_ExisteECF(ControlState&, Value* a) {
  const ModelRow* row = caps::findModel(fiscalModels(), a[0].s, caps::NameMatch::TrailingBlanks);
  return Value::longInt(row ? row->number : 0);
}

static const ModelRow* checkModel(const std::string& name) {
  return caps::findModel(checkModels(), name, caps::NameMatch::Exact);
}

Value entry_CheckPrinterID(ControlState&, Value* a) {
  const ModelRow* row = checkModel(a[0].s);
  return Value::longInt(row ? row->number : 0);
}

Value entry_ImpressorasDisponiveis(ControlState&, Value* a) {
  a[0].s = joinNames(fiscalModels());
  return Value::boolean(-1);
}

Value entry_CheckPrinters(ControlState&, Value* a) {
  a[0].s = joinNames(checkModels());
  return Value::boolean(-1);
}

// ------------------------------------------------------------------ initialisation

Value entry_InitializeECF(ControlState& c, Value* a) {
  const char* where = "CTarvionCtrl::InitializeECF";
  const int model = a[0].i, port = a[1].i;
  c.Log(
      format("%s{intModeloECF=%i,intNumeroPorta=%i,intVelocidade=%i,intParidade=%i,intBitsDados=%i,intBitsStop=%i,"
             "intControleFluxo=%i,bOpenComm=%s,bReadPrinterInfo=%s}",
             where, model, port, a[2].i, a[3].i, a[4].i, a[5].i, a[6].i, boolText(a[7].i), boolText(a[8].i)));
  if (c.fiscal) {
    c.Log(format("%s{Reiniciando objFiscalPrinter}", where));
    if (c.fiscal->bPortOpen) c.fiscal->CloseComm();
    c.fiscal.reset();
  }
  c.strLastError.clear();
  if (port <= 0) {
    c.strLastError = cp(kPortMustBePositive);
    c.Log(format("%s{Retorno=FALSE,strLastError=%s}", where, c.strLastError.c_str()));
    return Value::boolean(0);
  }
  const ModelRow* row = caps::fiscalModel(model);
  c.fiscal = createDriver(row ? row->driverClass : nullptr, row ? row->maker : 0);
  if (row) c.fiscal->Configure(*row);
  c.Log(format("%s{objFiscalPrinter classe=%s}", where, row ? row->driverClass : "CECFBase"));
  CECFBase& d = *c.fiscal;
  d.nPortNumber = port;
  d.nBaudRate = a[2].i;
  d.nParity = d.GetParity();
  d.nDataBits = a[4].i;
  d.nStopBits = a[5].i;
  d.nFlowControl = a[6].i;
  d.AlterarHVAgendado = c.alterarHVAgendado;
  BOOL result = -1;
  if (a[7].i) result = d.OpenComm(a[8].i);
  c.Log(format("%s{Retorno=%s,strLastError=%s}", where, boolText(result), result ? "" : c.strLastError.c_str()));
  if (result) {
    if (!row) throw std::invalid_argument("Encountered an improper argument.");
    std::string name = row->name;
    size_t blank = name.find(' ');
    if (blank != std::string::npos && blank > 0) {
      c.equipmentMaker = name.substr(0, blank);
      c.equipmentModel = name.substr(blank + 1);
    } else {
      c.equipmentMaker = name;
    }
  }
  return Value::boolean(result);
}

Value entry_InitializeCheckPrinter(ControlState& c, Value* a) {
  c.check.reset();
  c.strLastError.clear();
  const int port = a[1].i;
  if (port <= 0) {
    c.strLastError = cp(kPortMustBePositive);
    return Value::boolean(0);
  }
  const ModelRow* row = checkModel(a[0].s);
  c.check = createDriver(row ? row->driverClass : nullptr);
  if (row) c.check->Configure(*row);
  CECFBase& d = *c.check;
  if (c.fiscal && c.fiscal->nPortNumber == port) {
    // The check printer shares the fiscal printer's open port; it does not own it.
    d.nPortNumber = c.fiscal->nPortNumber;
    d.hPort = c.fiscal->hPort;
    return Value::boolean(d.InitialConfiguration() ? -1 : 0);
  }
  d.nPortNumber = port;
  d.nBaudRate = a[2].i;
  d.nParity = d.GetParity();
  d.nDataBits = a[4].i;
  d.nStopBits = a[5].i;
  return Value::boolean(d.OpenComm(kTrue));
}

// ------------------------------------------------------------------ errors

Value entry_UltimoErro(ControlState& c, Value*) {
  if (!c.fiscal && !c.check) {
    if (c.strLastError.find(cp("A comunicação com a impressora")) == std::string::npos)
      c.strLastError += "\r\n" + cp(kNotInitialised);
    return Value::string(c.strLastError);
  }
  if (c.fiscal && !c.fiscal->strLastError.empty())
    c.strLastError = c.fiscal->strLastError;
  else if (c.check && !c.check->strLastError.empty())
    c.strLastError = c.check->strLastError;
  else
    c.strLastError = "Erro indefinido (sem retorno).";
  return Value::string(c.strLastError);
}

// ------------------------------------------------------------------ sale

Value entry_RegistraItemFiscal(ControlState& c, Value* a) {
  return registerItem(c, a, false);
}
Value entry_RegisterService(ControlState& c, Value* a) {
  return registerItem(c, a, true);
}

Value entry_RedefineFormasPagamento(ControlState& c, Value* a) {
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::boolean(0);
  std::vector<std::string> names;
  const std::string& s = a[0].s;
  const long length = a[1].i;
  if (length < 1) {
    std::string rest = s;
    for (size_t slash = rest.find('/'); slash != std::string::npos && slash >= 1; slash = rest.find('/')) {
      names.push_back(rest.substr(0, slash));
      rest.erase(0, slash + 1);
    }
  } else {
    // NUL-separated names in the first `length` bytes (never past the text we hold).
    const size_t limit = std::min(static_cast<size_t>(length), s.size());
    size_t offset = 0;
    while (offset < limit) {
      size_t end = s.find('\0', offset);
      if (end == std::string::npos || end > limit) end = limit;
      if (end > offset) names.push_back(s.substr(offset, end - offset));
      offset = end + 1;
    }
  }
  return Value::boolean(d->RedefineFormasPagamento(names) ? -1 : 0);
}

Value entry_VerificaHorarioVerao(ControlState& c, Value* a) {
  return withOutFlag(c, a, [](CECFBase& d, BOOL& f) { return d.VerificaHorarioVerao(f); });
}
Value entry_CupomFiscalAberto(ControlState& c, Value* a) {
  return withOutFlag(c, a, [](CECFBase& d, BOOL& f) { return d.CupomFiscalAberto(f); });
}
Value entry_FiscalReceiptStatus(ControlState& c, Value* a) {
  return withOutFlag(c, a, [](CECFBase& d, BOOL& f) { return d.CupomFiscalAberto(f); });
}

Value entry_PaymentTypeIndex(ControlState& c, Value* a) {
  if (!c.fiscal) return Value::shortInt(-1);
  return Value::shortInt(c.fiscal->PaymentTypeIndex(a[0].s));
}

Value entry_PaymentTypeCount(ControlState& c, Value*) {
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::shortInt(0);
  if (d->arPaymentTypes.size() < 2 && !d->LoadPaymentTypes(kFalse))
    d->Log(cp("Não conseguiu recarregar formas de pagamento."));
  return Value::shortInt(static_cast<int>(d->arPaymentTypes.size()));
}

Value entry_CutPaper(ControlState& c, Value*) {
  const char* where = "CTarvionCtrl::CutPaper";
  c.Log(where, cp("início"));
  CECFBase* d = c.fiscal.get();
  if (!d || !d->HasPaperCutter) {
    c.Log(where, "Retorno=FALSE");
    return Value::boolean(0);
  }
  BOOL r = d->CutPaper();
  c.Log(where, r ? "Retorno=TRUE" : "Retorno=FALSE");
  return Value::boolean(r);
}

Value entry_ReadDateTime(ControlState& c, Value* a) {
  const char* where = "CTarvionCtrl::ReadDateTime";
  c.Log(where, cp("início"));
  CECFBase* d = c.fiscal.get();
  if (!d) {
    c.Log(where, "Retorno=0");
    return Value::boolean(0);
  }
  DateTime dt;
  BOOL r = d->ReadDateTime(dt) ? -1 : 0;
  if (r && !dt.valid()) {
    d->strLastError = cp("Erro lendo informações da impressora fiscal.");
    c.Log(where, "Retorno=0");
    return Value::boolean(0);
  }
  if (r) {
    a[0].d = dt.automationDate();
    a[0].valid = true;
  }
  c.Log(where, format("Retorno=%d", r));
  return Value::boolean(r);
}

Value entry_OpenNamedReport(ControlState& c, Value* a) {
  return loggedCall(c, "OpenNamedReport", format("strReportName=%s", a[0].s.c_str()),
                    [&](CECFBase& d) { return d.OpenNamedReport(a[0].s); });
}

Value entry_CancelaDescontoItem(ControlState& c, Value* a) {
  return loggedCall(c, "CancelaDescontoItem", format("intItem=%d, bAcrescimo=%s", a[0].i, boolText(a[1].i)),
                    [&](CECFBase& d) { return d.CancelaDescontoItem(a[0].i, a[1].i); });
}

Value entry_RegistraDescontoItemApos(ControlState& c, Value* a) {
  return loggedCall(c, "RegistraDescontoItemApos",
                    format("intItem=%d, dblValorDesconto=%s", a[0].i, text::fixed(a[1].d, 6).c_str()),
                    [&](CECFBase& d) { return d.RegistraDescontoItemApos(a[0].i, a[1].d); });
}

Value entry_ContinueComm(ControlState& c, Value*) {
  return loggedCall(c, "ContinueComm", cp("início"), [](CECFBase& d) { return d.ContinueComm(); });
}

Value entry_PauseComm(ControlState& c, Value*) {
  return loggedCall(c, "PauseComm", cp("início"), [](CECFBase& d) { return d.PauseComm(); });
}

Value entry_GetPAFECFIdentification(ControlState& c, Value* a) {
  const char* where = "CTarvionCtrl::GetPAFECFIdentification";
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::boolean(0);
  c.Log(where, cp("início"));
  a[0].s.clear();
  a[1].s.clear();
  BOOL r = d->GetPAFECFIdentification(a[0].s, a[1].s);
  c.Log(where, r ? "Retorno=TRUE" : "Retorno=FALSE");
  return Value::boolean(r);
}

Value entry_EnviaComandoECF(ControlState& c, Value* a) {
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::boolean(0);
  const std::string& cmd = a[0].s;
  const size_t n = a[1].i <= 0 ? 0 : std::min(static_cast<size_t>(a[1].i), cmd.size());
  ByteArray command(cmd.begin(), cmd.begin() + static_cast<std::ptrdiff_t>(n));
  ByteArray answer;
  BOOL r = d->EnviaComandoECF(command, answer);
  if (r) {
    const size_t take = a[3].i <= 0 ? 0 : std::min(answer.size(), static_cast<size_t>(a[3].i));
    a[2].s.assign(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(take));
    a[3].i = static_cast<int32_t>(take);
  }
  return Value::boolean(r);
}

Value entry_OpenCheckComm(ControlState& c, Value*) {
  if (!c.check) return Value::boolean(0);
  return Value::boolean(c.check->OpenComm(kTrue));
}

// ------------------------------------------------------------------ properties

Value entry_CommHandle(ControlState& c, Value*) {
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::longInt(0);
  return Value::longInt(d->hPort ? d->hPort->handleValue() : -1);
}

Value entry_TaxPercents(ControlState& c, Value* a) {
  const TaxEntry* t = taxAt(c, a[0].i);
  return Value::real(t ? t->percent : 0.0);
}
Value entry_TaxBaseValues(ControlState& c, Value* a) {
  const TaxEntry* t = taxAt(c, a[0].i);
  return Value::real(t ? t->baseValue : 0.0);
}
Value entry_TaxTitles(ControlState& c, Value* a) {
  const TaxEntry* t = taxAt(c, a[0].i);
  return Value::string(t ? t->title : std::string());
}

Value entry_SerialNumber(ControlState& c, Value*) {
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::string({});
  if (d->strSerialNumber.empty()) d->ReadSerialNumber(d->strSerialNumber);
  return Value::string(d->strSerialNumber);
}

Value entry_PrinterID(ControlState& c, Value*) {
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::longInt(0);
  if (d->intPrinterID == 0) d->intPrinterID = static_cast<int>(d->GetPrinterID());
  return Value::longInt(d->intPrinterID);
}

Value entry_FiscalDate(ControlState& c, Value*) {
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::zero(Type::Date);
  d->Log("CTarvionCtrl::GetFiscalDate");
  return fromDate(d->GetFiscalDate());
}

Value entry_DocumentInserted(ControlState& c, Value*) {
  if (c.check) return Value::boolean(c.check->IsDocumentInserted());
  if (c.fiscal) return Value::boolean(c.fiscal->IsDocumentInserted());
  return Value::boolean(0);
}

Value entry_EquipamentMark(ControlState& c, Value*) {
  if (!c.fiscal) return Value::string({});
  std::string s = c.fiscal->GetEquipamentMark();
  return Value::string(s.empty() ? c.equipmentMaker : s);
}

Value entry_EquipamentModel(ControlState& c, Value*) {
  if (!c.fiscal) return Value::string({});
  std::string s = c.fiscal->GetEquipamentModel();
  return Value::string(s.empty() ? c.equipmentModel : s);
}

Value entry_DataMovUltimaRZ(ControlState& c, Value*) {
  const char* where = "CTarvionCtrl::GetDataMovUltimaRZ";
  CECFBase* d = c.fiscal.get();
  if (!d) return Value::zero(Type::Date);
  c.Log(where, cp("início"));
  DateTime dt = d->GetDataMovUltimaRZ();
  DateParts p;
  // An invalid date shows the framework's error value in every field.
  if (!dt.parts(p)) p.day = p.month = p.year = -1;
  c.Log(where, format("Retorno=%.2d/%.2d/%.4d", p.day, p.month, p.year));
  return fromDate(dt);
}

Value entry_LastItemNumber(ControlState& c, Value*) {
  const char* where = "CTarvionCtrl::GetLastItemNumber";
  c.Log(where, cp("início"));
  long n = c.fiscal ? c.fiscal->GetLastItemNumber() : -1;
  c.Log(where, format("Retorno=%ld", n));
  return Value::longInt(n);
}

Value entry_StatusComprovante(ControlState& c, Value*) {
  const char* where = "CTarvionCtrl::StatusComprovante";
  c.Log(where, cp("início"));
  long n = c.fiscal ? c.fiscal->StatusComprovante() : -1;
  c.Log(where, format("Retorno=%ld", n));
  return Value::longInt(n);
}

Value entry_CupomAdicionalAoFecharCF(ControlState& c, Value*) {
  BOOL r = c.fiscal ? c.fiscal->CupomAdicionalAoFecharCF : 0;
  c.Log("CTarvionCtrl::CupomAdicionalAoFecharCF", r ? "Retorno=TRUE" : "Retorno=FALSE");
  return Value::boolean(r);
}

Value entry_AlterarHVAgendado(ControlState& c, Value*) {
  int v = c.fiscal ? c.fiscal->AlterarHVAgendado : c.alterarHVAgendado;
  return Value::boolean(v > 0 ? -1 : 0);
}

void set_AlterarHVAgendado(ControlState& c, const Value& v) {
  c.Log("CTarvionCtrl::SetAlterarHVAgendado", boolText(v.i));
  c.alterarHVAgendado = v.i ? 1 : 0;
  if (c.fiscal) c.fiscal->AlterarHVAgendado = c.alterarHVAgendado;
}

}  // namespace tarvion
