// CSwedaST operations: each is one numbered command with its '|' parameters.
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "drivers/sweda/CSwedaST.h"
#include "drivers/sweda/CSwedaST2500.h"
#include "drivers/sweda/sweda_ops.h"
#include "platform/prompt.h"

namespace tarvion {

using text::cp;
using text::format;
using namespace sweda;

std::string sweda::dateText(DateTime dt, const char* form) {
  DateParts p;
  if (!dt.parts(p)) p = DateParts{};
  std::string out;
  for (const char* c = form; *c; ++c) {
    if (*c != '%' || !c[1]) {
      out += *c;
      continue;
    }
    switch (*++c) {
      case 'd':
        out += format("%02d", p.day);
        break;
      case 'm':
        out += format("%02d", p.month);
        break;
      case 'Y':
        out += format("%04d", p.year);
        break;
      case 'y':
        out += format("%02d", p.year % 100);
        break;
      case 'H':
        out += format("%02d", p.hour);
        break;
      case 'M':
        out += format("%02d", p.minute);
        break;
      case 'S':
        out += format("%02d", p.second);
        break;
      default:
        out += *c;
    }
  }
  return out;
}

namespace {

// A number in the ST line's writing ("12,50"); the checker keeps the refusal.
template <class T>
std::string stValue(fields::Checked& num, T value, const fields::Field& f) {
  return stNumber(num(value, f));
}

std::string cut(const std::string& s, size_t n) {
  return s.size() > n ? s.substr(0, n) : s;
}

}  // namespace

template <class T>
BOOL CSwedaST::NumberCommand(const char* where, const char* code, T value, const fields::Field& f) {
  fields::Checked num;
  const std::string v = stValue(num, value, f);
  if (!num.ok()) return refuse(*this, where, num.error());
  return finish(*this, where, Command(code, {v}));
}

// Wire example:  02 2B "01" 03 chk
BOOL CSwedaST::AbreCupomFiscal() {
  const char* where = "CSwedaST::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (IsLowPaper())
      return refuse(*this, where, cp("A impressora está com pouco papel. Não será possível abrir o cupom."));
    return finish(*this, where, Command("01"));
  });
}

BOOL CSwedaST::SellItem(const char* where, char kind, const std::string& code, const std::string& description,
                        const std::string& unit, double rate, double quantity, double price, double discount) {
  return guarded(*this, where, kFalse, [&] {
    bErroRegistroDescontoItem = kFalse;
    std::string tax;
    const bool iss = kind == 'S';
    if (rate == 0)
      tax = iss ? "IS1" : "I1";
    else if (rate == -1)
      tax = iss ? "FS1" : "F1";
    else if (rate == -2)
      tax = iss ? "NS1" : "N1";
    else {
      fields::Result r = fields::format(rate, field::kRate);
      const std::string wanted = std::string(1, kind) + (r.ok() ? r.text : std::string()) + "%";
      for (size_t i = 0; i < arTaxes.size() && r.ok(); ++i)
        if (arTaxes[i] == wanted) {
          std::string bare;
          for (char ch : arTaxes[i])
            if (ch != ',' && ch != '%') bare += ch;
          tax = format("%02d%s", static_cast<int>(i), bare.c_str());
          break;
        }
      if (tax.empty())
        return refuse(*this, where,
                      cp(format(iss ? "Alíquota de ISS de %s%% não cadastrada no ECF."
                                    : "Alíquota de ICMS de %s%% não cadastrada no ECF.",
                                fields::printfFixed(rate, 5, 2).c_str())));
    }
    fields::Checked num;
    const std::string qty = stValue(num, quantity, field::kQuantity);
    const std::string unitPrice = stValue(num, price, field::kPrice);
    const std::string off = discount != 0 ? stValue(num, std::fabs(discount), field::kAmount) : std::string();
    if (!num.ok()) return refuse(*this, where, num.error());
    std::string text = text::trim(oneLine(description));
    text = FormatPrinterText(cut(text, 233));
    ClearBuffers();
    AddCommandString("02");
    AddParameter(qty);
    AddParameter(cut(oneLine(code), 14));
    AddParameter(unitPrice);
    AddParameter(oneLine(unit));
    AddParameter(tax);
    AddParameter(text);
    if (bItemOption) AddParameter("A");
    if (!Submit()) return finish(*this, where, kFalse);
    strLastItemCode = code;
    strLastItemDescription = description;
    strLastItemUnit = unit;
    strLastItemLabel = tax;
    if (discount != 0 && !Command("03", {off})) {
      bErroRegistroDescontoItem = kTrue;
      strLastError = cp("Erro no registro do desconto/acréscimo no item.");
      return finish(*this, where, kFalse);
    }
    return finish(*this, where, kTrue);
  });
}

