// CEpson: readings and reductions, the printer's tables, its registers,
// configuration, the drawer and the check operations of a printer without a
// check station.
#include <cmath>
#include <cstdlib>

#include "core/host_text.h"
#include "drivers/epson/CEpson.h"
#include "drivers/epson/epson_ops.h"

namespace tarvion {

using namespace epson;
using text::cp;
using text::format;

namespace {

bool dateText(const DateTime& dt, std::string& date, std::string& time) {
  DateParts p;
  if (!dt.parts(p)) return false;
  date = format("%02d%02d%04d", p.day, p.month, p.year);
  time = format("%02d%02d%02d", p.hour, p.minute, p.second);
  return true;
}

std::string nameField(const std::string& name) {
  std::string s = text::foldPrinterText(oneLine(name).substr(0, 15), text::charset::printer850());
  s.append(15 - s.size(), ' ');
  return s;
}

}  // namespace

// Wire example: 02 81 08 0A 1C 00 00 03 "CCCC", then with the day open
// (field 15 "S") 02 82 08 02 1C 00 00 03 "CCCC", else 08 05 opens it.
BOOL CEpson::LeituraX() {
  const char* where = "CEpson::LeituraX";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadFields(where, 0x08, 0x0A, 16)) return finish(*this, where, kFalse);
    const bool open = Field(15) == "S";
    return finish(*this, where, Command(0x08, open ? 0x02 : 0x05, 0x00, 0x00));
  });
}

// Wire example, 4 Dec 2026 at 22:10:05: 02 81 08 01 1C 00 00 1C "04122026" 1C "221005" 03 "CCCC"
BOOL CEpson::ReducaoZ(DateTime dtReducao) {
  const char* where = "CEpson::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    std::string date, time;
    if (!dateText(dtReducao, date, time)) return refuse(*this, where, cp("Data inválida."));
    return finish(*this, where, Command(0x08, 0x01, 0x00, 0x00, {date, time}));
  });
}

// Wire example, the whole reading from 1 to 4 Dec 2026:
//   02 81 09 10 1C 00 00 1C 1C 1C "01122026" 1C "04122026" 03 "CCCC"  (00 01: the summary)
BOOL CEpson::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) {
  const char* where = "CEpson::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string from, to, unused;
    if (!dateText(dtInicial, from, unused) || !dateText(dtFinal, to, unused))
      return refuse(*this, where, cp("Data inválida."));
    return finish(*this, where, Command(0x09, 0x10, 0x00, bResumida ? 0x01 : 0x00, {"", "", from, to}));
  });
}

// Wire example, reductions 1 to 3: 02 81 09 10 1C 00 02 1C "0001" 1C "0003" 1C 1C 03 "CCCC"  (00 03: the summary)
BOOL CEpson::LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) {
  const char* where = "CEpson::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    constexpr fields::Field kReduction{
        "Contador de redu\xE7\xF5"
        "es",
        4,
        0,
        fields::Rounding::TowardZero,
        false,
        0};
    fields::Checked num;
    const std::string from = num(intInicial, kReduction);
    const std::string to = num(intFinal, kReduction);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command(0x09, 0x10, 0x00, bResumida ? 0x03 : 0x02, {from, to, "", ""}));
  });
}

// The same readings sent to the port: the same frames, and the reading is the
// reply's result fields (after the return code), one line each.
// Wire example: as LeituraMemoriaFiscal; reply 02 81 09 10 1C st 1C st 1C 00 00 1C "line 1" 1C "line 2" 03 "CCCC"
BOOL CEpson::LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura, BOOL bResumida) {
  if (!LeituraMemoriaFiscal(dtInicial, dtFinal, bResumida)) return kFalse;
  strLeitura = ResultText();
  return kTrue;
}

// Wire example: as LeituraMFReducao, the reading in the reply's result fields.
BOOL CEpson::LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) {
  if (!LeituraMFReducao(intInicial, intFinal, bResumida)) return kFalse;
  strLeitura = ResultText();
  return kTrue;
}

