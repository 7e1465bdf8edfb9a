// CBematech: the sale (fiscal receipt, linked receipt, non-fiscal receipts,
// management reports) and the printer's tables it depends on.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/text.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/bematech_ops.h"

namespace tarvion {

using namespace bematech;
using fmt::logNumber;
using fmt::padRight;
using text::cp;
using text::format;

namespace {

// Payment names travel in 16 columns.
constexpr size_t kPaymentWidth = 16;
const char* const kCash = "Dinheiro";

// The receipt number the host gives as text, read as atoi reads it (leading
// blanks, a sign, the digits up to the first other character; 0 without any)
// but without overflowing: a huge number stays huge and its field refuses it.
long long receiptNumber(const std::string& s) {
  return std::strtoll(s.c_str(), nullptr, 10);
}

}  // namespace

// ---------------------------------------------------------------- opening

// Wire example, opening a receipt without customer data:
//   request 02 04 00 1B 00 1B 00      reply 06 00 00
BOOL CBematech::AbreCupomFiscal() {
  const char* where = "CBematech::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    // The customer data were given for this receipt: keep them across the sale reset.
    const std::string code = strCustomerCode;
    ResetSale();
    ClearBuffers();
    AddCommandByte(cmd::OpenReceipt);
    if (!code.empty()) AddParameterString(FormatPrinterText(oneLine(code.substr(0, 29))));
    const BOOL result = Submit();
    if (result) {
      strReceiptCustomerId = code.substr(0, 29);
      strCustomerCode.clear();
      strCustomerName.clear();
      strCustomerAddress.clear();
    }
    return finish(*this, where, result);
  });
}

BOOL CBematech::SetCustomerInfo(const std::string& strCode, const std::string& strName, const std::string& strAddress) {
  const char* where = "CBematech::SetCustomerInfo";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("strCustomerCode=%s, strCustomerName=%s, strCustomerAddress=%s", strCode.c_str(), strName.c_str(),
                      strAddress.c_str()));
    strCustomerCode = strCode;
    strCustomerName = strName;
    strCustomerAddress = strAddress;
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- items

bool CBematech::FindTaxLabel(double rate, bool service, std::string& label) {
  if (rate > 0) {
    const std::string key = fmt::taxKey(rate, service);
    for (size_t i = 1; i < arTaxes.size(); ++i) {
      if (arTaxes[i] == key) {
        label = fmt::taxLabel(static_cast<int>(i), rate, service);
        return true;
      }
    }
    return false;
  }
  label = fmt::exemptLabel(rate, service);
  return !label.empty();
}

BOOL CBematech::TaxLabelFor(double rate, bool service, std::string& label, const char* where) {
  if (FindTaxLabel(rate, service, label)) return kTrue;
  strLastError = fmt::taxMissingMessage(rate, service);
  Log(where, strLastError);
  return kFalse;
}

BOOL CBematech::RegisterWithTax(const char* where, bool service, const std::string& code,
                                const std::string& description, const std::string& unit, double rate, double quantity,
                                double unitPrice, double discount) {
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("CodigoProduto=%s, DescricaoProduto=%s, Unidade=%s, Aliquota=%s, Quantidade=%s, "
                        "ValorUnitario=%s, ValorDesconto=%s",
                        code.c_str(), description.c_str(), unit.c_str(), logNumber(rate).c_str(),
                        logNumber(quantity).c_str(), logNumber(unitPrice).c_str(), logNumber(discount).c_str()));
    std::string label;
    if (!TaxLabelFor(rate, service, label, where)) return finish(*this, where, kFalse);
    return finish(*this, where, RegisterItem(code, description, unit, label, quantity, unitPrice, discount));
  });
}

BOOL CBematech::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                   const std::string& strUnidade, double nAliquota, double nQuantidade,
                                   double nValorUnitario, double nValorDesconto) {
  return RegisterWithTax("CBematech::RegistraItemFiscal", false, strCodigoProduto, strDescricaoProduto, strUnidade,
                         nAliquota, nQuantidade, nValorUnitario, nValorDesconto);
}