// Wire example:  02 2C "02|1,000|789|2,50|UN|00T1800|ARROZ|A" 03 chk
BOOL CSwedaST::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                  const std::string& strUnidade, double nAliquota, double nQuantidade,
                                  double nValorUnitario, double nValorDesconto) {
  return SellItem("CSwedaST::RegistraItemFiscal", 'T', strCodigoProduto, strDescricaoProduto, strUnidade, nAliquota,
                  nQuantidade, nValorUnitario, nValorDesconto);
}

BOOL CSwedaST::RegisterService(const std::string& strProductCode, const std::string& strDescription,
                               const std::string& strUnit, double nTaxPercent, double nQuantity, double nUnitValue,
                               double nDiscountValue) {
  return SellItem("CSwedaST::RegisterService", 'S', strProductCode, strDescription, strUnit, nTaxPercent, nQuantity,
                  nUnitValue, nDiscountValue);
}

// Wire example:  02 2B "05|3" 03 chk
BOOL CSwedaST::CancelaItemFiscal(long intItem, const std::string&, double, double, double, double) {
  const char* where = "CSwedaST::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] { return NumberCommand(where, "05", intItem, field::kItem); });
}

// Wire example:  02 2B "69|3" 03 chk
BOOL CSwedaST::CancelaDescontoItem(long intItem, BOOL) {
  const char* where = "CSwedaST::CancelaDescontoItem";
  return guarded(*this, where, kFalse, [&] { return NumberCommand(where, "69", intItem, field::kItem); });
}

// Wire example:  02 2B "55|1,50" 03 chk
BOOL CSwedaST::TotalizaCupomFiscalDesconto(double nDesconto, double) {
  const char* where = "CSwedaST::TotalizaCupomFiscalDesconto";
  return guarded(*this, where, kFalse, [&] { return NumberCommand(where, "55", nDesconto, field::kAmount); });
}

// Wire example:  02 2B "54|1,50" 03 chk
BOOL CSwedaST::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double) {
  const char* where = "CSwedaST::TotalizaCupomFiscalAcrescimo";
  return guarded(*this, where, kFalse, [&] { return NumberCommand(where, "54", nAcrescimo, field::kAmount); });
}

// Wire example:  02 2B "06|01|10,00" 03 chk
BOOL CSwedaST::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CSwedaST::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return refuse(*this, where, strLastError);
    fields::Checked num;
    const std::string position = num(index + 1, field::kIndex);
    const std::string v = stValue(num, nValorPagamento, field::kAmount);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command("06", {position, v})) return finish(*this, where, kFalse);
    strLastPaymentType = strPaymentType;
    return finish(*this, where, kTrue);
  });
}

// Wire example:  02 2B "07" 03 chk
BOOL CSwedaST::FechaCupomFiscal(const std::string&, double) {
  const char* where = "CSwedaST::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("07")); });
}

BOOL CSwedaST::FechaComprovanteVinculado() {
  const char* where = "CSwedaST::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("07")); });
}

BOOL CSwedaST::FechaRelatorioGerencial() {
  const char* where = "CSwedaST::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("07")); });
}

// Wire example:  02 2B "08" 03 chk
BOOL CSwedaST::CancelaCupomFiscal() {
  const char* where = "CSwedaST::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("08")); });
}

// Wire example:  02 2B "50|01|10,00" 03 chk
BOOL CSwedaST::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento, const std::string&) {
  const char* where = "CSwedaST::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    const int index = PaymentTypeIndex(strPaymentType);
    if (index < 0) return refuse(*this, where, strLastError);
    fields::Checked num;
    const std::string position = num(index + 1, field::kIndex);
    const std::string v = stValue(num, nValorPagamento, field::kAmount);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("50", {position, v}));
  });
}

