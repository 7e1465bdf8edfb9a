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

void runOperation(CEpson& d, uint8_t op) {
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
      d.RetornaNumeroCupom(s);
      break;
    case 5:
      d.ReadDateTime(dt);
      break;
    case 6:
      d.ReadFiscalInformation();
      break;
    case 7:
      d.CupomFiscalAberto(b);
      break;
    case 8:
      d.RegistraItemFiscal("1", "Item", "UN", 18, 3, 1, 0.5);
      break;
    case 9:
      d.RegistraPagamento("Dinheiro", 10);
      break;
    case 10:
      d.FechaCupomFiscal("OBRIGADO", 0);
      break;
    case 11:
      d.ReducaoZ(DateTime::fromParts(2026, 1, 1, 10, 0, 0));
      break;
    case 12:
      d.LeituraX();
      break;
    case 13:
      d.CancelaCupomFiscal();
      break;
    case 14:
      d.ComprovanteNaoFiscalNaoVinculado(1, 5, "Dinheiro");
      break;
    default:
      d.GetLastDocumentDateTime();
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
    CEpson d;
    line.setUp(d);
    d.arTaxes = {"TA-18,00%"};
    d.arPaymentTypes = {"DINHEIRO"};
    d.OpenComm(kFalse);
    if (d.bPortOpen) runOperation(d, op);
    d.CloseComm();
  }
  return 0;
}
