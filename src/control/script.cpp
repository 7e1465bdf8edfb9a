// The shell's line language: parsing a line into a call of the control, and
// reporting the call as a human line or a JSON object.
#include "control/script.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>

#include "control/ctrl_state.h"
#include "core/datetime.h"
#include "core/text.h"

namespace tarvion::script {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::string_view skipBlanks(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isBlank(s[i])) ++i;
  return s.substr(i);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char32_t kBad = 0xFFFFFFFF;

// Decodes the well-formed UTF-8 sequence at i (advancing past it); kBad and one
// byte consumed for anything malformed: stray continuation bytes, overlong
// forms, surrogates and code points beyond U+10FFFF.
char32_t decodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t c = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    c = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    c = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++i;
    return kBad;
  }
  if (i + static_cast<size_t>(len) > s.size()) {
    ++i;
    return kBad;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    const unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) {
      ++i;
      return kBad;
    }
    c = (c << 6) | (b & 0x3F);
  }
  i += static_cast<size_t>(len);
  return c;
}

bool isControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

std::string hex2(unsigned v) {
  static const char* digits = "0123456789abcdef";
  return {digits[(v >> 4) & 0xF], digits[v & 0xF]};
}

int inParamCount(const EntryInfo& e) {
  int n = 0;
  for (int i = 0; i < e.paramCount; ++i)
    if (e.params[i].dir != Dir::Out) ++n;
  return n;
}

std::string paramList(const EntryInfo& e) {
  std::string s;
  for (int i = 0; i < e.paramCount; ++i) {
    if (e.params[i].dir == Dir::Out) continue;
    if (!s.empty()) s += ", ";
    s += e.params[i].name;
  }
  return s;
}

bool parseInteger(const std::string& token, long long min, long long max, long long& out, std::string& error) {
  std::string_view t = token;
  const bool plus = !t.empty() && t[0] == '+';
  if (plus) t.remove_prefix(1);
  long long v = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || (plus && t[0] == '-') || ec == std::errc::invalid_argument || ptr != t.data() + t.size()) {
    error = "'" + token + "' is not an integer";
    return false;
  }
  if (ec == std::errc::result_out_of_range || v < min || v > max) {
    error = "'" + token + "' is out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")";
    return false;
  }
  out = v;
  return true;
}

bool parseDouble(const std::string& token, double& out, std::string& error) {
  std::string_view t = token;
  const bool plus = !t.empty() && t[0] == '+';
  if (plus) t.remove_prefix(1);
  double v = 0;
  // from_chars reads "nan" and "inf" too; they are refused below.
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
  if (t.empty() || (plus && t[0] == '-') || ec == std::errc::invalid_argument || ptr != t.data() + t.size()) {
    error = "'" + token + "' is not a number (write it with a decimal point)";
    return false;
  }
  if (ec == std::errc::result_out_of_range) {
    error = "'" + token + "' is out of the range of a double";
    return false;
  }
  if (!std::isfinite(v)) {
    error = "'" + token + "' is not a finite number";
    return false;
  }
  out = v;
  return true;
}

