#include <iostream>

#include "control/script.h"
#include "tools/commands.h"
#include "tools/virtual_printers.h"

namespace tarvion::tool {
namespace {

// A morning at a small grocery: the printer's tables are read when the port
// opens, then one sale with four taxes, an item discount, a discount on the
// subtotal and two payments, and the X report.
const char* const kSale[] = {
    "InitializeECF 1 1 115200 0 8 1 0 TRUE TRUE",
    "RetornaAliquotas",
    "AbreCupomFiscal",
    "RegistraItemFiscal 7891000100103 \"CAFE TORRADO 500G\" UN 18 2 10.50 0",
    "RegistraItemFiscal 7891000200200 \"ARROZ TIPO 1 5KG\" PC 7 1 24.90 0",
    "RegistraItemFiscal 7891000300307 \"SABAO EM PO 1KG\" UN 12 3 8.75 1.00",
    "RegisterService S001 \"ENTREGA EM DOMICILIO\" UN 5 1 10.00 0",
    "TotalizaCupomDesconto 5.00 0",
    "RegistraPagamento Dinheiro 50.00",
    "RegistraPagamento Cartao 30.00",
    "FechaCupomFiscal \"OBRIGADO PELA PREFERENCIA\" 0",
    "RetornaNumeroCupom",
    "LeituraX",
};

}  // namespace

int runDemo(bool json) {
  VirtualPrinters printers;
  if (!printers.add(1, 1, "", "", std::cerr)) return 1;
  CTarvionCtrl ctrl;
  int failed = 0;
  for (const char* line : kSale) {
    script::Call call;
    std::string error;
    if (!script::parseLine(line, call, error)) {
      std::cerr << "tarvion demo: " << error << "\n";
      return 1;
    }
    Value r = ctrl.Invoke(*call.entry, call.args);
    if (!json) std::cout << "> " << line << "\n";
    std::cout << script::formatCall(call, r, json) << std::endl;
    if (r.type == Type::Bool && r.i == 0) {
      ++failed;
      std::cout << (json ? "" : "  UltimoErro: ") << (json ? "" : ctrl.UltimoErro() + "\n");
    }
  }
  if (!json) {
    std::cout << "\n---- paper of the virtual " << printers.all()[0].printer->modelName() << " ----\n";
    std::cout << printers.all()[0].printer->printedPaper();
  }
  return failed ? 1 : 0;
}

}  // namespace tarvion::tool
