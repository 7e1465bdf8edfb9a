// CBematech: X report and Z reduction, fiscal-memory reads, the printer's
// counters, totals, dates and state.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/text.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/bematech_ops.h"
#include "platform/prompt.h"

namespace tarvion {

using namespace bematech;
using fmt::logNumber;
using text::cp;
using text::format;

namespace {

std::string dateText(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p)) return "00/00/0000";
  return format("%.2d/%.2d/%.4d", p.day, p.month, p.year);
}

bool sameDay(const DateTime& a, const DateTime& b) {
  DateParts x, y;
  return a.parts(x) && b.parts(y) && x.day == y.day && x.month == y.month && x.year == y.year;
}

// The operation-counter poll: rounds, pauses and the time after which the operator is asked.
constexpr int kCounterRounds = 150;
constexpr uint32_t kCounterPauseMs = 100, kCounterReopenPauseMs = 1000;
constexpr int64_t kCounterAskAfterMs = 120000;

}  // namespace

// ---------------------------------------------------------------- shared reads

BOOL CBematech::ReadInfo(uint8_t command, uint8_t sub, size_t need) {
  ClearBuffers();
  AddCommandByte(command);
  AddCommandByte(sub);
  if (!Submit()) return kFalse;
  return DataSize() >= need ? kTrue : kFalse;
}

std::optional<long double> CBematech::ReadBcd(uint8_t sub, size_t n, const char* where) {
  if (!ReadInfo(cmd::Read, sub, n)) {
    Log(where, "Retorno=FALSE");
    return std::nullopt;
  }
  return fmt::bcdDecimal(arAnswer.data(), n);
}

// ---------------------------------------------------------------- X and Z

BOOL CBematech::LeituraX() {
  const char* where = "CBematech::LeituraX";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    ResetSale();
    ClearBuffers();
    AddCommandByte(cmd::LeituraX);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::TextRead(std::string& out) {
  if (!Submit()) return kFalse;
  out = fmt::textOfReply(arAnswer, FsPrefix());
  return kTrue;
}

// Wire example, the X report over the port:
//   request 02 04 00 1B 45 60 00
//   reply   06 00 00 "...report text..." 00 00 (status, text, status)
BOOL CBematech::LeituraXSerial(std::string& strLeitura) {
  const char* where = "CBematech::LeituraXSerial";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    ClearBuffers();
    // The printer holds CTS while it still sends: the answer is read as it comes.
    bCheckCTS = kFalse;
    AddCommandByte(cmd::LeituraXSerial);
    return finish(*this, where, TextRead(strLeitura));
  });
}

// Wire example, Z reduction on 4 December 2026 at 17:05:09:
//   request 02 10 00 1B 05 "041226170509" 85 02     reply 06 00 00
BOOL CBematech::ReducaoZ(DateTime dtReducao) {
  const char* where = "CBematech::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    const std::string when = fmt::dateTimeField(dtReducao);
    Log(where, format("dtReducao=%s", when.c_str()));
    ResetSale();
    dtDataMovUltimaRZ = DateTime::invalid();
    ClearBuffers();
    AddCommandByte(cmd::ReducaoZ);
    // Without a valid date the printer closes the day on its own clock.
    if (!when.empty()) AddParameterString(when);
    if (bCutPaymentsOnZ && arPaymentTypes.size() > 2) {
      arPaymentTypes.resize(2);
      if (arPaymentValues.size() > 2) arPaymentValues.resize(2);
    }
    return finish(*this, where, Submit());
  });
}

// ---------------------------------------------------------------- fiscal memory

static std::string dateOrZeros(const DateTime& dt) {
  std::string s = fmt::dateField(dt);
  return s.empty() ? std::string("000000") : s;
}

