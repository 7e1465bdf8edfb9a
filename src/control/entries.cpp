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

Value CTarvionCtrl::InvokeCp1252(const EntryInfo& entry, std::vector<Value>& args) {
  normalise(entry, args);
  try {
    return kImpl[indexOf(entry)].get(*state_, args.data());
  } catch (const std::exception& e) {
    state_->RecordError(whereOf(entry, false), e.what());
  } catch (...) {
    state_->RecordError(whereOf(entry, false), "Erro desconhecido.");
  }
  return Value::zero(entry.result);
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
