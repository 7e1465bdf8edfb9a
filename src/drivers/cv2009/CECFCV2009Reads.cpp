// CECFCV2009: the reports, the fiscal memory and detail reads, the tables and
// the information reads (command 0x001A).
#include <cmath>

#include "core/fields.h"
#include "core/text.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "drivers/cv2009/cv2009_ops.h"
#include "platform/durable_file.h"
#include "platform/platform.h"

namespace tarvion {

using namespace cv2009;
using text::cp;
using text::format;

namespace {

// Mode characters of the fiscal memory read: printed or returned, complete or
// simplified.
char memoryMode(bool returned, BOOL simplified) {
  if (returned) return simplified ? 'r' : 'R';
  return simplified ? 'i' : 'I';
}

std::string attribute(const std::string& xml, const std::string& name) {
  const std::string key = name + "=\"";
  const size_t at = xml.find(key);
  if (at == std::string::npos) return {};
  const size_t from = at + key.size();
  const size_t to = xml.find('"', from);
  return to == std::string::npos ? std::string() : xml.substr(from, to - from);
}

}  // namespace

long CECFCV2009::ReadCounter(const char* where, int group, int item) {
  if (!ReadInfo(where, group, item) || arCampos.empty()) return 0;
  return integerOf(arCampos[0]);
}

double CECFCV2009::ReadAmount(const char* where, int group, int item) {
  if (!ReadInfo(where, group, item) || arCampos.empty()) return 0.0;
  return amountOf(arCampos[0]) / 100.0;
}

// ---------------------------------------------------------------- reports

BOOL CECFCV2009::LeituraX() {
  const char* where = "CECFCV2009::LeituraX";
  return guarded(*this, where, kFalse, [&] {
    DocumentStarting();
    const BOOL ok = Execute(where, cmd::LeituraX, {"0"});
    DocumentDone(ok);
    return finish(*this, where, ok);
  });
}

BOOL CECFCV2009::LeituraXSerial(std::string& strLeitura) {
  const char* where = "CECFCV2009::LeituraXSerial";
  return guarded(*this, where, kFalse, [&] {
    std::string out;
    const BOOL ok = ReadBlocks(where, cmd::LeituraX, {"1"}, out);
    if (ok) strLeitura = out;
    return finish(*this, where, ok);
  });
}

// Wire example, the Z reduction on 04/12/2026 at 09:30:00:
//   parameters "04122026|093000|||10|"; reply data "DDMMYYYY|" (its date)
BOOL CECFCV2009::ReducaoZ(DateTime dtReducao) {
  const char* where = "CECFCV2009::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    // The printer closes the day at its own clock's moment; the host's date is
    // only logged.
    if (DateParts asked; Logging() && dtReducao.parts(asked))
      Log(where, format("dtReducao=%02d/%02d/%04d", asked.day, asked.month, asked.year));
    const DateTime now = DateTime::now();
    const BOOL ok = Execute(where, cmd::ReducaoZ, {dateText(now), timeText(now), "", "", "10"});
    return finish(*this, where, ok);
  });
}

BOOL CECFCV2009::ReadFiscalMemory(const char* where, char mode, const std::string& d0, const std::string& d1,
                                  const std::string& c0, const std::string& c1, std::string* out) {
  const std::vector<std::string> params{std::string(1, mode), d0, d1, c0, c1};
  if (out) {
    std::string text;
    if (!ReadBlocks(where, cmd::FiscalMemory, params, text)) return kFalse;
    *out = text;
    return kTrue;
  }
  DocumentStarting();
  const BOOL ok = Execute(where, cmd::FiscalMemory, params);
  DocumentDone(ok);
  return ok;
}

BOOL CECFCV2009::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) {
  const char* where = "CECFCV2009::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    return finish(
        *this, where,
        ReadFiscalMemory(where, memoryMode(false, bResumida), dateText(dtInicial), dateText(dtFinal), "", "", nullptr));
  });
}

BOOL CECFCV2009::LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                            BOOL bResumida) {
  const char* where = "CECFCV2009::LeituraMemoriaFiscalSerial";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where,
                  ReadFiscalMemory(where, memoryMode(true, bResumida), dateText(dtInicial), dateText(dtFinal), "", "",
                                   &strLeitura));
  });
}

