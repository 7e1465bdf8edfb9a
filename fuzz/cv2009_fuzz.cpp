// Arbitrary printer replies through the 2009 command set driver: the reply
// codec as pure functions, then whole operations over the virtual wire with a
// printer that answers every packet the host writes with the next piece of
// the input.
//
// Input: byte 0 picks the operation, byte 1 the piece size (1 to 64); the rest
// is cut into pieces, one per packet the host writes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/cv2009/CEpsonCV2009.h"
#include "drivers/cv2009/cv2009_protocol.h"

using namespace tarvion;

namespace {

class PiecePeer final : public VirtualPeer {
 public:
  PiecePeer(const uint8_t* data, size_t n, size_t piece) : data_(data, data + n), piece_(piece) {}
  void onBytes(const uint8_t*, size_t, VirtualLink& link) override {
    if (at_ >= data_.size()) return;
    const size_t n = std::min(piece_, data_.size() - at_);
    link.send(ByteArray(data_.begin() + static_cast<long>(at_), data_.begin() + static_cast<long>(at_ + n)));
    at_ += n;
  }

 private:
  ByteArray data_;
  size_t piece_;
  size_t at_ = 0;
};

void pureFunctions(const uint8_t* data, size_t n) {
  (void)cv2009::replyLength(data, n);
  cv2009::ReplyFrame f;
  (void)cv2009::parseReplyFrame(data, n, f);
  (void)cv2009::parseReplyFrame(data, n, f, false);
  (void)cv2009::splitFields(data, n);
  if (n >= 2) (void)cv2009::statusMessage(data[0], data[1], n > 2 ? data[2] : 1);
  const std::string s(data, data + n);
  (void)cv2009::parseDateTimeText(s);
  (void)cv2009::integerOf(s);
  (void)cv2009::amountOf(s);
  (void)CEpsonCV2009::ReplyData(s, s.substr(0, s.size() / 2));
  (void)CEpsonCV2009::CommandText(ByteArray(data, data + n));
  CECFCV2009 d(1);
  (void)d.TrataRetorno(ByteArray(data, data + n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  pureFunctions(data + 2, size - 2);
  constexpr int kPort = 811;
  auto peer = std::make_shared<PiecePeer>(data + 2, size - 2, 1 + data[1] % 64);
  ports::attachVirtual(kPort, std::make_shared<VirtualDevice>(peer));
  {
    CECFCV2009 d(1);
    d.nPortNumber = kPort;
    d.nBaudRate = 9600;
    d.nDataBits = 8;
    d.nStopBits = 1;
    d.arTaxes = {"T011800"};
    d.arPaymentTypes = {"Dinheiro"};
    std::string text;
    BOOL flag = kFalse;
    switch (data[0] % 10) {
      case 0:
        (void)d.ECFOnline();
        break;
      case 1:
        (void)d.GetOperationCounter();
        break;
      case 2:
        (void)d.LeituraXSerial(text);
        break;
      case 3:
        (void)d.RegistraItemFiscal("1", "X", "UN", 18, 1.5, 2, 0.5);
        break;
      case 4:
        (void)d.FechaCupomFiscal("OBRIGADO", 0);
        (void)d.AbreComprovanteVinculado("Dinheiro", 1, "");
        break;
      case 5:
        (void)d.LoadTaxes();
        (void)d.LoadPaymentTypes(kTrue);
        break;
      case 6:
        (void)d.CancelaCupomFiscal();
        break;
      case 7:
        (void)d.ReadFiscalInformation();
        (void)d.GetLastDocumentDateTime();
        (void)d.GetDataMovUltimaRZ();
        break;
      case 8:
        (void)d.CupomFiscalAberto(flag);
        (void)d.MudaHorarioVerao(kTrue);
        break;
      default:
        (void)d.ReadCFeXML("1", "2", 0, kFalse, text);
        break;
    }
    d.CloseComm();
  }
  ports::detachVirtual(kPort);
  return 0;
}
