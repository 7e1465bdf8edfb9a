// CFiscNET: daily reports, fiscal memory and detail-tape reads (printed or
// returned), the printer's tables, its settings and the registers behind the
// information operations.
#include <cmath>

#include "drivers/fiscnet/CFiscNET.h"
#include "drivers/fiscnet/fiscnet_ops.h"
#include "platform/durable_file.h"

namespace tarvion {

using namespace fiscnet;
using text::cp;
using text::format;

namespace {

// A read that never ends is a printer gone wrong: it stops here.
constexpr size_t kMaxSerialRead = 16u << 20;
constexpr int kMaxSerialChunks = 200000;

std::string flag(bool v) {
  return v ? "T" : "F";
}

}  // namespace

// ---------------------------------------------------------------- reports

BOOL CFiscNET::PrintedRead(const char* where, const char* command, std::initializer_list<std::string> params) {
  if (!Command(command, params)) return finish(*this, where, kFalse);
  Advance();
  AfterDocument();
  return finish(*this, where, kTrue);
}

BOOL CFiscNET::LeituraX() {
  const char* where = "CFiscNET::LeituraX";
  return guarded(*this, where, kFalse, [&] { return PrintedRead(where, "EmiteLeituraX", {}); });
}

// Wire example: {9;EmiteReducaoZ;Hora=#23:59:00#;32}; refused, it goes again
// without the time: {10;EmiteReducaoZ;;19}.
BOOL CFiscNET::ReducaoZ(DateTime dtReducao) {
  const char* where = "CFiscNET::ReducaoZ";
  return guarded(*this, where, kFalse, [&] {
    bLastZValid = kFalse;
    strLastZData.clear();
    std::string hour;
    BOOL ok = kFalse;
    if (timeValue(dtReducao, hour)) ok = Command("EmiteReducaoZ", {"Hora=" + hour});
    if (!ok) ok = Command("EmiteReducaoZ");
    if (!ok) return finish(*this, where, kFalse);
    Advance();
    AfterDocument();
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::LeituraMemoriaFiscal(DateTime dtInicial, DateTime dtFinal, BOOL bResumida) {
  const char* where = "CFiscNET::LeituraMemoriaFiscal";
  return guarded(*this, where, kFalse, [&] {
    std::string a, b;
    if (!dateValue(dtInicial, a) || !dateValue(dtFinal, b)) return refuse(*this, where, cp("Data inválida."));
    return PrintedRead(where, "EmiteLeituraMF",
                       {"DataInicial=" + a, "DataFinal=" + b, "LeituraSimplificada=" + flag(bResumida)});
  });
}

BOOL CFiscNET::LeituraMFReducao(long intInicial, long intFinal, BOOL bResumida) {
  const char* where = "CFiscNET::LeituraMFReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    const std::string a = num(intInicial, field::kCounter), b = num(intFinal, field::kCounter);
    if (!num.ok()) return refuse(*this, where, num.error());
    return PrintedRead(where, "EmiteLeituraMF",
                       {format("ReducaoInicial=%ld", intInicial), format("ReducaoFinal=%ld", intFinal),
                        "LeituraSimplificada=" + flag(bResumida)});
  });
}

// Collects a report the printer sends back instead of printing: "LeImpressao"
// until a reply carries no more text.
BOOL CFiscNET::SerialRead(const char* where, std::string& out) {
  out.clear();
  for (int n = 0; n < kMaxSerialChunks; ++n) {
    if (!Command("LeImpressao")) return kFalse;
    const std::string piece = replyText(strReply, "TextoImpressao");
    if (piece.empty()) return kTrue;
    out += piece;
    if (out.size() > kMaxSerialRead) break;
  }
  strLastError = cp("A leitura da impressora não terminou.");
  Log(where, strLastError);
  return kFalse;
}

BOOL CFiscNET::LeituraXSerial(std::string& strLeitura) {
  const char* where = "CFiscNET::LeituraXSerial";
  return guarded(*this, where, kFalse, [&] {
    if (!Command("EmiteLeituraX", {textParameter("Destino", "S")})) return finish(*this, where, kFalse);
    return finish(*this, where, SerialRead(where, strLeitura));
  });
}

BOOL CFiscNET::LeituraMemoriaFiscalSerial(DateTime dtInicial, DateTime dtFinal, std::string& strLeitura,
                                          BOOL bResumida) {
  const char* where = "CFiscNET::LeituraMemoriaFiscalSerial";
  return guarded(*this, where, kFalse, [&] {
    std::string a, b;
    if (!dateValue(dtInicial, a) || !dateValue(dtFinal, b)) return refuse(*this, where, cp("Data inválida."));
    if (!Command("EmiteLeituraMF", {"DataInicial=" + a, "DataFinal=" + b, "LeituraSimplificada=" + flag(bResumida),
                                    textParameter("Destino", "S")}))
      return finish(*this, where, kFalse);
    return finish(*this, where, SerialRead(where, strLeitura));
  });
}

BOOL CFiscNET::LeituraMFSerialReducao(long intInicial, long intFinal, std::string& strLeitura, BOOL bResumida) {
  const char* where = "CFiscNET::LeituraMFSerialReducao";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    num(intInicial, field::kCounter);
    num(intFinal, field::kCounter);
    if (!num.ok()) return refuse(*this, where, num.error());
    if (!Command("EmiteLeituraMF", {format("ReducaoInicial=%ld", intInicial), format("ReducaoFinal=%ld", intFinal),
                                    "LeituraSimplificada=" + flag(bResumida), textParameter("Destino", "S")}))
      return finish(*this, where, kFalse);
    return finish(*this, where, SerialRead(where, strLeitura));
  });
}