BOOL CECFCV2009::LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) {
  const char* where = "CECFCV2009::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where,
                  ReadFiscalMemory(where, memoryMode(false, bResumida), "", "", std::to_string(intInicial),
                                   std::to_string(intFinal), nullptr));
  });
}

BOOL CECFCV2009::LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) {
  const char* where = "CECFCV2009::LeituraMFSerialReducao";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where,
                  ReadFiscalMemory(where, memoryMode(true, bResumida), "", "", std::to_string(intInicial),
                                   std::to_string(intFinal), &strLeitura));
  });
}

BOOL CECFCV2009::WriteHostFile(const char* where, const std::string& path, const std::string& data) {
  if (path.empty()) return refuse(*this, where, cp("Caminho do arquivo destino não informado."));
  std::string error;
  // The old file stays whole until the new one is on the disk. A file that
  // cannot be made fails like any other system call: "(code)text", the text
  // in the system's own language.
  if (!platform::replaceFile(path, data, &error)) {
    const int code = platform::lastError();
    Log(where, error);
    return refuse(*this, where, format("(%d)%s", code, platform::systemErrorText(code).c_str()));
  }
  return kTrue;
}

BOOL CECFCV2009::ReadMemoryToFile(const char* where, uint16_t code, int mode, const std::string& d0,
                                  const std::string& d1, const std::string& c0, const std::string& c1,
                                  const std::string& file) {
  return guarded(*this, where, kFalse, [&] {
    if (text::trim(file).empty()) return refuse(*this, where, cp("Caminho do arquivo destino não informado."));
    const char modeChar = mode <= 0 ? '1' : mode == 1 ? '2' : '3';
    std::string data;
    if (!ReadBlocks(where, code, {std::string(1, modeChar), d0, d1, c0, c1, "", ""}, data))
      return finish(*this, where, kFalse);
    return finish(*this, where, WriteHostFile(where, file, data));
  });
}

BOOL CECFCV2009::LeMFDataBIN(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName) {
  return ReadMemoryToFile("CECFCV2009::LeMFDataBIN", cmd::FiscalMemoryBin, 0, dateText(dtStartDate),
                          dateText(dtFinishDate), "", "", strFileName);
}

BOOL CECFCV2009::LeMFContZBIN(long intStartCounter, long intFinishCounter, const std::string& strFileName) {
  return ReadMemoryToFile("CECFCV2009::LeMFContZBIN", cmd::FiscalMemoryBin, 0, "", "", std::to_string(intStartCounter),
                          std::to_string(intFinishCounter), strFileName);
}

BOOL CECFCV2009::ReadOperationsByDate(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName) {
  return ReadMemoryToFile("CECFCV2009::ReadOperationsByDate", cmd::DetailMemory, 0, dateText(dtStartDate),
                          dateText(dtFinishDate), "", "", strFileName);
}

BOOL CECFCV2009::ReadOperationsByCounter(long intStartCounter, long intFinishCounter, const std::string& strFileName) {
  return ReadMemoryToFile("CECFCV2009::ReadOperationsByCounter", cmd::DetailMemory, 0, "", "",
                          std::to_string(intStartCounter), std::to_string(intFinishCounter), strFileName);
}

