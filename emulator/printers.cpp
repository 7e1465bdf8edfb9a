#include "emulator/printers.h"

#include <filesystem>

#include "core/model_lookup.h"
#include "core/text.h"
#include "emulator/paper.h"
#include "emulator/registry.h"

namespace tarvion::emulator {

namespace {

std::string noPrinter(const std::string& what) {
  return "no virtual printer for " + what + "; the models that have one:\n" + virtualModelList();
}

}  // namespace

bool hasVirtualPrinter(int model) {
  return findVirtualModel(model) != nullptr;
}

int virtualModelNumber(const std::string& model) {
  const int n = caps::fiscalModelNumber(model);
  if (hasVirtualPrinter(n)) return n;
  // A check printer: its name in the check table, or its own number.
  if (const caps::ModelRow* r = caps::findModel(caps::checkModels(), model)) {
    const int check = checkPrinterNumber(r->number);
    return hasVirtualPrinter(check) ? check : 0;
  }
  const std::string t = text::trim(model);
  if (t.empty() || t.size() > 4 || t.find_first_not_of("0123456789") != std::string::npos) return 0;
  const int number = std::stoi(t);
  return number > kCheckModelBase && hasVirtualPrinter(number) ? number : 0;
}

std::shared_ptr<VirtualPrinter> makePrinter(int model, const std::string& statePath, const std::string& paperPath,
                                            std::string* error) {
  const VirtualModel* m = findVirtualModel(model);
  if (!m) {
    if (error) *error = noPrinter("model " + std::to_string(model));
    return nullptr;
  }
  std::error_code ec;
  if (!paperPath.empty() && std::filesystem::is_symlink(paperPath, ec)) {
    if (error) *error = paperPath + " is a symbolic link; a paper file is never written through one";
    return nullptr;
  }
  auto core = std::make_shared<FiscalCore>(FiscalCore::Options{statePath, nullptr});
  if (!core->loadError().empty()) {
    if (error) *error = core->loadError();  // names the file
    return nullptr;
  }
  const int columns = m->hardware.columns;
  core->setPaper(paperPath.empty() ? std::make_shared<Paper>(columns) : std::make_shared<Paper>(paperPath, columns));
  return m->make(m->number, core);
}

std::shared_ptr<VirtualPrinter> makePrinter(const std::string& model, const std::string& statePath,
                                            const std::string& paperPath, std::string* error) {
  const int n = virtualModelNumber(model);
  if (n > 0) return makePrinter(n, statePath, paperPath, error);
  if (error) *error = noPrinter("the model '" + text::trim(model) + "'");
  return nullptr;
}

}  // namespace tarvion::emulator