BOOL CBematech::RegisterService(const std::string& strProductCode, const std::string& strDescription,
                                const std::string& strUnit, double nTaxPercent, double nQuantity, double nUnitValue,
                                double nDiscountValue) {
  return RegisterWithTax("CBematech::RegisterService", true, strProductCode, strDescription, strUnit, nTaxPercent,
                         nQuantity, nUnitValue, nDiscountValue);
}

// Wire example, 1.5 units at 2.99 in tax position 01:
//   request 02 .. .. 1B 3F "01" "000002990" "0001500" "0000000000" "0000000000" "01"
//           "00000000000000000000" "PC" "789" 00 "ARROZ" 00 CSL CSH
//   reply   06 00 00
BOOL CBematech::RegisterItem(const std::string& strCode, const std::string& strDescription, const std::string& strUnit,
                             const std::string& strLabel, double nQuantity, double nUnitValue, double nDiscount) {
  const char* where = "CBematech::RegisterItem";
  return guarded(*this, where, kFalse, [&] {
    const fmt::ItemFields f = fmt::itemFields(strLabel, nQuantity, nUnitValue, nDiscount);
    if (!f.error.empty()) {
      strLastError = f.error;
      Log(where, strLastError);
      return kFalse;
    }
    const std::string description = fmt::itemDescription(oneLine(strDescription));
    ClearBuffers();
    AddCommandByte(cmd::RegisterItem);
    AddParameterString(f.tax);
    AddParameterString(f.unitPrice);
    AddParameterString(f.quantity);
    AddParameterString(f.discount);
    AddParameterString(f.increase);
    AddParameterString("01");
    AddParameterString(std::string(20, '0'));
    // The unit has two columns: a one-letter unit is padded, or the code would
    // start one column early.
    AddParameterString(strUnit.empty() ? std::string("PC")
                                       : fmt::fitField(FormatPrinterText(oneLine(strUnit.substr(0, 2))), 2));
    AddParameterString(fmt::itemCode(oneLine(strCode)));
    AddParameterByte(0);
    AddParameterString(FormatPrinterText(description));
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

// Wire example, cancelling item 5:
//   request 02 08 00 1B 1F "0005" FF 00      reply 06 00 00
BOOL CBematech::CancelaItemFiscal(long intItem, const std::string& strDescricao, double nAliquota, double nValor,
                                  double nQuantidade, double nDesconto) {
  const char* where = "CBematech::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("ItemNumber=%d, strDescricao=%s, nAliquota=%s, nValor=%s, nQuantidade=%s, nDesconto=%s",
                        static_cast<int>(intItem), strDescricao.c_str(), logNumber(nAliquota).c_str(),
                        logNumber(nValor).c_str(), logNumber(nQuantidade).c_str(), logNumber(nDesconto).c_str()));
    const fields::Result item = fields::format(intItem, fmt::field::kItemNumber);
    if (!item.ok()) return refuse(*this, where, item.error);
    ClearBuffers();
    AddCommandByte(cmd::CancelItem);
    AddParameterString(item.text);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::CancelaCupomFiscal() {
  const char* where = "CBematech::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    ClearBuffers();
    AddCommandByte(cmd::CancelReceipt);
    return finish(*this, where, Submit());
  });
}

// Wire example, the receipt number:
//   request 02 04 00 1B 1E 39 00      reply 06 00 12 34 00 00 (ACK, 001234, ST1, ST2)
BOOL CBematech::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CBematech::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::ReceiptNumber);
    BOOL result = Submit();
    if (result && arAnswer.size() >= 3) {
      strNumeroCupom = format("%02x%02x%02x", arAnswer[0], arAnswer[1], arAnswer[2]);
      Log(where, format("NumeroCupom=%s", strNumeroCupom.c_str()));
    } else if (result) {
      Log(where, cp("Não retornou número do cupom"));
      result = kFalse;
    }
    return finish(*this, where, result);
  });
}

// ---------------------------------------------------------------- totals and payments

