// Arbitrary printer replies through the Epson driver: the reply framing, the
// fields and return codes as pure functions, then whole operations over the
// virtual wire with a printer that answers every frame with the input.
//
// Input: byte 0 picks the operation, byte 1 the set-up (bit 0 the reply goes
// out in 3-byte pieces, bits 4-5 baud pacing); the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/epson/CEpson.h"
#include "drivers/epson/epson_protocol.h"
#include "fuzz/operations.h"
#include "fuzz/reply_peer.h"

using namespace tarvion;

namespace {

void pureFunctions(const ByteArray& r) {
  const std::string s(r.begin(), r.end());
  const size_t whole = epson::frameLength(r.data(), r.size());
  if (whole > r.size()) __builtin_trap();  // a frame never ends past the bytes it was given
  size_t length = 0;
  const size_t at = epson::findReply(r.data(), r.size(), r.empty() ? 0x81 : r[0] | 0x80, length);
  if (at != std::string::npos && at + length > r.size()) __builtin_trap();
  (void)epson::checksumMatches(s);
  const auto fields = epson::replyFields(s);
  int cls = 0, detail = 0;
  if (epson::returnCode(fields, cls, detail)) (void)epson::errorText(cls, detail);
  (void)epson::printerLines(s, 1 + (r.empty() ? 0 : r[0] % 60));
  if (!s.empty()) (void)epson::taxField(s, r[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);
  const fuzzing::ReplyPort line(61, reply, setup);
  CEpson d;
  d.arTaxes = {"TA-18,00%"};
  d.arPaymentTypes = {"DINHEIRO"};
  using fuzzing::Op;
  line.session(d, [&] {
    fuzzing::runPicked(d, op,
                       {Op::OpenReceipt, Op::Online, Op::LoadTaxes, Op::LoadPaymentTypes, Op::ReceiptNumber,
                        Op::DateTime, Op::FiscalInformation, Op::ReceiptOpen, Op::Item, Op::Payment, Op::CloseReceipt,
                        Op::ZReport, Op::XReport, Op::CancelReceipt, Op::NonFiscalReceipt, Op::LastDocumentDateTime});
  });
  return 0;
}
