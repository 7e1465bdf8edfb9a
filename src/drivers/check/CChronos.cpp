// CChronos: the exchange of one status byte, and the check operations.
#include "drivers/check/CChronos.h"

#include <algorithm>

namespace tarvion {

using namespace check;
using text::cp;
using text::format;

namespace {

constexpr size_t kReadChunk = 16;
const char* const kBlank30 = "                              ";

}  // namespace

CChronos::CChronos() {
  Columns = chronos::kColumns;
  portProfile.logTag = "CChronos";
  portProfile.fDsrSensitivity = 0;
  portProfile.fOutxCtsFlow = 0;
  portProfile.fOutxDsrFlow = 0;
  portProfile.fDtrControl = kDtrEnable;
  portProfile.fRtsControl = kRtsDisable;
  portProfile.fAbortOnError = 1;
}

BOOL CChronos::CarregaTimeoutsPorta() {
  CECFBase::CarregaTimeoutsPorta();
  timeouts.ReadIntervalTimeout = 300;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 60000;
  return kTrue;
}

// Wire example, bank "001": 1B A2 30 30 31 0D 00.
Frame CChronos::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  return std::make_unique<ByteArray>(chronos::frame(command, parameters));
}

BOOL CChronos::CheckForSuccess() {
  if (arAnswer.empty()) {
    strLastError = cp("Resposta inválida da impressora.");
    return kFalse;
  }
  const uint8_t status = arAnswer[0];
  strLastError = chronos::statusMessage(status);
  return chronos::statusOk(status) ? kTrue : kFalse;
}

// The status byte, read 16 bytes at a time while more is queued: the answer
// ends once it is there and nothing follows, never on the read time-out.
BOOL CChronos::ReadAnswer(exchange::PortExchange&, const exchange::Plan&, ByteArray& reply) {
  if (!hPort) return kFalse;
  const size_t start = reply.size();
  uint8_t buf[kReadChunk];
  for (;;) {
    LineStatus ls;
    if (!hPort->lineStatus(ls)) {
      SetSystemError();
      return kFalse;
    }
    if (reply.size() > start && ls.inQueue == 0) return kTrue;
    const size_t want = std::min<size_t>(kReadChunk, std::max<size_t>(1, ls.inQueue));
    size_t got = 0;
    if (!hPort->read(buf, want, got)) {
      SetSystemError();
      return kFalse;
    }
    if (got == 0) {
      if (reply.size() > start) return kTrue;
      strLastError = "Timeout aguardando resposta da impressora.";
      return kFalse;
    }
    reply.insert(reply.end(), buf, buf + got);
    if (reply.size() - start > 4096) {
      strLastError = cp("Resposta da impressora maior que o tamanho máximo.");
      return kFalse;
    }
  }
}

BOOL CChronos::SendCommand(Frame command) {
  const char* where = "CChronos::SendCommand";
  try {
    if (!command) return kTrue;
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
    exchange::Plan plan;
    plan.where = where;
    plan.line = exchange::LineRule::None;
    // No drain of a fresh line: with this printer's read time-out a drain
    // would wait a minute; the purge before the write throws away what an
    // earlier program left. Only what came in: text lines written just before
    // without an answer may still be on their way out, and must reach the paper.
    plan.drainWhenFresh = false;
    plan.purge = exchange::Purge::Receive;
    plan.answerMs = static_cast<uint32_t>(nAnswerTimeout);
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(*command, plan, arAnswer, [&](const ByteArray&, size_t, int) {
      // A byte no printer sends, or more than the one byte, is not an answer.
      if (arAnswer.size() != 1 || !chronos::statusReadable(arAnswer[0])) {
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

BOOL CChronos::Command(uint8_t code, const std::string& parameters, bool withParameters) {
  ClearBuffers();
  AddCommandByte(code);
  if (withParameters) {
    AddParameterString(parameters);
    AddParameterByte(kCR);
  }
  return Submit();
}

BOOL CChronos::ReadCheck(BOOL, std::string& strCheckInfo) {
  // The printer reads no CMC-7 line.
  strCheckInfo = kBlank30;
  return kTrue;
}

// Wire example, 123.45 on bank "001":
//   1B A2 "001" 0D 00, 1B A3 "        123,45" 0D 00, 1B B0 00.
BOOL CChronos::PrintCheck(double nValue, const std::string& strBankNumber) {
  const char* where = "CChronos::PrintCheck";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result value = chronos::amount(nValue);
    if (!value.ok()) return refuse(*this, where, value.error);
    const std::string bank = oneLine(strBankNumber).substr(0, 3);
    const BOOL ok =
        Command(chronos::kBank, bank) && Command(chronos::kValue, value.text) && Command(chronos::kPrint, {}, false);
    return finish(*this, where, ok);
  });
}

BOOL CChronos::ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) {
  strCheckInfo = kBlank30;
  return PrintCheck(nValue, strBankNumber);
}

// Wire example: 1B 4D "Real,Reais" 0D 00, 1B A6 payee 0D 00, 1B A7 city 0D 00, 1B A8 "04/12/26" 0D 00.
BOOL CChronos::SetCheckConfiguration(const std::string& single, const std::string& multiple, const std::string& local,
                                     const std::string& carrier, DateTime check, DateTime deposit) {
  const char* where = "CChronos::SetCheckConfiguration";
  return guarded(*this, where, kFalse, [&] {
    StoreCheckConfiguration(single, multiple, local, carrier, check, deposit);
    std::string date;
    if (!dateText(dtCheck, "%d/%m/%y", date)) return refuse(*this, where, cp("Data do cheque inválida."));
    const BOOL ok =
        Command(chronos::kCurrency, strSingleCurrency.substr(0, 20) + "," + strMultipleCurrency.substr(0, 20)) &&
        Command(chronos::kPayee, strCheckCarrier.substr(0, 62)) &&
        Command(chronos::kCity, strCheckLocal.substr(0, 21)) && Command(chronos::kDate, date);
    return finish(*this, where, ok);
  });
}

BOOL CChronos::IsDocumentInserted() {
  const BOOL answer = nDocumentToggle ? kTrue : kFalse;
  nDocumentToggle = !nDocumentToggle;
  return answer;
}

// Wire example, "LINHA 1\n": 4C 49 4E 48 41 20 31 0A, no ESC and no answer.
BOOL CChronos::PrintCheckText(const std::string& strText) {
  const char* where = "CChronos::PrintCheckText";
  return guarded(*this, where, kTrue, [&] {
    const auto convert = [this](const std::string& s) { return FormatPrinterText(s); };
    exchange::PortExchange x(*this);
    for (const std::string& line : chronos::textLines(lines(strText), Columns, convert)) {
      const ByteArray bytes(line.begin(), line.end());
      // The printer prints what it gets; a line that does not go out is only logged.
      if (x.Write(bytes, exchange::Purge::None) != exchange::Written::Ok) Log(where, strLastError);
    }
    return finish(*this, where, kTrue);
  });
}

}  // namespace tarvion
