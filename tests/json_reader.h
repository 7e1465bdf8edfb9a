// A small strict JSON reader for the tests: it refuses anything RFC 8259 does
// not allow (raw control characters in strings, malformed UTF-8, trailing
// text), so a test that reads output with it also checks that the output is
// valid JSON.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tjson {

struct Value {
  enum class T { Null, Bool, Number, String, Array, Object };
  T t = T::Null;
  bool b = false;
  double n = 0;
  std::string s;
  std::vector<Value> a;
  std::vector<std::pair<std::string, Value>> o;

  bool isNull() const { return t == T::Null; }
  const Value* find(std::string_view key) const {
    for (auto& kv : o)
      if (kv.first == key) return &kv.second;
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

class Reader {
 public:
  explicit Reader(std::string_view text) : p_(text) {}

  bool document(Value& out, std::string& error) {
    i_ = 0;
    ws();
    if (!value(out, 0)) {
      error = err_ + " at offset " + std::to_string(i_);
      return false;
    }
    ws();
    if (i_ != p_.size()) {
      error = "trailing text at offset " + std::to_string(i_);
      return false;
    }
    return true;
  }

 private:
  std::string_view p_;
  size_t i_ = 0;
  std::string err_;

  bool fail(const char* why) {
    err_ = why;
    return false;
  }
  void ws() {
    while (i_ < p_.size() && (p_[i_] == ' ' || p_[i_] == '\t' || p_[i_] == '\n' || p_[i_] == '\r')) ++i_;
  }
  bool lit(std::string_view w) {
    if (p_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }

  bool value(Value& v, int depth) {
    if (depth > 64) return fail("too deep");
    if (i_ >= p_.size()) return fail("unexpected end");
    char c = p_[i_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v.t = Value::T::String;
      return string(v.s);
    }
    if (lit("null")) {
      v.t = Value::T::Null;
      return true;
    }
    if (lit("true")) {
      v.t = Value::T::Bool;
      v.b = true;
      return true;
    }
    if (lit("false")) {
      v.t = Value::T::Bool;
      v.b = false;
      return true;
    }
    return number(v);
  }

  bool object(Value& v, int depth) {
    v.t = Value::T::Object;
    ++i_;
    ws();
    if (i_ < p_.size() && p_[i_] == '}') {
      ++i_;
      return true;
    }
    while (true) {
      ws();
      std::string key;
      if (i_ >= p_.size() || p_[i_] != '"') return fail("expected a key");
      if (!string(key)) return false;
      ws();
      if (i_ >= p_.size() || p_[i_] != ':') return fail("expected ':'");
      ++i_;
      ws();
      Value member;
      if (!value(member, depth + 1)) return false;
      v.o.emplace_back(std::move(key), std::move(member));
      ws();
      if (i_ < p_.size() && p_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < p_.size() && p_[i_] == '}') {
        ++i_;
        return true;
      }
      return fail("expected ',' or '}'");
    }
  }

  bool array(Value& v, int depth) {
    v.t = Value::T::Array;
    ++i_;
    ws();
    if (i_ < p_.size() && p_[i_] == ']') {
      ++i_;
      return true;
    }
    while (true) {
      ws();
      Value item;
      if (!value(item, depth + 1)) return false;
      v.a.push_back(std::move(item));
      ws();
      if (i_ < p_.size() && p_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < p_.size() && p_[i_] == ']') {
        ++i_;
        return true;
      }
      return fail("expected ',' or ']'");
    }
  }

  bool number(Value& v) {
    const size_t start = i_;
    auto digits = [&] {
      size_t from = i_;
      while (i_ < p_.size() && p_[i_] >= '0' && p_[i_] <= '9') ++i_;
      return i_ > from;
    };
    if (i_ < p_.size() && p_[i_] == '-') ++i_;
    if (i_ < p_.size() && p_[i_] == '0') {
      ++i_;
    } else if (!digits()) {
      return fail("bad value");
    }
    if (i_ < p_.size() && p_[i_] == '.') {
      ++i_;
      if (!digits()) return fail("bad fraction");
    }
    if (i_ < p_.size() && (p_[i_] == 'e' || p_[i_] == 'E')) {
      ++i_;
      if (i_ < p_.size() && (p_[i_] == '+' || p_[i_] == '-')) ++i_;
      if (!digits()) return fail("bad exponent");
    }
    v.t = Value::T::Number;
    v.n = std::strtod(std::string(p_.substr(start, i_ - start)).c_str(), nullptr);
    return true;
  }

  static void put(std::string& out, unsigned long c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  bool hex4(unsigned long& u) {
    if (i_ + 4 > p_.size()) return fail("short \\u escape");
    u = 0;
    for (int k = 0; k < 4; ++k) {
      char h = p_[i_++];
      u <<= 4;
      if (h >= '0' && h <= '9')
        u |= static_cast<unsigned long>(h - '0');
      else if (h >= 'a' && h <= 'f')
        u |= static_cast<unsigned long>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        u |= static_cast<unsigned long>(h - 'A' + 10);
      else
        return fail("bad \\u escape");
    }
    return true;
  }

  // Checks one UTF-8 sequence at i_ and copies it.
  bool utf8(std::string& out) {
    const auto b0 = static_cast<unsigned char>(p_[i_]);
    int len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF)
      len = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return fail("malformed UTF-8");
    }
    if (i_ + static_cast<size_t>(len) > p_.size()) return fail("truncated UTF-8");
    for (int k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(p_[i_ + static_cast<size_t>(k)]);
      if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return fail("malformed UTF-8");
    }
    out.append(p_.substr(i_, static_cast<size_t>(len)));
    i_ += static_cast<size_t>(len);
    return true;
  }

  bool string(std::string& out) {
    ++i_;  // opening quote
    while (true) {
      if (i_ >= p_.size()) return fail("unterminated string");
      const auto c = static_cast<unsigned char>(p_[i_]);
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c < 0x20) return fail("raw control character in a string");
      if (c >= 0x80) {
        if (!utf8(out)) return false;
        continue;
      }
      ++i_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (i_ >= p_.size()) return fail("unterminated escape");
      char e = p_[i_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned long u = 0;
          if (!hex4(u)) return false;
          if (u >= 0xD800 && u <= 0xDBFF) {
            unsigned long low = 0;
            if (!lit("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return fail("lone surrogate");
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return fail("lone surrogate");
          }
          put(out, u);
          break;
        }
        default:
          return fail("bad escape");
      }
    }
  }
};

inline bool parse(std::string_view text, Value& out, std::string& error) {
  return Reader(text).document(out, error);
}

}  // namespace tjson
