#include "emulator/fiscnet/printer.h"

#include <algorithm>

#include "core/capabilities.h"
#include "core/text.h"
#include "emulator/paper.h"

namespace tarvion::emulator {

namespace fn = fiscnet;

namespace {

// The printer's codes for the refusals of the fiscal half; anything else is
// a command the current state does not allow.
struct Refusal {
  FiscalError error;
  int code;
};
constexpr Refusal kRefusals[] = {
    {FiscalError::ReceiptAlreadyOpen, 8000},
    {FiscalError::NoReceiptOpen, 8000},
    {FiscalError::DocumentOpen, 8000},
    {FiscalError::NotTotalized, 8000},
    {FiscalError::AlreadyTotalized, 8000},
    {FiscalError::NoLinkedOpen, 8000},
    {FiscalError::NoReportOpen, 8000},
    {FiscalError::NoNonFiscalOpen, 8000},
    {FiscalError::TooManyItems, 8000},
    {FiscalError::PaymentsFinished, 8000},
    {FiscalError::TaxNotProgrammed, 8005},
    {FiscalError::TaxTableFull, 8025},
    {FiscalError::PaymentNotProgrammed, 8014},
    {FiscalError::PaymentTableFull, 8032},
    {FiscalError::PaymentAlreadyProgrammed, 8012},
    {FiscalError::TitleNotProgrammed, 8069},
    {FiscalError::TitleTableFull, 8035},
    {FiscalError::TitleAlreadyProgrammed, 8036},
    {FiscalError::ReportNotProgrammed, 8018},
    {FiscalError::NoItems, 8013},
    {FiscalError::ItemNotFound, 8044},
    {FiscalError::ItemAlreadyCancelled, 8049},
    {FiscalError::DiscountTooLarge, 8082},
    {FiscalError::ZeroValue, 8007},
    {FiscalError::PaymentsNotFinished, 8017},
    {FiscalError::CancelNotAllowed, 8086},
    {FiscalError::AlreadyCancelled, 8086},
    {FiscalError::LinkedNotAllowed, 8043},
    {FiscalError::ZPending, 15009},
    {FiscalError::ZAlreadyDone, 15007},
    {FiscalError::DaylightSavingNotAllowed, 8023},
    {FiscalError::PaperOut, 7003},
    {FiscalError::InvalidDate, 6001},
    {FiscalError::DateBeforeLastDocument, 8089},
    {FiscalError::InvalidRange, 8037},
    {FiscalError::FiscalMemoryFull, 1004},
    {FiscalError::InvalidParameter, 11002},
    {FiscalError::DayHasMovement, 8010},
    {FiscalError::ItemAdjustmentDone, 8064},
    {FiscalError::NoItemAdjustment, 8063},
    {FiscalError::MemoryWrite, 1012},
};
constexpr int kWrongState = 11007;
constexpr int kSyntax = 11001, kBadValue = 11002, kMissing = 11005, kNoCommand = 11006, kBadRegister = 11011;
constexpr int kQueueFull = 11016, kCheckFault = 8095, kAlreadyClosed = 15012;
constexpr size_t kPrintoutChunk = 400;

// Printer text (code page 850) as the fiscal half keeps it (Windows-1252).
std::string fromPrinter(const std::string& s) {
  return text::cp850ToCp1252(s);
}
std::string toPrinter(const std::string& s) {
  return text::cp1252ToCp850(s);
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (auto& l : lines) s += l + "\n";
  return s;
}

// The bold escapes of the text commands do not reach the paper.
std::string plainText(std::string s) {
  for (const std::string_view esc : {std::string_view("\x1B"
                                                      "E\\x00",
                                                      6),
                                     std::string_view("\x1B"
                                                      "E\x01",
                                                      3)}) {
    for (size_t at = s.find(esc); at != std::string::npos; at = s.find(esc, at)) s.erase(at, esc.size());
  }
  return s;
}

}  // namespace

FiscNETPrinter::FiscNETPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : VirtualPrinter(std::move(core), name, hardware) {}

int FiscNETPrinter::codeOf(FiscalError e) {
  if (e == FiscalError::Ok) return 0;
  for (const Refusal& r : kRefusals)
    if (r.error == e) return r.code;
  return kWrongState;
}

std::string FiscNETPrinter::formatCmc7(const std::string& digits) const {
  // The reader marks the three groups: =8 digits=10 digits^12 digits/
  std::string d = digits;
  d.resize(30, '0');
  return "=" + d.substr(0, 8) + "=" + d.substr(8, 10) + "^" + d.substr(18, 12) + "/";
}

void FiscNETPrinter::consume(ByteArray& buf, ReplySink& out) {
  while (!buf.empty()) {
    fn::Request req;
    const fn::FrameState st = fn::parseRequest(buf.data(), buf.size(), req);
    if (st == fn::FrameState::Incomplete) break;
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(req.size));
    if (st == fn::FrameState::NotAFrame) continue;  // noise before a frame: no sequence to answer
    const int seq = req.seq < 0 ? 0 : req.seq;
    if (!serve(out, fn::buildReply(seq, kQueueFull), [&] {
          const Answer a = req.syntaxError ? Answer{kSyntax, {}} : execute(req);
          return fn::buildReply(seq, a.code, a.results);
        }))
      return;
  }
}

