// The readings and tables of the FS models that CBematech2000 and CBematechMP25
// share (MP25 is no CBematech2000, but its firmware answers the same reads):
// the 20-character serial number, the receipt state, the payment-type,
// totaliser and report tables, the linked receipt's long form, the day's sale
// total and the fiscal information with its retries.
#include <algorithm>
#include <cstdlib>

#include "core/text.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/bematech_ops.h"

namespace tarvion {

using namespace bematech;
using fmt::logNumber;
using text::cp;
using text::format;

namespace {

constexpr uint8_t kReadSerial20 = 40, kReadPayments = 49, kReadTitles = 50, kReadReports = 51;
constexpr uint8_t kOpeningBlock = 88, kTaxTotals = 87, kOpenNamedReport = 83;
// The fiscal information: every read tried this often, with this pause after a failure.
constexpr int kInfoTries = 10;
constexpr uint32_t kInfoPauseMs = 1000;
constexpr size_t kPaymentWidth = 16;

// Text of a fixed-size reply field: up to the first zero byte, trailing blanks removed.
}  // namespace

// Wire example, the serial number (35/40):
//   request 02 05 00 1C 23 28 6F 00   reply 06 "BE091010100011223344" 00 00 00 00
BOOL CBematech::ReadSerial20(const char* where, std::string& strOut) {
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(kReadSerial20);
    if (!Submit()) return finish(*this, where, kFalse);
    strOut = fieldText(arAnswer, 0, std::min<size_t>(20, DataSize()));
    Log(where, format("strSerialNumber=%s", strOut.c_str()));
    return finish(*this, where, kTrue);
  });
}

// The first state byte tells whether a receipt is open; a reply without data
// means the printer has nothing open.
BOOL CBematech::ReceiptOpenFs(const char* where, BOOL& bOut) {
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(sub::Flags);
    if (!Submit()) return finish(*this, where, kFalse);
    bOut = arAnswer.size() > 1 && (arAnswer[0] & 0x01) ? kTrue : kFalse;
    Log(where, format("*bAberto=%s, Retorno=TRUE", boolText(bOut)));
    return kTrue;
  });
}

BOOL CBematech::SendSimple(const char* where, uint8_t command) {
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    ClearBuffers();
    AddCommandByte(command);
    return finish(*this, where, Submit());
  });
}

// These firmwares take the long form only: name, value and receipt number.
BOOL CBematech::OpenLinkedLong(const char* where, const std::string& strPaymentType, double nValor,
                               const std::string& strNumeroCupom) {
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("strPaymentType=%s, ValorPagamento=%s, CupomPagamento=%s", strPaymentType.c_str(),
                        logNumber(nValor).c_str(), strNumeroCupom.c_str()));
    ResetSale();
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return finish(*this, where, kFalse);
    fields::Checked num;
    const std::string amount = nValor > 0 ? num(nValor, fmt::field::kLinkedValue) : std::string();
    const std::string number = strNumeroCupom.empty()
                                   ? std::string()
                                   : num(std::strtoll(strNumeroCupom.c_str(), nullptr, 10), fmt::field::kReceiptNumber);
    if (!num.ok()) return refuse(*this, where, num.error());
    ClearBuffers();
    AddCommandByte(cmd::OpenLinked);
    AddParameterString(fmt::fitField(oneLine(PaymentType(index)), kPaymentWidth));
    if (nValor > 0) AddParameterString(amount);
    if (!strNumeroCupom.empty()) AddParameterString(number);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::LoadPayments2000(const char* where, BOOL bLoadValues) {
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(kReadPayments);
    if (!Submit()) return finish(*this, where, kFalse);
    using namespace fmt::pay2000;
    const size_t data = DataSize();
    std::vector<std::string> names;
    for (size_t i = 0; i < kCount && kNameSize * (i + 1) <= data; ++i) {
      const std::string name = fieldText(arAnswer, kNameSize * i, kNameSize);
      // The printer fills its table from the front: the first blank slot ends it.
      if (name.empty()) break;
      Log(where, format("i=%d, strPaymentType=%s", static_cast<int>(i), name.c_str()));
      names.push_back(name);
    }
    arPaymentTypes = names;
    arPaymentValues.assign(names.size(), 0.0);
    if (bLoadValues) {
      for (size_t i = 0; i < names.size() && kValues + kValueSize * (i + 1) <= data; ++i) {
        arPaymentValues[i] =
            static_cast<double>(fmt::bcdDecimal(arAnswer.data() + kValues + kValueSize * i, kValueSize) / 100.0L);
        if (Logging()) Log(where, format("i=%d, Valor=%s", static_cast<int>(i), logNumber(arPaymentValues[i]).c_str()));
      }
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CBematech::LoadTitles2000(const char* where) {
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(kReadTitles);
    if (!Submit()) return finish(*this, where, kFalse);
    using namespace fmt::title2000;
    // Withdrawal and supply are not in the reply: every printer has them.
    std::vector<std::string> titles{"01,&,SANGRIA", "02,&,SUPRIMENTO"};
    for (size_t i = 0; i < kMax && kSize * (i + 1) <= DataSize(); ++i) {
      const std::string title = text::upper(fieldText(arAnswer, kSize * i + kTitle, kTitleSize));
      if (title.empty()) continue;
      int number = static_cast<int>(bcdValue(arAnswer.data() + kSize * i + kNumber, 1));
      if (number == 0) number = static_cast<int>(i) + kFirstNumber;
      titles.push_back(format("%02i,&,", number) + title);
      Log(where, format("i=%d, strTitle=%s", static_cast<int>(i), title.c_str()));
    }
    arNonFiscalTitles = titles;
    return finish(*this, where, kTrue);
  });
}

