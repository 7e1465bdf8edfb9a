// The Sweda faces in the registry: the ST and classic rows of the fiscal
// table, the bytes their answers start with and the model of the bench sale.
#include "emulator/registry.h"
#include "emulator/sweda/printer.h"

namespace tarvion::emulator {

FaceFamily sweda_face() {
  FaceFamily f;
  f.name = "sweda";
  f.models = &sweda::virtualModels;
  // ST: ACK, NAK or a reply frame; classic: a reply starts with '.'.
  f.answerStarts = {0x02, 0x06, 0x15, '.'};
  f.benchModel = 47;  // SWEDA IF ST1000
  return f;
}

}  // namespace tarvion::emulator
