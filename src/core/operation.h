// What every driver operation shares, whatever its family: the exception guard
// and host text made safe for a field. A family keeps only its own result line
// (`finish`) and refusal, whose log texts differ.
#pragma once

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

// Host text for a one-line field and for a text printed as lines (CR and LF
// kept): control bytes become blanks before the driver adds its own escapes.
inline std::string oneLine(const std::string& s) {
  return text::printable(s, text::LineBreaks::Blank);
}
inline std::string lines(const std::string& s) {
  return text::printable(s, text::LineBreaks::Keep);
}

}  // namespace tarvion::op
