// CFiscNET: the fiscal receipt, linked receipts, management reports and
// non-fiscal receipts.
#include <algorithm>
#include <cmath>

#include "drivers/fiscnet/CFiscNET.h"
#include "drivers/fiscnet/fiscnet_ops.h"

namespace tarvion {

using namespace fiscnet;
using text::cp;
using text::format;

namespace {

std::string flag(bool v) {
  return v ? "T" : "F";
}

}  // namespace

// ---------------------------------------------------------------- lookups

// The code of a rate in the tax table ("02" for T02,18.00), the fixed codes of
// the special rates, or empty with the message.
std::string CFiscNET::TaxCode(double rate, char kind, std::string& label) {
  label.clear();
  if (std::isnan(rate)) rate = -100.0;  // no rate at all: fails like a missing one
  // A rate above 100 % is looked up like any other: no table holds it, and
  // the message shows the rate the host asked for.
  if (rate > 0) {
    const std::string key = fields::printfFixed(rate, 5, 2);
    for (const std::string& t : arTaxes) {
      if (t.size() < 5 || t[0] != kind || t.substr(4) != key) continue;
      const std::string code = t.substr(1, 2);
      const int index = std::atoi(code.c_str());
      label = format("%02d%c%04d", index, kind, static_cast<int>(std::lround(rate * 100)));
      return code;
    }
    strLastError = kind == 'S'
                       ? cp("Alíquota de ISS não encontrada no ECF.")
                       : format(cp("Alíquota de ICMS de %s%% não cadastrada na impressora.").c_str(), key.c_str());
    return {};
  }
  const char* code = rate == -2.0 ? "-4" : rate == -1.0 ? "-2" : rate == 0.0 ? "-3" : nullptr;
  if (!code) {
    strLastError = kind == 'S' ? cp("Alíquota de ISS não encontrada no ECF.")
                               : format(cp("Alíquota de ICMS de %s%% não cadastrada na impressora.").c_str(),
                                        fields::printfFixed(rate, 5, 2).c_str());
    return {};
  }
  label = code;
  return code;
}

// The two-character code of a payment name, or empty with the message.
std::string CFiscNET::PaymentCode(const std::string& name) {
  const std::string wanted = text::upper(text::trimRight(name));
  nLastPaymentIndex = -1;
  for (size_t i = 0; i < arPaymentTypes.size(); ++i) {
    const std::string entry = text::upper(arPaymentTypes[i]);
    if (entry.size() > 3 && entry.substr(3) == wanted) {
      nLastPaymentIndex = static_cast<int>(i);
      return arPaymentTypes[i].substr(0, 2);
    }
  }
  if (wanted == "VALE PRESENTE") return PaymentCode("VALE PRODUTO");
  strLastError = cp("Forma de pagamento não cadastrada na impressora.");
  return {};
}

int CFiscNET::PaymentTypeIndex(const std::string& name) {
  return PaymentCode(name).empty() ? -1 : nLastPaymentIndex;
}

// ---------------------------------------------------------------- receipt

BOOL CFiscNET::SetCustomerInfo(const std::string& code, const std::string& name, const std::string& address) {
  pendingCustomer.set(code, name, address);
  strCustomerCode.clear();
  strCustomerName.clear();
  strCustomerAddress.clear();
  return kTrue;
}

// Wire example: {3;AbreCupomFiscal;IdConsumidor="123.456.789-09";50}
BOOL CFiscNET::AbreCupomFiscal() {
  const char* where = "CFiscNET::AbreCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, cp("início"));
    if (IsLowPaper())
      return refuse(*this, where, cp("A impressora está com pouco papel. Não será possível abrir o cupom."));
    ClearBuffers();
    AddCommandString("AbreCupomFiscal");
    if (!pendingCustomer.code.empty()) AddNamedParameter(textParameter("IdConsumidor", pendingCustomer.code, 29));
    if (!pendingCustomer.name.empty()) AddNamedParameter(textParameter("NomeConsumidor", pendingCustomer.name, 30));
    if (!pendingCustomer.address.empty())
      AddNamedParameter(textParameter("EnderecoConsumidor", pendingCustomer.address, 80));
    const BOOL ok = Submit();
    if (ok && !pendingCustomer.empty()) {
      pendingCustomer.movedTo(*this);
    }
    return finish(*this, where, ok);
  });
}

