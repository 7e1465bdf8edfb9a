#include "emulator/bematech/printer.h"

#include <algorithm>

#include "core/capabilities.h"
#include "core/text.h"
#include "emulator/paper.h"

namespace tarvion::emulator {

namespace bm = bematech;

// The Bematech rows of the control's fiscal model table: the printer is the
// model the driver is chosen for, with the same columns, prefix and sensor.
const std::vector<BematechModel>& BematechModel::all() {
  static const std::vector<BematechModel> rows = [] {
    std::vector<BematechModel> out;
    for (const caps::ModelRow& r : caps::fiscalModels()) {
      if (r.family != caps::Family::Bematech) continue;
      BematechModel m;
      m.number = r.number;
      m.name = r.name;
      m.prefix = r.prefix;
      m.columns = r.columns;
      switch (r.status) {
        case caps::StatusTable::MP2000:
          m.table = bm::St3Table::MP2000;
          break;
        case caps::StatusTable::MP25:
          m.table = bm::St3Table::MP25;
          break;
        case caps::StatusTable::IBM4610:
          m.table = bm::St3Table::IBM4610;
          break;
        default:
          m.table = bm::St3Table::Full;
          break;
      }
      m.mp7000 = r.checkStation == caps::DocumentSensor::MP7000;
      out.push_back(m);
    }
    return out;
  }();
  return rows;
}

bool BematechModel::byNumber(int number, BematechModel& out) {
  for (const BematechModel& m : all())
    if (m.number == number) {
      out = m;
      return true;
    }
  return false;
}

struct BematechPrinter::Outcome {
  uint8_t st1 = 0, st2 = 0;
  uint16_t st3 = 0;
  ByteArray data;
  bool text = false;  // status, data, status
  bool failed() const { return st1 != 0 || st2 != 0; }
};

BematechPrinter::Outcome BematechPrinter::failed(uint8_t st1, uint8_t st2, uint16_t st3) {
  Outcome o;
  o.st1 = st1;
  o.st2 = st2;
  o.st3 = st3;
  return o;
}

namespace {

namespace code = bm::code;

// The check station's document sensor (62/'0'). The MP-7000 reports a
// document ready with 0x01, 0x08 and 0x40; the other models with 0x04 (at the
// entry), 0x20 (at the print position) and 0x40 (aligned), 0x08 there meaning
// busy, which a command that runs at once never shows.
constexpr uint8_t kSensorReady = 0x04 | 0x20 | 0x40, kSensorReadyMp7000 = 0x01 | 0x08 | 0x40;

ByteArray bcd(int64_t v, size_t n) {
  return bm::toBcd(v < 0 ? 0 : static_cast<uint64_t>(v), n);
}

void append(ByteArray& a, const ByteArray& b) {
  a.insert(a.end(), b.begin(), b.end());
}

void appendText(ByteArray& a, const std::string& s, size_t width) {
  std::string t = s.substr(0, width);
  t.resize(width, ' ');
  a.insert(a.end(), t.begin(), t.end());
}

ByteArray dateBcd(int64_t seconds) {
  Stamp s = fromSeconds(seconds);
  ByteArray o;
  append(o, bcd(s.day, 1));
  append(o, bcd(s.month, 1));
  append(o, bcd(s.year % 100, 1));
  return o;
}

ByteArray dateTimeBcd(int64_t seconds) {
  Stamp s = fromSeconds(seconds);
  ByteArray o = dateBcd(seconds);
  append(o, bcd(s.hour, 1));
  append(o, bcd(s.minute, 1));
  append(o, bcd(s.second, 1));
  return o;
}

bool digits(const ByteArray& p, size_t off, size_t len, int64_t& v) {
  if (off + len > p.size()) return false;
  v = 0;
  for (size_t i = off; i < off + len; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  return true;
}

std::string str(const ByteArray& p, size_t off, size_t len) {
  if (off >= p.size()) return {};
  len = std::min(len, p.size() - off);
  return std::string(p.begin() + static_cast<long>(off), p.begin() + static_cast<long>(off + len));
}

// DDMMYY (or DDMMYYhhmmss) digits into printer seconds; false when not a date.
bool parseDate(const ByteArray& p, size_t off, bool withTime, int64_t& out) {
  int64_t f[6] = {0, 0, 0, 0, 0, 0};
  const int n = withTime ? 6 : 3;
  for (int i = 0; i < n; ++i)
    if (!digits(p, off + 2 * static_cast<size_t>(i), 2, f[i])) return false;
  Stamp s{static_cast<int>(2000 + f[2]), static_cast<int>(f[1]), static_cast<int>(f[0]),
          static_cast<int>(f[3]),        static_cast<int>(f[4]), static_cast<int>(f[5])};
  if (!validStamp(s)) return false;
  out = toSeconds(s);
  return true;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (auto& l : lines) s += l + "\r\n";
  return s;
}

}  // namespace

BematechPrinter::BematechPrinter(std::shared_ptr<FiscalCore> core, const BematechModel& model)
    : VirtualPrinter(std::move(core), model.name, Hardware{model.columns, true}), model_(model) {}

uint8_t BematechPrinter::sensor() {
  if (!feedDocument()) return 0;
  return model_.mp7000 ? kSensorReadyMp7000 : kSensorReady;
}

std::string BematechPrinter::formatCmc7(const std::string& digits) const {
  // The reader marks the start of the first two groups and the start of the
  // third; the MP-7000 writes those marks as letters.
  const char s1 = model_.mp7000 ? 'a' : '<', s2 = model_.mp7000 ? 'b' : '>';
  // Built into a fixed buffer: GCC 12 sees false overlaps in the string appends.
  char line[33];
  size_t n = 0;
  auto put = [&](char c) { line[n++] = c; };
  auto copy = [&](size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) put(i < digits.size() ? digits[i] : '0');
  };
  put(s1);
  copy(0, 8);
  put(s1);
  copy(8, 10);
  put(s2);
  copy(18, 12);
  return std::string(line, n);
}

ByteArray BematechPrinter::status(uint8_t st1, uint8_t st2, uint16_t st3) {
  if (core().paperOut()) st1 |= bm::st1::PaperOut;
  if (core().paperNearEnd()) st1 |= bm::st1::NearPaperEnd;
  return bm::statusBytes(st1, st2, model_.prefix == bm::kFS, st3For(st3));
}

namespace {
// How the printer reports each refusal of the fiscal half: ST1, ST2 and the
// extended code of the full table.
struct Refusal {
  FiscalError error;
  uint8_t st1, st2;
  uint16_t st3;
};
const Refusal kRefusals[] = {
    {FiscalError::ReceiptAlreadyOpen, bm::st1::ReceiptOpen, 0, code::ReceiptOpen},
    {FiscalError::NoReceiptOpen, 0, bm::st2::NotExecuted, code::ReceiptClosed},
    {FiscalError::TaxNotProgrammed, 0, bm::st2::TaxNotProgrammed, code::TaxNotProgrammed},
    {FiscalError::TaxTableFull, 0, bm::st2::TaxTableFull, code::TaxesFull},
    {FiscalError::PaymentNotProgrammed, 0, bm::st2::NotExecuted, code::PaymentNotProgrammed},
    {FiscalError::PaymentTableFull, 0, bm::st2::NotExecuted, code::PaymentsFull},
    {FiscalError::PaymentAlreadyProgrammed, 0, bm::st2::NotExecuted, code::PaymentDuplicate},
    {FiscalError::TitleNotProgrammed, 0, bm::st2::NotExecuted, code::TitleNotProgrammed},
    {FiscalError::TitleTableFull, 0, bm::st2::NotExecuted, code::TitleNumber},
    {FiscalError::TitleAlreadyProgrammed, 0, bm::st2::NotExecuted, code::TitleProgrammed},
    {FiscalError::ReportNotProgrammed, 0, bm::st2::NotExecuted, code::ReportNotProgrammed},
    {FiscalError::NoItems, 0, bm::st2::NotExecuted, code::NoItems},
    {FiscalError::AlreadyTotalized, 0, bm::st2::NotExecuted, code::Subtotalled},
    {FiscalError::NotTotalized, 0, bm::st2::NotExecuted, code::NotTotalized},
    {FiscalError::ItemNotFound, 0, bm::st2::NotExecuted, code::ItemMissing},
    {FiscalError::ItemAlreadyCancelled, 0, bm::st2::NotExecuted, code::ItemMissing},
    {FiscalError::DiscountTooLarge, 0, bm::st2::NotExecuted, code::DiscountTooLarge},
    {FiscalError::ZeroValue, 0, bm::st2::NotExecuted, code::ZeroSale},
    {FiscalError::PaymentsNotFinished, 0, bm::st2::NotExecuted, code::PaymentMissing},
    {FiscalError::PaymentsFinished, 0, bm::st2::NotExecuted, code::PaymentsClosed},
    {FiscalError::CancelNotAllowed, 0, bm::st2::CancelNotAllowed, code::CancelNotAfter},
    {FiscalError::AlreadyCancelled, 0, bm::st2::CancelNotAllowed, code::CancelDone},
    {FiscalError::LinkedNotAllowed, 0, bm::st2::NotExecuted, code::LinkedNotAllowed},
    {FiscalError::NoLinkedOpen, 0, bm::st2::NotExecuted, code::NoNonFiscal},
    {FiscalError::NoReportOpen, 0, bm::st2::NotExecuted, code::NoReport},
    {FiscalError::NoNonFiscalOpen, 0, bm::st2::NotExecuted, code::NonFiscalClosed},
    {FiscalError::ZPending, 0, bm::st2::NotExecuted, code::ZPending},
    {FiscalError::ZAlreadyDone, 0, bm::st2::NotExecuted, code::ZLock},
    {FiscalError::DaylightSavingNotAllowed, 0, bm::st2::NotExecuted, code::DstAfterZ},
    {FiscalError::AuthenticationNotAllowed, 0, bm::st2::NotExecuted, code::AuthNotAllowed},
    {FiscalError::PaperOut, bm::st1::PaperOut, 0, code::PaperOut},
    {FiscalError::InvalidDate, 0, bm::st2::BadParamType, code::DateTime},
    {FiscalError::DateBeforeLastDocument, 0, bm::st2::NotExecuted, code::DateBefore},
    {FiscalError::InvalidRange, 0, bm::st2::BadParamType, code::StartDate},
    {FiscalError::FiscalMemoryFull, 0, bm::st2::FiscalMemoryFull, code::MemoryFull},
    {FiscalError::InvalidParameter, 0, bm::st2::BadParamType, code::BadParamType},
    {FiscalError::TooManyItems, 0, bm::st2::NotExecuted, code::MaxItems},
    {FiscalError::DayHasMovement, 0, bm::st2::NotExecuted, code::DayMovement},
    {FiscalError::ItemAdjustmentDone, 0, bm::st2::NotExecuted, code::DiscountDone},
    {FiscalError::NoItemAdjustment, 0, bm::st2::NotExecuted, code::CancelDiscount},
    {FiscalError::SecondCopyNotAllowed, 0, bm::st2::NotExecuted, code::SecondCopy},
    {FiscalError::MemoryWrite, 0, bm::st2::RamError, 61},  // 61: "Erro na memória de trabalho."
};
}  // namespace

BematechPrinter::Outcome BematechPrinter::refuse(FiscalError e) {
  Outcome o;
  if (e == FiscalError::Ok) return o;
  if (e == FiscalError::DocumentOpen) {
    // Which document is open decides the code.
    o.st2 = bm::st2::NotExecuted;
    o.st3 = core().document().kind == DocKind::Linked ? code::LinkedOpen : code::NonFiscalOpen;
    return o;
  }
  for (const Refusal& r : kRefusals)
    if (r.error == e) {
      o.st1 = r.st1;
      o.st2 = r.st2;
      o.st3 = r.st3;
      return o;
    }
  o.st2 = bm::st2::NotExecuted;
  o.st3 = code::NotDone;
  return o;
}

std::string BematechPrinter::printerText(const ByteArray& p, size_t from) const {
  std::string raw = str(p, from, p.size());
  bool oem = false;
  // The thermal models' drivers announce code page 850 with ESC 't' 2.
  if (raw.size() >= 3 && static_cast<uint8_t>(raw[0]) == 0x1B && raw[1] == 't') {
    oem = raw[2] == 2 || raw[2] == '2';
    raw.erase(0, 3);
  }
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    auto b = static_cast<uint8_t>(raw[i]);
    if (b == 0x1B) {  // bold on and off, and any other two-byte escape
      ++i;
      continue;
    }
    if (b == 0) continue;
    out += raw[i];
  }
  return oem ? text::cp850ToCp1252(out) : out;
}