// The kinds of CF-e-ECF id: 0 the access key, 1 the document number.
BOOL CECFCV2009::ReadCFeXML(const std::string& strIdCFeI, const std::string& strIdCFeF, long intTipo, BOOL bParaArquivo,
                            std::string& strXML) {
  const char* where = "CECFCV2009::ReadCFeXML";
  return guarded(*this, where, kFalse, [&] {
    if (text::trim(strIdCFeI).empty()) return refuse(*this, where, cp("Id inicial do CF-e-ECF não informado."));
    if (intTipo < 0 || intTipo > 1) return refuse(*this, where, cp("Tipo de Id do CF-e-ECF inválido."));
    if (bParaArquivo && text::trim(strXML).empty())
      return refuse(*this, where, cp("Caminho do arquivo destino não informado."));
    const std::string last = text::trim(strIdCFeF).empty() ? strIdCFeI : strIdCFeF;
    std::string xml;
    if (!ReadBlocks(where, cmd::CFeXml, {std::to_string(intTipo), text::trim(strIdCFeI), text::trim(last)}, xml))
      return finish(*this, where, kFalse);
    Log(where, "Id=" + attribute(xml, "Id"));
    if (bParaArquivo) return finish(*this, where, WriteHostFile(where, strXML, xml));
    strXML = xml;
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::ReadCFeKey(const std::string& strIdCFe, long intTipo, std::string& strKey) {
  const char* where = "CECFCV2009::ReadCFeKey";
  return guarded(*this, where, kFalse, [&] {
    if (text::trim(strIdCFe).empty()) return refuse(*this, where, cp("Id do CF-e-ECF não informado."));
    if (intTipo < 0 || intTipo > 1) return refuse(*this, where, cp("Tipo de Id do CF-e-ECF inválido."));
    std::string xml;
    const std::string id = text::trim(strIdCFe);
    if (!ReadBlocks(where, cmd::CFeXml, {std::to_string(intTipo), id, id}, xml)) return finish(*this, where, kFalse);
    strKey = attribute(xml, "Id");
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::VerificaHorarioVerao(BOOL& bOut) {
  const char* where = "CECFCV2009::VerificaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 9, 0)) return finish(*this, where, kFalse);
    bOut = arCampos.size() > 1 && arCampos[1] == "1" ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

// The command turns daylight saving over: it is sent only when the printer is
// not already where the host wants it.
BOOL CECFCV2009::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CECFCV2009::MudaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    BOOL now = kFalse;
    if (!VerificaHorarioVerao(now)) return finish(*this, where, kFalse);
    if ((now != 0) == (bHabilita != 0)) return finish(*this, where, kTrue);
    return finish(*this, where, Execute(where, cmd::DaylightSaving, {"10"}));
  });
}

BOOL CECFCV2009::SetPAFECFIdentification(const std::string& strLine1, const std::string& strLine2) {
  const char* where = "CECFCV2009::SetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    std::string serial, ident;
    ObtemRegPAFECFIdentification(serial, ident);
    if (AlterarHVAgendado) {
      Log(where, cp("Não alterar identificação - alteração no horário de verão agendada."));
      return finish(*this, where, kTrue);
    }
    std::string printerSerial;
    if (!ReadSerialNumber(printerSerial)) return finish(*this, where, kFalse);
    const std::string line1 = text::printable(strLine1), line2 = text::printable(strLine2);
    const std::string wanted = line1 + line2;
    std::string padded = printerSerial.substr(0, 20);
    padded.resize(20, ' ');
    strPAFLine1 = line1;
    strPAFLine2 = line2;
    if (serial == padded && ident == wanted) {
      Log(where, cp("Identificação já gravada no ECF."));
      return finish(*this, where, kTrue);
    }
    std::string textParam = format("42.42%s%s", line1.c_str(), line2.c_str());
    for (char& c : textParam)
      if (c == '|') c = ' ';
    if (!Execute(where, cmd::AppIdentification, {textParam})) return finish(*this, where, kFalse);
    bPAFIdentification = kTrue;
    AtribuiRegPAFECFIdentification(padded, wanted);
    return finish(*this, where, kTrue);
  });
}

// Only an identification this driver gave is taken back (closing the port
// runs this too).
BOOL CECFCV2009::ResetPAFECFIdentification() {
  const char* where = "CECFCV2009::ResetPAFECFIdentification";
  return guarded(*this, where, kFalse, [&] {
    if (!bPAFIdentification) return kTrue;
    bPAFIdentification = kFalse;
    return finish(*this, where, Execute(where, cmd::AppIdentification, {" "}));
  });
}

// ---------------------------------------------------------------- tables

BOOL CECFCV2009::LoadTaxes() {
  const char* where = "CECFCV2009::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 11, 0)) return finish(*this, where, kFalse);
    arTaxes.clear();
    ResetTaxes();
    for (const std::string& f : arCampos) {
      if (f.size() < 7) continue;
      arTaxes.push_back(f);
      if (TaxesCount < static_cast<int16_t>(arTaxTable.size())) {
        TaxEntry& e = arTaxTable[static_cast<size_t>(TaxesCount++)];
        e.percent = static_cast<double>(integerOf(f.substr(3, 4))) / 100.0;
        e.title = f.substr(0, 3);
      }
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::RetornaAliquotas(std::string& strOut) {
  const char* where = "CECFCV2009::RetornaAliquotas";
  return guarded(*this, where, kFalse, [&] {
    if (!LoadTaxes()) return kFalse;
    strOut.clear();
    for (const std::string& t : arTaxes) {
      if (!strOut.empty()) strOut += ";";
      strOut += t.substr(0, 1) + t.substr(3, 2) + "." + t.substr(5, 2);
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::LoadPaymentTypes(BOOL bLoadValues) {
  const char* where = "CECFCV2009::LoadPaymentTypes";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 14, 0)) return finish(*this, where, kFalse);
    arPaymentTypes = arCampos;
    arPaymentValues.assign(arPaymentTypes.size(), 0.0);
    if (bLoadValues) {
      if (!ReadInfo(where, 7, 0)) return finish(*this, where, kFalse);
      for (size_t i = 0; i < arCampos.size() && i < arPaymentValues.size(); ++i)
        arPaymentValues[i] = amountOf(arCampos[i]) / 100.0;
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::LoadNonFiscalTitles() {
  const char* where = "CECFCV2009::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 12, 0)) return finish(*this, where, kFalse);
    arNonFiscalTitles = arCampos;
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::LoadReports() {
  const char* where = "CECFCV2009::LoadReports";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 13, 0)) return finish(*this, where, kFalse);
    arReports = arCampos;
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::AdicionaFormaPagamento(const std::string& strPaymentType) {
  const char* where = "CECFCV2009::AdicionaFormaPagamento";
  return guarded(*this, where, kFalse, [&] {
    if (!LoadPaymentTypes(kFalse)) return finish(*this, where, kFalse);
    std::string name = text::printable(strPaymentType);
    for (char& c : name)
      if (c == '|') c = ' ';
    const BOOL ok = Execute(where, cmd::AddTable, {std::to_string(arPaymentTypes.size() + 1), name, "1"});
    if (ok) arPaymentTypes.push_back(name);
    return finish(*this, where, ok);
  });
}

// The printer's next index in decimal for either kind of rate: the command
// carries no letter.
BOOL CECFCV2009::AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) {
  const char* where = "CECFCV2009::AdicionaAliquotaTributaria";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result rate = fields::format(nAliquota, fields::Field{"Percentual", 4, 2});
    if (!rate.ok()) return refuse(*this, where, rate.error);
    if (!LoadTaxes()) return finish(*this, where, kFalse);
    if (Logging()) Log(where, format("intTipoAliquota=%ld", intTipoAliquota));
    const std::string index = std::to_string(arTaxes.size() + 1);
    return finish(*this, where, Execute(where, cmd::AddTable, {index, "", rate.text}));
  });
}

namespace {
BOOL addTitle(CECFCV2009& d, const char* where, const std::string& title, const char* kind,
              BOOL (CECFCV2009::*exec)(const char*, uint16_t, const std::vector<std::string>&, bool)) {
  std::string name = text::printable(title);
  for (char& c : name)
    if (c == '|') c = ' ';
  return (d.*exec)(where, cmd::AddNonFiscalTitle, {std::to_string(d.arNonFiscalTitles.size() + 1), name, kind}, false);
}
}  // namespace

BOOL CECFCV2009::AdicionaTotalizadorNaoFiscal(const std::string& strDescricaoTotalizador) {
  const char* where = "CECFCV2009::AdicionaTotalizadorNaoFiscal";
  return guarded(*this, where, kFalse, [&] {
    if (!LoadNonFiscalTitles()) return finish(*this, where, kFalse);
    const BOOL ok = addTitle(*this, where, strDescricaoTotalizador, "E", &CECFCV2009::Execute);
    if (ok) arNonFiscalTitles.push_back(strDescricaoTotalizador);
    return finish(*this, where, ok);
  });
}

BOOL CECFCV2009::ResetNonFiscalTitles() {
  const char* where = "CECFCV2009::ResetNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    struct Title {
      const char* name;
      const char* kind;
    };
    static const Title kTitles[] = {
        {"VALE", "S"}, {"DESPESAS", "S"}, {"DIVERSOS", "E"}, {"VALE PRODUTO", "E"}, {"VALE PRESENTE", "E"}};
    if (!LoadNonFiscalTitles()) return finish(*this, where, kFalse);
    for (const Title& t : kTitles) {
      bool present = false;
      for (const std::string& have : arNonFiscalTitles) present = present || text::upper(text::trim(have)) == t.name;
      if (present) continue;
      if (!addTitle(*this, where, t.name, t.kind, &CECFCV2009::Execute)) return finish(*this, where, kFalse);
      arNonFiscalTitles.push_back(t.name);
    }
    return finish(*this, where, kTrue);
  });
}

// ---------------------------------------------------------------- information

BOOL CECFCV2009::CupomFiscalAberto(BOOL& bOut) {
  const char* where = "CECFCV2009::CupomFiscalAberto";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 16, 5)) return finish(*this, where, kFalse);
    bOut = !arCampos.empty() && integerOf(arCampos[0]) != 0 ? kTrue : kFalse;
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::IsLowPaper() {
  const char* where = "CECFCV2009::IsLowPaper";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 16, 2)) return kFalse;
    return !arCampos.empty() && arCampos[0] == "0" ? kTrue : kFalse;
  });
}