// Wire example, 3 units at 2,50 with 0,50 off each:
//   {4;VendeItem;CodAliquota=01 CodProduto="1" NomeProduto="CAFE" PrecoUnitario=2,500 Quantidade=3,000
//     Unidade="UN";...}   then {5;AcresceItemFiscal;Cancelar=F ValorAcrescimo=-1,50;...}
BOOL CFiscNET::SellItem(const char* where, const std::string& code, const std::string& description,
                        const std::string& unit, const std::string& taxCode, const std::string& label, double quantity,
                        double unitPrice, double discount) {
  const fields::Result price = decimal(unitPrice, field::kUnitPrice);
  const fields::Result qty = decimal(quantity, field::kQuantity);
  if (!price.ok()) return refuse(*this, where, price.error);
  if (!qty.ok()) return refuse(*this, where, qty.error);
  // The discount is given per unit; the printer takes the item's whole value.
  const bool withDiscount = discount != 0.0;
  fields::Result off;
  if (withDiscount) {
    off = decimal(-(discount * quantity), field::kAmount);
    if (!off.ok()) return refuse(*this, where, off.error);
  }
  const std::string c = text::trim(oneLine(code).substr(0, 14));
  std::string d = text::trim(oneLine(description));
  d = text::trim(d.substr(0, 200));
  const std::string u = oneLine(unit).substr(0, 2);
  if (!Command("VendeItem", {"CodAliquota=" + taxCode, textParameter("CodProduto", c), textParameter("NomeProduto", d),
                             "PrecoUnitario=" + price.text, "Quantidade=" + qty.text, textParameter("Unidade", u)}))
    return finish(*this, where, kFalse);
  strLastItemCode = c;
  strLastItemDescription = d;
  strLastItemUnit = u;
  strLastItemLabel = label;
  bErroRegistroDescontoItem = kFalse;
  // The item is on the receipt whatever becomes of its discount, so the result
  // stays the item's: a refused discount is told by the flag and the error
  // text, never by a FALSE that would have the item sold again.
  if (withDiscount && !Command("AcresceItemFiscal", {"Cancelar=F", "ValorAcrescimo=" + off.text})) {
    bErroRegistroDescontoItem = kTrue;
    strLastError = cp("Item registrado; o desconto do item falhou: ") + strLastError;
    Log(where, strLastError);
  }
  return finish(*this, where, kTrue);
}

BOOL CFiscNET::RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                                  const std::string& strUnidade, double nAliquota, double nQuantidade,
                                  double nValorUnitario, double nValorDesconto) {
  const char* where = "CFiscNET::RegistraItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("{%s,%s}", strCodigoProduto.c_str(), strDescricaoProduto.c_str()));
    strLastError.clear();
    std::string label;
    const std::string code = TaxCode(nAliquota, 'T', label);
    if (code.empty()) {
      if (strLastError.empty()) strLastError = cp("Alíquota de ICMS não encontrada no ECF.");
      return finish(*this, where, kFalse);
    }
    return SellItem(where, strCodigoProduto, strDescricaoProduto, strUnidade, code, label, nQuantidade, nValorUnitario,
                    nValorDesconto);
  });
}

BOOL CFiscNET::RegisterService(const std::string& strProductCode, const std::string& strDescription,
                               const std::string& strUnit, double nTaxPercent, double nQuantity, double nUnitValue,
                               double nDiscountValue) {
  const char* where = "CFiscNET::RegisterService";
  return guarded(*this, where, kFalse, [&] {
    strLastError.clear();
    std::string label;
    const std::string code = TaxCode(nTaxPercent, 'S', label);
    if (code.empty()) {
      strLastError = cp("Alíquota de ISS não encontrada no ECF.");
      return finish(*this, where, kFalse);
    }
    return SellItem(where, strProductCode, strDescription, strUnit, code, label, nQuantity, nUnitValue, nDiscountValue);
  });
}

BOOL CFiscNET::CancelaItemFiscal(long intItem, const std::string&, double, double, double, double) {
  const char* where = "CFiscNET::CancelaItemFiscal";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result item = fields::format(intItem, field::kItem);
    if (!item.ok()) return refuse(*this, where, item.error);
    return finish(*this, where, Command("CancelaItemFiscal", {format("NumItem=%ld", intItem)}));
  });
}

