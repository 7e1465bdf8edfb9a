// The result line and the refusal every Schalter operation ends with, in this
// family's form; they, the guard and the host-text helpers come from the core.
#pragma once

#include "core/operation.h"

namespace tarvion::schalter {

using op::guarded;
using op::lines;
using op::oneLine;

// "Retorno=TRUE" or "Retorno=FALSE, <message>".
inline constexpr auto& finish = op::finish<op::ResultLine::ErrorAfter>;
inline constexpr auto& refuse = op::refuse<op::ResultLine::ErrorAfter>;

}  // namespace tarvion::schalter
