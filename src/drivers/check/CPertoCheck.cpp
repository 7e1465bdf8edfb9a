// CPertoCheck: the serial exchange and the check operations.
#include "drivers/check/CPertoCheck.h"

namespace tarvion {

using namespace check;
using text::cp;
using text::format;

namespace {

const char* const kNoAnswer = "Timeout recebendo resposta da impressora.";

}  // namespace

CPertoCheck::CPertoCheck() {
  portProfile = plainLine("CPertoCheck");
}

BOOL CPertoCheck::CarregaTimeoutsPorta() {
  CECFBase::CarregaTimeoutsPorta();
  timeouts.ReadIntervalTimeout = 50;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 500;
  return kTrue;
}

// Wire example: "P" is 02 50 03 51.
Frame CPertoCheck::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;  // nothing pending: nothing to send
  return std::make_unique<ByteArray>(perto::frame(command, parameters));
}

BOOL CPertoCheck::CheckForSuccess() {
  if (arAnswer.size() < 4) return kFalse;
  perto::frameReply(arAnswer);
  int code = 0;
  if (!perto::statusCode(arAnswer, code)) {
    strLastError = cp("Resposta inválida da impressora.");
    return kFalse;
  }
  if (code == 0) return kTrue;
  strLastError = perto::statusMessage(code);
  return kFalse;
}

exchange::Verdict CPertoCheck::JudgeFirst(exchange::First kind, uint8_t) {
  switch (kind) {
    case exchange::First::Nak:
      // The printer turned the frame down: nothing ran.
      strLastError = kNoAnswer;
      return exchange::Verdict::Refused;
    case exchange::First::Nothing:
    case exchange::First::Failed:
      // Written, but not acknowledged: it may still have run.
      strLastError = kNoAnswer;
      return exchange::Verdict::LineFault;
    default:
      return exchange::Verdict::Done;  // any other byte acknowledges
  }
}

BOOL CPertoCheck::AwaitAnswer(exchange::PortExchange& x, uint32_t) {
  // The acknowledgement came within its own wait; the answer follows the work.
  return x.Wait(kReplyMs);
}

BOOL CPertoCheck::SendCommand(Frame command) {
  const char* where = "CPertoCheck::SendCommand";
  try {
    if (!command) return kTrue;
    // A cable that holds both lines is out: nothing is written.
    LineStatus ls;
    if (!hPort || !hPort->lineStatus(ls)) {
      if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
      SetSystemError();
      lastOutcome = exchange::Outcome::NotWritten;
      return kFalse;
    }
    if (ls.ctsHold && ls.dsrHold) {
      strLastError = cp("Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador.");
      lastOutcome = exchange::Outcome::NotWritten;
      return kFalse;
    }
    static constexpr exchange::FirstByteRules kFirst{"\x06", "\x15", ""};
    exchange::Plan plan;
    plan.where = where;
    plan.line = exchange::LineRule::None;
    plan.drainWhenFresh = true;
    plan.first = &kFirst;
    plan.answerMs = kAckMs;
    plan.end = exchange::ReplyEnd::endingWith("\x03", 1);
    plan.end.maxBytes = 4096;
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(*command, plan, arAnswer, [&](const ByteArray&, size_t, int) {
      // The printer waits for our acknowledgement of its answer.
      const uint8_t ack = kACK;
      size_t written = 0;
      if (!hPort->write(&ack, 1, written)) {
        SetSystemError();
        return exchange::Verdict::LineFault;
      }
      // An answer that is not one whole frame cannot say whether the command ran.
      if (!perto::frameIntact(arAnswer)) {
        strLastError = cp("Resposta inválida da impressora.");
        return exchange::Verdict::LineFault;
      }
      return JudgeStatus();
    });
    command.reset();
    if (!r.ok()) Log(where, format("Retorno=FALSE, %s", strLastError.c_str()));
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CPertoCheck::Command(uint8_t code, const std::string& parameters) {
  ClearBuffers();
  AddCommandByte(code);
  AddParameterString(parameters);
  return Submit();
}

// Wire example: 02 50 03 51, answered 02 "000<00100011<0180000015>500001234565:" 03 and its check byte.
BOOL CPertoCheck::ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) {
  const char* where = "CPertoCheck::ReadCheck";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("bKeepCheck=%s", boolText(bKeepCheck)));
    bCheckRead = false;
    if (!Command(perto::kRead)) return finish(*this, where, kFalse);
    if (arAnswer.size() < nReplyTrailer) {
      strLastError = cp("Resposta inválida da impressora.");
      return finish(*this, where, kFalse);
    }
    strCheckInfo = perto::cmc7Line(arAnswer, nReplyTrailer);
    if (!bKeepCheck && !ReleaseCheck()) return finish(*this, where, kFalse);
    bCheckRead = true;
    return finish(*this, where, kTrue);
  });
}