FiscNETPrinter::Answer FiscNETPrinter::fail(FiscalError e) {
  if (e == FiscalError::Ok) return {};
  return {codeOf(e), {fn::quoted("Circunstancia", errorName(e))}};
}

int FiscNETPrinter::paymentOf(const std::string& code) {
  long n = 0;
  if (!fn::parseInt(code, n)) return -1;
  if (n == -2) return 0;
  if (n < 0 || n + 1 >= static_cast<long>(core().payments().size())) return -1;
  return static_cast<int>(n + 1);
}

std::span<const FiscNETPrinter::Command> FiscNETPrinter::dispatchTable() {
  using P = FiscNETPrinter;
  // name, the parameter it cannot do without, handler
  static constexpr Command kCommands[] = {
      {"AbreCreditoDebito", nullptr, &P::openLinked},
      {"AbreCupomFiscal", nullptr, &P::openReceipt},
      {"AbreCupomNaoFiscal", nullptr, &P::openNonFiscal},
      {"AbreGaveta", nullptr, &P::drawer},
      {"AbreGerencial", nullptr, &P::openReport},
      {"AcertaHorarioVerao", nullptr, &P::daylightSaving},
      {"AcresceItemFiscal", nullptr, &P::adjustItem},
      {"AcresceSubtotal", nullptr, &P::adjustSubtotal},
      {"AvancaPapel", nullptr, &P::accept},
      {"CancelaCupom", nullptr, &P::cancelReceipt},
      {"CancelaItemFiscal", nullptr, &P::cancelItem},
      {"CortaPapel", nullptr, &P::accept},
      {"DefineAliquota", nullptr, &P::defineTax},
      {"DefineGerencial", "NomeGerencial", &P::defineReport},
      {"DefineMeioPagamento", "NomeMeioPagamento", &P::definePayment},
      {"DefineNaoFiscal", "NomeNaoFiscal", &P::defineTitle},
      {"EmiteItemNaoFiscal", nullptr, &P::nonFiscalItem},
      {"EmiteLeituraFitaDetalhe", nullptr, &P::detailTape},
      {"EmiteLeituraMF", nullptr, &P::memoryRead},
      {"EmiteLeituraX", nullptr, &P::leituraX},
      {"EmiteReducaoZ", nullptr, &P::reducaoZ},
      {"EncerraDocumento", nullptr, &P::endDocument},
      {"ExcluiNaoFiscal", nullptr, &P::accept},
      {"ExpulsaDocumento", nullptr, &P::ejectDocument},
      {"ImprimeCheque", nullptr, &P::printCheck},
      {"ImprimeCupomAdicional", nullptr, &P::accept},
      {"ImprimeTexto", "TextoLivre", &P::printText},
      {"LeAliquota", nullptr, &P::readTax},
      {"LeData", "NomeData", &P::readDate},
      {"LeGerencial", nullptr, &P::readReportName},
      {"LeHora", "NomeHora", &P::readTime},
      {"LeImpressao", nullptr, &P::nextPrintout},
      {"LeIndicador", "NomeIndicador", &P::readIndicator},
      {"LeInteiro", "NomeInteiro", &P::readInteger},
      {"LeMeioPagamento", nullptr, &P::readPaymentName},
      {"LeMoeda", "NomeDadoMonetario", &P::readMoney},
      {"LeNaoFiscal", nullptr, &P::readTitle},
      {"LeTexto", "NomeTexto", &P::readText},
      {"PagaCupom", nullptr, &P::pay},
      {"ReimprimeViaCreditoDebito", nullptr, &P::secondCopy},
      {"VendeItem", nullptr, &P::sellItem},
  };
  static_assert([] {
    for (size_t i = 1; i < std::size(kCommands); ++i)
      if (kCommands[i - 1].name >= kCommands[i].name) return false;
    return true;
  }());
  return kCommands;
}

