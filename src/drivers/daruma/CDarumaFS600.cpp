// CDarumaFS600: construction, the exchange of one command over the serial
// port, the reply check, the online probe, the register reads and the
// information operations built on them.
#include "drivers/daruma/CDarumaFS600.h"

#include <cmath>

#include "core/exchange.h"
#include "core/text.h"
#include "drivers/daruma/daruma_ops.h"

namespace tarvion {

using namespace daruma;
using text::cp;
using text::format;

namespace {

// Printable bytes as themselves, the others as [XX], for the log.
std::string wireText(const uint8_t* data, size_t n) {
  std::string s;
  s.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    if (b < 0x20 || b > 0x7E)
      s += format("[%2.2X]", b);
    else
      s += static_cast<char>(b);
  }
  return s;
}

const char* const kPrinterOff =
    "Erro de comunicação. Verifique se a impressora está ligada e o cabo está conectado corretamente.";
const char* const kPrinterOffFS600 =
    "Erro de comunicação. Verifique se a impressora está ligada, se cabo está conectado corretamente, se a impressora "
    "tem papel ou se a tampa está aberta.";

}  // namespace

CDarumaFS600::CDarumaFS600() {
  Log("CDarumaFS600::CDarumaFS600", cp("início"));
  CanAuthenticateDocument = kFalse;
  SendFullReport = kTrue;
  FreeReport = kTrue;
  Thermal = kTrue;
  HasPaperCutter = kFalse;
  CanGetCurrentDocumentDateTime = kTrue;
  CupomAdicionalAoFecharCF = kTrue;
  CanRegDiscountAnyItem = kTrue;
  CanCancelDiscountAnyItem = kTrue;
  portProfile.logTag = "CDarumaFS600";
  portProfile.fOutxCtsFlow = 1;
  portProfile.fOutxDsrFlow = 1;
  portProfile.fDsrSensitivity = 1;
  portProfile.fTXContinueOnXoff = 1;
  portProfile.fDtrControl = kDtrHandshake;
  portProfile.fRtsControl = kRtsHandshake;
  Log("CDarumaFS600::CDarumaFS600", "Fim");
}

BOOL CDarumaFS600::CarregaTimeoutsPorta() {
  CECFBase::CarregaTimeoutsPorta();
  daruma::replyTimeouts(timeouts);
  return kTrue;
}

// Wire example, the X report: command "F" 235, parameter "0" give
//   1C 46 EB 30 81 00
// and a register read ("R" 200, parameter "026") goes bare: 1C 52 C8 30 32 36.
Frame CDarumaFS600::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  if (isRegisterRead(command)) {
    // Byte by byte: gcc 12 misreads range inserts into a one-byte vector as out of bounds.
    auto f = std::make_unique<ByteArray>();
    f->reserve(1 + command.size() + parameters.size());
    f->push_back(kFS);
    for (uint8_t b : command) f->push_back(b);
    for (uint8_t b : parameters) f->push_back(b);
    return f;
  }
  return std::make_unique<ByteArray>(buildFrame(command, parameters));
}