std::string CEpson::ResultText() const {
  std::string out;
  for (size_t i = 4; i < arReplyFields.size(); ++i) {
    if (i > 4) out += "\r\n";
    out += arReplyFields[i];
  }
  return out;
}

// Wire example: 02 81 05 10 1C 00 00 1C "S" 03 "CCCC"
BOOL CEpson::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CEpson::MudaHorarioVerao";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, Command(0x05, 0x10, 0x00, 0x00, {bHabilita ? "S" : "N"})); });
}

BOOL CEpson::VerificaHorarioVerao(BOOL& bOut) {
  const char* where = "CEpson::VerificaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadFields(where, 0x05, 0x11, 5)) return finish(*this, where, kFalse);
    bOut = Field(4) == "S" ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

// Both pulses are sent; the drawer opening is not something the printer can
// confirm, so the operation reports success.
BOOL CEpson::OpenCashDrawer() {
  const char* where = "CEpson::OpenCashDrawer";
  return guarded(*this, where, kFalse, [&] {
    Command(0x07, 0x07, 0x00, 0x00);
    Command(0x07, 0x07, 0x00, 0x01);
    return finish(*this, where, kTrue);
  });
}

BOOL CEpson::IsCashDrawerClosed() {
  const char* where = "CEpson::IsCashDrawerClosed";
  return guarded(*this, where, kFalse, [&] { return ReadFields(where, 0x07, 0x08, 5) && Field(4) == "S"; });
}

BOOL CEpson::CutPaper() {
  const char* where = "CEpson::CutPaper";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command(0x07, 0x02, 0x00, 0x00)); });
}

// The status request: field 1 is the printer's (bit 0x04 of its first byte:
// little paper), field 2 the fiscal state (low nibble of its second byte: the
// open document, 1 a fiscal receipt).
BOOL CEpson::CupomFiscalAberto(BOOL& bOut) {
  const char* where = "CEpson::CupomFiscalAberto";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadFields(where, 0x00, 0x01, 4) || Field(2).size() < 2) return finish(*this, where, kFalse);
    bOut = (static_cast<uint8_t>(Field(2)[1]) & 0x0F) == 1 ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

BOOL CEpson::IsLowPaper() {
  const char* where = "CEpson::IsLowPaper";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadFields(where, 0x00, 0x01, 4) || Field(1).empty()) return kFalse;
    return (static_cast<uint8_t>(Field(1)[0]) & 0x04) ? kTrue : kFalse;
  });
}

// Wire example: 02 81 EE 11 1C 00 00 1C "NF 123" 03 "CCCC"
BOOL CEpson::AuthenticateDocument(const std::string& strAdditionalInfo) {
  const char* where = "CEpson::AuthenticateDocument";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where, Command(0xEE, 0x11, 0x00, 0x00, {oneLine(strAdditionalInfo).substr(0, 40)}));
  });
}

BOOL CEpson::InitialConfiguration() {
  const char* where = "CEpson::InitialConfiguration";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where, Command(0x05, 0x85, 0x00, 0x00) && Command(0x07, 0x55, 0x00, 0x00));
  });
}

// Wire example, "CARTAO" as the payment type at index 2:
//   02 81 05 0C 1C 00 01 1C "CARTAO         " 1C "02" 03 "CCCC"
BOOL CEpson::AdicionaFormaPagamento(const std::string& strPaymentType) {
  const char* where = "CEpson::AdicionaFormaPagamento";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result index = fields::format(static_cast<long>(arPaymentTypes.size()), field::kIndex);
    if (!index.ok()) return refuse(*this, where, index.error);
    if (!Command(0x05, 0x0C, 0x00, 0x01, {nameField(strPaymentType), index.text})) return finish(*this, where, kFalse);
    return finish(*this, where, LoadPaymentTypes());
  });
}