FiscNETPrinter::Answer FiscNETPrinter::execute(const fn::Request& req) {
  const std::span<const Command> table = dispatchTable();
  const std::string_view name = req.command;
  const auto at = std::lower_bound(table.begin(), table.end(), name,
                                   [](const Command& c, std::string_view k) { return c.name < k; });
  if (at == table.end() || at->name != name) return {kNoCommand, {}};
  if (at->required && !req.has(at->required)) return {kMissing, {}};
  return (this->*at->run)(req);
}

// The handlers. The table has checked the parameter each cannot do without.

FiscNETPrinter::Answer FiscNETPrinter::readTax(const fn::Request& req) {
  long i = 0;
  if (!fn::parseInt(req.get("CodAliquotaProgramavel"), i)) return {kMissing, {}};
  if (i < 0 || i >= static_cast<long>(core().taxes().size())) return {8004, {}};
  const Tax& t = core().taxes()[static_cast<size_t>(i)];
  return {0, {std::string("AliquotaICMS=") + (t.kind == 'T' ? "T" : "F"), "PercentualAliquota=" + fn::money(t.rate)}};
}

FiscNETPrinter::Answer FiscNETPrinter::readPaymentName(const fn::Request& req) {
  long i = 0;
  if (!fn::parseInt(req.get("CodMeioPagamentoProgram"), i)) return {kMissing, {}};
  if (i < 0 || i > 14) return {8011, {}};
  const size_t at = static_cast<size_t>(i + 1);
  const auto& payments = core().payments();
  return {0, {fn::quoted("NomeMeioPagamento", at < payments.size() ? toPrinter(payments[at].name) : "")}};
}

FiscNETPrinter::Answer FiscNETPrinter::readReportName(const fn::Request& req) {
  long i = 0;
  if (!fn::parseInt(req.get("CodGerencial"), i)) return {kMissing, {}};
  if (i < 0 || i > 19) return {8019, {}};
  const size_t at = static_cast<size_t>(i);
  const auto& reports = core().reports();
  return {0, {fn::quoted("NomeGerencial", at < reports.size() ? toPrinter(reports[at].name) : "")}};
}

FiscNETPrinter::Answer FiscNETPrinter::readTitle(const fn::Request& req) {
  long i = 0;
  if (!fn::parseInt(req.get("CodNaoFiscal"), i)) return {kMissing, {}};
  if (i < 0 || i > 49) return {8053, {}};
  const size_t at = static_cast<size_t>(i);
  const auto& titles = core().titles();
  const std::string name = at < titles.size() ? titles[at].name : "";
  const bool out = name == "SANGRIA" || name == "VALE" || name == "DESPESAS";
  return {0, {fn::quoted("NomeNaoFiscal", toPrinter(name)), std::string("TipoNaoFiscal=") + (out ? "F" : "T")}};
}

FiscNETPrinter::Answer FiscNETPrinter::openReceipt(const fn::Request& req) {
  return fail(core().openReceipt(fromPrinter(req.get("IdConsumidor")), fromPrinter(req.get("NomeConsumidor")),
                                 fromPrinter(req.get("EnderecoConsumidor"))));
}