BOOL CDarumaFS600::SendCommand(Frame command) {
  const char* where = "CDarumaFS600::SendCommand";
  try {
    if (!command) {
      Log(where, "Retorno=TRUE");
      return kTrue;
    }
    if (log_.enabled()) Log(format("%s{%s}", where, wireText(command->data(), command->size()).c_str()));
    const bool read = isRegisterRead(arCommand);
    exchange::Plan plan;
    plan.where = where;
    // A command is written once: what an earlier frame may still have on its
    // way is drained before the write, never answered by sending it again.
    plan.drainWhenFresh = true;
    plan.answerMs = kAnswerMs;
    plan.end = exchange::ReplyEnd::withLengthField(&replyLength);
    arAnswer.clear();
    const exchange::Result r = ExchangeCommand(*command, plan, arAnswer, [&](const ByteArray&, size_t, int) {
      // A reply without its ':' and CR, or whose code is not three digits,
      // cannot say whether the command ran.
      int code = 0;
      const std::string_view body = replyBody(arAnswer);
      const bool whole = replyLength(arAnswer.data(), arAnswer.size()) != 0;
      if (!whole || (read ? body.size() < 5 : !replyCode(body, code))) {
        strLastError = read ? cp("Erro ao consultar informações do ECF.") : cp("Erro indefinido.");
        Log("CDarumaFS600::CheckForSuccess", strLastError);
        return exchange::Verdict::LineFault;
      }
      return JudgeStatus();
    });
    command.reset();
    if (r.stoppedAt == exchange::Step::Line && strLastError == cp(kPrinterOff)) strLastError = cp(kPrinterOffFS600);
    if (log_.enabled()) Log(format("%s{Read=%s}", where, wireText(arAnswer.data(), arAnswer.size()).c_str()));
    Log(where, cp("Iniciando liberação da impressora."));
    if (!r.ok()) Log(where, "Retorno=FALSE, " + strLastError);
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CDarumaFS600::CheckForSuccess() {
  const std::string_view body = replyBody(arAnswer);
  if (arCommand.empty()) return kTrue;
  if (isRegisterRead(arCommand)) {
    std::string value;
    long long number = -1;
    const std::string_view digits(reinterpret_cast<const char*>(arParameters.data()),
                                  std::min<size_t>(3, arParameters.size()));
    if (!digitsValue(digits, number) || !registerValue(body, arCommand.back(), static_cast<int>(number), value)) {
      strLastError = cp("Erro ao consultar informações do ECF.");
      Log("CDarumaFS600::CheckForSuccess", strLastError);
      return kFalse;
    }
    return kTrue;
  }
  int code = -1;
  if (replyCode(body, code) && code == 0) return kTrue;
  strLastError = errorText(code);
  Log("CDarumaFS600::CheckForSuccess", format("%03d - %s", code, strLastError.c_str()));
  return kFalse;
}

// Wire example: 1D 06, answered by any reply (":" 1D 06 "000" CR from the
// virtual printer).
BOOL CDarumaFS600::ECFOnline() {
  const char* where = "CDarumaFS600::ECFOnline";
  try {
    exchange::Plan plan;
    plan.where = where;
    plan.nothingWritten = nullptr;
    plan.answerMs = kProbeMs;
    plan.end = exchange::ReplyEnd::withLengthField(&replyLength);
    // The line stays fresh: what answered may have been a late reply, and the
    // next command's own drain sorts that out.
    const BOOL fresh = bFreshLine;
    ByteArray answer;
    const exchange::Result r = ExchangeCommand(ByteArray{kGS, 0x06}, plan, answer,
                                               [](const ByteArray&, size_t, int) { return exchange::Verdict::Done; });
    bFreshLine = fresh;
    if (!r.ok()) Log(where, "Retorno=FALSE, " + strLastError);
    return r.ok() ? kTrue : kFalse;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CDarumaFS600::Command(uint8_t letter, uint8_t code, const std::string& params) {
  ClearBuffers();
  AddCommandByte(letter);
  AddCommandByte(code);
  AddParameterString(params);
  return Submit();
}

BOOL CDarumaFS600::ReadRegister(int number, std::string& value) {
  ClearBuffers();
  AddCommandByte('R');
  AddCommandByte(kRead);
  AddParameterString(format("%03d", number));
  if (!Submit()) return kFalse;
  // The reply was checked against the register asked for.
  const std::string_view body = replyBody(arAnswer);
  value.assign(body.size() > 5 ? body.substr(5) : std::string_view());
  return kTrue;
}

long CDarumaFS600::CounterRegister(const char* where, int number) {
  return guarded(*this, where, 0L, [&] {
    std::string v;
    long long n = 0;
    if (!ReadRegister(number, v) || !digitsValue(text::trim(v), n)) {
      if (strLastError.empty()) strLastError = cp("Erro ao consultar informações do ECF.");
      Log(where, "Retorno=0, " + strLastError);
      return 0L;
    }
    Log(where, format("Retorno=%lld", n));
    return static_cast<long>(n);
  });
}

double CDarumaFS600::TotalRegister(const char* where, int number) {
  return guarded(*this, where, 0.0, [&] {
    std::string v;
    long long cents = 0;
    if (!ReadRegister(number, v) || !digitsValue(text::trim(v), cents)) {
      if (strLastError.empty()) strLastError = cp("Erro ao consultar informações do ECF.");
      Log(where, "Retorno=0, " + strLastError);
      return 0.0;
    }
    return static_cast<double>(cents) / 100.0;
  });
}

std::string CDarumaFS600::TextRegister(const char* where, int number) {
  return guarded(*this, where, std::string(), [&] {
    std::string v;
    if (!ReadRegister(number, v)) {
      Log(where, "Retorno=, " + strLastError);
      return std::string();
    }
    return text::trim(v);
  });
}

DateTime CDarumaFS600::StampRegister(const char* where, int number, size_t length) {
  return guarded(*this, where, DateTime::invalid(), [&] {
    std::string v;
    if (!ReadRegister(number, v)) return DateTime::invalid();
    return stampValue(std::string_view(v).substr(0, length));
  });
}

// Decimals of the quantity and unit price, the printed columns and whether a
// receipt closes with an extra copy, as the printer is set up.
BOOL CDarumaFS600::InitialConfiguration() {
  const char* where = "CDarumaFS600::InitialConfiguration";
  return guarded(*this, where, kFalse, [&] {
    std::string decimals, columns, extra;
    if (!ReadRegister(reg::kDecimals, decimals) || !ReadRegister(reg::kColumns, columns) ||
        !ReadRegister(reg::kExtraCopy, extra))
      return finish(*this, where, kFalse);
    if (decimals.size() >= 2 && decimals[0] >= '0' && decimals[0] <= '3' && decimals[1] >= '0' && decimals[1] <= '3') {
      nQuantityDecimals = decimals[0] - '0';
      nPriceDecimals = decimals[1] - '0';
    }
    long long n = 0;
    if (digitsValue(text::trim(columns), n) && n >= 24 && n <= 80) Columns = static_cast<int>(n);
    if (!extra.empty()) CupomAdicionalAoFecharCF = extra[0] == '1' ? kTrue : kFalse;
    Log(where, format("Decimais=%d/%d, Colunas=%d", nQuantityDecimals, nPriceDecimals, Columns));
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- tables

BOOL CDarumaFS600::ReadSlots(int number, std::vector<std::string>& names, std::vector<int>& slots, bool reports) {
  std::string v;
  if (!ReadRegister(number, v)) return kFalse;
  names.clear();
  slots.clear();
  for (size_t i = 0; i * reg::kSlotWidth < v.size() && i < reg::kSlots; ++i) {
    const std::string name = text::trim(v.substr(i * reg::kSlotWidth, reg::kSlotWidth));
    if (name.empty() || (reports && name == std::string(reg::kSlotWidth, '-'))) continue;
    names.push_back(name);
    slots.push_back(static_cast<int>(i) + 1);
  }
  return kTrue;
}

// Each rate as the lookups find it: "T18.00" or "S05.00", in the printer's
// order (the position of an entry, from 1, is its tax field).
BOOL CDarumaFS600::LoadTaxes() {
  const char* where = "CDarumaFS600::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    if (!ReadRegister(reg::kTaxes, v)) return finish(*this, where, kFalse);
    arTaxes.clear();
    ResetTaxes();
    for (size_t at = 0; at + reg::kTaxWidth <= v.size() && arTaxes.size() < 16; at += reg::kTaxWidth) {
      long long rate = 0;
      const char kind = v[at];
      if ((kind != 'T' && kind != 'S') || !digitsValue(std::string_view(v).substr(at + 1, 4), rate)) break;
      std::string tax(1, kind);
      tax += fields::printfFixed(static_cast<double>(rate) / 100.0, 5, 2);
      arTaxes.push_back(std::move(tax));
      TaxEntry& e = arTaxTable[static_cast<size_t>(TaxesCount)];
      e.percent = static_cast<double>(rate) / 100.0;
      e.title = format("%02d%c%04lld", TaxesCount + 1, kind, rate);
      ++TaxesCount;
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::LoadPaymentTypes(BOOL bLoadValues) {
  const char* where = "CDarumaFS600::LoadPaymentTypes";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadSlots(reg::kPayments, arPaymentTypes, arPaymentSlots, false)) return finish(*this, where, kFalse);
    arPaymentValues.clear();
    if (bLoadValues) {
      std::string v;
      if (!ReadRegister(reg::kPaymentValues, v)) return finish(*this, where, kFalse);
      for (int slot : arPaymentSlots) {
        const size_t at = static_cast<size_t>(slot - 1) * reg::kValueWidth;
        long long cents = 0;
        if (at + reg::kValueWidth > v.size() || !digitsValue(v.substr(at, reg::kValueWidth), cents)) cents = 0;
        arPaymentValues.push_back(static_cast<double>(cents) / 100.0);
      }
    }
    return finish(*this, where, kTrue);
  });
}

// Each title as the lookups read it: its number in the first two characters
// and the title from the sixth ("01 - SANGRIA").
BOOL CDarumaFS600::LoadNonFiscalTitles() {
  const char* where = "CDarumaFS600::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> names;
    std::vector<int> slots;
    if (!ReadSlots(reg::kTitles, names, slots, false)) return finish(*this, where, kFalse);
    arNonFiscalTitles.clear();
    for (size_t i = 0; i < names.size(); ++i) arNonFiscalTitles.push_back(format("%02d - ", slots[i]) + names[i]);
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::LoadReports() {
  const char* where = "CDarumaFS600::LoadReports";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, ReadSlots(reg::kReports, arReports, arReportSlots, true)); });
}

// ---------------------------------------------------------------- information

BOOL CDarumaFS600::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CDarumaFS600::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    long long n = 0;
    if (!ReadRegister(reg::kOperations, v)) return finish(*this, where, kFalse);
    if (!digitsValue(text::trim(v), n)) return refuse(*this, where, cp("Erro ao consultar informações do ECF."));
    strNumeroCupom = std::to_string(n);
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::CupomFiscalAberto(BOOL& bOut) {
  const char* where = "CDarumaFS600::CupomFiscalAberto";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    if (!ReadRegister(reg::kReceiptState, v)) return finish(*this, where, kFalse);
    if (v.empty() || v[0] < '0' || v[0] > '9') return refuse(*this, where, cp("Erro ao consultar informações do ECF."));
    bOut = v[0] != '0' ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::ReadSerialNumber(std::string& strOut) {
  const char* where = "CDarumaFS600::ReadSerialNumber";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    if (!ReadRegister(reg::kSerial, v)) return finish(*this, where, kFalse);
    strOut = text::trim(v.substr(0, 20));
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::ReadDateTime(DateTime& dtOut) {
  const char* where = "CDarumaFS600::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    if (!ReadRegister(reg::kClock, v)) return finish(*this, where, kFalse);
    const DateTime dt = stampValue(std::string_view(v).substr(0, 14));
    if (!dt.valid()) return refuse(*this, where, cp("Erro ao consultar informações do ECF."));
    dtOut = dt;
    return finish(*this, where, kTrue);
  });
}

// The serial number, the printer number, the fiscal date, the grand total,
// the day's totals and the counters, into the members the control reads.
BOOL CDarumaFS600::ReadFiscalInformation() {
  const char* where = "CDarumaFS600::ReadFiscalInformation";
  return guarded(*this, where, kFalse, [&] {
    std::string serial, number, date;
    if (!ReadRegister(reg::kSerial, serial) || !ReadRegister(reg::kPrinterNumber, number) ||
        !ReadRegister(reg::kFiscalDate, date))
      return finish(*this, where, kFalse);
    strSerialNumber = text::trim(serial.substr(0, 20));
    long long n = 0;
    intPrinterID = digitsValue(text::trim(number), n) ? static_cast<int>(n) : 0;
    dtFiscalDate = stampValue(std::string_view(date).substr(0, 8));
    struct Money {
      int reg;
      double* into;
    };
    double issCancel = 0;
    const Money totals[] = {{reg::kGrandTotal, &nFinalGrandTotal}, {reg::kGrossSale, &nSaleTotal},
                            {reg::kCancellations, &nCancelTotal},  {reg::kIssCancellations, &issCancel},
                            {reg::kDiscounts, &nDiscountTotal},    {reg::kIncreases, &nIncreaseTotal}};
    for (const Money& m : totals) {
      std::string v;
      long long cents = 0;
      if (!ReadRegister(m.reg, v)) return finish(*this, where, kFalse);
      if (!digitsValue(text::trim(v), cents)) return refuse(*this, where, cp("Erro ao consultar informações do ECF."));
      *m.into = static_cast<double>(cents) / 100.0;
    }
    nCancelTotal += issCancel;
    // The day's net sale is what the grand total grew by since the last Z.
    nInitialGrandTotal = nFinalGrandTotal - (nSaleTotal - nCancelTotal - nDiscountTotal + nIncreaseTotal);
    struct Count {
      int reg;
      int* into;
    };
    const Count counters[] = {{reg::kReductions, &intZReportCounter},
                              {reg::kRestarts, &intRestartCounter},
                              {reg::kOperations, &intFinalOperation}};
    for (const Count& c : counters) {
      std::string v;
      if (!ReadRegister(c.reg, v)) return finish(*this, where, kFalse);
      if (!digitsValue(text::trim(v), n)) return refuse(*this, where, cp("Erro ao consultar informações do ECF."));
      *c.into = static_cast<int>(n);
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::GetPendingZReport() {
  const char* where = "CDarumaFS600::GetPendingZReport";
  return guarded(*this, where, kFalse, [&] {
    std::string date, pending;
    if (ReadRegister(reg::kFiscalDate, date)) dtFiscalDate = stampValue(std::string_view(date).substr(0, 8));
    if (!ReadRegister(reg::kPendingZ, pending)) return kFalse;
    const BOOL r = !pending.empty() && pending[0] == '1' ? kTrue : kFalse;
    Log(where, format("Retorno=%s", boolText(r)));
    return r;
  });
}

double CDarumaFS600::GetSaleTotal() {
  return TotalRegister("CDarumaFS600::GetSaleTotal", reg::kGrossSale);
}
double CDarumaFS600::GetCancelTotal() {
  const double icms = TotalRegister("CDarumaFS600::GetCancelTotal", reg::kCancellations);
  return icms + TotalRegister("CDarumaFS600::GetCancelTotal", reg::kIssCancellations);
}
double CDarumaFS600::GetDiscountTotal() {
  return TotalRegister("CDarumaFS600::GetDiscountTotal", reg::kDiscounts);
}
double CDarumaFS600::GetIncreaseTotal() {
  return TotalRegister("CDarumaFS600::GetIncreaseTotal", reg::kIncreases);
}
double CDarumaFS600::GetFinalGrandTotal() {
  return TotalRegister("CDarumaFS600::GetFinalGrandTotal", reg::kGrandTotal);
}
double CDarumaFS600::GetNonFiscalTotal() {
  return TotalRegister("CDarumaFS600::GetNonFiscalTotal", reg::kNonFiscalTotal);
}
long CDarumaFS600::GetPrinterID() {
  return CounterRegister("CDarumaFS600::GetPrinterID", reg::kPrinterNumber);
}
short CDarumaFS600::GetUserNumber() {
  return static_cast<short>(CounterRegister("CDarumaFS600::GetUserNumber", reg::kUserNumber));
}
DateTime CDarumaFS600::GetUserDateTime() {
  return StampRegister("CDarumaFS600::GetUserDateTime", reg::kUser, 14);
}
short CDarumaFS600::GetUserRestartCounter() {
  const char* where = "CDarumaFS600::GetUserRestartCounter";
  return guarded(*this, where, static_cast<short>(0), [&] {
    std::string v;
    long long n = 0;
    if (!ReadRegister(reg::kUser, v) || v.size() < 18 || !digitsValue(v.substr(14, 4), n)) return static_cast<short>(0);
    return static_cast<short>(n);
  });
}
std::string CDarumaFS600::GetFirmwareVersion() {
  const std::string v = TextRegister("CDarumaFS600::GetFirmwareVersion", reg::kFirmware);
  long long n = 0;
  if (v.size() != 6 || !digitsValue(v, n)) return v;
  return v.substr(0, 2) + "." + v.substr(2, 2) + "." + v.substr(4, 2);
}
DateTime CDarumaFS600::GetFirmwareDateTime() {
  return StampRegister("CDarumaFS600::GetFirmwareDateTime", reg::kFirmwareDate, 14);
}
long CDarumaFS600::GetOperationCounter() {
  return CounterRegister("CDarumaFS600::GetOperationCounter", reg::kOperations);
}
long CDarumaFS600::GetFiscalReceiptCounter() {
  return CounterRegister("CDarumaFS600::GetFiscalReceiptCounter", reg::kFiscalReceipts);
}
long CDarumaFS600::GetNonFiscalCounter() {
  return CounterRegister("CDarumaFS600::GetNonFiscalCounter", reg::kNonFiscalCount);
}
long CDarumaFS600::GetPaymentReceiptCounter() {
  return CounterRegister("CDarumaFS600::GetPaymentReceiptCounter", reg::kLinkedCount);
}
long CDarumaFS600::GetManagementReportCounter() {
  return CounterRegister("CDarumaFS600::GetManagementReportCounter", reg::kReportCount);
}
long CDarumaFS600::GetZReportCounter() {
  return CounterRegister("CDarumaFS600::GetZReportCounter", reg::kReductions);
}
long CDarumaFS600::GetRestartCounter() {
  return CounterRegister("CDarumaFS600::GetRestartCounter", reg::kRestarts);
}
DateTime CDarumaFS600::GetLastDocumentDateTime() {
  return StampRegister("CDarumaFS600::GetLastDocumentDateTime", reg::kLastDocument, 14);
}
std::string CDarumaFS600::GetEquipamentMark() {
  return TextRegister("CDarumaFS600::GetEquipamentMark", reg::kMark);
}
std::string CDarumaFS600::GetEquipamentModel() {
  return TextRegister("CDarumaFS600::GetEquipamentModel", reg::kModel);
}
std::string CDarumaFS600::GetEquipamentType() {
  return TextRegister("CDarumaFS600::GetEquipamentType", reg::kType);
}
DateTime CDarumaFS600::GetFiscalDate() {
  dtFiscalDate = StampRegister("CDarumaFS600::GetFiscalDate", reg::kFiscalDate, 8);
  return dtFiscalDate;
}
long CDarumaFS600::GetLastItemNumber() {
  const long n = CounterRegister("CDarumaFS600::GetLastItemNumber", reg::kLastItem);
  if (strLastError.empty()) nLastItemNumber = static_cast<int>(n);
  return n;
}
DateTime CDarumaFS600::GetDataMovUltimaRZ() {
  return StampRegister("CDarumaFS600::GetDataMovUltimaRZ", reg::kLastReduction, 8);
}

BOOL CDarumaFS600::DiscountISSQN(std::string& strOut) {
  const char* where = "CDarumaFS600::DiscountISSQN";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    if (!ReadRegister(reg::kIssDiscount, v)) return finish(*this, where, kFalse);
    strOut = v.substr(0, 1);
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::VerificaHorarioVerao(BOOL& bOut) {
  const char* where = "CDarumaFS600::VerificaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    if (!ReadRegister(reg::kDaylight, v)) return finish(*this, where, kFalse);
    bOut = !v.empty() && v[0] == '1' ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

BOOL CDarumaFS600::GetPAFECFIdentification(std::string& strLine1, std::string& strLine2) {
  const char* where = "CDarumaFS600::GetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    std::string v;
    if (!ReadRegister(reg::kPafLines, v)) return finish(*this, where, kFalse);
    v.resize(84, ' ');
    strPAFIdent1 = text::trim(v.substr(0, 42));
    strPAFIdent2 = text::trim(v.substr(42, 42));
    strLine1 = strPAFIdent1;
    strLine2 = strPAFIdent2;
    return finish(*this, where, kTrue);
  });
}

}  // namespace tarvion
