// The result line and the refusal every operation of the 2009 command set ends
// with, in this family's form; they and the guard come from the core.
#pragma once

#include <string>

#include "core/operation.h"

namespace tarvion::cv2009 {

using op::guarded;

// "Retorno=TRUE,strLastError=" or "Retorno=FALSE,strLastError=<message>".
inline constexpr auto& finish = op::finish<op::ResultLine::ErrorField>;
inline constexpr auto& refuse = op::refuse<op::ResultLine::ErrorField>;

}  // namespace tarvion::cv2009