FiscNETPrinter::Answer FiscNETPrinter::cancelItem(const fn::Request& req) {
  long n = 0;
  if (!fn::parseInt(req.get("NumItem"), n)) return {kMissing, {}};
  return fail(core().cancelItem(static_cast<int>(n)));
}

FiscNETPrinter::Answer FiscNETPrinter::adjustSubtotal(const fn::Request& req) {
  bool cancel = false;
  int64_t v = 0;
  if (!fn::parseFlag(req.get("Cancelar"), cancel)) return {kMissing, {}};
  if (cancel) return {8077, {}};
  if (!fn::parseDecimal(req.get("ValorAcrescimo"), 2, v)) return {kBadValue, {}};
  return fail(core().totalize(v < 0 ? -v : 0, v > 0 ? v : 0));
}

FiscNETPrinter::Answer FiscNETPrinter::cancelReceipt(const fn::Request&) {
  closingText_.clear();
  return fail(core().cancelReceipt());
}

FiscNETPrinter::Answer FiscNETPrinter::openLinked(const fn::Request& req) {
  long coo = 0;
  int64_t v = 0;
  const int type = paymentOf(req.get("CodMeioPagamento"));
  if (type < 0) return fail(FiscalError::PaymentNotProgrammed);
  if (!fn::parseInt(req.get("COO"), coo) || !fn::parseDecimal(req.get("Valor"), 2, v)) return {kBadValue, {}};
  return fail(core().openLinked(type, v, static_cast<int>(coo)));
}

FiscNETPrinter::Answer FiscNETPrinter::openReport(const fn::Request& req) {
  long i = 0;
  if (!fn::parseInt(req.get("CodGerencial"), i)) return {kMissing, {}};
  return fail(core().openReport(static_cast<int>(i)));
}

FiscNETPrinter::Answer FiscNETPrinter::openNonFiscal(const fn::Request&) {
  return fail(core().openNonFiscal());
}

FiscNETPrinter::Answer FiscNETPrinter::nonFiscalItem(const fn::Request& req) {
  long i = 0;
  int64_t v = 0;
  if (!fn::parseInt(req.get("CodNaoFiscal"), i) || !fn::parseDecimal(req.get("Valor"), 2, v)) return {kBadValue, {}};
  return fail(core().nonFiscalItem(static_cast<int>(i), v));
}

// A report asked for over the line (Destino=S) is kept for "LeImpressao"
// instead of printed.
FiscNETPrinter::Answer FiscNETPrinter::leituraX(const fn::Request& req) {
  if (req.get("Destino") != "S") return fail(core().xReport());
  printout_ = joinLines(core().xReportLines());
  printoutAt_ = 0;
  return {};
}

FiscNETPrinter::Answer FiscNETPrinter::reducaoZ(const fn::Request& req) {
  FiscalCore& c = core();
  int64_t emitted = 0;
  if (req.has("Hora")) {
    int h = 0, m = 0, s = 0;
    if (!fn::parseTime(req.get("Hora"), h, m, s)) return {kBadValue, {}};
    Stamp now = fromSeconds(c.now());
    now.hour = h;
    now.minute = m;
    now.second = s;
    emitted = toSeconds(now);
  }
  return fail(c.zReduction(emitted));
}

FiscNETPrinter::Answer FiscNETPrinter::detailTape(const fn::Request& req) {
  if (req.get("Destino") != "S") return {kBadValue, {}};
  // The detail tape is the copy of everything printed.
  const Paper* paper = core().paper();
  printout_ = paper ? text::utf8ToCp1252(paper->printed()) : std::string();
  printoutAt_ = 0;
  return {};
}

FiscNETPrinter::Answer FiscNETPrinter::daylightSaving(const fn::Request& req) {
  long v = 0;
  if (!fn::parseInt(req.get("EntradaHV"), v) || (v != 0 && v != 1)) return {kBadValue, {}};
  return fail(core().setDaylightSaving(v == 1));
}