// Wire example, an increase of 10.009 (cut to 1000 cents; a discount rounds to 1001):
//   request 02 13 00 1B 20 "a" "00000000001000" 3D 03      reply 06 00 00
BOOL CBematech::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double nTotalValue) {
  const char* where = "CBematech::TotalizaCupomFiscalAcrescimo";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("Acrescimo=%s, nTotalValue=%s", logNumber(nAcrescimo).c_str(), logNumber(nTotalValue).c_str()));
    // The increase goes in whole cents, cut and not rounded.
    const fields::Result amount = fields::format(std::fabs(nAcrescimo), fmt::field::kSubtotalIncrease);
    if (!amount.ok()) return refuse(*this, where, amount.error);
    ClearBuffers();
    AddCommandByte(cmd::Totalize);
    AddParameterString("a");
    AddParameterString(amount.text);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::TotalizaCupomFiscalDesconto(double nDesconto, double nTotalValue) {
  const char* where = "CBematech::TotalizaCupomFiscalDesconto";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("Desconto=%s, nTotalValue=%s", logNumber(nDesconto).c_str(), logNumber(nTotalValue).c_str()));
    const fields::Result amount = fields::format(nDesconto, fmt::field::kSubtotalDiscount);
    if (!amount.ok()) return refuse(*this, where, amount.error);
    ClearBuffers();
    AddCommandByte(cmd::Totalize);
    AddParameterString("d");
    AddParameterString(amount.text);
    return finish(*this, where, Submit());
  });
}

// Wire example, 50.00 on payment type 01:
//   request 02 14 00 1B 48 "01" "00000000005000" 69 03      reply 06 00 00
BOOL CBematech::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CBematech::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where,
          format("strPaymentType=%s, ValorPagamento=%s", strPaymentType.c_str(), logNumber(nValorPagamento).c_str()));
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return finish(*this, where, kFalse);
    fields::Checked num;
    const std::string position = num(index, fmt::field::kPaymentIndex);
    const std::string amount = num(nValorPagamento, fmt::field::kPayment);
    if (!num.ok()) return refuse(*this, where, num.error());
    ClearBuffers();
    AddCommandByte(cmd::Payment);
    AddParameterString(position);
    AddParameterString(amount);
    const BOOL result = Submit();
    if (result) strLastPaymentType = strPaymentType;
    return finish(*this, where, result);
  });
}

// Wire example, closing with a message and no identification lines:
//   request 02 0C 00 1B 22 "Obrigado" 64 03      reply 06 00 00
BOOL CBematech::FechaCupomFiscal(const std::string& strPrintMessage, double nTotalValue) {
  const char* where = "CBematech::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("strPrintMessage=%s, nTotalValue=%s", strPrintMessage.c_str(), logNumber(nTotalValue).c_str()));
    const std::string message =
        fmt::closingText(lines(strPrintMessage), oneLine(strPAFIdent1), oneLine(strPAFIdent2), Columns);
    Log(where, format("Nova mensagem=%s", message.c_str()));
    ClearBuffers();
    AddCommandByte(cmd::CloseReceipt);
    AddParameterString(FormatPrinterText(message));
    return finish(*this, where, Submit());
  });
}

// ---------------------------------------------------------------- report text

// Wire example, one report line:
//   request 02 0C 00 1B 14 "linha 1" 0A 96 02      reply 06 00 00
BOOL CBematech::SendReportText(uint8_t command, const std::string& hostText) {
  const std::string text = lines(hostText);
  if (!SendFullReport) {
    ClearBuffers();
    AddCommandByte(command);
    AddParameterString(FormatPrinterText(text));
    AddParameterByte('\n');
    return Submit();
  }
  for (const std::string& block : fmt::reportBlocks(text, Columns)) {
    ClearBuffers();
    AddCommandByte(command);
    AddParameterString(FormatPrinterText(block));
    if (!Submit()) return kFalse;
  }
  return kTrue;
}

BOOL CBematech::ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) {
  const char* where = "CBematech::ImprimeRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("bSendFullReport=%d, Texto=%s", SendFullReport, strTextoRelatorio.c_str()));
    return finish(*this, where, SendReportText(cmd::Report, strTextoRelatorio));
  });
}

