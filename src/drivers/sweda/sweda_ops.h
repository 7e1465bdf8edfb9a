// The result line and the refusal every Sweda operation ends with; they, the
// guard and the host-text helpers come from the core.
#pragma once

#include <string>

#include "core/ecf_base.h"
#include "core/operation.h"
#include "core/text.h"

namespace tarvion::sweda {

using op::guarded;
using op::lines;
using op::oneLine;

// "Retorno=TRUE" or "Retorno=FALSE, <message>".
inline constexpr auto& finish = op::finish<op::ResultLine::ErrorAfter>;
inline constexpr auto& refuse = op::refuse<op::ResultLine::ErrorAfter>;

// Day, month and year of a date as the printers write them.
std::string dateText(DateTime dt, const char* form);

}  // namespace tarvion::sweda
