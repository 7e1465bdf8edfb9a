// The dispatch table and the one invoker every front end goes through.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "control/ctrl_state.h"
#include "core/text.h"
#include "tarvion/tarvion.hpp"

namespace tarvion {

#include "entries_table.inc"

namespace {
constexpr size_t kEntryCount = sizeof(kEntries) / sizeof(kEntries[0]);

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

size_t indexOf(const EntryInfo& e) {
  return static_cast<size_t>(&e - kEntries);
}

std::string whereOf(const EntryInfo& e, bool setter) {
  std::string w = "CTarvionCtrl::";
  if (setter)
    w += "Set";
  else if (e.kind != Kind::Method)
    w += "Get";
  return w + e.name;
}

// Gives every argument the type of its parameter, so a handler never reads a
// field the caller did not fill.
void normalise(const EntryInfo& e, std::vector<Value>& args) {
  args.resize(static_cast<size_t>(e.paramCount));
  for (int i = 0; i < e.paramCount; ++i) {
    Value& v = args[i];
    const ParamInfo& p = e.params[i];
    v.type = p.type;
    if (p.type == Type::Bool || p.type == Type::Short) v.i = static_cast<int16_t>(v.i);
    if (p.type != Type::Date) v.valid = true;
  }
}
}  // namespace

const EntryInfo* entryTable(size_t& count) {
  count = kEntryCount;
  return kEntries;
}

const EntryInfo* findEntry(std::string_view name) {
  for (auto& e : kEntries)
    if (sameName(e.name, name)) return &e;
  return nullptr;
}

const EntryInfo* findEntry(int dispid) {
  for (auto& e : kEntries)
    if (e.dispid == dispid) return &e;
  return nullptr;
}

const char* typeName(Type t) {
  switch (t) {
    case Type::Void:
      return "void";
    case Type::Bool:
      return "BOOL";
    case Type::Short:
      return "short";
    case Type::Long:
      return "long";
    case Type::Double:
      return "double";
    case Type::Date:
      return "date";
    case Type::String:
      return "string";
  }
  return "?";
}

const char* kindName(Kind k) {
  switch (k) {
    case Kind::Method:
      return "method";
    case Kind::Get:
      return "get";
    case Kind::GetSet:
      return "get/set";
  }
  return "?";
}

namespace detail {
void ControlState::RecordError(const std::string& where, const std::string& message) {
  std::string text = OpLog::shape(where, message);
  if (fiscal) fiscal->strLastError = text;
  log.write(text);
}
}  // namespace detail

CTarvionCtrl::CTarvionCtrl() : state_(std::make_unique<detail::ControlState>()) {}
CTarvionCtrl::~CTarvionCtrl() = default;

namespace {

// What a driver had written before a call, to tell afterwards whether the call
// put anything on its wire.
struct WriteMark {
  const CECFBase* driver;
  unsigned long written;
  explicit WriteMark(const DriverPtr& d) : driver(d.get()), written(d ? d->nCommandsWritten : 0) {
    if (d) d->lastOutcome = exchange::Outcome::Done;
  }
  // The commands the driver now in place wrote during the call (a driver
  // created by the call counts from nothing).
  unsigned long since(const DriverPtr& d) const {
    if (!d) return 0;
    return d.get() == driver ? d->nCommandsWritten - written : d->nCommandsWritten;
  }
};

// The outcome of a failed call from the driver it went to: nothing written,
// the failing command's own outcome, or, when every command it sent was
// carried out and the operation still failed, one that may have run.
CTarvionCtrl::Outcome failedOutcome(const DriverPtr& d, unsigned long written) {
  if (!d || written == 0) return CTarvionCtrl::Outcome::NotWritten;
  switch (d->lastOutcome) {
    case exchange::Outcome::NotWritten:
      return CTarvionCtrl::Outcome::NotWritten;
    case exchange::Outcome::Refused:
      return CTarvionCtrl::Outcome::Refused;
    default:
      return CTarvionCtrl::Outcome::MayHaveRun;
  }
}

}  // namespace

Value CTarvionCtrl::InvokeCp1252(const EntryInfo& entry, std::vector<Value>& args) {
  normalise(entry, args);
  const WriteMark fiscal(state_->fiscal), check(state_->check);
  Value r = Value::zero(entry.result);
  try {
    r = kImpl[indexOf(entry)].get(*state_, args.data());
  } catch (const std::exception& e) {
    state_->RecordError(whereOf(entry, false), e.what());
  } catch (...) {
    state_->RecordError(whereOf(entry, false), "Erro desconhecido.");
  }
  // Properties leave the outcome alone: reading UltimoErro after a failure
  // must not hide what became of the failed method.
  if (entry.kind != Kind::Method) return r;
  // Only a method's BOOL tells success; a BOOL property is a plain answer.
  const bool failed = entry.result == Type::Bool && r.i == 0;
  Outcome outcome = Outcome::Done;
  if (failed) {
    const unsigned long byCheck = check.since(state_->check);
    outcome =
        byCheck ? failedOutcome(state_->check, byCheck) : failedOutcome(state_->fiscal, fiscal.since(state_->fiscal));
  }
  state_->lastOutcome = static_cast<int>(outcome);
  return r;
}

CTarvionCtrl::Outcome CTarvionCtrl::LastOutcome() const {
  return static_cast<Outcome>(state_->lastOutcome);
}

bool CTarvionCtrl::SetPropertyCp1252(const EntryInfo& entry, const Value& value) {
  EntrySetter set = kImpl[indexOf(entry)].set;
  if (!set) return false;
  try {
    set(*state_, value);
  } catch (const std::exception& e) {
    state_->RecordError(whereOf(entry, true), e.what());
  } catch (...) {
    state_->RecordError(whereOf(entry, true), "Erro desconhecido.");
  }
  return true;
}

Value CTarvionCtrl::Invoke(const EntryInfo& entry, std::vector<Value>& args) {
  normalise(entry, args);
  for (int i = 0; i < entry.paramCount; ++i) {
    if (entry.params[i].type != Type::String) continue;
    if (entry.params[i].dir == Dir::Out)
      args[i].s.clear();
    else
      args[i].s = text::utf8ToCp1252(args[i].s);
  }
  Value r = InvokeCp1252(entry, args);
  for (int i = 0; i < entry.paramCount; ++i) {
    if (entry.params[i].type != Type::String || entry.params[i].dir == Dir::In) continue;
    args[i].s = entry.params[i].form == TextForm::Bytes ? text::latin1ToUtf8(args[i].s) : text::cp1252ToUtf8(args[i].s);
  }
  if (r.type == Type::String) r.s = text::cp1252ToUtf8(r.s);
  return r;
}

Value CTarvionCtrl::Invoke(int dispid, std::vector<Value>& args) {
  const EntryInfo* e = findEntry(dispid);
  return e ? Invoke(*e, args) : Value();
}

bool CTarvionCtrl::SetProperty(const EntryInfo& entry, const Value& value) {
  Value v = value;
  if (v.type == Type::String) v.s = text::utf8ToCp1252(v.s);
  return SetPropertyCp1252(entry, v);
}

}  // namespace tarvion
