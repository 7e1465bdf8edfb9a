// The result line and the refusal every FiscNET operation ends with; the guard
// and the host-text helpers come from the core.
#pragma once

#include <string>

#include "core/ecf_base.h"
#include "core/operation.h"
#include "core/text.h"

namespace tarvion::fiscnet {

using op::guarded;
using op::lines;
using op::oneLine;

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

}  // namespace tarvion::fiscnet
