// The face of the 2009 command set in the registry: its models (the rows of
// that family in the fiscal table), the bytes its answers start with and the
// model of its bench sale.
#include "emulator/cv2009/codec.h"
#include "emulator/cv2009/printer.h"
#include "emulator/registry.h"

namespace tarvion::emulator {

FaceFamily cv2009_face() {
  FaceFamily f;
  f.name = "cv2009";
  f.models = &cv2009::virtualModels;
  // A reply frame (SOH), the ACK that asks for an ENQ, busy (DC1), a refusal
  // (NAK) and the answer to the line probe (SYN).
  f.answerStarts = {cv2009::kSOH, cv2009::kACK, cv2009::kDC1, cv2009::kNAK, cv2009::kSYN};
  f.benchModel = 54;  // MP-4200 TH FI
  return f;
}

}  // namespace tarvion::emulator
