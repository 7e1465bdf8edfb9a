// FiscNET frames for the emulator fuzzer: the first byte picks the command,
// the rest are its parameters, numbered with the family's wrapping sequence.
#include <string>

#include "drivers/fiscnet/fiscnet_protocol.h"
#include "fuzz/records.h"

namespace tarvion::fuzz {

namespace {

const char* const kCommands[] = {"LeInteiro",
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

}  // namespace

FrameRecords fiscnet_records() {
  return {"fiscnet", [](const uint8_t* bytes, size_t n, bool, int& sequence) -> std::vector<ByteArray> {
            if (n == 0) return {};
            const std::string command = kCommands[bytes[0] % (sizeof kCommands / sizeof *kCommands)];
            const std::string params = n > 1 ? ";" + std::string(bytes + 1, bytes + n) : std::string();
            const std::string frame = fiscnet::buildFrame(sequence, command, params);
            sequence = fiscnet::nextSequence(sequence);
            return {ByteArray(frame.begin(), frame.end())};
          }};
}

}  // namespace tarvion::fuzz
