// CBematech2000: the sale, the printed text, the tables and the readings of the
// FS models, and the PAF-ECF identification.
#include "drivers/bematech/CBematech2000.h"

#include <cmath>
#include <cstdlib>

#include "core/text.h"
#include "drivers/bematech/bematech_ops.h"
#include "platform/keystore.h"

namespace tarvion {

using namespace bematech;
using fmt::logNumber;
using text::cp;
using text::format;

namespace {

constexpr uint8_t kSecondReceipt = 85, kDiscountAfterItem = 93, kCancelItemDiscount = 114, kAddReport = 82;
// Sub-codes of 35 read by these models.
constexpr uint8_t kFirmware3 = 41, kPaymentReceipts = 52, kManagementReports = 54, kFiscalReceipts = 55,
                  kEquipment = 60, kLastDocument = 64, kDiscountIss = 76, kTitles = 50;
// Sub-codes of 62.
constexpr uint8_t kIdentification = 0x40;
constexpr uint8_t kCut = 'K';
// The receipt number while the printer is busy: tries and pause.
constexpr int kNumberTries = 15;
constexpr uint32_t kNumberPauseMs = 2000;
// The last document's date: tries and pause.
constexpr int kDateTries = 10;
constexpr uint32_t kDatePauseMs = 1000;
// The payment names RedefineFormasPagamento looks at.
constexpr size_t kMostPayments = 22;
constexpr size_t kPaymentWidth = 16;
constexpr size_t kSerialWidth = 20;
const char* const kCash = "Dinheiro";

}  // namespace

// ---------------------------------------------------------------- printed text

std::string CBematech2000::FormatPrinterText(const std::string& text) {
  Log("CBematech2000::FormatPrinterText", text);
  std::string out = fmt::fsCharset(text);
  Log("CBematech2000::FormatPrinterText", out);
  return out;
}

std::string CBematech2000::PrinterPaper(const std::string& text) {
  return fmt::fsLayout(FormatPrinterText(text), Columns);
}

// Long texts go in pieces, one command each, and stop at the first refusal.
BOOL CBematech2000::SendReportText(uint8_t command, const std::string& text) {
  // The host's control bytes go before the layout adds the printer's own escapes.
  for (const std::string& block : fmt::textBlocks(fmt::kCodePage850 + PrinterPaper(lines(text)))) {
    ClearBuffers();
    AddCommandByte(command);
    AddParameterString(block);
    if (!Submit()) return kFalse;
  }
  return kTrue;
}

// Wire example, closing with "Ação" on 48 columns:
//   request 02 .. .. 1C 22 1B 74 02 41 87 C6 6F 0A CSL CSH      reply 06 00 00 00 00
BOOL CBematech2000::FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) {
  const char* where = "CBematech2000::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("strPrintMessage=%s, nTotalValue=%s", strPrintMessage.c_str(), logNumber(nTotalValue).c_str()));
    const std::string message =
        fmt::closingText(lines(strPrintMessage), oneLine(strPAFIdent1), oneLine(strPAFIdent2), Columns);
    Log(where, format("Nova mensagem=%s", message.c_str()));
    ClearBuffers();
    AddCommandByte(cmd::CloseReceipt);
    AddParameterString(fmt::kCodePage850 + fmt::cutText(PrinterPaper(message), fmt::kClosingLimit));
    return finish(*this, where, Submit());
  });
}

// The printer prints the identification under the report itself (62 "@").
BOOL CBematech2000::FechaRelatorioGerencial() {
  return SendSimple("CBematech2000::FechaRelatorioGerencial", cmd::CloseReport);
}

// ---------------------------------------------------------------- the sale

