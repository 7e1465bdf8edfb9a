// CDarumaFS800i: the 2009 command set as Daruma's FS800i speaks it: the text
// goes as Windows-1252 again, the printer may take 10 seconds to start its
// answer, the drawer sensor is read, the cut feeds five lines first, and the
// port keeps the settings it has.
#pragma once

#include "drivers/cv2009/CECFCV2009V2.h"

namespace tarvion {

class CDarumaFS800i : public CECFCV2009V2 {
 public:
  explicit CDarumaFS800i(int intFabricante);
  const char* ClassName() const override { return "CDarumaFS800i"; }

  BOOL IsCashDrawerClosed() override { return CECFCV2009::IsCashDrawerClosed(); }
  BOOL CutPaper() override;
  BOOL GetCommState() override;
  BOOL SetCommState() override { return kTrue; }
  BOOL ReadLastCFeKey(std::string& strKey) override;

 protected:
  const text::Charset& PrinterCharset() const override { return text::charset::windows1252(); }

 private:
  bool bReadSettings = false;
};

}  // namespace tarvion