FiscNETPrinter::Answer FiscNETPrinter::drawer(const fn::Request&) {
  openDrawer();
  return {};
}

FiscNETPrinter::Answer FiscNETPrinter::accept(const fn::Request&) {
  return {};
}

FiscNETPrinter::Answer FiscNETPrinter::secondCopy(const fn::Request&) {
  return fail(core().linkedSecondCopy());
}

FiscNETPrinter::Answer FiscNETPrinter::definePayment(const fn::Request& req) {
  return fail(core().addPayment(fromPrinter(req.get("NomeMeioPagamento"))));
}

FiscNETPrinter::Answer FiscNETPrinter::defineTax(const fn::Request& req) {
  bool icms = true;
  int64_t rate = 0;
  if (!fn::parseFlag(req.get("AliquotaICMS"), icms) || !fn::parseDecimal(req.get("PercentualAliquota"), 2, rate))
    return {kBadValue, {}};
  if (rate <= 0 || rate > 9999) return {8076, {}};
  return fail(core().addTax(icms ? 'T' : 'S', static_cast<int>(rate)));
}

FiscNETPrinter::Answer FiscNETPrinter::defineTitle(const fn::Request& req) {
  const std::string name = fromPrinter(req.get("NomeNaoFiscal"));
  if (name.empty()) return {8034, {}};
  if (core().titleIndex(name) >= 0) return {};  // already there under this name
  return fail(core().addTitle(name));
}

FiscNETPrinter::Answer FiscNETPrinter::defineReport(const fn::Request& req) {
  return fail(core().addReport(fromPrinter(req.get("NomeGerencial"))));
}

FiscNETPrinter::Answer FiscNETPrinter::ejectDocument(const fn::Request&) {
  releaseDocument();
  return {};
}

FiscNETPrinter::Answer FiscNETPrinter::printCheck(const fn::Request& req) {
  if (!hardware().checkStation || !feedDocument()) return {kCheckFault, {fn::quoted("Circunstancia", "SemDocumento")}};
  int64_t v = 0;
  if (!fn::parseDecimal(req.get("Valor"), 2, v) || v <= 0) return {kBadValue, {}};
  checkPrinted();
  return {};
}

FiscNETPrinter::Answer FiscNETPrinter::readInteger(const fn::Request& req) {
  const std::string name = req.get("NomeInteiro");
  const FiscalCore& c = core();
  const Counters& k = c.counters();
  long v = 0;
  if (name == "COO")
    v = k.coo;
  else if (name == "CCF")
    v = k.ccf;
  else if (name == "GNF")
    v = k.gnf;
  else if (name == "CDC")
    v = k.cdc;
  else if (name == "GRG")
    v = k.grg;
  else if (name == "CRZ")
    v = k.crz;
  else if (name == "CRO")
    v = k.cro;
  else if (name == "ECF")
    v = c.identity().ecfNumber;
  else if (name == "ContadorProprietarios")
    v = c.identity().userNumber;
  else if (name == "AliquotaDisponivel")
    v = FiscalCore::kMaxTaxes - static_cast<long>(c.taxes().size());
  else if (name == "COOInicioDia")
    v = c.day().initialCoo;
  else if (name == "ContadorDocUltimoItemVendido")
    v = k.lastItem;
  else
    return {kBadRegister, {}};
  return {0, {"ValorInteiro=" + std::to_string(v)}};
}

FiscNETPrinter::Answer FiscNETPrinter::readIndicator(const fn::Request& req) {
  const std::string name = req.get("NomeIndicador");
  const FiscalCore& c = core();
  bool v = false;
  if (name == "DocumentoAberto")
    v = c.document().kind != DocKind::None;
  else if (name == "SemPapel")
    v = c.paperOut();
  else if (name == "SensorPoucoPapel")
    v = c.paperNearEnd();
  else if (name == "HorarioVerao")
    v = c.daylightSaving();
  else if (name == "SensorGaveta")
    v = !drawerIsOpen();
  else
    return {kBadRegister, {}};
  return {0, {std::string("ValorNumericoIndicador=") + (v ? "1" : "0")}};
}