int BematechPrinter::titleFor(const std::string& c) {
  const int n = static_cast<int>(core().titles().size());
  int idx = -1;
  if (c == "SA")
    idx = 0;
  else if (c == "SU")
    idx = 1;
  else if (c == "#1")
    idx = 2;
  else if (c == "#2")
    idx = 3;
  else if (c.size() == 2 && c[0] >= '0' && c[0] <= '9' && c[1] >= '0' && c[1] <= '9') {
    const int num = (c[0] - '0') * 10 + (c[1] - '0');
    if (model_.prefix == bm::kFS && (num == 29 || num == 30))
      idx = num - 29;
    else if (num >= 1)
      idx = num + 1;
  }
  return idx >= 0 && idx < n ? idx : -1;
}

ByteArray BematechPrinter::execute(uint8_t prefix, const ByteArray& body) {
  Outcome o;
  if (prefix != model_.prefix) {
    o.st1 = bm::st1::FirstNotEsc;
    o.st3 = code::FirstByte;
  } else if (body.empty()) {
    o = unknownCommand();
  } else {
    o = run(body);
  }
  const ByteArray st = status(o.st1, o.st2, o.st3);
  if (o.failed()) return bm::answer(st, {}, false);
  return bm::answer(st, o.data, o.text);
}

namespace {

template <typename Entry, typename Key>
const Entry* findEntry(std::span<const Entry> table, Key key, Key Entry::*field) {
  const auto at =
      std::lower_bound(table.begin(), table.end(), key, [field](const Entry& e, Key k) { return e.*field < k; });
  return at != table.end() && (*at).*field == key ? &*at : nullptr;
}

template <typename Entry, typename Key>
constexpr bool strictlyAscending(const Entry* table, size_t n, Key Entry::*field) {
  for (size_t i = 1; i < n; ++i)
    if (!(table[i - 1].*field < table[i].*field)) return false;
  return true;
}

}  // namespace

