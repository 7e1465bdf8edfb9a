#include "tools/virtual_printers.h"

#include <charconv>
#include <cstdlib>

#include "core/virtual_wire.h"
#include "emulator/registry.h"

namespace tarvion::tool {

bool parseVirtual(const std::string& text, int& model, int& port, std::string& error) {
  // Model names hold no '@', but the port is always last.
  const auto at = text.rfind('@');
  const std::string_view portText =
      at == std::string::npos ? std::string_view() : std::string_view(text).substr(at + 1);
  auto r = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (at == std::string::npos || at == 0 || portText.empty() || r.ec != std::errc() ||
      r.ptr != portText.data() + portText.size() || port < 1) {
    error = "expected MODEL@PORT (a model number or name, then the port number: 1@5), got '" + text + "'";
    return false;
  }
  const std::string modelText = text.substr(0, at);
  model = emulator::virtualModelNumber(modelText);
  if (model == 0) {
    error = "no virtual printer for the model '" + modelText + "'; the models that have one:\n" +
            emulator::virtualModelList();
    return false;
  }
  return true;
}

VirtualPrinters::~VirtualPrinters() {
  for (auto& a : list_) ports::detachVirtual(a.port);
}

bool VirtualPrinters::add(int model, int port, const std::string& statePath, const std::string& paperPath,
                          std::ostream& err) {
  for (const auto& a : list_)
    if (a.port == port) {
      err << "tarvion: --virtual: port " << port << " already has a virtual printer\n";
      return false;
    }
  std::string error;
  auto printer = emulator::makePrinter(model, statePath, paperPath, &error);
  if (!printer) {
    err << "tarvion: " << error << "\n";
    return false;
  }
  if (const char* mode = std::getenv(emulator::kCheckDocumentVariable);
      mode && !printer->setCheckDocument(mode, &error)) {
    err << "tarvion: " << emulator::kCheckDocumentVariable << ": " << error << "\n";
    return false;
  }
  ports::attachVirtual(port, emulator::makeVirtualDevice(printer));
  list_.push_back({model, port, statePath, paperPath, printer});
  return true;
}

}  // namespace tarvion::tool