BOOL CBematech::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) {
  const char* where = "CBematech::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("dtInicial=%s, dtFinal=%s, bResumida=%s", dateOrZeros(dtInicial).c_str(),
                      dateOrZeros(dtFinal).c_str(), boolText(bResumida)));
    ResetSale();
    ClearBuffers();
    AddCommandByte(cmd::FiscalMemory);
    AddParameterString(dateOrZeros(dtInicial));
    AddParameterString(dateOrZeros(dtFinal));
    AddParameterString(bResumida ? "i" : "I");
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                           BOOL bResumida) {
  const char* where = "CBematech::LeituraMemoriaFiscalSerial";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("dtInicial=%s, dtFinal=%s, bResumida=%s", dateOrZeros(dtInicial).c_str(),
                      dateOrZeros(dtFinal).c_str(), boolText(bResumida)));
    ClearBuffers();
    bCheckCTS = kFalse;
    AddCommandByte(cmd::FiscalMemory);
    AddParameterString(dateOrZeros(dtInicial));
    AddParameterString(dateOrZeros(dtFinal));
    AddParameterString(bResumida ? "r" : "R");
    return finish(*this, where, TextRead(strLeitura));
  });
}

// Wire example, reductions 1 to 25, summary, printed:
//   request 02 11 00 1B 08 "000001" "000025" "i" D4 02     reply 06 00 00
BOOL CBematech::LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) {
  const char* where = "CBematech::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("intInicial=%ld, intFinal=%ld, bResumida=%s", intInicial, intFinal, boolText(bResumida)));
    fields::Checked num;
    const std::string first = num(intInicial, fmt::field::kFirstReduction);
    const std::string last = num(intFinal, fmt::field::kLastReduction);
    if (!num.ok()) return refuse(*this, where, num.error());
    ResetSale();
    ClearBuffers();
    AddCommandByte(cmd::FiscalMemory);
    AddParameterString(first);
    AddParameterString(last);
    AddParameterString(bResumida ? "i" : "I");
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) {
  const char* where = "CBematech::LeituraMFSerialReducao";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("intInicial=%ld, intFinal=%ld, bResumida=%s", intInicial, intFinal, boolText(bResumida)));
    fields::Checked num;
    const std::string first = num(intInicial, fmt::field::kFirstReduction);
    const std::string last = num(intFinal, fmt::field::kLastReduction);
    if (!num.ok()) return refuse(*this, where, num.error());
    ClearBuffers();
    bCheckCTS = kFalse;
    AddCommandByte(cmd::FiscalMemory);
    AddParameterString(first);
    AddParameterString(last);
    AddParameterString(bResumida ? "r" : "R");
    return finish(*this, where, TextRead(strLeitura));
  });
}

// ---------------------------------------------------------------- state

// Wire example, the state flags (daylight saving on, receipt closed):
//   request 02 05 00 1B 23 11 4F 00   reply 06 04 00 00 00 00
BOOL CBematech::VerificaHorarioVerao(BOOL& bOut) {
  const char* where = "CBematech::VerificaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(cmd::Read, sub::Flags, 0) || arAnswer.empty()) return finish(*this, where, kFalse);
    bOut = (arAnswer[0] & 0x04) ? kTrue : kFalse;
    Log(where, format("bHorarioVerao=%s", boolText(bOut)));
    return finish(*this, where, kTrue);
  });
}

BOOL CBematech::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CBematech::MudaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("bHabilita=%s", boolText(bHabilita)));
    BOOL current = kFalse;
    if (!VerificaHorarioVerao(current)) return finish(*this, where, kFalse);
    // The command toggles: sent only when the printer is in the other state.
    if ((current != 0) == (bHabilita != 0)) return finish(*this, where, kTrue);
    ClearBuffers();
    AddCommandByte(cmd::DaylightSaving);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::CupomFiscalAberto(BOOL& bOut) {
  const char* where = "CBematech::CupomFiscalAberto";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(cmd::Read, sub::Flags, 0) || arAnswer.size() < 2) return finish(*this, where, kFalse);
    const size_t n = arAnswer.size();
    const uint8_t b = n >= 3 ? arAnswer[n - 3] : arAnswer[0];
    bOut = (b & 0x01) ? kTrue : kFalse;
    Log(where, format("bAberto=%s", boolText(bOut)));
    return finish(*this, where, kTrue);
  });
}

