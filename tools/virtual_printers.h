// Virtual printers attached to port numbers for one run of the tool.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "emulator/printers.h"

namespace tarvion::tool {

struct VirtualAttachment {
  int model = 0;
  int port = 0;
  std::string statePath, paperPath;
  std::shared_ptr<emulator::VirtualPrinter> printer;
};

// Parses "MODEL@PORT", MODEL a model number or a name of the fiscal or check
// printer table ("IBM 4610 SUREMARK@3"; the port follows the last '@'). The
// model comes back as its fiscal model number. False with a message when
// malformed or when no virtual printer answers to the model.
bool parseVirtual(const std::string& text, int& model, int& port, std::string& error);

// Builds the printers and attaches them to their ports; detaches them again on
// destruction. The check stations start as TARVION_CHECK_DOCUMENT says (out,
// in, auto; see emulator/printers.h).
class VirtualPrinters {
 public:
  ~VirtualPrinters();
  bool add(int model, int port, const std::string& statePath, const std::string& paperPath, std::ostream& err);
  const std::vector<VirtualAttachment>& all() const { return list_; }

 private:
  std::vector<VirtualAttachment> list_;
};

}  // namespace tarvion::tool
