// CPertoCheck: Perto check printers on the serial port. Each command is one
// STX/ETX frame with a block check; the printer acknowledges it with one byte,
// then answers a frame with a three-digit status (check_protocol.h).
#pragma once

#include <string>

#include "drivers/check/check_ops.h"
#include "drivers/check/check_protocol.h"

namespace tarvion {

class CPertoCheck : public CCheckPrinter {
 public:
  CPertoCheck();
  const char* ClassName() const override { return "CPertoCheck"; }

  // ---- transport
  BOOL CheckForSuccess() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  BOOL CarregaTimeoutsPorta() override;

  // ---- the check operations
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
  BOOL ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) override;
  BOOL ReleaseCheck() override;
  BOOL SetCheckConfiguration(const std::string& strSingleCurrency, const std::string& strMultipleCurrency,
                             const std::string& strCheckLocal, const std::string& strCheckCarrier, DateTime dtCheck,
                             DateTime dtDeposit) override;
  BOOL SetCheckAdditionalInfo(const std::string& strAdditionalInfo) override;
  BOOL IsDocumentInserted() override { return kTrue; }
  BOOL PrintCheckText(const std::string& strText) override;

  // Set by a read that succeeded, so that the check just read is printed
  // where it stands instead of being fed again; cleared by every print and
  // at the start of every read.
  bool bCheckRead = false;
  // What follows the CMC-7 line in a reply to "P" (check_protocol.h).
  size_t nReplyTrailer = check::perto::kSerialTrailer;

  // How long the printer may take to acknowledge a frame, and then to answer.
  static constexpr uint32_t kAckMs = 2000, kReplyMs = 60000;

 protected:
  // One command byte and its parameter text, sent as one frame.
  BOOL Command(uint8_t code, const std::string& parameters = {});
  exchange::Verdict JudgeFirst(exchange::First kind, uint8_t byte) override;
  BOOL AwaitAnswer(exchange::PortExchange& x, uint32_t timeoutMs) override;
};

}  // namespace tarvion