// Wire example, a receipt for a customer with a name and no address:
//   request 02 .. .. 1C 00 "123.456.789-09" + 15 blanks "Maria" + 25 blanks CSL CSH
//   reply   06 00 00 00 00
BOOL CBematech2000::AbreCupomFiscal() {
  const char* where = "CBematech2000::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    // The customer given for this receipt outlives the sale reset, and stays
    // given when the printer refuses the opening.
    const std::string code = strCustomerCode, name = strCustomerName, address = strCustomerAddress;
    ResetSale();
    ClearBuffers();
    AddCommandByte(cmd::OpenReceipt);
    // Each field only when a later one is given too: the printer counts them.
    if (!code.empty() || !name.empty() || !address.empty())
      AddParameterString(fmt::fitField(CECFBase::FormatPrinterText(oneLine(code)), 29));
    if (!name.empty() || !address.empty())
      AddParameterString(fmt::fitField(CECFBase::FormatPrinterText(oneLine(name)), 30));
    if (!address.empty()) AddParameterString(fmt::fitField(CECFBase::FormatPrinterText(oneLine(address)), 80));
    const BOOL result = Submit();
    if (result) {
      strReceiptCustomerId = code.substr(0, 29);
      strReceiptCustomerName = name.substr(0, 30);
      strReceiptCustomerAddress = address.substr(0, 80);
    } else {
      strCustomerCode = code;
      strCustomerName = name;
      strCustomerAddress = address;
    }
    return finish(*this, where, result);
  });
}

// A busy printer answers 0 or nothing for a while after a document.
BOOL CBematech2000::ReadReceiptNumber(long& number, const char* where) {
  return Retry(kNumberTries, kNumberPauseMs,
               [&] {
                 if (!ReadInfo(cmd::Read, sub::OperationCounter, 3)) return false;
                 number = static_cast<long>(fmt::bcdDecimal(arAnswer.data(), 3));
                 if (number == 0) Log(where, cp("Número do cupom zerado; nova tentativa"));
                 return number != 0;
               })
             ? kTrue
             : kFalse;
}

BOOL CBematech2000::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CBematech2000::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    long number = 0;
    if (!ReadReceiptNumber(number, where)) {
      Log(where, cp("Não retornou número do cupom"));
      return finish(*this, where, kFalse);
    }
    strNumeroCupom = format("%06ld", number);
    Log(where, format("NumeroCupom=%s", strNumeroCupom.c_str()));
    return finish(*this, where, kTrue);
  });
}

long CBematech2000::GetOperationCounter() {
  const char* where = "CBematech2000::GetOperationCounter";
  return guarded(*this, where, 0L, [&] {
    long number = 0;
    if (!ReadReceiptNumber(number, where))
      number = 0;
    else
      strReceiptNumber = format("%06ld", number);
    Log(where, format("Retorno=%ld", number));
    return number;
  });
}

// Wire example, an increase of 1.50 on item 3 (a negative discount):
//   request 02 .. .. 1C 5D "A" "003" "00000150" CSL CSH      reply 06 00 00 00 00
BOOL CBematech2000::RegistraDescontoItemApos(long intItem, double dblValorDesconto) {
  const char* where = "CBematech2000::RegistraDescontoItemApos";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where,
          format("intItem=%d, dblValoDescontor=%s", static_cast<int>(intItem), logNumber(dblValorDesconto).c_str()));
    fields::Checked num;
    const std::string item = num(intItem, fmt::field::kItemNumberAfter);
    const std::string amount = num(std::fabs(dblValorDesconto), dblValorDesconto > 0 ? fmt::field::kDiscountAfterItem
                                                                                     : fmt::field::kIncreaseAfterItem);
    if (!num.ok()) return refuse(*this, where, num.error());
    ClearBuffers();
    AddCommandByte(kDiscountAfterItem);
    AddParameterString(dblValorDesconto > 0 ? "D" : "A");
    AddParameterString(item);
    AddParameterString(amount);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech2000::CancelaDescontoItem(long intItem, BOOL bAcrescimo) {
  const char* where = "CBematech2000::CancelaDescontoItem";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("ItemNumber=%d, bAcrescimo=%s", static_cast<int>(intItem), boolText(bAcrescimo)));
    const fields::Result item = fields::format(intItem, fmt::field::kItemNumberAfter);
    if (!item.ok()) return refuse(*this, where, item.error);
    ClearBuffers();
    AddCommandByte(kCancelItemDiscount);
    AddParameterString(bAcrescimo ? "A" : "D");
    AddParameterString(item.text);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech2000::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                             const std::string& strNumeroCupom) {
  return OpenLinkedLong("CBematech2000::AbreComprovanteVinculado", strPaymentType, nValorPagamento, strNumeroCupom);
}