BOOL CECFCV2009::IsCashDrawerClosed() {
  const char* where = "CECFCV2009::IsCashDrawerClosed";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 16, 1)) return kFalse;
    return !arCampos.empty() && arCampos[0] == "1" ? kTrue : kFalse;
  });
}

BOOL CECFCV2009::ReadSerialNumber(std::string& strOut) {
  const char* where = "CECFCV2009::ReadSerialNumber";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 15, 4)) return finish(*this, where, kFalse);
    strOut = arCampos.empty() ? std::string() : text::trim(arCampos[0]);
    strSerialNumber = strOut;
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::ReadDateTime(DateTime& dtOut) {
  const char* where = "CECFCV2009::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 9, 0) || arCampos.empty()) return finish(*this, where, kFalse);
    dtOut = ParseDateTimeText(arCampos[0]);
    return finish(*this, where, dtOut.valid() ? kTrue : kFalse);
  });
}

BOOL CECFCV2009::ReadFiscalInformation() {
  const char* where = "CECFCV2009::ReadFiscalInformation";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 1, 0)) return finish(*this, where, kFalse);
    auto field = [&](size_t i) { return i < arCampos.size() ? arCampos[i] : std::string(); };
    intFinalOperation = static_cast<int>(integerOf(field(0)));
    intRestartCounter = static_cast<int>(integerOf(field(1)));
    intZReportCounter = static_cast<int>(integerOf(field(2)));
    if (!ReadInfo(where, 4, 0)) return finish(*this, where, kFalse);
    nFinalGrandTotal = amountOf(field(0)) / 100.0;
    nSaleTotal = amountOf(field(1)) / 100.0;
    nCancelTotal = amountOf(field(2)) / 100.0;
    nDiscountTotal = amountOf(field(3)) / 100.0;
    nIncreaseTotal = amountOf(field(4)) / 100.0;
    // The tax totalisers and the totals outside ICMS, read for the log.
    if (!ReadInfo(where, 5, 0)) return finish(*this, where, kFalse);
    if (Logging()) Log(where, "Totalizadores=" + std::to_string(arCampos.size()));
    if (!ReadInfo(where, 6, 1)) return finish(*this, where, kFalse);
    if (Logging()) Log(where, "NaoTributados=" + std::to_string(arCampos.size()));
    if (!ReadInfo(where, 8, 0)) return finish(*this, where, kFalse);
    dtFiscalDate = ParseDateTimeText(field(1));
    intInitialOperation = static_cast<int>(integerOf(field(2)));
    nInitialGrandTotal = amountOf(field(3)) / 100.0;
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::DiscountISSQN(std::string& strOut) {
  const char* where = "CECFCV2009::DiscountISSQN";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 99, 10)) return finish(*this, where, kFalse);
    strOut = arCampos.empty() ? std::string() : arCampos[0];
    return finish(*this, where, kTrue);
  });
}

