// Ready virtual printers by model number or name, whatever the maker: the
// registry (registry.h) knows which face serves which model.
#pragma once

#include <memory>
#include <string>

#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

// A ready virtual printer for a fiscal model number, its fiscal state kept in
// statePath and its paper appended to paperPath (either empty: kept in memory).
// Null with a message when no virtual printer speaks that model's protocol
// (the message lists the models that have one) or the state cannot be read.
std::shared_ptr<VirtualPrinter> makePrinter(int model, const std::string& statePath, const std::string& paperPath,
                                            std::string* error = nullptr);
// The same for a model given as text: its number ("10") or its name as the
// fiscal table (or, for a check printer, the check table) writes it, read as caps::fiscalModelNumber reads it (case and
// surrounding blanks ignored).
std::shared_ptr<VirtualPrinter> makePrinter(const std::string& model, const std::string& statePath,
                                            const std::string& paperPath, std::string* error = nullptr);

// The fiscal model number of a model given as text (see above); 0 when no
// virtual printer answers to it.
int virtualModelNumber(const std::string& model);

// Whether a model number has a virtual printer.
bool hasVirtualPrinter(int model);

// The environment variable that carries the check station's document ("out",
// "in" or "auto"; VirtualPrinter::setCheckDocument) to `tarvion emulate` and to
// the shell's --virtual printers.
inline constexpr const char* kCheckDocumentVariable = "TARVION_CHECK_DOCUMENT";

}  // namespace tarvion::emulator
