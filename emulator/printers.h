// The virtual printers by model number or name: one place that knows which
// protocol face serves which model of the control's fiscal and check tables.
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
// The same for a model given as text: its number ("10") or its name in the
// fiscal or the check printer table ("BEMATECH MP-7000 TH FI", "IBM 4610
// SUREMARK"; case and surrounding blanks ignored).
std::shared_ptr<PrinterFace> makePrinter(const std::string& model, const std::string& statePath,
                                         const std::string& paperPath, std::string* error = nullptr);

// The fiscal model number of a model given as text (see above); 0 when no
// virtual printer answers to it. A check printer name gives the fiscal model
// of the same printer.
int virtualModelNumber(const std::string& model);

// What the printer has printed so far (UTF-8), when its paper is kept in memory
// or in a file of its own.
std::string printedPaper(PrinterFace& printer);

// Whether a model number has a virtual printer.
bool hasVirtualPrinter(int model);

// The document in the check station of a printer that has one:
//   "out"   the slot is empty until a document is put in (the default);
//   "in"    a check is in the slot from the start and stays until let go;
//   "auto"  an operator feeds a fresh check whenever the printer looks for one.
// False with a message for another word or a printer without a check station.
bool setCheckDocument(PrinterFace& printer, const std::string& mode, std::string* error = nullptr);
// The environment variable that carries that word to `tarvion emulate` and to
// the shell's --virtual printers.
inline constexpr const char* kCheckDocumentVariable = "TARVION_CHECK_DOCUMENT";

}  // namespace tarvion::emulator
