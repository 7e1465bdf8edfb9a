// CFiscNET: the check station (CMC-7 read, check printing with the bank's layout).
#include "drivers/fiscnet/CFiscNET.h"
#include "drivers/fiscnet/fiscnet_ops.h"

namespace tarvion {

using namespace fiscnet;
using text::cp;
using text::format;

fiscnet::BankTable CFiscNET::CheckTable(const std::string& firmware) const {
  return tableForFirmware(firmware);
}

BOOL CFiscNET::SetCheckConfiguration(const std::string& strSingle, const std::string& strMultiple,
                                     const std::string& strLocal, const std::string& strCarrier, DateTime check,
                                     DateTime deposit) {
  strSingleCurrency = strSingle.substr(0, 20);
  strMultipleCurrency = strMultiple.substr(0, 20);
  strCheckLocal = strLocal.substr(0, 30);
  strCheckCarrier = strCarrier.substr(0, 80);
  dtCheck = check;
  dtDeposit = deposit;
  return kTrue;
}

BOOL CFiscNET::SetCheckAdditionalInfo(const std::string& strAdditionalInfo) {
  strCheckAdditionalInfo = strAdditionalInfo;
  return kTrue;
}

BOOL CFiscNET::ReleaseCheck() {
  const char* where = "CFiscNET::ReleaseCheck";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("ExpulsaDocumento")); });
}

BOOL CFiscNET::ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) {
  const char* where = "CFiscNET::ReadCheck";
  return guarded(*this, where, kFalse, [&] {
    std::string line;
    if (!ReadText("CMC7Documento", line)) return finish(*this, where, kFalse);
    std::string digits;
    for (char c : line)
      if (c != '=' && c != '^' && c != '/' && c != ' ') digits += c;
    strCheckInfo = digits;
    if (!bKeepCheck) ReleaseCheck();
    return finish(*this, where, kTrue);
  });
}

// Wire example, bank 001 on table A:
//   {12;ImprimeCheque;Cidade="SAO PAULO" Data=#04/12/2026# Favorecido="FULANO" Valor=150,00 HPosAno=154 ...
//     VPosValor=46 LarguraCheque=166;...}
BOOL CFiscNET::PrintCheck(double nValue, const std::string& strBankNumber) {
  const char* where = "CFiscNET::PrintCheck";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result value = decimal(nValue, field::kAmount);
    if (!value.ok()) return refuse(*this, where, value.error);
    std::string date;
    if (!dateValue(dtCheck, date)) return refuse(*this, where, cp("Data do cheque inválida."));
    std::string firmware;
    if (!ReadText("VersaoSW", firmware) || firmware.size() < 5) firmware = "03.03";
    BankRow row;
    std::string error;
    if (!bankRow(CheckTable(firmware), oneLine(strBankNumber), row, error)) return refuse(*this, where, error);
    ClearBuffers();
    AddCommandString("ImprimeCheque");
    AddNamedParameter(textParameter("Cidade", oneLine(strCheckLocal), 27));
    AddNamedParameter("Data=" + date);
    AddNamedParameter(textParameter("Favorecido", oneLine(strCheckCarrier), 45));
    AddNamedParameter("Valor=" + value.text);
    for (size_t i = 0; i + 1 < kBankFields.size(); ++i) AddNamedParameter(format("%s=%i", kBankFields[i], row.pos[i]));
    if (row.pos.back() > 0) AddNamedParameter(format("%s=%i", kBankFields.back(), row.pos.back()));
    return finish(*this, where, Submit());
  });
}

BOOL CFiscNET::ReadAndPrintCheck(double nValue, const std::string& strBankNumber, std::string& strCheckInfo) {
  if (!ReadCheck(kTrue, strCheckInfo)) return kFalse;
  return PrintCheck(nValue, strBankNumber);
}

}  // namespace tarvion
