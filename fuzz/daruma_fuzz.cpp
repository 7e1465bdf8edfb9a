// Arbitrary printer replies through the Daruma drivers: the reply parsers as
// pure functions, then whole operations over the virtual wire with a printer
// that answers every command with the input, on the FS600 and the classic
// driver.
//
// Input: byte 0 picks the operation (bit 7 the classic driver), byte 1 the
// set-up (bit 0 the reply goes out in 3-byte pieces, bits 4-5 baud pacing);
// the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/daruma/CDaruma.h"
#include "drivers/daruma/CDarumaFS600.h"
#include "drivers/daruma/daruma_protocol.h"
#include "fuzz/operations.h"
#include "fuzz/reply_peer.h"

using namespace tarvion;

namespace {

void pureFunctions(const ByteArray& r) {
  const size_t whole = daruma::replyLength(r.data(), r.size());
  if (whole > r.size()) __builtin_trap();
  const std::string_view body = daruma::replyBody(r);
  int code = 0;
  if (daruma::replyCode(body, code)) {
    if (code < 0 || code > 999) __builtin_trap();
    (void)daruma::errorText(code);
  }
  if (daruma::classicError(body, code)) (void)daruma::classicMessageUtf8(code);
  std::string value;
  (void)daruma::registerValue(body, daruma::kRead, 26, value);
  (void)daruma::stampValue(body);
  (void)daruma::textField(body, 20, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);
  const fuzzing::ReplyPort line(61, reply, setup);
  using fuzzing::Op;
  static const std::initializer_list<Op> kClassic = {Op::OpenReceipt,
                                                     Op::Online,
                                                     Op::LoadTaxes,
                                                     Op::LoadPaymentTypes,
                                                     Op::LoadNonFiscalTitles,
                                                     Op::ReceiptNumber,
                                                     Op::DateTime,
                                                     Op::FiscalInformation,
                                                     Op::ReceiptOpen,
                                                     Op::Item,
                                                     Op::UserDateTime,
                                                     Op::FiscalMemoryByReduction,
                                                     Op::ReadDaylightSaving,
                                                     Op::ManagementReport};
  static const std::initializer_list<Op> kFs600 = {Op::OpenReceipt,
                                                   Op::Online,
                                                   Op::LoadTaxes,
                                                   Op::LoadPaymentTypes,
                                                   Op::LoadReports,
                                                   Op::LoadNonFiscalTitles,
                                                   Op::ReceiptNumber,
                                                   Op::DateTime,
                                                   Op::FiscalInformation,
                                                   Op::ReceiptOpen,
                                                   Op::Item,
                                                   Op::Payment,
                                                   Op::CancelReceipt,
                                                   Op::InitialConfiguration,
                                                   Op::PafIdentification,
                                                   Op::RestartCounter};
  const bool classic = op & 0x80;
  std::unique_ptr<CECFBase> d;
  if (classic)
    d = std::make_unique<CDaruma>();
  else
    d = std::make_unique<CDarumaFS600>();
  d->arTaxes = {"T18.00"};
  d->arPaymentTypes = {"Dinheiro"};
  line.session(*d, [&] { fuzzing::runPicked(*d, op, classic ? kClassic : kFs600); });
  return 0;
}