// Wire example:  02 2B "25|TEXTO" 03 chk
BOOL CSwedaST::EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) {
  const char* where = "CSwedaST::EnviaTextoComprovanteVinculado";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, Command("25", {FormatPrinterText(lines(strTextoComprovante))})); });
}

BOOL CSwedaST::ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) {
  const char* where = "CSwedaST::ImprimeRelatorioGerencial";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, Command("25", {FormatPrinterText(lines(strTextoRelatorio))})); });
}

// Wire example:  02 2B "43|01" 03 chk
BOOL CSwedaST::OpenNamedReport(const std::string& strReportName) {
  const char* where = "CSwedaST::OpenNamedReport";
  return guarded(*this, where, kFalse, [&] {
    int index = ReportIndex(strReportName);
    if (index < 0) {
      // A name the printer does not have yet is given to it first.
      if (!Command("42", {"RG:" + cut(oneLine(strReportName), 15)})) return finish(*this, where, kFalse);
      arReports.push_back(text::upper(text::trimRight(oneLine(strReportName))));
      index = static_cast<int>(arReports.size()) - 1;
    }
    fields::Checked num;
    const std::string position = num(index + 1, field::kIndex);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("43", {position}));
  });
}

BOOL CSwedaST::AbreRelatorioGerencial() {
  const char* where = "CSwedaST::AbreRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("43", {"01"})); });
}

// Wire example:  02 2B "20|02|5,00" 03 chk, then the payment and the closing
BOOL CSwedaST::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) {
  const char* where = "CSwedaST::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    const int payment = PaymentTypeIndex(strPaymentType);
    if (payment < 0) return refuse(*this, where, strLastError);
    fields::Checked num;
    const std::string title = num(intTitle, field::kIndex);
    const std::string v = stValue(num, nValor, field::kAmount);
    const std::string position = num(payment + 1, field::kIndex);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command("20", {title, v})) return finish(*this, where, kFalse);
    if (!Command("06", {position, v})) return finish(*this, where, kFalse);
    return finish(*this, where, Command("07"));
  });
}

BOOL CSwedaST::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CSwedaST::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    const int title = NonFiscalTitlesIndex(strTitle);
    if (title < 0) return refuse(*this, where, strLastError);
    return ComprovanteNaoFiscalNaoVinculado(title, nValue, strPaymentType);
  });
}

// Wire example:  02 2B "12|123|JOSE|RUA A|0" 03 chk
BOOL CSwedaST::SetCustomerInfo(const std::string& strCustomerCode, const std::string& strCustomerName,
                               const std::string& strCustomerAddress) {
  const char* where = "CSwedaST::SetCustomerInfo";
  return guarded(*this, where, kFalse, [&] {
    const BOOL ok = Command("12", {FormatPrinterText(cut(oneLine(strCustomerCode), 20)),
                                   FormatPrinterText(cut(oneLine(strCustomerName), 30)),
                                   FormatPrinterText(cut(oneLine(strCustomerAddress), 80)), "0"});
    if (ok) {
      this->strCustomerCode = strCustomerCode;
      this->strCustomerName = strCustomerName;
      this->strCustomerAddress = strCustomerAddress;
    }
    return finish(*this, where, ok);
  });
}

// Wire example:  02 2B "15" 03 96
BOOL CSwedaST::LeituraX() {
  const char* where = "CSwedaST::LeituraX";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("15")); });
}

BOOL CSwedaST::SerialReport(const char* where, const char* code, std::initializer_list<std::string> params,
                            std::string& out) {
  ClearBuffers();
  AddCommandString(code);
  for (const std::string& p : params) AddParameter(p);
  nMultiReply = 1;
  strReport.clear();
  const BOOL ok = Submit();
  nMultiReply = 0;
  if (ok) out = strReport;
  return finish(*this, where, ok);
}

// Wire example:  02 2B "15|S" 03 chk, answered by '!' parts and a last '+'
BOOL CSwedaST::LeituraXSerial(std::string& strLeitura) {
  const char* where = "CSwedaST::LeituraXSerial";
  return guarded(*this, where, kFalse, [&] { return SerialReport(where, "15", {"S"}, strLeitura); });
}