BOOL CFiscNET::RegistraDescontoItemApos(long intItem, double dblValorDesconto) {
  const char* where = "CFiscNET::RegistraDescontoItemApos";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result item = fields::format(intItem, field::kItem);
    if (!item.ok()) return refuse(*this, where, item.error);
    const fields::Result off = decimal(-dblValorDesconto, field::kAmount);
    if (!off.ok()) return refuse(*this, where, off.error);
    return finish(
        *this, where,
        Command("AcresceItemFiscal", {"Cancelar=F", format("NumItem=%ld", intItem), "ValorAcrescimo=" + off.text}));
  });
}

BOOL CFiscNET::CancelaDescontoItem(long intItem, BOOL) {
  const char* where = "CFiscNET::CancelaDescontoItem";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result item = fields::format(intItem, field::kItem);
    if (!item.ok()) return refuse(*this, where, item.error);
    return finish(*this, where, Command("AcresceItemFiscal", {"Cancelar=T", format("NumItem=%ld", intItem)}));
  });
}

BOOL CFiscNET::TotalizaCupomFiscalDesconto(double nDesconto, double) {
  const char* where = "CFiscNET::TotalizaCupomFiscalDesconto";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = decimal(-nDesconto, field::kSubtotalAdjust);
    if (!v.ok()) return refuse(*this, where, v.error);
    return finish(*this, where, Command("AcresceSubtotal", {"Cancelar=F", "ValorAcrescimo=" + v.text}));
  });
}

BOOL CFiscNET::TotalizaCupomFiscalAcrescimo(double nAcrescimo, double) {
  const char* where = "CFiscNET::TotalizaCupomFiscalAcrescimo";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result v = decimal(std::fabs(nAcrescimo), field::kSubtotalAdjust);
    if (!v.ok()) return refuse(*this, where, v.error);
    return finish(*this, where, Command("AcresceSubtotal", {"Cancelar=F", "ValorAcrescimo=" + v.text}));
  });
}

// Wire example: {7;PagaCupom;CodMeioPagamento=-2 Valor=25,00;39}
BOOL CFiscNET::RegistraPagamento(const std::string& strPaymentType, double nValorPagamento) {
  const char* where = "CFiscNET::RegistraPagamento";
  return guarded(*this, where, kFalse, [&] {
    Log(where, format("{%s}", strPaymentType.c_str()));
    const std::string code = PaymentCode(strPaymentType);
    if (code.empty()) return finish(*this, where, kFalse);
    const int index = nLastPaymentIndex;
    const fields::Result v = decimal(nValorPagamento, field::kAmount);
    if (!v.ok()) return refuse(*this, where, v.error);
    const BOOL ok = Command("PagaCupom", {"CodMeioPagamento=" + code, "Valor=" + v.text});
    if (ok && index >= 0 && static_cast<size_t>(index) < arPaymentTypes.size())
      strLastPaymentType = arPaymentTypes[static_cast<size_t>(index)].substr(3);
    return finish(*this, where, ok);
  });
}

// The PAF lines (each padded to 50 columns) before the caller's message.
std::string CFiscNET::PafText(const std::string& message) const {
  std::string s;
  auto pad = [&](const std::string& line) {
    if (line.empty()) return;
    std::string l = line;
    if (l.size() < 50) l.resize(50, ' ');
    s += l;
  };
  pad(strPAFLine1);
  pad(strPAFLine2);
  s += message;
  return s;
}

// Sends laid-out printer text in "ImprimeTexto" commands, never splitting an escape.
BOOL CFiscNET::PrintText(const char* where, const std::string& laidOut) {
  size_t pos = 0;
  do {
    const size_t n = nextChunk(laidOut, pos);
    if (!Command("ImprimeTexto", {"TextoLivre=\"" + laidOut.substr(pos, n) + "\""})) {
      Log(where, "Retorno com FALHA no comando ImprimeTexto.");
      return kFalse;
    }
    pos += n;
  } while (pos < laidOut.size());
  return kTrue;
}

BOOL CFiscNET::EndDocument(const char* where) {
  if (!Command("EncerraDocumento")) return finish(*this, where, kFalse);
  Advance();
  return kTrue;
}

