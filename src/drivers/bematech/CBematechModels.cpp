// What CBematechMP25, CBematechMP6000, CBematechMP7000 and CIBM4610 do their own
// way: mostly the check station, the MP-7000's operator prompts and items, and
// the MP-25's CBematech2000-style readings.
#include <cmath>

#include "core/text.h"
#include "drivers/bematech/CBematechMP25.h"
#include "drivers/bematech/CBematechMP7000.h"
#include "drivers/bematech/CIBM4610.h"
#include "drivers/bematech/bematech_ops.h"
#include "platform/prompt.h"

namespace tarvion {

using namespace bematech;
using fmt::logNumber;
using text::cp;
using text::format;

namespace {

constexpr uint8_t kSecondReceipt = 85;
constexpr uint8_t kSensor = '0', kPrintCheckMP7000 = 'L', kItemMP7000 = 'I';
constexpr size_t kPayeeWidthMP7000 = 80, kCityWidth = 27;
constexpr size_t kMostPayments = 22;

}  // namespace

// ---------------------------------------------------------------- CBematechMP25

BOOL CBematechMP25::ReadSerialNumber(std::string& strOut) {
  return ReadSerial20("CBematechMP25::ReadSerialNumber", strOut);
}
BOOL CBematechMP25::ReadFiscalInformation() {
  return FiscalInformation2000("CBematechMP25::ReadFiscalInformation");
}
BOOL CBematechMP25::CupomFiscalAberto(BOOL& bOut) {
  return ReceiptOpenFs("CBematechMP25::CupomFiscalAberto", bOut);
}
BOOL CBematechMP25::PrintSecondReceipt() {
  return SendSimple("CBematechMP25::PrintSecondReceipt", kSecondReceipt);
}
BOOL CBematechMP25::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                             const std::string& strNumeroCupom) {
  return OpenLinkedLong("CBematechMP25::AbreComprovanteVinculado", strPaymentType, nValorPagamento, strNumeroCupom);
}
BOOL CBematechMP25::LoadPaymentTypes(BOOL bLoadValues) {
  return LoadPayments2000("CBematechMP25::LoadPaymentTypes", bLoadValues);
}
BOOL CBematechMP25::LoadPaymentTypes() {
  return LoadPaymentTypes(kFalse);
}
BOOL CBematechMP25::LoadNonFiscalTitles() {
  return LoadTitles2000("CBematechMP25::LoadNonFiscalTitles");
}
double CBematechMP25::GetSaleTotal() {
  return SaleTotal2000("CBematechMP25::GetSaleTotal");
}
BOOL CBematechMP25::OpenNamedReport(const std::string& strReportName) {
  return OpenReport2000("CBematechMP25::OpenNamedReport", strReportName);
}
BOOL CBematechMP25::LoadReports() {
  return LoadReports2000("CBematechMP25::LoadReports");
}

BOOL CBematechMP25::RedefineFormasPagamento(const std::vector<std::string>& arNames) {
  const char* where = "CBematechMP25::RedefineFormasPagamento";
  return guarded(*this, where, kFalse, [&] {
    if (!LoadPaymentTypes(kFalse)) return finish(*this, where, kFalse);
    return finish(*this, where, AddMissingPayments(where, arNames, kMostPayments));
  });
}

// ---------------------------------------------------------------- CBematechMP7000

BOOL CBematechMP7000::WaitCheckEvent() {
  return WaitDocument("CBematechMP7000::WaitCheckEvent", fmt::documentReadyMP7000);
}

// Wire example, the slot empty (sensor 00), then released after a Cancel:
//   request 02 05 00 1C 3E 30 .. ..   reply 06 00 00 00 00 00
//   request 02 04 00 1C 3E .. ..      reply 06 00 00 00 00
BOOL CBematechMP7000::CheckInPlace(const char* where, bool& asked) {
  asked = false;
  ClearBuffers();
  AddCommandByte(cmd::ReadBlock);
  AddCommandByte(kSensor);
  if (!Submit()) return kFalse;
  if (!arAnswer.empty() && fmt::documentReadyMP7000(arAnswer[0])) return kTrue;
  asked = true;
  const platform::PromptAnswer answer =
      platform::ask(platform::PromptKind::OkCancel, cp("Atenção"), cp("Insira o cheque na impressora."));
  if (answer == platform::PromptAnswer::Ok) {
    Log(where, "Resposta: OK");
    return kTrue;
  }
  Log(where, "Resposta: Cancelar");
  // Whatever the operator left half-way in the slot goes back out.
  ReleaseCheck();
  strLastError = cp("Operação cancelada pelo usuário.");
  return kFalse;
}

BOOL CBematechMP7000::ReleaseCheck() {
  const char* where = "CBematechMP7000::ReleaseCheck";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    ClearBuffers();
    AddCommandByte(cmd::ReadBlock);
    return finish(*this, where, Submit());
  });
}

BOOL CBematechMP7000::ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) {
  const char* where = "CBematechMP7000::ReadCheck";
  return guarded(*this, where, kFalse, [&] {
    bool asked = false;
    if (!CheckInPlace(where, asked)) return finish(*this, where, kFalse);
    // After the prompt the check is on its way in: read once it is in place.
    if (asked && !WaitCheckEvent()) return finish(*this, where, kFalse);
    return ReadCmc7(where, bKeepCheck, strCheckInfo, true);
  });
}