// The table is emptied (05 70), then every name is added in order.
BOOL CEpson::RedefineFormasPagamento(const std::vector<std::string>& arNames) {
  const char* where = "CEpson::RedefineFormasPagamento";
  return guarded(*this, where, kFalse, [&] {
    if (arNames.size() > 99) return refuse(*this, where, cp("Meios de pagamento em excesso."));
    if (!Command(0x05, 0x70, 0x00, 0x00)) return finish(*this, where, kFalse);
    for (size_t i = 0; i < arNames.size(); ++i)
      if (!Command(0x05, 0x0C, 0x00, 0x01, {nameField(arNames[i]), format("%02d", static_cast<int>(i))}))
        return finish(*this, where, kFalse);
    return finish(*this, where, LoadPaymentTypes());
  });
}

// Wire example, 18 %: 02 81 05 40 1C 00 00 1C "1800" 03 "CCCC"
BOOL CEpson::AdicionaAliquotaTributaria(double nAliquota, long) {
  const char* where = "CEpson::AdicionaAliquotaTributaria";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result rate = fields::format(nAliquota, field::kRate);
    if (!rate.ok()) return refuse(*this, where, rate.error);
    if (!Command(0x05, 0x40, 0x00, 0x00, {rate.text})) return finish(*this, where, kFalse);
    return finish(*this, where, LoadTaxes());
  });
}

// Wire example: 02 81 05 72 1C 00 00 1C "SANGRIA        " 03 "CCCC"
BOOL CEpson::AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) {
  const char* where = "CEpson::AdicionaTotalizadorNaoFiscal";
  return guarded(*this, where, kFalse, [&] {
    const std::string wanted = text::upper(text::trim(oneLine(strDescricaoTotalizador)));
    for (const std::string& t : arNonFiscalTitles)
      if (text::upper(text::trim(t)) == wanted)
        return refuse(*this, where, cp("Totalizador já cadastrado na impressora."));
    if (!Command(0x05, 0x72, 0x00, 0x00, {nameField(strDescricaoTotalizador)})) return finish(*this, where, kFalse);
    arNonFiscalTitles.push_back(text::trim(oneLine(strDescricaoTotalizador)));
    return finish(*this, where, kTrue);
  });
}

// The default titles the printer does not hold yet are added.
BOOL CEpson::ResetNonFiscalTitles() {
  const char* where = "CEpson::ResetNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    if (!LoadNonFiscalTitles()) return finish(*this, where, kFalse);
    for (const std::string& t : arDefaultTitles) {
      bool held = false;
      for (const std::string& h : arNonFiscalTitles) held = held || text::upper(h) == text::upper(text::trim(t));
      if (!held && !Command(0x05, 0x72, 0x00, 0x00, {nameField(t)})) return finish(*this, where, kFalse);
    }
    return finish(*this, where, LoadNonFiscalTitles());
  });
}

// ---------------------------------------------------------------- tables

// One of the printer's name tables (09 02 with extension 0000 payment types,
// 0001 non-fiscal titles, 0002 reports): a name per result field.
BOOL CEpson::LoadTable(const char* where, uint8_t e2, std::vector<std::string>& out) {
  if (!Command(0x09, 0x02, 0x00, e2)) return kFalse;
  out.clear();
  for (size_t i = 4; i < arReplyFields.size(); ++i)
    out.push_back(text::cp850ToCp1252(text::trimRight(arReplyFields[i])));
  Log(where, format("%d", static_cast<int>(out.size())));
  return kTrue;
}

BOOL CEpson::LoadPaymentTypes(BOOL) {
  const char* where = "CEpson::LoadPaymentTypes";
  return guarded(*this, where, kFalse, [&] {
    if (!LoadTable(where, 0x00, arPaymentTypes)) return finish(*this, where, kFalse);
    arPaymentValues.assign(arPaymentTypes.size(), 0.0);
    for (size_t i = 0; i < arPaymentTypes.size(); ++i)
      Log(format("arPaymentTypes[%d], IndECF=%d, PaymentType=%s", static_cast<int>(i), static_cast<int>(i),
                 arPaymentTypes[i].c_str()));
    return finish(*this, where, kTrue);
  });
}