BOOL CECFCV2009::GetPendingZReport() {
  const char* where = "CECFCV2009::GetPendingZReport";
  return guarded(*this, where, kFalse, [&] {
    if (!ReadInfo(where, 8, 0)) return kFalse;
    return !arCampos.empty() && arCampos[0] == "2" ? kTrue : kFalse;
  });
}

DateTime CECFCV2009::GetFiscalDate() {
  const char* where = "CECFCV2009::GetFiscalDate";
  return guarded(*this, where, DateTime::invalid(), [&] {
    if (!ReadInfo(where, 8, 0) || arCampos.size() < 2) return DateTime::invalid();
    return ParseDateTimeText(arCampos[1]);
  });
}

double CECFCV2009::GetSaleTotal() {
  return ReadAmount("CECFCV2009::GetSaleTotal", 4, 2);
}
double CECFCV2009::GetCancelTotal() {
  return ReadAmount("CECFCV2009::GetCancelTotal", 4, 3);
}
double CECFCV2009::GetDiscountTotal() {
  return ReadAmount("CECFCV2009::GetDiscountTotal", 4, 4);
}
double CECFCV2009::GetIncreaseTotal() {
  return ReadAmount("CECFCV2009::GetIncreaseTotal", 4, 8);
}
double CECFCV2009::GetUserGrandTotal() {
  return ReadAmount("CECFCV2009::GetUserGrandTotal", 4, 1);
}
double CECFCV2009::GetNonFiscalTotal() {
  return ReadAmount("CECFCV2009::GetNonFiscalTotal", 3, 0);
}
long CECFCV2009::GetPrinterID() {
  return ReadCounter("CECFCV2009::GetPrinterID", 15, 5);
}
long CECFCV2009::GetOperationCounter() {
  return ReadCounter("CECFCV2009::GetOperationCounter", 1, 1);
}
long CECFCV2009::GetNonFiscalCounter() {
  return ReadCounter("CECFCV2009::GetNonFiscalCounter", 1, 2);
}
long CECFCV2009::GetRestartCounter() {
  return ReadCounter("CECFCV2009::GetRestartCounter", 1, 3);
}
long CECFCV2009::GetZReportCounter() {
  return ReadCounter("CECFCV2009::GetZReportCounter", 1, 4);
}
long CECFCV2009::GetFiscalReceiptCounter() {
  return ReadCounter("CECFCV2009::GetFiscalReceiptCounter", 1, 5);
}
long CECFCV2009::GetPaymentReceiptCounter() {
  return ReadCounter("CECFCV2009::GetPaymentReceiptCounter", 1, 8);
}
long CECFCV2009::GetManagementReportCounter() {
  return ReadCounter("CECFCV2009::GetManagementReportCounter", 1, 9);
}