// Wire example, 123.45 on bank 001 (payee in 80 columns):
//   request 02 .. .. 1C 3E 4C "00000000012345" payee(80) city(27) "04122026" "001" 20 00 CSL CSH
//   reply   06 00 00 00 00
BOOL CBematechMP7000::PrintCheck(double nValue, const std::string& strBankNumber) {
  const char* where = "CBematechMP7000::PrintCheck";
  return guarded(*this, where, kFalse, [&] {
    if (Logging()) Log(where, format("nValue=%s, strBankNumber=%s", logNumber(nValue).c_str(), strBankNumber.c_str()));
    // Checked before the slot is even looked at: a refused amount sends nothing.
    const fields::Result amount = fields::format(nValue, fmt::field::kCheckValue);
    if (!amount.ok()) return refuse(*this, where, amount.error);
    bool asked = false;
    if (!CheckInPlace(where, asked)) return finish(*this, where, kFalse);
    ClearBuffers();
    AddCommandByte(cmd::ReadBlock);
    AddCommandByte(kPrintCheckMP7000);
    AddParameterString(amount.text);
    AddParameterString(fmt::fitField(strCheckPayee, kPayeeWidthMP7000));
    AddParameterString(fmt::fitField(strCheckCity, kCityWidth));
    AddParameterString(fmt::checkDate(dtCheck));
    AddParameterString(fmt::bankField(strBankNumber));
    AddParameterByte(' ');
    AddParameterByte(0);
    if (!Submit()) return finish(*this, where, kFalse);
    if (!WaitCheckEvent()) return finish(*this, where, kFalse);
    platform::ask(platform::PromptKind::Ok, cp("Atenção"),
                  cp("Aguarde o final da impressão e retire o cheque da impressora."));
    return finish(*this, where, kTrue);
  });
}

BOOL CBematechMP7000::RegisterWithTaxMP7000(const char* where, bool service, const std::string& code,
                                            const std::string& description, const std::string& unit, double rate,
                                            double quantity, double unitPrice, double discount) {
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("CodigoProduto=%s, DescricaoProduto=%s, Unidade=%s, Aliquota=%s, Quantidade=%s, "
                        "ValorUnitario=%s, ValorDesconto=%s",
                        code.c_str(), description.c_str(), unit.c_str(), logNumber(rate).c_str(),
                        logNumber(quantity).c_str(), logNumber(unitPrice).c_str(), logNumber(discount).c_str()));
    std::string label;
    if (!FindTaxLabel(rate, service, label)) {
      strLastError = cp(service ? "Aliquota de ISS de " : "Aliquota de ICMS de ") + fmt::fixedField(rate, 5, 2) +
                     cp("% não cadastrada no ECF.");
      Log(where, strLastError);
      return finish(*this, where, kFalse);
    }
    return finish(*this, where, RegisterItem(code, description, unit, label, quantity, unitPrice, discount));
  });
}

BOOL CBematechMP7000::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                         const std::string& strUnidade, double nAliquota, double nQuantidade,
                                         double nValorUnitario, double nValorDesconto) {
  return RegisterWithTaxMP7000("CBematechMP7000::RegistraItemFiscal", false, strCodigoProduto, strDescricaoProduto,
                               strUnidade, nAliquota, nQuantidade, nValorUnitario, nValorDesconto);
}

BOOL CBematechMP7000::RegisterService(const std::string& strProductCode, const std::string& strDescription,
                                      const std::string& strUnit, double nTaxPercent, double nQuantity,
                                      double nUnitValue, double nDiscountValue) {
  return RegisterWithTaxMP7000("CBematechMP7000::RegisterService", true, strProductCode, strDescription, strUnit,
                               nTaxPercent, nQuantity, nUnitValue, nDiscountValue);
}

// Wire example, 2 units of "ARROZ" at 3.50 in position 01:
//   request 02 .. .. 1C 3E 49 "789" + 11 blanks "01" "PC" "0002000" "00003500" "00000000" "00000000"
//           "ARROZ" 00 CSL CSH
//   reply   06 00 00 00 00
BOOL CBematechMP7000::RegisterItem(const std::string& strCode, const std::string& strDescription,
                                   const std::string& strUnit, const std::string& strLabel, double nQuantity,
                                   double nUnitValue, double nDiscount) {
  const char* where = "CBematechMP7000::RegisterItem";
  return guarded(*this, where, kFalse, [&] {
    const fmt::ItemFields f = fmt::itemFields(strLabel, nQuantity, nUnitValue, nDiscount, true);
    if (!f.error.empty()) {
      strLastError = f.error;
      Log(where, strLastError);
      return kFalse;
    }
    const std::string description = fmt::itemDescription(oneLine(strDescription));
    // Item text is folded to plain letters as on every model (not the code page 850
    // of the printed texts).
    const std::string unit =
        strUnit.empty() ? std::string("PC") : CECFBase::FormatPrinterText(oneLine(strUnit.substr(0, 2)));
    ClearBuffers();
    AddCommandByte(cmd::ReadBlock);
    AddCommandByte(kItemMP7000);
    AddParameterString(fmt::fitField(oneLine(strCode), 14));
    AddParameterString(f.tax);
    AddParameterString(fmt::fitField(unit, 2));
    AddParameterString(f.quantity);
    AddParameterString(f.unitPrice);
    AddParameterString(f.discount);
    AddParameterString(f.increase);
    AddParameterString(CECFBase::FormatPrinterText(description));
    AddParameterByte(0);
    const BOOL result = Submit();
    if (result) {
      strLastItemCode = strCode;
      strLastItemDescription = description;
      strLastItemUnit = strUnit;
      strLastItemLabel = fmt::lastItemLabel(strLabel);
    }
    return result;
  });
}

// ---------------------------------------------------------------- CIBM4610

BOOL CIBM4610::WaitCheckEvent() {
  return WaitDocument("CIBM4610::WaitCheckEvent", fmt::documentReady);
}

}  // namespace tarvion