BOOL CBematech::OpenCashDrawer() {
  const char* where = "CBematech::OpenCashDrawer";
  return guarded(*this, where, kFalse, [&] {
    // Drawers differ in the pulse they need: every length is tried.
    static const uint8_t kPulses[] = {10, 255, 127, 0};
    for (uint8_t pulse : kPulses) {
      ClearBuffers();
      AddCommandByte(cmd::CashDrawer);
      AddParameterByte(pulse);
      Submit();
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CBematech::IsCashDrawerClosed() {
  const char* where = "CBematech::IsCashDrawerClosed";
  return guarded(*this, where, kFalse, [&] {
    if (!CashDrawerAttached) return finish(*this, where, kTrue);
    ClearBuffers();
    AddCommandByte(cmd::DrawerStatus);
    if (!Submit() || arAnswer.empty()) return finish(*this, where, kFalse);
    return finish(*this, where, arAnswer[0] == 0 ? kTrue : kFalse);
  });
}

BOOL CBematech::IsLowPaper() {
  const char* where = "CBematech::IsLowPaper";
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Status);
    Submit();
    // Near the paper end is not an error, and paper out is past it: the bit is
    // read whatever the command's outcome.
    const BOOL low = !arAnswer.empty() && (arAnswer[0] & st1::NearPaperEnd) ? kTrue : kFalse;
    return finish(*this, where, low);
  });
}

BOOL CBematech::AuthenticateDocument(const std::string& strAdditionalInfo) {
  const char* where = "CBematech::AuthenticateDocument";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("strAdditionalInfo=%s", strAdditionalInfo.c_str()));
    ClearBuffers();
    AddCommandByte(cmd::Authenticate);
    return finish(*this, where, Submit());
  });
}

// ---------------------------------------------------------------- identity, clock, fiscal data

BOOL CBematech::ReadSerialNumber(std::string& strOut) {
  const char* where = "CBematech::ReadSerialNumber";
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(sub::SerialNumber);
    if (!Submit()) return finish(*this, where, kFalse);
    // "%.15s": at most 15 characters, and a zero byte ends the text.
    std::string s(arAnswer.begin(), arAnswer.begin() + static_cast<long>(std::min<size_t>(15, arAnswer.size())));
    strOut = s.substr(0, s.find('\0'));
    Log(where, format("strSerialNumber=%s", strOut.c_str()));
    return finish(*this, where, kTrue);
  });
}

// Wire example, the printer's clock at 04/12/2026 17:05:09:
//   request 02 05 00 1B 23 17 55 00   reply 06 04 12 26 17 05 09 00 00
BOOL CBematech::ReadDateTime(DateTime& dtOut) {
  const char* where = "CBematech::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(cmd::Read, sub::DateTime, 6)) return finish(*this, where, kFalse);
    const DateTime dt = fmt::bcdDate(arAnswer.data(), 6);
    DateParts p;
    if (!dt.parts(p)) {
      strLastError = cp("Data e hora inválidas.");
      return finish(*this, where, kFalse);
    }
    dtOut = dt;
    Log(where, format("dtCurrent=%d/%d/%d %d:%d:%d", p.day, p.month, p.year, p.hour, p.minute, p.second));
    return finish(*this, where, kTrue);
  });
}

