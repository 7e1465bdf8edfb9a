#include "emulator/sweda/printer.h"

#include <algorithm>

#include "core/capabilities.h"
#include "core/text.h"
#include "emulator/paper.h"

namespace tarvion::emulator {

namespace sw = sweda;

namespace {

// The printer's codes for the refusals of the fiscal half, and the text the
// classic printers send with them.
struct Refusal {
  FiscalError error;
  int code;
  const char* text;
};
constexpr Refusal kRefusals[] = {
    {FiscalError::ReceiptAlreadyOpen, 58, "CUPOM JA ABERTO"},
    {FiscalError::NoReceiptOpen, 58, "CUPOM NAO ABERTO"},
    {FiscalError::DocumentOpen, 58, "DOCUMENTO ABERTO"},
    {FiscalError::TaxNotProgrammed, 21, "ALIQUOTA NAO PROGRAMADA"},
    {FiscalError::TaxTableFull, 30, "TABELA CHEIA"},
    {FiscalError::PaymentNotProgrammed, 19, "MEIO DE PAGAMENTO NAO PROGRAMADO"},
    {FiscalError::PaymentTableFull, 30, "TABELA CHEIA"},
    {FiscalError::TitleNotProgrammed, 41, "TOTALIZADOR NAO ENCONTRADO"},
    {FiscalError::TitleTableFull, 30, "TABELA CHEIA"},
    {FiscalError::ReportNotProgrammed, 37, "RELATORIO NAO ENCONTRADO"},
    {FiscalError::NoItems, 8, "TOTAL IGUAL A ZERO"},
    {FiscalError::AlreadyTotalized, 5, "DOCUMENTO JA TOTALIZADO"},
    {FiscalError::ItemNotFound, 6, "ITEM INVALIDO"},
    {FiscalError::ItemAlreadyCancelled, 7, "ITEM CANCELADO"},
    {FiscalError::DiscountTooLarge, 13, "DESCONTO MAIOR QUE O ITEM"},
    {FiscalError::ZeroValue, 25, "VALOR NULO"},
    {FiscalError::PaymentsNotFinished, 4, "PAGAMENTO EM ABERTO"},
    {FiscalError::PaymentsFinished, 3, "DOCUMENTO JA PAGO"},
    {FiscalError::CancelNotAllowed, 53, "CANCELAMENTO NAO PERMITIDO"},
    {FiscalError::AlreadyCancelled, 2, "DOCUMENTO JA CANCELADO"},
    {FiscalError::LinkedNotAllowed, 35, "COMPROVANTE NAO PERMITIDO"},
    {FiscalError::ZPending, 60, "REDUCAO Z PENDENTE"},
    {FiscalError::ZAlreadyDone, 59, "DIA ENCERRADO"},
    {FiscalError::DaylightSavingNotAllowed, 55, "HORARIO DE VERAO NAO PERMITIDO"},
    {FiscalError::PaperOut, 125, "SEM PAPEL"},
    {FiscalError::InvalidDate, 27, "DATA INVALIDA"},
    {FiscalError::DateBeforeLastDocument, 45, "DATA ANTERIOR AO ULTIMO DOCUMENTO"},
    {FiscalError::InvalidRange, 31, "FAIXA INVALIDA"},
    {FiscalError::FiscalMemoryFull, 80, "MEMORIA FISCAL ESGOTADA"},
    {FiscalError::InvalidParameter, 23, "ERRO DE SINTAXE"},
    {FiscalError::TooManyItems, 20, "EXCEDIDO O NUMERO DE ITENS"},
    {FiscalError::ItemAdjustmentDone, 11, "DESCONTO JA APLICADO"},
    {FiscalError::SecondCopyNotAllowed, 67, "REIMPRESSAO NAO PERMITIDA"},
    {FiscalError::MemoryWrite, 68, "ERRO DE GRAVACAO"},
};
constexpr int kWrongState = 58, kSyntax = 23, kUnknown = 29, kDamaged = 193, kProcessing = 98;
constexpr size_t kPartSize = 200;

// An acknowledgement followed by reply bytes.
ByteArray withAck(const ByteArray& reply) {
  ByteArray out;
  out.reserve(reply.size() + 1);
  out.push_back(sw::kACK);
  for (uint8_t b : reply) out.push_back(b);
  return out;
}

const Refusal* refusalOf(FiscalError e) {
  for (const Refusal& r : kRefusals)
    if (r.error == e) return &r;
  return nullptr;
}

std::string digits(int64_t v, int width) {
  std::string s = std::to_string(v < 0 ? 0 : v);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

std::string stampText(int64_t seconds, bool withTime) {
  const Stamp s = fromSeconds(seconds);
  std::string d = digits(s.day, 2) + digits(s.month, 2) + digits(s.year, 4);
  return withTime ? d + "|" + digits(s.hour, 2) + digits(s.minute, 2) + digits(s.second, 2) : d;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

// A tax label of the fiscal half from the item's tax code: "00T1800" is the
// first position; the special codes name the fixed totals.
std::string taxLabel(const std::string& code) {
  static const std::pair<const char*, const char*> kSpecial[] = {{"I1", "II"},  {"F1", "FF"},  {"N1", "NN"},
                                                                 {"IS1", "SI"}, {"FS1", "SF"}, {"NS1", "SN"}};
  for (const auto& [c, label] : kSpecial)
    if (code == c) return label;
  int64_t pos = 0;
  if (code.size() < 3 || !sw::parseDigits(code.substr(0, 2), pos)) return {};
  return digits(pos + 1, 2);
}

int64_t dayOf(const std::string& ddmmyyyy) {
  int64_t d = 0, m = 0, y = 0;
  if (ddmmyyyy.size() < 8 || !sw::parseDigits(ddmmyyyy.substr(0, 2), d) || !sw::parseDigits(ddmmyyyy.substr(2, 2), m) ||
      !sw::parseDigits(ddmmyyyy.substr(4, 4), y))
    return -1;
  Stamp s{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d), 0, 0, 0};
  if (!validStamp(s)) return -1;
  return dayNumber(toSeconds(s));
}

}  // namespace

// ================================================================ ST

SwedaSTPrinter::SwedaSTPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : VirtualPrinter(std::move(core), name, hardware) {}

int SwedaSTPrinter::codeOf(FiscalError e) {
  if (e == FiscalError::Ok) return 0;
  const Refusal* r = refusalOf(e);
  return r ? r->code : kWrongState;
}

void SwedaSTPrinter::failTransmissions(int n) {
  std::lock_guard<std::mutex> lock(mutex());
  failTransmissions_ = n;
}

void SwedaSTPrinter::lineClosed() {
  VirtualPrinter::lineClosed();
  // A program that opens the line afresh starts its sequence again: what it
  // sends is new, whatever its sequence byte.
  std::lock_guard<std::mutex> lock(mutex());
  haveLast_ = false;
}

std::span<const SwedaSTPrinter::Command> SwedaSTPrinter::dispatchTable() {
  using P = SwedaSTPrinter;
  static constexpr Command kCommands[] = {
      {"01", 0, &P::openReceipt},
      {"02", 6, &P::sellItem},
      {"03", 1, &P::itemDiscount},
      {"05", 1, &P::cancelItem},
      {"06", 2, &P::pay},
      {"07", 0, &P::closeDocument},
      {"08", 0, &P::cancelReceipt},
      {"11", 0, &P::drawer},
      {"12", 3, &P::customer},
      {"14", 2, &P::accept},
      {"15", 0, &P::leituraX},
      {"16", 0, &P::reducaoZ},
      {"17", 2, &P::memoryByReduction},
      {"18", 2, &P::memoryByDate},
      {"20", 2, &P::nonFiscal},
      {"24", 0, &P::readCheck},
      {"25", 1, &P::printText},
      {"26", 0, &P::accept},
      {"28", 0, &P::accept},
      {"32", 1, &P::addTax},
      {"34", 1, &P::readRegister},
      {"35", 1, &P::daylightSaving},
      {"36", 2, &P::addPayment},
      {"37", 1, &P::addTitle},
      {"39", 2, &P::accept},
      {"40", 0, &P::accept},
      {"42", 1, &P::addReport},
      {"43", 1, &P::openReport},
      {"44", 2, &P::operations},
      {"45", 2, &P::operations},
      {"47", 0, &P::accept},
      {"50", 2, &P::openLinked},
      {"54", 1, &P::increase},
      {"55", 1, &P::discount},
      {"62", 0, &P::accept},
      {"65", 1, &P::reductionData},
      {"69", 1, &P::cancelDiscount},
  };
  static_assert([] {
    for (size_t i = 1; i < std::size(kCommands); ++i)
      if (kCommands[i - 1].code >= kCommands[i].code) return false;
    return true;
  }());
  return kCommands;
}

SwedaSTPrinter::Answer SwedaSTPrinter::fail(FiscalError e) {
  if (e == FiscalError::Ok) return {};
  return {'-', codeOf(e), {}, false, {}};
}

SwedaSTPrinter::Answer SwedaSTPrinter::execute(const sw::StRequest& req) {
  const auto table = dispatchTable();
  const auto at = std::lower_bound(table.begin(), table.end(), std::string_view(req.code),
                                   [](const Command& c, std::string_view k) { return c.code < k; });
  if (at == table.end() || at->code != req.code) return {'-', kUnknown, {}, false, {}};
  if (req.params.size() < at->minParams) return {'-', kSyntax, {}, false, {}};
  return (this->*at->run)(req);
}

// ACK, the '!' replies of a printer at work or the parts of a report, and
// the last reply (whose bytes a repeat gets again).
ByteArray SwedaSTPrinter::answerBytes(const sw::StRequest& req, const Answer& a) {
  ByteArray parts;
  auto add = [&](const ByteArray& b) { parts.insert(parts.end(), b.begin(), b.end()); };
  std::vector<std::string> last = a.fields;
  if (!a.report.empty()) {
    size_t at = 0;
    for (; a.report.size() - at > kPartSize; at += kPartSize)
      add(sw::stReply(req.seq, req.code, '!', 0, {a.report.substr(at, kPartSize)}));
    last.insert(last.begin(), a.report.substr(at));
  } else if (a.printing) {
    add(sw::stReply(req.seq, req.code, '!', kProcessing));
  }
  lastReply_ = sw::stReply(req.seq, req.code, a.status, a.code, last);
  add(lastReply_);
  return withAck(parts);
}

void SwedaSTPrinter::consume(ByteArray& buf, ReplySink& out) {
  while (!buf.empty()) {
    if (buf[0] == sw::kACK) {
      buf.erase(buf.begin());
      continue;
    }
    if (buf[0] == sw::kNAK) {  // the host could not read the reply: it goes again
      buf.erase(buf.begin());
      if (haveLast_) out.send(lastReply_, 0);
      continue;
    }
    sw::StRequest req;
    const sw::FrameState st = sw::parseSt(buf.data(), buf.size(), req);
    if (st == sw::FrameState::Incomplete) {
      if (buf.size() > kLargestCommand) buf.clear();
      break;
    }
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(req.size));
    if (st == sw::FrameState::NotAFrame) continue;
    if (!req.checkOk) {
      out.send(ByteArray{sw::kNAK}, 0);
      continue;
    }
    if (haveLast_ && req.raw == lastRequest_) {  // a repeat: answered, not run
      out.send(withAck(lastReply_), 0);
      continue;
    }
    if (req.damaged || failTransmissions_ > 0) {
      if (failTransmissions_ > 0) --failTransmissions_;
      out.send(withAck(sw::stReply(req.seq, req.code, '-', kDamaged)), 0);
      continue;
    }
    if (!serve(out, ByteArray{sw::kNAK}, [&] {
          const ByteArray bytes = answerBytes(req, execute(req));
          lastRequest_ = req.raw;
          haveLast_ = true;
          return bytes;
        }))
      return;
  }
}

SwedaSTPrinter::Answer SwedaSTPrinter::openReceipt(const sw::StRequest&) {
  return fail(core().openReceipt());
}

SwedaSTPrinter::Answer SwedaSTPrinter::sellItem(const sw::StRequest& req) {
  FiscalCore::ItemInput in;
  if (!sw::parseComma(req.params[0], 3, in.quantity) || !sw::parseComma(req.params[2], 2, in.unitPrice))
    return {'-', kSyntax, {}, false, {}};
  in.unitPrice *= 10;  // thousandths of the currency
  in.code = req.params[1];
  in.unit = req.params[3];
  in.tax = taxLabel(req.params[4]);
  in.description = req.params[5];
  if (in.tax.empty()) return fail(FiscalError::TaxNotProgrammed);
  return fail(core().registerItem(in));
}

SwedaSTPrinter::Answer SwedaSTPrinter::itemDiscount(const sw::StRequest& req) {
  int64_t v = 0;
  if (!sw::parseComma(req.params[0], 2, v)) return {'-', kSyntax, {}, false, {}};
  return fail(core().adjustItem(core().counters().lastItem, false, v));
}

SwedaSTPrinter::Answer SwedaSTPrinter::cancelItem(const sw::StRequest& req) {
  int64_t n = 0;
  if (!sw::parseDigits(req.params[0], n)) return {'-', kSyntax, {}, false, {}};
  return fail(core().cancelItem(static_cast<int>(n)));
}

SwedaSTPrinter::Answer SwedaSTPrinter::cancelDiscount(const sw::StRequest& req) {
  int64_t n = 0;
  if (!sw::parseDigits(req.params[0], n)) return {'-', kSyntax, {}, false, {}};
  return fail(core().cancelItemAdjustment(static_cast<int>(n), false));
}

SwedaSTPrinter::Answer SwedaSTPrinter::pay(const sw::StRequest& req) {
  int64_t index = 0, v = 0;
  if (!sw::parseDigits(req.params[0], index) || !sw::parseComma(req.params[1], 2, v))
    return {'-', kSyntax, {}, false, {}};
  if (index < 1 || index > static_cast<int64_t>(core().payments().size()))
    return fail(FiscalError::PaymentNotProgrammed);
  // The first payment closes the list of items.
  if (core().document().state == ReceiptState::Items)
    if (FiscalError e = core().totalize(0, 0); e != FiscalError::Ok) return fail(e);
  return fail(core().pay(static_cast<int>(index - 1), v));
}

SwedaSTPrinter::Answer SwedaSTPrinter::closeDocument(const sw::StRequest&) {
  FiscalCore& c = core();
  Answer a;
  switch (c.document().kind) {
    case DocKind::Linked:
      a = fail(c.closeLinked());
      break;
    case DocKind::Report:
      a = fail(c.closeReport());
      break;
    default:
      a = fail(c.closeReceipt(""));
  }
  a.printing = a.status == '+';
  return a;
}

SwedaSTPrinter::Answer SwedaSTPrinter::cancelReceipt(const sw::StRequest&) {
  return fail(core().cancelReceipt());
}

SwedaSTPrinter::Answer SwedaSTPrinter::drawer(const sw::StRequest&) {
  openDrawer();
  return {};
}

SwedaSTPrinter::Answer SwedaSTPrinter::customer(const sw::StRequest&) {
  return core().receiptOpen() ? fail(FiscalError::ReceiptAlreadyOpen) : Answer{};
}

SwedaSTPrinter::Answer SwedaSTPrinter::accept(const sw::StRequest&) {
  return {};
}

SwedaSTPrinter::Answer SwedaSTPrinter::leituraX(const sw::StRequest& req) {
  if (!req.params.empty() && req.params[0] == "S") return {'+', 0, {}, false, joinLines(core().xReportLines())};
  Answer a = fail(core().xReport());
  a.printing = a.status == '+';
  return a;
}

SwedaSTPrinter::Answer SwedaSTPrinter::reducaoZ(const sw::StRequest&) {
  Answer a = fail(core().zReduction());
  a.printing = a.status == '+';
  return a;
}

SwedaSTPrinter::Answer SwedaSTPrinter::memoryByReduction(const sw::StRequest& req) {
  int64_t a = 0, b = 0;
  if (!sw::parseDigits(req.params[0], a) || !sw::parseDigits(req.params[1], b)) return {'-', kSyntax, {}, false, {}};
  const bool serial = req.params.size() > 2 && req.params[2] == "S";
  std::vector<ZRecord> records;
  Answer r = fail(core().readFiscalMemory(MemoryRange{false, a, b}, true, &records, !serial));
  if (r.status == '+' && serial) r.report = joinLines(core().memoryLines(records, true));
  r.printing = r.status == '+' && !serial;
  return r;
}

SwedaSTPrinter::Answer SwedaSTPrinter::memoryByDate(const sw::StRequest& req) {
  const int64_t a = dayOf(req.params[0]), b = dayOf(req.params[1]);
  if (a < 0 || b < 0) return fail(FiscalError::InvalidDate);
  const bool serial = req.params.size() > 2 && req.params[2] == "S";
  std::vector<ZRecord> records;
  Answer r = fail(core().readFiscalMemory(MemoryRange{true, a, b}, true, &records, !serial));
  if (r.status == '+' && serial) r.report = joinLines(core().memoryLines(records, true));
  r.printing = r.status == '+' && !serial;
  return r;
}

SwedaSTPrinter::Answer SwedaSTPrinter::operations(const sw::StRequest&) {
  // The printer's copy of what it printed stands for the operations read.
  const Paper* paper = core().paper();
  const std::string text = paper ? text::utf8ToCp1252(paper->printed()) : std::string();
  return {'+', 0, {}, false, text.empty() ? std::string("\r\n") : text};
}

SwedaSTPrinter::Answer SwedaSTPrinter::nonFiscal(const sw::StRequest& req) {
  int64_t title = 0, v = 0;
  if (!sw::parseDigits(req.params[0], title) || !sw::parseComma(req.params[1], 2, v))
    return {'-', kSyntax, {}, false, {}};
  FiscalCore& c = core();
  if (c.document().kind == DocKind::None)
    if (FiscalError e = c.openNonFiscal(); e != FiscalError::Ok) return fail(e);
  return fail(c.nonFiscalItem(static_cast<int>(title - 1), v));
}

SwedaSTPrinter::Answer SwedaSTPrinter::printText(const sw::StRequest& req) {
  FiscalCore& c = core();
  return fail(c.document().kind == DocKind::Linked ? c.linkedText(req.params[0]) : c.reportText(req.params[0]));
}

SwedaSTPrinter::Answer SwedaSTPrinter::addTax(const sw::StRequest& req) {
  const std::string& p = req.params[0];
  int64_t rate = 0;
  if (p.size() < 3 || (p[0] != 'T' && p[0] != 'S') || p.back() != '%' ||
      !sw::parseComma(p.substr(1, p.size() - 2), 2, rate))
    return {'-', kSyntax, {}, false, {}};
  return fail(core().addTax(p[0], static_cast<int>(rate)));
}

SwedaSTPrinter::Answer SwedaSTPrinter::daylightSaving(const sw::StRequest& req) {
  if (req.params[0] != "S" && req.params[0] != "N") return {'-', kSyntax, {}, false, {}};
  return fail(core().setDaylightSaving(req.params[0] == "S"));
}

SwedaSTPrinter::Answer SwedaSTPrinter::addPayment(const sw::StRequest& req) {
  return fail(core().addPayment(text::trimRight(req.params[1])));
}

SwedaSTPrinter::Answer SwedaSTPrinter::addTitle(const sw::StRequest& req) {
  const std::string& t = req.params[0];
  if (t.size() < 2 || (t[0] != '+' && t[0] != '-')) return {'-', 33, {}, false, {}};
  return fail(core().addTitle(t.substr(1)));
}

SwedaSTPrinter::Answer SwedaSTPrinter::addReport(const sw::StRequest& req) {
  const std::string& t = req.params[0];
  if (t.rfind("RG:", 0) != 0) return {'-', kSyntax, {}, false, {}};
  return fail(core().addReport(t.substr(3)));
}

SwedaSTPrinter::Answer SwedaSTPrinter::openReport(const sw::StRequest& req) {
  int64_t i = 0;
  if (!sw::parseDigits(req.params[0], i)) return {'-', kSyntax, {}, false, {}};
  return fail(core().openReport(static_cast<int>(i - 1)));
}

SwedaSTPrinter::Answer SwedaSTPrinter::openLinked(const sw::StRequest& req) {
  int64_t index = 0, v = 0;
  if (!sw::parseDigits(req.params[0], index) || !sw::parseComma(req.params[1], 2, v))
    return {'-', kSyntax, {}, false, {}};
  return fail(core().openLinked(static_cast<int>(index - 1), v));
}

SwedaSTPrinter::Answer SwedaSTPrinter::increase(const sw::StRequest& req) {
  int64_t v = 0;
  if (!sw::parseComma(req.params[0], 2, v)) return {'-', kSyntax, {}, false, {}};
  return fail(core().totalize(0, v));
}

SwedaSTPrinter::Answer SwedaSTPrinter::discount(const sw::StRequest& req) {
  int64_t v = 0;
  if (!sw::parseComma(req.params[0], 2, v)) return {'-', kSyntax, {}, false, {}};
  return fail(core().totalize(v, 0));
}

SwedaSTPrinter::Answer SwedaSTPrinter::reductionData(const sw::StRequest& req) {
  int64_t n = 0;
  if (!sw::parseDigits(req.params[0], n)) return {'-', kSyntax, {}, false, {}};
  for (const ZRecord& z : core().fiscalMemory())
    if (z.crz == n)
      return {
          '+', 0, {stampText(z.movementDay * 86400, false), digits(z.grandTotal, 18), digits(z.gross, 14)}, false, {}};
  return {'-', 243, {}, false, {}};
}

SwedaSTPrinter::Answer SwedaSTPrinter::readCheck(const sw::StRequest&) {
  if (!hardware().checkStation) return {'-', 156, {}, false, {}};
  if (!feedDocument()) return {'-', 109, {}, false, {}};
  return {'+', 0, {formatCmc7(cmc7Digits())}, false, {}};
}

SwedaSTPrinter::Answer SwedaSTPrinter::readRegister(const sw::StRequest& req) {
  const FiscalCore& c = core();
  const Counters& n = c.counters();
  const std::string& r = req.params[0];
  auto one = [](std::string v) { return Answer{'+', 0, {std::move(v)}, false, {}}; };
  if (r == "A1") return one(digits(n.coo, 6));
  if (r == "A2") return one(digits(n.crz, 4));
  if (r == "A4") return one(digits(n.cro, 4));
  if (r == "B4") return one(digits(n.ccf, 6));
  if (r == "B8") return one(digits(n.gnf, 6));
  if (r == "C2") return one(digits(n.grg, 6));
  if (r == "C4") return one(digits(n.cdc, 4));
  if (r == "D1") return {'+', 0, {stampText(c.now(), false), stampText(c.now(), true).substr(9)}, false, {}};
  if (r == "D2")
    return {'+', 0, {stampText(c.lastDocument(), false), stampText(c.lastDocument(), true).substr(9)}, false, {}};
  if (r == "E1") return one(digits(c.grandTotal(), 18));
  if (r == "E2") return one(digits(c.day().gross, 14));
  if (r == "E4")
    return {'+',
            0,
            {digits(c.day().cancellations, 14), digits(c.day().discounts, 14), digits(c.day().increases, 14)},
            false,
            {}};
  if (r == "F1") {
    Answer a;
    for (const Tax& t : c.taxes()) a.fields.push_back(std::string(1, t.kind) + digits(t.rate, 4));
    if (a.fields.empty()) a.fields.push_back("");
    return a;
  }
  if (r == "G64") {
    Answer a;
    for (const PaymentType& p : c.payments()) a.fields.push_back(p.name);
    return a;
  }
  if (r == "H2") {
    const Document& d = c.document();
    std::string flags;
    flags += d.kind == DocKind::Fiscal ? '1' : '0';
    flags += c.paperNearEnd() ? '1' : '0';
    flags += c.paperOut() ? '1' : '0';
    flags += drawerIsOpen() ? '1' : '0';
    flags += c.daylightSaving() ? '1' : '0';
    return one(flags);
  }
  if (r == "I1") return one(c.identity().serial);
  if (r == "I2") return one(digits(c.identity().firmware, 6));
  if (r == "I8") return {'+', 0, {"SWEDA", modelName(), "ECF-IF"}, false, {}};
  if (r == "L2") {
    Answer a;
    for (const NonFiscalTitle& t : c.titles()) {
      const bool out = t.name == "SANGRIA" || t.name == "VALE" || t.name == "DESPESAS";
      a.fields.push_back((out ? "-" : "+") + t.name);
    }
    if (a.fields.empty()) a.fields.push_back("");
    return a;
  }
  if (r == "N2") {
    Answer a;
    for (const ManagementReport& m : c.reports()) a.fields.push_back(m.name);
    if (a.fields.empty()) a.fields.push_back("");
    return a;
  }
  return {'-', kSyntax, {}, false, {}};
}

// ================================================================ classic

SwedaClassicPrinter::SwedaClassicPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : VirtualPrinter(std::move(core), name, hardware) {}

std::span<const SwedaClassicPrinter::Command> SwedaClassicPrinter::dispatchTable() {
  using P = SwedaClassicPrinter;
  static constexpr Command kCommands[] = {
      {"01", &P::sellItem},
      {"02", &P::itemDiscount},
      {"03", &P::discount},
      {"04", &P::cancelItem},
      {"05", &P::cancelReceipt},
      {"07", &P::nonFiscal},
      {"08", &P::printText},
      {"10", &P::pay},
      {"11", &P::increase},
      {"12", &P::closeDocument},
      {"13", &P::reportOrX},
      {"14", &P::reducaoZ},
      {"15", &P::memoryByReduction},
      {"16", &P::memoryByDate},
      {"17", &P::openReceipt},
      {"19", &P::openLinked},
      {"21", &P::drawer},
      {"24", &P::accept},
      {"25", &P::accept},
      {"27", &P::readRegister},
      {"28", &P::readState},
      {"29", &P::readTable},
      {"36", &P::daylightSaving},
      {"38", &P::resetTitles},
      {"39", &P::addPayments},
      {"44", &P::checkLayout},
      {"49", &P::readCheck},
      {"51", &P::readAndPrintCheck},
  };
  static_assert([] {
    for (size_t i = 1; i < std::size(kCommands); ++i)
      if (kCommands[i - 1].code >= kCommands[i].code) return false;
    return true;
  }());
  return kCommands;
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::fail(FiscalError e) {
  if (e == FiscalError::Ok) return {};
  const Refusal* r = refusalOf(e);
  return {r ? r->code : kWrongState, r ? r->text : "COMANDO INVALIDO NO ESTADO ATUAL", false, {}};
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::execute(const sw::ClassicRequest& req) {
  const auto table = dispatchTable();
  const auto at = std::lower_bound(table.begin(), table.end(), std::string_view(req.code),
                                   [](const Command& c, std::string_view k) { return c.code < k; });
  if (at == table.end() || at->code != req.code) return {kUnknown, "COMANDO NAO RECONHECIDO", false, {}};
  return (this->*at->run)(req);
}

ByteArray SwedaClassicPrinter::answerBytes(const sw::ClassicRequest& req, const Answer& a) {
  if (a.printing) busyUntilUs_ = nowUs() + int64_t{kBusyMs} * 1000;
  std::string s;
  if (a.code) {
    s = ".-" + digits(a.code, 4) + a.data + "}";
  } else if (!a.report.empty()) {
    pending_ = a.report;
    partsOpen_ = true;
    const ByteArray first = nextPart();
    return first;
  } else {
    s = ".+" + req.code + a.data + "}";
  }
  return ByteArray(s.begin(), s.end());
}

ByteArray SwedaClassicPrinter::nextPart() {
  std::string s;
  if (pending_.empty()) {
    partsOpen_ = false;
    s = ".]}";
  } else {
    const size_t n = std::min(kPart, pending_.size());
    std::string piece = pending_.substr(0, n);
    for (char& ch : piece)
      if (ch == '}') ch = ')';
    s = ".+13+" + piece + "}";
    pending_.erase(0, n);
  }
  return ByteArray(s.begin(), s.end());
}

ByteArray SwedaClassicPrinter::status() {
  const FiscalCore& c = core();
  std::string s = ".+0";
  s += nowUs() < busyUntilUs_ ? '1' : '0';
  s += documentInSlot() ? '0' : '5';
  s += '0';
  s += c.paperOut() ? '3' : c.paperNearEnd() ? '2' : '0';
  s += c.receiptOpen() ? '1' : '0';
  s += '}';
  return ByteArray(s.begin(), s.end());
}

void SwedaClassicPrinter::consume(ByteArray& buf, ReplySink& out) {
  while (!buf.empty()) {
    sw::ClassicRequest req;
    const sw::FrameState st = sw::parseClassic(buf.data(), buf.size(), req);
    if (st == sw::FrameState::Incomplete) {
      if (buf.size() > kLargestCommand) buf.clear();
      break;
    }
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(req.size));
    if (st == sw::FrameState::NotAFrame) continue;
    if (req.code == "23") {  // the status request changes nothing
      if (hardware().checkStation) feedDocument();
      const ByteArray s = status();
      if (!serve(out, s, [&] { return s; })) return;
      continue;
    }
    if (req.code == "++") {
      const ByteArray p = partsOpen_ ? nextPart() : ByteArray{'.', ']', '}'};
      if (!serve(out, p, [&] { return p; })) return;
      continue;
    }
    const std::string refused = ".-0123ERRO RECUPERAVEL}";
    if (!serve(out, ByteArray(refused.begin(), refused.end()), [&] { return answerBytes(req, execute(req)); })) return;
  }
}

namespace {
bool field(const std::string& s, size_t at, size_t n, int64_t& out) {
  return s.size() >= at + n && sw::parseDigits(s.substr(at, n), out);
}
}  // namespace

SwedaClassicPrinter::Answer SwedaClassicPrinter::sellItem(const sw::ClassicRequest& req) {
  // code 13, quantity 7, unit price 9, total 12, description 24, tax 3
  const std::string& p = req.params;
  int64_t qty = 0, price = 0, total = 0;
  if (p.size() < 68 || !field(p, 13, 4, qty) || !field(p, 20, 9, price) || !field(p, 29, 12, total))
    return {kSyntax, "ERRO DE SINTAXE", false, {}};
  FiscalCore::ItemInput in;
  in.code = text::trimRight(p.substr(0, 13));
  in.quantity = qty * 1000;
  in.unitPrice = price * 10;
  in.description = text::trimRight(p.substr(41, 24));
  const std::string tax = p.substr(65, 3);
  int64_t pos = 0;
  if (tax == "I  ")
    in.tax = "II";
  else if (tax == "F  ")
    in.tax = "FF";
  else if (tax == "N  ")
    in.tax = "NN";
  else if (field(tax, 1, 2, pos))
    in.tax = digits(pos, 2);
  else
    return fail(FiscalError::TaxNotProgrammed);
  in.unit = "UN";
  return fail(core().registerItem(in));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::itemDiscount(const sw::ClassicRequest& req) {
  int64_t v = 0;
  if (!field(req.params, 15, 12, v)) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  return fail(core().adjustItem(core().counters().lastItem, false, v));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::discount(const sw::ClassicRequest& req) {
  int64_t v = 0;
  if (!field(req.params, 15, 12, v)) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  return fail(core().totalize(v, 0));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::increase(const sw::ClassicRequest& req) {
  int64_t v = 0;
  if (!field(req.params, 6, 11, v)) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  return fail(core().totalize(0, v));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::cancelItem(const sw::ClassicRequest& req) {
  int64_t n = 0;
  if (!field(req.params, 0, 3, n)) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  return fail(core().cancelItem(static_cast<int>(n)));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::cancelReceipt(const sw::ClassicRequest&) {
  return fail(core().cancelReceipt());
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::nonFiscal(const sw::ClassicRequest& req) {
  int64_t title = 0, v = 0;
  if (!field(req.params, 0, 2, title) || !field(req.params, 2, 12, v)) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  FiscalCore& c = core();
  if (c.document().kind == DocKind::None)
    if (FiscalError e = c.openNonFiscal(); e != FiscalError::Ok) return fail(e);
  return fail(c.nonFiscalItem(static_cast<int>(title - 1), v));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::printText(const sw::ClassicRequest& req) {
  FiscalCore& c = core();
  return fail(c.document().kind == DocKind::Linked ? c.linkedText(req.params) : c.reportText(req.params));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::pay(const sw::ClassicRequest& req) {
  int64_t index = 0, v = 0;
  if (!field(req.params, 0, 2, index) || !field(req.params, 2, 12, v)) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  if (index < 1 || index > static_cast<int64_t>(core().payments().size()))
    return fail(FiscalError::PaymentNotProgrammed);
  if (core().document().state == ReceiptState::Items)
    if (FiscalError e = core().totalize(0, 0); e != FiscalError::Ok) return fail(e);
  return fail(core().pay(static_cast<int>(index - 1), v));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::closeDocument(const sw::ClassicRequest&) {
  FiscalCore& c = core();
  Answer a;
  switch (c.document().kind) {
    case DocKind::Linked:
      a = fail(c.closeLinked());
      break;
    case DocKind::Report:
      a = fail(c.closeReport());
      break;
    default:
      a = fail(c.closeReceipt(""));
  }
  a.printing = a.code == 0;
  return a;
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::reportOrX(const sw::ClassicRequest& req) {
  if (req.params == "S") return fail(core().openReport(0));
  if (req.params == "X") return {0, {}, false, joinLines(core().xReportLines())};
  Answer a = fail(core().xReport());
  a.printing = a.code == 0;
  return a;
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::reducaoZ(const sw::ClassicRequest&) {
  Answer a = fail(core().zReduction());
  a.printing = a.code == 0;
  return a;
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::memoryByReduction(const sw::ClassicRequest& req) {
  int64_t a = 0, b = 0;
  if (!field(req.params, 0, 4, a) || !field(req.params, 4, 4, b)) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  const bool serial = req.params.size() > 8 && req.params[8] == 'X';
  std::vector<ZRecord> records;
  Answer r = fail(core().readFiscalMemory(MemoryRange{false, a, b}, true, &records, !serial));
  if (r.code == 0 && serial) r.report = joinLines(core().memoryLines(records, true));
  return r;
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::memoryByDate(const sw::ClassicRequest& req) {
  const std::string& p = req.params;
  if (p.size() < 12) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  const int64_t a = dayOf(p.substr(0, 4) + "20" + p.substr(4, 2)), b = dayOf(p.substr(6, 4) + "20" + p.substr(10, 2));
  if (a < 0 || b < 0) return fail(FiscalError::InvalidDate);
  const bool serial = p.size() > 12 && p[12] == 'X';
  std::vector<ZRecord> records;
  Answer r = fail(core().readFiscalMemory(MemoryRange{true, a, b}, true, &records, !serial));
  if (r.code == 0 && serial) r.report = joinLines(core().memoryLines(records, true));
  return r;
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::openReceipt(const sw::ClassicRequest&) {
  return fail(core().openReceipt());
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::openLinked(const sw::ClassicRequest& req) {
  int64_t index = 0, v = 0;
  if (!field(req.params, 0, 2, index) || !field(req.params, 23, 12, v)) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  return fail(core().openLinked(static_cast<int>(index - 1), v));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::drawer(const sw::ClassicRequest&) {
  openDrawer();
  return {};
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::accept(const sw::ClassicRequest&) {
  return {};
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::readRegister(const sw::ClassicRequest& req) {
  const Counters& n = core().counters();
  if (req.params == "1") return {0, digits(n.coo, 6), false, {}};
  if (req.params == "3") return {0, digits(n.crz, 4), false, {}};
  if (req.params == "6") return {0, digits(n.cro, 4), false, {}};
  if (req.params == "7") return {0, digits(n.ccf, 6), false, {}};
  if (req.params == "F") return {0, digits(core().grandTotal(), 18), false, {}};
  if (req.params == "G") return {0, core().identity().serial, false, {}};
  return {kSyntax, "ERRO DE SINTAXE", false, {}};
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::readState(const sw::ClassicRequest&) {
  const Stamp s = fromSeconds(core().now());
  std::string d = digits(s.day, 2) + digits(s.month, 2) + digits(s.year % 100, 2) + digits(s.hour, 2) +
                  digits(s.minute, 2) + digits(s.second, 2);
  d += core().daylightSaving() ? 'S' : 'N';
  d += core().receiptOpen() ? 'S' : 'N';
  return {0, d, false, {}};
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::readTable(const sw::ClassicRequest& req) {
  const FiscalCore& c = core();
  std::string d;
  if (req.params == "3") {
    for (const Tax& t : c.taxes()) d += "|" + std::string(1, t.kind) + digits(t.rate, 4);
  } else if (req.params == "4") {
    for (const PaymentType& p : c.payments()) d += "|" + p.name;
  } else if (req.params == "5") {
    for (const NonFiscalTitle& t : c.titles()) {
      const bool out = t.name == "SANGRIA" || t.name == "VALE" || t.name == "DESPESAS";
      d += std::string("|") + (out ? "-" : "+") + t.name;
    }
  } else if (req.params.size() != 1) {
    return {kSyntax, "ERRO DE SINTAXE", false, {}};
  }
  return {0, d, false, {}};
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::daylightSaving(const sw::ClassicRequest& req) {
  if (req.params != "S" && req.params != "N") return {kSyntax, "ERRO DE SINTAXE", false, {}};
  return fail(core().setDaylightSaving(req.params == "S"));
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::resetTitles(const sw::ClassicRequest& req) {
  // "N", then 15-character names each led by '&' (a group), '+' or '-'; the
  // last one may come without its trailing blanks.
  for (size_t at = 1; at + 1 < req.params.size(); at += 15) {
    const std::string entry = req.params.substr(at, 15);
    if (entry[0] == '&') continue;
    const std::string name = text::trimRight(entry.substr(1));
    if (core().titleIndex(name) < 0)
      if (FiscalError e = core().addTitle(name); e != FiscalError::Ok) return fail(e);
  }
  return {};
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::addPayments(const sw::ClassicRequest& req) {
  for (size_t at = 0; at + 15 <= req.params.size(); at += 15) {
    const std::string name = text::trimRight(req.params.substr(at, 15));
    if (name.empty() || core().paymentIndex(name) >= 0) continue;
    if (FiscalError e = core().addPayment(name); e != FiscalError::Ok) return fail(e);
  }
  return {};
}

SwedaClassicPrinter::Answer SwedaClassicPrinter::readCheck(const sw::ClassicRequest&) {
  if (!hardware().checkStation || !documentInSlot()) return {109, "INSERIR CHEQUE", false, {}};
  return {0, formatCmc7(cmc7Digits()), false, {}};
}

// Currency in words (one and many), place and payee: 80, 30, 20 and 20 wide.
SwedaClassicPrinter::Answer SwedaClassicPrinter::checkLayout(const sw::ClassicRequest& req) {
  if (req.params.size() != 150) return {kSyntax, "ERRO DE SINTAXE", false, {}};
  return {};
}

// "N", the value in hundredths (12), "N", the text (120), "2", ddmmyyyy: the
// check in the station is read, then printed.
SwedaClassicPrinter::Answer SwedaClassicPrinter::readAndPrintCheck(const sw::ClassicRequest& req) {
  int64_t v = 0;
  const std::string& p = req.params;
  if (p.size() != 143 || p[0] != 'N' || !field(p, 1, 12, v) || p[13] != 'N' || p[134] != '2')
    return {kSyntax, "ERRO DE SINTAXE", false, {}};
  if (!hardware().checkStation || !documentInSlot()) return {109, "INSERIR CHEQUE", false, {}};
  Answer a{0, formatCmc7(cmc7Digits()), true, {}};
  return a;
}

// ================================================================ models

std::vector<VirtualModel> sweda::virtualModels() {
  std::vector<VirtualModel> rows;
  for (const caps::ModelRow& r : caps::fiscalModels()) {
    if (r.family != caps::Family::SwedaST && r.family != caps::Family::SwedaClassic) continue;
    rows.push_back({r.number, r.name, Hardware{r.columns ? r.columns : 48, r.canReadCheck},
                    [](int number, std::shared_ptr<FiscalCore> core) -> std::shared_ptr<VirtualPrinter> {
                      const caps::ModelRow* row = caps::fiscalModel(number);
                      if (!row) return nullptr;
                      const Hardware hw{row->columns ? row->columns : 48, row->canReadCheck};
                      if (row->family == caps::Family::SwedaST)
                        return std::make_shared<SwedaSTPrinter>(std::move(core), row->name, hw);
                      if (row->family == caps::Family::SwedaClassic)
                        return std::make_shared<SwedaClassicPrinter>(std::move(core), row->name, hw);
                      return nullptr;
                    }});
  }
  return rows;
}

}  // namespace tarvion::emulator
