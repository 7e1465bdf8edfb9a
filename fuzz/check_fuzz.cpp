// Arbitrary printer replies through the check printers' drivers: the reply
// readers as pure functions, then whole operations over the virtual wire on a
// Perto and a Chronos printer that answer every command with the input.
//
// Input: byte 0 picks the operation, byte 1 the set-up (bit 0 the reply goes
// out in 3-byte pieces, bit 1 the Chronos instead of the Perto, bits 4-5 baud
// pacing); the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/check/CChronos.h"
#include "drivers/check/CPertoCheck.h"
#include "drivers/check/check_protocol.h"
#include "fuzz/reply_peer.h"

using namespace tarvion;

namespace {

void pureFunctions(const ByteArray& r) {
  ByteArray framed = r;
  (void)check::perto::frameIntact(framed);
  check::perto::frameReply(framed);
  int code = 0;
  if (check::perto::statusCode(framed, code)) (void)check::perto::statusMessage(code);
  (void)check::perto::cmc7Line(framed, check::perto::kSerialTrailer);
  (void)check::perto::cmc7Line(framed, check::perto::kLibraryTrailer);
  if (!r.empty()) (void)check::chronos::statusMessage(r[0]);
  const std::string s(r.begin(), r.end());
  const auto same = [](const std::string& t) { return t; };
  if (check::perto::textBlock(s, same).size() < check::perto::kTextLines) __builtin_trap();
  (void)check::chronos::textLines(s, 82, same);
  (void)check::imprecheq::textBlock(s, 40, same);
}

void runOperation(CECFBase& d, uint8_t op) {
  std::string s;
  const DateTime day = DateTime::fromParts(2026, 12, 4);
  switch (op % 8) {
    case 0:
      d.ReadCheck(op & 0x10, s);
      break;
    case 1:
      d.PrintCheck(123.45, "001");
      break;
    case 2:
      d.ReadAndPrintCheck(10, "237", s);
      break;
    case 3:
      d.ReleaseCheck();
      break;
    case 4:
      d.SetCheckConfiguration("Real", "Reais", "Recife", "Maria", day, DateTime::fromParts(2027, 1, 4));
      break;
    case 5:
      d.SetCheckAdditionalInfo("Conta 123");
      break;
    case 6:
      d.PrintCheckText("LINHA 1\nLINHA 2\n");
      break;
    default:
      d.IsDocumentInserted();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);
  const int port = 61;
  const fuzzing::ReplyPort line(port, reply, setup);
  {
    std::unique_ptr<CECFBase> d;
    if (setup & 0x02)
      d = std::make_unique<CChronos>();
    else
      d = std::make_unique<CPertoCheck>();
    line.setUp(*d);
    d->OpenComm(kFalse);
    if (d->bPortOpen) runOperation(*d, op);
    d->CloseComm();
  }
  return 0;
}