bool digitsAt(std::string_view s, size_t pos, size_t n, int& out) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (size_t k = 0; k < n; ++k) {
    char c = s[pos + k];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

bool parseDate(const std::string& token, double& out, std::string& error) {
  std::string_view t = token;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  bool shape = (t.size() == 10 || t.size() == 19) && digitsAt(t, 0, 4, y) && t[4] == '-' && digitsAt(t, 5, 2, mo) &&
               t[7] == '-' && digitsAt(t, 8, 2, d);
  if (shape && t.size() == 19)
    shape = t[10] == 'T' && digitsAt(t, 11, 2, h) && t[13] == ':' && digitsAt(t, 14, 2, mi) && t[16] == ':' &&
            digitsAt(t, 17, 2, s);
  if (!shape) {
    error = "'" + token + "' is not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)";
    return false;
  }
  DateTime dt = DateTime::fromParts(y, mo, d, h, mi, s);
  if (!dt.valid()) {
    error = "'" + token + "' is not a valid date";
    return false;
  }
  out = dt.automationDate();
  return true;
}

// ------------------------------------------------------------------ output

// A double-NUL name list as "[a, b, …]", each name quoted by the given writer.
std::string listText(const std::string& list, std::string (*quote)(std::string_view)) {
  std::string a = "[";
  for (const std::string& name : splitNameList(list)) {
    if (a.size() > 1) a += ", ";
    a += quote(name);
  }
  return a + "]";
}

std::string jsonValue(Type type, TextForm form, const Value& v) {
  switch (type) {
    case Type::Bool:
    case Type::Short:
    case Type::Long:
      return std::to_string(v.i);
    case Type::Double:
      return std::isfinite(v.d) ? numberText(v.d) : "null";
    case Type::Date: {
      std::string d = dateText(v);
      return d.empty() ? "null" : "\"" + d + "\"";
    }
    case Type::String: {
      return form == TextForm::List ? listText(v.s, jsonString) : jsonString(v.s);
    }
    case Type::Void:
      break;
  }
  return "null";
}

std::string humanValue(Type type, TextForm form, const Value& v) {
  switch (type) {
    case Type::Bool:
    case Type::Short:
    case Type::Long:
      return std::to_string(v.i);
    case Type::Double:
      if (std::isnan(v.d)) return "NaN";
      if (std::isinf(v.d)) return v.d > 0 ? "inf" : "-inf";
      return numberText(v.d);
    case Type::Date: {
      std::string d = dateText(v);
      return d.empty() ? "invalid" : d;
    }
    case Type::String: {
      return form == TextForm::List ? listText(v.s, humanString) : humanString(v.s);
    }
    case Type::Void:
      break;
  }
  return "";
}

std::string padRight(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

const char* dirName(Dir d) {
  switch (d) {
    case Dir::In:
      return "in";
    case Dir::Out:
      return "out";
    case Dir::InOut:
      return "inout";
  }
  return "?";
}

const char* formName(TextForm f) {
  switch (f) {
    case TextForm::Plain:
      return "plain";
    case TextForm::List:
      return "list";
    case TextForm::Bytes:
      return "bytes";
  }
  return "?";
}

}  // namespace

// ------------------------------------------------------------------ parsing

bool tokenize(std::string_view text, std::vector<std::string>& tokens, std::string& error) {
  tokens.clear();
  size_t i = 0;
  while (true) {
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i >= text.size() || text[i] == '#') return true;
    std::string tok;
    if (text[i] == '"') {
      ++i;
      bool closed = false;
      while (i < text.size()) {
        char c = text[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c != '\\') {
          tok += c;
          continue;
        }
        if (i >= text.size()) break;
        char e = text[i++];
        switch (e) {
          case '"':
            tok += '"';
            break;
          case '\\':
            tok += '\\';
            break;
          case 'n':
            tok += '\n';
            break;
          case 'r':
            tok += '\r';
            break;
          case 't':
            tok += '\t';
            break;
          case 'x': {
            int h1 = i < text.size() ? hexDigit(text[i]) : -1;
            int h2 = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
            if (h1 < 0 || h2 < 0) {
              error = "\\x needs two hexadecimal digits";
              return false;
            }
            tarvion::text::appendUtf8(tok, static_cast<char32_t>(h1 * 16 + h2));
            i += 2;
            break;
          }
          default:
            error = std::string("unknown escape \\") + e + " in a quoted string";
            return false;
        }
      }
      if (!closed) {
        error = "a quoted string is not closed";
        return false;
      }
      if (i < text.size() && !isBlank(text[i]) && text[i] != '#') {
        error = "a closing quote must be followed by a blank";
        return false;
      }
    } else {
      while (i < text.size() && !isBlank(text[i]) && text[i] != '#') {
        if (text[i] == '"') {
          error = "a quote inside a bare word; quote the whole argument";
          return false;
        }
        tok += text[i++];
      }
    }
    tokens.push_back(std::move(tok));
  }
}

