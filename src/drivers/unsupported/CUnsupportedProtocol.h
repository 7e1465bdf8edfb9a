// Drivers for printers whose protocol this library does not speak. They exist so
// that every model number selects its own class, but they never pretend to print:
// opening the port fails with a clear message and nothing goes on the wire.
#pragma once

#include "core/ecf_base.h"
#include "core/text.h"

namespace tarvion {

template <class Tag>
class CUnsupportedProtocol : public CECFBase {
 public:
  const char* ClassName() const override { return Tag::kName; }
  BOOL OpenComm(BOOL) override { return Refuse("CECFBase::OpenComm"); }
  BOOL ContinueComm() override { return Refuse("CECFBase::ContinueComm"); }
  BOOL InitialConfiguration() override { return Refuse("CECFBase::InitialConfiguration"); }

 protected:
  BOOL Refuse(const char* where) {
    strLastError =
        text::format(text::cp("O protocolo do modelo %s não é suportado por esta biblioteca.").c_str(), Tag::kPrinter);
    Log(where, strLastError);
    return kFalse;
  }
};

}  // namespace tarvion