// The detail tape read into the host's file. The printer answers slower while
// it reads the tape: the read time-out grows for the duration and comes back
// on every exit. The file is replaced whole or not at all.
BOOL CFiscNET::ReadToFile(const char* where, const std::string& path, std::initializer_list<std::string> params) {
  if (path.empty()) return refuse(*this, where, cp("Nome de arquivo inválido."));
  struct Restore {
    CFiscNET& d;
    ~Restore() {
      d.nReadConstantMs = kReadConstantMs;
      if (d.hPort && d.CarregaTimeoutsPorta()) d.SetCommTimeouts();
    }
  } restore{*this};
  nReadConstantMs = kSerialReadConstantMs;
  if (hPort && CarregaTimeoutsPorta()) SetCommTimeouts();
  if (!Command("EmiteLeituraFitaDetalhe", params)) return finish(*this, where, kFalse);
  std::string textRead;
  if (!SerialRead(where, textRead)) return finish(*this, where, kFalse);
  std::string error;
  if (!platform::replaceFile(path, textRead, &error))
    return refuse(*this, where, cp("Erro ao gravar o arquivo ") + path + ": " + error);
  return finish(*this, where, kTrue);
}

BOOL CFiscNET::ReadOperationsByDate(DateTime dtStartDate, DateTime dtFinishDate, const std::string& strFileName) {
  const char* where = "CFiscNET::ReadOperationsByDate";
  return guarded(*this, where, kFalse, [&] {
    std::string a, b;
    if (!dateValue(dtStartDate, a) || !dateValue(dtFinishDate, b)) return refuse(*this, where, cp("Data inválida."));
    return ReadToFile(where, strFileName, {"DataInicial=" + a, "DataFinal=" + b, textParameter("Destino", "S")});
  });
}

BOOL CFiscNET::ReadOperationsByCounter(long intStartCounter, long intFinishCounter, const std::string& strFileName) {
  const char* where = "CFiscNET::ReadOperationsByCounter";
  return guarded(*this, where, kFalse, [&] {
    fields::Checked num;
    num(intStartCounter, field::kCounter);
    num(intFinishCounter, field::kCounter);
    if (!num.ok()) return refuse(*this, where, num.error());
    return ReadToFile(where, strFileName,
                      {format("COOInicial=%ld", intStartCounter), format("COOFinal=%ld", intFinishCounter),
                       textParameter("Destino", "S")});
  });
}

// ---------------------------------------------------------------- settings and sensors

BOOL CFiscNET::MudaHorarioVerao(BOOL bHabilita) {
  const char* where = "CFiscNET::MudaHorarioVerao";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where, Command("AcertaHorarioVerao", {bHabilita ? "EntradaHV=1" : "EntradaHV=0"}));
  });
}

BOOL CFiscNET::VerificaHorarioVerao(BOOL& bOut) {
  return guarded(*this, "CFiscNET::VerificaHorarioVerao", kFalse, [&] { return ReadIndicator("HorarioVerao", bOut); });
}

