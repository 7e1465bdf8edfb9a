// CECFCV2009V2: the 2009 command set with the text of reports, linked
// receipts, customers and closing messages in code page 850, quantities sent
// with two implied decimals, and the time of the last document kept from the
// replies of the commands that print one.
#pragma once

#include "drivers/cv2009/CECFCV2009.h"

namespace tarvion {

class CECFCV2009V2 : public CECFCV2009 {
 public:
  explicit CECFCV2009V2(int intFabricante);
  const char* ClassName() const override { return "CECFCV2009V2"; }

  BOOL IsCashDrawerClosed() override;
  DateTime GetLastDocumentDateTime() override;
  BOOL ResetPAFECFIdentification() override;

  // Host text in the printers' code page 850 (text::charset::printer850).
  static std::string ToPrinterCodePage(const std::string& s);

  // The date and time of the last document this driver printed; invalid
  // until the first one.
  DateTime dtLastDocument = DateTime::invalid();

 protected:
  const text::Charset& PrinterCharset() const override { return text::charset::printer850(); }
  bool QuantityParams(double quantity, std::string& digits, std::string& decimals, std::string& error) override;
  void DocumentStarting() override;
  void DocumentDone(BOOL ok) override;
  uint8_t DtrControl() const override { return kDtrHandshake; }
  uint8_t RtsControl() const override { return kRtsHandshake; }
};

}  // namespace tarvion