// One command 71 per name the printer lacks (at most `most` names are looked at).
BOOL CBematech::AddMissingPayments(const char* where, const std::vector<std::string>& arNames, size_t most) {
  auto key = [](const std::string& name) {
    return text::upper(text::trimRight(fmt::padRight(name.substr(0, kPaymentWidth), kPaymentWidth)));
  };
  for (size_t i = 0; i < arNames.size() && i < most; ++i) {
    const std::string wanted = key(arNames[i]);
    if (wanted.empty()) continue;
    bool held = false;
    for (const std::string& p : arPaymentTypes) held = held || key(p) == wanted;
    if (held) continue;
    const std::string field = fmt::padRight(oneLine(arNames[i].substr(0, kPaymentWidth)), kPaymentWidth);
    Log(where, format("DescricaoFormasPagamento(%d)=%s", static_cast<int>(i), field.c_str()));
    ClearBuffers();
    AddCommandByte(cmd::AddPayment);
    AddParameterString(field);
    if (!Submit()) return kFalse;
    // The printer answers the position it gave the new payment type, in two digits.
    size_t index = arPaymentTypes.size();
    if (DataSize() >= 2)
      index = static_cast<size_t>(std::atoi(std::string(arAnswer.begin(), arAnswer.begin() + 2).c_str()));
    if (index >= 100) index = arPaymentTypes.size();
    if (arPaymentTypes.size() <= index) arPaymentTypes.resize(index + 1);
    arPaymentTypes[index] = text::trimRight(field);
    arPaymentValues.resize(arPaymentTypes.size(), 0.0);
  }
  return kTrue;
}

// The day's sale: the grand total now minus the one the day opened with (88).
double CBematech::SaleTotal2000(const char* where) {
  return guarded(*this, where, 0.0, [&] {
    auto final = ReadBcd(sub::GrandTotal, 9, where);
    if (!final) return 0.0;
    ClearBuffers();
    AddCommandByte(kOpeningBlock);
    if (!Submit() || DataSize() < fmt::open88::kGrandTotal + 9) {
      Log(where, "Retorno=FALSE");
      return 0.0;
    }
    const long double initial = fmt::bcdDecimal(arAnswer.data() + fmt::open88::kGrandTotal, 9);
    nFinalGrandTotal = static_cast<double>(*final / 100.0L);
    nInitialGrandTotal = static_cast<double>(initial / 100.0L);
    const double total = static_cast<double>((*final - initial) / 100.0L);
    Log(where, "Retorno=" + logNumber(total));
    return total;
  });
}

