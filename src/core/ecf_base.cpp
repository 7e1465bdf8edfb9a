#include "core/ecf_base.h"

#include <cstdlib>

#include "core/capabilities.h"
#include "core/host_text.h"
#include "core/text.h"

namespace tarvion {

using text::cp;

CECFBase::CECFBase() {
  log_.log(cp("CECFBase::CECFBase - início"));
  try {
    arCommand.clear();
    arParameters.clear();
    arAnswer.clear();
    arDefaultTitles = {"IDENT. PAF-ECF", "VALE PRODUTO", "VALE PRESENTE", "FECHTO. GERAL", "TROCA",
                       "CREDIARIO",      "DAV",          "COMPROVANTE",   "ESTORNO",       "PARAM. PAF-ECF"};
  } catch (const std::exception& e) {
    RecordError("CECFBase::CECFBase", e.what());
  }
  log_.log("CECFBase::CECFBase - fim");
}

void CECFBase::Configure(const caps::ModelRow& row) {
  if (row.columns) Columns = row.columns;
  if (row.usbClass) usbInterfaceClass = InterfaceClass::parse(row.usbClass);
}

CECFBase::~CECFBase() {
  arCommand.clear();
  arParameters.clear();
  arAnswer.clear();
  try {
    // The base close: a derived part is already gone here.
    if (bPortOpen) CECFBase::CloseComm();
  } catch (...) {
  }
}

// ---------------------------------------------------------------- command cycle

BOOL CECFBase::CheckForSuccess() {
  return kFalse;
}

BOOL CECFBase::SendCommand(Frame command) {
  if (!command) return kTrue;
  command.reset();
  strLastError.clear();
  if (bCheckAfterSend) return CheckForSuccess();
  bCheckAfterSend = kTrue;
  return kTrue;
}

Frame CECFBase::BuildCommand(const ByteArray& /*command*/, const ByteArray& /*parameters*/) {
  return nullptr;
}

BOOL CECFBase::Submit() {
  if (std::string why = OversizedCommand(); !why.empty()) {
    // Nothing goes out: a wrapped length would make the printer read another frame.
    strLastError = why;
    lastOutcome = exchange::Outcome::NotWritten;
    Log("CECFBase::Submit", why);
    arCommand.clear();
    arParameters.clear();
    return kFalse;
  }
  BOOL result = SendCommand(BuildCommand(arCommand, arParameters));
  // A command goes on the wire once: the pending buffers are consumed here (after
  // the success check, which reads the command code), so an operation that only
  // submits later sends nothing instead of repeating this one.
  arCommand.clear();
  arParameters.clear();
  return result;
}

void CECFBase::ClearBuffers() {
  strLastError.clear();
  arCommand.clear();
  arParameters.clear();
  arAnswer.clear();
}

void CECFBase::AddCommandString(const std::string& s) {
  try {
    arCommand.insert(arCommand.end(), s.begin(), s.end());
  } catch (const std::exception& e) {
    RecordError("CECFBase::AddCommandString", e.what());
  }
}

void CECFBase::AddParameterString(const std::string& s) {
  try {
    arParameters.insert(arParameters.end(), s.begin(), s.end());
  } catch (const std::exception& e) {
    RecordError("CECFBase::AddParameterString", e.what());
  }
}

std::string CECFBase::FormatPrinterText(const std::string& s) {
  Log("CECFBase::FormatPrinterText", s);
  std::string out = text::plainPrinterText(s);
  Log("CECFBase::FormatPrinterText", out);
  return out;
}

BOOL CECFBase::BytesToHex(const ByteArray& bytes, size_t start, size_t count, std::string& out) {
  if (start > bytes.size()) start = bytes.size();
  if (count > bytes.size() - start) count = bytes.size() - start;
  out = text::hexDump(bytes.data() + start, count);
  return kTrue;
}

std::string CECFBase::ReadableBytes(const ByteArray* bytes) {
  return bytes ? text::readableDump(bytes->data(), bytes->size()) : "NULL";
}

BOOL CECFBase::EnviaComandoECF(const ByteArray& command, ByteArray& answer) {
  Log(text::format("CECFBase::EnviaComandoECF{arComando=%s,*arResp=%s}", command.empty() ? "VAZIO" : "ENVIADO",
                   cp("ENDEREÇO").c_str()));
  ClearBuffers();
  bCheckAfterSend = kFalse;
  // The driver owns what it is given; the host keeps its own bytes.
  BOOL result = SendCommand(command.empty() ? nullptr : std::make_unique<ByteArray>(command));
  // An empty command never reached the check that re-arms the flag.
  bCheckAfterSend = kTrue;
  Log("CECFBase::EnviaComandoECF", text::format("bRetorno=%d", result));
  answer = arAnswer;
  Log(text::format("CECFBase::EnviaComandoECF{Retorno=%s,strLastError=%s}", boolText(result),
                   result ? "" : strLastError.c_str()));
  return result;
}

// ---------------------------------------------------------------- log and errors

void CECFBase::Log(const std::string& where, const std::string& detail) {
  log_.log(where, detail);
}
void CECFBase::LogBuffered(const std::string& where, const std::string& detail) {
  log_.logBuffered(where, detail);
}
void CECFBase::LogResult(const std::string& where, const std::string& result) {
  log_.logResult(where, result, strLastError);
}
void CECFBase::RecordError(const std::string& where, const std::string& message) {
  strLastError = OpLog::shape(where, message);
  log_.write(strLastError);
}

// ---------------------------------------------------------------- resets

void CECFBase::ResetSale() {
  strCustomerCode.clear();
  strCustomerName.clear();
  strCustomerAddress.clear();
  strLastPaymentType.clear();
  strLastItemCode.clear();
  strLastItemDescription.clear();
  strLastItemUnit.clear();
  strLastItemLabel.clear();
  nLastItemNumber = 0;
  bErroRegistroDescontoItem = 0;
  nStatusComprovante = 0;
}

void CECFBase::ResetTaxes() {
  for (auto& t : arTaxTable) {
    t.percent = 0.0;
    t.baseValue = 0.0;
  }
  TaxesCount = 0;
}

// ---------------------------------------------------------------- lookups

int CECFBase::NonFiscalTitlesIndex(const std::string& title) {
  const char* where = "CECFBase::NonFiscalTitlesIndex";
  Log(text::format("%s{strTitle=%s}", where, title.c_str()));
  std::string wanted = text::upper(text::trimRight(title));
  for (size_t i = 0; i < arNonFiscalTitles.size(); ++i) {
    std::string current = text::upper(arNonFiscalTitles[i]);
    std::string name = current.size() > 5 ? current.substr(5) : std::string();
    Log(where, text::format("intTitleIndex=%i,strTitle=%s,strCurrentTitle=%s,Mid(5)=%s", static_cast<int>(i),
                            wanted.c_str(), current.c_str(), name.c_str()));
    if (name == wanted) {
      int number = std::atoi(current.substr(0, 2).c_str());
      Log(where, text::format("Retorno=%i", number));
      return number;
    }
  }
  Log(where, text::format("Vai checar vale produto.strTitle=%s", wanted.c_str()));
  if (wanted == "VALE PRESENTE") return NonFiscalTitlesIndex("VALE PRODUTO");
  strLastError = cp("Totalizador não fiscal não cadastrado na impressora.");
  Log(where, "Retorno=-1");
  return -1;
}

int CECFBase::ReportIndex(const std::string& name) {
  std::string wanted = text::cp850ToCp1252(text::upper(text::trimRight(name)));
  for (size_t i = 0; i < arReports.size(); ++i)
    if (text::upper(arReports[i]) == wanted) return static_cast<int>(i);
  strLastError = cp("Relatório gerencial não cadastrado na impressora.");
  return wanted.empty() ? static_cast<int>(arReports.size()) - 1 : -1;
}

int CECFBase::PaymentTypeIndex(const std::string& name) {
  std::string wanted = text::upper(text::trimRight(name));
  for (size_t i = 0; i < arPaymentTypes.size(); ++i)
    if (text::upper(arPaymentTypes[i]) == wanted) return static_cast<int>(i);
  if (wanted == "VALE PRESENTE") return PaymentTypeIndex("VALE PRODUTO");
  strLastError = cp("Forma de pagamento não cadastrada na impressora.");
  return -1;
}

std::string CECFBase::PaymentType(int index) {
  if (index < 0 || static_cast<size_t>(index) >= arPaymentTypes.size()) return {};
  return arPaymentTypes[index];
}

double CECFBase::PaymentTypeValue(int index) {
  if (index < 0 || static_cast<size_t>(index) >= arPaymentValues.size()) return 0.0;
  return arPaymentValues[index];
}

BOOL CECFBase::RetornaAliquotas(std::string& strOut) {
  for (auto& t : arTaxes) {
    if (t.empty()) continue;
    if (!strOut.empty()) strOut += ", ";
    strOut += t;
  }
  return kTrue;
}

// ---------------------------------------------------------------- information loading

BOOL CECFBase::LoadECFInfo(BOOL bReadPrinterInfo) {
  const char* where = "CECFBase::LoadECFInfo";
  Log(where, text::format("bReadPrinterInfo=%s", boolText(bReadPrinterInfo)));
  if (!InitialConfiguration()) {
    Log(where, cp("Erro ao executar configurações iniciais."));
    return kFalse;
  }
  if (bReadPrinterInfo) {
    Log(where, cp("Lendo informações."));
    if (!LoadTaxes()) {
      Log(where, cp("Erro ao carregar alíquotas."));
      return kFalse;
    }
    if (!LoadPaymentTypes(kFalse)) {
      Log(where, "Erro ao carregar tipos de pagamento.");
      return kFalse;
    }
    if (!LoadReports()) {
      Log(where, cp("Erro ao carregar relatórios gerenciais."));
      return kFalse;
    }
    if (!LoadNonFiscalTitles()) {
      Log(where, cp("Erro ao carregar comprovantes não fiscais."));
      return kFalse;
    }
  }
  return kTrue;
}

int CECFBase::GetParity() {
  return kNoParity;
}
BOOL CECFBase::ECFOnline() {
  return kTrue;
}

// ---------------------------------------------------------------- PAF identification

BOOL CECFBase::SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) {
  strPAFLine1 = text::trim(strLine1);
  strPAFLine2 = text::trim(strLine2);
  strPAFIdent1 = strPAFLine1;
  strPAFIdent2 = strPAFLine2;
  return bPortOpen ? Submit() : kTrue;
}

