// Arbitrary printer replies through the Schalter driver: the reply readers as
// pure functions, then whole operations over the virtual wire with a printer
// that answers every command with the input.
//
// Input: byte 0 picks the operation, byte 1 the set-up (bit 0 the reply goes
// out in 3-byte pieces, bits 4-5 baud pacing); the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/schalter/CSchalterECFIF.h"
#include "drivers/schalter/schalter_protocol.h"
#include "fuzz/reply_peer.h"

using namespace tarvion;

namespace {

void pureFunctions(const ByteArray& r) {
  if (!r.empty()) (void)schalter::statusMessage(r[0]);
  double v = 0;
  long long n = 0;
  (void)schalter::numberAt(r, 4, 21, v);
  (void)schalter::digitsAt(r, 8, 6, n);
  if (schalter::textAt(r, 1, 20).size() > 20) __builtin_trap();
}

void run(CSchalterECFIF& d, uint8_t op) {
  std::string s;
  BOOL b = kFalse;
  DateTime dt = DateTime::invalid();
  switch (op % 16) {
    case 0:
      d.AbreCupomFiscal();
      break;
    case 1:
      d.ECFOnline();
      break;
    case 2:
      d.LoadTaxes();
      break;
    case 3:
      d.LoadPaymentTypes(kTrue);
      break;
    case 4:
      d.LoadNonFiscalTitles();
      break;
    case 5:
      d.RetornaNumeroCupom(s);
      break;
    case 6:
      d.ReadDateTime(dt);
      break;
    case 7:
      d.ReadSerialNumber(s);
      break;
    case 8:
      d.CupomFiscalAberto(b);
      break;
    case 9:
      d.RegistraItemFiscal("1", "Item", "UN", 18, 3, 1, 0.5);
      break;
    case 10:
      d.RegistraPagamento("Dinheiro", 10);
      break;
    case 11:
      d.CancelaCupomFiscal();
      break;
    case 12:
      d.LeituraX();
      break;
    case 13:
      d.GetSaleTotal();
      break;
    case 14:
      d.MudaHorarioVerao(kTrue);
      break;
    default:
      d.GetFinalGrandTotal();
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
    CSchalterECFIF d;
    line.setUp(d);
    d.arTaxes = {"00,18,00"};
    d.arPaymentTypes = {"00,Dinheiro"};
    d.OpenComm(kFalse);
    if (d.bPortOpen) run(d, op);
    d.CloseComm();
  }
  return 0;
}
