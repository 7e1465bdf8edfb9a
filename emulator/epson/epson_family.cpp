// The Epson face in the registry: its models (the Epson rows of the fiscal
// table), the bytes its answers start with and the model of its bench sale.
#include "emulator/epson/printer.h"
#include "emulator/registry.h"

namespace tarvion::emulator {

FaceFamily epson_face() {
  FaceFamily f;
  f.name = "epson";
  f.models = &epson::virtualModels;
  f.answerStarts = {0x06, 0x15, 0x02};  // ACK, NAK, or a reply's STX
  f.benchModel = 24;                    // EPSON TM-T81F
  return f;
}

}  // namespace tarvion::emulator