BOOL CBematech2000::OpenNamedReport(const std::string& strReportName) {
  return OpenReport2000("CBematech2000::OpenNamedReport", strReportName);
}

BOOL CBematech2000::PrintSecondReceipt() {
  return SendSimple("CBematech2000::PrintSecondReceipt", kSecondReceipt);
}

BOOL CBematech2000::AuthenticateDocument(const std::string& strAdditionalInfo) {
  const char* where = "CBematech2000::AuthenticateDocument";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("strAdditionalInfo=%s", strAdditionalInfo.c_str()));
    ClearBuffers();
    AddCommandByte(cmd::Authenticate);
    return finish(*this, where, Submit());
  });
}

// Wire example, a withdrawal (title 1) of 5.00:
//   request 02 .. .. 1C 19 "29" "00000000000500" CSL CSH      reply 06 00 00 00 00
BOOL CBematech2000::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CBematech2000::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    if (!StartNonFiscalReceipt(where, nValue, strTitle, strPaymentType)) return finish(*this, where, kFalse);
    int t = NonFiscalTitlesIndex(strTitle);
    if (t < 1) {
      // Money out of the drawer goes to the withdrawal; money in to the general
      // totaliser, or the supply when the printer has no such totaliser.
      const std::string wanted = text::upper(text::trim(strTitle));
      const bool out = wanted == "VALE" || wanted == "DESPESAS" || wanted == "SANGRIA";
      for (const char* substitute :
           out ? std::vector<const char*>{"SANGRIA"} : std::vector<const char*>{"DIVERSOS", "SUPRIMENTO"}) {
        t = NonFiscalTitlesIndex(substitute);
        if (t >= 1) {
          Log(where, format("Totalizador substituto=%s", substitute));
          break;
        }
      }
      if (t < 1) {
        strLastError = cp("Não identificou o totalizador parcial não sujeito ao ICMS.");
        return finish(*this, where, kFalse);
      }
    }
    const std::string code = fmt::totaliserCode(t, "29", "30");
    const fields::Result amount = fields::format(nValue, fmt::field::kNonFiscalValue);
    if (!amount.ok()) return refuse(*this, where, amount.error);
    ClearBuffers();
    AddCommandByte(cmd::NonFiscal);
    AddParameterString(code);
    AddParameterString(amount.text);
    if (t >= 5) {
      const int index = PaymentTypeIndex(strPaymentType);
      AddParameterString(fmt::fitField(index < 0 ? std::string(kCash) : oneLine(PaymentType(index)), kPaymentWidth));
    }
    return finish(*this, where, Submit());
  });
}

// Wire example, the MP-4000 cuts the paper whole (5), the others partly (0):
//   request 02 07 00 1C 3E 4B 05 01 ..      reply 06 00 00 00 00
BOOL CBematech2000::CutPaper() {
  const char* where = "CBematech2000::CutPaper";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    const bool full = text::upper(GetEquipamentModel()) == "MP-4000 TH FI";
    ClearBuffers();
    AddCommandByte(cmd::ReadBlock);
    AddParameterByte(kCut);
    AddParameterByte(full ? 5 : 0);
    AddParameterByte(1);
    return finish(*this, where, Submit());
  });
}

// ---------------------------------------------------------------- tables

BOOL CBematech2000::LoadReports() {
  return LoadReports2000("CBematech2000::LoadReports");
}
BOOL CBematech2000::LoadPaymentTypes(BOOL bLoadValues) {
  return LoadPayments2000("CBematech2000::LoadPaymentTypes", bLoadValues);
}
BOOL CBematech2000::LoadPaymentTypes() {
  return LoadPaymentTypes(kFalse);
}
BOOL CBematech2000::LoadNonFiscalTitles() {
  return LoadTitles2000("CBematech2000::LoadNonFiscalTitles");
}

