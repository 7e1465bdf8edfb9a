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

void runFs600(CDarumaFS600& d, uint8_t op) {
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
      d.LoadReports();
      break;
    case 5:
      d.LoadNonFiscalTitles();
      break;
    case 6:
      d.RetornaNumeroCupom(s);
      break;
    case 7:
      d.ReadDateTime(dt);
      break;
    case 8:
      d.ReadFiscalInformation();
      break;
    case 9:
      d.CupomFiscalAberto(b);
      break;
    case 10:
      d.RegistraItemFiscal("1", "Item", "UN", 18, 3, 1, 0.5);
      break;
    case 11:
      d.RegistraPagamento("Dinheiro", 10);
      break;
    case 12:
      d.CancelaCupomFiscal();
      break;
    case 13:
      d.InitialConfiguration();
      break;
    case 14:
      d.GetPAFECFIdentification(s, s);
      break;
    default:
      d.GetUserRestartCounter();
      break;
  }
}

void runClassic(CDaruma& d, uint8_t op) {
  std::string s;
  BOOL b = kFalse;
  DateTime dt = DateTime::invalid();
  switch (op % 14) {
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
      d.ReadFiscalInformation();
      break;
    case 8:
      d.CupomFiscalAberto(b);
      break;
    case 9:
      d.RegistraItemFiscal("1", "Item", "UN", 18, 3, 1, 0.5);
      break;
    case 10:
      d.GetUserDateTime();
      break;
    case 11:
      d.LeituraMFSerialReducao(1, 2, s, kFalse);
      break;
    case 12:
      d.VerificaHorarioVerao(b);
      break;
    default:
      d.ImprimeRelatorioGerencial("LINHA 1\nLINHA 2");
      break;
  }
}

template <class Driver, class Run>
void onWire(const ByteArray& reply, uint8_t setup, Run run) {
  const int port = 61;
  const fuzzing::ReplyPort line(port, reply, setup);
  {
    Driver d;
    line.setUp(d);
    d.arTaxes = {"T18.00"};
    d.arPaymentTypes = {"Dinheiro"};
    d.OpenComm(kFalse);
    if (d.bPortOpen) run(d);
    d.CloseComm();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);
  if (op & 0x80)
    onWire<CDaruma>(reply, setup, [&](CDaruma& d) { runClassic(d, op); });
  else
    onWire<CDarumaFS600>(reply, setup, [&](CDarumaFS600& d) { runFs600(d, op); });
  return 0;
}
