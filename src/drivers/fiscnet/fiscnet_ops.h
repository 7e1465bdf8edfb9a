// Small helpers every FiscNET operation shares: the exception guard, the result
// line, a refusal that sends nothing, and host text made safe for a field.
#pragma once

#include <string>

#include "core/ecf_base.h"
#include "core/text.h"

namespace tarvion::fiscnet {

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

// Logs "Retorno=TRUE" or "Retorno=FALSE" (with the message) and passes the result on.
inline BOOL finish(CECFBase& d, const char* where, BOOL result) {
  d.Log(where, result ? std::string("Retorno=TRUE") : "Retorno=FALSE, " + d.strLastError);
  return result;
}

// A value the printer cannot take: nothing goes out, the message is the error.
inline BOOL refuse(CECFBase& d, const char* where, const std::string& message) {
  d.strLastError = message;
  return finish(d, where, kFalse);
}

// Host text for a one-line field, and for a text printed as lines.
inline std::string oneLine(const std::string& s) {
  return text::printable(s, text::LineBreaks::Blank);
}
inline std::string lines(const std::string& s) {
  return text::printable(s, text::LineBreaks::Keep);
}

}  // namespace tarvion::fiscnet