BOOL CBematech::EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) {
  const char* where = "CBematech::EnviaTextoComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("bSendFullReport=%d, TextoComprovante=%s", SendFullReport, strTextoComprovante.c_str()));
    return finish(*this, where, SendReportText(cmd::LinkedText, strTextoComprovante));
  });
}

BOOL CBematech::AbreRelatorioGerencial() {
  const char* where = "CBematech::AbreRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    ResetSale();
    ClearBuffers();
    AddCommandByte(cmd::Report);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::FechaRelatorioGerencial() {
  const char* where = "CBematech::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    const std::string closing = fmt::closingText("", strPAFIdent1, strPAFIdent2, Columns);
    Log(where, format("Texto final: %s", closing.c_str()));
    // A failed closing text does not keep the report open: it is closed anyway.
    if (!closing.empty()) ImprimeRelatorioGerencial(closing);
    ClearBuffers();
    AddCommandByte(cmd::CloseReport);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::FechaComprovanteVinculado() {
  const char* where = "CBematech::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    ClearBuffers();
    AddCommandByte(cmd::CloseReport);
    return finish(*this, where, Submit());
  });
}

// ---------------------------------------------------------------- linked and non-fiscal receipts

// Wire example, the long form for 10.00 paid by "Cartao" on receipt 123:
//   request 02 28 00 1B 42 "Cartao          " "00000000001000" "000123" BE 07      reply 06 00 00
BOOL CBematech::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                         const std::string& strNumeroCupom) {
  const char* where = "CBematech::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("strPaymentType=%s, ValorPagamento=%s, CupomPagamento=%s", strPaymentType.c_str(),
                        logNumber(nValorPagamento).c_str(), strNumeroCupom.c_str()));
    ResetSale();
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return finish(*this, where, kFalse);
    // The printer knows 16 characters of a name; more would shift the value.
    const std::string name = fmt::fitField(oneLine(PaymentType(index)), kPaymentWidth);
    // Both numbers are checked before anything is sent, the short form included.
    fields::Checked num;
    const std::string amount = nValorPagamento > 0 ? num(nValorPagamento, fmt::field::kLinkedValue) : std::string();
    const std::string number =
        strNumeroCupom.empty() ? std::string() : num(receiptNumber(strNumeroCupom), fmt::field::kReceiptNumber);
    if (!num.ok()) return refuse(*this, where, num.error());
    ClearBuffers();
    AddCommandByte(cmd::OpenLinked);
    AddParameterString(name);
    Log(where, format("nFirmware=%s,intColumns=%d", logNumber(nFirmware).c_str(), Columns));
    // Older firmware takes the payment name alone; newer rejects that form.
    if (nFirmware > 0 && nFirmware < 3.11) {
      if (Submit()) return finish(*this, where, kTrue);
      ClearBuffers();
      AddCommandByte(cmd::OpenLinked);
      AddParameterString(name);
    }
    if (nValorPagamento > 0) AddParameterString(amount);
    if (!strNumeroCupom.empty()) AddParameterString(number);
    Log(where, Columns == 40 ? format("Forma longa (%d colunas)", Columns) : std::string("Forma longa"));
    return finish(*this, where, Submit());
  });
}

std::string CBematech::PaymentNameFor(int index) {
  std::string name = text::trim(oneLine(PaymentType(index)));
  if (name.empty()) name = kCash;
  return fmt::fitField(name, kPaymentWidth);
}

int CBematech::PaymentIndexOrCash(const std::string& name) {
  int index = PaymentTypeIndex(name);
  if (index < 1) index = PaymentTypeIndex(kCash);
  return index;
}