// Wire example:  02 2B "16|04/12/2026|09:30" 03 chk
BOOL CSwedaST::ReducaoZ(DateTime dtReducao) {
  const char* where = "CSwedaST::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    if (!dtReducao.valid() || dtReducao.automationDate() == 0) dtReducao = DateTime::now();
    return finish(*this, where, Command("16", {dateText(dtReducao, "%d/%m/%Y|%H:%M")}));
  });
}

// Wire example:  02 2B "18|01122026|04122026" 03 chk
BOOL CSwedaST::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL) {
  const char* where = "CSwedaST::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where, Command("18", {dateText(dtInicial, "%d%m%Y"), dateText(dtFinal, "%d%m%Y")}));
  });
}

BOOL CSwedaST::LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura, BOOL) {
  const char* where = "CSwedaST::LeituraMemoriaFiscalSerial";
  return guarded(*this, where, kFalse, [&] {
    return SerialReport(where, "18", {dateText(dtInicial, "%d%m%Y"), dateText(dtFinal, "%d%m%Y"), "S"}, strLeitura);
  });
}

// Wire example:  02 2B "17|0001|0003" 03 chk
BOOL CSwedaST::LeituraMFReducao(long intInicial, long intFinal, BOOL) {
  const char* where = "CSwedaST::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = num(intInicial, field::kReduction), b = num(intFinal, field::kReduction);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("17", {a, b}));
  });
}

BOOL CSwedaST::LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL) {
  const char* where = "CSwedaST::LeituraMFSerialReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = num(intInicial, field::kReduction), b = num(intFinal, field::kReduction);
    if (!num.ok()) return refuse(*this, where, num.error());
    return SerialReport(where, "17", {a, b, "S"}, strLeitura);
  });
}

namespace {
BOOL writeFile(CECFBase& d, const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (f) f.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!f) {
    d.strLastError = cp("Não foi possível gravar o arquivo ") + path + ".";
    return kFalse;
  }
  return kTrue;
}
}  // namespace

// Wire example:  02 2B "45|01122026|04122026" 03 chk
BOOL CSwedaST::ReadOperationsByDate(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName) {
  const char* where = "CSwedaST::ReadOperationsByDate";
  return guarded(*this, where, kFalse, [&] {
    std::string out;
    if (!SerialReport(where, "45", {dateText(dtStartDate, "%d%m%Y"), dateText(dtFinishDate, "%d%m%Y")}, out))
      return kFalse;
    return finish(*this, where, writeFile(*this, strFileName, out));
  });
}

// Wire example:  02 2B "44|1|20" 03 chk
BOOL CSwedaST::ReadOperationsByCounter(long intStartCounter, long intFinishCounter, const std::string& strFileName) {
  const char* where = "CSwedaST::ReadOperationsByCounter";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = stNumber(num(intStartCounter, field::kCounter));
    const std::string b = stNumber(num(intFinishCounter, field::kCounter));
    if (!num.ok()) return refuse(*this, where, num.error());
    std::string out;
    if (!SerialReport(where, "44", {a, b}, out)) return kFalse;
    return finish(*this, where, writeFile(*this, strFileName, out));
  });
}

// Wire example:  02 2B "35|S" 03 chk
BOOL CSwedaST::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CSwedaST::MudaHorarioVerao";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("35", {bHabilita ? "S" : "N"})); });
}

BOOL CSwedaST::OpenCashDrawer() {
  const char* where = "CSwedaST::OpenCashDrawer";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("11")); });
}

BOOL CSwedaST::PrintSecondReceipt() {
  const char* where = "CSwedaST::PrintSecondReceipt";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("26")); });
}

BOOL CSwedaST::PrintSecondReport() {
  const char* where = "CSwedaST::PrintSecondReport";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("28")); });
}

BOOL CSwedaST::CutPaper() {
  const char* where = "CSwedaST::CutPaper";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("62")); });
}

