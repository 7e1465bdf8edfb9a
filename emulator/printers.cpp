#include "emulator/printers.h"

#include <charconv>

#include "core/text.h"
#include "emulator/bematech_printer.h"
#include "emulator/paper.h"

namespace tarvion::emulator {

bool hasVirtualPrinter(int model) {
  BematechModel m;
  return BematechModel::byNumber(model, m);
}

int virtualModelNumber(const std::string& model) {
  const std::string t = text::trim(model);
  int n = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), n);
  if (!t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size()) return hasVirtualPrinter(n) ? n : 0;
  BematechModel m;
  return BematechModel::byName(t, m) ? m.number : 0;
}

std::shared_ptr<PrinterFace> makePrinter(int model, const std::string& statePath, const std::string& paperPath,
                                         std::string* error) {
  if (hasVirtualPrinter(model)) return makeBematechPrinter(model, statePath, paperPath, error);
  if (error) *error = "no virtual printer speaks the protocol of model " + std::to_string(model);
  return nullptr;
}

std::shared_ptr<PrinterFace> makePrinter(const std::string& model, const std::string& statePath,
                                         const std::string& paperPath, std::string* error) {
  const int n = virtualModelNumber(model);
  if (n > 0) return makePrinter(n, statePath, paperPath, error);
  if (error) *error = "no virtual printer for the model '" + model + "' (a model number or a name of tarvion models)";
  return nullptr;
}

std::string printedPaper(PrinterFace& printer) {
  if (auto* b = dynamic_cast<BematechPrinter*>(&printer)) {
    std::lock_guard<std::mutex> g(b->mutex());
    if (Paper* p = b->core().paper()) return p->printed();
  }
  return {};
}

bool setCheckDocument(PrinterFace& printer, const std::string& mode, std::string* error) {
  auto* b = dynamic_cast<BematechPrinter*>(&printer);
  if (!b) {
    if (error) *error = printer.modelName() + " has no check station";
    return false;
  }
  const std::string m = text::trim(mode);
  if (m == "out" || m.empty()) {
    b->setAutoDocument(false);
    b->setDocumentInserted(false);
  } else if (m == "in") {
    b->setAutoDocument(false);
    b->setDocumentInserted(true);
  } else if (m == "auto") {
    b->setAutoDocument(true);
  } else {
    if (error) *error = "expected out, in or auto for the check document, got '" + mode + "'";
    return false;
  }
  return true;
}

}  // namespace tarvion::emulator
