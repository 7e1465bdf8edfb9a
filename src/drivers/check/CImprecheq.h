// CImprecheq: Imprecheq check printers. A command is ESC, a letter and its
// parameters, written one byte at a time: after each byte the printer holds
// DSR while it takes it in. It answers nothing (check_protocol.h).
#pragma once

#include <string>

#include "drivers/check/check_ops.h"
#include "drivers/check/check_protocol.h"

namespace tarvion {

class CImprecheq : public CCheckPrinter {
 public:
  CImprecheq();
  const char* ClassName() const override { return "CImprecheq"; }

  // ---- transport
  BOOL CheckForSuccess() override { return kTrue; }
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;

  // ---- the check operations
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
  BOOL ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) override;
  BOOL ReleaseCheck() override { return kTrue; }
  BOOL SetCheckConfiguration(const std::string& strSingleCurrency, const std::string& strMultipleCurrency,
                             const std::string& strCheckLocal, const std::string& strCheckCarrier, DateTime dtCheck,
                             DateTime dtDeposit) override;
  BOOL SetCheckAdditionalInfo(const std::string&) override { return kTrue; }
  BOOL IsDocumentInserted() override;
  BOOL PrintCheckText(const std::string& strText) override;

  // How long the printer may hold DSR after a byte, and how often it is looked at.
  static constexpr uint32_t kByteMs = 60000, kPollMs = 10;

 protected:
  BOOL Command(const std::string& code, const std::string& parameters);
};

}  // namespace tarvion