BOOL CBematech::LoadReports2000(const char* where) {
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(kReadReports);
    if (!Submit()) return finish(*this, where, kFalse);
    using namespace fmt::report2000;
    std::vector<std::string> reports;
    for (size_t i = 0; i < kMax && kSize * (i + 1) <= DataSize(); ++i) {
      const std::string name = fieldText(arAnswer, kSize * i, kSize);
      // Report i is number i + 1: a blank record ends the programmed ones.
      if (name.empty()) break;
      Log(where, format("i=%d, arReports[%d]=%s", static_cast<int>(i), static_cast<int>(i), name.c_str()));
      reports.push_back(name);
    }
    arReports = reports;
    return finish(*this, where, kTrue);
  });
}

// Wire example, opening report number 2:
//   request 02 07 00 1C 53 "02" .. ..      reply 06 00 00 00 00
BOOL CBematech::OpenReport2000(const char* where, const std::string& strReportName) {
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("strReportName=%s", strReportName.c_str()));
    ResetSale();
    if (!LoadReports()) return finish(*this, where, kFalse);
    if (arReports.empty()) {
      strLastError = cp("A impressora não possui relatórios gerenciais cadastrados.");
      return finish(*this, where, kFalse);
    }
    const int index = ReportIndex(strReportName);
    if (index < 0) return finish(*this, where, kFalse);
    auto open = [this](int number) {
      // The list holds at most fifty reports: their numbers fit the field.
      const fields::Result field = fields::format(number, fmt::field::kReportNumber);
      if (!field.ok()) {
        strLastError = field.error;
        return kFalse;
      }
      ClearBuffers();
      AddCommandByte(kOpenNamedReport);
      AddParameterString(field.text);
      return Submit();
    };
    // Report i of the list is number i + 1; firmwares that count from 0 get a second try.
    BOOL result = open(index + 1);
    if (!result && index > 0) {
      Log(where, format("Nova tentativa com o relatório %02i", index));
      result = open(index);
    }
    return finish(*this, where, result);
  });
}

