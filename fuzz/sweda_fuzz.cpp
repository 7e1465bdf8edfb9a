// Arbitrary printer replies through the Sweda drivers: the reply functions as
// pure functions, then whole operations over the virtual wire with a printer
// that answers every write with the input.
//
// Input: byte 0 picks the operation (bit 7: the classic driver), byte 1 the
// set-up (bit 0 the reply goes out in 3-byte pieces); the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/sweda/CSweda.h"
#include "drivers/sweda/CSwedaST.h"
#include "drivers/sweda/sweda_protocol.h"
#include "fuzz/operations.h"
#include "fuzz/reply_peer.h"

using namespace tarvion;

namespace {

void pureFunctions(const ByteArray& r) {
  const ByteArray e = sweda::expandRuns(r);
  if (e.size() > r.size() * 225 + 1) __builtin_trap();  // a run never grows past its count
  (void)sweda::replyCode(e);
  (void)sweda::replyFields(e);
  (void)sweda::errorText(sweda::replyCode(e));
  (void)sweda::replyCheckOk(r);
  (void)sweda::classicSuccess(r, true);
  (void)sweda::classicErrorText(r);
  (void)sweda::classicBusy(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);
  const fuzzing::ReplyPort line(61, reply, setup);
  std::unique_ptr<CECFBase> d;
  if (op & 0x80)
    d = std::make_unique<CSweda>();
  else
    d = std::make_unique<CSwedaST>();
  d->arTaxes = {"T18,00%", "T18,00"};
  d->arPaymentTypes = {"Dinheiro"};
  using fuzzing::Op;
  line.session(*d, [&] {
    fuzzing::runPicked(
        *d, op,
        {Op::OpenReceipt, Op::Online, Op::LoadTaxes, Op::LoadPaymentTypes, Op::ReceiptNumber, Op::XReportOverThePort,
         Op::DateTime, Op::ReceiptOpen, Op::Item, Op::Payment, Op::ReadCheck, Op::XReport});
  });
  return 0;
}
