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

  // Windows-1252 letters 0xC0-0xFD as code page 850; Ñ Ý ñ ý as N Y n y; the
  // letters code page 850 lacks, and every other byte, unchanged.
  static std::string ToPrinterCodePage(const std::string& s);

  // The date and time of the last document this driver printed; invalid
  // until the first one.
  DateTime dtLastDocument = DateTime::invalid();

 protected:
  std::string PrinterText(const std::string& s) override { return ToPrinterCodePage(s); }
  bool QuantityParams(double quantity, std::string& digits, std::string& decimals, std::string& error) override;
  void DocumentStarting() override;
  void DocumentDone(BOOL ok) override;
  uint8_t DtrControl() const override { return kDtrHandshake; }
  uint8_t RtsControl() const override { return kRtsHandshake; }
};

}  // namespace tarvion