BOOL CFiscNET::FechaCupomFiscal(const std::string& strPrintMessage, double) {
  const char* where = "CFiscNET::FechaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string t = PafText(lines(strPrintMessage));
    std::replace(t.begin(), t.end(), '"', '\'');
    std::string laid = layoutText(convertText(t), Columns);
    if (laid.size() > kTextChunk) laid.resize(nextChunk(laid, 0));
    if (!Command("ImprimeTexto", {"TextoLivre=\"" + laid + "\""})) {
      Log(where, "Retorno com FALHA no comando ImprimeTexto.");
      return finish(*this, where, kFalse);
    }
    if (!Command("EncerraDocumento")) {
      Log(where, "Retorno com FALHA do fechamento de cupom.");
      return finish(*this, where, kFalse);
    }
    Advance();
    AfterDocument();
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::CancelaCupomFiscal() {
  const char* where = "CFiscNET::CancelaCupomFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (!Command("CancelaCupom")) return finish(*this, where, kFalse);
    Advance();
    AfterDocument();
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- linked receipt and reports

BOOL CFiscNET::AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                        const std::string& strNumeroCupom) {
  const char* where = "CFiscNET::AbreComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    const std::string code = PaymentCode(strPaymentType);
    if (code.empty()) return finish(*this, where, kFalse);
    const fields::Result v = decimal(nValorPagamento, field::kAmount);
    if (!v.ok()) return refuse(*this, where, v.error);
    const std::string coo = text::trim(strNumeroCupom);
    if (coo.empty() || coo.size() > 9 || coo.find_first_not_of("0123456789") != std::string::npos)
      return refuse(*this, where, cp("COO inválido."));
    return finish(*this, where,
                  Command("AbreCreditoDebito", {"CodMeioPagamento=" + code, "COO=" + coo, "Valor=" + v.text}));
  });
}

BOOL CFiscNET::EnviaTextoComprovanteVinculado(const std::string& strTextoComprovante) {
  return ImprimeRelatorioGerencial(strTextoComprovante);
}