// Programs the payment names the printer lacks (one command 71 each), then the
// management reports of the default list that it lacks (one command 82 each).
BOOL CBematech2000::RedefineFormasPagamento(const std::vector<std::string>& arNames) {
  const char* where = "CBematech2000::RedefineFormasPagamento";
  return guarded(*this, where, kFalse, [&] {
    // What the printer lacks is what it says it lacks now.
    if (!LoadPaymentTypes(kFalse)) return finish(*this, where, kFalse);
    if (!AddMissingPayments(where, arNames, kMostPayments)) return finish(*this, where, kFalse);
    if (!LoadReports()) return finish(*this, where, kFalse);
    int next = static_cast<int>(arReports.size()) + 1;
    for (const std::string& report : arDefaultTitles) {
      bool held = false;
      for (const std::string& r : arReports) held = held || text::upper(r) == text::upper(report);
      if (held) continue;
      Log(where, format("Report(%d)=%s", next, report.c_str()));
      const fields::Result number = fields::format(next, fmt::field::kReportNumber);
      if (!number.ok()) return refuse(*this, where, number.error);
      ClearBuffers();
      AddCommandByte(kAddReport);
      AddParameterString(number.text);
      AddParameterString(fmt::fitField(report, 17));
      if (!Submit()) return finish(*this, where, kFalse);
      arReports.push_back(report);
      ++next;
    }
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- readings

BOOL CBematech2000::CheckForSuccess() {
  const BOOL ok = CBematech::CheckForSuccess();
  AppendSt3(St3Table::MP2000);
  if (!ok) Log("CBematech2000::CheckForSuccess", strLastError);
  return ok;
}

BOOL CBematech2000::CupomFiscalAberto(BOOL& bOut) {
  return ReceiptOpenFs("CBematech2000::CupomFiscalAberto", bOut);
}

BOOL CBematech2000::ReadSerialNumber(std::string& strOut) {
  return ReadSerial20("CBematech2000::ReadSerialNumber", strOut);
}

BOOL CBematech2000::ReadFiscalInformation() {
  return FiscalInformation2000("CBematech2000::ReadFiscalInformation");
}

double CBematech2000::GetSaleTotal() {
  return SaleTotal2000("CBematech2000::GetSaleTotal");
}

std::string CBematech2000::GetFirmwareVersion() {
  const char* where = "CBematech2000::GetFirmwareVersion";
  return guarded(*this, where, std::string(), [&] {
    if (!ReadInfo(cmd::Read, kFirmware3, 3)) {
      Log(where, "Retorno=FALSE");
      return std::string();
    }
    const std::string version = bcdDigits(arAnswer.data(), 3);
    Log(where, format("Retorno=%s", version.c_str()));
    return version;
  });
}

long CBematech2000::GetFiscalReceiptCounter() {
  const char* where = "CBematech2000::GetFiscalReceiptCounter";
  return guarded(*this, where, 0L, [&] {
    auto v = ReadBcd(kFiscalReceipts, 3, where);
    if (!v) return 0L;
    Log(where, format("Retorno=%ld", static_cast<long>(*v)));
    return static_cast<long>(*v);
  });
}

long CBematech2000::GetPaymentReceiptCounter() {
  const char* where = "CBematech2000::GetPaymentReceiptCounter";
  return guarded(*this, where, 0L, [&] {
    auto v = ReadBcd(kPaymentReceipts, 2, where);
    if (!v) return 0L;
    Log(where, format("Retorno=%ld", static_cast<long>(*v)));
    return static_cast<long>(*v);
  });
}

long CBematech2000::GetManagementReportCounter() {
  const char* where = "CBematech2000::GetManagementReportCounter";
  return guarded(*this, where, 0L, [&] {
    auto v = ReadBcd(kManagementReports, 3, where);
    if (!v) return 0L;
    Log(where, format("Retorno=%ld", static_cast<long>(*v)));
    return static_cast<long>(*v);
  });
}

// The day's total of the non-fiscal totalisers (35/50 records).
double CBematech2000::GetNonFiscalTotal() {
  const char* where = "CBematech2000::GetNonFiscalTotal";
  return guarded(*this, where, 0.0, [&] {
    if (!ReadInfo(cmd::Read, kTitles, 0)) {
      Log(where, "Retorno=FALSE");
      return 0.0;
    }
    using namespace fmt::title2000;
    long double total = 0.0L;
    for (size_t i = 0; i < kMax && kSize * (i + 1) <= DataSize(); ++i)
      total += fmt::bcdDecimal(arAnswer.data() + kSize * i + kTotal, kTotalSize);
    const double result = static_cast<double>(total / 100.0L);
    Log(where, "Retorno=" + logNumber(result));
    return result;
  });
}

// Wire example, the last document at 04/12/2026 17:05:09:
//   request 02 05 00 1C 23 40 .. ..   reply 06 04 12 26 17 05 09 00 00 00 00
DateTime CBematech2000::GetLastDocumentDateTime() {
  const char* where = "CBematech2000::GetLastDocumentDateTime";
  return guarded(*this, where, DateTime::invalid(), [&] {
    DateTime dt = DateTime::invalid();
    Retry(kDateTries, kDatePauseMs, [&] {
      if (!ReadInfo(cmd::Read, kLastDocument, 6)) return false;
      dt = fmt::bcdDate(arAnswer.data(), 6);
      return true;
    });
    DateParts p;
    if (!dt.parts(p) || p.year < 2000) {
      // No document date to be had: the printer's clock is the next best.
      Log(where, cp("Data do último documento inválida; usa o relógio do ECF"));
      dt = CECFBase::GetLastDocumentDateTime();
      dt.parts(p);
    }
    Log(where, format("Retorno=%02d/%02d/%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour, p.minute, p.second));
    return dt;
  });
}

// Wire example, the ISSQN discounts of the day:
//   request 02 05 00 1C 23 4C .. ..   reply 06 00 00 00 00 00 12 34 00 00 00 00
BOOL CBematech2000::DiscountISSQN(std::string& strOut) {
  const char* where = "CBematech2000::DiscountISSQN";
  return guarded(*this, where, kFalse, [&] {
    const BOOL result = ReadInfo(cmd::Read, kDiscountIss, 0);
    if (result) strOut = bcdDigits(arAnswer.data(), DataSize());
    Log(where, format("*strISSQN=%s, Retorno=%s", strOut.c_str(), boolText(result)));
    return result;
  });
}

BOOL CBematech2000::ReadEquipment(const char* where, std::string& mark, std::string& model, std::string& type) {
  const BOOL result = ReadInfo(cmd::Read, kEquipment, 0);
  if (result) {
    using namespace fmt::equip;
    mark = fieldText(arAnswer, kMark, kMarkSize, DataSize());
    model = fieldText(arAnswer, kModel, kModelSize, DataSize());
    type = fieldText(arAnswer, kType, kTypeSize, DataSize());
  }
  Log(where,
      format("Marca=%s, Modelo=%s, Tipo=%s, Retorno=%s", mark.c_str(), model.c_str(), type.c_str(), boolText(result)));
  return result;
}

std::string CBematech2000::GetEquipamentMark() {
  const char* where = "CBematech2000::GetEquipamentMark";
  return guarded(*this, where, std::string(), [&] {
    std::string mark, model, type;
    ReadEquipment(where, mark, model, type);
    return mark;
  });
}

std::string CBematech2000::GetEquipamentModel() {
  const char* where = "CBematech2000::GetEquipamentModel";
  return guarded(*this, where, std::string(), [&] {
    std::string mark, model, type;
    ReadEquipment(where, mark, model, type);
    return model;
  });
}

std::string CBematech2000::GetEquipamentType() {
  const char* where = "CBematech2000::GetEquipamentType";
  return guarded(*this, where, std::string(), [&] {
    std::string mark, model, type;
    ReadEquipment(where, mark, model, type);
    return type;
  });
}

// The printer's own program reads its memory tape; the driver does not.
BOOL CBematech2000::ReadOperationsByDate(DateTime, DateTime, const std::string&) {
  strLastError = "Utilize o aplicativo WinMFD fornecido pela Bematech.";
  return finish(*this, "CBematech2000::ReadOperationsByDate", kFalse);
}

BOOL CBematech2000::ReadOperationsByCounter(long, long, const std::string&) {
  strLastError = "Utilize o aplicativo WinMFD fornecido pela Bematech.";
  return finish(*this, "CBematech2000::ReadOperationsByCounter", kFalse);
}

// ---------------------------------------------------------------- PAF-ECF identification

BOOL CBematech2000::ObtemRegPAFECFIdentification(std::string& strSerial, std::string& strIdentification) {
  const char* where = "CBematech2000::ObtemRegPAFECFIdentification";
  std::string value;
  const bool found = platform::readKeyValue(kPafKey, kPafValue, value);
  strSerial = text::trimRight(value.substr(0, std::min(value.size(), kSerialWidth)));
  strIdentification = value.size() > kSerialWidth ? value.substr(kSerialWidth) : std::string();
  Log(where, format("%s(nf=%s)(id=%s)", value.c_str(), strSerial.c_str(), strIdentification.c_str()));
  return found ? kTrue : kFalse;
}

BOOL CBematech2000::AtribuiRegPAFECFIdentification(const std::string& strSerial, const std::string& strIdentification) {
  const char* where = "CBematech2000::AtribuiRegPAFECFIdentification";
  const std::string value = fmt::fitField(strSerial, kSerialWidth) + strIdentification;
  const bool stored = platform::writeKeyValue(kPafKey, kPafValue, value);
  Log(where, format("%s, Retorno=%s", value.c_str(), boolText(stored)));
  return stored ? kTrue : kFalse;
}

// Wire example, the identification (62 "@", 84 characters):
//   request 02 .. .. 1C 3E 40 "a1b2...(48)" "PDV 1.0 ...(36)" CSL CSH      reply 06 00 00 00 00
BOOL CBematech2000::SendIdentification(const char* where, const std::string& identification) {
  Log(where, format("strIdentificacao=%s", identification.c_str()));
  ClearBuffers();
  AddCommandByte(cmd::ReadBlock);
  AddCommandByte(kIdentification);
  AddParameterString(identification);
  return Submit();
}

BOOL CBematech2000::SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) {
  const char* where = "CBematech2000::SetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    const std::string line1 = text::trim(oneLine(strLine1)), line2 = text::trim(oneLine(strLine2));
    Log(where, format("strLine1=%s, strLine2=%s", line1.c_str(), line2.c_str()));
    std::string serial;
    if (!ReadSerialNumber(serial)) return finish(*this, where, kFalse);
    const std::string identification = fmt::pafIdentification(line1, line2);
    std::string storedSerial, storedIdentification;
    ObtemRegPAFECFIdentification(storedSerial, storedIdentification);
    const bool same = storedSerial == text::trimRight(serial) && storedIdentification == identification;
    // Sending the identification counts as movement of the day, which a
    // scheduled change of daylight-saving time cannot have: skip it when the
    // printer already has these lines.
    bool send = true;
    if (AlterarHVAgendado) {
      if (same) {
        Log(where, cp("Não alterar identificação - alteração no horário de verão agendada."));
        send = false;
      } else {
        Log(where, cp("Mesmo com alteração no horário de verão agendada, precisa ajustar a identificação."));
      }
    }
    if (send) {
      if (!SendIdentification(where, identification)) return finish(*this, where, kFalse);
      AtribuiRegPAFECFIdentification(serial, identification);
    }
    strIdentificacao1 = line1;
    strIdentificacao2 = line2;
    bIdentificacaoEnviada = kTrue;
    // The lines printed under the receipt (FechaCupomFiscal) and returned to the host.
    strPAFLine1 = strPAFIdent1 = line1;
    strPAFLine2 = strPAFIdent2 = line2;
    bPAFIdentification = kTrue;
    return finish(*this, where, kTrue);
  });
}

BOOL CBematech2000::ResetPAFECFIdentification() {
  const char* where = "CBematech2000::ResetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    auto forget = [this] {
      strIdentificacao1.clear();
      strIdentificacao2.clear();
      bIdentificacaoEnviada = kFalse;
      strPAFIdent1.clear();
      strPAFIdent2.clear();
      bPAFIdentification = kFalse;
    };
    // Without an open port there is no printer to blank (CloseComm calls this
    // on every close).
    if (!bPortOpen) {
      forget();
      return finish(*this, where, kTrue);
    }
    std::string serial;
    if (!ReadSerialNumber(serial)) return finish(*this, where, kFalse);
    const std::string identification = fmt::pafIdentification("", "");
    if (!SendIdentification(where, identification)) return finish(*this, where, kFalse);
    AtribuiRegPAFECFIdentification(serial, identification);
    forget();
    return finish(*this, where, kTrue);
  });
}

}  // namespace tarvion