BOOL CFiscNET::OpenCashDrawer() {
  const char* where = "CFiscNET::OpenCashDrawer";
  return guarded(*this, where, kFalse,
                 [&] { return finish(*this, where, Command("AbreGaveta", {"TempoAcionamentoGaveta=500"})); });
}

BOOL CFiscNET::IsCashDrawerClosed() {
  return guarded(*this, "CFiscNET::IsCashDrawerClosed", kFalse, [&] {
    BOOL closed = kFalse;
    return ReadIndicator("SensorGaveta", closed) && closed ? kTrue : kFalse;
  });
}

BOOL CFiscNET::PrintSecondReceipt() {
  const char* where = "CFiscNET::PrintSecondReceipt";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("ImprimeCupomAdicional")); });
}

BOOL CFiscNET::PrintSecondReport() {
  const char* where = "CFiscNET::PrintSecondReport";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("ReimprimeViaCreditoDebito")); });
}

BOOL CFiscNET::CutPaper() {
  const char* where = "CFiscNET::CutPaper";
  return guarded(*this, where, kFalse, [&] { return finish(*this, where, Command("CortaPapel", {"TipoCorte=0"})); });
}

BOOL CFiscNET::CupomFiscalAberto(BOOL& bOut) {
  return guarded(*this, "CFiscNET::CupomFiscalAberto", kFalse, [&] { return ReadIndicator("DocumentoAberto", bOut); });
}

// True only when the printer is out of paper; the near-end sensor is read for
// the log.
BOOL CFiscNET::IsLowPaper() {
  const char* where = "CFiscNET::IsLowPaper";
  return guarded(*this, where, kFalse, [&] {
    BOOL out = kFalse;
    if (!ReadIndicator("SemPapel", out)) return kFalse;
    if (out) return kTrue;
    BOOL nearEnd = kFalse;
    if (ReadIndicator("SensorPoucoPapel", nearEnd)) Log(format("%s{return FALSE (%d)}", where, nearEnd ? 1 : 0));
    return kFalse;
  });
}

// ---------------------------------------------------------------- tables

BOOL CFiscNET::AdicionaFormaPagamento(const std::string& strPaymentType) {
  const char* where = "CFiscNET::AdicionaFormaPagamento";
  return guarded(*this, where, kFalse, [&] {
    return finish(*this, where,
                  Command("DefineMeioPagamento",
                          {textParameter("NomeMeioPagamento", oneLine(strPaymentType), 16), "PermiteVinculado=T"}));
  });
}

BOOL CFiscNET::AdicionaAliquotaTributaria(double nAliquota, long intTipoAliquota) {
  const char* where = "CFiscNET::AdicionaAliquotaTributaria";
  return guarded(*this, where, kFalse, [&] {
    const fields::Result rate = decimal(nAliquota, field::kPercent);
    if (!rate.ok()) return refuse(*this, where, rate.error);
    return finish(*this, where,
                  Command("DefineAliquota", {std::string("AliquotaICMS=") + flag(intTipoAliquota == 0),
                                             "PercentualAliquota=" + rate.text}));
  });
}

BOOL CFiscNET::RedefineFormasPagamento(const std::vector<std::string>& arNames) {
  const char* where = "CFiscNET::RedefineFormasPagamento";
  return guarded(*this, where, kFalse, [&] {
    if (!LoadPaymentTypes(kFalse)) return finish(*this, where, kFalse);
    LoadReports();
    BOOL ok = kTrue;
    for (const std::string& raw : arNames) {
      const std::string name = text::trim(oneLine(raw));
      if (name.empty()) continue;
      const std::string wanted = text::upper(name);
      bool payment = false, report = false;
      for (const std::string& p : arPaymentTypes)
        if (p.size() > 3 && text::upper(p.substr(3)) == wanted) payment = true;
      for (const std::string& r : arReports)
        if (text::upper(text::trim(r)) == wanted) report = true;
      if (!payment &&
          !Command("DefineMeioPagamento", {textParameter("NomeMeioPagamento", name, 16), "PermiteVinculado=T"}))
        ok = kFalse;
      if (ok && !report && !Command("DefineGerencial", {textParameter("NomeGerencial", name, 30)})) ok = kFalse;
      if (!ok) break;
    }
    return finish(*this, where, ok);
  });
}