BOOL CECFBase::GetPAFECFIdentification(std::string& strLine1, std::string& strLine2) {
  strLine1 = strPAFIdent1;
  strLine2 = strPAFIdent2;
  return Submit();
}

BOOL CECFBase::ResetPAFECFIdentification() {
  strPAFIdent1.clear();
  strPAFIdent2.clear();
  bPAFIdentification = 0;
  return bPortOpen ? Submit() : kTrue;
}

// ---------------------------------------------------------------- operations with fixed answers

// The fiscal-memory and CF-e reads into a file answer TRUE on a model without
// them, as hosts expect, but write nothing: README.md lists these answers so a
// host checks the file rather than the flag. A driver that reads them overrides.
BOOL CECFBase::LeMFDataBIN(DateTime, DateTime, const std::string&) {
  return kTrue;
}
BOOL CECFBase::LeMFContZBIN(long, long, const std::string&) {
  return kTrue;
}
BOOL CECFBase::ReadCFeXML(const std::string&, const std::string&, long, BOOL, std::string&) {
  return kTrue;
}
BOOL CECFBase::ReadCFeKey(const std::string&, long, std::string&) {
  return kTrue;
}
BOOL CECFBase::ReadLastCFeKey(std::string&) {
  return kTrue;
}

BOOL CECFBase::RegistraDescontoItemApos(long, double) {
  strLastError = cp("Método RegistraDescontoItemApos não disponível para esse ECF.");
  return kFalse;
}