// Wire example:  02 2B "36|0|CHEQUE" 03 chk
BOOL CSwedaST::AdicionaFormaPagamento(const std::string& strPaymentType) {
  const char* where = "CSwedaST::AdicionaFormaPagamento";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where, Command("36", {"0", cut(oneLine(strPaymentType), 15)}));
  });
}

BOOL CSwedaST::RedefineFormasPagamento(const std::vector<std::string>& arNames) {
  const char* where = "CSwedaST::RedefineFormasPagamento";
  return guarded(*this, where, kFalse, [&] {
    for (const std::string& name : arNames)
      if (!Command("36", {"2", cut(oneLine(name), 15)})) return finish(*this, where, kFalse);
    return finish(*this, where, kTrue);
  });
}

// Wire example:  02 2B "32|T18,00%" 03 chk
BOOL CSwedaST::AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) {
  const char* where = "CSwedaST::AdicionaAliquotaTributaria";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string rate = num(nAliquota, field::kRate);
    if (!num.ok()) return refuse(*this, where, num.error());
    return finish(*this, where, Command("32", {std::string(intTipoAliquota ? "S" : "T") + rate + "%"}));
  });
}

// Wire example:  02 2B "37|+SUPRIMENTO" 03 chk
BOOL CSwedaST::AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) {
  const char* where = "CSwedaST::AdicionaTotalizadorNaoFiscal";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, Command("37", {cut(oneLine(strDescricaoTotalizador), 16)})); });
}

BOOL CSwedaST::ResetNonFiscalTitles() {
  const char* where = "CSwedaST::ResetNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    for (const char* t :
         {"-SANGRIA", "+SUPRIMENTO", "-VALE", "-DESPESAS", "+DIVERSOS", "+VALE PRODUTO", "+VALE PRESENTE"})
      if (!Command("37", {t})) return finish(*this, where, kFalse);
    return finish(*this, where, kTrue);
  });
}

BOOL CSwedaST::SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) {
  const char* where = "CSwedaST::SetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    auto pad = [](const std::string& s) { return format("%120s", cut(op::oneLine(s), 120).c_str()); };
    const BOOL ok = Command("39", {pad(strLine1), pad(strLine2)});
    if (ok) CECFBase::SetPAFECFIdentification(strLine1, strLine2);
    return finish(*this, where, ok);
  });
}

BOOL CSwedaST::ResetPAFECFIdentification() {
  const char* where = "CSwedaST::ResetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    // Closing the port resets the identification too: with none given there
    // is nothing for the printer to forget, and nothing is sent.
    if (strPAFIdent1.empty() && strPAFIdent2.empty()) return CECFBase::ResetPAFECFIdentification();
    const BOOL ok = Command("40");
    if (ok) CECFBase::ResetPAFECFIdentification();
    return finish(*this, where, ok);
  });
}

// ---------------------------------------------------------------- reads

// Wire example:  02 2B "34|F1" 03 chk      reply  02 2B "34+0000|T1800|S0500" 03 chk
BOOL CSwedaST::LoadTaxes() {
  const char* where = "CSwedaST::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("F1", f)) return finish(*this, where, kFalse);
    arTaxes.clear();
    for (const std::string& t : f) {
      if (t.size() < 5) continue;
      arTaxes.push_back(format("%s%.2s,%.2s%%", t.substr(0, 1).c_str(), t.c_str() + 1, t.c_str() + 3));
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CSwedaST::LoadPaymentTypes(BOOL) {
  const char* where = "CSwedaST::LoadPaymentTypes";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("G64", f)) return finish(*this, where, kFalse);
    arPaymentTypes.clear();
    for (const std::string& n : f) arPaymentTypes.push_back(text::trimRight(n));
    arPaymentValues.assign(arPaymentTypes.size(), 0.0);
    return finish(*this, where, kTrue);
  });
}

BOOL CSwedaST::LoadReports() {
  const char* where = "CSwedaST::LoadReports";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("N2", f)) return finish(*this, where, kFalse);
    arReports.clear();
    for (const std::string& n : f) arReports.push_back(text::trimRight(n));
    return finish(*this, where, kTrue);
  });
}