bool parseValue(const std::string& token, Type type, Value& out, std::string& error) {
  long long n = 0;
  double d = 0;
  switch (type) {
    case Type::Bool: {
      std::string up = token;
      std::transform(up.begin(), up.end(), up.begin(), [](unsigned char c) { return std::toupper(c); });
      if (up == "TRUE") {
        out = Value::boolean(-1);
        return true;
      }
      if (up == "FALSE") {
        out = Value::boolean(0);
        return true;
      }
      if (!parseInteger(token, -32768, 32767, n, error)) {
        error = "'" + token + "' is not TRUE, FALSE or a 16-bit integer";
        return false;
      }
      out = Value::boolean(static_cast<int>(n));
      return true;
    }
    case Type::Short:
      if (!parseInteger(token, -32768, 32767, n, error)) return false;
      out = Value::shortInt(static_cast<int>(n));
      return true;
    case Type::Long:
      if (!parseInteger(token, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), n, error))
        return false;
      out = Value::longInt(static_cast<long>(n));
      return true;
    case Type::Double:
      if (!parseDouble(token, d, error)) return false;
      out = Value::real(d);
      return true;
    case Type::Date:
      if (!parseDate(token, d, error)) return false;
      out = Value::date(d);
      return true;
    case Type::String:
      out = Value::string(token);
      return true;
    case Type::Void:
      break;
  }
  error = "no value can be given here";
  return false;
}

namespace {

// Whether a typed argument suits a parameter; else what the parameter expects.
bool suits(Arg::Kind kind, Type type, std::string& error) {
  using K = Arg::Kind;
  switch (type) {
    case Type::Bool:
      if (kind == K::Boolean || kind == K::Integer) return true;
      error = "expected true, false or an integer";
      return false;
    case Type::Short:
    case Type::Long:
      if (kind == K::Integer) return true;
      error = "expected an integer";
      return false;
    case Type::Double:
      if (kind == K::Integer || kind == K::Number) return true;
      error = "expected a number";
      return false;
    case Type::Date:
      if (kind == K::String) return true;
      error = "expected a date string (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)";
      return false;
    case Type::String:
      if (kind == K::String) return true;
      error = "expected a string";
      return false;
    case Type::Void:
      break;
  }
  error = "no value can be given here";
  return false;
}

}  // namespace

bool bindValue(const Arg& arg, Type type, Value& out, std::string& error) {
  if (arg.kind != Arg::Kind::Token && !suits(arg.kind, type, error)) return false;
  return parseValue(arg.text, type, out, error);
}

bool bindArgs(const EntryInfo& e, const std::vector<Arg>& args, std::vector<Value>& out, std::string& error,
              size_t* badArgument) {
  if (badArgument) *badArgument = 0;
  const int expected = inParamCount(e);
  if (args.size() != static_cast<size_t>(expected)) {
    error = std::string(e.name) + " takes " + std::to_string(expected) + (expected == 1 ? " argument" : " arguments") +
            (expected ? " (" + paramList(e) + ")" : "") + ", got " + std::to_string(args.size());
    return false;
  }
  out.assign(static_cast<size_t>(e.paramCount), Value());
  size_t t = 0;
  for (int i = 0; i < e.paramCount; ++i) {
    const ParamInfo& p = e.params[i];
    Value& v = out[static_cast<size_t>(i)];
    if (p.dir == Dir::Out) {
      v = Value::zero(p.type);
      continue;
    }
    std::string why;
    if (!bindValue(args[t], p.type, v, why)) {
      error = "argument " + std::to_string(t + 1) + " (" + p.name + "): " + why;
      if (badArgument) *badArgument = t + 1;
      return false;
    }
    ++t;
  }
  return true;
}

bool settable(const EntryInfo& e, std::string& error) {
  if (e.kind == Kind::GetSet) return true;
  error = std::string(e.name) + (e.kind == Kind::Method ? " is a method and cannot be set" : " is read-only");
  return false;
}