BOOL CFiscNET::FechaComprovanteVinculado() {
  const char* where = "CFiscNET::FechaComprovanteVinculado";
  return guarded(*this, where, kFalse, [&] {
    if (!EndDocument(where)) return kFalse;
    AfterDocument();
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::OpenNamedReport(const std::string& strReportName) {
  const char* where = "CFiscNET::OpenNamedReport";
  return guarded(*this, where, kFalse, [&] {
    int index = 0;
    const std::string wanted = text::upper(text::trim(strReportName));
    if (!wanted.empty()) {
      if (arReports.empty()) LoadReports();
      for (size_t i = 0; i < arReports.size(); ++i)
        if (text::upper(text::trim(arReports[i])) == wanted) {
          index = static_cast<int>(i);
          break;
        }
    }
    if (index < 0) index = 0;
    return finish(*this, where, Command("AbreGerencial", {format("CodGerencial=%02i", index)}));
  });
}

BOOL CFiscNET::AbreRelatorioGerencial() {
  return OpenNamedReport("");
}

BOOL CFiscNET::ImprimeRelatorioGerencial(const std::string& strTextoRelatorio) {
  const char* where = "CFiscNET::ImprimeRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    const std::string laid = layoutText(convertText(lines(strTextoRelatorio)), Columns);
    return finish(*this, where, PrintText(where, laid));
  });
}

BOOL CFiscNET::FechaRelatorioGerencial() {
  const char* where = "CFiscNET::FechaRelatorioGerencial";
  return guarded(*this, where, kFalse, [&] {
    Log(where, "FechaRelatorioGerencial: " + PafText(""));
    if (!EndDocument(where)) return kFalse;
    AfterDocument();
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- non-fiscal

BOOL CFiscNET::ComprovanteNaoFiscalNaoVinculado(long intTitle, double nValor, const std::string& strPaymentType) {
  const char* where = "CFiscNET::ComprovanteNaoFiscalNaoVinculado";
  return guarded(*this, where, kFalse, [&] {
    nStatusComprovante = 0;
    const std::string payment = PaymentCode(strPaymentType).empty() ? std::string("Dinheiro") : strPaymentType;
    const fields::Result title = fields::format(intTitle, field::kItem);
    if (!title.ok()) return refuse(*this, where, title.error);
    const fields::Result v = decimal(nValor, field::kAmount);
    if (!v.ok()) return refuse(*this, where, v.error);
    if (!Command("AbreCupomNaoFiscal")) return finish(*this, where, kFalse);
    nStatusComprovante |= 1;
    if (!Command("EmiteItemNaoFiscal", {format("CodNaoFiscal=%ld", intTitle), "Valor=" + v.text}))
      return finish(*this, where, kFalse);
    nStatusComprovante |= 2;
    if (!RegistraPagamento(payment, nValor)) return finish(*this, where, kFalse);
    nStatusComprovante |= 4;
    if (!EndDocument(where)) return kFalse;
    nStatusComprovante |= 8;
    AfterDocument();
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::NonFiscalReceipt(double nValue, const std::string& strTitle, const std::string& strPaymentType) {
  const char* where = "CFiscNET::NonFiscalReceipt";
  return guarded(*this, where, kFalse, [&] {
    if (!(nValue > 0)) return refuse(*this, where, cp("O valor deve ser maior que zero."));
    auto find = [&](const std::string& name) -> int {
      const std::string wanted = text::upper(text::trim(name));
      for (const std::string& t : arNonFiscalTitles) {
        const size_t a = t.find(','), b = t.find(',', a == std::string::npos ? 0 : a + 1);
        if (a == std::string::npos) continue;
        if (text::upper(t.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1)) == wanted)
          return std::atoi(t.c_str());
      }
      return -1;
    };
    int index = find(strTitle);
    if (index < 0) {
      const std::string t = text::upper(text::trim(strTitle));
      if (t == "VALE" || t == "DESPESAS" || t == "SANGRIA") {
        index = find("SANGRIA");
      } else {
        index = find("DIVERSOS");
        if (index < 0) index = find("SUPRIMENTO");
      }
    }
    if (index < 0) return refuse(*this, where, cp("Não identificou o totalizador parcial não sujeito ao ICMS."));
    return ComprovanteNaoFiscalNaoVinculado(index, nValue, strPaymentType);
  });
}

BOOL CFiscNET::AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) {
  const char* where = "CFiscNET::AdicionaTotalizadorNaoFiscal";
  return guarded(*this, where, kFalse, [&] {
    const std::string d = oneLine(strDescricaoTotalizador);
    if (d.empty()) return refuse(*this, where, cp("Descrição do totalizador inválida."));
    const std::string type = std::string("TipoNaoFiscal=") + flag(d[0] == '+');
    const size_t bar = d.find('|');
    if (bar == std::string::npos)
      return finish(*this, where, Command("DefineNaoFiscal", {textParameter("NomeNaoFiscal", d.substr(1), 19), type}));
    std::string name = d.substr(1, bar - 1);
    if (name.size() < 3 || name.size() > 19) name = d.substr(1, 19);
    const std::string code = text::trim(d.substr(bar + 1));
    if (code.empty() || code.size() > 4 || code.find_first_not_of("0123456789") != std::string::npos)
      return refuse(*this, where, cp("Código do totalizador inválido."));
    Command("ExcluiNaoFiscal", {"CodNaoFiscal=" + code});
    return finish(*this, where,
                  Command("DefineNaoFiscal", {"CodNaoFiscal=" + code, textParameter("NomeNaoFiscal", name, 19), type}));
  });
}

BOOL CFiscNET::ResetNonFiscalTitles() {
  const char* where = "CFiscNET::ResetNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    static const struct {
      int code;
      const char* name;
      bool in;
    } kTitles[] = {{1, "SANGRIA", false},  {2, "SUPRIMENTO", false},    {3, "VALE", false},
                   {4, "DESPESAS", false}, {5, "PAGAMENTO VALE", true}, {6, "TROCO", true},
                   {7, "DIVERSOS", true},  {8, "VALE PRODUTO", true},   {9, "VALE PRESENTE", true}};
    BOOL ok = kTrue;
    for (const auto& t : kTitles)
      if (!Command("DefineNaoFiscal", {format("CodNaoFiscal=%d", t.code), textParameter("NomeNaoFiscal", t.name),
                                       std::string("TipoNaoFiscal=") + flag(t.in)}))
        ok = kFalse;
    return finish(*this, where, ok);
  });
}

}  // namespace tarvion
