// The FiscNET face in the registry: its models (the FiscNET rows of the fiscal
// table), the byte its answers start with and the model of its bench sale.
#include "emulator/fiscnet/printer.h"
#include "emulator/registry.h"

namespace tarvion::emulator {

FaceFamily fiscnet_face() {
  FaceFamily f;
  f.name = "fiscnet";
  f.models = &fiscnet::virtualModels;
  f.answerStarts = {'{'};  // every reply is one braced frame
  f.benchModel = 23;       // ELGIN X5
  return f;
}

}  // namespace tarvion::emulator