BOOL CSwedaST::LoadNonFiscalTitles() {
  const char* where = "CSwedaST::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("L2", f)) return finish(*this, where, kFalse);
    arNonFiscalTitles.clear();
    // "01,S,NAME": the index, '+' or '-' as the totaliser adds or takes, and its name.
    for (size_t i = 0; i < f.size(); ++i) {
      const std::string& t = f[i];
      const std::string name = t.size() > 1 ? text::trimRight(t.substr(1)) : std::string();
      arNonFiscalTitles.push_back(format("%02d,%c,", static_cast<int>(i + 1), t.empty() ? '+' : t[0]) + name);
    }
    return finish(*this, where, kTrue);
  });
}

long CSwedaST::Counter(const char* reg) {
  return guarded(*this, "CSwedaST::Counter", -1L, [&] {
    std::vector<std::string> f;
    if (!ReadRegister(reg, f)) return -1L;
    return std::strtol(f[0].c_str(), nullptr, 10);
  });
}

BOOL CSwedaST::RetornaNumeroCupom(std::string& strNumeroCupom) {
  const char* where = "CSwedaST::RetornaNumeroCupom";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("A1", f)) return finish(*this, where, kFalse);
    strNumeroCupom = f[0];
    return finish(*this, where, kTrue);
  });
}

long CSwedaST::GetOperationCounter() {
  return Counter("A1");
}
long CSwedaST::GetZReportCounter() {
  return Counter("A2");
}
long CSwedaST::GetRestartCounter() {
  return Counter("A4");
}
long CSwedaST::GetFiscalReceiptCounter() {
  return Counter("B4");
}
long CSwedaST::GetNonFiscalCounter() {
  return Counter("B8");
}
long CSwedaST::GetManagementReportCounter() {
  return Counter("C2");
}
long CSwedaST::GetPaymentReceiptCounter() {
  return Counter("C4");
}

double CSwedaST::GetFinalGrandTotal() {
  const long cents = Counter("E1");
  return cents < 0 ? 0.0 : cents / 100.0;
}

double CSwedaST::GetSaleTotal() {
  const long cents = Counter("E2");
  return cents < 0 ? 0.0 : cents / 100.0;
}

// The status register H2: receipt open, paper near its end, paper out, drawer
// open, summer time, each '1' or '0'.
BOOL CSwedaST::CupomFiscalAberto(BOOL& bOut) {
  const char* where = "CSwedaST::CupomFiscalAberto";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("H2", f) || f[0].size() < 5) return finish(*this, where, kFalse);
    bOut = f[0][0] == '1' ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

BOOL CSwedaST::IsLowPaper() {
  std::vector<std::string> f;
  if (!ReadRegister("H2", f) || f[0].size() < 5) return kFalse;
  return f[0][1] == '1' || f[0][2] == '1' ? kTrue : kFalse;
}

BOOL CSwedaST::IsCashDrawerClosed() {
  std::vector<std::string> f;
  if (!ReadRegister("H2", f) || f[0].size() < 5) return kTrue;
  return f[0][3] == '1' ? kFalse : kTrue;
}

BOOL CSwedaST::VerificaHorarioVerao(BOOL& bOut) {
  const char* where = "CSwedaST::VerificaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("H2", f) || f[0].size() < 5) return finish(*this, where, kFalse);
    bOut = f[0][4] == '1' ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

BOOL CSwedaST::ReadSerialNumber(std::string& strOut) {
  const char* where = "CSwedaST::ReadSerialNumber";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("I1", f)) return finish(*this, where, kFalse);
    strOut = strSerialNumber = text::trim(f[0]);
    return finish(*this, where, kTrue);
  });
}

std::string CSwedaST::GetFirmwareVersion() {
  std::vector<std::string> f;
  return ReadRegister("I2", f) ? text::trim(f[0]) : std::string();
}

namespace {
// "ddmmyyyy" and "hhmmss" into a date; invalid when they are not that.
DateTime stamp(const std::string& d, const std::string& t) {
  auto n = [](const std::string& s, size_t at, size_t len) {
    if (s.size() < at + len) return -1;
    int v = 0;
    for (size_t i = at; i < at + len; ++i) {
      if (s[i] < '0' || s[i] > '9') return -1;
      v = v * 10 + (s[i] - '0');
    }
    return v;
  };
  return DateTime::fromParts(n(d, 4, 4), n(d, 2, 2), n(d, 0, 2), t.empty() ? 0 : n(t, 0, 2), t.empty() ? 0 : n(t, 2, 2),
                             t.empty() ? 0 : n(t, 4, 2));
}
}  // namespace