// Like CBematech::ReadFiscalInformation, item by item and with the same log
// lines, but every read is tried again after a pause: these printers answer
// "busy" for a while after a document. The serial number has 20 characters, the
// fiscal date is the printer's date, the day's first operation number comes from
// command 88 and the per-tax totals from command 87.
BOOL CBematech::FiscalInformation2000(const char* where) {
  return guarded(*this, where, kFalse, [&] {
    auto read = [&](uint8_t command, int sub, size_t need) {
      return Retry(kInfoTries, kInfoPauseMs, [&] {
        ClearBuffers();
        AddCommandByte(command);
        if (sub >= 0) AddCommandByte(static_cast<uint8_t>(sub));
        return Submit() && DataSize() >= need;
      });
    };
    auto bcdRead = [&](uint8_t sub, size_t n) -> std::optional<long double> {
      if (!read(cmd::Read, sub, n)) return std::nullopt;
      return fmt::bcdDecimal(arAnswer.data(), n);
    };

    if (!read(cmd::Read, kReadSerial20, 20)) return finish(*this, where, kFalse);
    strSerialNumber = fieldText(arAnswer, 0, 20);
    Log(where, format("strSerialNumber=%s", strSerialNumber.c_str()));
    if (auto v = bcdRead(sub::PrinterNumber, 2)) intPrinterID = static_cast<int>(*v);
    Log(where, format("intPrinterID=%d", intPrinterID));
    if (read(cmd::Read, sub::FiscalStartDate, 3)) {
      const DateTime begin = fmt::bcdDate(arAnswer.data(), 3);
      Log(where, format("dtFiscalBegin=%s, bEmptyFiscal=%d", shortDate(begin).c_str(), allZero(arAnswer, 3) ? 1 : 0));
    }
    DateTime lastReport = DateTime::invalid(), printerDate = DateTime::invalid();
    if (read(cmd::Read, sub::LastReductionDate, 3)) lastReport = fmt::bcdDate(arAnswer.data(), 3);
    Log(where, format("dtLastReport=%s", shortDate(lastReport).c_str()));
    if (read(cmd::Read, sub::DateTime, 6)) printerDate = fmt::bcdDate(arAnswer.data(), 3);
    Log(where, format("dtPrinterDate=%s", shortDate(printerDate).c_str()));
    if (printerDate.valid()) dtFiscalDate = printerDate;
    Log(where, format("dtFiscalDate=%s", shortDate(dtFiscalDate).c_str()));
    if (auto v = bcdRead(sub::ZCounter, 2)) intZReportCounter = static_cast<int>(*v);
    Log(where, format("intZReportCounter=%d", intZReportCounter));
    if (auto v = bcdRead(sub::RestartCounter, 2)) intRestartCounter = static_cast<int>(*v);
    Log(where, format("intRestartCounter=%d", intRestartCounter));
    if (auto v = bcdRead(sub::CancelTotal, 7)) nCancelTotal = static_cast<double>(*v / 100.0L);
    Log(where, "nCancelTotal=" + logNumber(nCancelTotal));
    if (auto v = bcdRead(sub::DiscountTotal, 7)) nDiscountTotal = static_cast<double>(*v / 100.0L);
    Log(where, "nDiscountTotal=" + logNumber(nDiscountTotal));
    if (auto v = bcdRead(sub::IncreaseTotal, 7)) nIncreaseTotal = static_cast<double>(*v / 100.0L);
    Log(where, "nIncreaseTotal=" + logNumber(nIncreaseTotal));
    if (auto v = bcdRead(sub::OperationCounter, 3)) intFinalOperation = static_cast<int>(*v);
    Log(where, format("intFinalOperation=%d", intFinalOperation));
    if (read(cmd::ReadBlock, sub::InitialBlock, 10))
      nInitialGrandTotal = static_cast<double>(fmt::bcdDecimal(arAnswer.data() + 1, 9) / 100.0L);
    Log(where, "nInitialGrandTotal=" + logNumber(nInitialGrandTotal));
    if (auto v = bcdRead(sub::GrandTotal, 9)) nFinalGrandTotal = static_cast<double>(*v / 100.0L);
    Log(where, "nFinalGrandTotal=" + logNumber(nFinalGrandTotal));
    if (read(kOpeningBlock, -1, fmt::open88::kOperation + 3))
      intInitialOperation = static_cast<int>(fmt::bcdDecimal(arAnswer.data() + fmt::open88::kOperation, 3));
    Log(where, format("intInitialOperation=%d", intInitialOperation));
    nSaleTotal = nFinalGrandTotal - nInitialGrandTotal;

    // The tax table: flags, rates, and the day's total per position.
    std::string flags;
    if (read(cmd::Read, sub::TaxFlags, 2)) flags = fmt::taxFlags(arAnswer);
    std::string totals;
    const bool haveTotals = Retry(kInfoTries, kInfoPauseMs, [&] {
      ClearBuffers();
      AddCommandByte(kTaxTotals);
      // Status, the totals, status: their count is the printer's business.
      return SubmitToIdle() != 0;
    });
    if (haveTotals) totals = fmt::textOfReply(arAnswer, FsPrefix());
    if (!flags.empty() && read(cmd::LoadTaxRates, -1, 1)) {
      arTaxes = fmt::taxList(arAnswer, flags);
      ResetTaxes();
      const size_t count = std::min(arTaxes.size() - 1, arTaxTable.size());
      for (size_t k = 1; k <= count; ++k) {
        TaxEntry& t = arTaxTable[k - 1];
        const size_t at = 1 + 2 * (k - 1);
        const size_t totalAt = fmt::kTaxTotalSize * (k - 1);
        const bool haveTotal = totalAt + fmt::kTaxTotalSize <= totals.size();
        const auto* total = reinterpret_cast<const uint8_t*>(totals.data()) + totalAt;
        t.percent = static_cast<double>(fmt::bcdDecimal(arAnswer.data() + at, 2) / 100.0L);
        t.baseValue = haveTotal ? static_cast<double>(fmt::bcdDecimal(total, fmt::kTaxTotalSize) / 100.0L) : 0.0;
        t.title = arTaxes[k];
        Log(where, format("%02i%s%s%s", static_cast<int>(k), arTaxes[k].substr(0, 1).c_str(),
                          format("%02x%02x", arAnswer[at], arAnswer[at + 1]).c_str(),
                          haveTotal ? bcdDigits(total, fmt::kTaxTotalSize).c_str() : std::string(14, '0').c_str()));
      }
      TaxesCount = static_cast<int16_t>(count);
    }
    LoadPaymentTypes(kTrue);
    return finish(*this, where, kTrue);
  });
}

}  // namespace tarvion
