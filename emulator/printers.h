// The virtual printers by model number: one place that knows which protocol
// face serves which model of the control's fiscal table.
#pragma once

#include <memory>
#include <string>

#include "emulator/printer_face.h"

namespace tarvion::emulator {

// A ready virtual printer for a fiscal model number, its fiscal state kept in
// statePath and its paper appended to paperPath (either empty: kept in memory).
// Null with a message when no virtual printer speaks that model's protocol.
std::shared_ptr<PrinterFace> makePrinter(int model, const std::string& statePath, const std::string& paperPath,
                                         std::string* error = nullptr);

// What the printer has printed so far (UTF-8), when its paper is kept in memory
// or in a file of its own.
std::string printedPaper(PrinterFace& printer);

// Whether a model number has a virtual printer.
bool hasVirtualPrinter(int model);

}  // namespace tarvion::emulator