FiscNETPrinter::Answer FiscNETPrinter::readMoney(const fn::Request& req) {
  const std::string name = req.get("NomeDadoMonetario");
  const FiscalCore& c = core();
  const DayTotals& d = c.day();
  auto perTax = [&](const char* label) {
    auto it = d.perTax.find(label);
    return it == d.perTax.end() ? Cents{0} : it->second;
  };
  Cents v = 0;
  long index = -1;
  auto indexed = [&](const std::string& prefix) {
    if (name.rfind(prefix + "[", 0) != 0 || name.back() != ']') return false;
    return fn::parseInt(name.substr(prefix.size() + 1, name.size() - prefix.size() - 2), index);
  };
  if (name == "GT")
    v = c.grandTotal();
  else if (name == "GTInicial")
    v = d.initialGrandTotal;
  else if (name == "TotalDiaVendaBruta")
    v = d.gross;
  else if (name == "TotalDiaCancelamentosICMS")
    v = d.cancellations;
  else if (name == "TotalDiaDescontos")
    v = d.discounts;
  else if (name == "TotalDiaAcrescimos")
    v = d.increases;
  else if (name == "TotalDiaOperacoesNaoFiscais")
    v = d.nonFiscal;
  else if (name == "TotalDiaDinheiro")
    v = c.payments().empty() ? 0 : c.payments()[0].dayAmount;
  else if (name == "TotalDiaSubstituicaoTributariaISSQN")
    v = perTax("SF");
  else if (name == "TotalDiaIsencaoISSQN")
    v = perTax("SI");
  else if (name == "TotalDiaNaoTributadoISSQN")
    v = perTax("SN");
  else if (name == "TotalDiaIsencaoICMS")
    v = perTax("II");
  else if (name == "TotalDiaNaoTributadoICMS")
    v = perTax("NN");
  else if (indexed("TotalDiaMeioPagamento")) {
    const size_t at = static_cast<size_t>(index + 1);
    if (index < 0 || at >= c.payments().size()) return {11017, {}};
    v = c.payments()[at].dayAmount;
  } else if (indexed("TotalDiaValorAliquota")) {
    if (index < 0 || index >= static_cast<long>(c.taxes().size())) return {11017, {}};
    v = perTax(text::format("%02ld", index + 1).c_str());
  } else {
    return {kBadRegister, {}};
  }
  return {0, {"ValorMoeda=" + fn::money(v)}};
}

FiscNETPrinter::Answer FiscNETPrinter::readText(const fn::Request& req) {
  const std::string name = req.get("NomeTexto");
  const FiscalCore& c = core();
  const Identity& id = c.identity();
  std::string v;
  if (name == "NumeroSerieECF") {
    v = id.serial;
  } else if (name == "VersaoSW") {
    v = text::format("%02d.%02d", id.firmware / 10000 % 100, id.firmware / 100 % 100);
  } else if (name == "Marca") {
    v = modelName().substr(0, modelName().find(' '));
  } else if (name == "Modelo") {
    const size_t sp = modelName().find(' ');
    v = sp == std::string::npos ? modelName() : modelName().substr(sp + 1);
  } else if (name == "TipoECF") {
    v = "ECF-IF";
  } else if (name == "CMC7Documento") {
    if (!hardware().checkStation) return {kCheckFault, {}};
    if (!feedDocument()) return {kCheckFault, {fn::quoted("Circunstancia", "SemDocumento")}};
    v = formatCmc7(cmc7Digits());
  } else if (name == "DadosUltimaReducaoZ") {
    // The movement day of the last reduction as DDMMYY at offset 582.
    v.assign(582, '0');
    if (!c.fiscalMemory().empty()) {
      const Stamp s = fromSeconds(c.fiscalMemory().back().movementDay * 86400);
      v += text::format("%02d%02d%02d", s.day, s.month, s.year % 100);
    } else {
      v += "000000";
    }
  } else {
    return {kBadRegister, {}};
  }
  return {0, {fn::quoted("ValorTexto", toPrinter(v))}};
}

