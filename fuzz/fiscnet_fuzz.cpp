// Arbitrary printer replies through the FiscNET driver: the reply parser and
// value readers as pure functions, then whole operations over the virtual wire
// with a printer that answers every command with the input.
//
// Input: byte 0 picks the operation, byte 1 the set-up (bit 0 the reply goes
// out in 3-byte pieces, bits 4-5 baud pacing); the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/fiscnet/CElginX5.h"
#include "drivers/fiscnet/fiscnet_protocol.h"
#include "fuzz/operations.h"
#include "fuzz/reply_peer.h"

using namespace tarvion;

namespace {

void pureFunctions(const ByteArray& r) {
  const std::string s(r.begin(), r.end());
  int code = 0;
  if (fiscnet::replyCode(s, code)) (void)fiscnet::errorText(s, code);
  (void)fiscnet::replyLength(r.data(), r.size());
  for (const char* name : {"ValorInteiro", "ValorMoeda", "ValorTexto", "ValorData", "ValorHora", "Circunstancia"}) {
    (void)fiscnet::replyInteger(s, name);
    (void)fiscnet::replyFlag(s, name);
    (void)fiscnet::replyMoney(s, name);
    (void)fiscnet::replyText(s, name);
    DateParts p;
    (void)fiscnet::replyDate(s, name, p);
    (void)fiscnet::replyTime(s, name, p);
  }
  double v = 0;
  (void)fiscnet::parseMoney(s, v);
  const std::string laid = fiscnet::layoutText(fiscnet::convertText(s), 48, 0);
  for (size_t pos = 0; pos < laid.size();) {
    const size_t n = fiscnet::nextChunk(laid, pos);
    if (n == 0) __builtin_trap();  // a chunk always moves on
    pos += n;
  }
  if (r.size() >= 8) {
    std::memcpy(&v, r.data(), sizeof v);
    (void)fiscnet::decimal(v, fiscnet::field::kAmount);
    (void)fiscnet::decimal(v, fiscnet::field::kQuantity);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);
  const fuzzing::ReplyPort line(60, reply, setup);
  CElginX5 d;
  d.arTaxes = {"T00,18.00"};
  d.arPaymentTypes = {"-2,DINHEIRO"};
  d.arNonFiscalTitles = {"00,SANGRIA,F"};
  using fuzzing::Op;
  line.session(d, [&] {
    // The family's own read of a named register, beside the operations.
    if (op % 20 == 19) {
      long n = 0;
      d.ReadInteger("COO", n);
      return;
    }
    fuzzing::runPicked(d, op % 20,
                       {Op::OpenReceipt, Op::Online, Op::LoadTaxes, Op::LoadPaymentTypes, Op::LoadReports,
                        Op::LoadNonFiscalTitles, Op::ReceiptNumber, Op::XReportOverThePort, Op::DateTime,
                        Op::FiscalInformation, Op::ReceiptOpen, Op::Item, Op::Payment, Op::CloseReceipt, Op::ZReport,
                        Op::LastMovementDate, Op::ReadCheck, Op::NonFiscalReceipt, Op::FirmwareVersion});
  });
  return 0;
}
