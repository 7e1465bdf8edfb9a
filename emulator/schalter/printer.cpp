// The Schalter ECF-IF face: framing, dispatch, the refusal codes and the
// handlers on the fiscal half.
#include "emulator/schalter/printer.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/capabilities.h"
#include "core/text.h"

namespace tarvion::emulator {

namespace sc = tarvion::emulator::schalter;
using text::format;

namespace {

struct Refusal {
  FiscalError error;
  uint8_t code;
};
// How the printer refuses each wrong state of the fiscal half.
const Refusal kRefusals[] = {
    {FiscalError::ReceiptAlreadyOpen, 90},
    {FiscalError::NoReceiptOpen, 69},
    {FiscalError::DocumentOpen, 126},
    {FiscalError::TaxNotProgrammed, 106},
    {FiscalError::TaxTableFull, 105},
    {FiscalError::PaymentNotProgrammed, 139},
    {FiscalError::PaymentTableFull, 105},
    {FiscalError::PaymentAlreadyProgrammed, 142},
    {FiscalError::TitleNotProgrammed, 143},
    {FiscalError::TitleTableFull, 105},
    {FiscalError::TitleAlreadyProgrammed, 142},
    {FiscalError::ReportNotProgrammed, 143},
    {FiscalError::NoItems, 135},
    {FiscalError::AlreadyTotalized, 87},
    {FiscalError::NotTotalized, 104},
    {FiscalError::ItemNotFound, 134},
    {FiscalError::ItemAlreadyCancelled, 95},
    {FiscalError::DiscountTooLarge, 102},
    {FiscalError::ZeroValue, 70},
    {FiscalError::PaymentsNotFinished, 118},
    {FiscalError::PaymentsFinished, 74},
    {FiscalError::CancelNotAllowed, 91},
    {FiscalError::AlreadyCancelled, 91},
    {FiscalError::LinkedNotAllowed, 154},
    {FiscalError::NoLinkedOpen, 146},
    {FiscalError::NoReportOpen, 126},
    {FiscalError::NoNonFiscalOpen, 126},
    {FiscalError::ZPending, 108},
    {FiscalError::ZAlreadyDone, 115},
    {FiscalError::DaylightSavingNotAllowed, 147},
    {FiscalError::AuthenticationNotAllowed, 140},
    {FiscalError::PaperOut, 81},
    {FiscalError::InvalidDate, 133},
    {FiscalError::DateBeforeLastDocument, 133},
    {FiscalError::InvalidRange, 97},
    {FiscalError::FiscalMemoryFull, 78},
    {FiscalError::InvalidParameter, 136},
    {FiscalError::TooManyItems, 103},
    {FiscalError::DayHasMovement, 100},
    {FiscalError::ItemAdjustmentDone, 102},
    {FiscalError::NoItemAdjustment, 96},
    {FiscalError::SecondCopyNotAllowed, 126},
    {FiscalError::MemoryWrite, 121},
};
constexpr uint8_t kFallback = 105;  // "Dados inválidos"

bool digits(const std::string& s, size_t at, size_t n, int64_t& out) {
  if (at + n > s.size() || n == 0) return false;
  int64_t v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

// A field padded with blanks before its digits ("     1000").
bool blankDigits(const std::string& s, size_t at, size_t n, int64_t& out) {
  if (at + n > s.size()) return false;
  std::string t = s.substr(at, n);
  const size_t lead = t.find_first_not_of(' ');
  if (lead == std::string::npos) return false;
  return digits(t, lead, t.size() - lead, out);
}

std::string trimmed(const std::string& s, size_t at, size_t n) {
  if (at >= s.size()) return {};
  std::string t = s.substr(at, n);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
  const size_t lead = t.find_first_not_of(std::string(" \0", 2));
  return lead == std::string::npos ? std::string() : t.substr(lead);
}

// Cents as "%<width>s" of the value with its decimal comma.
std::string money(Cents c, size_t width) {
  const bool neg = c < 0;
  const long long v = neg ? -c : c;
  std::string s = format("%s%lld,%02lld", neg ? "-" : "", v / 100, v % 100);
  if (s.size() < width) s.insert(0, width - s.size(), ' ');
  return s;
}

std::string padded(const std::string& s, size_t width) {
  std::string t = s.substr(0, width);
  t.resize(width, ' ');
  return t;
}

}  // namespace

SchalterPrinter::SchalterPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : VirtualPrinter(std::move(core), name, hardware) {}

uint8_t SchalterPrinter::statusOf(FiscalError e) {
  if (e == FiscalError::Ok) return 0;
  for (const Refusal& r : kRefusals)
    if (r.error == e) return r.code;
  return kFallback;
}

SchalterPrinter::Answer SchalterPrinter::fail(FiscalError e) const {
  return {statusOf(e), {}};
}

std::span<const SchalterPrinter::Command> SchalterPrinter::dispatchTable() {
  using P = SchalterPrinter;
  static constexpr Command kTable[] = {
      {0x01, &P::openReceipt}, {0x04, &P::cancelOpen},     {0x05, &P::cancelOpen},    {0x06, &P::closeDocument},
      {0x10, &P::openReport},  {0x12, &P::totals},         {0x13, &P::reducaoZ},      {0x14, &P::leituraX},
      {0x15, &P::memoryRead},  {0x16, &P::daylightSaving}, {0x23, &P::addTitle},      {0x6F, &P::authenticate},
      {0xD0, &P::sellItem},    {0xD1, &P::subtotal},       {0xD3, &P::itemDiscount},  {0xD4, &P::cancelItem},
      {0xD5, &P::pay},         {0xD6, &P::nonFiscalValue}, {0xD9, &P::adjustReceipt}, {0xDD, &P::openNonFiscal},
      {0xDE, &P::openLinked},  {0xDF, &P::state},          {0xE0, &P::counters},      {0xE1, &P::readTax},
      {0xE2, &P::readPayment}, {0xE3, &P::readTitle},      {0xE4, &P::identity},      {0xE5, &P::grandTotal},
      {0xE7, &P::pending},     {0xFA, &P::drawer},
  };
  static_assert(std::is_sorted(std::begin(kTable), std::end(kTable),
                               [](const Command& a, const Command& b) { return a.code < b.code; }));
  return kTable;
}

void SchalterPrinter::consume(ByteArray& buf, ReplySink& out) {
  while (!buf.empty()) {
    sc::Request req;
    const sc::FrameState st = sc::parse(buf.data(), buf.size(), req);
    if (st == sc::FrameState::Incomplete) {
      if (buf.size() > kLargestCommand) buf.clear();
      break;
    }
    if (st == sc::FrameState::NotAFrame) {
      buf.erase(buf.begin());
      continue;
    }
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(req.size));
    const size_t size = req.text ? 1 : sc::answerSize(req.code);
    const ByteArray refusal = sc::answer(kNotReceived, size);
    ByteArray reply;
    if (st == sc::FrameState::BadCheck)
      reply = sc::answer(kBadCheck, size);
    else if (st == sc::FrameState::Unknown)
      reply = sc::answer(kUnknownCommand, 1);
    if (!reply.empty()) {
      if (!serve(out, refusal, [&] { return reply; })) return;
      continue;
    }
    if (!serve(out, refusal, [&] {
          const Answer a = execute(req);
          return sc::answer(a.status, size, a.fields);
        }))
      return;
  }
}

SchalterPrinter::Answer SchalterPrinter::execute(const sc::Request& req) {
  if (req.text) return printLine(req.params);
  const auto table = dispatchTable();
  const auto it = std::lower_bound(table.begin(), table.end(), req.code,
                                   [](const Command& c, uint8_t code) { return c.code < code; });
  if (it == table.end() || it->code != req.code) return {kUnknownCommand, {}};
  return (this->*(it->run))(req.params);
}

// ---------------------------------------------------------------- documents

SchalterPrinter::Answer SchalterPrinter::printLine(const std::string& text) {
  switch (core().document().kind) {
    case DocKind::Report:
      return fail(core().reportText(text));
    case DocKind::Linked:
      return fail(core().linkedText(text));
    case DocKind::Fiscal:
    case DocKind::NonFiscal:
      // The closing message, printed when the receipt closes.
      if (!message_.empty()) message_ += "\n";
      message_ += text;
      return {};
    case DocKind::None:
      break;
  }
  return {kOutOfSequence, {}};
}

SchalterPrinter::Answer SchalterPrinter::openReceipt(const std::string& p) {
  if (p != "&") return {kWrongParameter, {}};
  message_.clear();
  subtotalAsked_ = false;
  return fail(core().openReceipt());
}

SchalterPrinter::Answer SchalterPrinter::cancelOpen(const std::string&) {
  message_.clear();
  return fail(core().cancelReceipt());
}

SchalterPrinter::Answer SchalterPrinter::closeDocument(const std::string&) {
  switch (core().document().kind) {
    case DocKind::Fiscal:
    case DocKind::NonFiscal: {
      const std::string message = std::exchange(message_, {});
      return fail(core().closeReceipt(message));
    }
    case DocKind::Linked:
      return fail(core().closeLinked());
    case DocKind::Report:
      return fail(core().closeReport());
    case DocKind::None:
      break;
  }
  return {kOutOfSequence, {}};
}

SchalterPrinter::Answer SchalterPrinter::openReport(const std::string&) {
  return fail(core().openReport(0));
}

// Item: 4 NUL, code (13), NUL, description (62), quantity "001,500" or
// "01500,0", "x", unit (2), 10 NUL, unit price in cents (9), tax code (2).
SchalterPrinter::Answer SchalterPrinter::sellItem(const std::string& p) {
  FiscalCore::ItemInput in;
  in.code = trimmed(p, 4, 13);
  in.description = trimmed(p, 18, 62);
  const std::string qty = p.substr(80, 7);
  const size_t comma = qty.find(',');
  int64_t whole = 0, part = 0, price = 0;
  if (p[87] != 'x' || comma == std::string::npos || !digits(qty, 0, comma, whole) ||
      !digits(qty, comma + 1, qty.size() - comma - 1, part) || !digits(p, 100, 9, price))
    return {kWrongParameter, {}};
  const size_t decimals = qty.size() - comma - 1;
  in.quantity = whole * 1000 + part * (decimals == 3 ? 1 : decimals == 2 ? 10 : 100);
  in.unit = trimmed(p, 88, 2);
  in.unitPrice = price * 10;
  const std::string tax = p.substr(109, 2);
  if (tax == "17")
    in.tax = "II";
  else if (tax == "16")
    in.tax = "FF";
  else if (tax == "18")
    in.tax = "NN";
  else {
    int64_t index = 0;
    if (!digits(tax, 0, 2, index) || index >= static_cast<int64_t>(core().taxes().size()))
      return fail(FiscalError::TaxNotProgrammed);
    in.tax = format("%02d", static_cast<int>(index + 1));
  }
  return fail(core().registerItem(in));
}

SchalterPrinter::Answer SchalterPrinter::itemDiscount(const std::string& p) {
  int64_t cents = 0;
  if (p[0] != '\x03' || !digits(p, 68, 9, cents)) return {kWrongParameter, {}};
  const auto& items = core().document().items;
  if (!core().receiptOpen() || items.empty()) return fail(FiscalError::NoItems);
  return fail(core().adjustItem(items.back().number, false, cents));
}

SchalterPrinter::Answer SchalterPrinter::cancelItem(const std::string& p) {
  int64_t n = 0;
  if (!digits(p, 0, 4, n)) return {kWrongParameter, {}};
  return fail(core().cancelItem(static_cast<int>(n)));
}

SchalterPrinter::Answer SchalterPrinter::subtotal(const std::string&) {
  const Document& d = core().document();
  if (d.kind != DocKind::Fiscal) return fail(FiscalError::NoReceiptOpen);
  if (d.state != ReceiptState::Items)
    return fail(d.state == ReceiptState::Open ? FiscalError::NoItems : FiscalError::AlreadyTotalized);
  subtotalAsked_ = true;
  return {};
}

// 01 (increase) or 00 (discount), NUL, 25 NUL, the value in cents (10).
SchalterPrinter::Answer SchalterPrinter::adjustReceipt(const std::string& p) {
  int64_t cents = 0;
  if ((p[0] != '\x00' && p[0] != '\x01') || !digits(p, 27, 10, cents)) return {kWrongParameter, {}};
  if (!subtotalAsked_) return {kOutOfSequence, {}};
  subtotalAsked_ = false;
  return p[0] == '\x01' ? fail(core().totalize(0, cents)) : fail(core().totalize(cents, 0));
}

// 01, "0", NUL, 10 NUL, payment index (2), value in cents (10).
SchalterPrinter::Answer SchalterPrinter::pay(const std::string& p) {
  int64_t index = 0, cents = 0;
  if (!digits(p, 13, 2, index) || !digits(p, 15, 10, cents)) return {kWrongParameter, {}};
  const Document& d = core().document();
  // A receipt still taking items is totalled by its first payment.
  if ((d.kind == DocKind::Fiscal || d.kind == DocKind::NonFiscal) && d.state == ReceiptState::Items)
    if (FiscalError e = core().totalize(0, 0); e != FiscalError::Ok) return fail(e);
  return fail(core().pay(static_cast<int>(index), cents));
}

SchalterPrinter::Answer SchalterPrinter::openNonFiscal(const std::string& p) {
  if (p[0] != '\x01') return {kWrongParameter, {}};
  message_.clear();
  return fail(core().openNonFiscal());
}

// 78 blanks, the value in cents ("%9.0f"), the title index (2).
SchalterPrinter::Answer SchalterPrinter::nonFiscalValue(const std::string& p) {
  int64_t cents = 0, title = 0;
  if (!blankDigits(p, 78, 9, cents) || !digits(p, 87, 2, title)) return {kWrongParameter, {}};
  return fail(core().nonFiscalItem(static_cast<int>(title), cents));
}

// COO (6), payment index (2), value in cents (9).
SchalterPrinter::Answer SchalterPrinter::openLinked(const std::string& p) {
  int64_t coo = 0, index = 0, cents = 0;
  if (!digits(p, 0, 6, coo) || !digits(p, 6, 2, index) || !digits(p, 8, 9, cents)) return {kWrongParameter, {}};
  return fail(core().openLinked(static_cast<int>(index), cents, static_cast<int>(coo)));
}

// ---------------------------------------------------------------- reports and settings

SchalterPrinter::Answer SchalterPrinter::leituraX(const std::string&) {
  return fail(core().xReport());
}

SchalterPrinter::Answer SchalterPrinter::reducaoZ(const std::string&) {
  return fail(core().zReduction());
}

// 01 and two dates ddmmyy, or 02 and two reductions in the last 8 digits.
SchalterPrinter::Answer SchalterPrinter::memoryRead(const std::string& p) {
  MemoryRange range;
  if (p[0] == '\x01') {
    int64_t d[6] = {};
    for (size_t i = 0; i < 6; ++i)
      if (!digits(p, 1 + 2 * i, 2, d[i])) return {kWrongParameter, {}};
    const Stamp first{2000 + static_cast<int>(d[2]), static_cast<int>(d[1]), static_cast<int>(d[0])};
    const Stamp last{2000 + static_cast<int>(d[5]), static_cast<int>(d[4]), static_cast<int>(d[3])};
    if (!validStamp(first) || !validStamp(last)) return fail(FiscalError::InvalidDate);
    range.first = dayNumber(toSeconds(first));
    range.last = dayNumber(toSeconds(last));
  } else if (p[0] == '\x02') {
    range.byDate = false;
    if (!digits(p, 13, 4, range.first) || !digits(p, 17, 4, range.last)) return {kWrongParameter, {}};
  } else {
    return {kWrongParameter, {}};
  }
  return fail(core().readFiscalMemory(range, true));
}

// hhmmss "0" ddmmyy: the clock an hour ahead turns daylight saving on, an
// hour behind turns it off.
SchalterPrinter::Answer SchalterPrinter::daylightSaving(const std::string& p) {
  int64_t f[6] = {};
  for (size_t i = 0; i < 3; ++i)
    if (!digits(p, 2 * i, 2, f[i]) || !digits(p, 7 + 2 * i, 2, f[3 + i])) return {kWrongParameter, {}};
  const Stamp asked{2000 + static_cast<int>(f[5]), static_cast<int>(f[4]), static_cast<int>(f[3]),
                    static_cast<int>(f[0]),        static_cast<int>(f[1]), static_cast<int>(f[2])};
  if (!validStamp(asked)) return fail(FiscalError::InvalidDate);
  const int64_t diff = toSeconds(asked) - core().now();
  if (diff > 1800 && diff < 5400) return fail(core().setDaylightSaving(true));
  if (diff < -1800 && diff > -5400) return fail(core().setDaylightSaving(false));
  return {116, {}};  // "Ajuste somente de +/- 1 hora"
}

SchalterPrinter::Answer SchalterPrinter::addTitle(const std::string& p) {
  const std::string name = trimmed(p, 2, 20);
  if (name.empty()) return {kWrongParameter, {}};
  // A title already there is left as it is.
  if (core().titleIndex(name) >= 0) return {};
  return fail(core().addTitle(name));
}

SchalterPrinter::Answer SchalterPrinter::authenticate(const std::string& p) {
  return fail(core().authenticate(trimmed(p, 0, 48)));
}

SchalterPrinter::Answer SchalterPrinter::drawer(const std::string&) {
  openDrawer();
  return {};
}

// ---------------------------------------------------------------- reads

SchalterPrinter::Answer SchalterPrinter::state(const std::string&) {
  std::string f(6, '\0');
  f[4] = core().receiptOpen() ? '\x01' : '\x00';
  f[5] = core().paperNearEnd() ? '\x02' : drawerIsOpen() ? '\x00' : '\x08';
  return {0, f};
}

SchalterPrinter::Answer SchalterPrinter::counters(const std::string&) {
  const Stamp now = fromSeconds(core().now());
  std::string f =
      "00" + format("%04d", core().identity().ecfNumber % 10000) + std::string(1, '\0') +
      format("%06d", core().counters().coo) + std::string(2, '\0') +
      format("%02d%02d%02d%02d%02d%02d", now.day, now.month, now.year % 100, now.hour, now.minute, now.second);
  return {0, f};
}

SchalterPrinter::Answer SchalterPrinter::readTax(const std::string& p) {
  int64_t i = 0;
  if (!digits(p, 0, 2, i)) return {kWrongParameter, {}};
  const auto& taxes = core().taxes();
  if (i >= static_cast<int64_t>(taxes.size())) return {0, p + "N"};
  const Tax& t = taxes[static_cast<size_t>(i)];
  return {0, p + (t.kind == 'S' ? "S" : "T") + format("%02d,%02d", t.rate / 100, t.rate % 100)};
}

SchalterPrinter::Answer SchalterPrinter::readPayment(const std::string& p) {
  int64_t i = 0;
  if (!digits(p, 0, 2, i)) return {kWrongParameter, {}};
  const auto& pays = core().payments();
  if (i >= static_cast<int64_t>(pays.size())) return {0, p + "N"};
  const PaymentType& t = pays[static_cast<size_t>(i)];
  return {0, p + "S" + std::string(1, '\0') + padded(t.name, 20) + " " + money(t.dayAmount, 15)};
}

SchalterPrinter::Answer SchalterPrinter::readTitle(const std::string& p) {
  int64_t i = 0;
  if (!digits(p, 0, 2, i)) return {kWrongParameter, {}};
  const auto& titles = core().titles();
  if (i >= static_cast<int64_t>(titles.size())) return {0, p + "N"};
  return {0, p + "S" + padded(titles[static_cast<size_t>(i)].name, 20)};
}

SchalterPrinter::Answer SchalterPrinter::identity(const std::string&) {
  const std::string& serial = core().identity().serial;
  std::string f(34, ' ');
  f += padded(serial.size() > 9 ? serial.substr(serial.size() - 9) : serial, 9);
  return {0, f};
}

SchalterPrinter::Answer SchalterPrinter::grandTotal(const std::string&) {
  return {0, std::string(228, ' ') + money(core().grandTotal(), 21)};
}

SchalterPrinter::Answer SchalterPrinter::pending(const std::string& p) {
  int64_t i = 0;
  if (!digits(p, 0, 2, i)) return {kWrongParameter, {}};
  return {0, p + "N"};
}

SchalterPrinter::Answer SchalterPrinter::totals(const std::string&) {
  const DayTotals& d = core().day();
  return {0, money(d.gross, 21) + money(d.cancellations, 21) + money(d.discounts, 21) + money(d.increases, 21)};
}

// ---------------------------------------------------------------- models

std::vector<VirtualModel> schalter::virtualModels() {
  std::vector<VirtualModel> rows;
  for (const caps::ModelRow& r : caps::fiscalModels()) {
    if (r.family != caps::Family::Schalter) continue;
    rows.push_back({r.number, r.name, Hardware{r.columns ? r.columns : 40, false},
                    [](int number, std::shared_ptr<FiscalCore> core) -> std::shared_ptr<VirtualPrinter> {
                      const caps::ModelRow* row = caps::fiscalModel(number);
                      if (!row || row->family != caps::Family::Schalter) return nullptr;
                      return std::make_shared<SchalterPrinter>(std::move(core), row->name,
                                                               Hardware{row->columns ? row->columns : 40, false});
                    }});
  }
  return rows;
}

}  // namespace tarvion::emulator