BOOL CECFBase::CancelaDescontoItem(long, BOOL) {
  strLastError = cp("Método CancelaDescontoItem não disponível para esse ECF.");
  return kFalse;
}

BOOL CECFBase::SetCheckFooter(const std::string& strFooterText) {
  strCheckFooter = strFooterText;
  return kTrue;
}

double CECFBase::GetSaleTotal() {
  return 0.0;
}
double CECFBase::GetCancelTotal() {
  return 0.0;
}
double CECFBase::GetDiscountTotal() {
  return 0.0;
}
double CECFBase::GetIncreaseTotal() {
  return 0.0;
}
double CECFBase::GetFinalGrandTotal() {
  return 0.0;
}
long CECFBase::GetPrinterID() {
  return 0;
}
short CECFBase::GetUserNumber() {
  return 0;
}
DateTime CECFBase::GetUserDateTime() {
  return DateTime::invalid();
}
short CECFBase::GetUserRestartCounter() {
  return 0;
}
std::string CECFBase::GetFirmwareVersion() {
  return {};
}
DateTime CECFBase::GetFirmwareDateTime() {
  return DateTime::invalid();
}
std::string CECFBase::LibraryVersion() {
  return "01.00.00";
}
long CECFBase::GetOperationCounter() {
  return 0;
}
long CECFBase::GetFiscalReceiptCounter() {
  return 0;
}
long CECFBase::GetNonFiscalCounter() {
  return 0;
}
long CECFBase::GetPaymentReceiptCounter() {
  return 0;
}
long CECFBase::GetManagementReportCounter() {
  return 0;
}
double CECFBase::GetNonFiscalTotal() {
  return 0.0;
}

