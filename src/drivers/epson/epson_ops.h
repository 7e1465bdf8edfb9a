// The result line and the refusal every Epson operation ends with, in this
// family's form; they, the guard and the host-text helpers come from the core.
#pragma once

#include <string>

#include "core/ecf_base.h"
#include "core/operation.h"
#include "core/text.h"

namespace tarvion::epson {

using op::guarded;
using op::lines;
using op::oneLine;

// "Retorno=TRUE" or "Retorno=FALSE,strLastError=<message>".
inline constexpr auto& finish = op::finish<op::ResultLine::ErrorField>;
inline constexpr auto& refuse = op::refuse<op::ResultLine::ErrorField>;

}  // namespace tarvion::epson
