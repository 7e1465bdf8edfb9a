// CBematech: checks. The printer prints a check with command 57 once the
// document is in its slot (the driver then watches the document sensor), reads
// the CMC-7 line with command 76, and keeps the currency names of the amount in
// words (commands 58 and 59). The models that read or print differently call
// the same pieces with their own names.
#include <cmath>

#include "core/text.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/bematech_ops.h"

namespace tarvion {

using namespace bematech;
using fmt::logNumber;
using text::cp;
using text::format;

namespace {

constexpr uint8_t kPrintCheck = 57, kSingularCurrency = 58, kPluralCurrency = 59, kReadCmc7 = 76;
// The widths of the check fields of command 57.
constexpr size_t kPayeeWidth = 45, kCityWidth = 27, kSingularWidth = 19, kPluralWidth = 22;
// Shorter than this, the reply cannot hold a CMC-7 line (status, 30 and more characters, status).
constexpr size_t kCmc7MinReply = 32;

}  // namespace

// Wire example, the CMC-7 of a check (FS prefix):
//   request 02 04 00 1C 4C 68 00
//   reply   06 00 00 "<00100016<0180000525>100004960263:" 00 00 00 00
BOOL CBematech::ReadCmc7(const char* where, BOOL bKeepCheck, std::string& strCheckInfo, bool dropLetters) {
  try {
    Log(where, format("bKeepCheck=%s", boolText(bKeepCheck)));
    ClearBuffers();
    AddCommandByte(kReadCmc7);
    // The line's length varies with the bank: read until the printer is done.
    if (!SubmitToIdle()) return finish(*this, where, kFalse);
    if (arAnswer.size() < kCmc7MinReply) {
      strLastError = cp("Não foi possível ler o CMC7 do cheque.");
      return finish(*this, where, kFalse);
    }
    strCheckInfo = fmt::cmc7Text(fmt::textOfReply(arAnswer, FsPrefix()), dropLetters);
    Log(where, format("strCheckInfo=%s", strCheckInfo.c_str()));
    // A check that is not kept leaves the slot; a refusal to eject does not undo the read.
    if (!bKeepCheck) ReleaseCheck();
    return finish(*this, where, kTrue);
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

// Wire example, 123.45 to "Maria" in "Recife" on 04/12/2026, bank 001:
//   request 02 .. .. 1B 39 "00000000012345" "Maria" + 40 blanks "Recife" + 21 blanks
//           "04122026" "001" 20 00 CSL CSH
//   reply   06 00 00
BOOL CBematech::PrintCheck57(const char* where, double nValue, const std::string& strBankNumber) {
  try {
    if (Logging()) Log(where, format("nValue=%s, strBankNumber=%s", logNumber(nValue).c_str(), strBankNumber.c_str()));
    const fields::Result amount = fields::format(nValue, fmt::field::kCheckValue);
    if (!amount.ok()) return refuse(*this, where, amount.error);
    ClearBuffers();
    AddCommandByte(kPrintCheck);
    AddParameterString(amount.text);
    AddParameterString(fmt::fitField(strCheckPayee, kPayeeWidth));
    AddParameterString(fmt::fitField(strCheckCity, kCityWidth));
    AddParameterString(fmt::checkDate(dtCheck));
    AddParameterString(fmt::bankField(strBankNumber));
    AddParameterByte(' ');
    AddParameterByte(0);
    if (!Submit()) return finish(*this, where, kFalse);
    // The printer prints once the operator has put the check in: wait for it.
    return finish(*this, where, WaitCheckEvent());
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CBematech::ReadThenPrint(const char* where, double nValue, const std::string& strBankNumber,
                              std::string& strCheckInfo) {
  try {
    // An amount the check cannot carry stops it before the check is even read.
    const fields::Result amount = fields::format(nValue, fmt::field::kCheckValue);
    if (!amount.ok()) return refuse(*this, where, amount.error);
    if (!ReadCheck(kTrue, strCheckInfo)) return finish(*this, where, kFalse);
    Log(where, format("strCheckInfo=%s", strCheckInfo.c_str()));
    return finish(*this, where, PrintCheck(nValue, strBankNumber));
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

// The three check operations log under the class of the model that runs them;
// a model without a CMC-7 reader (its row says so) reads nothing and lets the
// check be printed after the read.
BOOL CBematech::ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) {
  const std::string where = Where("ReadCheck");
  if (!bCmc7Reader) {
    Log(where, format("bKeepCheck=%s", boolText(bKeepCheck)));
    strCheckInfo.clear();
    Log(where, "Sem leitor de CMC7");
    return finish(*this, where.c_str(), kTrue);
  }
  return ReadCmc7(where.c_str(), bKeepCheck, strCheckInfo, false);
}

BOOL CBematech::PrintCheck(double nValue, const std::string& strBankNumber) {
  return PrintCheck57(Where("PrintCheck").c_str(), nValue, strBankNumber);
}

BOOL CBematech::ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) {
  return ReadThenPrint(Where("ReadAndPrintCheck").c_str(), nValue, strBankNumber, strCheckInfo);
}

// The city and the payee are kept for the next check; the currency names go to
// the printer, which writes the amount in words with them.
// Wire example, "Real" and "Reais":
//   request 02 08 00 1B 3A "Real" ..      reply 06 00 00
//   request 02 09 00 1B 3B "Reais" ..     reply 06 00 00
BOOL CBematech::SetCheckConfiguration(const std::string& strSingleCurrency, const std::string& strMultipleCurrency,
                                      const std::string& strCheckLocal, const std::string& strCheckCarrier,
                                      DateTime dtCheckDate, DateTime dtDepositDate) {
  const char* where = "CBematech::SetCheckConfiguration";
  try {
    Log(where,
        format("strSingleCurrency=%s, strMultipleCurrency=%s, strCheckLocal=%s, strCheckCarrier=%s",
               strSingleCurrency.c_str(), strMultipleCurrency.c_str(), strCheckLocal.c_str(), strCheckCarrier.c_str()));
    strCurrencySingular = strSingleCurrency;
    strCurrencyPlural = strMultipleCurrency;
    strCheckCity = FormatPrinterText(oneLine(strCheckLocal));
    strCheckPayee = FormatPrinterText(oneLine(strCheckCarrier));
    dtCheck = dtCheckDate;
    dtDeposit = dtDepositDate;
    // An empty name keeps the one the printer has.
    const struct {
      uint8_t command;
      const std::string& name;
      size_t width;
    } currencies[] = {{kSingularCurrency, strSingleCurrency, kSingularWidth},
                      {kPluralCurrency, strMultipleCurrency, kPluralWidth}};
    for (const auto& c : currencies) {
      if (c.name.empty()) continue;
      ClearBuffers();
      AddCommandByte(c.command);
      AddParameterString(FormatPrinterText(oneLine(c.name)).substr(0, c.width));
      if (!Submit()) return finish(*this, where, kFalse);
    }
    return finish(*this, where, kTrue);
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

}  // namespace tarvion