// Wire example, a withdrawal (title 1) of 5.00 without a payment name:
//   request 02 14 00 1B 19 "SA" "00000000000500" 6D 03      reply 06 00 00
BOOL CBematech::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) {
  const char* where = "CBematech::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where, format("intTitle=%d, Valor=%s, strPaymentType=%s", static_cast<int>(intTitle),
                        logNumber(nValor).c_str(), strPaymentType.c_str()));
    ResetSale();
    const int index = PaymentIndexOrCash(strPaymentType);
    fields::Checked num;
    const std::string title = intTitle == 1 || intTitle == 2 ? std::string(strPaymentType.empty() ? "SA" : "SU")
                                                             : num(intTitle, fmt::field::kTitleNumber);
    const std::string amount = num(nValor, fmt::field::kNonFiscalValue);
    if (!num.ok()) return refuse(*this, where, num.error());
    ClearBuffers();
    AddCommandByte(cmd::NonFiscal);
    AddParameterString(title);
    AddParameterString(amount);
    AddParameterString(PaymentNameFor(index));
    BOOL result = Submit();
    if (!result && strLastError.find(cp("Número de parâmetros do comando inválido")) != std::string::npos) {
      // Older firmware takes no payment name here.
      Log(where, "Reenvia sem informar forma de pagamento");
      ClearBuffers();
      AddCommandByte(cmd::NonFiscal);
      AddParameterString(title);
      AddParameterString(amount);
      result = Submit();
    }
    return finish(*this, where, result);
  });
}

bool CBematech::StartNonFiscalReceipt(const char* where, double nValue, const std::string& strTitle,
                                      const std::string& strPaymentType) {
  if (Logging())
    Log(where, format("nValue=%s, strTitle=%s, strPaymentType=%s", logNumber(nValue).c_str(), strTitle.c_str(),
                      strPaymentType.c_str()));
  ResetSale();
  if (nValue > 0) return true;
  strLastError = "O valor deve ser maior que zero.";
  return false;
}

BOOL CBematech::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CBematech::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    if (!StartNonFiscalReceipt(where, nValue, strTitle, strPaymentType)) return finish(*this, where, kFalse);
    const int t = NonFiscalTitlesIndex(strTitle);
    if (t < 1) return finish(*this, where, ComprovanteNaoFiscalNaoVinculado(7, nValue, strPaymentType));
    const int index = PaymentIndexOrCash(strPaymentType);
    const std::string title = fmt::totaliserCode(t, "SA", "SU");
    const fields::Result amount = fields::format(nValue, fmt::field::kNonFiscalValue);
    if (!amount.ok()) return refuse(*this, where, amount.error);
    ClearBuffers();
    AddCommandByte(cmd::NonFiscal);
    AddParameterString(title);
    AddParameterString(amount.text);
    if (t >= 5) AddParameterString(PaymentNameFor(index));
    return finish(*this, where, Submit());
  });
}

// ---------------------------------------------------------------- tables

// Wire example, the tax flags and then the rates:
//   request 02 05 00 1B 23 1D 5B 00   reply 06 40 00 00 00 (position 2 is a service tax)
//   request 02 04 00 1B 1A 35 00      reply 06 02 18 00 05 00 ... 00 00
BOOL CBematech::LoadTaxes() {
  const char* where = "CBematech::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(sub::TaxFlags);
    if (!Submit()) return finish(*this, where, kFalse);
    const std::string flags = fmt::taxFlags(arAnswer);
    ClearBuffers();
    AddCommandByte(cmd::LoadTaxRates);
    if (!Submit()) return finish(*this, where, kFalse);
    arTaxes = fmt::taxList(arAnswer, flags);
    for (size_t i = 1; i < arTaxes.size(); ++i)
      Log(where, format("i=%d, Imposto=%s", static_cast<int>(i), arTaxes[i].c_str()));
    // Hosts read TaxesCount and TaxPercents right after opening the port, so the
    // rates go into the tax table too; ReadFiscalInformation adds the day's totals.
    ResetTaxes();
    const size_t count = std::min(arTaxes.size() - 1, arTaxTable.size());
    for (size_t k = 1; k <= count; ++k) {
      arTaxTable[k - 1].percent = static_cast<double>(fmt::bcdDecimal(arAnswer.data() + 1 + 2 * (k - 1), 2) / 100.0L);
      arTaxTable[k - 1].title = arTaxes[k];
    }
    TaxesCount = static_cast<int16_t>(count);
    return finish(*this, where, kTrue);
  });
}

