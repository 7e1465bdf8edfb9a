// The description of the control's dispatch entries and the value type that
// carries their arguments and results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tarvion/tarvion.h"

namespace tarvion {

enum class Type : uint8_t { Void, Bool, Short, Long, Double, Date, String };
enum class Kind : uint8_t { Method, Get, GetSet };
enum class Dir : uint8_t { In, Out, InOut };
// How a string parameter is read: plain text, a double-NUL list of names, or raw
// bytes (each byte one character).
enum class TextForm : uint8_t { Plain, List, Bytes };

struct ParamInfo {
  const char* name;
  Type type;
  Dir dir;
  TextForm form;
};

struct EntryInfo {
  int dispid;
  const char* name;
  Kind kind;
  Type result;
  const ParamInfo* params;
  int paramCount;
};

// A dispatch value. Bool, Short and Long use i; Double and Date use d (Date is an
// automation date, with valid telling whether it holds one); String uses s.
struct Value {
  Type type = Type::Void;
  int32_t i = 0;
  double d = 0.0;
  bool valid = true;
  std::string s;

  static Value boolean(int v) { return integer(Type::Bool, static_cast<int16_t>(v)); }
  static Value shortInt(int v) { return integer(Type::Short, static_cast<int16_t>(v)); }
  static Value longInt(long v) { return integer(Type::Long, static_cast<int32_t>(v)); }
  static Value real(double v) {
    Value x;
    x.type = Type::Double;
    x.d = v;
    return x;
  }
  static Value date(double automationDate, bool isValid = true) {
    Value x;
    x.type = Type::Date;
    x.d = isValid ? automationDate : 0.0;
    x.valid = isValid;
    return x;
  }
  static Value string(std::string v) {
    Value x;
    x.type = Type::String;
    x.s = std::move(v);
    return x;
  }
  static Value zero(Type t) {
    Value x;
    x.type = t;
    return x;
  }

 private:
  static Value integer(Type t, int32_t v) {
    Value x;
    x.type = t;
    x.i = v;
    return x;
  }
};

// All entries in dispatch-identifier order.
TARVION_CXX_API const EntryInfo* entryTable(size_t& count);
// By name, ignoring case (as automation hosts look names up); null when unknown.
TARVION_CXX_API const EntryInfo* findEntry(std::string_view name);
TARVION_CXX_API const EntryInfo* findEntry(int dispid);
TARVION_CXX_API const char* typeName(Type t);
TARVION_CXX_API const char* kindName(Kind k);

}  // namespace tarvion
