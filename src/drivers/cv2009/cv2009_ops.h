// The result line and the refusal every operation of the 2009 command set ends
// with; the guard comes from the core.
#pragma once

#include <string>

#include "core/operation.h"

namespace tarvion::cv2009 {

using op::guarded;

// Logs "Retorno=TRUE,strLastError=" or "Retorno=FALSE,strLastError=<message>" and passes the result on.
inline BOOL finish(CECFBase& d, const char* where, BOOL ok) {
  d.Log(where, text::format("Retorno=%s,strLastError=%s", boolText(ok), ok ? "" : d.strLastError.c_str()));
  return ok;
}

// A value the printer cannot take: nothing goes out, the message is the error.
inline BOOL refuse(CECFBase& d, const char* where, const std::string& message) {
  d.strLastError = message;
  return finish(d, where, kFalse);
}

}  // namespace tarvion::cv2009
