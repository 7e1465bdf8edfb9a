// Which models have a virtual printer, and how to make one. Each family of
// faces registers itself in emulator/<family>/<family>_family.cpp, as a
// function `FaceFamily <family>_face()`: its models (number and name of the
// control's model table, and the hardware around the fiscal half) with a
// factory, the bytes its answers start with and the model of its bench sale.
// The build calls every family of the family list (cmake/families.cmake)
// through generated glue; nothing here names a family.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/capabilities.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

// Check printers have no fiscal model number: their virtual printers go by
// 100 and their number in the check table (PERTOCHECK, the tenth, is 110).
constexpr int kCheckModelBase = 100;
constexpr int checkPrinterNumber(int checkNumber) {
  return kCheckModelBase + checkNumber;
}

struct VirtualModel {
  // The fiscal model number of the control's table, or a check printer's
  // number as checkPrinterNumber makes it.
  int number = 0;
  std::string name;  // as the fiscal table (or the check printer table) writes it
  Hardware hardware;
  // The face of this model around a core that already has its paper.
  std::shared_ptr<VirtualPrinter> (*make)(int number, std::shared_ptr<FiscalCore> core) = nullptr;
};

struct FaceFamily {
  const char* name = "";  // as the family list writes it
  // The models its face serves.
  std::vector<VirtualModel> (*models)() = nullptr;
  // Every byte an answer of the family can start with: injected noise never
  // starts with one, so a driver never takes noise for the start of a reply.
  std::vector<uint8_t> answerStarts;
  int benchModel = 0;  // the model the bench sale runs on
};

// Every listed family, in the list's order (generated).
const std::vector<FaceFamily>& faceFamilies();

// Every model with a virtual printer, in model-number order.
const std::vector<VirtualModel>& virtualModels();
// The model of a number; null when it has no virtual printer (a model given
// as text: virtualModelNumber in printers.h).
const VirtualModel* findVirtualModel(int number);
// The row of the control's tables a virtual model number stands for: the
// fiscal row, or the check row of a check printer's number; null for neither.
const caps::ModelRow* virtualModelRow(int number);
// "  1  BEMATECH ..." lines, one per model, for messages that list them.
std::string virtualModelList();

// Whether an answer of some family can start with the byte.
bool startsAnAnswer(uint8_t byte);

}  // namespace tarvion::emulator
