// The Epson face: frames in, FiscalCore calls, ACK and replies out.
#include "emulator/epson/printer.h"

#include <algorithm>
#include <cstdio>

#include "core/capabilities.h"
#include "core/text.h"

namespace tarvion::emulator {

namespace ep = epson;
using P = EpsonPrinter;

namespace {

constexpr uint8_t kNak = 0x15;

struct Refusal {
  FiscalError error;
  int code;  // class << 8 | detail
};

// The code a real printer answers each refusal with.
constexpr Refusal kRefusals[] = {
    {FiscalError::ReceiptAlreadyOpen, 0x0101},
    {FiscalError::NoReceiptOpen, 0x0101},
    {FiscalError::DocumentOpen, 0x0102},
    {FiscalError::NotTotalized, 0x0A17},
    {FiscalError::AlreadyTotalized, 0x0A18},
    {FiscalError::NoLinkedOpen, 0x0102},
    {FiscalError::NoReportOpen, 0x0102},
    {FiscalError::NoNonFiscalOpen, 0x0102},
    {FiscalError::TooManyItems, 0x0903},
    {FiscalError::PaymentsFinished, 0x0A0A},
    {FiscalError::TaxNotProgrammed, 0x090F},
    {FiscalError::TaxTableFull, 0x0904},
    {FiscalError::PaymentNotProgrammed, 0x0908},
    {FiscalError::PaymentTableFull, 0x050C},
    {FiscalError::PaymentAlreadyProgrammed, 0x050D},
    {FiscalError::TitleNotProgrammed, 0x0E15},
    {FiscalError::TitleTableFull, 0x0E16},
    {FiscalError::TitleAlreadyProgrammed, 0x0E1C},
    {FiscalError::ReportNotProgrammed, 0x0E17},
    {FiscalError::NoItems, 0x0A0F},
    {FiscalError::ItemNotFound, 0x0907},
    {FiscalError::ItemAlreadyCancelled, 0x0A1D},
    {FiscalError::DiscountTooLarge, 0x0A0C},
    {FiscalError::ZeroValue, 0x0A0E},
    {FiscalError::PaymentsNotFinished, 0x0A09},
    {FiscalError::CancelNotAllowed, 0x0A12},
    {FiscalError::AlreadyCancelled, 0x0A12},
    {FiscalError::LinkedNotAllowed, 0x0913},
    {FiscalError::ZPending, 0x0804},
    {FiscalError::ZAlreadyDone, 0x080B},
    {FiscalError::DaylightSavingNotAllowed, 0x0802},
    {FiscalError::AuthenticationNotAllowed, 0x3007},
    {FiscalError::PaperOut, 0x0304},
    {FiscalError::InvalidDate, 0x0502},
    {FiscalError::DateBeforeLastDocument, 0x0503},
    {FiscalError::InvalidRange, 0x0808},
    {FiscalError::FiscalMemoryFull, 0x0803},
    {FiscalError::InvalidParameter, 0x0208},
    {FiscalError::DayHasMovement, 0x0802},
    {FiscalError::ItemAdjustmentDone, 0x0A1F},
    {FiscalError::NoItemAdjustment, 0x0A1C},
    {FiscalError::SecondCopyNotAllowed, 0x0E0C},
    {FiscalError::MemoryWrite, 0x0003},
};
constexpr int kWrongState = 0x0101, kInvalidCommand = 0x0202, kMissingFields = 0x0204;

// Digits only, as the printer's numeric fields are; false for anything else.
bool number(const std::string& s, int64_t& out) {
  if (s.empty() || s.size() > 18) return false;
  out = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

std::string trimmed(const std::string& s) {
  const size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

// Printed text comes in code page 850; the core keeps Windows-1252.
std::string hostText(const std::string& s) {
  return text::cp850ToCp1252(trimmed(s));
}

std::string digits(int64_t v, int width) {
  char b[32];
  std::snprintf(b, sizeof b, "%0*lld", width, static_cast<long long>(v));
  return b;
}

std::string dateOf(int64_t seconds) {
  const Stamp s = fromSeconds(seconds);
  return digits(s.day, 2) + digits(s.month, 2) + digits(s.year, 4);
}

std::string timeOf(int64_t seconds) {
  const Stamp s = fromSeconds(seconds);
  return digits(s.hour, 2) + digits(s.minute, 2) + digits(s.second, 2);
}

// ddmmyyyy and hhmmss into the printer's seconds; false when not a date.
bool stampOf(const std::string& date, const std::string& time, int64_t& out) {
  int64_t d = 0, t = 0;
  if (date.size() != 8 || time.size() != 6 || !number(date, d) || !number(time, t)) return false;
  const Stamp s{static_cast<int>(d % 10000), static_cast<int>(d / 10000 % 100), static_cast<int>(d / 1000000),
                static_cast<int>(t / 10000), static_cast<int>(t / 100 % 100),   static_cast<int>(t % 100)};
  if (!validStamp(s)) return false;
  out = toSeconds(s);
  return true;
}

}  // namespace

EpsonPrinter::EpsonPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : VirtualPrinter(std::move(core), name, hardware) {}

int EpsonPrinter::codeOf(FiscalError e) {
  if (e == FiscalError::Ok) return 0;
  for (const Refusal& r : kRefusals)
    if (r.error == e) return r.code;
  return kWrongState;
}

P::Answer EpsonPrinter::fail(FiscalError e) {
  const int code = codeOf(e);
  return {code >> 8, code & 0xFF, {}};
}

uint16_t EpsonPrinter::printerStatus() {
  FiscalCore& c = core();
  return static_cast<uint16_t>((c.paperNearEnd() ? 0x0400 : 0) | (c.paperOut() ? 0x0800 : 0));
}

uint16_t EpsonPrinter::fiscalStatus() {
  FiscalCore& c = core();
  int doc = 0;
  switch (c.document().kind) {
    case DocKind::Fiscal:
      doc = 1;
      break;
    case DocKind::Linked:
      doc = 2;
      break;
    case DocKind::NonFiscal:
      doc = 3;
      break;
    case DocKind::Report:
      doc = 4;
      break;
    case DocKind::None:
      break;
  }
  return static_cast<uint16_t>((c.day().movementDay >= 0 ? 0x0100 : 0) | doc);
}

void EpsonPrinter::consume(ByteArray& buf, ReplySink& out) {
  while (!buf.empty()) {
    ep::Request req;
    const ep::FrameState st = ep::parseRequest(buf.data(), buf.size(), req);
    if (st == ep::FrameState::Incomplete) break;
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(req.size));
    if (st == ep::FrameState::NotAFrame) continue;  // the host's ACK, or noise
    if (st == ep::FrameState::BadChecksum) {
      out.send(ByteArray{kNak}, 0);  // the frame is refused as it came: nothing runs
      continue;
    }
    // A refused frame gets NAK, as one that came damaged.
    if (!serve(out, ByteArray{kNak}, [&] {
          const Answer a = execute(req);
          return ep::buildReply(req.seq, req.code, printerStatus(), fiscalStatus(), a.cls, a.detail, a.results);
        }))
      return;
  }
}

std::span<const P::Command> EpsonPrinter::dispatchTable() {
  static constexpr Command kCommands[] = {
      {0x00010000, 0, &P::status},
      {0x04020000, 0, &P::serial},
      {0x05020000, 0, &P::dateTime},
      {0x05070000, 0, &P::identity},
      {0x050C0001, 1, &P::addPayment},
      {0x05100000, 1, &P::daylightSaving},
      {0x05110000, 0, &P::readDaylightSaving},
      {0x05130000, 0, &P::totals},
      {0x05400000, 1, &P::addTax},
      {0x05420000, 0, &P::readTaxes},
      {0x05720000, 1, &P::addTitle},
      {0x05850000, 0, &P::accept},
      {0x07020000, 0, &P::accept},
      {0x07070000, 0, &P::drawer},
      {0x07070001, 0, &P::drawer},
      {0x07080000, 0, &P::drawerState},
      {0x07550000, 0, &P::accept},
      {0x08010000, 2, &P::reduction},
      {0x08020000, 0, &P::xReading},
      {0x08050000, 0, &P::xReading},
      {0x080A0000, 0, &P::fiscalDay},
      {0x09020000, 0, &P::readTable},
      {0x09020001, 0, &P::readTable},
      {0x09020002, 0, &P::readTable},
      {0x09060000, 0, &P::totals},
      {0x09070000, 0, &P::counters},
      {0x09080000, 0, &P::lastDocument},
      {0x09100000, 4, &P::memoryRead},
      {0x09100001, 4, &P::memoryRead},
      {0x09100002, 4, &P::memoryRead},
      {0x09100003, 4, &P::memoryRead},
      {0x0A010000, 0, &P::openReceipt},
      {0x0A020000, 6, &P::sellItem},
      {0x0A040004, 1, &P::adjust},
      {0x0A040005, 1, &P::adjust},
      {0x0A040006, 1, &P::adjust},
      {0x0A040007, 1, &P::adjust},
      {0x0A050000, 2, &P::pay},
      {0x0A060001, 0, &P::closeReceipt},
      {0x0A06000D, 0, &P::closeReceipt},
      {0x0A180004, 1, &P::cancelItem},
      {0x0A180006, 1, &P::cancelItemAdjustment},
      {0x0A180008, 0, &P::cancelReceipt},
      {0x0A200001, 3, &P::customer},
      {0x0A220000, 0, &P::closingMessage},
      {0x0A230000, 0, &P::accept},
      {0x0E010000, 0, &P::openNonFiscal},
      {0x0E010004, 1, &P::openReport},
      {0x0E020000, 1, &P::text},
      {0x0E060001, 0, &P::closeDocument},
      {0x0E150000, 2, &P::nonFiscalItem},
      {0x0E180008, 0, &P::cancelNonFiscal},
      {0x0E1A0000, 2, &P::nonFiscalPayment},
      {0x0E300000, 2, &P::openLinked},
      {0x0E320000, 1, &P::text},
      {0xEE110000, 0, &P::authenticate},
  };
  static_assert([] {
    for (size_t i = 1; i < std::size(kCommands); ++i)
      if (kCommands[i - 1].key >= kCommands[i].key) return false;
    return true;
  }());
  return kCommands;
}

P::Answer EpsonPrinter::execute(const ep::Request& req) {
  const std::span<const Command> table = dispatchTable();
  const uint32_t key = req.key();
  const auto it =
      std::lower_bound(table.begin(), table.end(), key, [](const Command& c, uint32_t k) { return c.key < k; });
  if (it == table.end() || it->key != key) return {kInvalidCommand >> 8, kInvalidCommand & 0xFF, {}};
  if (req.fields.size() < it->fields) return {kMissingFields >> 8, kMissingFields & 0xFF, {}};
  return (this->*(it->run))(req);
}

// ---------------------------------------------------------------- reads

P::Answer EpsonPrinter::status(const ep::Request&) {
  return {};
}

P::Answer EpsonPrinter::accept(const ep::Request&) {
  return {};
}

P::Answer EpsonPrinter::serial(const ep::Request&) {
  return {0, 0, {core().identity().serial}};
}

P::Answer EpsonPrinter::dateTime(const ep::Request&) {
  const int64_t now = core().now();
  return {0, 0, {"", dateOf(now), timeOf(now)}};
}

P::Answer EpsonPrinter::identity(const ep::Request&) {
  const Identity& id = core().identity();
  return {0, 0, {digits(id.ecfNumber, 4), digits(id.userNumber, 3)}};
}

P::Answer EpsonPrinter::readDaylightSaving(const ep::Request&) {
  return {0, 0, {core().daylightSaving() ? "S" : "N"}};
}

P::Answer EpsonPrinter::readTaxes(const ep::Request&) {
  std::vector<std::string> slots(FiscalCore::kMaxTaxes);
  const auto& taxes = core().taxes();
  for (size_t i = 0; i < taxes.size() && i < slots.size(); ++i)
    slots[i] = std::string(1, taxes[i].kind) + static_cast<char>('A' + i) + digits(taxes[i].rate, 4);
  return {0, 0, slots};
}

P::Answer EpsonPrinter::readTable(const ep::Request& req) {
  std::vector<std::string> names;
  const FiscalCore& c = core();
  if (req.ext[1] == 0)
    for (const PaymentType& p : c.payments()) names.push_back(p.name);
  else if (req.ext[1] == 1)
    for (const NonFiscalTitle& t : c.titles()) names.push_back(t.name);
  else
    for (const ManagementReport& r : c.reports()) names.push_back(r.name);
  return {0, 0, names};
}

P::Answer EpsonPrinter::totals(const ep::Request& req) {
  const FiscalCore& c = core();
  const DayTotals& d = c.day();
  if (req.code[0] == 0x05) return {0, 0, {digits(d.issDiscounts, 13)}};
  return {0,
          0,
          {digits(c.grandTotal(), 13), digits(d.cancellations, 13), digits(d.gross, 13), digits(d.discounts, 13),
           digits(d.increases, 13), digits(d.nonFiscal, 13)}};
}

P::Answer EpsonPrinter::counters(const ep::Request&) {
  const Counters& n = core().counters();
  return {0,
          0,
          {digits(n.cro, 4), digits(n.coo, 6), digits(n.ccf, 6), digits(n.gnf, 6), digits(n.cdc, 6), digits(n.grg, 6),
           digits(n.crz, 4)}};
}

P::Answer EpsonPrinter::lastDocument(const ep::Request&) {
  const int64_t t = core().lastDocument();
  return {0, 0, {dateOf(t), timeOf(t)}};
}

P::Answer EpsonPrinter::fiscalDay(const ep::Request&) {
  const FiscalCore& c = core();
  std::vector<std::string> r(12);
  const int64_t movement = c.day().movementDay;
  r[0] = dateOf(movement >= 0 ? movement * 86400 : c.now());
  r[1] = c.lastReductionDay() >= 0 ? dateOf(c.lastReductionDay() * 86400) : "00000000";
  r[11] = movement >= 0 ? "S" : "N";
  return {0, 0, r};
}

P::Answer EpsonPrinter::drawerState(const ep::Request&) {
  return {0, 0, {drawerIsOpen() ? "N" : "S"}};
}

// ---------------------------------------------------------------- tables and settings

P::Answer EpsonPrinter::addPayment(const ep::Request& req) {
  return fail(core().addPayment(hostText(req.fields[0])));
}

P::Answer EpsonPrinter::addTitle(const ep::Request& req) {
  return fail(core().addTitle(hostText(req.fields[0])));
}

P::Answer EpsonPrinter::addTax(const ep::Request& req) {
  int64_t rate = 0;
  if (req.fields[0].size() != 4 || !number(req.fields[0], rate)) return fail(FiscalError::InvalidParameter);
  return fail(core().addTax('T', static_cast<int>(rate)));
}

P::Answer EpsonPrinter::daylightSaving(const ep::Request& req) {
  return fail(core().setDaylightSaving(req.fields[0] == "S"));
}

P::Answer EpsonPrinter::drawer(const ep::Request&) {
  openDrawer();
  return {};
}

P::Answer EpsonPrinter::authenticate(const ep::Request& req) {
  return fail(core().authenticate(req.fields.empty() ? std::string() : req.fields[0]));
}

// ---------------------------------------------------------------- readings

P::Answer EpsonPrinter::xReading(const ep::Request&) {
  return fail(core().xReport());
}

P::Answer EpsonPrinter::reduction(const ep::Request& req) {
  int64_t at = 0;
  if (!stampOf(req.fields[0], req.fields[1], at)) return fail(FiscalError::InvalidDate);
  return fail(core().zReduction(at));
}

P::Answer EpsonPrinter::memoryRead(const ep::Request& req) {
  MemoryRange range;
  const bool byReduction = req.ext[1] >= 2;
  range.byDate = !byReduction;
  if (byReduction) {
    if (!number(req.fields[0], range.first) || !number(req.fields[1], range.last))
      return fail(FiscalError::InvalidParameter);
  } else {
    int64_t a = 0, b = 0;
    if (!stampOf(req.fields[2], "000000", a) || !stampOf(req.fields[3], "000000", b))
      return fail(FiscalError::InvalidDate);
    range.first = dayNumber(a);
    range.last = dayNumber(b);
  }
  return fail(core().readFiscalMemory(range, req.ext[1] % 2 == 0));
}

// ---------------------------------------------------------------- the receipt

P::Answer EpsonPrinter::customer(const ep::Request& req) {
  for (size_t i = 0; i < 3; ++i) customer_[i] = hostText(req.fields[i]);
  return {};
}

P::Answer EpsonPrinter::openReceipt(const ep::Request&) {
  const FiscalError e = core().openReceipt(customer_[0], customer_[1], customer_[2]);
  if (e == FiscalError::Ok) {
    for (std::string& s : customer_) s.clear();
    closingText_.clear();
  }
  return fail(e);
}

P::Answer EpsonPrinter::sellItem(const ep::Request& req) {
  const auto& f = req.fields;
  int64_t quantity = 0, price = 0;
  if (!number(f[2], quantity) || !number(f[4], price)) return fail(FiscalError::InvalidParameter);
  FiscalCore::ItemInput in;
  in.code = hostText(f[0]);
  in.description = hostText(f[1]);
  in.unit = hostText(f[3]);
  in.quantity = quantity;     // three decimals: thousandths
  in.unitPrice = price * 10;  // two decimals: hundredths to thousandths
  const std::string& tax = f[5];
  if (tax == "F1")
    in.tax = "FF";
  else if (tax == "I1")
    in.tax = "II";
  else if (tax == "N1")
    in.tax = "NN";
  else if (tax.size() == 7 && tax[2] == 'T')
    in.tax = tax.substr(0, 2);
  else
    return fail(FiscalError::TaxNotProgrammed);
  if (tax.size() == 7) {
    // The rate written after the position must be the position's own.
    int64_t position = 0, rate = 0;
    const auto& taxes = core().taxes();
    if (!number(tax.substr(0, 2), position) || !number(tax.substr(3), rate) || position < 1 ||
        position > static_cast<int64_t>(taxes.size()) || taxes[static_cast<size_t>(position - 1)].rate != rate)
      return fail(FiscalError::TaxNotProgrammed);
  }
  int number = 0;
  const FiscalError e = core().registerItem(in, &number);
  if (e != FiscalError::Ok) return fail(e);
  Cents value = 0;
  for (const Item& it : core().document().items)
    if (it.number == number) value = it.net();
  return {0, 0, {digits(value, 13), digits(number, 3)}};
}

P::Answer EpsonPrinter::adjust(const ep::Request& req) {
  int64_t v = 0;
  if (!number(req.fields[0], v)) return fail(FiscalError::InvalidParameter);
  FiscalCore& c = core();
  switch (req.ext[1]) {
    case 0x04:
    case 0x05: {
      const auto& items = c.document().items;
      if (items.empty()) return fail(FiscalError::ItemNotFound);
      return fail(c.adjustItem(items.back().number, req.ext[1] == 0x05, v));
    }
    case 0x06:
      return fail(c.totalize(v, 0));
    default:
      return fail(c.totalize(0, v));
  }
}

P::Answer EpsonPrinter::pay(const ep::Request& req) {
  int64_t type = 0, amount = 0;
  if (!number(req.fields[0], type) || !number(req.fields[1], amount)) return fail(FiscalError::InvalidParameter);
  FiscalCore& c = core();
  if (c.document().kind == DocKind::Fiscal && c.document().state != ReceiptState::Totalled &&
      c.document().state != ReceiptState::Paying)
    if (const FiscalError e = c.totalize(0, 0); e != FiscalError::Ok) return fail(e);
  return fail(c.pay(static_cast<int>(type), amount));
}

P::Answer EpsonPrinter::closingMessage(const ep::Request& req) {
  std::string text;
  for (const std::string& line : req.fields) {
    if (line.empty()) continue;
    if (!text.empty()) text += '\n';
    text += hostText(line);
  }
  closingText_ = text;
  return {};
}

P::Answer EpsonPrinter::closeReceipt(const ep::Request&) {
  const FiscalError e = core().closeReceipt(closingText_);
  if (e == FiscalError::Ok) closingText_.clear();
  return fail(e);
}

P::Answer EpsonPrinter::cancelItem(const ep::Request& req) {
  int64_t n = 0;
  if (!number(req.fields[0], n)) return fail(FiscalError::InvalidParameter);
  return fail(core().cancelItem(static_cast<int>(n)));
}

P::Answer EpsonPrinter::cancelItemAdjustment(const ep::Request& req) {
  int64_t n = 0;
  if (!number(req.fields[0], n)) return fail(FiscalError::InvalidParameter);
  return fail(core().cancelItemAdjustment(static_cast<int>(n), false));
}

P::Answer EpsonPrinter::cancelReceipt(const ep::Request&) {
  // A non-fiscal document is cancelled by its own command.
  if (core().document().kind == DocKind::NonFiscal) return fail(FiscalError::DocumentOpen);
  return fail(core().cancelReceipt());
}

// ---------------------------------------------------------------- other documents

P::Answer EpsonPrinter::openNonFiscal(const ep::Request&) {
  return fail(core().openNonFiscal());
}

P::Answer EpsonPrinter::nonFiscalItem(const ep::Request& req) {
  int64_t title = 0, value = 0;
  if (!number(req.fields[0], title) || !number(req.fields[1], value)) return fail(FiscalError::InvalidParameter);
  return fail(core().nonFiscalItem(static_cast<int>(title), value));
}

P::Answer EpsonPrinter::nonFiscalPayment(const ep::Request& req) {
  int64_t type = 0, amount = 0;
  if (!number(req.fields[0], type) || !number(req.fields[1], amount)) return fail(FiscalError::InvalidParameter);
  FiscalCore& c = core();
  if (c.document().kind != DocKind::NonFiscal) return fail(FiscalError::NoNonFiscalOpen);
  if (c.document().state != ReceiptState::Totalled && c.document().state != ReceiptState::Paying)
    if (const FiscalError e = c.totalize(0, 0); e != FiscalError::Ok) return fail(e);
  return fail(c.pay(static_cast<int>(type), amount));
}

P::Answer EpsonPrinter::cancelNonFiscal(const ep::Request&) {
  if (core().document().kind != DocKind::NonFiscal) return {0x0E, 0x0A, {}};
  return fail(core().cancelReceipt());
}

P::Answer EpsonPrinter::openReport(const ep::Request& req) {
  int64_t index = 0;
  if (!number(req.fields[0], index)) return fail(FiscalError::InvalidParameter);
  return fail(core().openReport(static_cast<int>(index)));
}

P::Answer EpsonPrinter::openLinked(const ep::Request& req) {
  int64_t type = 0, value = 0, coo = 0;
  if (!number(req.fields[0], type) || !number(req.fields[1], value)) return fail(FiscalError::InvalidParameter);
  if (req.fields.size() > 3 && !req.fields[3].empty() && !number(req.fields[3], coo))
    return fail(FiscalError::InvalidParameter);
  return fail(core().openLinked(static_cast<int>(type), value, static_cast<int>(coo)));
}

P::Answer EpsonPrinter::text(const ep::Request& req) {
  FiscalCore& c = core();
  for (const std::string& line : req.fields) {
    FiscalError e = FiscalError::NoReportOpen;
    if (c.document().kind == DocKind::Report)
      e = c.reportText(text::cp850ToCp1252(line));
    else if (c.document().kind == DocKind::Linked)
      e = c.linkedText(text::cp850ToCp1252(line));
    if (e != FiscalError::Ok) return fail(e);
  }
  return {};
}

P::Answer EpsonPrinter::closeDocument(const ep::Request&) {
  FiscalCore& c = core();
  switch (c.document().kind) {
    case DocKind::Report:
      return fail(c.closeReport());
    case DocKind::Linked:
      return fail(c.closeLinked());
    case DocKind::NonFiscal:
      return fail(c.closeReceipt({}));
    default:
      return fail(FiscalError::NoReportOpen);
  }
}

std::vector<VirtualModel> ep::virtualModels() {
  std::vector<VirtualModel> rows;
  for (const caps::ModelRow& r : caps::fiscalModels()) {
    if (r.family != caps::Family::Epson) continue;
    rows.push_back({r.number, r.name, Hardware{r.columns ? r.columns : 48, false},
                    [](int number, std::shared_ptr<FiscalCore> core) -> std::shared_ptr<VirtualPrinter> {
                      const caps::ModelRow* row = caps::fiscalModel(number);
                      if (!row || row->family != caps::Family::Epson) return nullptr;
                      return std::make_shared<EpsonPrinter>(std::move(core), row->name,
                                                            Hardware{row->columns ? row->columns : 48, false});
                    }});
  }
  return rows;
}

}  // namespace tarvion::emulator