std::span<const BematechPrinter::Command> BematechPrinter::dispatchTable() {
  using P = BematechPrinter;
  namespace c = bm::cmd;
  constexpr uint16_t any = kAnyLength;
  // code, parameter bytes (fewest, most), MP-7000 only, handler
  static constexpr Command kCommands[] = {
      {c::OpenReceipt, 0, 139, false, &P::openReceipt},
      {c::ReducaoZ, 0, 12, false, &P::reducaoZ},
      {c::LeituraX, 0, 0, false, &P::leituraX},
      {c::AddTax, 4, 5, false, &P::addTax},
      {c::FiscalMemory, 13, 13, false, &P::fiscalMemory},
      {c::CancelReceipt, 0, any, false, &P::cancelReceipt},
      {c::Authenticate, 0, any, false, &P::authenticate},
      {c::DaylightSaving, 0, 0, false, &P::daylightSaving},
      {c::Status, 0, 0, false, &P::statusOnly},
      {c::Report, 0, any, false, &P::report},
      {c::CloseReport, 0, 0, false, &P::closeReport},
      {c::CashDrawer, 0, 1, false, &P::cashDrawer},
      {c::DrawerStatus, 0, 0, false, &P::drawerStatus},
      {c::NonFiscal, 16, 32, false, &P::nonFiscal},
      {c::TaxRates, 0, 0, false, &P::taxRates},
      {c::TaxTotals, 0, 0, false, &P::taxTotals},
      {c::ReceiptNumber, 0, 0, false, &P::receiptNumber},
      {c::CancelItem, 4, 4, false, &P::cancelItem},
      {c::Totalize, 15, 15, false, &P::totalize},
      {c::CloseReceipt, 0, any, false, &P::closeReceipt},
      {c::Read, 1, 1, false, &P::read},
      {c::AddNonFiscalTitle, 21, 21, false, &P::addNonFiscalTitle},
      {c::PrintCheck, 14 + 45 + 27 + 8 + 3, any, false, &P::check},
      {c::CurrencySingular, 1, 19, false, &P::currencySingular},
      {c::CurrencyPlural, 1, 22, false, &P::currencyPlural},
      {c::Block, 0, any, false, &P::block},
      {c::RegisterItem, 63, any, false, &P::registerItem},
      {c::OpenLinked, 16, 36, false, &P::openLinked},
      {c::LinkedText, 0, any, false, &P::linkedText},
      {c::LeituraXSerial, 0, 0, false, &P::leituraXSerial},
      {c::AddPayment, 16, 17, false, &P::addPayment},
      {c::Payment, 16, any, false, &P::payment},
      {c::RedefinePayments, 16, any, false, &P::redefinePayments},
      {c::ReadCmc7, 0, 1, false, &P::readCmc7},
      {c::NameReport, 19, 19, false, &P::nameReport},
      {c::OpenNamedReport, 2, 2, false, &P::openNamedReport},
      {c::SecondCopy, 0, 0, false, &P::secondCopy},
      {c::TaxTotalsText, 0, 0, false, &P::taxTotalsText},
      {c::DayStart, 0, 0, false, &P::dayStart},
      {c::ItemAdjustment, 12, 12, false, &P::itemAdjustment},
      {c::CancelItemAdjustment, 4, 4, false, &P::cancelItemAdjustment},
  };
  static_assert(strictlyAscending(kCommands, std::size(kCommands), &Command::code));
  return kCommands;
}

std::span<const BematechPrinter::Command> BematechPrinter::blockTable() {
  using P = BematechPrinter;
  namespace b = bm::block;
  constexpr uint16_t any = kAnyLength;
  static constexpr Command kBlock[] = {
      {b::Sensor, 0, 0, false, &P::documentSensor},
      {b::DayStart, 0, 0, false, &P::dayStartTotals},
      {b::AppIdentification, 84, 84, false, &P::appIdentification},
      {b::Item, 14 + 2 + 2 + 7 + 8 + 8 + 8 + 1, any, true, &P::mp7000Item},
      {b::Cut, 2, 2, false, &P::cutPaper},
      {b::LongCheck, 14 + 80 + 27 + 8 + 3, any, true, &P::longCheck},
  };
  static_assert(strictlyAscending(kBlock, std::size(kBlock), &Command::code));
  return kBlock;
}

BematechPrinter::Outcome BematechPrinter::run(const ByteArray& body) {
  const Command* command = findEntry(dispatchTable(), body[0], &Command::code);
  if (!command) return unknownCommand();
  return dispatch(*command, ByteArray(body.begin() + 1, body.end()));
}

BematechPrinter::Outcome BematechPrinter::dispatch(const Command& command, const ByteArray& params) {
  if (command.mp7000Only && !model_.mp7000) return unknownCommand();
  if (params.size() < command.minParams || params.size() > command.maxParams) return badCount();
  return (this->*command.run)(params);
}

BematechPrinter::Outcome BematechPrinter::badCount() {
  return failed(bm::st1::BadParamCount, 0, code::BadParamCount);
}

BematechPrinter::Outcome BematechPrinter::unknownCommand() {
  return failed(bm::st1::UnknownCommand, 0, code::InvalidCommand);
}