BOOL CBematech::LoadPaymentTypes() {
  return LoadPaymentTypes(kFalse);
}

BOOL CBematech::LoadPaymentTypes(BOOL bLoadValues) {
  const char* where = "CBematech::LoadPaymentTypes";
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(sub::PaymentTypes);
    if (!Submit()) return finish(*this, where, kFalse);
    using namespace fmt::payrec;
    std::vector<std::string> names;
    for (size_t i = 0; i < kMax && arAnswer.size() > kNameSize * i + kNames + kNameSize; ++i) {
      const auto from = arAnswer.begin() + static_cast<long>(kNames + kNameSize * i);
      std::string name(from, from + kNameSize);
      name = text::trimRight(name.substr(0, name.find('\0')));
      // The printer fills its table from the front: the first blank slot ends it.
      if (name.empty()) break;
      Log(where, format("i=%d, Pagamento=%s", static_cast<int>(i), name.c_str()));
      names.push_back(name);
    }
    arPaymentTypes = names;
    arPaymentValues.assign(names.size(), 0.0);
    if (bLoadValues) {
      for (size_t i = 0; i < names.size() && arAnswer.size() > kValueSize * i + kValues; ++i) {
        const size_t at = kValues + kValueSize * i;
        const size_t n = std::min(kValueSize, arAnswer.size() - at);
        arPaymentValues[i] = static_cast<double>(fmt::bcdDecimal(arAnswer.data() + at, n) / 10000.0L);
        if (Logging()) Log(where, format("i=%d, Valor=%s", static_cast<int>(i), logNumber(arPaymentValues[i]).c_str()));
      }
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CBematech::LoadNonFiscalTitles() {
  const char* where = "CBematech::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    ClearBuffers();
    AddCommandByte(cmd::Read);
    AddCommandByte(sub::NonFiscalTitles);
    if (!Submit()) return finish(*this, where, kFalse);
    using namespace fmt::titlerec;
    std::vector<std::string> titles{""};
    for (size_t i = 0; i < kMax && kSize * (i + 1) <= arAnswer.size(); ++i) {
      const auto record = arAnswer.begin() + static_cast<long>(kSize * i);
      std::string title = text::upper(text::trimRight(std::string(record + kTitle, record + kTitle + kTitleSize)));
      if (title.empty()) continue;
      titles.push_back(format("%02x", record[kNumber]) + ",&," + title);
      Log(where, format("i=%d, %s=%s", static_cast<int>(i), cp("Título").c_str(), title.c_str()));
    }
    arNonFiscalTitles = titles;
    return finish(*this, where, kTrue);
  });
}

// Wire example, an ICMS rate of 18%:
//   request 02 09 00 1B 07 "1800" "0" 1B 01      reply 06 00 00
BOOL CBematech::AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) {
  const char* where = "CBematech::AdicionaAliquotaTributaria";
  return guarded(*this, where, kFalse, [&] {
    if (Logging())
      Log(where,
          format("Aliquota=%s, TipoAliquota=%d", logNumber(nAliquota).c_str(), static_cast<int>(intTipoAliquota)));
    fields::Checked num;
    const std::string rate = num(nAliquota, fmt::field::kTaxRate);
    const std::string kind = num(intTipoAliquota, fmt::field::kTaxKind);
    if (!num.ok()) return refuse(*this, where, num.error());
    ClearBuffers();
    AddCommandByte(cmd::AddTax);
    AddParameterString(rate);
    AddParameterString(kind);
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::AdicionaFormaPagamento(const std::string& strPaymentType) {
  const char* where = "CBematech::AdicionaFormaPagamento";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("strPaymentType=%s", strPaymentType.c_str()));
    ClearBuffers();
    AddCommandByte(cmd::AddPayment);
    AddParameterString(fmt::fitField(oneLine(strPaymentType), kPaymentWidth));
    BOOL result = Submit();
    if (result) {
      if (DataSize() >= 2) {
        // The printer answers the position it gave the new payment type, in two digits.
        const auto index = static_cast<size_t>(std::atoi(std::string(arAnswer.begin(), arAnswer.begin() + 2).c_str()));
        if (index < 100) {
          if (arPaymentTypes.size() <= index) arPaymentTypes.resize(index + 1);
          if (arPaymentValues.size() < arPaymentTypes.size()) arPaymentValues.resize(arPaymentTypes.size(), 0.0);
          arPaymentTypes[index] = strPaymentType;
        }
      } else {
        result = LoadPaymentTypes(kFalse);
      }
    }
    return finish(*this, where, result);
  });
}