DateTime CECFBase::GetLastDocumentDateTime() {
  DateTime dt = DateTime::invalid();
  if (ReadDateTime(dt)) return dt;
  return DateTime::now();
}

long CECFBase::GetZReportCounter() {
  return intZReportCounter;
}
long CECFBase::GetRestartCounter() {
  return intRestartCounter;
}
double CECFBase::GetUserGrandTotal() {
  return 0.0;
}
BOOL CECFBase::FinishOperation() {
  return kTrue;
}
BOOL CECFBase::GetPendingZReport() {
  return kFalse;
}
std::string CECFBase::GetEquipamentMark() {
  return {};
}
std::string CECFBase::GetEquipamentModel() {
  return {};
}
std::string CECFBase::GetEquipamentType() {
  return "ECF-IF";
}
std::string CECFBase::AditionalFiscalMemory() {
  return " ";
}

BOOL CECFBase::ReadOperationsByDate(DateTime, DateTime, const std::string&) {
  strLastError = cp("Função não suportada pelo modelo de ECF utilizado.");
  return kFalse;
}

BOOL CECFBase::ReadOperationsByCounter(long, long, const std::string&) {
  strLastError = cp("Função não suportada pelo modelo de ECF utilizado.");
  return kFalse;
}

BOOL CECFBase::DiscountISSQN(std::string& strOut) {
  strOut.clear();
  return kTrue;
}

DateTime CECFBase::GetDataMovUltimaRZ() {
  return DateTime::invalid();
}
std::string CECFBase::GetCustomerCode() {
  return strCustomerCode;
}
std::string CECFBase::GetCustomerName() {
  return strCustomerName;
}
std::string CECFBase::GetCustomerAddress() {
  return strCustomerAddress;
}
DateTime CECFBase::GetFiscalDate() {
  return dtFiscalDate;
}

long CECFBase::GetLastItemNumber() {
  Log("CECFBase::GetLastItemNumber", cp("início"));
  Log("CECFBase::GetLastItemNumber", text::format("Retorno=%d", nLastItemNumber));
  return nLastItemNumber;
}

std::string CECFBase::LastPaymentType() {
  return strLastPaymentType;
}
std::string CECFBase::LastItemCode() {
  return strLastItemCode;
}
std::string CECFBase::LastItemDescription() {
  return strLastItemDescription;
}
std::string CECFBase::LastItemUnit() {
  return strLastItemUnit;
}
std::string CECFBase::LastItemLabel() {
  return strLastItemLabel;
}
BOOL CECFBase::ErroRegistroDescontoItem() {
  return bErroRegistroDescontoItem;
}
long CECFBase::StatusComprovante() {
  return nStatusComprovante;
}
BOOL CECFBase::TransmitirReducaoZ() {
  return bTransmitirReducaoZ;
}
void CECFBase::SetTransmitirReducaoZ(BOOL value) {
  bTransmitirReducaoZ = value;
}

// ---------------------------------------------------------------- operations that only submit
// Without a driver's framing these send nothing and succeed.