bool parseLine(std::string_view line, Call& call, std::string& error) {
  call = Call{};
  std::string_view rest = skipBlanks(line);
  if (rest.empty() || rest[0] == '#') return true;

  size_t n = 0;
  while (n < rest.size() && isNameChar(rest[n])) ++n;
  if (n < rest.size() && !isBlank(rest[n]) && rest[n] != '=' && rest[n] != '#') {
    // Report the whole word the line starts with, unless it is a quoted string.
    size_t w = n;
    while (w < rest.size() && !isBlank(rest[w])) ++w;
    if (rest[0] != '"') call.nameAsWritten = std::string(rest.substr(0, w));
    if (n == 0) {
      error = "a line starts with an entry name";
    } else {
      // Appended piece by piece: gcc 12 warns falsely on a literal + temporary string here.
      error.assign(1, '\'').append(rest.substr(0, w)).append("' is not an entry name");
    }
    return false;
  }
  if (n == 0) {
    error = "a line starts with an entry name";
    return false;
  }
  call.nameAsWritten = std::string(rest.substr(0, n));
  call.entry = findEntry(call.nameAsWritten);
  if (!call.entry) {
    error = "unknown entry '" + call.nameAsWritten + "'";
    return false;
  }
  const EntryInfo& e = *call.entry;
  rest = skipBlanks(rest.substr(n));

  std::vector<std::string> tokens;
  if (!rest.empty() && rest[0] == '=') {
    if (!settable(e, error)) return false;
    if (!tokenize(rest.substr(1), tokens, error)) return false;
    if (tokens.size() != 1) {
      error = std::string(e.name) + " = needs exactly one value, got " + std::to_string(tokens.size());
      return false;
    }
    if (!parseValue(tokens[0], e.result, call.setValue, error)) {
      error = "value: " + error;
      return false;
    }
    call.form = Call::Form::Set;
    return true;
  }

  if (!tokenize(rest, tokens, error)) return false;
  std::vector<Arg> args;
  args.reserve(tokens.size());
  for (std::string& t : tokens) args.push_back({Arg::Kind::Token, std::move(t)});
  if (!bindArgs(e, args, call.args, error)) return false;
  call.form = Call::Form::Invoke;
  return true;
}

// ------------------------------------------------------------------ output

std::string jsonString(std::string_view s) {
  std::string out = "\"";
  out.reserve(s.size() + 2);
  for (size_t i = 0; i < s.size();) {
    const size_t start = i;
    char32_t c = decodeUtf8(s, i);
    if (c == kBad) {
      out += "\\ufffd";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (isControl(c)) {
      out += "\\u00" + hex2(static_cast<unsigned>(c));
    } else {
      out.append(s.substr(start, i - start));
    }
  }
  return out + "\"";
}

std::string humanString(std::string_view s) {
  std::string out = "\"";
  out.reserve(s.size() + 2);
  for (size_t i = 0; i < s.size();) {
    const size_t start = i;
    char32_t c = decodeUtf8(s, i);
    if (c == kBad) {
      tarvion::text::appendUtf8(out, 0xFFFD);
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (isControl(c)) {
      out += "\\x" + hex2(static_cast<unsigned>(c));
    } else {
      out.append(s.substr(start, i - start));
    }
  }
  return out + "\"";
}

std::string numberText(double d) {
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, d);
  if (ec != std::errc()) return "null";
  return std::string(buf, ptr);
}

std::string dateText(const Value& v) {
  if (!v.valid) return {};
  DateParts p;
  if (!DateTime(v.d).parts(p)) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return buf;
}

std::vector<std::string> splitNameList(std::string_view list) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find('\0', pos);
    if (end == std::string_view::npos) end = list.size();
    if (end == pos) break;  // the empty name that ends the list
    names.emplace_back(list.substr(pos, end - pos));
    pos = end + 1;
  }
  return names;
}

