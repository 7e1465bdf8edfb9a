// The check printers' faces in the registry: the Perto, Chronos and Imprecheq
// rows of the check table. A Perto answer starts with its acknowledgement, its
// refusal or STX; a Chronos answer is one status byte, bit 7 always clear.
// There is no sale to bench on a check printer.
#include "emulator/check/printer.h"
#include "emulator/registry.h"

namespace tarvion::emulator {

FaceFamily check_face() {
  FaceFamily f;
  f.name = "check";
  f.models = &checks::virtualModels;
  for (int b = 0; b < 0x80; ++b) f.answerStarts.push_back(static_cast<uint8_t>(b));
  f.benchModel = 0;
  return f;
}

}  // namespace tarvion::emulator
