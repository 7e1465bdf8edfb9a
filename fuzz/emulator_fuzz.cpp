// Arbitrary host traffic into the virtual printers, on every registered model:
// well-formed frames built from the input, so commands reach their handlers
// with arbitrary parameters and move the fiscal state, mixed with raw bytes
// (broken frames, bad checksums, noise).
//
// Input: byte 0 picks the model; then records [kind][length][bytes]: kind bit 0
// sends the bytes raw; else bit 3 makes them a FiscNET frame (the first byte
// picks the command, the rest are its parameters), bit 4 a frame of the 2009
// command set (byte 0 the sequence and command code, the rest the parameters)
// followed by ENQ 00, and with neither they are the body of a Bematech frame
// (prefix ESC, or FS with bit 1), each made by the driver's frame builder;
// bit 2 opens and closes the line around the record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "drivers/bematech/bematech_protocol.h"
#include "drivers/cv2009/cv2009_protocol.h"
#include "drivers/fiscnet/fiscnet_protocol.h"
#include "emulator/printers.h"
#include "emulator/registry.h"

using namespace tarvion;

namespace {

class CountingSink final : public emulator::ReplySink {
 public:
  void send(const ByteArray& bytes, uint32_t delayMs) override {
    sent += bytes.size();
    clockUs += static_cast<int64_t>(delayMs) * 1000;
  }
  int64_t nowUs() override { return clockUs += 1000; }
  void hangUp() override { hungUp = true; }

  size_t sent = 0;
  int64_t clockUs = 0;
  bool hungUp = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto& models = emulator::virtualModels();
  const int model = models[data[0] % models.size()].number;
  auto printer = emulator::makePrinter(model, "", "");
  if (!printer) __builtin_trap();  // every registered model has a virtual printer
  CountingSink sink;
  printer->lineOpened();
  size_t at = 1;
  int seq = 0;
  while (at + 2 <= size) {
    const uint8_t kind = data[at];
    const size_t n = std::min<size_t>(data[at + 1], size - at - 2);
    const uint8_t* bytes = data + at + 2;
    at += 2 + n;
    if (kind & 0x04) {
      printer->lineClosed();
      printer->lineOpened();
    }
    if (kind & 0x01) {
      printer->receive(bytes, n, sink);
    } else if ((kind & 0x08) && n > 0) {
      static const char* const kCommands[] = {"LeInteiro",
                                              "LeIndicador",
                                              "LeMoeda",
                                              "LeTexto",
                                              "LeData",
                                              "LeHora",
                                              "LeAliquota",
                                              "LeMeioPagamento",
                                              "AbreCupomFiscal",
                                              "VendeItem",
                                              "AcresceItemFiscal",
                                              "AcresceSubtotal",
                                              "PagaCupom",
                                              "ImprimeTexto",
                                              "EncerraDocumento",
                                              "CancelaCupom",
                                              "AbreCreditoDebito",
                                              "AbreGerencial",
                                              "EmiteLeituraX",
                                              "EmiteReducaoZ",
                                              "EmiteLeituraMF",
                                              "LeImpressao",
                                              "DefineAliquota",
                                              "ImprimeCheque"};
      const std::string command = kCommands[bytes[0] % (sizeof kCommands / sizeof *kCommands)];
      const std::string params = n > 1 ? ";" + std::string(bytes + 1, bytes + n) : std::string();
      const std::string frame = fiscnet::buildFrame(seq, command, params);
      seq = fiscnet::nextSequence(seq);
      printer->receive(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), sink);
    } else if ((kind & 0x10) && n > 0) {
      const ByteArray frame = cv2009::buildFrame(bytes[0], ByteArray{bytes[0], 0}, ByteArray(bytes + 1, bytes + n));
      printer->receive(frame.data(), frame.size(), sink);
      const ByteArray enq = cv2009::enq(0);
      printer->receive(enq.data(), enq.size(), sink);
    } else if (n > 0) {
      const ByteArray command(bytes, bytes + 1), parameters(bytes + 1, bytes + n);
      const ByteArray frame = bematech::buildFrame((kind & 0x02) ? bematech::kFS : bematech::kESC, command, parameters);
      printer->receive(frame.data(), frame.size(), sink);
    }
  }
  printer->lineClosed();
  (void)printer->printedPaper();
  return 0;
}
