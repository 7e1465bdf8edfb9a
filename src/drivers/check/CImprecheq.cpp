// CImprecheq: the byte-by-byte writing under DSR, and the check operations.
#include "drivers/check/CImprecheq.h"

#include "platform/prompt.h"

namespace tarvion {

using namespace check;
using text::cp;
using text::format;

namespace {

const char* const kBlank30 = "                              ";

}  // namespace

CImprecheq::CImprecheq() {
  portProfile = plainLine("CImprecheq");
  portProfile.XonLim = 256;
  portProfile.XoffLim = 256;
}

// Wire example, bank "001": 1B 42 30 30 31.
Frame CImprecheq::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  return std::make_unique<ByteArray>(imprecheq::frame(command, parameters));
}

BOOL CImprecheq::SendCommand(Frame command) {
  const char* where = "CImprecheq::SendCommand";
  try {
    if (!command) return kTrue;
    const ByteArray frame = *command;
    command.reset();
    LineStatus ls;
    if (!hPort || !hPort->lineStatus(ls)) {
      if (!hPort) platform::setLastError(platform::kErrInvalidHandle);
      SetSystemError();
      lastOutcome = exchange::Outcome::NotWritten;
      return kFalse;
    }
    if (ls.ctsHold) {
      strLastError = cp("Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador.");
      lastOutcome = exchange::Outcome::NotWritten;
      return kFalse;
    }
    platform::Clock& clock = PortClock();
    const exchange::PollPolicy busy{kByteMs, kPollMs};
    for (size_t i = 0; i < frame.size(); ++i) {
      size_t written = 0;
      const bool ok = hPort->write(&frame[i], 1, written);
      if (!ok || written == 0) {
        if (ok)
          strLastError = exchange::PortExchange::kWriteTimeoutMessage;
        else
          SetSystemError();
        lastOutcome = i == 0 ? exchange::Outcome::NotWritten : exchange::Outcome::MayHaveRun;
        Log(where, format("Retorno=FALSE, %s", strLastError.c_str()));
        return kFalse;
      }
      if (i == 0) ++nCommandsWritten;
      // The printer holds DSR while it takes the byte in; a line that cannot
      // be read ends the wait as the watcher's did.
      const exchange::PollEnd end = exchange::pollUntil(clock, busy, [&] {
        LineStatus now;
        if (!hPort->lineStatus(now)) return exchange::Poll::Ready;
        return now.dsrHold ? exchange::Poll::NotYet : exchange::Poll::Ready;
      });
      if (end != exchange::PollEnd::Ready) {
        strLastError = "Timeout aguardando resposta da impressora.";
        lastOutcome = exchange::Outcome::MayHaveRun;
        Log(where, format("Retorno=FALSE, %s", strLastError.c_str()));
        return kFalse;
      }
    }
    lastOutcome = exchange::Outcome::Done;
    return CECFBase::SendCommand(std::make_unique<ByteArray>());
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CImprecheq::Command(const std::string& code, const std::string& parameters) {
  ClearBuffers();
  AddCommandString(code);
  AddParameterString(parameters);
  return Submit();
}

BOOL CImprecheq::ReadCheck(BOOL, std::string& strCheckInfo) {
  // The printer reads no CMC-7 line.
  strCheckInfo = kBlank30;
  return kTrue;
}

// Wire example, 123.45 on bank "001", once the operator put the check in:
//   1B 42 "001", then 1B 56 "00000000012345".
BOOL CImprecheq::PrintCheck(double nValue, const std::string& strBankNumber) {
  const char* where = "CImprecheq::PrintCheck";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string cents = num(nValue, imprecheq::field::kValue);
    if (!num.ok()) return refuse(*this, where, num.error());
    const platform::PromptAnswer a =
        platform::ask(platform::PromptKind::OkCancel, cp("Atenção"), cp("Insira o cheque na impressora."));
    if (a != platform::PromptAnswer::Ok) {
      // The operator gave up: nothing was sent.
      strLastError.clear();
      lastOutcome = exchange::Outcome::NotWritten;
      return finish(*this, where, kFalse);
    }
    const std::string bank = oneLine(strBankNumber).substr(0, 3);
    const BOOL ok = Command(std::string(1, static_cast<char>(imprecheq::kBank)), bank) &&
                    Command(std::string(1, static_cast<char>(imprecheq::kValue)), cents);
    return finish(*this, where, ok);
  });
}

BOOL CImprecheq::ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) {
  strCheckInfo = kBlank30;
  return PrintCheck(nValue, strBankNumber);
}

// Wire example: 1B 46 payee "$", 1B 43 city "$", 1B 44 "041226".
BOOL CImprecheq::SetCheckConfiguration(const std::string& single, const std::string& multiple, const std::string& local,
                                       const std::string& carrier, DateTime check, DateTime deposit) {
  const char* where = "CImprecheq::SetCheckConfiguration";
  return guarded(*this, where, kFalse, [&] {
    StoreCheckConfiguration(single, multiple, local, carrier, check, deposit);
    std::string date;
    if (!dateText(dtCheck, "%d%m%y", date)) return refuse(*this, where, cp("Data do cheque inválida."));
    auto letter = [](uint8_t c) { return std::string(1, static_cast<char>(c)); };
    const BOOL ok = Command(letter(imprecheq::kPayee), strCheckCarrier.substr(0, 65) + "$") &&
                    Command(letter(imprecheq::kCity), strCheckLocal.substr(0, 20) + "$") &&
                    Command(letter(imprecheq::kDate), date);
    return finish(*this, where, ok);
  });
}

BOOL CImprecheq::IsDocumentInserted() {
  // The printer lowers CTS while the slot is empty.
  LineStatus ls;
  if (!hPort || !hPort->lineStatus(ls)) return kFalse;
  return ls.ctsHold ? kFalse : kTrue;
}

// Wire example, "LINHA 1": 1B 53 30 "LINHA 1" 0A 0C.
BOOL CImprecheq::PrintCheckText(const std::string& strText) {
  const char* where = "CImprecheq::PrintCheckText";
  return guarded(*this, where, kFalse, [&] {
    const std::string block =
        imprecheq::textBlock(lines(strText), Columns, [this](const std::string& s) { return FormatPrinterText(s); });
    return finish(*this, where, Command(imprecheq::kText, block));
  });
}

}  // namespace tarvion
