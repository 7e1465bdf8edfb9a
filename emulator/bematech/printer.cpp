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
    o.st1 = bm::st1::UnknownCommand;
    o.st3 = code::InvalidCommand;
  } else {
    o = run(body);
  }
  const ByteArray st = status(o.st1, o.st2, o.st3);
  if (o.failed()) return bm::answer(st, {}, false);
  return bm::answer(st, o.data, o.text);
}

ByteArray BematechPrinter::read35(uint8_t sub, Outcome& o) {
  const FiscalCore& c = core();
  const Counters& k = c.counters();
  const DayTotals& d = c.day();
  ByteArray r;
  switch (sub) {
    case bm::read::SerialNumber:
    case bm::read::LongSerialNumber:
      appendText(r, c.identity().serial, 20);
      break;
    case bm::read::Firmware:
      r = bcd(c.identity().firmware / 100, 2);
      break;
    case bm::read::LongFirmware:
      r = bcd(c.identity().firmware, 3);
      break;
    case bm::read::GrandTotal:
      r = bcd(c.grandTotal(), 9);
      break;
    case bm::read::CancelTotal:
      r = bcd(d.cancellations, 7);
      break;
    case bm::read::DiscountTotal:
      r = bcd(d.discounts, 7);
      break;
    case bm::read::OperationCounter:
      r = bcd(k.coo, 3);
      break;
    case bm::read::NonFiscalCounter:
      r = bcd(k.gnf, 3);
      break;
    case bm::read::ZCounter:
      r = bcd(k.crz, 2);
      break;
    case bm::read::RestartCounter:
      r = bcd(k.cro, 2);
      break;
    case bm::read::UserNumber:
      r = bcd(c.identity().userNumber, 2);
      break;
    case bm::read::LastItem:
      r = bcd(k.lastItem, 2);
      break;
    case bm::read::PrinterNumber:
      r = bcd(c.identity().ecfNumber, 2);
      break;
    case bm::read::Flags: {
      const DocKind kind = c.document().kind;
      uint8_t b0 = 0, b1 = 0, b2 = 0;
      if (kind == DocKind::Fiscal) b0 |= 0x01, b2 |= 0x01;
      if (c.daylightSaving()) b0 |= 0x04;
      if (c.dayClosed()) b0 |= 0x08;
      if (c.zPending()) b0 |= 0x20;
      if (kind == DocKind::Linked) b1 |= 0x01;
      if (kind == DocKind::Report) b1 |= 0x02;
      if (kind == DocKind::NonFiscal) b1 |= 0x04;
      r = {b0, b1, b2};
      break;
    }
    case bm::read::DateTime:
      r = dateTimeBcd(c.now());
      break;
    case bm::read::LastReductionDate:
      r = c.lastReductionDay() >= 0 ? dateBcd(c.lastReductionDay() * 86400) : ByteArray(3, 0);
      break;
    case bm::read::FiscalStartDate:
      r = dateBcd(c.identity().fiscalStart);
      for (int i = 1; i <= FiscalCore::kMaxTaxes; ++i) {
        auto f = d.perTax.find(text::format("%02d", i));
        append(r, bcd(f == d.perTax.end() ? 0 : f->second, 7));
      }
      break;
    case bm::read::TaxFlags: {
      uint8_t f[2] = {0, 0};
      for (size_t i = 0; i < c.taxes().size() && i < 16; ++i)
        if (c.taxes()[i].kind == 'S') f[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      r = {f[0], f[1]};
      break;
    }
    case bm::read::IncreaseTotal:
      r = bcd(d.increases, 7);
      break;
    case bm::read::PaymentTypes: {
      const auto& p = c.payments();
      r.push_back(static_cast<uint8_t>(p.size()));
      for (size_t i = 0; i < 50; ++i) appendText(r, i < p.size() ? p[i].name : "", 16);
      r.resize(833, 0);
      for (size_t i = 0; i < 50; ++i) append(r, bcd(i < p.size() ? p[i].dayAmount * 100 : 0, 10));
      break;
    }
    case bm::read::Payments20: {
      const auto& p = c.payments();
      for (size_t i = 0; i < 20; ++i) appendText(r, i < p.size() ? p[i].name : "", 16);
      for (size_t i = 0; i < 20; ++i) append(r, bcd(i < p.size() ? p[i].dayAmount : 0, 7));
      break;
    }
    case bm::read::NonFiscalTitles: {
      const auto& t = c.titles();
      for (size_t i = 0; i < t.size() && i < 50; ++i) {
        append(r, bcd(static_cast<int64_t>(i) + 1, 1));
        append(r, bcd(t[i].dayAmount, 10));
        append(r, bcd(std::min(t[i].dayCount, 99), 1));
        appendText(r, t[i].name, 19);
      }
      break;
    }
    case bm::read::Titles30: {
      // The totalisers after SANGRIA and SUPRIMENTO, one 30-byte record each.
      const auto& t = c.titles();
      for (size_t i = 2; i < t.size(); ++i) {
        append(r, bcd(static_cast<int64_t>(i) + 1, 1));
        append(r, bcd(t[i].dayAmount, 10));
        appendText(r, t[i].name, 19);
      }
      break;
    }
    case bm::read::ReportNames:
      for (const auto& rep : c.reports()) appendText(r, rep.name, 17);
      break;
    case bm::read::IssDiscounts:
      r = bcd(d.issDiscounts, 7);
      break;
    case bm::read::LinkedCounter:
      r = bcd(k.cdc, 2);
      break;
    case bm::read::ReportCounter:
      r = bcd(k.grg, 3);
      break;
    case bm::read::FiscalReceiptCounter:
      r = bcd(k.ccf, 3);
      break;
    case bm::read::Equipment: {
      std::string model = model_.name;
      if (model.rfind("BEMATECH ", 0) == 0) model.erase(0, 9);
      appendText(r, model_.name.rfind("IBM", 0) == 0 ? "IBM" : "BEMATECH", 15);
      appendText(r, model, 20);
      appendText(r, "ECF-IF", 7);
      break;
    }
    case bm::read::LastDocumentTime:
      r = dateTimeBcd(c.lastDocument() ? c.lastDocument() : c.now());
      break;
    case bm::read::MovementDate:
      r = d.movementDay >= 0 ? dateBcd(d.movementDay * 86400) : ByteArray(3, 0);
      break;
    default:
      o.st2 = bm::st2::BadParamType;
      o.st3 = code::BadParamType;
      break;
  }
  return r;
}

BematechPrinter::Outcome BematechPrinter::run(const ByteArray& body) {
  Outcome o;
  FiscalCore& c = core();
  const uint8_t cmdCode = body[0];
  const ByteArray p(body.begin() + 1, body.end());
  auto badCount = [&]() {
    Outcome b;
    b.st1 = bm::st1::BadParamCount;
    b.st3 = code::BadParamCount;
    return b;
  };
  auto badType = [&]() { return refuse(FiscalError::InvalidParameter); };
  auto result = [&](FiscalError e) { return e == FiscalError::Ok ? Outcome{} : refuse(e); };
  int64_t a = 0, b = 0;

  switch (cmdCode) {
    case bm::cmd::OpenReceipt: {
      // code(29) [name(30) [address(80)]]
      if (p.size() > 139) return badCount();
      auto field = [&](size_t off, size_t len) {
        if (off >= p.size()) return std::string();
        const size_t end = std::min(p.size(), off + len);
        return text::trim(
            printerText(ByteArray(p.begin() + static_cast<long>(off), p.begin() + static_cast<long>(end)), 0));
      };
      return result(c.openReceipt(field(0, 29), field(29, 30), field(59, 80)));
    }

    case bm::cmd::ReducaoZ: {
      if (p.empty()) return result(c.zReduction(0));
      if (p.size() != 12) return badCount();
      if (!digits(p, 0, 12, a)) return badType();
      int64_t when = 0;
      if (!parseDate(p, 0, true, when)) return refuse(FiscalError::InvalidDate);
      return result(c.zReduction(when));
    }

    case bm::cmd::LeituraX:
      if (!p.empty()) return badCount();
      return result(c.xReport());

    case bm::cmd::AddTax: {
      if (p.size() != 4 && p.size() != 5) return badCount();
      if (!digits(p, 0, 4, a)) return badType();
      char kind = 'T';
      if (p.size() == 5) {
        if (p[4] == '1' || p[4] == 1)
          kind = 'S';
        else if (p[4] != '0' && p[4] != 0)
          return badType();
      }
      return result(c.addTax(kind, static_cast<int>(a)));
    }

    case bm::cmd::FiscalMemory: {
      if (p.size() != 13) return badCount();
      const uint8_t flag = p[12];
      if (flag != 'i' && flag != 'I' && flag != 'r' && flag != 'R') return badType();
      if (!digits(p, 0, 6, a) || !digits(p, 6, 6, b)) return badType();
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
      FiscalError e = c.readFiscalMemory(range, full, &recs, !serial);
      if (e != FiscalError::Ok) return refuse(e);
      if (serial) {
        const std::string t = joinLines(c.memoryLines(recs, full));
        o.data.assign(t.begin(), t.end());
        o.text = true;
      }
      return o;
    }

    case bm::cmd::CancelReceipt:
      return result(c.cancelReceipt());

    case bm::cmd::Authenticate:
      return result(c.authenticate(printerText(p, 0)));

    case bm::cmd::DaylightSaving:
      if (!p.empty()) return badCount();
      return result(c.setDaylightSaving(!c.daylightSaving()));

    case bm::cmd::Status:
      if (!p.empty()) return badCount();
      return o;

    case bm::cmd::Report: {
      if (c.document().kind != DocKind::Report) {
        if (FiscalError e = c.openReport(0); e != FiscalError::Ok) return refuse(e);
      }
      if (!p.empty()) return result(c.reportText(printerText(p, 0)));
      return o;
    }

    case bm::cmd::CloseReport:
      if (!p.empty()) return badCount();
      if (c.document().kind == DocKind::Linked) return result(c.closeLinked());
      return result(c.closeReport());

    case bm::cmd::CashDrawer:
      if (p.size() > 1) return badCount();
      openDrawer();
      return o;

    case bm::cmd::DrawerStatus: {
      if (!p.empty()) return badCount();
      o.data = {static_cast<uint8_t>(drawerIsOpen() ? 1 : 0)};
      return o;
    }

    case bm::cmd::NonFiscal: {
      if (p.size() != 16 && p.size() != 32) return badCount();
      if (!digits(p, 2, 14, a)) return badType();
      const int title = titleFor(str(p, 0, 2));
      if (title < 0) return refuse(FiscalError::TitleNotProgrammed);
      int type = c.paymentIndex("Dinheiro");
      if (type < 0) type = 0;
      if (p.size() == 32) {
        const std::string name = text::trim(str(p, 16, 16));
        type = name.empty() ? type : c.paymentIndex(name);
        if (type < 0) return refuse(FiscalError::PaymentNotProgrammed);
      }
      return result(c.nonFiscalReceipt(title, a, type));
    }

    case bm::cmd::TaxRates: {
      if (!p.empty()) return badCount();
      const auto& t = c.taxes();
      o.data.push_back(static_cast<uint8_t>(t.size()));
      for (size_t i = 0; i < 16; ++i) append(o.data, bcd(i < t.size() ? t[i].rate : 0, 2));
      return o;
    }

    case bm::cmd::TaxTotals:
    case bm::cmd::TaxTotalsText: {
      if (!p.empty()) return badCount();
      const auto& pt = c.day().perTax;
      auto val = [&](const std::string& key) {
        auto f = pt.find(key);
        return f == pt.end() ? Cents{0} : f->second;
      };
      for (int i = 1; i <= 16; ++i) append(o.data, bcd(val(text::format("%02d", i)), 7));
      for (const char* key : {"FF", "II", "NN", "SF", "SI", "SN"}) append(o.data, bcd(val(key), 7));
      // 87 is no data command for the driver: its status comes first, as with the text reads.
      o.text = cmdCode == bm::cmd::TaxTotalsText;
      return o;
    }

    case bm::cmd::ReceiptNumber:
      if (!p.empty()) return badCount();
      o.data = bcd(c.counters().coo, 3);
      return o;

    case bm::cmd::CancelItem:
      if (p.size() != 4) return badCount();
      if (!digits(p, 0, 4, a)) return badType();
      return result(c.cancelItem(static_cast<int>(a)));

    case bm::cmd::Totalize: {
      if (p.size() != 15) return badCount();
      const uint8_t kind = p[0];
      if ((kind != 'a' && kind != 'd' && kind != 'A' && kind != 'D') || !digits(p, 1, 14, a)) return badType();
      Cents value = a;
      // Upper case carries a percentage of the subtotal (x 100), lower case an amount.
      if (kind == 'A' || kind == 'D') value = c.document().itemsTotal() * a / 10000;
      const bool increase = kind == 'a' || kind == 'A';
      return result(c.totalize(increase ? 0 : value, increase ? value : 0));
    }

    case bm::cmd::CloseReceipt:
      return result(c.closeReceipt(printerText(p, 0)));

    case bm::cmd::Read:
      if (p.size() != 1) return badCount();
      o.data = read35(p[0], o);
      return o;

    case bm::cmd::AddNonFiscalTitle: {
      if (p.size() != 21) return badCount();
      if (!digits(p, 0, 2, a)) return badType();
      return result(c.addTitle(text::trim(printerText(p, 2))));
    }

    case bm::cmd::Block:
      return run62(p);

    case bm::cmd::RegisterItem: {
      // tax(2) price(9) quantity(7) discount(10) increase(10) department(2)
      // reserved(20) unit(2) code NUL description NUL
      constexpr size_t kFixed = 62;
      if (p.size() < kFixed + 1) return badCount();
      const auto nul = std::find(p.begin() + kFixed, p.end(), 0);
      if (nul == p.end()) return badCount();
      int64_t price = 0, qty = 0, disc = 0, inc = 0, dept = 0;
      if (!digits(p, 2, 9, price) || !digits(p, 11, 7, qty) || !digits(p, 18, 10, disc) || !digits(p, 28, 10, inc) ||
          !digits(p, 38, 2, dept))
        return badType();
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
      return result(c.registerItem(in));
    }

    case bm::cmd::OpenLinked: {
      if (p.size() != 16 && p.size() != 22 && p.size() != 30 && p.size() != 36) return badCount();
      const int type = c.paymentIndex(text::trim(str(p, 0, 16)));
      if (type < 0) return refuse(FiscalError::PaymentNotProgrammed);
      int64_t value = 0, coo = 0;
      if (p.size() >= 30 && !digits(p, 16, 14, value)) return badType();
      if (p.size() == 22 && !digits(p, 16, 6, coo)) return badType();
      if (p.size() == 36 && !digits(p, 30, 6, coo)) return badType();
      return result(c.openLinked(type, value, static_cast<int>(coo)));
    }

    case bm::cmd::LinkedText:
      return result(c.linkedText(printerText(p, 0)));

    case bm::cmd::LeituraXSerial: {
      if (!p.empty()) return badCount();
      const std::string t = joinLines(c.xReportLines());
      o.data.assign(t.begin(), t.end());
      o.text = true;
      return o;
    }

    case bm::cmd::AddPayment: {
      if (p.size() != 16 && p.size() != 17) return badCount();
      int idx = -1;
      if (FiscalError e = c.addPayment(text::trim(printerText(ByteArray(p.begin(), p.begin() + 16), 0)), &idx);
          e != FiscalError::Ok)
        return refuse(e);
      const std::string n = text::format("%02d", idx);
      o.data.assign(n.begin(), n.end());
      return o;
    }

    case bm::cmd::Payment: {
      if (p.size() < 16) return badCount();
      if (!digits(p, 0, 2, a) || !digits(p, 2, 14, b)) return badType();
      return result(c.pay(static_cast<int>(a), b, printerText(p, 16)));
    }

    case bm::cmd::RedefinePayments: {
      if (p.empty() || p.size() % 16 != 0) return badCount();
      for (size_t off = 0; off < p.size(); off += 16) {
        const std::string name = text::trim(
            printerText(ByteArray(p.begin() + static_cast<long>(off), p.begin() + static_cast<long>(off + 16)), 0));
        if (name.empty() || c.paymentIndex(name) >= 0) continue;
        if (FiscalError e = c.addPayment(name); e != FiscalError::Ok) return refuse(e);
      }
      return o;
    }

    case bm::cmd::DayStart: {
      if (!p.empty()) return badCount();
      const DayTotals& d = c.day();
      o.data.assign(200, 0);
      const ByteArray coo = bcd(d.initialCoo, 3);
      std::copy(coo.begin(), coo.end(), o.data.begin() + 5);
      const ByteArray gt = bcd(d.initialGrandTotal, 9);
      std::copy(gt.begin(), gt.end(), o.data.begin() + 150);
      return o;
    }

    case bm::cmd::PrintCheck:
      return printCheck(p, 45);

    case bm::cmd::CurrencySingular:
    case bm::cmd::CurrencyPlural: {
      // The currency's name in the singular (58) and the plural (59), used to
      // write a check's amount out in words.
      const size_t max = cmdCode == bm::cmd::CurrencySingular ? 19 : 22;
      if (p.empty() || p.size() > max) return badCount();
      const std::string name = text::trim(printerText(p, 0));
      if (name.empty()) return badType();
      Identity id = c.identity();
      (cmdCode == bm::cmd::CurrencySingular ? id.currencySingular : id.currencyPlural) = name;
      return result(c.setIdentity(id));
    }

    case bm::cmd::ReadCmc7: {  // read the CMC-7 line of the document in the slot
      if (p.size() > 1) return badCount();
      if (!feedDocument()) {
        o.st2 = bm::st2::NotExecuted;
        o.st3 = code::CheckReadTimeout;
        return o;
      }
      const std::string line = formatCmc7(cmc7Digits());
      o.data.assign(line.begin(), line.end());
      o.text = true;
      return o;
    }

    case bm::cmd::NameReport: {  // name a management report: number(2) name(17)
      if (p.size() != 19) return badCount();
      if (!digits(p, 0, 2, a)) return badType();
      const std::string name = text::trim(printerText(p, 2));
      Outcome bad;
      bad.st2 = bm::st2::BadParamType;
      if (name.empty()) {
        bad.st3 = code::BlankName;
        return bad;
      }
      const int next = static_cast<int>(c.reports().size()) + 1;
      if (a < 1 || a > FiscalCore::kMaxReports) {
        bad.st3 = code::ReportNumber;
        return bad;
      }
      if (c.document().kind != DocKind::None)
        return refuse(c.document().kind == DocKind::Fiscal ? FiscalError::ReceiptAlreadyOpen
                                                           : FiscalError::DocumentOpen);
      // A number in use, or a name already there, is refused; a number past the
      // next free one takes the next free one.
      const FiscalError e = a < next ? FiscalError::TitleAlreadyProgrammed : c.addReport(name);
      if (e == FiscalError::TitleAlreadyProgrammed) return failed(0, bm::st2::NotExecuted, code::ReportProgrammed);
      return result(e);
    }

    case bm::cmd::OpenNamedReport: {  // open a named management report: number(2)
      if (p.size() != 2) return badCount();
      if (!digits(p, 0, 2, a)) return badType();
      if (a < 1 || a > static_cast<int64_t>(c.reports().size())) return refuse(FiscalError::ReportNotProgrammed);
      return result(c.openReport(static_cast<int>(a) - 1));
    }

    case bm::cmd::SecondCopy:  // second copy of the linked receipt just closed
      if (!p.empty()) return badCount();
      return result(c.linkedSecondCopy());

    case bm::cmd::ItemAdjustment: {  // discount (D) or increase (A) on an item after it: kind item(3) value(8)
      if (p.size() != 12) return badCount();
      const uint8_t kind = p[0];
      if ((kind != 'D' && kind != 'A') || !digits(p, 1, 3, a) || !digits(p, 4, 8, b)) return badType();
      const bool increase = kind == 'A';
      if (a == 0) return failed(0, bm::st2::NotExecuted, code::ItemZero);
      const FiscalError e = c.adjustItem(static_cast<int>(a), increase, b);
      Outcome r = result(e);
      if (e == FiscalError::ZeroValue) r.st3 = increase ? code::IncreaseZero : code::DiscountZero;
      if (e == FiscalError::DiscountTooLarge) r.st3 = increase ? code::IncreaseTooLarge : code::ItemDiscountTooLarge;
      if (e == FiscalError::ItemAdjustmentDone) r.st3 = increase ? code::IncreaseDone : code::DiscountDone;
      return r;
    }

    case bm::cmd::CancelItemAdjustment: {  // cancel an item's discount (D) or increase (A): kind item(3)
      if (p.size() != 4) return badCount();
      const uint8_t kind = p[0];
      if ((kind != 'D' && kind != 'A') || !digits(p, 1, 3, a)) return badType();
      const bool increase = kind == 'A';
      if (a == 0) return failed(0, bm::st2::NotExecuted, code::ItemZero);
      const FiscalError e = c.cancelItemAdjustment(static_cast<int>(a), increase);
      Outcome r = result(e);
      if (e == FiscalError::NoItemAdjustment) r.st3 = increase ? code::CancelIncrease : code::CancelDiscount;
      return r;
    }

    default:
      o.st1 = bm::st1::UnknownCommand;
      o.st3 = code::InvalidCommand;
      return o;
  }
}

BematechPrinter::Outcome BematechPrinter::run62(const ByteArray& p) {
  Outcome o;
  FiscalCore& c = core();
  auto badCount = [&]() {
    Outcome b;
    b.st1 = bm::st1::BadParamCount;
    b.st3 = code::BadParamCount;
    return b;
  };
  auto badType = [&]() { return refuse(FiscalError::InvalidParameter); };
  // Bare 62 lets the document in the check station go.
  if (p.empty()) {
    releaseDocument();
    return o;
  }
  const uint8_t sub = p[0];
  if (sub == bm::block::Sensor) {  // document sensor
    if (p.size() != 1) return badCount();
    o.data = {sensor()};
    return o;
  }
  if (sub == bm::block::DayStart) {
    if (p.size() != 1) return badCount();
    const DayTotals& d = c.day();
    o.data.assign(296, 0);
    o.data[0] = d.movementDay >= 0 ? 1 : 0;
    const ByteArray gt = bcd(d.initialGrandTotal, 9);
    std::copy(gt.begin(), gt.end(), o.data.begin() + 1);
    const ByteArray coo = bcd(d.initialCoo, 3);
    std::copy(coo.begin(), coo.end(), o.data.begin() + 284);
    return o;
  }
  if (sub == bm::block::Cut) {  // paper cut: lines to feed first, then 1 full cut or 0 partial
    if (p.size() != 3) return badCount();
    int feed = p[1];
    if (feed >= '0' && feed <= '9') feed -= '0';
    if (feed > 10 || (p[2] != 0 && p[2] != 1)) return badType();
    if (c.paperOut()) return refuse(FiscalError::PaperOut);
    if (c.paper()) c.paper()->cut(feed, p[2] == 0);
    return o;
  }
  if (sub == bm::block::AppIdentification) {  // the application's identification: line 1 (48), line 2 (36)
    if (p.size() != 85) return badCount();
    if (c.document().kind != DocKind::None)
      return refuse(c.document().kind == DocKind::Fiscal ? FiscalError::ReceiptAlreadyOpen : FiscalError::DocumentOpen);
    Identity id = c.identity();
    id.appLine1 = text::trim(printerText(ByteArray(p.begin() + 1, p.begin() + 49), 0));
    id.appLine2 = text::trim(printerText(ByteArray(p.begin() + 49, p.end()), 0));
    if (FiscalError e = c.setIdentity(id); e != FiscalError::Ok) return refuse(e);
    return o;
  }
  if (model_.mp7000 && sub == bm::block::LongCheck) return printCheck(ByteArray(p.begin() + 1, p.end()), 80);
  if (model_.mp7000 && sub == bm::block::Item) return registerMp7000Item(ByteArray(p.begin() + 1, p.end()));
  o.st1 = bm::st1::UnknownCommand;
  o.st3 = code::InvalidCommand;
  return o;
}

BematechPrinter::Outcome BematechPrinter::printCheck(const ByteArray& p, size_t payeeWidth) {
  // value(14) payee(45, or 80 on the MP-7000) city(27) date DDMMYYYY(8)
  // bank(3 digits or "###") [text] [NUL]
  Outcome o;
  const size_t fixed = 14 + payeeWidth + 27 + 8 + 3;
  if (p.size() < fixed) {
    o.st1 = bm::st1::BadParamCount;
    o.st3 = code::BadParamCount;
    return o;
  }
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
  return o;
}

BematechPrinter::Outcome BematechPrinter::registerMp7000Item(const ByteArray& p) {
  // code(14) tax(2) unit(2) quantity(7, x 1000) price(8, x 1000) discount(8,
  // cents) increase(8, cents) description [NUL]
  constexpr size_t kFixed = 14 + 2 + 2 + 7 + 8 + 8 + 8;
  if (p.size() < kFixed + 1) {
    Outcome b;
    b.st1 = bm::st1::BadParamCount;
    b.st3 = code::BadParamCount;
    return b;
  }
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
  const FiscalError e = core().registerItem(in);
  return e == FiscalError::Ok ? Outcome{} : refuse(e);
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