BOOL CFiscNET::LoadTaxes() {
  const char* where = "CFiscNET::LoadTaxes";
  return guarded(*this, where, kFalse, [&] {
    long free = 0;
    if (!ReadInteger("AliquotaDisponivel", free)) return finish(*this, where, kFalse);
    const long last = free < 1 ? 15 : 15 - free;
    arTaxes.clear();
    for (long i = 0; i <= last && i < 16; ++i) {
      if (!Command("LeAliquota", {format("CodAliquotaProgramavel=%ld", i)})) continue;
      const char kind = replyFlag(strReply, "AliquotaICMS") ? 'T' : 'S';
      const double pct = replyMoney(strReply, "PercentualAliquota");
      arTaxes.push_back(format("%c%02ld,", kind, i) + fields::printfFixed(pct, 5, 2));
    }
    strLastError.clear();
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::LoadPaymentTypes(BOOL bLoadValues) {
  const char* where = "CFiscNET::LoadPaymentTypes";
  return guarded(*this, where, kFalse, [&] {
    arPaymentTypes.assign(1, "-2,DINHEIRO");
    arPaymentValues.clear();
    if (bLoadValues) {
      double cash = 0;
      if (!ReadMoney("TotalDiaDinheiro", cash)) return finish(*this, where, kFalse);
      arPaymentValues.push_back(cash);
    }
    for (int i = 0; i < 15; ++i) {
      if (!Command("LeMeioPagamento", {format("CodMeioPagamentoProgram=%i", i)})) continue;
      const std::string name = replyText(strReply, "NomeMeioPagamento");
      if (name.empty()) continue;
      arPaymentTypes.push_back(format("%02i,", i) + name);
      if (bLoadValues) {
        double v = 0;
        if (!ReadMoney(format("TotalDiaMeioPagamento[%i]", i), v)) return finish(*this, where, kFalse);
        arPaymentValues.push_back(v);
      }
    }
    strLastError.clear();
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::LoadReports() {
  const char* where = "CFiscNET::LoadReports";
  return guarded(*this, where, kFalse, [&] {
    arReports.clear();
    for (int i = 0; i < 20; ++i) {
      // Every index keeps its place, so that a name's position is its code.
      if (!Command("LeGerencial", {format("CodGerencial=%i", i)})) {
        Log(where, format("CodGerencial=%d, Erro=%s", i, strLastError.c_str()));
        arReports.emplace_back();
        continue;
      }
      const std::string name = replyText(strReply, "NomeGerencial");
      if (name.empty()) Log(where, format(cp("CodGerencial=%d está vazio.").c_str(), i));
      arReports.push_back(name);
    }
    strLastError.clear();
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::LoadNonFiscalTitles() {
  const char* where = "CFiscNET::LoadNonFiscalTitles";
  return guarded(*this, where, kFalse, [&] {
    arNonFiscalTitles.clear();
    for (int i = 0; i < 15; ++i) {
      if (!Command("LeNaoFiscal", {format("CodNaoFiscal=%i", i)})) continue;
      const std::string name = replyText(strReply, "NomeNaoFiscal");
      if (name.empty()) continue;
      arNonFiscalTitles.push_back(
          format("%02i,%s,%s", i, name.c_str(), replyFlag(strReply, "TipoNaoFiscal") ? "T" : "F"));
    }
    strLastError.clear();
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::RetornaAliquotas(std::string& strOut) {
  strOut.clear();
  return CECFBase::RetornaAliquotas(strOut);
}

// ---------------------------------------------------------------- registers

BOOL CFiscNET::RetornaNumeroCupom(std::string& strNumeroCupom) {
  return guarded(*this, "CFiscNET::RetornaNumeroCupom", kFalse, [&] {
    long coo = 0;
    if (!ReadInteger("COO", coo)) return kFalse;
    strNumeroCupom = format("%ld", coo);
    return kTrue;
  });
}

BOOL CFiscNET::ReadSerialNumber(std::string& strOut) {
  return guarded(*this, "CFiscNET::ReadSerialNumber", kFalse, [&] {
    std::string s;
    if (!ReadText("NumeroSerieECF", s)) return kFalse;
    strOut = text::trim(s).substr(0, 20);
    return kTrue;
  });
}

BOOL CFiscNET::ReadDateTime(DateTime& dtOut) {
  const char* where = "CFiscNET::ReadDateTime";
  return guarded(*this, where, kFalse, [&] {
    const bool ok = Retry(10, 1000, [&] {
      DateTime day;
      DateParts t;
      if (!ReadDate("Data", day) || !ReadTime("Hora", t)) return false;
      DateParts d;
      if (!day.valid() || !day.parts(d)) return false;
      const DateTime both = DateTime::fromParts(d.year, d.month, d.day, t.hour, t.minute, t.second);
      if (!both.valid()) return false;
      dtOut = both;
      return true;
    });
    if (!ok && strLastError.empty()) strLastError = cp("Data/hora inválida lida da impressora.");
    return finish(*this, where, ok ? kTrue : kFalse);
  });
}

DateTime CFiscNET::GetFiscalDate() {
  return guarded(*this, "CFiscNET::GetFiscalDate", DateTime::invalid(), [&] {
    DateTime d = DateTime::invalid();
    if (ReadDate("DataAbertura", d) && d.valid()) return d;
    d = DateTime::invalid();
    ReadDate("Data", d);
    return d;
  });
}

DateTime CFiscNET::GetLastDocumentDateTime() {
  return guarded(*this, "CFiscNET::GetLastDocumentDateTime", DateTime::invalid(), [&] {
    DateTime day = DateTime::invalid();
    DateParts t, d;
    if (!ReadDate("DataUltimoDoc", day) || !ReadTime("HoraUltimoDoc", t) || !day.parts(d)) return DateTime::invalid();
    return DateTime::fromParts(d.year, d.month, d.day, t.hour, t.minute, t.second);
  });
}

BOOL CFiscNET::ReadFiscalInformation() {
  const char* where = "CFiscNET::ReadFiscalInformation";
  return guarded(*this, where, kFalse, [&] {
    long v = 0;
    auto integer = [&](const char* name, int& into) {
      if (!ReadInteger(name, v)) return false;
      into = static_cast<int>(v);
      return true;
    };
    if (!integer("ECF", intPrinterID)) return finish(*this, where, kFalse);
    dtFiscalDate = GetFiscalDate();
    if (!strLastError.empty()) return finish(*this, where, kFalse);
    std::string serial;
    if (!ReadSerialNumber(serial)) return finish(*this, where, kFalse);
    strSerialNumber = serial;
    if (!integer("CRO", intRestartCounter) || !integer("CRZ", intZReportCounter) || !integer("COO", intFinalOperation))
      return finish(*this, where, kFalse);
    if (!ReadMoney("GT", nFinalGrandTotal) || !ReadMoney("TotalDiaVendaBruta", nSaleTotal) ||
        !ReadMoney("GTInicial", nInitialGrandTotal) || !integer("COOInicioDia", intInitialOperation) ||
        !ReadMoney("TotalDiaAcrescimos", nIncreaseTotal) || !ReadMoney("TotalDiaDescontos", nDiscountTotal) ||
        !ReadMoney("TotalDiaCancelamentosICMS", nCancelTotal))
      return finish(*this, where, kFalse);
    TaxesCount = 0;
    for (const std::string& t : arTaxes) {
      if (t.size() < 5 || static_cast<size_t>(TaxesCount) >= arTaxTable.size()) continue;
      double total = 0;
      if (!ReadMoney(format("TotalDiaValorAliquota[%s]", t.substr(1, 2).c_str()), total))
        return finish(*this, where, kFalse);
      double pct = 0;
      text::parseDecimal(t.substr(4), pct);
      TaxEntry& e = arTaxTable[static_cast<size_t>(TaxesCount++)];
      e.percent = pct;
      e.baseValue = total;
      e.title = format("%02i%c%04i", std::atoi(t.substr(1, 2).c_str()), t[0], static_cast<int>(std::lround(pct * 100)));
    }
    for (const char* name : {"TotalDiaSubstituicaoTributariaISSQN", "TotalDiaIsencaoISSQN", "TotalDiaNaoTributadoISSQN",
                             "TotalDiaIsencaoICMS", "TotalDiaNaoTributadoICMS"}) {
      double total = 0;
      if (!ReadMoney(name, total)) return finish(*this, where, kFalse);
      Log(where, format("%s=%s", name, fields::printfFixed(total, 0, 2).c_str()));
    }
    return finish(*this, where, kTrue);
  });
}

BOOL CFiscNET::DiscountISSQN(std::string& strOut) {
  strOut.assign(1, 'N');  // not = "N": GCC 12 sees a false overlap there on 32-bit Windows
  return kTrue;
}

double CFiscNET::GetSaleTotal() {
  return Register<double>(&CFiscNET::ReadMoney, "TotalDiaVendaBruta", 0.0);
}
double CFiscNET::GetCancelTotal() {
  return Register<double>(&CFiscNET::ReadMoney, "TotalDiaCancelamentosICMS", 0.0);
}
double CFiscNET::GetDiscountTotal() {
  return Register<double>(&CFiscNET::ReadMoney, "TotalDiaDescontos", 0.0);
}
double CFiscNET::GetIncreaseTotal() {
  return Register<double>(&CFiscNET::ReadMoney, "TotalDiaAcrescimos", 0.0);
}
double CFiscNET::GetFinalGrandTotal() {
  return Register<double>(&CFiscNET::ReadMoney, "GT", 0.0);
}
double CFiscNET::GetNonFiscalTotal() {
  return Register<double>(&CFiscNET::ReadMoney, "TotalDiaOperacoesNaoFiscais", 0.0);
}
long CFiscNET::GetPrinterID() {
  return Register<long>(&CFiscNET::ReadInteger, "ECF", 0);
}
short CFiscNET::GetUserNumber() {
  return static_cast<short>(Register<long>(&CFiscNET::ReadInteger, "ContadorProprietarios", 0));
}
std::string CFiscNET::GetFirmwareVersion() {
  return Register<std::string>(&CFiscNET::ReadText, "VersaoSW", {});
}
long CFiscNET::GetOperationCounter() {
  return guarded(*this, "CFiscNET::GetOperationCounter", 0L, [&] {
    long coo = 0;
    return Retry(10, 1000, [&] { return ReadInteger("COO", coo) == kTrue; }) ? coo : 0L;
  });
}
long CFiscNET::GetFiscalReceiptCounter() {
  return Register<long>(&CFiscNET::ReadInteger, "CCF", 0);
}
long CFiscNET::GetNonFiscalCounter() {
  return Register<long>(&CFiscNET::ReadInteger, "GNF", 0);
}
long CFiscNET::GetPaymentReceiptCounter() {
  return Register<long>(&CFiscNET::ReadInteger, "CDC", 0);
}
long CFiscNET::GetManagementReportCounter() {
  return Register<long>(&CFiscNET::ReadInteger, "GRG", 0);
}
long CFiscNET::GetZReportCounter() {
  return Register<long>(&CFiscNET::ReadInteger, "CRZ", 0);
}
long CFiscNET::GetRestartCounter() {
  return Register<long>(&CFiscNET::ReadInteger, "CRO", 0);
}
std::string CFiscNET::GetEquipamentMark() {
  return Register<std::string>(&CFiscNET::ReadText, "Marca", {});
}
std::string CFiscNET::GetEquipamentModel() {
  return Register<std::string>(&CFiscNET::ReadText, "Modelo", {});
}
std::string CFiscNET::GetEquipamentType() {
  return Register<std::string>(&CFiscNET::ReadText, "TipoECF", {});
}
long CFiscNET::GetLastItemNumber() {
  return Register<long>(&CFiscNET::ReadInteger, "ContadorDocUltimoItemVendido", 0);
}

// The day of the last movement, from the data of the last reduction (read once
// after each reduction): two digits each of day, month and year.
DateTime CFiscNET::GetDataMovUltimaRZ() {
  return guarded(*this, "CFiscNET::GetDataMovUltimaRZ", DateTime::invalid(), [&] {
    if (!bLastZValid) {
      std::string data;
      if (!ReadText("DadosUltimaReducaoZ", data)) return DateTime::invalid();
      strLastZData = data;
      bLastZValid = kTrue;
    }
    if (strLastZData.size() < 588) return DateTime::invalid();
    auto two = [&](size_t at) {
      const char a = strLastZData[at], b = strLastZData[at + 1];
      if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
      return (a - '0') * 10 + (b - '0');
    };
    const int d = two(582), m = two(584), y = two(586);
    if (d < 0 || m < 0 || y < 0) return DateTime::invalid();
    return DateTime::fromParts(2000 + y, m, d);
  });
}

}  // namespace tarvion

// ---------------------------------------------------------------- the last reduction's report

namespace tarvion {

namespace {

// "Usuário:" and the report's sections as the printer writes them (code page 850).
constexpr const char* kUserTag = "Usu\xA0rio:";

int digitsAt(const std::string& line, size_t at, size_t n) {
  if (at + n > line.size()) return -1;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    v = v * 10 + (line[i] - '0');
  }
  return v;
}

// A date and time from fixed columns of a report line: day, month, year (4),
// hour, minute, second.
DateTime stampAt(const std::string& line, const size_t (&at)[6]) {
  const int d = digitsAt(line, at[0], 2), mo = digitsAt(line, at[1], 2), y = digitsAt(line, at[2], 4),
            h = digitsAt(line, at[3], 2), mi = digitsAt(line, at[4], 2), s = digitsAt(line, at[5], 2);
  if (d < 0 || mo < 0 || y < 0 || h < 0 || mi < 0 || s < 0) return DateTime::invalid();
  return DateTime::fromParts(y, mo, d, h, mi, s);
}

std::string lineAround(const std::string& text, size_t at) {
  const size_t begin = text.rfind('\n', at);
  const size_t from = begin == std::string::npos ? 0 : begin + 1;
  const size_t end = text.find('\n', at);
  std::string line = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

BOOL CFiscNET::LastReductionReport(const char* where, std::string& out) {
  long crz = 0;
  if (!ReadInteger("CRZ", crz)) return kFalse;
  if (!Command("EmiteLeituraMF", {format("ReducaoInicial=%ld", crz), format("ReducaoFinal=%ld", crz),
                                  "LeituraSimplificada=T", textParameter("Destino", "S")}))
    return kFalse;
  return SerialRead(where, out);
}

std::string CFiscNET::UserLine(const char* where) {
  std::string report;
  if (!LastReductionReport(where, report)) return {};
  const size_t at = report.rfind(kUserTag);
  return at == std::string::npos ? std::string() : lineAround(report, at);
}

DateTime CFiscNET::GetUserDateTime() {
  const char* where = "CFiscNET::GetUserDateTime";
  return guarded(*this, where, DateTime::invalid(), [&] {
    static constexpr size_t kAt[6] = {21, 24, 27, 33, 36, 39};
    return stampAt(UserLine(where), kAt);
  });
}

short CFiscNET::GetUserRestartCounter() {
  const char* where = "CFiscNET::GetUserRestartCounter";
  return guarded(*this, where, static_cast<short>(0), [&] {
    const std::string line = UserLine(where);
    const std::string field = text::trim(line.substr(std::min<size_t>(16, line.size()), 4));
    const int v = field.empty() ? -1 : digitsAt(field, 0, field.size());
    return static_cast<short>(v < 0 ? 0 : v);
  });
}

double CFiscNET::GetUserGrandTotal() {
  const char* where = "CFiscNET::GetUserGrandTotal";
  return guarded(*this, where, 0.0, [&] {
    const std::string line = UserLine(where);
    const size_t at = line.find("GT:");
    if (at == std::string::npos) return 0.0;
    std::string digits;
    for (char c : line.substr(at + 3))
      if (c != '.' && c != ',' && c != ' ') digits += c;
    double v = 0;
    if (digits.empty() || digits.size() > 17 || !text::parseDecimal(digits, v)) return 0.0;
    return v / 100.0;
  });
}

DateTime CFiscNET::GetFirmwareDateTime() {
  const char* where = "CFiscNET::GetFirmwareDateTime";
  return guarded(*this, where, DateTime::invalid(), [&] {
    std::string version;
    if (!ReadText("VersaoSW", version) || text::trim(version).empty()) return DateTime::invalid();
    std::string report;
    if (!LastReductionReport(where, report)) return DateTime::invalid();
    const size_t section = report.find("DADOS GERAIS");
    if (section == std::string::npos) return DateTime::invalid();
    const size_t at = report.find(text::trim(version), section);
    if (at == std::string::npos) return DateTime::invalid();
    static constexpr size_t kAt[6] = {9, 12, 15, 22, 25, 28};
    return stampAt(lineAround(report, at), kAt);
  });
}

}  // namespace tarvion
