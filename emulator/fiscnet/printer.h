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
#include <string>
#include <vector>

#include "emulator/fiscal_core.h"
#include "emulator/fiscnet/codec.h"
#include "emulator/registry.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

class FiscNETPrinter final : public VirtualPrinter {
 public:
  FiscNETPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

  // The return code a refusal of the fiscal half is answered with.
  static int codeOf(FiscalError e);

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;
  std::string formatCmc7(const std::string& digits) const override;

 private:
  struct Answer {
    int code = 0;
    std::vector<std::string> results;
  };
  Answer execute(const fiscnet::Request& req);
  Answer fail(FiscalError e);
  Answer readInteger(const std::string& name);
  Answer readIndicator(const std::string& name);
  Answer readMoney(const std::string& name);
  Answer readText(const std::string& name);
  Answer readDate(const std::string& name, bool time);
  Answer sellItem(const fiscnet::Request& req);
  Answer adjustItem(const fiscnet::Request& req);
  Answer pay(const fiscnet::Request& req);
  Answer printText(const fiscnet::Request& req);
  Answer endDocument();
  Answer memoryRead(const fiscnet::Request& req);
  Answer nextPrintout();
  int paymentOf(const std::string& code);

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
