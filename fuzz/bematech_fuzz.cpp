// Arbitrary printer replies through the Bematech driver: the status decoding and
// reply fields as pure functions, then whole operations over the virtual wire
// (serial or USB) with a printer that answers every command with the input.
//
// Input: byte 0 picks the operation, byte 1 the set-up (bit 0 FS prefix, bit 1
// USB, bit 2 no early end, bit 3 CTS held while sending, bits 4-5 baud pacing,
// bit 6 answer in 8-byte chunks on USB instead of 3); the rest is the reply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "core/virtual_wire.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/CBematech2100.h"
#include "drivers/bematech/CIBM4610.h"
#include "fuzz/operations.h"

using namespace tarvion;

namespace {

class ReplyPeer final : public VirtualPeer {
 public:
  ReplyPeer(ByteArray reply, bool usb, size_t chunk, bool holdCts)
      : reply_(std::move(reply)), usb_(usb), chunk_(chunk), holdCts_(holdCts) {}

  void onBytes(const uint8_t* data, size_t n, VirtualLink& link) override {
    bematech::ParsedFrame f;
    (void)bematech::parseFrame(data, n, f);
    if (usb_) {
      for (size_t i = 0; i < reply_.size(); i += chunk_)
        chunks_.emplace_back(reply_.begin() + static_cast<long>(i),
                             reply_.begin() + static_cast<long>(std::min(reply_.size(), i + chunk_)));
      return;
    }
    link.send(reply_);
    if (holdCts_) link.setHolds(true, false);
  }
  bool onControl(uint32_t code, const ByteArray&, ByteArray& out, VirtualLink&) override {
    if (code != 0x80942032) return true;
    if (chunks_.empty()) {
      out = {'B', 'E', 'M', 'A', 'A', 'M', 'E', 'B'};
    } else {
      out = chunks_.front();
      chunks_.pop_front();
    }
    return true;
  }

 private:
  ByteArray reply_;
  bool usb_;
  size_t chunk_;
  bool holdCts_;
  std::deque<ByteArray> chunks_;
};

void pureFunctions(const ByteArray& r) {
  for (uint8_t c : {0, 19, 23, 30, 35, 62, 69, 8}) {
    for (bool fs : {false, true}) {
      bematech::Status s = bematech::statusOf(r, c, fs);
      (void)bematech::statusText(s);
      (void)bematech::statusOk(s);
      (void)bematech::fmt::textOfReply(r, fs);
    }
  }
  const uint16_t st3 = bematech::st3Of(r);
  for (auto t :
       {bematech::St3Table::Full, bematech::St3Table::MP25, bematech::St3Table::IBM4610, bematech::St3Table::MP2000})
    (void)bematech::st3Text(t, st3);
  const std::string flags = bematech::fmt::taxFlags(r);
  (void)bematech::fmt::taxList(r, flags);
  (void)bematech::fmt::bcdDate(r.data(), r.size() >= 6 ? 6 : r.size());
  (void)bematech::fmt::bcdDecimal(r.data(), r.size() > 10 ? 10 : r.size());
  (void)bematech::fmt::hexDigitsValue(r.data(), r.size() > 2 ? 2 : r.size());
  bematech::ParsedFrame f;
  (void)bematech::parseFrame(r.data(), r.size(), f);
  if (r.size() >= 8) {
    double v;
    std::memcpy(&v, r.data(), sizeof v);
    (void)bematech::fmt::fixedField(v, 14, 0);
    (void)bematech::fmt::fixedField(v, 5, 2);
    (void)fields::format(v, bematech::fmt::field::kSubtotalIncrease);
    (void)bematech::fmt::itemFields("01T1800", v, v, v);
    (void)bematech::fmt::taxKey(v, false);
  }
  const std::string text(r.begin(), r.end());
  (void)bematech::fmt::itemDescription(text);
  (void)bematech::fmt::reportBlocks(text, 48);
  (void)bematech::fmt::closingText(text, text, text, 40);
}

}  // namespace

// Settings the drivers keep (the PAF identification of the FS models) go to a
// folder of the run's own, never to the user's configuration.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/tarvion-fuzz-config-XXXXXX";
  if (mkdtemp(folder)) setenv("XDG_CONFIG_HOME", folder, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], setup = data[1];
  const ByteArray reply(data + 2, data + size);
  pureFunctions(reply);

  const bool fs = setup & 0x01, usb = setup & 0x02;
  const int port = usb ? 1050 : 50;
  auto peer = std::make_shared<ReplyPeer>(reply, usb, (setup & 0x40) ? 8 : 3, (setup & 0x08) != 0);
  auto dev = std::make_shared<VirtualDevice>(peer);
  static const uint32_t kBauds[4] = {0, 9600, 115200, 1200};
  dev->setBaud(kBauds[(setup >> 4) & 3]);
  ports::attachVirtual(port, dev);
  {
    std::unique_ptr<CBematech> d;
    if (!fs)
      d = std::make_unique<CBematech>();
    else if (setup & 0x80)
      d = std::make_unique<CIBM4610>();
    else
      d = std::make_unique<CBematech2100>();
    d->nPortNumber = port;
    d->nBaudRate = 9600;
    d->nDataBits = 8;
    d->nStopBits = 1;
    // Short waits keep a silent printer cheap; the wire's clock is simulated anyway.
    d->nAnswerTimeout = 2000;
    d->bEndOnKnownLength = (setup & 0x04) ? kFalse : kTrue;
    d->arTaxes = {"", "T18.00"};
    d->arPaymentTypes = {"Dinheiro", "Cheque"};
    d->arNonFiscalTitles = {"", "01,&,SANGRIA"};
    d->CashDrawerAttached = kTrue;
    d->OpenComm(kFalse);
    using fuzzing::Op;
    if (d->bPortOpen)
      fuzzing::runPicked(*d, op,
                         {Op::OpenReceipt,
                          Op::InitialConfiguration,
                          Op::Online,
                          Op::LoadTaxes,
                          Op::LoadPaymentTypes,
                          Op::LoadNonFiscalTitles,
                          Op::ReceiptNumber,
                          Op::XReportOverThePort,
                          Op::FiscalMemoryByReduction,
                          Op::ReadDaylightSaving,
                          Op::SetDaylightSaving,
                          Op::ReceiptOpen,
                          Op::SerialNumber,
                          Op::DateTime,
                          Op::FiscalInformation,
                          Op::SaleTotal,
                          Op::UserDateTime,
                          Op::UserGrandTotal,
                          Op::NonFiscalTotal,
                          Op::PendingZReport,
                          Op::FiscalDate,
                          Op::ResetNonFiscalTitles,
                          Op::AddPaymentType,
                          Op::LowPaper,
                          Op::Item,
                          Op::NonFiscalReceipt,
                          Op::FirmwareVersion,
                          Op::OperationCounter});
    d->CloseComm();
  }
  ports::detachVirtual(port);
  return 0;
}