std::string formatCall(const Call& call, const Value& result, bool json) {
  const EntryInfo& e = *call.entry;
  if (call.form == Call::Form::Set) {
    if (json)
      return "{\"entry\": " + jsonString(e.name) +
             ", \"result\": null, \"set\": " + jsonValue(e.result, TextForm::Plain, call.setValue) + "}";
    return std::string(e.name) + " = " + humanValue(e.result, TextForm::Plain, call.setValue);
  }
  std::string out;
  if (json) {
    out = "{\"entry\": " + jsonString(e.name) + ", \"result\": " + jsonValue(e.result, TextForm::Plain, result) +
          ", \"out\": {";
    bool first = true;
    for (int i = 0; i < e.paramCount; ++i) {
      const ParamInfo& p = e.params[i];
      if (p.dir == Dir::In) continue;
      if (!first) out += ", ";
      first = false;
      out += jsonString(p.name) + ": " + jsonValue(p.type, p.form, call.args[i]);
    }
    return out + "}}";
  }
  out = std::string(e.name) + " -> " + humanValue(e.result, TextForm::Plain, result);
  for (int i = 0; i < e.paramCount; ++i) {
    const ParamInfo& p = e.params[i];
    if (p.dir == Dir::In) continue;
    out += ' ';
    out += p.name;
    out += '=';
    out += humanValue(p.type, p.form, call.args[i]);
  }
  return out;
}

std::string formatError(std::string_view name, std::string_view message, bool json) {
  if (json) return "{\"entry\": " + jsonString(name) + ", \"error\": " + jsonString(message) + "}";
  std::string out;
  if (!name.empty()) {
    out.append(name);
    out += ": ";
  }
  return out + "error: " + std::string(message);
}

LineResult runLine(CTarvionCtrl& ctrl, std::string_view line, bool json) {
  Call call;
  std::string error;
  if (!parseLine(line, call, error)) return {false, formatError(call.nameAsWritten, error, json)};
  switch (call.form) {
    case Call::Form::Nothing:
      return {true, {}};
    case Call::Form::Set:
      if (!ctrl.SetProperty(*call.entry, call.setValue))
        return {false, formatError(call.nameAsWritten, std::string(call.entry->name) + " cannot be set", json)};
      return {true, formatCall(call, Value(), json)};
    case Call::Form::Invoke: {
      Value r = ctrl.Invoke(*call.entry, call.args);
      return {true, formatCall(call, r, json)};
    }
  }
  return {true, {}};
}

namespace {

enum class LineRead { Line, TooLong, End };

// One line of at most kMaxLineBytes bytes, without its "\n" (and a "\r"
// before it). A longer line is read through and dropped, never held whole.
LineRead readLine(std::istream& in, std::string& line) {
  line.clear();
  bool any = false, tooLong = false;
  char chunk[4096];
  for (;;) {
    in.get(chunk, sizeof chunk, '\n');
    const auto got = static_cast<size_t>(in.gcount());
    if (got) any = true;
    if (!tooLong) {
      if (line.size() + got > kMaxLineBytes) {
        tooLong = true;
        line.clear();
        line.shrink_to_fit();
      } else {
        line.append(chunk, got);
      }
    }
    if (in.eof()) break;
    if (in.fail()) in.clear();  // an empty line, or a chunk that filled the buffer
    if (in.peek() == '\n') {
      in.get();
      any = true;
      break;
    }
    if (in.eof()) break;
  }
  if (!any) return LineRead::End;
  if (tooLong) return LineRead::TooLong;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return LineRead::Line;
}

}  // namespace

int runShell(std::istream& in, std::ostream& out, std::ostream& err, const ShellOptions& options) {
  CTarvionCtrl ctrl;
  if (options.prepare && !options.prepare(ctrl, err)) return 1;
  int status = 0;
  std::string line;
  bool first = true;
  for (LineRead got; (got = readLine(in, line)) != LineRead::End;) {
    LineResult r;
    if (got == LineRead::TooLong) {
      r = {false, formatError("", "line longer than " + std::to_string(kMaxLineBytes) + " bytes", options.json)};
    } else {
      // A script saved by a Windows editor may start with a byte order mark.
      if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
      r = runLine(ctrl, line, options.json);
    }
    first = false;
    if (!r.parsed) status = 2;
    if (!r.output.empty()) out << r.output << '\n';
    out.flush();
    if (!out) {
      // Nobody reads the results any more: going on would run calls blind.
      err << "tarvion: cannot write the output\n";
      return 1;
    }
  }
  return status;
}