FiscNETPrinter::Answer FiscNETPrinter::readDate(const fn::Request& req) {
  return readStamp(req.get("NomeData"), false);
}

FiscNETPrinter::Answer FiscNETPrinter::readTime(const fn::Request& req) {
  return readStamp(req.get("NomeHora"), true);
}

FiscNETPrinter::Answer FiscNETPrinter::readStamp(const std::string& name, bool time) {
  const FiscalCore& c = core();
  int64_t at = 0;
  if (name == "Data" || name == "Hora")
    at = c.now();
  else if (name == "DataAbertura")
    at = c.identity().fiscalStart;
  else if (name == "DataUltimoDoc" || name == "HoraUltimoDoc")
    at = c.lastDocument();
  else
    return {kBadRegister, {}};
  const Stamp s = fromSeconds(at);
  if (time) return {0, {"ValorHora=" + fn::timeText(s.hour, s.minute, s.second)}};
  return {0, {"ValorData=" + fn::dateText(s.day, s.month, s.year)}};
}

FiscNETPrinter::Answer FiscNETPrinter::sellItem(const fn::Request& req) {
  long tax = 0;
  int64_t price = 0, qty = 0;
  if (!fn::parseInt(req.get("CodAliquota"), tax)) return {kMissing, {}};
  if (!fn::parseDecimal(req.get("PrecoUnitario"), 3, price) || price < 0) return {kBadValue, {}};
  if (!fn::parseDecimal(req.get("Quantidade"), 3, qty) || qty <= 0) return {8003, {}};
  FiscalCore::ItemInput in;
  switch (tax) {
    case -2:
      in.tax = "FF";
      break;
    case -3:
      in.tax = "II";
      break;
    case -4:
      in.tax = "NN";
      break;
    default:
      if (tax < 0 || tax >= static_cast<long>(core().taxes().size())) return {8005, {}};
      in.tax = text::format("%02ld", tax + 1);
  }
  in.code = fromPrinter(req.get("CodProduto"));
  in.description = fromPrinter(req.get("NomeProduto"));
  if (text::trim(in.description).empty()) return {8002, {}};
  in.unit = fromPrinter(req.get("Unidade"));
  in.quantity = qty;
  in.unitPrice = price;
  return fail(core().registerItem(in));
}

FiscNETPrinter::Answer FiscNETPrinter::adjustItem(const fn::Request& req) {
  FiscalCore& c = core();
  bool cancel = false;
  if (!fn::parseFlag(req.get("Cancelar"), cancel)) return {kMissing, {}};
  long item = 0;
  if (req.has("NumItem")) {
    if (!fn::parseInt(req.get("NumItem"), item)) return {kBadValue, {}};
  } else {
    // Without a number the adjustment is for the item just sold.
    item = c.document().items.empty() ? 0 : c.document().items.back().number;
  }
  if (cancel) {
    const FiscalError e = c.cancelItemAdjustment(static_cast<int>(item), false);
    return fail(e == FiscalError::NoItemAdjustment ? c.cancelItemAdjustment(static_cast<int>(item), true) : e);
  }
  int64_t v = 0;
  if (!fn::parseDecimal(req.get("ValorAcrescimo"), 2, v) || v == 0) return {8041, {}};
  return fail(c.adjustItem(static_cast<int>(item), v > 0, v < 0 ? -v : v));
}

FiscNETPrinter::Answer FiscNETPrinter::pay(const fn::Request& req) {
  FiscalCore& c = core();
  int64_t v = 0;
  const int type = paymentOf(req.get("CodMeioPagamento"));
  if (type < 0) return fail(FiscalError::PaymentNotProgrammed);
  if (!fn::parseDecimal(req.get("Valor"), 2, v)) return {kBadValue, {}};
  // The first payment closes the list of items when no subtotal command did.
  const ReceiptState st = c.document().state;
  if (st == ReceiptState::Items || st == ReceiptState::Open) {
    if (const FiscalError e = c.totalize(0, 0); e != FiscalError::Ok) return fail(e);
  }
  return fail(c.pay(type, v));
}

