// The Daruma faces in the registry: the FS600 and Mach models and the classic
// FS-345 (rows 11 to 18 of the fiscal table), the byte every answer starts
// with and the model of the bench sale.
#include "emulator/daruma/printer.h"
#include "emulator/registry.h"

namespace tarvion::emulator {

FaceFamily daruma_face() {
  FaceFamily f;
  f.name = "daruma";
  f.models = &daruma::virtualModels;
  f.answerStarts = {':'};  // every reply starts at its ':'
  f.benchModel = 13;       // DARUMA FS600
  return f;
}

}  // namespace tarvion::emulator