BOOL CBematech::ReadFiscalInformation() {
  const char* where = "CBematech::ReadFiscalInformation";
  return guarded(*this, where, kFalse, [&] {
    std::string serial;
    if (!ReadSerialNumber(serial) || arAnswer.size() < 15) return finish(*this, where, kFalse);
    strSerialNumber = serial;
    Log(where, format("strSerialNumber=%s", strSerialNumber.c_str()));
    // Each later read that fails leaves its cached value as it was.
    if (auto v = ReadBcd(sub::PrinterNumber, 2, where)) intPrinterID = static_cast<int>(*v);
    Log(where, format("intPrinterID=%d", intPrinterID));

    // The fiscal start date is followed by the day's total per tax position.
    ByteArray taxTotals;
    if (ReadInfo(cmd::Read, sub::FiscalStartDate, 3)) {
      const DateTime begin = fmt::bcdDate(arAnswer.data(), 3);
      Log(where, format("dtFiscalBegin=%s, bEmptyFiscal=%d", shortDate(begin).c_str(), allZero(arAnswer, 3) ? 1 : 0));
      taxTotals.assign(arAnswer.begin() + 3, arAnswer.begin() + static_cast<long>(3 + (DataSize() - 3)));
    }
    DateTime lastReport = DateTime::invalid(), printerDate = DateTime::invalid();
    if (ReadInfo(cmd::Read, sub::LastReductionDate, 3)) lastReport = fmt::bcdDate(arAnswer.data(), 3);
    Log(where, format("dtLastReport=%s", shortDate(lastReport).c_str()));
    if (ReadInfo(cmd::Read, sub::DateTime, 6)) printerDate = fmt::bcdDate(arAnswer.data(), 3);
    Log(where, format("dtPrinterDate=%s", shortDate(printerDate).c_str()));
    // After the day's Z reduction the printer takes no more sales that day: the
    // next movement belongs to the following day.
    if (printerDate.valid()) {
      dtFiscalDate = sameDay(printerDate, lastReport) ? DateTime(printerDate.automationDate() + 1) : printerDate;
      Log(where, format("dtFiscalDate=%s", shortDate(dtFiscalDate).c_str()));
    }
    if (auto v = ReadBcd(sub::ZCounter, 2, where)) intZReportCounter = static_cast<int>(*v);
    Log(where, format("intZReportCounter=%d", intZReportCounter));
    if (auto v = ReadBcd(sub::RestartCounter, 2, where)) intRestartCounter = static_cast<int>(*v);
    Log(where, format("intRestartCounter=%d", intRestartCounter));
    if (auto v = ReadBcd(sub::CancelTotal, 7, where)) nCancelTotal = static_cast<double>(*v / 100.0L);
    Log(where, "nCancelTotal=" + logNumber(nCancelTotal));
    if (auto v = ReadBcd(sub::DiscountTotal, 7, where)) nDiscountTotal = static_cast<double>(*v / 100.0L);
    Log(where, "nDiscountTotal=" + logNumber(nDiscountTotal));
    if (auto v = ReadBcd(sub::IncreaseTotal, 7, where)) nIncreaseTotal = static_cast<double>(*v / 100.0L);
    Log(where, "nIncreaseTotal=" + logNumber(nIncreaseTotal));
    if (auto v = ReadBcd(sub::OperationCounter, 3, where)) intFinalOperation = static_cast<int>(*v);
    Log(where, format("intFinalOperation=%d", intFinalOperation));
    bool haveInitialOperation = false;
    if (ReadInfo(cmd::ReadBlock, sub::InitialBlock, 10)) {
      nInitialGrandTotal = static_cast<double>(fmt::bcdDecimal(arAnswer.data() + 1, 9) / 100.0L);
      if (arAnswer.size() > 287) {
        intInitialOperation = static_cast<int>(fmt::bcdDecimal(arAnswer.data() + 284, 3));
        haveInitialOperation = true;
      }
    }
    Log(where, "nInitialGrandTotal=" + logNumber(nInitialGrandTotal));
    if (auto v = ReadBcd(sub::GrandTotal, 9, where)) nFinalGrandTotal = static_cast<double>(*v / 100.0L);
    Log(where, "nFinalGrandTotal=" + logNumber(nFinalGrandTotal));
    if (haveInitialOperation) Log(where, format("intInitialOperation=%d", intInitialOperation));
    nSaleTotal = nFinalGrandTotal - nInitialGrandTotal;

    // The tax table: flags, rates, and the day's totals read above.
    std::string flags;
    if (ReadInfo(cmd::Read, sub::TaxFlags, 2)) flags = fmt::taxFlags(arAnswer);
    ClearBuffers();
    AddCommandByte(cmd::LoadTaxRates);
    if (!flags.empty() && Submit()) {
      arTaxes = fmt::taxList(arAnswer, flags);
      ResetTaxes();
      const size_t count = std::min(arTaxes.size() - 1, arTaxTable.size());
      for (size_t k = 1; k <= count; ++k) {
        TaxEntry& t = arTaxTable[k - 1];
        const std::string& entry = arTaxes[k];
        const size_t at = 1 + 2 * (k - 1);
        t.percent = static_cast<double>(fmt::bcdDecimal(arAnswer.data() + at, 2) / 100.0L);
        const size_t totalAt = 7 * (k - 1);
        t.baseValue = totalAt + 7 <= taxTotals.size()
                          ? static_cast<double>(fmt::bcdDecimal(taxTotals.data() + totalAt, 7) / 100.0L)
                          : 0.0;
        t.title = entry;
        const std::string total =
            totalAt + 7 <= taxTotals.size() ? bcdDigits(taxTotals.data() + totalAt, 7) : std::string(14, '0');
        Log(where, format("%02i%s%s%s", static_cast<int>(k), entry.substr(0, 1).c_str(),
                          format("%02x%02x", arAnswer[at], arAnswer[at + 1]).c_str(), total.c_str()));
      }
      TaxesCount = static_cast<int16_t>(count);
    }
    LoadPaymentTypes(kTrue);
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- counters and totals

double CBematech::GetFinalGrandTotal() {
  const char* where = "CBematech::GetFinalGrandTotal";
  return guarded(*this, where, 0.0, [&] {
    if (auto v = ReadBcd(sub::GrandTotal, 9, where))
      nFinalGrandTotal = static_cast<double>(*v / 100.0L);
    else
      return 0.0;
    Log(where, "Retorno=" + logNumber(nFinalGrandTotal));
    return nFinalGrandTotal;
  });
}

double CBematech::GetSaleTotal() {
  const char* where = "CBematech::GetSaleTotal";
  return guarded(*this, where, 0.0, [&] {
    auto final = ReadBcd(sub::GrandTotal, 9, where);
    if (!final) return 0.0;
    if (!ReadInfo(cmd::ReadBlock, sub::InitialBlock, 10)) {
      Log(where, "Retorno=FALSE");
      return 0.0;
    }
    nFinalGrandTotal = static_cast<double>(*final / 100.0L);
    nInitialGrandTotal = static_cast<double>(fmt::bcdDecimal(arAnswer.data() + 1, 9) / 100.0L);
    const double total = static_cast<double>((*final - fmt::bcdDecimal(arAnswer.data() + 1, 9)) / 100.0L);
    Log(where, "Retorno=" + logNumber(total));
    return total;
  });
}

double CBematech::GetCancelTotal() {
  const char* where = "CBematech::GetCancelTotal";
  return guarded(*this, where, 0.0, [&] {
    if (auto v = ReadBcd(sub::CancelTotal, 7, where))
      nCancelTotal = static_cast<double>(*v / 100.0L);
    else
      return 0.0;
    Log(where, "Retorno=" + logNumber(nCancelTotal));
    return nCancelTotal;
  });
}

double CBematech::GetDiscountTotal() {
  const char* where = "CBematech::GetDiscountTotal";
  return guarded(*this, where, 0.0, [&] {
    if (auto v = ReadBcd(sub::DiscountTotal, 7, where))
      nDiscountTotal = static_cast<double>(*v / 100.0L);
    else
      return 0.0;
    Log(where, "Retorno=" + logNumber(nDiscountTotal));
    return nDiscountTotal;
  });
}

double CBematech::GetIncreaseTotal() {
  const char* where = "CBematech::GetIncreaseTotal";
  return guarded(*this, where, 0.0, [&] {
    if (auto v = ReadBcd(sub::IncreaseTotal, 7, where))
      nIncreaseTotal = static_cast<double>(*v / 100.0L);
    else
      return 0.0;
    Log(where, "Retorno=" + logNumber(nIncreaseTotal));
    return nIncreaseTotal;
  });
}

long CBematech::GetPrinterID() {
  const char* where = "CBematech::GetPrinterID";
  return guarded(*this, where, 0L, [&] {
    auto v = ReadBcd(sub::PrinterNumber, 2, where);
    if (!v) return 0L;
    intPrinterID = static_cast<int>(*v);
    Log(where, format("Retorno=%d", intPrinterID));
    return static_cast<long>(intPrinterID);
  });
}

short CBematech::GetUserNumber() {
  const char* where = "CBematech::GetUserNumber";
  return guarded(*this, where, static_cast<short>(0), [&] {
    auto v = ReadBcd(sub::UserNumber, 2, where);
    if (!v) return static_cast<short>(0);
    Log(where, format("Retorno=%d", static_cast<int>(*v)));
    return static_cast<short>(*v);
  });
}

long CBematech::GetNonFiscalCounter() {
  const char* where = "CBematech::GetNonFiscalCounter";
  return guarded(*this, where, 0L, [&] {
    auto v = ReadBcd(sub::NonFiscalCounter, 3, where);
    if (!v) return 0L;
    Log(where, format("Retorno=%ld", static_cast<long>(*v)));
    return static_cast<long>(*v);
  });
}

long CBematech::GetZReportCounter() {
  const char* where = "CBematech::GetZReportCounter";
  return guarded(*this, where, static_cast<long>(intZReportCounter), [&] {
    if (auto v = ReadBcd(sub::ZCounter, 2, where)) intZReportCounter = static_cast<int>(*v);
    Log(where, format("Retorno=%d", intZReportCounter));
    return static_cast<long>(intZReportCounter);
  });
}

long CBematech::GetRestartCounter() {
  const char* where = "CBematech::GetRestartCounter";
  return guarded(*this, where, static_cast<long>(intRestartCounter), [&] {
    if (auto v = ReadBcd(sub::RestartCounter, 2, where)) intRestartCounter = static_cast<int>(*v);
    Log(where, format("Retorno=%d", intRestartCounter));
    return static_cast<long>(intRestartCounter);
  });
}

long CBematech::GetLastItemNumber() {
  const char* where = "CBematech::GetLastItemNumber";
  return guarded(*this, where, static_cast<long>(nLastItemNumber), [&] {
    Log(where, cp("início"));
    if (auto v = ReadBcd(sub::LastItem, 2, where)) nLastItemNumber = static_cast<int>(*v);
    Log(where, format("Retorno=%d", nLastItemNumber));
    return static_cast<long>(nLastItemNumber);
  });
}

std::string CBematech::GetFirmwareVersion() {
  const char* where = "CBematech::GetFirmwareVersion";
  return guarded(*this, where, std::string(), [&] {
    if (!ReadInfo(cmd::Read, sub::Firmware, 2)) {
      Log(where, "Retorno=FALSE");
      return std::string();
    }
    std::string version = bcdDigits(arAnswer.data(), 2);
    Log(where, format("Retorno=%s", version.c_str()));
    return version;
  });
}

double CBematech::GetNonFiscalTotal() {
  const char* where = "CBematech::GetNonFiscalTotal";
  return guarded(*this, where, 0.0, [&] {
    if (!ReadInfo(cmd::Read, sub::NonFiscalTitles, 0)) {
      Log(where, "Retorno=FALSE");
      return 0.0;
    }
    using namespace fmt::titlerec;
    long double total = 0.0L;
    for (size_t i = 0; i < kMax && kSize * (i + 1) <= arAnswer.size(); ++i)
      total += fmt::bcdDecimal(arAnswer.data() + kSize * i + kTotal, 10);
    const double result = static_cast<double>(total / 100.0L);
    Log(where, "Retorno=" + logNumber(result));
    return result;
  });
}

// The receipt number is read until two rounds agree: while the printer is still
// printing it may answer an older number.
long CBematech::GetOperationCounter() {
  const char* where = "CBematech::GetOperationCounter";
  return guarded(*this, where, 0L, [&] {
    int64_t started = PortClock().nowMs();
    long previous = -1;
    for (int round = 1; round <= kCounterRounds; ++round) {
      ClearBuffers();
      AddCommandByte(cmd::ReceiptNumber);
      Submit();
      if (arAnswer.size() > 2) {
        strReceiptNumber = format("%02x%02x%02x", arAnswer[0], arAnswer[1], arAnswer[2]);
        const long number = std::atol(strReceiptNumber.c_str());
        if (number == previous) {
          Log(where, format("Retorno=%ld", number));
          return number;
        }
        previous = number;
      }
      if (round % 10 == 0) {
        // A printer that stopped answering sometimes comes back on a fresh port.
        CloseComm();
        PortClock().sleepMs(kCounterReopenPauseMs);
        OpenComm(kFalse);
      } else {
        PortClock().sleepMs(kCounterPauseMs);
      }
      if (PortClock().nowMs() - started >= kCounterAskAfterMs) {
        const platform::PromptAnswer answer =
            platform::ask(platform::PromptKind::YesNo, cp("Atenção"),
                          cp("O ECF não respondeu por dois minutos.\n\nDeseja continuar esperando?"));
        if (answer == platform::PromptAnswer::Yes) {
          Log(where, "Responsta: sim");
          started = PortClock().nowMs();
        } else {
          Log(where, cp("Resposta: não"));
          Log(where, "Retorno=0");
          return 0L;
        }
      }
    }
    Log(where, "Retorno=0");
    return 0L;
  });
}

// ---------------------------------------------------------------- dates

BOOL CBematech::GetPendingZReport() {
  const char* where = "CBematech::GetPendingZReport";
  return guarded(*this, where, kFalse, [&] {
    // A printer whose fiscal memory has not started has no day to close.
    if (!ReadInfo(cmd::Read, sub::FiscalStartDate, 3)) return finish(*this, where, kFalse);
    const DateTime begin = fmt::bcdDate(arAnswer.data(), 3);
    Log(where, format("Retorno=%s", dateText(begin).c_str()));
    if (!begin.valid()) return finish(*this, where, kFalse);
    if (!ReadInfo(cmd::Read, sub::MovementDate, 3)) return finish(*this, where, kFalse);
    const DateTime movement = fmt::bcdDate(arAnswer.data(), 3);
    Log(where, format("Retorno=%s", dateText(movement).c_str()));
    if (!movement.valid()) return finish(*this, where, kFalse);
    // The day's movement started before the printer's today: its Z is pending.
    DateTime today = DateTime::invalid();
    if (!ReadDateTime(today)) return finish(*this, where, kFalse);
    const bool pending = std::floor(movement.automationDate()) < std::floor(today.automationDate());
    return finish(*this, where, pending ? kTrue : kFalse);
  });
}

DateTime CBematech::GetFiscalDate() {
  const char* where = "CBematech::GetFiscalDate";
  return guarded(*this, where, dtFiscalDate, [&] {
    // The fiscal date is the date of the day's movement; without a movement the
    // date worked out by ReadFiscalInformation stands.
    if (ReadInfo(cmd::Read, sub::MovementDate, 3)) {
      const DateTime movement = fmt::bcdDate(arAnswer.data(), 3);
      if (movement.valid()) dtFiscalDate = movement;
    }
    Log(where, format("Retorno=%s", dateText(dtFiscalDate).c_str()));
    return dtFiscalDate;
  });
}

DateTime CBematech::GetDataMovUltimaRZ() {
  const char* where = "CBematech::GetDataMovUltimaRZ";
  return guarded(*this, where, DateTime::invalid(), [&] {
    // Kept until the next Z reduction, which clears it.
    if (!dtDataMovUltimaRZ.valid() && ReadInfo(cmd::Read, sub::LastReductionDate, 3))
      dtDataMovUltimaRZ = fmt::bcdDate(arAnswer.data(), 3);
    Log(where, format("Retorno=%s", dateText(dtDataMovUltimaRZ).c_str()));
    return dtDataMovUltimaRZ;
  });
}

// ---------------------------------------------------------------- the user record of the fiscal memory

// Reads the fiscal memory of the last reduction over the port and returns the
// record of the current user (positions in fmt::userrec).
BOOL CBematech::ReadUserRecord(ByteArray& record, const char* where) {
  const long z = std::max(1L, GetZReportCounter());
  const int user = GetUserNumber();
  // The counter is four BCD digits from the printer: it always fits.
  const fields::Result reduction = fields::format(z, fmt::field::kFirstReduction);
  if (!reduction.ok()) {
    strLastError = reduction.error;
    Log(where, "Retorno=FALSE");
    return kFalse;
  }
  ClearBuffers();
  bCheckCTS = kFalse;
  AddCommandByte(cmd::FiscalMemory);
  AddParameterString(reduction.text);
  AddParameterString(reduction.text);
  AddParameterString("r");
  std::string dump;
  if (!TextRead(dump)) {
    Log(where, "Retorno=FALSE");
    return kFalse;
  }
  const size_t at = fmt::userrec::offset(user);
  if (user < 1 || dump.size() < at + fmt::userrec::kSize) {
    Log(where, "Retorno=FALSE");
    return kFalse;
  }
  record.assign(dump.begin() + static_cast<long>(at), dump.begin() + static_cast<long>(at + fmt::userrec::kSize));
  return kTrue;
}

DateTime CBematech::GetUserDateTime() {
  const char* where = "CBematech::GetUserDateTime";
  return guarded(*this, where, DateTime::invalid(), [&] {
    ByteArray r;
    if (!ReadUserRecord(r, where)) return DateTime::invalid();
    auto two = [&r](size_t at) {
      const char hi = static_cast<char>(r[at]), lo = static_cast<char>(r[at + 1]);
      if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return -1;
      return (hi - '0') * 10 + (lo - '0');
    };
    using namespace fmt::userrec;
    const int day = two(kDate), month = two(kDate + 2), year = two(kDate + 4);
    const int hour = two(kTime), minute = two(kTime + 2), second = two(kTime + 4);
    Log(where, format("Retorno=%d/%d/%d %d:%d:%d", day, month, 2000 + year, hour, minute, second));
    if (year < 0) return DateTime::invalid();
    return DateTime::fromParts(2000 + year, month, day, hour, minute, second);
  });
}

short CBematech::GetUserRestartCounter() {
  const char* where = "CBematech::GetUserRestartCounter";
  return guarded(*this, where, static_cast<short>(0), [&] {
    ByteArray r;
    if (!ReadUserRecord(r, where)) return static_cast<short>(0);
    const auto v = static_cast<int>(fmt::bcdDecimal(r.data() + fmt::userrec::kRestarts, 2));
    Log(where, format("Retorno=%d", v));
    return static_cast<short>(v);
  });
}

double CBematech::GetUserGrandTotal() {
  const char* where = "CBematech::GetUserGrandTotal";
  return guarded(*this, where, 0.0, [&] {
    ByteArray r;
    if (!ReadUserRecord(r, where)) return 0.0;
    const double v = static_cast<double>(fmt::bcdDecimal(r.data() + fmt::userrec::kGrandTotal, 9) / 100.0L);
    Log(where, "Retorno=" + logNumber(v));
    return v;
  });
}

// ---------------------------------------------------------------- accepted without a printer command

BOOL CBematech::DisplaySubtotal() {
  return finish(*this, "CBematech::DisplaySubtotal", kTrue);
}
BOOL CBematech::SetOperator(const std::string&) {
  return finish(*this, "CBematech::SetOperator", kTrue);
}
BOOL CBematech::DisplayText(const std::string&, const std::string&) {
  return finish(*this, "CBematech::DisplayText", kTrue);
}
BOOL CBematech::IsDocumentInserted() {
  return finish(*this, "CBematech::IsDocumentInserted", kTrue);
}
BOOL CBematech::PrintSecondReceipt() {
  return finish(*this, "CBematech::PrintSecondReceipt", kTrue);
}
BOOL CBematech::PrintSecondReport() {
  return finish(*this, "CBematech::PrintSecondReport", kTrue);
}
BOOL CBematech::CanCancelReceipt() {
  return finish(*this, "CBematech::CanCancelReceipt", kTrue);
}

}  // namespace tarvion