FiscNETPrinter::Answer FiscNETPrinter::printText(const fn::Request& req) {
  FiscalCore& c = core();
  const std::string t = plainText(fromPrinter(req.get("TextoLivre")));
  switch (c.document().kind) {
    case DocKind::Fiscal:
    case DocKind::NonFiscal:
      closingText_ += t;
      return {};
    case DocKind::Linked:
      return fail(c.linkedText(t));
    case DocKind::Report:
      return fail(c.reportText(t));
    case DocKind::None:
      break;
  }
  return {kWrongState, {}};
}

FiscNETPrinter::Answer FiscNETPrinter::endDocument(const fn::Request&) {
  FiscalCore& c = core();
  switch (c.document().kind) {
    case DocKind::Fiscal:
    case DocKind::NonFiscal: {
      std::string message = text::trimRight(closingText_);
      const FiscalError e = c.closeReceipt(message);
      if (e == FiscalError::Ok) closingText_.clear();
      return fail(e);
    }
    case DocKind::Linked:
      return fail(c.closeLinked());
    case DocKind::Report:
      return fail(c.closeReport());
    case DocKind::None:
      break;
  }
  return {kAlreadyClosed, {}};
}

FiscNETPrinter::Answer FiscNETPrinter::memoryRead(const fn::Request& req) {
  FiscalCore& c = core();
  bool summary = false;
  if (!fn::parseFlag(req.get("LeituraSimplificada"), summary)) return {kMissing, {}};
  MemoryRange range;
  if (req.has("DataInicial")) {
    int d1 = 0, m1 = 0, y1 = 0, d2 = 0, m2 = 0, y2 = 0;
    if (!fn::parseDate(req.get("DataInicial"), d1, m1, y1) || !fn::parseDate(req.get("DataFinal"), d2, m2, y2))
      return {kBadValue, {}};
    const Stamp a{y1, m1, d1}, b{y2, m2, d2};
    if (!validStamp(a) || !validStamp(b)) return fail(FiscalError::InvalidDate);
    range.byDate = true;
    range.first = dayNumber(toSeconds(a));
    range.last = dayNumber(toSeconds(b));
  } else {
    long a = 0, b = 0;
    if (!fn::parseInt(req.get("ReducaoInicial"), a) || !fn::parseInt(req.get("ReducaoFinal"), b)) return {kMissing, {}};
    range.byDate = false;
    range.first = a;
    range.last = b;
  }
  const bool serial = req.get("Destino") == "S";
  std::vector<ZRecord> records;
  const FiscalError e = c.readFiscalMemory(range, !summary, &records, !serial);
  if (e != FiscalError::Ok) return fail(e);
  if (serial) {
    printout_ = joinLines(c.memoryLines(records, !summary));
    printoutAt_ = 0;
  }
  return {};
}

FiscNETPrinter::Answer FiscNETPrinter::nextPrintout(const fn::Request&) {
  const size_t n = std::min(kPrintoutChunk, printout_.size() - std::min(printoutAt_, printout_.size()));
  const std::string piece = printout_.substr(std::min(printoutAt_, printout_.size()), n);
  printoutAt_ += n;
  if (n == 0) {
    printout_.clear();
    printoutAt_ = 0;
  }
  return {0, {fn::quoted("TextoImpressao", toPrinter(piece))}};
}

std::vector<VirtualModel> fiscnet::virtualModels() {
  std::vector<VirtualModel> rows;
  for (const caps::ModelRow& r : caps::fiscalModels()) {
    if (r.family != caps::Family::FiscNET) continue;
    rows.push_back({r.number, r.name, Hardware{r.columns ? r.columns : 48, r.canReadCheck},
                    [](int number, std::shared_ptr<FiscalCore> core) -> std::shared_ptr<VirtualPrinter> {
                      const caps::ModelRow* row = caps::fiscalModel(number);
                      if (!row || row->family != caps::Family::FiscNET) return nullptr;
                      return std::make_shared<FiscNETPrinter>(
                          std::move(core), row->name, Hardware{row->columns ? row->columns : 48, row->canReadCheck});
                    }});
  }
  return rows;
}

}  // namespace tarvion::emulator
