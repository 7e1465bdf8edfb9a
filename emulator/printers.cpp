#include "emulator/printers.h"

#include "emulator/bematech_printer.h"
#include "emulator/paper.h"

namespace tarvion::emulator {

bool hasVirtualPrinter(int model) {
  BematechModel m;
  return BematechModel::byNumber(model, m);
}

std::shared_ptr<PrinterFace> makePrinter(int model, const std::string& statePath, const std::string& paperPath,
                                         std::string* error) {
  if (hasVirtualPrinter(model)) return makeBematechPrinter(model, statePath, paperPath, error);
  if (error) *error = "no virtual printer speaks the protocol of model " + std::to_string(model);
  return nullptr;
}

std::string printedPaper(PrinterFace& printer) {
  if (auto* b = dynamic_cast<BematechPrinter*>(&printer)) {
    std::lock_guard<std::mutex> g(b->mutex());
    if (Paper* p = b->core().paper()) return p->printed();
  }
  return {};
}

}  // namespace tarvion::emulator