// ------------------------------------------------------------------ listings

std::string modelsText(bool json) {
  struct Table {
    const char* key;
    const char* title;
    const std::vector<ModelRow>* rows;
  };
  const Table tables[] = {{"fiscal", "Fiscal printers (InitializeECF model number)", &fiscalModels()},
                          {"check", "Check printers (InitializeCheckPrinter name)", &checkModels()}};
  std::string out;
  if (json) {
    out = "{";
    for (const Table& t : tables) {
      if (out.size() > 1) out += ",\n ";
      out += std::string("\"") + t.key + "\": [";
      for (size_t i = 0; i < t.rows->size(); ++i) {
        const ModelRow& r = (*t.rows)[i];
        out += i ? ",\n  " : "\n  ";
        out += "{\"number\": " + std::to_string(i + 1) + ", \"name\": " + jsonString(r.name) +
               ", \"class\": " + jsonString(r.driverClass) + "}";
      }
      out += "]";
    }
    return out + "}\n";
  }
  for (const Table& t : tables) {
    size_t width = 4;
    for (const ModelRow& r : *t.rows) width = std::max(width, std::string_view(r.name).size());
    if (!out.empty()) out += '\n';
    out += std::string(t.title) + "\n";
    out += "  No.  " + padRight("Name", width) + "  Driver class\n";
    for (size_t i = 0; i < t.rows->size(); ++i) {
      const ModelRow& r = (*t.rows)[i];
      std::string no = std::to_string(i + 1);
      out += std::string(5 - no.size(), ' ') + no + "  " + padRight(r.name, width) + "  " + r.driverClass + "\n";
    }
  }
  return out;
}

std::string entriesText(bool json) {
  size_t count = 0;
  const EntryInfo* table = entryTable(count);
  std::string out;
  if (json) {
    out = "[";
    for (size_t k = 0; k < count; ++k) {
      const EntryInfo& e = table[k];
      out += k ? ",\n " : "\n ";
      out += "{\"dispid\": " + std::to_string(e.dispid) + ", \"name\": " + jsonString(e.name) +
             ", \"kind\": " + jsonString(kindName(e.kind)) + ", \"result\": " + jsonString(typeName(e.result)) +
             ", \"params\": [";
      for (int i = 0; i < e.paramCount; ++i) {
        const ParamInfo& p = e.params[i];
        if (i) out += ", ";
        out += "{\"name\": " + jsonString(p.name) + ", \"type\": " + jsonString(typeName(p.type)) +
               ", \"dir\": " + jsonString(dirName(p.dir));
        if (p.type == Type::String) out += ", \"form\": " + jsonString(formName(p.form));
        out += "}";
      }
      out += "]}";
    }
    return out + "]\n";
  }
  for (size_t k = 0; k < count; ++k) {
    const EntryInfo& e = table[k];
    std::string id = std::to_string(e.dispid);
    out += std::string(3 - std::min<size_t>(3, id.size()), ' ') + id + "  " + padRight(e.name, 32) + " " +
           padRight(kindName(e.kind), 7) + " " + padRight(typeName(e.result), 6) + " (";
    for (int i = 0; i < e.paramCount; ++i) {
      const ParamInfo& p = e.params[i];
      if (i) out += ", ";
      out += std::string(p.name) + ": " + typeName(p.type);
      if (p.dir != Dir::In) out += std::string(" ") + dirName(p.dir);
      if (p.type == Type::String && p.form != TextForm::Plain) out += std::string(" ") + formName(p.form);
    }
    out += ")\n";
  }
  return out;
}

}  // namespace tarvion::script
