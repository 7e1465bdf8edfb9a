// Which models have a virtual printer, and how to make one. Each family of
// faces lists its models (number and name of the control's model table, and
// the hardware around the fiscal half) with a factory; registry.cpp keeps one
// row per family. A new family adds its folder and its row there.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

struct VirtualModel {
  int number = 0;    // the fiscal model number of the control's table
  std::string name;  // as the fiscal table (or the check printer table) writes it
  Hardware hardware;
  // The face of this model around a core that already has its paper.
  std::shared_ptr<VirtualPrinter> (*make)(int number, std::shared_ptr<FiscalCore> core) = nullptr;
};

// Every model with a virtual printer, in model-number order.
const std::vector<VirtualModel>& virtualModels();
// The model of a number; null when it has no virtual printer (a model given
// as text: virtualModelNumber in printers.h).
const VirtualModel* findVirtualModel(int number);
// "  1  BEMATECH ..." lines, one per model, for messages that list them.
std::string virtualModelList();

}  // namespace tarvion::emulator