// The registers of the reads. The sources are the printer's own counters and
// tables; the generic reader lays each out by its shape.
std::span<const BematechPrinter::Register> BematechPrinter::registers() {
  using S = Register::Shape;
  namespace r = bm::read;
  using Core = const FiscalCore&;
  using Model = const BematechModel&;
  static constexpr Register kRegisters[] = {
      {r::SerialNumber, S::Text, 20, nullptr, [](Core c) { return c.identity().serial; }},
      {r::Firmware, S::Bcd, 2, [](Core c) -> int64_t { return c.identity().firmware / 100; }},
      {r::GrandTotal, S::Bcd, 9, [](Core c) -> int64_t { return c.grandTotal(); }},
      {r::CancelTotal, S::Bcd, 7, [](Core c) -> int64_t { return c.day().cancellations; }},
      {r::DiscountTotal, S::Bcd, 7, [](Core c) -> int64_t { return c.day().discounts; }},
      {r::OperationCounter, S::Bcd, 3, [](Core c) -> int64_t { return c.counters().coo; }},
      {r::NonFiscalCounter, S::Bcd, 3, [](Core c) -> int64_t { return c.counters().gnf; }},
      {r::ZCounter, S::Bcd, 2, [](Core c) -> int64_t { return c.counters().crz; }},
      {r::RestartCounter, S::Bcd, 2, [](Core c) -> int64_t { return c.counters().cro; }},
      {r::UserNumber, S::Bcd, 2, [](Core c) -> int64_t { return c.identity().userNumber; }},
      {r::LastItem, S::Bcd, 2, [](Core c) -> int64_t { return c.counters().lastItem; }},
      {r::PrinterNumber, S::Bcd, 2, [](Core c) -> int64_t { return c.identity().ecfNumber; }},
      {r::Flags, S::Block, 3, nullptr, nullptr,
       [](Core c, Model) {
         const DocKind kind = c.document().kind;
         uint8_t b0 = 0, b1 = 0, b2 = 0;
         if (kind == DocKind::Fiscal) b0 |= 0x01, b2 |= 0x01;
         if (c.daylightSaving()) b0 |= 0x04;
         if (c.dayClosed()) b0 |= 0x08;
         if (c.zPending()) b0 |= 0x20;
         if (kind == DocKind::Linked) b1 |= 0x01;
         if (kind == DocKind::Report) b1 |= 0x02;
         if (kind == DocKind::NonFiscal) b1 |= 0x04;
         return ByteArray{b0, b1, b2};
       }},
      {r::DateTime, S::Date, 6, [](Core c) -> int64_t { return c.now(); }},
      {r::LastReductionDate, S::Date, 3,
       [](Core c) -> int64_t { return c.lastReductionDay() >= 0 ? c.lastReductionDay() * 86400 : -1; }},
      {r::FiscalStartDate, S::Block, 3 + 16 * 7, nullptr, nullptr,
       [](Core c, Model) {
         ByteArray o = dateBcd(c.identity().fiscalStart);
         for (int i = 1; i <= FiscalCore::kMaxTaxes; ++i) {
           auto f = c.day().perTax.find(text::format("%02d", i));
           append(o, bcd(f == c.day().perTax.end() ? 0 : f->second, 7));
         }
         return o;
       }},
      {r::TaxFlags, S::Block, 2, nullptr, nullptr,
       [](Core c, Model) {
         uint8_t f[2] = {0, 0};
         for (size_t i = 0; i < c.taxes().size() && i < 16; ++i)
           if (c.taxes()[i].kind == 'S') f[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
         return ByteArray{f[0], f[1]};
       }},
      {r::IncreaseTotal, S::Bcd, 7, [](Core c) -> int64_t { return c.day().increases; }},
      // The count, 50 names of 16 bytes, 32 zero bytes, then 50 amounts in
      // ten-thousandths.
      {r::PaymentTypes, S::Block, 1 + 50 * 16 + 32 + 50 * 10, nullptr, nullptr,
       [](Core c, Model) {
         const auto& p = c.payments();
         ByteArray o{static_cast<uint8_t>(p.size())};
         for (size_t i = 0; i < 50; ++i) appendText(o, i < p.size() ? p[i].name : "", 16);
         o.resize(833, 0);
         for (size_t i = 0; i < 50; ++i) append(o, bcd(i < p.size() ? p[i].dayAmount * 100 : 0, 10));
         return o;
       }},
      // Number, amount, count and title of each non-fiscal totaliser.
      {r::NonFiscalTitles, S::Records, 1 + 10 + 1 + 19, nullptr, nullptr,
       [](Core c, Model) {
         const auto& t = c.titles();
         ByteArray o;
         for (size_t i = 0; i < t.size() && i < 50; ++i) {
           append(o, bcd(static_cast<int64_t>(i) + 1, 1));
           append(o, bcd(t[i].dayAmount, 10));
           append(o, bcd(std::min(t[i].dayCount, 99), 1));
           appendText(o, t[i].name, 19);
         }
         return o;
       }},
      {r::LongSerialNumber, S::Text, 20, nullptr, [](Core c) { return c.identity().serial; }},
      {r::LongFirmware, S::Bcd, 3, [](Core c) -> int64_t { return c.identity().firmware; }},
      {r::Payments20, S::Block, 20 * 16 + 20 * 7, nullptr, nullptr,
       [](Core c, Model) {
         const auto& p = c.payments();
         ByteArray o;
         for (size_t i = 0; i < 20; ++i) appendText(o, i < p.size() ? p[i].name : "", 16);
         for (size_t i = 0; i < 20; ++i) append(o, bcd(i < p.size() ? p[i].dayAmount : 0, 7));
         return o;
       }},
      // The totalisers after SANGRIA and SUPRIMENTO: number, amount, title.
      {r::Titles30, S::Records, 1 + 10 + 19, nullptr, nullptr,
       [](Core c, Model) {
         const auto& t = c.titles();
         ByteArray o;
         for (size_t i = 2; i < t.size(); ++i) {
           append(o, bcd(static_cast<int64_t>(i) + 1, 1));
           append(o, bcd(t[i].dayAmount, 10));
           appendText(o, t[i].name, 19);
         }
         return o;
       }},
      {r::ReportNames, S::Records, 17, nullptr, nullptr,
       [](Core c, Model) {
         ByteArray o;
         for (const auto& rep : c.reports()) appendText(o, rep.name, 17);
         return o;
       }},
      {r::LinkedCounter, S::Bcd, 2, [](Core c) -> int64_t { return c.counters().cdc; }},
      {r::ReportCounter, S::Bcd, 3, [](Core c) -> int64_t { return c.counters().grg; }},
      {r::FiscalReceiptCounter, S::Bcd, 3, [](Core c) -> int64_t { return c.counters().ccf; }},
      // Maker, model and type, blank padded.
      {r::Equipment, S::Block, 15 + 20 + 7, nullptr, nullptr,
       [](Core, Model m) {
         std::string model = m.name;
         if (model.rfind("BEMATECH ", 0) == 0) model.erase(0, 9);
         ByteArray o;
         appendText(o, m.name.rfind("IBM", 0) == 0 ? "IBM" : "BEMATECH", 15);
         appendText(o, model, 20);
         appendText(o, "ECF-IF", 7);
         return o;
       }},
      {r::LastDocumentTime, S::Date, 6,
       [](Core c) -> int64_t { return c.lastDocument() ? c.lastDocument() : c.now(); }},
      {r::MovementDate, S::Date, 3,
       [](Core c) -> int64_t { return c.day().movementDay >= 0 ? c.day().movementDay * 86400 : -1; }},
      {r::IssDiscounts, S::Bcd, 7, [](Core c) -> int64_t { return c.day().issDiscounts; }},
  };
  static_assert(strictlyAscending(kRegisters, std::size(kRegisters), &Register::number));
  return kRegisters;
}

ByteArray BematechPrinter::readRegister(const Register& r) {
  const FiscalCore& c = core();
  switch (r.shape) {
    case Register::Shape::Bcd:
      return bcd(r.value(c), r.size);
    case Register::Shape::Text: {
      ByteArray o;
      appendText(o, r.text(c), r.size);
      return o;
    }
    case Register::Shape::Date: {
      const int64_t seconds = r.value(c);
      if (seconds < 0) return ByteArray(r.size, 0);
      ByteArray o = dateTimeBcd(seconds);
      o.resize(r.size);
      return o;
    }
    case Register::Shape::Block:
    case Register::Shape::Records:
      break;
  }
  return r.bytes(c, model_);
}

// The handlers. The table has checked the parameter count; each checks the
// fields themselves.

BematechPrinter::Outcome BematechPrinter::openReceipt(const ByteArray& p) {
  // code(29) [name(30) [address(80)]]
  auto field = [&](size_t off, size_t len) {
    if (off >= p.size()) return std::string();
    const size_t end = std::min(p.size(), off + len);
    return text::trim(
        printerText(ByteArray(p.begin() + static_cast<long>(off), p.begin() + static_cast<long>(end)), 0));
  };
  return refuse(core().openReceipt(field(0, 29), field(29, 30), field(59, 80)));
}

BematechPrinter::Outcome BematechPrinter::reducaoZ(const ByteArray& p) {
  if (p.empty()) return refuse(core().zReduction(0));
  if (p.size() != 12) return badCount();
  int64_t a = 0;
  if (!digits(p, 0, 12, a)) return refuse(FiscalError::InvalidParameter);
  int64_t when = 0;
  if (!parseDate(p, 0, true, when)) return refuse(FiscalError::InvalidDate);
  return refuse(core().zReduction(when));
}

BematechPrinter::Outcome BematechPrinter::leituraX(const ByteArray&) {
  return refuse(core().xReport());
}

BematechPrinter::Outcome BematechPrinter::addTax(const ByteArray& p) {
  int64_t rate = 0;
  if (!digits(p, 0, 4, rate)) return refuse(FiscalError::InvalidParameter);
  char kind = 'T';
  if (p.size() == 5) {
    if (p[4] == '1' || p[4] == 1)
      kind = 'S';
    else if (p[4] != '0' && p[4] != 0)
      return refuse(FiscalError::InvalidParameter);
  }
  return refuse(core().addTax(kind, static_cast<int>(rate)));
}

BematechPrinter::Outcome BematechPrinter::fiscalMemory(const ByteArray& p) {
  FiscalCore& c = core();
  const uint8_t flag = p[12];
  int64_t a = 0, b = 0;
  if (flag != 'i' && flag != 'I' && flag != 'r' && flag != 'R') return refuse(FiscalError::InvalidParameter);
  if (!digits(p, 0, 6, a) || !digits(p, 6, 6, b)) return refuse(FiscalError::InvalidParameter);
  MemoryRange range;
  // A reduction counter is sent as six digits; a date never starts with day 00.
  range.byDate = !(p[0] == '0' && p[1] == '0');
  if (range.byDate) {
    int64_t from = 0, to = 0;
    if (!parseDate(p, 0, false, from) || !parseDate(p, 6, false, to)) return refuse(FiscalError::InvalidRange);
    range.first = dayNumber(from);
    range.last = dayNumber(to);
  } else {
    range.first = a;
    range.last = b;
  }
  const bool full = flag == 'I' || flag == 'R';
  const bool serial = flag == 'r' || flag == 'R';
  std::vector<ZRecord> recs;
  if (FiscalError e = c.readFiscalMemory(range, full, &recs, !serial); e != FiscalError::Ok) return refuse(e);
  Outcome o;
  if (serial) {
    const std::string t = joinLines(c.memoryLines(recs, full));
    o.data.assign(t.begin(), t.end());
    o.text = true;
  }
  return o;
}

BematechPrinter::Outcome BematechPrinter::cancelReceipt(const ByteArray&) {
  return refuse(core().cancelReceipt());
}

BematechPrinter::Outcome BematechPrinter::authenticate(const ByteArray& p) {
  return refuse(core().authenticate(printerText(p, 0)));
}

BematechPrinter::Outcome BematechPrinter::daylightSaving(const ByteArray&) {
  return refuse(core().setDaylightSaving(!core().daylightSaving()));
}

BematechPrinter::Outcome BematechPrinter::statusOnly(const ByteArray&) {
  return {};
}

BematechPrinter::Outcome BematechPrinter::report(const ByteArray& p) {
  FiscalCore& c = core();
  if (c.document().kind != DocKind::Report) {
    if (FiscalError e = c.openReport(0); e != FiscalError::Ok) return refuse(e);
  }
  if (!p.empty()) return refuse(c.reportText(printerText(p, 0)));
  return {};
}

BematechPrinter::Outcome BematechPrinter::closeReport(const ByteArray&) {
  FiscalCore& c = core();
  if (c.document().kind == DocKind::Linked) return refuse(c.closeLinked());
  return refuse(c.closeReport());
}

BematechPrinter::Outcome BematechPrinter::cashDrawer(const ByteArray&) {
  openDrawer();
  return {};
}

BematechPrinter::Outcome BematechPrinter::drawerStatus(const ByteArray&) {
  Outcome o;
  o.data = {static_cast<uint8_t>(drawerIsOpen() ? 1 : 0)};
  return o;
}

BematechPrinter::Outcome BematechPrinter::nonFiscal(const ByteArray& p) {
  FiscalCore& c = core();
  if (p.size() != 16 && p.size() != 32) return badCount();
  int64_t value = 0;
  if (!digits(p, 2, 14, value)) return refuse(FiscalError::InvalidParameter);
  const int title = titleFor(str(p, 0, 2));
  if (title < 0) return refuse(FiscalError::TitleNotProgrammed);
  int type = c.paymentIndex("Dinheiro");
  if (type < 0) type = 0;
  if (p.size() == 32) {
    const std::string name = text::trim(str(p, 16, 16));
    type = name.empty() ? type : c.paymentIndex(name);
    if (type < 0) return refuse(FiscalError::PaymentNotProgrammed);
  }
  return refuse(c.nonFiscalReceipt(title, value, type));
}

BematechPrinter::Outcome BematechPrinter::taxRates(const ByteArray&) {
  const auto& t = core().taxes();
  Outcome o;
  o.data.push_back(static_cast<uint8_t>(t.size()));
  for (size_t i = 0; i < 16; ++i) append(o.data, bcd(i < t.size() ? t[i].rate : 0, 2));
  return o;
}

BematechPrinter::Outcome BematechPrinter::taxTotals(const ByteArray&) {
  const auto& pt = core().day().perTax;
  auto val = [&](const std::string& key) {
    auto f = pt.find(key);
    return f == pt.end() ? Cents{0} : f->second;
  };
  Outcome o;
  for (int i = 1; i <= 16; ++i) append(o.data, bcd(val(text::format("%02d", i)), 7));
  for (const char* key : {"FF", "II", "NN", "SF", "SI", "SN"}) append(o.data, bcd(val(key), 7));
  return o;
}

BematechPrinter::Outcome BematechPrinter::taxTotalsText(const ByteArray& p) {
  // 87 is no data command for the driver: its status comes first, as with the text reads.
  Outcome o = taxTotals(p);
  o.text = true;
  return o;
}

BematechPrinter::Outcome BematechPrinter::receiptNumber(const ByteArray&) {
  Outcome o;
  o.data = bcd(core().counters().coo, 3);
  return o;
}

BematechPrinter::Outcome BematechPrinter::cancelItem(const ByteArray& p) {
  int64_t item = 0;
  if (!digits(p, 0, 4, item)) return refuse(FiscalError::InvalidParameter);
  return refuse(core().cancelItem(static_cast<int>(item)));
}

BematechPrinter::Outcome BematechPrinter::totalize(const ByteArray& p) {
  FiscalCore& c = core();
  const uint8_t kind = p[0];
  int64_t a = 0;
  if ((kind != 'a' && kind != 'd' && kind != 'A' && kind != 'D') || !digits(p, 1, 14, a))
    return refuse(FiscalError::InvalidParameter);
  Cents value = a;
  // Upper case carries a percentage of the subtotal (x 100), lower case an amount.
  if (kind == 'A' || kind == 'D') value = c.document().itemsTotal() * a / 10000;
  const bool increase = kind == 'a' || kind == 'A';
  return refuse(c.totalize(increase ? 0 : value, increase ? value : 0));
}

BematechPrinter::Outcome BematechPrinter::closeReceipt(const ByteArray& p) {
  return refuse(core().closeReceipt(printerText(p, 0)));
}

BematechPrinter::Outcome BematechPrinter::read(const ByteArray& p) {
  const Register* r = findEntry(registers(), p[0], &Register::number);
  if (!r) return refuse(FiscalError::InvalidParameter);
  Outcome o;
  o.data = readRegister(*r);
  return o;
}

BematechPrinter::Outcome BematechPrinter::addNonFiscalTitle(const ByteArray& p) {
  int64_t number = 0;
  if (!digits(p, 0, 2, number)) return refuse(FiscalError::InvalidParameter);
  return refuse(core().addTitle(text::trim(printerText(p, 2))));
}

BematechPrinter::Outcome BematechPrinter::check(const ByteArray& p) {
  return printCheck(p, 45);
}

BematechPrinter::Outcome BematechPrinter::setCurrency(const ByteArray& p, bool plural) {
  // The currency's name in the singular (58) and the plural (59), used to
  // write a check's amount out in words.
  const std::string name = text::trim(printerText(p, 0));
  if (name.empty()) return refuse(FiscalError::InvalidParameter);
  Identity id = core().identity();
  (plural ? id.currencyPlural : id.currencySingular) = name;
  return refuse(core().setIdentity(id));
}

BematechPrinter::Outcome BematechPrinter::currencySingular(const ByteArray& p) {
  return setCurrency(p, false);
}

BematechPrinter::Outcome BematechPrinter::currencyPlural(const ByteArray& p) {
  return setCurrency(p, true);
}

BematechPrinter::Outcome BematechPrinter::block(const ByteArray& p) {
  // Bare 62 lets the document in the check station go.
  if (p.empty()) {
    releaseDocument();
    return {};
  }
  const Command* sub = findEntry(blockTable(), p[0], &Command::code);
  if (!sub) return unknownCommand();
  return dispatch(*sub, ByteArray(p.begin() + 1, p.end()));
}

BematechPrinter::Outcome BematechPrinter::registerItem(const ByteArray& p) {
  // tax(2) price(9) quantity(7) discount(10) increase(10) department(2)
  // reserved(20) unit(2) code NUL description NUL
  constexpr size_t kFixed = 62;
  const auto nul = std::find(p.begin() + kFixed, p.end(), 0);
  if (nul == p.end()) return badCount();
  int64_t price = 0, qty = 0, disc = 0, inc = 0, dept = 0;
  if (!digits(p, 2, 9, price) || !digits(p, 11, 7, qty) || !digits(p, 18, 10, disc) || !digits(p, 28, 10, inc) ||
      !digits(p, 38, 2, dept))
    return refuse(FiscalError::InvalidParameter);
  FiscalCore::ItemInput in;
  in.tax = str(p, 0, 2);
  in.unitPrice = price;
  in.quantity = qty;
  in.discount = disc;
  in.increase = inc;
  in.unit = text::trim(str(p, 60, 2));
  in.code = std::string(p.begin() + kFixed, nul);
  const ByteArray rest(nul + 1, p.end());
  const auto nul2 = std::find(rest.begin(), rest.end(), 0);
  in.description = printerText(ByteArray(rest.begin(), nul2), 0);
  return refuse(core().registerItem(in));
}

BematechPrinter::Outcome BematechPrinter::openLinked(const ByteArray& p) {
  FiscalCore& c = core();
  if (p.size() != 16 && p.size() != 22 && p.size() != 30 && p.size() != 36) return badCount();
  const int type = c.paymentIndex(text::trim(str(p, 0, 16)));
  if (type < 0) return refuse(FiscalError::PaymentNotProgrammed);
  int64_t value = 0, coo = 0;
  if (p.size() >= 30 && !digits(p, 16, 14, value)) return refuse(FiscalError::InvalidParameter);
  if (p.size() == 22 && !digits(p, 16, 6, coo)) return refuse(FiscalError::InvalidParameter);
  if (p.size() == 36 && !digits(p, 30, 6, coo)) return refuse(FiscalError::InvalidParameter);
  return refuse(c.openLinked(type, value, static_cast<int>(coo)));
}

BematechPrinter::Outcome BematechPrinter::linkedText(const ByteArray& p) {
  return refuse(core().linkedText(printerText(p, 0)));
}

BematechPrinter::Outcome BematechPrinter::leituraXSerial(const ByteArray&) {
  Outcome o;
  const std::string t = joinLines(core().xReportLines());
  o.data.assign(t.begin(), t.end());
  o.text = true;
  return o;
}

BematechPrinter::Outcome BematechPrinter::addPayment(const ByteArray& p) {
  int idx = -1;
  if (FiscalError e = core().addPayment(text::trim(printerText(ByteArray(p.begin(), p.begin() + 16), 0)), &idx);
      e != FiscalError::Ok)
    return refuse(e);
  const std::string n = text::format("%02d", idx);
  Outcome o;
  o.data.assign(n.begin(), n.end());
  return o;
}

BematechPrinter::Outcome BematechPrinter::payment(const ByteArray& p) {
  int64_t type = 0, value = 0;
  if (!digits(p, 0, 2, type) || !digits(p, 2, 14, value)) return refuse(FiscalError::InvalidParameter);
  return refuse(core().pay(static_cast<int>(type), value, printerText(p, 16)));
}

BematechPrinter::Outcome BematechPrinter::redefinePayments(const ByteArray& p) {
  FiscalCore& c = core();
  if (p.size() % 16 != 0) return badCount();
  for (size_t off = 0; off < p.size(); off += 16) {
    const std::string name = text::trim(
        printerText(ByteArray(p.begin() + static_cast<long>(off), p.begin() + static_cast<long>(off + 16)), 0));
    if (name.empty() || c.paymentIndex(name) >= 0) continue;
    if (FiscalError e = c.addPayment(name); e != FiscalError::Ok) return refuse(e);
  }
  return {};
}

BematechPrinter::Outcome BematechPrinter::readCmc7(const ByteArray&) {
  // The CMC-7 line of the document in the slot.
  if (!feedDocument()) return failed(0, bm::st2::NotExecuted, code::CheckReadTimeout);
  const std::string line = formatCmc7(cmc7Digits());
  Outcome o;
  o.data.assign(line.begin(), line.end());
  o.text = true;
  return o;
}

BematechPrinter::Outcome BematechPrinter::nameReport(const ByteArray& p) {
  // Names a management report: number(2) name(17).
  FiscalCore& c = core();
  int64_t number = 0;
  if (!digits(p, 0, 2, number)) return refuse(FiscalError::InvalidParameter);
  const std::string name = text::trim(printerText(p, 2));
  if (name.empty()) return failed(0, bm::st2::BadParamType, code::BlankName);
  const int next = static_cast<int>(c.reports().size()) + 1;
  if (number < 1 || number > FiscalCore::kMaxReports) return failed(0, bm::st2::BadParamType, code::ReportNumber);
  if (c.document().kind != DocKind::None)
    return refuse(c.document().kind == DocKind::Fiscal ? FiscalError::ReceiptAlreadyOpen : FiscalError::DocumentOpen);
  // A number in use, or a name already there, is refused; a number past the
  // next free one takes the next free one.
  const FiscalError e = number < next ? FiscalError::TitleAlreadyProgrammed : c.addReport(name);
  if (e == FiscalError::TitleAlreadyProgrammed) return failed(0, bm::st2::NotExecuted, code::ReportProgrammed);
  return refuse(e);
}

BematechPrinter::Outcome BematechPrinter::openNamedReport(const ByteArray& p) {
  // Opens a named management report: number(2).
  FiscalCore& c = core();
  int64_t number = 0;
  if (!digits(p, 0, 2, number)) return refuse(FiscalError::InvalidParameter);
  if (number < 1 || number > static_cast<int64_t>(c.reports().size())) return refuse(FiscalError::ReportNotProgrammed);
  return refuse(c.openReport(static_cast<int>(number) - 1));
}

BematechPrinter::Outcome BematechPrinter::secondCopy(const ByteArray&) {
  // The second copy of the linked receipt just closed.
  return refuse(core().linkedSecondCopy());
}

BematechPrinter::Outcome BematechPrinter::dayStart(const ByteArray&) {
  const DayTotals& d = core().day();
  Outcome o;
  o.data.assign(200, 0);
  const ByteArray coo = bcd(d.initialCoo, 3);
  std::copy(coo.begin(), coo.end(), o.data.begin() + 5);
  const ByteArray gt = bcd(d.initialGrandTotal, 9);
  std::copy(gt.begin(), gt.end(), o.data.begin() + 150);
  return o;
}

BematechPrinter::Outcome BematechPrinter::itemAdjustment(const ByteArray& p) {
  // A discount (D) or increase (A) on an item after it: kind item(3) value(8).
  const uint8_t kind = p[0];
  int64_t item = 0, value = 0;
  if ((kind != 'D' && kind != 'A') || !digits(p, 1, 3, item) || !digits(p, 4, 8, value))
    return refuse(FiscalError::InvalidParameter);
  const bool increase = kind == 'A';
  if (item == 0) return failed(0, bm::st2::NotExecuted, code::ItemZero);
  const FiscalError e = core().adjustItem(static_cast<int>(item), increase, value);
  Outcome r = refuse(e);
  if (e == FiscalError::ZeroValue) r.st3 = increase ? code::IncreaseZero : code::DiscountZero;
  if (e == FiscalError::DiscountTooLarge) r.st3 = increase ? code::IncreaseTooLarge : code::ItemDiscountTooLarge;
  if (e == FiscalError::ItemAdjustmentDone) r.st3 = increase ? code::IncreaseDone : code::DiscountDone;
  return r;
}

BematechPrinter::Outcome BematechPrinter::cancelItemAdjustment(const ByteArray& p) {
  // Takes back an item's discount (D) or increase (A): kind item(3).
  const uint8_t kind = p[0];
  int64_t item = 0;
  if ((kind != 'D' && kind != 'A') || !digits(p, 1, 3, item)) return refuse(FiscalError::InvalidParameter);
  const bool increase = kind == 'A';
  if (item == 0) return failed(0, bm::st2::NotExecuted, code::ItemZero);
  const FiscalError e = core().cancelItemAdjustment(static_cast<int>(item), increase);
  Outcome r = refuse(e);
  if (e == FiscalError::NoItemAdjustment) r.st3 = increase ? code::CancelIncrease : code::CancelDiscount;
  return r;
}

BematechPrinter::Outcome BematechPrinter::documentSensor(const ByteArray&) {
  Outcome o;
  o.data = {sensor()};
  return o;
}

BematechPrinter::Outcome BematechPrinter::dayStartTotals(const ByteArray&) {
  const DayTotals& d = core().day();
  Outcome o;
  o.data.assign(296, 0);
  o.data[0] = d.movementDay >= 0 ? 1 : 0;
  const ByteArray gt = bcd(d.initialGrandTotal, 9);
  std::copy(gt.begin(), gt.end(), o.data.begin() + 1);
  const ByteArray coo = bcd(d.initialCoo, 3);
  std::copy(coo.begin(), coo.end(), o.data.begin() + 284);
  return o;
}

BematechPrinter::Outcome BematechPrinter::cutPaper(const ByteArray& p) {
  // Lines to feed first, then 1 for a full cut or 0 for a partial one.
  FiscalCore& c = core();
  int feed = p[0];
  if (feed >= '0' && feed <= '9') feed -= '0';
  if (feed > 10 || (p[1] != 0 && p[1] != 1)) return refuse(FiscalError::InvalidParameter);
  if (c.paperOut()) return refuse(FiscalError::PaperOut);
  if (c.paper()) c.paper()->cut(feed, p[1] == 0);
  return {};
}

BematechPrinter::Outcome BematechPrinter::appIdentification(const ByteArray& p) {
  // The application's identification: line 1 (48), line 2 (36).
  FiscalCore& c = core();
  if (c.document().kind != DocKind::None)
    return refuse(c.document().kind == DocKind::Fiscal ? FiscalError::ReceiptAlreadyOpen : FiscalError::DocumentOpen);
  Identity id = c.identity();
  id.appLine1 = text::trim(printerText(ByteArray(p.begin(), p.begin() + 48), 0));
  id.appLine2 = text::trim(printerText(ByteArray(p.begin() + 48, p.end()), 0));
  return refuse(c.setIdentity(id));
}

BematechPrinter::Outcome BematechPrinter::longCheck(const ByteArray& p) {
  return printCheck(p, 80);
}

BematechPrinter::Outcome BematechPrinter::printCheck(const ByteArray& p, size_t payeeWidth) {
  // value(14) payee(45, or 80 on the MP-7000) city(27) date DDMMYYYY(8)
  // bank(3 digits or "###") [text] [NUL]; the table holds out the shorter ones.
  const size_t fixed = 14 + payeeWidth + 27 + 8 + 3;
  int64_t value = 0, day = 0, month = 0, year = 0;
  const size_t cityAt = 14 + payeeWidth, dateAt = cityAt + 27, bankAt = dateAt + 8;
  const std::string bank = str(p, bankAt, 3);
  const bool bankOk = bank == "###" || (std::isdigit(static_cast<unsigned char>(bank[0])) &&
                                        std::isdigit(static_cast<unsigned char>(bank[1])) &&
                                        std::isdigit(static_cast<unsigned char>(bank[2])));
  if (!digits(p, 0, 14, value) || !digits(p, dateAt, 2, day) || !digits(p, dateAt + 2, 2, month) ||
      !digits(p, dateAt + 4, 4, year) || !bankOk)
    return refuse(FiscalError::InvalidParameter);
  auto field = [&](size_t off, size_t len) {
    return text::trim(
        printerText(ByteArray(p.begin() + static_cast<long>(off), p.begin() + static_cast<long>(off + len)), 0));
  };
  CheckPrint chk;
  chk.value = value;
  chk.payee = field(14, payeeWidth);
  chk.city = field(cityAt, 27);
  chk.bank = bank;
  chk.extra = field(fixed, p.size() - fixed);
  const Stamp when{static_cast<int>(year), static_cast<int>(month), static_cast<int>(day), 0, 0, 0};
  if (!validStamp(when)) return failed(0, bm::st2::BadParamType, code::BadDate);
  if (value == 0) return failed(0, bm::st2::NotExecuted, code::CheckZero);
  if (chk.city.empty()) return failed(0, bm::st2::NotExecuted, code::CheckNoCity);
  if (!feedDocument()) return failed(0, bm::st2::NotExecuted, code::CheckInsertTimeout);
  chk.date = toSeconds(when);
  if (Paper* paper = core().paper()) paper->check(core(), chk);
  checkPrinted();
  return {};
}

BematechPrinter::Outcome BematechPrinter::mp7000Item(const ByteArray& p) {
  // code(14) tax(2) unit(2) quantity(7, x 1000) price(8, x 1000) discount(8,
  // cents) increase(8, cents) description [NUL]
  constexpr size_t kFixed = 14 + 2 + 2 + 7 + 8 + 8 + 8;
  int64_t qty = 0, price = 0, disc = 0, inc = 0;
  if (!digits(p, 18, 7, qty) || !digits(p, 25, 8, price) || !digits(p, 33, 8, disc) || !digits(p, 41, 8, inc))
    return refuse(FiscalError::InvalidParameter);
  FiscalCore::ItemInput in;
  in.code = text::trim(str(p, 0, 14));
  in.tax = str(p, 14, 2);
  in.unit = text::trim(str(p, 16, 2));
  in.quantity = qty;
  in.unitPrice = price;
  in.discount = disc;
  in.increase = inc;
  const auto nul = std::find(p.begin() + kFixed, p.end(), 0);
  in.description = printerText(ByteArray(p.begin() + kFixed, nul), 0);
  return refuse(core().registerItem(in));
}

void BematechPrinter::consume(ByteArray& buf, ReplySink& out) {
  const ByteArray nak{bm::kNAK};
  while (!buf.empty()) {
    bm::Request req;
    const bm::FrameState st = bm::parseRequest(buf.data(), buf.size(), req);
    if (st == bm::FrameState::Incomplete) break;
    if (st == bm::FrameState::NotAFrame) {
      // Noise, or an STX whose length no request has: skip to the next STX.
      auto stx = std::find(buf.begin() + 1, buf.end(), bm::kSTX);
      buf.erase(buf.begin(), stx);
      out.send(nak, 0);
      continue;
    }
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(req.size));
    if (st == bm::FrameState::BadChecksum) {
      out.send(nak, 0);
      continue;
    }
    if (!serve(out, nak, [&] { return execute(req.prefix, req.body); })) return;
  }
}

std::vector<VirtualModel> bematech::virtualModels() {
  std::vector<VirtualModel> rows;
  for (const BematechModel& m : BematechModel::all())
    rows.push_back({m.number, m.name, Hardware{m.columns, true},
                    [](int number, std::shared_ptr<FiscalCore> core) -> std::shared_ptr<VirtualPrinter> {
                      BematechModel model;
                      if (!BematechModel::byNumber(number, model)) return nullptr;
                      return std::make_shared<BematechPrinter>(std::move(core), model);
                    }});
  return rows;
}

}  // namespace tarvion::emulator
