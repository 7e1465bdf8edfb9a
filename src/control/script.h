// The line language of the tarvion shell: one call of the control per line, and
// the text (human or JSON) that reports it. The command-line tool and the C ABI
// both run lines through here, so a script behaves the same from either.
//
// Grammar of a line:
//   Name arg arg ...     call a method or read a property (indexed properties
//                        take their index as the argument)
//   Name = value         set a get/set property
//   # ...                comment (anywhere outside quotes); blank lines do nothing
//
// Names are matched without regard to case. Arguments are separated by blanks
// (space, tab). An argument is either bare (runs to the next blank or '#') or
// quoted with double quotes; inside quotes \" \\ \n \r \t and \xHH (the
// character U+00HH) are the escapes, any other backslash is an error. Bare
// tokens never contain a double quote. Only the in and in/out parameters are
// written; out parameters come back in the output.
//   string  any token; quote it to keep blanks, '#' or an empty string
//   BOOL    TRUE or FALSE (any case), or an integer -32768..32767 passed through
//           as the 16-bit value a host would send (non-zero is true)
//   short   integer -32768..32767;  long  integer -2147483648..2147483647
//   double  decimal point, optional exponent; NaN and infinities are refused
//   date    YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS (local, whole seconds)
//
// Output of one line (no trailing newline):
//   human   Name -> result param=value ...      (out and in/out parameters)
//           Name = value                        (property set)
//           Name: error: message                (line not understood)
//   JSON    {"entry": "Name", "result": R, "out": {"param": V, ...}}
//           {"entry": "Name", "result": null, "set": V}
//           {"entry": "as written", "error": "message"}
// BOOL, short and long are integers (BOOL as the value the entry returned: -1, 0
// or 1); doubles are the shortest text that reads back to the same value, null
// for NaN or infinities; dates are "YYYY-MM-DDTHH:MM:SS", null when invalid;
// name lists are arrays of names; everything else is a string. Human output
// writes strings quoted with the escapes above, so a result can be pasted back
// as an argument.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "tarvion/tarvion.hpp"

namespace tarvion::script {

// One line, parsed.
struct Call {
  enum class Form { Nothing, Invoke, Set };
  Form form = Form::Nothing;
  std::string nameAsWritten;  // for error reports
  const EntryInfo* entry = nullptr;
  std::vector<Value> args;  // one per parameter, out parameters zeroed
  Value setValue;           // for Form::Set
};

// Parses a line; false with a message in error when it is not understood.
bool parseLine(std::string_view line, Call& call, std::string& error);

// Splits the argument part of a line into tokens (quotes and escapes resolved).
bool tokenize(std::string_view text, std::vector<std::string>& tokens, std::string& error);

// Reads one token as a value of the given type.
bool parseValue(const std::string& token, Type type, Value& out, std::string& error);

// One argument as a caller gave it: a token of a line, or a typed value of
// another front end (the service's JSON) with its text as the line would
// write it. A token is read as whatever the parameter needs; a typed value
// must also suit it (an integer for a long, a string for a date).
struct Arg {
  enum class Kind { Token, Boolean, Integer, Number, String, Other };
  Kind kind = Kind::Token;
  std::string text;  // TRUE/FALSE for a boolean, empty for Other
};

// Reads an argument as a value of the given type.
bool bindValue(const Arg& arg, Type type, Value& out, std::string& error);
// Fills one value per parameter of an entry from the arguments of its in and
// in/out parameters, in order; out parameters are zeroed. The error tells the
// count the entry takes ("RegistraPagamento takes 2 arguments ..."), or names
// the argument ("argument 2 (nValorPagamento): ...") and sets badArgument to
// its position from 1 (else 0) for a caller that adds the entry's name.
bool bindArgs(const EntryInfo& entry, const std::vector<Arg>& args, std::vector<Value>& out, std::string& error,
              size_t* badArgument = nullptr);
// Whether a value can be given to the entry ("Name = value"); else why not.
bool settable(const EntryInfo& entry, std::string& error);

// A JSON string literal (quotes included) of UTF-8 text; malformed sequences
// become U+FFFD so the result is always valid JSON.
std::string jsonString(std::string_view utf8);
// A quoted string in the line language's own escapes (human output).
std::string humanString(std::string_view utf8);
// The text of a double that reads back to the same value.
std::string numberText(double d);
// "YYYY-MM-DDTHH:MM:SS", or empty when the value holds no representable date.
std::string dateText(const Value& v);
// The names of a double-NUL name list.
std::vector<std::string> splitNameList(std::string_view list);

// The report of a completed call or set.
std::string formatCall(const Call& call, const Value& result, bool json);
std::string formatError(std::string_view name, std::string_view message, bool json);

struct LineResult {
  bool parsed = true;  // false when the line was not understood
  std::string output;  // empty for blank and comment lines
};

// Parses and runs one line on the control.
LineResult runLine(CTarvionCtrl& ctrl, std::string_view line, bool json);

struct ShellOptions {
  bool json = false;
  // Runs once on the fresh control before the first line (preparing a
  // simulated printer, say); returning false stops the shell with status 1.
  std::function<bool(CTarvionCtrl&, std::ostream& err)> prepare;
};

// The longest line the shell takes (4 MiB); a longer one is refused as a line that
// cannot be parsed, without being held in memory.
inline constexpr size_t kMaxLineBytes = 4 << 20;

// Runs every line of in on one control, writing one report per call and
// flushing after each so a program can drive it through a pipe. Returns the
// exit status: 2 when some line was not understood, 1 when the output cannot
// be written (the shell stops there), else 0.
int runShell(std::istream& in, std::ostream& out, std::ostream& err, const ShellOptions& options);

// The model tables and the entry list, as the tool prints them.
std::string modelsText(bool json);
std::string entriesText(bool json);

}  // namespace tarvion::script