BOOL CBematech::RedefineFormasPagamento(const std::vector<std::string>& arNames) {
  const char* where = "CBematech::RedefineFormasPagamento";
  return guarded(*this, where, kFalse, [&] {
    auto key = [](const std::string& name) { return text::upper(text::trimRight(padRight(name.substr(0, 16), 16))); };
    ClearBuffers();
    AddCommandByte(cmd::RedefinePayments);
    int added = 0;
    for (size_t i = 0; i < arNames.size(); ++i) {
      const std::string wanted = key(arNames[i]);
      bool held = false;
      for (size_t j = 1; j < arPaymentTypes.size() && !held; ++j) held = key(arPaymentTypes[j]) == wanted;
      if (held) continue;
      const std::string field = padRight(oneLine(arNames[i].substr(0, 16)), 16);
      Log(where, format("DescricaoFormasPagamento(%d)=%s", static_cast<int>(i), field.c_str()));
      AddParameterString(field);
      ++added;
    }
    // With every name already programmed there is nothing to tell the printer.
    if (added == 0) {
      arCommand.clear();
      return finish(*this, where, kTrue);
    }
    return finish(*this, where, Submit());
  });
}

BOOL CBematech::AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) {
  const char* where = "CBematech::AdicionaTotalizadorNaoFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("DescricaoTotalizador=%s", strDescricaoTotalizador.c_str()));
    const std::string title = text::upper(text::trim(oneLine(strDescricaoTotalizador)));
    int next = 1;
    for (const std::string& entry : arNonFiscalTitles) {
      if (entry.size() < 5) continue;
      if (entry.substr(5) == title) {
        strLastError = cp("Totalizador já cadastrado na impressora.");
        return finish(*this, where, kFalse);
      }
      next = std::max(next, std::atoi(entry.substr(0, 2).c_str()) + 1);
    }
    const fields::Result number = fields::format(next, fmt::field::kTitleNumber);
    if (!number.ok()) return refuse(*this, where, number.error);
    ClearBuffers();
    AddCommandByte(cmd::AddNonFiscalTitle);
    AddParameterString(number.text);
    AddParameterString(padRight(title.substr(0, 19), 19));
    const BOOL result = Submit();
    if (result) {
      if (arNonFiscalTitles.empty()) arNonFiscalTitles.push_back("");
      arNonFiscalTitles.push_back(format("%02i", next) + ",&," + title);
    }
    return finish(*this, where, result);
  });
}

BOOL CBematech::ResetNonFiscalTitles() {
  const char* where = "CBematech::ResetNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    if (!LoadNonFiscalTitles()) return finish(*this, where, kFalse);
    static const char* const kNeeded[] = {"DIVERSOS", "VALE PRODUTO", "VALE PRESENTE"};
    for (const char* needed : kNeeded) {
      bool present = false;
      int next = 1;
      for (const std::string& entry : arNonFiscalTitles) {
        if (entry.size() < 5) continue;
        present = present || entry.substr(5) == needed;
        next = std::max(next, std::atoi(entry.substr(0, 2).c_str()) + 1);
      }
      if (present) continue;
      const fields::Result number = fields::format(next, fmt::field::kTitleNumber);
      if (!number.ok()) return refuse(*this, where, number.error);
      ClearBuffers();
      AddCommandByte(cmd::AddNonFiscalTitle);
      AddParameterString(number.text + padRight(needed, 19));
      if (!Submit()) return finish(*this, where, kFalse);
      arNonFiscalTitles.push_back(format("%02d,&,%s", next, needed));
    }
    return finish(*this, where, kTrue);
  });
}

}  // namespace tarvion
