// The Schalter face in the registry: its models (the Schalter rows of the
// fiscal table), the bytes its answers start with and the model of its bench sale.
#include "emulator/registry.h"
#include "emulator/schalter/printer.h"

namespace tarvion::emulator {

FaceFamily schalter_face() {
  FaceFamily f;
  f.name = "schalter";
  f.models = &schalter::virtualModels;
  // Every answer starts with its status byte: success or one of the error codes.
  f.answerStarts = {0,   1,   2,   3,   4,   10,  11,  12,  13,  14,  15,  16,  20,  21,  22,  23,  27,  30,  31,  65,
                    66,  68,  69,  70,  73,  74,  78,  79,  80,  81,  82,  84,  85,  86,  87,  88,  89,  90,  91,  92,
                    94,  95,  96,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113,
                    114, 115, 116, 117, 118, 119, 120, 121, 126, 127, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141,
                    142, 143, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 157};
  f.benchModel = 38;  // SCHALTER ECF IF SCFI 1E
  return f;
}

}  // namespace tarvion::emulator
