// What every driver operation shares, whatever its family: the exception guard,
// the result line it ends with and the refusal of a value, and host text made
// safe for a field. A family only picks the form of its result line.
#pragma once

#include <cstdint>
#include <string>

#include "core/ecf_base.h"
#include "core/text.h"

namespace tarvion::op {

// Runs an operation's body; an exception becomes "Erro desconhecido." and the fallback.
template <class T, class F>
T guarded(CECFBase& d, const char* where, T fallback, F body) {
  try {
    return body();
  } catch (...) {
    d.RecordError(where, text::cp("Erro desconhecido."));
    return fallback;
  }
}

// The last line an operation logs; each family has always written its own.
enum class ResultLine : uint8_t {
  Bare,        // "Retorno=TRUE" / "Retorno=FALSE"
  ErrorField,  // "Retorno=TRUE,strLastError=" / "Retorno=FALSE,strLastError=<error>"
  ErrorAfter,  // "Retorno=TRUE" / "Retorno=FALSE, <error>"
};

// Logs the operation's result line and passes the result on. A family binds
// its form once: `inline constexpr auto& finish = op::finish<ResultLine::Bare>;`.
template <ResultLine Form>
BOOL finish(CECFBase& d, const char* where, BOOL result) {
  if constexpr (Form == ResultLine::Bare) {
    d.Log(where, result ? "Retorno=TRUE" : "Retorno=FALSE");
  } else if constexpr (Form == ResultLine::ErrorField) {
    d.Log(where, text::format("Retorno=%s,strLastError=%s", boolText(result), result ? "" : d.strLastError.c_str()));
  } else {
    d.Log(where, result ? std::string("Retorno=TRUE") : "Retorno=FALSE, " + d.strLastError);
  }
  return result;
}

// A value the printer cannot take (a number too wide for its field, say):
// nothing goes out, the message becomes the error and the operation ends
// FALSE. A result line that does not carry the error gets it on a line of its
// own first, so the log still says why.
template <ResultLine Form>
BOOL refuse(CECFBase& d, const char* where, const std::string& message) {
  d.strLastError = message;
  if constexpr (Form == ResultLine::Bare) d.Log(where, message);
  return finish<Form>(d, where, kFalse);
}

// Host text for a one-line field and for a text printed as lines (CR and LF
// kept): control bytes become blanks before the driver adds its own escapes.
inline std::string oneLine(const std::string& s) {
  return text::printable(s, text::LineBreaks::Blank);
}
inline std::string lines(const std::string& s) {
  return text::printable(s, text::LineBreaks::Keep);
}

// The customer the host named for the next receipt, each field on one line:
// kept until a receipt opens with it, then the driver's customer data.
struct PendingCustomer {
  std::string code, name, address;

  void set(const std::string& c, const std::string& n, const std::string& a) {
    code = oneLine(c);
    name = oneLine(n);
    address = oneLine(a);
  }
  bool empty() const { return code.empty() && name.empty() && address.empty(); }
  // The receipt opened with it: it becomes the driver's customer data.
  void movedTo(CECFBase& d) {
    d.strCustomerCode = std::move(code);
    d.strCustomerName = std::move(name);
    d.strCustomerAddress = std::move(address);
    code.clear();
    name.clear();
    address.clear();
  }
};

}  // namespace tarvion::op