BOOL CECFBase::InitialConfiguration() {
  return Submit();
}
BOOL CECFBase::FechaComprovanteVinculado() {
  return Submit();
}
BOOL CECFBase::OpenNamedReport(const std::string& /*strReportName*/) {
  return Submit();
}
BOOL CECFBase::AbreRelatorioGerencial() {
  return Submit();
}
BOOL CECFBase::FechaRelatorioGerencial() {
  return Submit();
}
BOOL CECFBase::LoadNonFiscalTitles() {
  return Submit();
}
BOOL CECFBase::LoadReports() {
  return Submit();
}
BOOL CECFBase::LoadPaymentTypes(BOOL /*bLoadValues*/) {
  return Submit();
}
BOOL CECFBase::LoadPaymentTypes() {
  return Submit();
}
BOOL CECFBase::CancelaCupomFiscal() {
  return Submit();
}
BOOL CECFBase::LeituraX() {
  return Submit();
}
BOOL CECFBase::ReducaoZ(DateTime /*dtReducao*/) {
  return Submit();
}
BOOL CECFBase::AbreCupomFiscal() {
  return Submit();
}
BOOL CECFBase::LoadTaxes() {
  return Submit();
}
BOOL CECFBase::EnviaTextoComprovanteVinculado(const std::string& /*strTextoComprovante*/) {
  return Submit();
}
BOOL CECFBase::AbreComprovanteVinculado(const std::string& /*strPaymentType*/, double /*nValorPagamento*/,
                                        const std::string& /*strNumeroCupom*/) {
  return Submit();
}
BOOL CECFBase::ComprovanteNaoFiscalNaoVinculado(long /*intTitle*/, double /*nValor*/,
                                                const std::string& /*strPaymentType*/) {
  return Submit();
}
BOOL CECFBase::ImprimeRelatorioGerencial(const std::string& /*strTextoRelatorio*/) {
  return Submit();
}
BOOL CECFBase::AdicionaTotalizadorNaoFiscal(const std::string& /*strDescricaoTotalizador*/) {
  return Submit();
}
BOOL CECFBase::RegistraPagamento(const std::string& /*strPaymentType*/, double /*nValorPagamento*/) {
  return Submit();
}
BOOL CECFBase::RegistraItemFiscal(const std::string& /*strCodigoProduto*/, const std::string& /*strDescricaoProduto*/,
                                  const std::string& /*strUnidade*/, double /*nAliquota*/, double /*nQuantidade*/,
                                  double /*nValorUnitario*/, double /*nValorDesconto*/) {
  return Submit();
}
BOOL CECFBase::FechaCupomFiscal(const std::string& /*strPrintMessage*/, double /*nTotalValue*/) {
  return Submit();
}
BOOL CECFBase::RetornaNumeroCupom(std::string& /*strNumeroCupom*/) {
  return Submit();
}
BOOL CECFBase::CancelaItemFiscal(long /*intItem*/, const std::string& /*strDescricao*/, double /*nAliquota*/,
                                 double /*nValor*/, double /*nQuantidade*/, double /*nDesconto*/) {
  return Submit();
}
BOOL CECFBase::TotalizaCupomFiscalAcrescimo(double /*nAcrescimo*/, double /*nTotalValue*/) {
  return Submit();
}
BOOL CECFBase::TotalizaCupomFiscalDesconto(double /*nDesconto*/, double /*nTotalValue*/) {
  return Submit();
}
BOOL CECFBase::AdicionaFormaPagamento(const std::string& /*strPaymentType*/) {
  return Submit();
}
BOOL CECFBase::RedefineFormasPagamento(const std::vector<std::string>& /*arNames*/) {
  return Submit();
}
BOOL CECFBase::AdicionaAliquotaTributaria(double /*nAliquota*/, long /*intTipoAliquota*/) {
  return Submit();
}
BOOL CECFBase::LeituraXSerial(std::string& /*strLeitura*/) {
  return Submit();
}
BOOL CECFBase::VerificaHorarioVerao(BOOL& /*bOut*/) {
  return Submit();
}
BOOL CECFBase::MudaHorarioVerao(BOOL /*bHabilita*/) {
  return Submit();
}
BOOL CECFBase::LeituraMemoriaFiscal(DateTime /*dtInicial*/, DateTime /*dtFinal*/, BOOL /*bResumida*/) {
  return Submit();
}
BOOL CECFBase::LeituraMemoriaFiscalSerial(DateTime /*dtInicial*/, DateTime /*dtFinal*/, std::string& /*strLeitura*/,
                                          BOOL /*bResumida*/) {
  return Submit();
}
BOOL CECFBase::LeituraMFReducao(long /*intInicial*/, long /*intFinal*/, BOOL /*bResumida*/) {
  return Submit();
}
BOOL CECFBase::LeituraMFSerialReducao(long /*intInicial*/, long /*intFinal*/, std::string& /*strLeitura*/,
                                      BOOL /*bResumida*/) {
  return Submit();
}
BOOL CECFBase::CupomFiscalAberto(BOOL& /*bOut*/) {
  return Submit();
}
BOOL CECFBase::OpenCashDrawer() {
  return Submit();
}
BOOL CECFBase::AuthenticateDocument(const std::string& /*strAdditionalInfo*/) {
  return Submit();
}
BOOL CECFBase::IsLowPaper() {
  return Submit();
}
BOOL CECFBase::CanCancelReceipt() {
  return Submit();
}
BOOL CECFBase::IsCashDrawerClosed() {
  return Submit();
}
BOOL CECFBase::PrintSecondReceipt() {
  return Submit();
}
BOOL CECFBase::PrintSecondReport() {
  return Submit();
}
BOOL CECFBase::PrintCustomerInfo(const std::string& /*strCustomerInfo*/) {
  return Submit();
}
BOOL CECFBase::CutPaper() {
  return Submit();
}
BOOL CECFBase::NonFiscalReceipt(double /*nValue*/, const std::string& /*strTitle*/,
                                const std::string& /*strPaymentType*/) {
  return Submit();
}
BOOL CECFBase::SetCustomerInfo(const std::string& /*strCustomerCode*/, const std::string& /*strCustomerName*/,
                               const std::string& /*strCustomerAddress*/) {
  return Submit();
}
BOOL CECFBase::RegisterService(const std::string& /*strProductCode*/, const std::string& /*strDescription*/,
                               const std::string& /*strUnit*/, double /*nTaxPercent*/, double /*nQuantity*/,
                               double /*nUnitValue*/, double /*nDiscountValue*/) {
  return Submit();
}
BOOL CECFBase::DisplaySubtotal() {
  return Submit();
}
BOOL CECFBase::SetOperator(const std::string& /*strOperator*/) {
  return Submit();
}
BOOL CECFBase::DisplayText(const std::string& /*strFirstLine*/, const std::string& /*strSecondLine*/) {
  return Submit();
}
BOOL CECFBase::ResetNonFiscalTitles() {
  return Submit();
}
BOOL CECFBase::ReadSerialNumber(std::string& /*strOut*/) {
  return Submit();
}
BOOL CECFBase::ReadDateTime(DateTime& /*dtOut*/) {
  return Submit();
}
BOOL CECFBase::ReadFiscalInformation() {
  return Submit();
}
BOOL CECFBase::ReadCheck(BOOL /*bKeepCheck*/, std::string& /*strCheckInfo*/) {
  return Submit();
}
BOOL CECFBase::PrintCheck(double /*nValue*/, const std::string& /*strBankNumber*/) {
  return Submit();
}
BOOL CECFBase::ReadAndPrintCheck(double /*nValue*/, const std::string& /*strBankNumber*/,
                                 std::string& /*strCheckInfo*/) {
  return Submit();
}
BOOL CECFBase::ReleaseCheck() {
  return Submit();
}
BOOL CECFBase::SetCheckConfiguration(const std::string& /*strSingleCurrency*/,
                                     const std::string& /*strMultipleCurrency*/, const std::string& /*strCheckLocal*/,
                                     const std::string& /*strCheckCarrier*/, DateTime /*dtCheck*/,
                                     DateTime /*dtDeposit*/) {
  return Submit();
}
BOOL CECFBase::SetCheckAdditionalInfo(const std::string& /*strAdditionalInfo*/) {
  return Submit();
}
BOOL CECFBase::IsDocumentInserted() {
  return Submit();
}
BOOL CECFBase::PrintCheckText(const std::string& /*strText*/) {
  return Submit();
}

}  // namespace tarvion