BOOL CEpson::LoadNonFiscalTitles() {
  const char* where = "CEpson::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, LoadTable(where, 0x01, arNonFiscalTitles)); });
}

BOOL CEpson::LoadReports() {
  const char* where = "CEpson::LoadReports";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, LoadTable(where, 0x02, arReports)); });
}

// The tax table: from field 4 on, one entry each, its two-character code and
// four-digit rate ("TA1800"), empty for a free slot. Stored as "TA-18,00%".
BOOL CEpson::LoadTaxes() {
  const char* where = "CEpson::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadFields(where, 0x05, 0x42, 18)) return finish(*this, where, kFalse);
    arTaxes.clear();
    for (size_t i = 4; i < arReplyFields.size(); ++i) {
      const std::string& e = arReplyFields[i];
      if (e.size() < 6) continue;
      arTaxes.push_back(
          format("%s-%.02s,%.02s%%", e.substr(0, 2).c_str(), e.substr(2, 2).c_str(), e.substr(4, 2).c_str()));
    }
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- registers

BOOL CEpson::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CEpson::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadFields(where, 0x09, 0x07, 6)) return finish(*this, where, kFalse);
    strNumeroCupom = Field(5);
    return finish(*this, where, kTrue);
  });
}

BOOL CEpson::ReadDateTime(DateTime& dtOut) {
  const char* where = "CEpson::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    const DateTime dt = DateField(where, 0x05, 0x02, 5, 6);
    if (!dt.valid()) {
      if (strLastError.empty()) strLastError = cp("Resposta inválida da impressora.");
      return finish(*this, where, kFalse);
    }
    dtOut = dt;
    return finish(*this, where, kTrue);
  });
}

BOOL CEpson::ReadFiscalInformation() {
  const char* where = "CEpson::ReadFiscalInformation";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadFields(where, 0x04, 0x02, 5)) return finish(*this, where, kFalse);
    strSerialNumber = text::trim(Field(4));
    if (!ReadFields(where, 0x05, 0x07, 6)) return finish(*this, where, kFalse);
    intPrinterID = std::atoi(Field(4).c_str());
    if (!ReadFields(where, 0x09, 0x07, 11)) return finish(*this, where, kFalse);
    intRestartCounter = static_cast<int>(CounterField(4));
    intFinalOperation = static_cast<int>(CounterField(5));
    intZReportCounter = static_cast<int>(CounterField(10));
    if (!ReadFields(where, 0x09, 0x06, 10)) return finish(*this, where, kFalse);
    nFinalGrandTotal = TotalField(4);
    nCancelTotal = TotalField(5);
    nSaleTotal = TotalField(6);
    nDiscountTotal = TotalField(7);
    nIncreaseTotal = TotalField(8);
    return finish(*this, where, LoadTaxes());
  });
}

BOOL CEpson::DiscountISSQN(std::string& strOut) {
  const char* where = "CEpson::DiscountISSQN";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadFields(where, 0x05, 0x13, 5)) return finish(*this, where, kFalse);
    strOut = Field(4);
    return finish(*this, where, kTrue);
  });
}

// The totals (09 06): 4 grand total, 5 cancellations, 6 sales, 7 discounts,
// 8 increases, 9 non-fiscal; hundredths. A failed read gives 0.
#define EPSON_TOTAL(name, index)                                                                                   \
  double CEpson::name() {                                                                                          \
    const char* where = "CEpson::" #name;                                                                          \
    return guarded(*this, where, 0.0, [&] { return ReadFields(where, 0x09, 0x06, 7) ? TotalField(index) : 0.0; }); \
  }
