// The classic Daruma face (FS-345): ESC commands, ":Edd" refusals.
#include <algorithm>

#include "core/text.h"
#include "emulator/daruma/printer.h"
#include "emulator/paper.h"

namespace tarvion::emulator {

namespace dm = daruma;

namespace {

struct Refusal {
  FiscalError error;
  int code;
};
// The classic codes for the refusals of the fiscal half; anything else is an
// operation the current state does not allow (44).
constexpr Refusal kRefusals[] = {
    {FiscalError::ReceiptAlreadyOpen, 10},
    {FiscalError::NoReceiptOpen, 11},
    {FiscalError::DocumentOpen, 10},
    {FiscalError::TaxNotProgrammed, 18},
    {FiscalError::TaxTableFull, 14},
    {FiscalError::PaymentNotProgrammed, 38},
    {FiscalError::PaymentTableFull, 14},
    {FiscalError::TitleNotProgrammed, 30},
    {FiscalError::TitleTableFull, 14},
    {FiscalError::NoItems, 28},
    {FiscalError::AlreadyTotalized, 39},
    {FiscalError::NotTotalized, 39},
    {FiscalError::ItemNotFound, 15},
    {FiscalError::ItemAlreadyCancelled, 15},
    {FiscalError::DiscountTooLarge, 24},
    {FiscalError::ZeroValue, 28},
    {FiscalError::PaymentsNotFinished, 39},
    {FiscalError::PaymentsFinished, 39},
    {FiscalError::CancelNotAllowed, 12},
    {FiscalError::AlreadyCancelled, 12},
    {FiscalError::LinkedNotAllowed, 43},
    {FiscalError::NoLinkedOpen, 11},
    {FiscalError::NoReportOpen, 11},
    {FiscalError::NoNonFiscalOpen, 11},
    {FiscalError::ZPending, 23},
    {FiscalError::ZAlreadyDone, 22},
    {FiscalError::DaylightSavingNotAllowed, 40},
    {FiscalError::AuthenticationNotAllowed, 31},
    {FiscalError::PaperOut, 50},
    {FiscalError::InvalidDate, 87},
    {FiscalError::DateBeforeLastDocument, 41},
    {FiscalError::InvalidRange, 87},
    {FiscalError::FiscalMemoryFull, 3},
    {FiscalError::InvalidParameter, 87},
    {FiscalError::TooManyItems, 14},
    {FiscalError::DayHasMovement, 40},
    {FiscalError::MemoryWrite, 2},
};
constexpr int kWrongState = 44, kSyntax = 16, kNotDigits = 13, kBlank = 45, kTaxLoaded = 37, kBadParameter = 87;
constexpr size_t kSlots = 20, kPaymentName = 17, kTitleName = 21;

using Answer = DarumaClassicPrinter::Answer;

Answer refused(int code) {
  Answer a;
  a.refusal = code;
  return a;
}
Answer data(std::string d) {
  Answer a;
  a.data = std::move(d);
  return a;
}

// ddmmyy[hhmmss] into the printer's count; false for a date that does not exist.
bool stampOf(std::string_view s, int64_t& out) {
  long long n = 0;
  if ((s.size() != 6 && s.size() != 12) || !dm::digits(s, n)) return false;
  auto num = [&](size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
  Stamp st{2000 + num(4), num(2), num(0)};
  if (s.size() == 12) {
    st.hour = num(6);
    st.minute = num(8);
    st.second = num(10);
  }
  if (!validStamp(st)) return false;
  out = toSeconds(st);
  return true;
}

std::string ddmmyy(int64_t seconds) {
  const Stamp s = fromSeconds(seconds);
  return dm::zeros(s.day, 2) + dm::zeros(s.month, 2) + dm::zeros(s.year % 100, 2);
}

std::string field(const dm::Request& r, size_t at, size_t n) {
  return r.params.substr(std::min(at, r.params.size()), n);
}

}  // namespace

DarumaClassicPrinter::DarumaClassicPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : DarumaFace(std::move(core), name, hardware) {}

int DarumaClassicPrinter::codeOf(FiscalError e) {
  if (e == FiscalError::Ok) return -1;
  for (const Refusal& r : kRefusals)
    if (r.error == e) return r.code;
  return kWrongState;
}

Answer DarumaClassicPrinter::fail(FiscalError e) {
  return e == FiscalError::Ok ? Answer{} : refused(codeOf(e));
}

void DarumaClassicPrinter::consume(ByteArray& buf, ReplySink& out) {
  while (!buf.empty()) {
    dm::Request req;
    const dm::FrameState st = dm::parseClassic(buf.data(), buf.size(), req);
    if (st == dm::FrameState::Incomplete) break;
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(req.size));
    if (st == dm::FrameState::NotAFrame) continue;
    // A refused command (the "nak" fault) is answered as a communication error.
    if (!serve(out, withNoise(dm::classicRefusal(90)), [&] {
          const Answer a = execute(req);
          return withNoise(a.refusal >= 0 ? dm::classicRefusal(a.refusal) : dm::classicReply(a.data));
        }))
      return;
  }
}

std::span<const DarumaClassicPrinter::Command> DarumaClassicPrinter::dispatchTable() {
  using P = DarumaClassicPrinter;
  static constexpr Command kCommands[] = {
      {'Y', &P::display},       {'p', &P::drawer},        {200, &P::openReceipt},  {205, &P::cancelItem},
      {206, &P::cancelReceipt}, {207, &P::leituraX},      {208, &P::reducaoZ},     {209, &P::memoryRead},
      {211, &P::openReport},    {212, &P::closeDocument}, {213, &P::reportText},   {217, &P::nonFiscal},
      {218, &P::definePayment}, {219, &P::openLinked},    {220, &P::defineTax},    {226, &P::defineTitle},
      {228, &P::daylightOver},  {229, &P::daylightRead},  {230, &P::clockRead},    {231, &P::taxRead},
      {236, &P::identityRead},  {238, &P::paymentRead},   {239, &P::receiptRead},  {240, &P::totalsRead},
      {241, &P::totalize},      {242, &P::pay},           {243, &P::closeReceipt}, {244, &P::titleRead},
      {247, &P::sellItem},      {250, &P::fiscalRead},    {255, &P::paperRead},
  };
  static_assert([] {
    for (size_t i = 1; i < std::size(kCommands); ++i)
      if (kCommands[i - 1].code >= kCommands[i].code) return false;
    return true;
  }());
  return kCommands;
}

Answer DarumaClassicPrinter::execute(const dm::Request& req) {
  if (!req.known) return refused(kSyntax);
  const auto table = dispatchTable();
  const auto at =
      std::lower_bound(table.begin(), table.end(), req.code, [](const Command& c, uint8_t k) { return c.code < k; });
  if (at == table.end() || at->code != req.code) return refused(kSyntax);
  return (this->*at->run)(req);
}

// ---- commands. The codec has cut each to the length its shape gives.

Answer DarumaClassicPrinter::openReceipt(const dm::Request& req) {
  std::vector<std::string> t;
  size_t used = 0;
  dm::splitTexts(req.params, 3, t, used);
  return fail(core().openReceipt(text::trim(t[0]), text::trim(t[1]), text::trim(t[2])));
}

Answer DarumaClassicPrinter::cancelItem(const dm::Request& req) {
  long long item = 0;
  if (!dm::digits(field(req, 0, 3), item)) return refused(kNotDigits);
  return fail(core().cancelItem(static_cast<int>(item)));
}

Answer DarumaClassicPrinter::cancelReceipt(const dm::Request&) {
  return fail(core().cancelReceipt());
}

Answer DarumaClassicPrinter::leituraX(const dm::Request&) {
  return fail(core().xReport());
}

Answer DarumaClassicPrinter::reducaoZ(const dm::Request& req) {
  int64_t when = 0;
  if (!stampOf(field(req, 0, 12), when)) return refused(kBadParameter);
  return fail(core().zReduction(when));
}

// kind, first, last: D/d and R/r print by date and by counter, T/t and S/s
// send the read back as text (lower case: summarised). The text ends with
// the users of the fiscal memory under their header.
Answer DarumaClassicPrinter::memoryRead(const dm::Request& req) {
  const char kind = req.params[0];
  const char upper = static_cast<char>(kind >= 'a' ? kind - 'a' + 'A' : kind);
  if (upper != 'D' && upper != 'R' && upper != 'S' && upper != 'T') return refused(kBadParameter);
  const bool byDate = upper == 'D' || upper == 'T', asText = upper == 'S' || upper == 'T';
  MemoryRange range;
  range.byDate = byDate;
  if (byDate) {
    int64_t a = 0, b = 0;
    if (!stampOf(field(req, 1, 6), a) || !stampOf(field(req, 7, 6), b)) return refused(kBadParameter);
    range.first = dayNumber(a);
    range.last = dayNumber(b);
  } else {
    long long a = 0, b = 0;
    if (!dm::digits(field(req, 1, 6), a) || !dm::digits(field(req, 7, 6), b)) return refused(kNotDigits);
    range.first = a;
    range.last = b;
  }
  const bool full = kind == upper;
  std::vector<ZRecord> records;
  FiscalCore& c = core();
  const FiscalError e = c.readFiscalMemory(range, full, &records, !asText);
  // An empty range still lists the users when the read goes back as text.
  if (e != FiscalError::Ok && !(asText && records.empty())) return fail(e);
  if (!asText) return {};
  std::string out;
  for (const std::string& l : c.memoryLines(records, full)) out += l + "\n";
  out += std::string(kUserHeader) + "\n";
  const Stamp s = fromSeconds(c.identity().fiscalStart);
  out += text::format("%02d/%02d/%04d %02d:%02d:%02d  %16s  %4d  %4d\n", s.day, s.month, s.year, s.hour, s.minute,
                      s.second, dm::zeros(c.grandTotal(), 16).c_str(), c.counters().cro, c.counters().crz);
  for (char& ch : out)
    if (ch == '\r') ch = ' ';
  return data(out);
}

Answer DarumaClassicPrinter::openReport(const dm::Request&) {
  return fail(core().openReport(0));
}

Answer DarumaClassicPrinter::closeDocument(const dm::Request&) {
  switch (core().document().kind) {
    case DocKind::Linked:
      return fail(core().closeLinked());
    case DocKind::Report:
      return fail(core().closeReport());
    default:
      return refused(11);
  }
}

Answer DarumaClassicPrinter::reportText(const dm::Request& req) {
  std::string line = req.params;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  switch (core().document().kind) {
    case DocKind::Linked:
      return fail(core().linkedText(line + "\n"));
    case DocKind::Report:
      return fail(core().reportText(line + "\n"));
    default:
      return refused(11);
  }
}

// accumulator ("A" the first title), "0", 12 zeros, amount(12), FF
Answer DarumaClassicPrinter::nonFiscal(const dm::Request& req) {
  const char acc = req.params[0];
  long long v = 0;
  if (acc < 'A' || acc >= static_cast<char>('A' + kSlots)) return refused(30);
  if (!dm::digits(field(req, 14, 12), v)) return refused(kNotDigits);
  if (v == 0) return refused(28);
  return fail(core().nonFiscalReceipt(acc - 'A', v, 0));
}

Answer DarumaClassicPrinter::definePayment(const dm::Request& req) {
  if (req.params[0] == 'V') return {};
  if (req.params.compare(0, 2, "PG") != 0) return refused(kBadParameter);
  const std::string name = text::trim(field(req, 2, kPaymentName));
  if (name.empty()) return refused(kBlank);
  if (core().paymentIndex(name) >= 0) return {};
  return fail(core().addPayment(name));
}

// three texts (payment name, receipt number, a line) and the amount(12)
Answer DarumaClassicPrinter::openLinked(const dm::Request& req) {
  std::vector<std::string> t;
  size_t used = 0;
  dm::splitTexts(req.params, 3, t, used);
  long long v = 0, coo = 0;
  if (!dm::digits(field(req, used, 12), v)) return refused(kNotDigits);
  const int payment = core().paymentIndex(text::trim(t[0]));
  if (payment < 0) return refused(38);
  const std::string number = text::trim(t[1]);
  if (!number.empty() && !dm::digits(number, coo)) return refused(kNotDigits);
  return fail(core().openLinked(payment, v, static_cast<int>(coo)));
}

Answer DarumaClassicPrinter::defineTax(const dm::Request& req) {
  const bool service = req.params[0] == 'S';
  long long rate = 0;
  if (!dm::digits(field(req, service ? 1 : 0, 4), rate)) return refused(kNotDigits);
  if (rate == 0) return refused(28);
  for (const Tax& t : core().taxes())
    if (t.kind == (service ? 'S' : 'T') && t.rate == rate) return refused(kTaxLoaded);
  return fail(core().addTax(service ? 'S' : 'T', static_cast<int>(rate)));
}

Answer DarumaClassicPrinter::defineTitle(const dm::Request& req) {
  if (req.params[0] != '+') return refused(kBadParameter);
  const std::string name = text::trim(field(req, 1, kTitleName));
  if (name.empty()) return refused(kBlank);
  if (core().titleIndex(name) >= 0) return {};
  return fail(core().addTitle(name));
}

Answer DarumaClassicPrinter::daylightOver(const dm::Request&) {
  return fail(core().setDaylightSaving(!core().daylightSaving()));
}

Answer DarumaClassicPrinter::daylightRead(const dm::Request&) {
  return data(core().daylightSaving() ? "1" : "0");
}

Answer DarumaClassicPrinter::clockRead(const dm::Request&) {
  const Stamp s = fromSeconds(core().now());
  return data(ddmmyy(core().now()) + dm::zeros(s.hour, 2) + dm::zeros(s.minute, 2) + dm::zeros(s.second, 2));
}

Answer DarumaClassicPrinter::taxRead(const dm::Request&) {
  std::string s;
  for (const Tax& t : core().taxes()) s += std::string(1, t.kind) + dm::zeros(t.rate, 4);
  return data(s);
}

Answer DarumaClassicPrinter::identityRead(const dm::Request&) {
  const Identity& id = core().identity();
  const std::string serial = id.serial.size() > 8 ? id.serial.substr(id.serial.size() - 8) : dm::padded(id.serial, 8);
  return data(serial + dm::zeros(id.ecfNumber, 4) + dm::zeros(id.userNumber, 2));
}

Answer DarumaClassicPrinter::paymentRead(const dm::Request&) {
  std::string s;
  const auto& p = core().payments();
  for (size_t i = 0; i < kSlots; ++i)
    s += dm::padded(i < p.size() ? p[i].name : "", kPaymentName) + dm::zeros(i < p.size() ? p[i].dayAmount : 0, 13);
  return data(s);
}

Answer DarumaClassicPrinter::receiptRead(const dm::Request&) {
  const FiscalCore& c = core();
  return data(dm::zeros(c.counters().coo, 6) + (c.receiptOpen() ? "1" : "0") + dm::zeros(c.grandTotal(), 18) +
              dm::zeros(c.counters().ccf, 6) + dm::zeros(c.counters().gnf, 6));
}

Answer DarumaClassicPrinter::totalsRead(const dm::Request&) {
  const DayTotals& d = core().day();
  return data(dm::zeros(d.gross, 14) + dm::zeros(d.cancellations, 14) + dm::zeros(d.discounts, 14) +
              dm::zeros(d.increases, 14) + dm::zeros(d.nonFiscal, 14) + dm::zeros(core().counters().crz, 4) +
              dm::zeros(core().counters().cro, 4));
}

Answer DarumaClassicPrinter::totalize(const dm::Request& req) {
  long long v = 0;
  const char kind = req.params[0];
  if (kind != '1' && kind != '3') return refused(kBadParameter);
  if (!dm::digits(field(req, 1, 12), v)) return refused(kNotDigits);
  if (core().document().kind != DocKind::Fiscal) return fail(FiscalError::NoReceiptOpen);
  return fail(core().totalize(kind == '1' ? v : 0, kind == '3' ? v : 0));
}

Answer DarumaClassicPrinter::pay(const dm::Request& req) {
  FiscalCore& c = core();
  long long index = 0, v = 0;
  if (!dm::digits(field(req, 0, 2), index) || !dm::digits(field(req, 2, 12), v)) return refused(kNotDigits);
  if (index < 1 || index > static_cast<long long>(c.payments().size())) return refused(38);
  const ReceiptState st = c.document().state;
  if (c.document().kind == DocKind::Fiscal && (st == ReceiptState::Items || st == ReceiptState::Open)) {
    if (const FiscalError e = c.totalize(0, 0); e != FiscalError::Ok) return fail(e);
  }
  return fail(c.pay(static_cast<int>(index - 1), v));
}

Answer DarumaClassicPrinter::closeReceipt(const dm::Request& req) {
  std::vector<std::string> t;
  size_t used = 0;
  dm::splitTexts(req.params, 1, t, used);
  if (core().document().kind != DocKind::Fiscal) return fail(FiscalError::NoReceiptOpen);
  return fail(core().closeReceipt(text::trimRight(t[0])));
}

Answer DarumaClassicPrinter::titleRead(const dm::Request&) {
  std::string s;
  const auto& t = core().titles();
  for (size_t i = 0; i < kSlots; ++i) s += dm::padded(i < t.size() ? t[i].name : "", kTitleName);
  return data(s);
}

// tax(2) code(13) flag(1) adjustment(9) price(10) quantity(8) "3" unit(2) description(30)
Answer DarumaClassicPrinter::sellItem(const dm::Request& req) {
  const std::string tax = field(req, 0, 2);
  long long adjust = 0, price = 0, qty = 0;
  if (!dm::digits(field(req, 16, 9), adjust) || !dm::digits(field(req, 25, 10), price) ||
      !dm::digits(field(req, 35, 8), qty))
    return refused(kNotDigits);
  const char flag = req.params[15];
  if (flag != '2' && flag != '3') return refused(kBadParameter);
  FiscalCore::ItemInput in;
  if (tax == "I ")
    in.tax = "II";
  else if (tax == "F ")
    in.tax = "FF";
  else if (tax == "N ")
    in.tax = "NN";
  else if (tax[0] == 'T') {
    const char p = tax[1];
    const int index = p >= '0' && p <= '9' ? p - '0' : p >= 'A' && p <= 'F' ? p - 'A' + 10 : -1;
    if (index < 0 || index >= static_cast<int>(core().taxes().size())) return refused(18);
    in.tax = dm::zeros(index + 1, 2);
  } else {
    return refused(kBadParameter);
  }
  in.code = text::trim(field(req, 2, 13));
  in.unit = text::trim(field(req, 44, 2));
  in.description = text::trim(field(req, 46, 30));
  if (in.description.empty()) return refused(kBlank);
  if (qty == 0 || price == 0) return refused(28);
  in.quantity = qty;
  in.unitPrice = price;
  (flag == '2' ? in.discount : in.increase) = adjust;
  return fail(core().registerItem(in));
}

Answer DarumaClassicPrinter::fiscalRead(const dm::Request&) {
  const FiscalCore& c = core();
  const int64_t day = c.day().movementDay;
  return data(ddmmyy(day >= 0 ? day * 86400 : c.now()) + dm::zeros(c.identity().ecfNumber, 4) +
              (c.daylightSaving() ? "1" : "0"));
}

Answer DarumaClassicPrinter::paperRead(const dm::Request&) {
  return data(core().paperNearEnd() || core().paperOut() ? "1" : "0");
}

Answer DarumaClassicPrinter::drawer(const dm::Request&) {
  openDrawer();
  return {};
}

Answer DarumaClassicPrinter::display(const dm::Request&) {
  return {};
}

}  // namespace tarvion::emulator
