// The Bematech face in the registry: its models (every Bematech row of the
// fiscal table), the bytes its answers start with and the model of its bench
// sale.
#include "emulator/bematech/codec.h"
#include "emulator/bematech/printer.h"
#include "emulator/registry.h"

namespace tarvion::emulator {

FaceFamily bematech_face() {
  FaceFamily f;
  f.name = "bematech";
  f.models = &bematech::virtualModels;
  // ACK before a reply, NAK for a refused frame; and STX, which starts a frame
  // on this line and must not be taken for one either.
  f.answerStarts = {bematech::kACK, bematech::kNAK, bematech::kSTX};
  f.benchModel = 1;  // MP-20 FI II
  return f;
}

}  // namespace tarvion::emulator