// Wire example, 123.45 on bank "001" with a check not read before:
//   02 3D 03 3C, then 02 3B "C000000012345001" 03 and its check byte.
BOOL CPertoCheck::PrintCheck(double nValue, const std::string& strBankNumber) {
  const char* where = "CPertoCheck::PrintCheck";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string cents = num(nValue, perto::field::kValue);
    if (!num.ok()) return refuse(*this, where, num.error());
    const std::string parameters = perto::printParameters(cents, oneLine(strBankNumber));
    const bool read = bCheckRead;
    bCheckRead = false;
    if (!read && !Command(perto::kFeed)) return finish(*this, where, kFalse);
    return finish(*this, where, Command(perto::kPrint, parameters));
  });
}

BOOL CPertoCheck::ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) {
  if (!ReadCheck(kTrue, strCheckInfo)) return kFalse;
  return PrintCheck(nValue, strBankNumber);
}

// Wire example: 02 3E 03 3F.
BOOL CPertoCheck::ReleaseCheck() {
  const char* where = "CPertoCheck::ReleaseCheck";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(perto::kRelease)); });
}

// Wire example, city "RECIFE": 02 23 "RECIFE" and 14 blanks 03 and its check byte.
BOOL CPertoCheck::SetCheckConfiguration(const std::string& single, const std::string& multiple,
                                        const std::string& local, const std::string& carrier, DateTime check,
                                        DateTime deposit) {
  const char* where = "CPertoCheck::SetCheckConfiguration";
  return guarded(*this, where, kFalse, [&] {
    StoreCheckConfiguration(single, multiple, local, carrier, check, deposit);
    std::string date, depositDate;
    if (!dateText(dtCheck, "%d%m%y", date)) return refuse(*this, where, cp("Data do cheque inválida."));
    const bool other = dtDeposit.automationDate() != dtCheck.automationDate() || dtDeposit.valid() != dtCheck.valid();
    if (other && !dateText(dtDeposit, "%d/%m/%Y", depositDate))
      return refuse(*this, where, cp("Data do depósito inválida."));
    auto padded = [](const std::string& s, size_t width) {
      return s.size() < width ? s + std::string(width - s.size(), ' ') : s;
    };
    BOOL ok = Command(perto::kCity, padded(strCheckLocal, 20)) && Command(perto::kPayee, padded(strCheckCarrier, 50)) &&
              Command(perto::kDate, date);
    if (ok && other) ok = Command(perto::kDeposit, "Bom para: " + depositDate);
    return finish(*this, where, ok);
  });
}

// Wire example, "Conta 123": 02 3A "Conta 123" and 11 blanks 03 and its check byte.
BOOL CPertoCheck::SetCheckAdditionalInfo(const std::string& strAdditionalInfo) {
  const char* where = "CPertoCheck::SetCheckAdditionalInfo";
  return guarded(*this, where, kFalse, [&] {
    const std::string text = FormatPrinterText(oneLine(strAdditionalInfo));
    return finish(*this, where, Command(perto::kInfo, perto::additionalInfo(text)));
  });
}

// Wire example, "LINHA 1": 02 58 "LINHA 1" FF, then 13 more FF, 03 and its check byte.
BOOL CPertoCheck::PrintCheckText(const std::string& strText) {
  const char* where = "CPertoCheck::PrintCheckText";
  return guarded(*this, where, kFalse, [&] {
    const std::string block =
        perto::textBlock(lines(strText), [this](const std::string& s) { return FormatPrinterText(s); });
    return finish(*this, where, Command(perto::kText, block));
  });
}

}  // namespace tarvion