std::string CECFCV2009::GetFirmwareVersion() {
  const char* where = "CECFCV2009::GetFirmwareVersion";
  return guarded(*this, where, std::string(), [&] {
    if (!ReadInfo(where, 15, 14) || arCampos.empty()) return std::string();
    return arCampos[0];
  });
}

DateTime CECFCV2009::GetLastDocumentDateTime() {
  const char* where = "CECFCV2009::GetLastDocumentDateTime";
  return guarded(*this, where, DateTime::invalid(), [&] {
    if (!ReadInfo(where, 99, 3) || arCampos.size() < 2) return DateTime::invalid();
    return ParseDateTimeText(arCampos[0] + arCampos[1]);
  });
}

DateTime CECFCV2009::GetDataMovUltimaRZ() {
  const char* where = "CECFCV2009::GetDataMovUltimaRZ";
  return guarded(*this, where, DateTime::invalid(), [&] {
    if (!ReadInfo(where, 1, 4) || arCampos.size() < 2) return DateTime::invalid();
    const std::string record = arCampos[1];
    if (!ReadInfo(where, 17, static_cast<int>(integerOf(record))) || arCampos.size() < 3) return DateTime::invalid();
    return ParseDateTimeText(arCampos[2].substr(0, 8));
  });
}

}  // namespace tarvion
