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
#include "fuzz/operations.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);
  const fuzzing::ReplyPort line(61, reply, setup);
  CSchalterECFIF d;
  d.arTaxes = {"00,18,00"};
  d.arPaymentTypes = {"00,Dinheiro"};
  using fuzzing::Op;
  line.session(d, [&] {
    fuzzing::runPicked(d, op,
                       {Op::OpenReceipt, Op::Online, Op::LoadTaxes, Op::LoadPaymentTypes, Op::LoadNonFiscalTitles,
                        Op::ReceiptNumber, Op::DateTime, Op::SerialNumber, Op::ReceiptOpen, Op::Item, Op::Payment,
                        Op::CancelReceipt, Op::XReport, Op::SaleTotal, Op::SetDaylightSaving, Op::FinalGrandTotal});
  });
  return 0;
}
