// The FiscNET face of a virtual printer: named commands in, a return code and
// named results out, every command decoded into FiscalCore calls and every
// refusal answered with the family's return code (and a Circunstancia naming
// the refusal). Serves the nine FiscNET models of the control's table.
//
// Register names it answers:
//   LeInteiro    COO CCF GNF CDC GRG CRZ CRO ECF ContadorProprietarios
//                AliquotaDisponivel COOInicioDia ContadorDocUltimoItemVendido
//   LeIndicador  DocumentoAberto SemPapel SensorPoucoPapel HorarioVerao SensorGaveta
//   LeMoeda      GT GTInicial TotalDiaVendaBruta TotalDiaCancelamentosICMS
//                TotalDiaDescontos TotalDiaAcrescimos TotalDiaOperacoesNaoFiscais
//                TotalDiaDinheiro TotalDiaMeioPagamento[i] TotalDiaValorAliquota[ii]
//                and the day's ISSQN/ICMS exempt, substituted and untaxed totals
//   LeTexto      NumeroSerieECF VersaoSW Marca Modelo TipoECF CMC7Documento
//                DadosUltimaReducaoZ
//   LeData/LeHora  Data Hora DataAbertura DataUltimoDoc HoraUltimoDoc
//
// Table codes: payments "-2" is the cash entry, programmable codes 0..14 are the
// payment types after it; tax codes 0..15 are the tax positions 01..16; the
// special tax codes -2, -3 and -4 are substitution, exemption and not taxed.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/fiscal_core.h"
#include "emulator/fiscnet/codec.h"
#include "emulator/registry.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

class FiscNETPrinter final : public VirtualPrinter {
 private:
  struct Answer {
    int code = 0;
    std::vector<std::string> results;
  };

 public:
  FiscNETPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

  // The return code a refusal of the fiscal half is answered with.
  static int codeOf(FiscalError e);

  // One command the printer knows: its name (exact, case and all), the
  // parameter it cannot do without (null for none; without it the command
  // answers a missing parameter before the handler runs) and its handler.
  struct Command {
    std::string_view name;
    const char* required = nullptr;
    Answer (FiscNETPrinter::*run)(const fiscnet::Request& req) = nullptr;
  };
  // The commands, in name order; a name without an entry answers an unknown
  // command.
  static std::span<const Command> dispatchTable();

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;
  std::string formatCmc7(const std::string& digits) const override;

 private:
  Answer execute(const fiscnet::Request& req);
  Answer fail(FiscalError e);
  Answer readStamp(const std::string& name, bool time);
  int paymentOf(const std::string& code);

  // The handlers of dispatchTable(), one per command (the paper's own
  // commands share accept, which takes them and does nothing).
  Answer accept(const fiscnet::Request& req);
  Answer adjustItem(const fiscnet::Request& req);
  Answer adjustSubtotal(const fiscnet::Request& req);
  Answer cancelItem(const fiscnet::Request& req);
  Answer cancelReceipt(const fiscnet::Request& req);
  Answer daylightSaving(const fiscnet::Request& req);
  Answer definePayment(const fiscnet::Request& req);
  Answer defineReport(const fiscnet::Request& req);
  Answer defineTax(const fiscnet::Request& req);
  Answer defineTitle(const fiscnet::Request& req);
  Answer detailTape(const fiscnet::Request& req);
  Answer drawer(const fiscnet::Request& req);
  Answer ejectDocument(const fiscnet::Request& req);
  Answer endDocument(const fiscnet::Request& req);
  Answer leituraX(const fiscnet::Request& req);
  Answer memoryRead(const fiscnet::Request& req);
  Answer nextPrintout(const fiscnet::Request& req);
  Answer nonFiscalItem(const fiscnet::Request& req);
  Answer openLinked(const fiscnet::Request& req);
  Answer openNonFiscal(const fiscnet::Request& req);
  Answer openReceipt(const fiscnet::Request& req);
  Answer openReport(const fiscnet::Request& req);
  Answer pay(const fiscnet::Request& req);
  Answer printCheck(const fiscnet::Request& req);
  Answer printText(const fiscnet::Request& req);
  Answer readDate(const fiscnet::Request& req);
  Answer readIndicator(const fiscnet::Request& req);
  Answer readInteger(const fiscnet::Request& req);
  Answer readMoney(const fiscnet::Request& req);
  Answer readPaymentName(const fiscnet::Request& req);
  Answer readReportName(const fiscnet::Request& req);
  Answer readTax(const fiscnet::Request& req);
  Answer readText(const fiscnet::Request& req);
  Answer readTime(const fiscnet::Request& req);
  Answer readTitle(const fiscnet::Request& req);
  Answer reducaoZ(const fiscnet::Request& req);
  Answer secondCopy(const fiscnet::Request& req);
  Answer sellItem(const fiscnet::Request& req);

  // Text the printer keeps for "LeImpressao" after a report sent back instead
  // of printed, and how much of it went out.
  std::string printout_;
  size_t printoutAt_ = 0;
  // The closing message of the open receipt, printed when it closes.
  std::string closingText_;
};

namespace fiscnet {
// The virtual models of the FiscNET rows of the model tables.
std::vector<VirtualModel> virtualModels();
}  // namespace fiscnet

}  // namespace tarvion::emulator