// Wire example:  02 2B "34|D1" 03 chk      reply  02 2B "34+0000|04122026|093000" 03 chk
BOOL CSwedaST::ReadDateTime(DateTime& dtOut) {
  const char* where = "CSwedaST::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("D1", f) || f.size() < 2) return finish(*this, where, kFalse);
    dtOut = stamp(f[0], f[1]);
    return finish(*this, where, dtOut.valid() ? kTrue : kFalse);
  });
}

BOOL CSwedaST::ReadFiscalInformation() {
  const char* where = "CSwedaST::ReadFiscalInformation";
  return guarded(*this, where, kFalse, [&] {
    std::vector<std::string> f;
    if (!ReadRegister("I1", f)) return finish(*this, where, kFalse);
    strSerialNumber = text::trim(f[0]);
    intZReportCounter = static_cast<int>(Counter("A2"));
    intRestartCounter = static_cast<int>(Counter("A4"));
    intFinalOperation = static_cast<int>(Counter("A1"));
    nFinalGrandTotal = GetFinalGrandTotal();
    return finish(*this, where, kTrue);
  });
}

// Wire example:  02 2B "65|0003" 03 chk      reply  02 2B "65+0000|03122026|..." 03 chk
DateTime CSwedaST::GetDataMovUltimaRZ() {
  return guarded(*this, "CSwedaST::GetDataMovUltimaRZ", DateTime::invalid(), [&] {
    const long crz = Counter("A2");
    if (crz <= 0) return DateTime::invalid();
    fields::Checked num;
    const std::string n = num(crz, field::kReduction);
    if (!num.ok() || !Command("65", {n})) return DateTime::invalid();
    const std::vector<std::string> f = replyFields(expandRuns(arAnswer));
    return f.empty() ? DateTime::invalid() : stamp(f[0], "");
  });
}

// ---------------------------------------------------------------- checks

BOOL CSwedaST::CheckCommand(double value, const std::string& bank) {
  fields::Checked num;
  const std::string v = stValue(num, value, field::kAmount);
  if (!num.ok()) {
    strLastError = num.error();
    lastOutcome = exchange::Outcome::NotWritten;
    return kFalse;
  }
  return Command("14", {cut(oneLine(bank), 3), v, dateText(DateTime::now(), "%d/%m/%Y"), "N", "N",
                        cut(FormatPrinterText(oneLine(strCheckFooter)), 80)});
}

// Wire example:  02 2B "14|001|10,00|04/12/2026|N|N|" 03 chk
BOOL CSwedaST::PrintCheck(double nValue, const std::string& strBankNumber) {
  const char* where = "CSwedaST::PrintCheck";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, CheckCommand(nValue, strBankNumber)); });
}

// Wire example:  02 2B "24" 03 chk      reply  02 2B "24+0000|<cmc7>" 03 chk
BOOL CSwedaST::ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) {
  const char* where = "CSwedaST::ReadCheck";
  return guarded(*this, where, kFalse, [&] {
    if (!Command("24")) return finish(*this, where, kFalse);
    const std::vector<std::string> f = replyFields(expandRuns(arAnswer));
    strCheckInfo = f.empty() ? std::string() : f[0];
    if (!bKeepCheck && !Command("47")) return finish(*this, where, kFalse);
    return finish(*this, where, kTrue);
  });
}

BOOL CSwedaST::ReleaseCheck() {
  const char* where = "CSwedaST::ReleaseCheck";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("47")); });
}

BOOL CSwedaST2500::ReadCheck(BOOL, std::string& strCheckInfo) {
  return CSwedaST::ReadCheck(kFalse, strCheckInfo);
}

BOOL CSwedaST2500::PrintCheck(double nValue, const std::string& strBankNumber) {
  platform::ask(platform::PromptKind::Ok, cp("Atenção"), "Posicione o cheque para que ele seja impresso.");
  return CSwedaST::PrintCheck(nValue, strBankNumber);
}

}  // namespace tarvion
