// Reads the JSON the tool prints into a small value the tests look into. The
// parser (nlohmann's) refuses anything RFC 8259 does not allow (raw control
// characters in strings, malformed UTF-8, trailing text), so a test that reads
// output with it also checks that the output is valid JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace tjson {

struct Value {
  enum class T { Null, Bool, Number, String, Array, Object };
  T t = T::Null;
  bool b = false;
  double n = 0;
  std::string s;
  std::vector<Value> a;
  // An object's members in the order printed; two lists, since a pair of a
  // still incomplete Value does not compile with every standard library.
  std::vector<std::string> keys;
  std::vector<Value> members;

  bool isNull() const { return t == T::Null; }
  const Value* find(std::string_view key) const {
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i] == key) return &members[i];
    return nullptr;
  }
  // The member, or a null value when there is none.
  const Value& operator[](std::string_view key) const {
    static const Value none;
    const Value* v = find(key);
    return v ? *v : none;
  }
  const Value& operator[](size_t i) const {
    static const Value none;
    return i < a.size() ? a[i] : none;
  }
};

inline Value fromJson(const nlohmann::ordered_json& j) {
  Value v;
  if (j.is_boolean()) {
    v.t = Value::T::Bool;
    v.b = j.get<bool>();
  } else if (j.is_number()) {
    v.t = Value::T::Number;
    v.n = j.get<double>();
  } else if (j.is_string()) {
    v.t = Value::T::String;
    v.s = j.get<std::string>();
  } else if (j.is_array()) {
    v.t = Value::T::Array;
    for (const auto& e : j) v.a.push_back(fromJson(e));
  } else if (j.is_object()) {
    v.t = Value::T::Object;
    for (const auto& [key, e] : j.items()) {
      v.keys.push_back(key);
      v.members.push_back(fromJson(e));
    }
  }
  return v;
}

inline bool parse(std::string_view text, Value& out, std::string& error) {
  try {
    out = fromJson(nlohmann::ordered_json::parse(text));
    return true;
  } catch (const nlohmann::json::exception& e) {
    error = e.what();
    return false;
  }
}

}  // namespace tjson
