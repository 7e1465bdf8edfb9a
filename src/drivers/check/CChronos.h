// CChronos: Chronos check printers. A command is ESC, its code byte and its
// parameters ending in CR, closed by a zero; the printer answers one status
// byte (check_protocol.h). Text lines go out raw, without ESC and unanswered.
#pragma once

#include <string>

#include "drivers/check/check_ops.h"
#include "drivers/check/check_protocol.h"

namespace tarvion {

class CChronos : public CCheckPrinter {
 public:
  CChronos();
  const char* ClassName() const override { return "CChronos"; }

  // ---- transport
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL CarregaTimeoutsPorta() override;

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

  // The printer has no sensor the driver reads: the answer alternates.
  int nDocumentToggle = 0;

 protected:
  BOOL Command(uint8_t code, const std::string& parameters, bool withParameters = true);
  BOOL ReadAnswer(exchange::PortExchange& x, const exchange::Plan& plan, ByteArray& reply) override;
};

}  // namespace tarvion