EPSON_TOTAL(GetFinalGrandTotal, 4)
EPSON_TOTAL(GetCancelTotal, 5)
EPSON_TOTAL(GetSaleTotal, 6)
EPSON_TOTAL(GetDiscountTotal, 7)
EPSON_TOTAL(GetIncreaseTotal, 8)
EPSON_TOTAL(GetNonFiscalTotal, 9)
#undef EPSON_TOTAL

// The counters (09 07): 4 restarts, 5 operations (COO), 6 fiscal receipts,
// 7 non-fiscal documents, 8 payment receipts, 9 management reports,
// 10 reductions. A failed read gives 0.
#define EPSON_COUNTER(name, index)                                                                         \
  long CEpson::name() {                                                                                    \
    const char* where = "CEpson::" #name;                                                                  \
    return guarded(*this, where, 0L,                                                                       \
                   [&] { return ReadFields(where, 0x09, 0x07, (index) + 1) ? CounterField(index) : 0L; }); \
  }
EPSON_COUNTER(GetRestartCounter, 4)
EPSON_COUNTER(GetOperationCounter, 5)
EPSON_COUNTER(GetFiscalReceiptCounter, 6)
EPSON_COUNTER(GetNonFiscalCounter, 7)
EPSON_COUNTER(GetPaymentReceiptCounter, 8)
EPSON_COUNTER(GetManagementReportCounter, 9)
EPSON_COUNTER(GetZReportCounter, 10)
#undef EPSON_COUNTER

long CEpson::GetPrinterID() {
  const char* where = "CEpson::GetPrinterID";
  return guarded(*this, where, 0L, [&] { return ReadFields(where, 0x05, 0x07, 5) ? CounterField(4) : 0L; });
}

short CEpson::GetUserNumber() {
  const char* where = "CEpson::GetUserNumber";
  return guarded(*this, where, static_cast<short>(0),
                 [&] { return static_cast<short>(ReadFields(where, 0x05, 0x07, 6) ? CounterField(5) : 0L); });
}

DateTime CEpson::GetLastDocumentDateTime() {
  const char* where = "CEpson::GetLastDocumentDateTime";
  return guarded(*this, where, DateTime::invalid(), [&] { return DateField(where, 0x09, 0x08, 4, 5); });
}

DateTime CEpson::GetFiscalDate() {
  const char* where = "CEpson::GetFiscalDate";
  return guarded(*this, where, DateTime::invalid(), [&] { return DateField(where, 0x08, 0x0A, 4, 0); });
}

DateTime CEpson::GetDataMovUltimaRZ() {
  const char* where = "CEpson::GetDataMovUltimaRZ";
  return guarded(*this, where, DateTime::invalid(), [&] { return DateField(where, 0x08, 0x0A, 5, 0); });
}

// ---------------------------------------------------------------- checks

BOOL CEpson::ReadCheck(BOOL, std::string& strCheckInfo) {
  strCheckInfo = format("%-30s", "");
  return kTrue;
}

BOOL CEpson::ReadAndPrintCheck(double, const std::string&, std::string& strCheckInfo) {
  strCheckInfo = format("%-30s", "");
  return kTrue;
}

BOOL CEpson::PrintCheck(double, const std::string&) {
  Log("CEpson::PrintCheck", cp("início"));
  return kTrue;
}

BOOL CEpson::ReleaseCheck() {
  Log("CEpson::ReleaseCheck", cp("início"));
  return kTrue;
}

BOOL CEpson::SetCheckConfiguration(const std::string&, const std::string&, const std::string&, const std::string&,
                                   DateTime, DateTime) {
  Log("CEpson::SetCheckConfiguration", cp("início"));
  return kTrue;
}

BOOL CEpson::IsDocumentInserted() {
  Log("CEpson::IsDocumentInserted", cp("início"));
  return kTrue;
}

}  // namespace tarvion
