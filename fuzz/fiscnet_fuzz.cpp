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

void runOperation(CFiscNET& d, uint8_t op) {
  std::string s;
  BOOL b = kFalse;
  DateTime dt = DateTime::invalid();
  long n = 0;
  switch (op % 20) {
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
      d.LeituraXSerial(s);
      break;
    case 8:
      d.ReadDateTime(dt);
      break;
    case 9:
      d.ReadFiscalInformation();
      break;
    case 10:
      d.CupomFiscalAberto(b);
      break;
    case 11:
      d.RegistraItemFiscal("1", "Item", "UN", 18, 3, 1, 0.5);
      break;
    case 12:
      d.RegistraPagamento("Dinheiro", 10);
      break;
    case 13:
      d.FechaCupomFiscal("OBRIGADO", 0);
      break;
    case 14:
      d.ReducaoZ(DateTime::fromParts(2026, 1, 1, 10, 0, 0));
      break;
    case 15:
      d.GetDataMovUltimaRZ();
      break;
    case 16:
      d.ReadCheck(kFalse, s);
      break;
    case 17:
      d.ReadInteger("COO", n);
      break;
    case 18:
      d.ComprovanteNaoFiscalNaoVinculado(1, 5, "Dinheiro");
      break;
    default:
      d.GetFirmwareVersion();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);
  const int port = 60;
  const fuzzing::ReplyPort line(port, reply, setup);
  {
    CElginX5 d;
    line.setUp(d);
    d.arTaxes = {"T00,18.00"};
    d.arPaymentTypes = {"-2,DINHEIRO"};
    d.arNonFiscalTitles = {"00,SANGRIA,F"};
    d.OpenComm(kFalse);
    if (d.bPortOpen) runOperation(d, op);
    d.CloseComm();
  }
  return 0;
}
