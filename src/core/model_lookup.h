// Finding a printer model from what a person or a host calls it. Every place
// that takes a model as text comes here, so the shell, the service, the
// virtual printers and the control's own name entries agree on what names a
// model; the rows themselves stay in capabilities.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/capabilities.h"

namespace tarvion::caps {

// How closely a name must match the one a table writes.
enum class NameMatch : uint8_t {
  // ASCII letters in either case, blanks around the name ignored: what the
  // tools and the service take from people.
  Loose,
  // ASCII letters in either case, blanks after the name ignored but blanks
  // before it counted: ExisteECF, whose hosts pad a fixed-width field on the
  // right.
  TrailingBlanks,
  // Byte for byte: CheckPrinterID and InitializeCheckPrinter.
  Exact,
};

// The text a name is compared by under a rule; two names match when their
// keys are equal. Letters outside ASCII keep their case, so a name holding
// one matches only itself.
std::string modelNameKey(std::string_view name, NameMatch match = NameMatch::Loose);

// The first row of a table that the name names; null when none does.
const ModelRow* findModel(const std::vector<ModelRow>& table, std::string_view name,
                          NameMatch match = NameMatch::Loose);

// A model as a person names it: the fiscal table's row, else the check
// table's (Loose); null when neither lists it.
const ModelRow* findModel(std::string_view name);

// A fiscal model given as text: its number (ASCII digits only, blanks around
// them ignored) or its name (Loose). 0 when the fiscal table has no such row.
int fiscalModelNumber(std::string_view text);

}  // namespace tarvion::caps
