#include "tools/virtual_printers.h"

#include <charconv>

#include "core/virtual_wire.h"

namespace tarvion::tool {

bool parseVirtual(const std::string& text, int& model, int& port, std::string& error) {
  auto at = text.find('@');
  auto number = [](std::string_view s, int& out) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
  };
  if (at == std::string::npos || !number(std::string_view(text).substr(0, at), model) ||
      !number(std::string_view(text).substr(at + 1), port) || port < 1) {
    error = "expected MODEL@PORT (for example 1@5), got '" + text + "'";
    return false;
  }
  return true;
}

VirtualPrinters::~VirtualPrinters() {
  for (auto& a : list_) ports::detachVirtual(a.port);
}

bool VirtualPrinters::add(int model, int port, const std::string& statePath, const std::string& paperPath,
                          std::ostream& err) {
  std::string error;
  auto printer = emulator::makePrinter(model, statePath, paperPath, &error);
  if (!printer) {
    err << "tarvion: " << error << "\n";
    return false;
  }
  ports::attachVirtual(port, emulator::makeVirtualDevice(printer));
  list_.push_back({model, port, statePath, paperPath, printer});
  return true;
}

}  // namespace tarvion::tool
