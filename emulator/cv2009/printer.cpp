#include "emulator/cv2009/printer.h"

#include <algorithm>
#include <cstdlib>

#include "core/capabilities.h"
#include "core/text.h"

namespace tarvion::emulator {

namespace cv = tarvion::emulator::cv2009;
using text::format;

namespace {

struct Refusal {
  FiscalError error;
  uint8_t statusClass, code;
};
// How the printer refuses each wrong state of the fiscal half.
const Refusal kRefusals[] = {
    {FiscalError::ReceiptAlreadyOpen, 5, 1},
    {FiscalError::NoReceiptOpen, 5, 6},
    {FiscalError::TaxNotProgrammed, 2, 1},
    {FiscalError::TaxTableFull, 14, 7},
    {FiscalError::PaymentNotProgrammed, 2, 1},
    {FiscalError::PaymentTableFull, 14, 7},
    {FiscalError::PaymentAlreadyProgrammed, 14, 4},
    {FiscalError::TitleNotProgrammed, 2, 1},
    {FiscalError::TitleTableFull, 14, 7},
    {FiscalError::TitleAlreadyProgrammed, 14, 5},
    {FiscalError::ReportNotProgrammed, 2, 1},
    {FiscalError::NoItems, 5, 0},
    {FiscalError::AlreadyTotalized, 5, 12},
    {FiscalError::NotTotalized, 5, 11},
    {FiscalError::ItemNotFound, 2, 1},
    {FiscalError::ItemAlreadyCancelled, 2, 1},
    {FiscalError::DiscountTooLarge, 2, 1},
    {FiscalError::ZeroValue, 2, 1},
    {FiscalError::PaymentsNotFinished, 5, 11},
    {FiscalError::PaymentsFinished, 5, 9},
    {FiscalError::CancelNotAllowed, 16, 0},
    {FiscalError::AlreadyCancelled, 16, 0},
    {FiscalError::LinkedNotAllowed, 7, 6},
    {FiscalError::NoLinkedOpen, 7, 14},
    {FiscalError::NoReportOpen, 7, 14},
    {FiscalError::NoNonFiscalOpen, 6, 0},
    {FiscalError::ZPending, 8, 0},
    {FiscalError::ZAlreadyDone, 10, 0},
    {FiscalError::DaylightSavingNotAllowed, 13, 2},
    {FiscalError::AuthenticationNotAllowed, 11, 2},
    {FiscalError::PaperOut, 12, 0},
    {FiscalError::InvalidDate, 13, 4},
    {FiscalError::DateBeforeLastDocument, 13, 3},
    {FiscalError::InvalidRange, 2, 6},
    {FiscalError::FiscalMemoryFull, 9, 13},
    {FiscalError::InvalidParameter, 2, 1},
    {FiscalError::TooManyItems, 5, 7},
    {FiscalError::DayHasMovement, 4, 0},
    {FiscalError::ItemAdjustmentDone, 5, 13},
    {FiscalError::NoItemAdjustment, 2, 1},
    {FiscalError::SecondCopyNotAllowed, 7, 8},
    {FiscalError::MemoryWrite, 9, 14},
};

constexpr Cv2009Printer::Status kInvalidCommand{1, 0};
constexpr Cv2009Printer::Status kBadParameter{2, 1};
constexpr Cv2009Printer::Status kMissingParameter{2, 2};
constexpr Cv2009Printer::Status kChecksum{15, 2};

long number(const std::string& s) {
  return std::strtol(s.c_str(), nullptr, 10);
}

bool digitsOnly(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Amounts are digits of cents; anything else is refused.
bool cents(const std::string& s, Cents& out) {
  if (!digitsOnly(s) || s.size() > 15) return false;
  out = std::strtoll(s.c_str(), nullptr, 10);
  return true;
}

// "DDMMYYYY" as a day number; -1 when it is no date.
int64_t dayOf(const std::string& s) {
  if (s.size() != 8 || !digitsOnly(s)) return -1;
  Stamp st;
  st.day = static_cast<int>(number(s.substr(0, 2)));
  st.month = static_cast<int>(number(s.substr(2, 2)));
  st.year = static_cast<int>(number(s.substr(4, 4)));
  if (!validStamp(st)) return -1;
  return dayNumber(toSeconds(st));
}

std::string taxLabel(const std::string& code) {
  if (code == "I1") return "II";
  if (code == "F1") return "FF";
  if (code == "N1") return "NN";
  if (code == "IS1") return "SI";
  if (code == "FS1") return "SF";
  if (code == "NS1") return "SN";
  if (code.size() == 3 && (code[0] == 'T' || code[0] == 'S') && digitsOnly(code.substr(1))) return code.substr(1);
  return {};
}

void cutBlocks(const std::string& text, std::vector<std::string>& out) {
  out.clear();
  // One field per block: the block's text with its separator, never more than
  // a block holds.
  const size_t piece = cv::kBlockData - 1;
  for (size_t at = 0; at < text.size(); at += piece) out.push_back(text.substr(at, piece) + "|");
  if (out.empty()) out.push_back("|");
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  // The separator cannot travel inside a field.
  for (char& c : s)
    if (c == '|') c = '/';
  return s;
}

}  // namespace

std::vector<Cv2009Model> Cv2009Model::all() {
  std::vector<Cv2009Model> v;
  for (const caps::ModelRow& r : caps::fiscalModels())
    if (r.family == caps::Family::CV2009)
      v.push_back({r.number, r.name, r.columns ? r.columns : 48, std::string_view(r.driverClass) == "CECFCV2009V2"});
  return v;
}

bool Cv2009Model::byNumber(int number, Cv2009Model& out) {
  for (const Cv2009Model& m : all())
    if (m.number == number) {
      out = m;
      return true;
    }
  return false;
}

Cv2009Printer::Cv2009Printer(std::shared_ptr<FiscalCore> core, const Cv2009Model& model)
    : VirtualPrinter(std::move(core), model.name, Hardware{model.columns, false}), model_(model) {}

Cv2009Printer::Status Cv2009Printer::statusOf(FiscalError e) const {
  if (e == FiscalError::Ok) return {};
  if (e == FiscalError::DocumentOpen) {
    switch (const_cast<Cv2009Printer*>(this)->core().document().kind) {
      case DocKind::Fiscal:
        return {5, 1};
      case DocKind::NonFiscal:
        return {5, 2};
      case DocKind::Linked:
        return {5, 3};
      case DocKind::Report:
        return {5, 5};
      case DocKind::None:
        break;
    }
    return {4, 0};
  }
  for (const Refusal& r : kRefusals)
    if (r.error == e) return {r.statusClass, r.code};
  return {4, 0};
}

Cv2009Printer::Outcome Cv2009Printer::refuse(FiscalError e) const {
  Outcome o;
  o.status = statusOf(e);
  return o;
}

void Cv2009Printer::consume(ByteArray& buf, ReplySink& out) {
  while (!buf.empty()) {
    cv::Packet p;
    const cv::PacketState st = cv::parsePacket(buf.data(), buf.size(), p);
    if (st == cv::PacketState::Incomplete) break;
    if (st == cv::PacketState::NotAPacket) {
      // Noise before a packet: skipped without an answer.
      buf.erase(buf.begin());
      continue;
    }
    const ByteArray packet(buf.begin(), buf.begin() + static_cast<long>(p.size));
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(p.size));
    const ByteArray refusal = cv::nak(kChecksum.statusClass, kChecksum.code);
    if (st == cv::PacketState::BadChecksum) {
      if (!serve(out, refusal, [&] { return refusal; })) return;
      continue;
    }
    if (!serve(out, refusal, [&] {
          if (p.kind == cv::Packet::Kind::Command && haveLast_ && packet == lastCommand_) {
            // The host did not get our reply and sent the command again: it
            // ran once already, its reply is still here.
            return ByteArray{cv::kACK};
          }
          return answer(p, packet);
        }))
      return;
  }
}

ByteArray Cv2009Printer::answer(const cv::Packet& p, const ByteArray& packet) {
  switch (p.kind) {
    case cv::Packet::Kind::Sync:
      return cv::sync(static_cast<uint8_t>(lastSequence_));
    case cv::Packet::Kind::Enq: {
      if (nowUs() < busyUntilUs_) return cv::busy();
      if (!pending_ || p.block >= blocks_.size()) return cv::nak(kBadParameter.statusClass, kBadParameter.code);
      const bool last = p.block + 1u >= blocks_.size();
      return cv::replyBlock(static_cast<uint8_t>(lastSequence_), lastCode_, last, p.block, blocks_[p.block]);
    }
    case cv::Packet::Kind::Command:
      break;
  }
  const Outcome o = run(p.code, cv::splitParams(p.params));
  if (o.status.statusClass != 0) return cv::nak(o.status.statusClass, o.status.code);
  haveLast_ = true;
  lastCommand_ = packet;
  lastSequence_ = p.sequence;
  lastCode_ = p.code;
  pending_ = true;
  if (o.blocks)
    cutBlocks(o.data, blocks_);
  else
    blocks_.assign(1, o.data);
  busyUntilUs_ = o.printMs ? nowUs() + static_cast<int64_t>(o.printMs) * 1000 : 0;
  return ByteArray{cv::kACK};
}

std::string Cv2009Printer::stamp(int64_t seconds) const {
  const Stamp s = fromSeconds(seconds);
  return format("%02d%02d%04d%02d%02d%02d", s.day, s.month, s.year, s.hour, s.minute, s.second);
}

std::string Cv2009Printer::printed(const std::string& s) const {
  return model_.cp850 ? text::cp850ToCp1252(s) : s;
}

std::string Cv2009Printer::documentFields() const {
  auto& c = const_cast<Cv2009Printer*>(this)->core();
  return cv::fields({std::to_string(c.counters().coo), stamp(c.now())});
}

std::span<const Cv2009Printer::Command> Cv2009Printer::dispatchTable() {
  using P = Cv2009Printer;
  // code, parameters it needs, handler
  static constexpr Command kCommands[] = {
      {0x0001, 3, &P::openReceipt},
      {0x0002, 9, &P::sellItem},
      {0x0003, 1, &P::cancelItem},
      {0x0004, 2, &P::pay},
      {0x0005, 3, &P::closeReceipt},
      {0x0006, 0, &P::drawer},
      {0x0007, 1, &P::cancelLast},
      {0x0008, 3, &P::openLinked},
      {0x0009, 1, &P::printLine},
      {0x000A, 0, &P::closeDocument},
      {0x000B, 0, &P::acknowledge},
      {0x000C, 1, &P::openReport},
      {0x0010, 0, &P::openNonFiscal},
      {0x0011, 2, &P::nonFiscalItem},
      {0x0012, 0, &P::closeNonFiscal},
      {0x0014, 0, &P::leituraX},
      {0x0015, 0, &P::reducaoZ},
      {0x0016, 5, &P::memoryReport},
      {0x0017, 2, &P::nonFiscalReceipt},
      {0x0018, 1, &P::appIdentification},
      {0x001A, 0, &P::readData},
      {0x001B, 4, &P::adjustItem},
      {0x001C, 2, &P::cancelItemAdjustment},
      {0x001D, 3, &P::totalize},
      {0x001F, 0, &P::cancelOpen},
      {0x0050, 0, &P::daylightSaving},
      {0x0054, 3, &P::program},
      {0x0055, 2, &P::addTitle},
      {0x0056, 2, &P::addReport},
      {0x0067, 5, &P::memoryText},
      {0x0068, 5, &P::memoryText},
      {0x0095, 0, &P::acknowledge},
      {0x0096, 2, &P::cfe},
  };
  static_assert([] {
    for (size_t i = 1; i < std::size(kCommands); ++i)
      if (kCommands[i - 1].code >= kCommands[i].code) return false;
    return true;
  }());
  return kCommands;
}

Cv2009Printer::Outcome Cv2009Printer::run(uint16_t code, const Params& p) {
  const std::span<const Command> table = dispatchTable();
  const auto at =
      std::lower_bound(table.begin(), table.end(), code, [](const Command& c, uint16_t k) { return c.code < k; });
  if (at == table.end() || at->code != code) return failed(kInvalidCommand);
  if (p.size() < at->minParams) return failed(kMissingParameter);
  return (this->*at->run)(p);
}

Cv2009Printer::Outcome Cv2009Printer::failed(Status s) {
  Outcome r;
  r.status = s;
  return r;
}

Cv2009Printer::Outcome Cv2009Printer::done(FiscalError e, std::string data) const {
  if (e != FiscalError::Ok) return refuse(e);
  Outcome r;
  r.data = std::move(data);
  return r;
}

// The handlers. The table has checked that the parameters each needs are there.

Cv2009Printer::Outcome Cv2009Printer::openReceipt(const Params& p) {
  const FiscalError e = core().openReceipt(p[0], printed(p[1]), printed(p[2]));
  return done(e, documentFields());
}

Cv2009Printer::Outcome Cv2009Printer::sellItem(const Params& p) {
  FiscalCore& c = core();
  FiscalCore::ItemInput in;
  in.code = p[0];
  in.description = p[1];
  in.tax = taxLabel(p[2]);
  in.unit = p[3];
  Cents price = 0;
  if (in.tax.empty() || !digitsOnly(p[4]) || !digitsOnly(p[5]) || p[4].size() > 12 || !cents(p[6], price))
    return failed(kBadParameter);
  int decimals = static_cast<int>(number(p[5]));
  if (decimals > 6) return failed(kBadParameter);
  int64_t q = std::strtoll(p[4].c_str(), nullptr, 10) * 1000;
  for (int i = 0; i < decimals; ++i) q /= 10;
  in.quantity = q;
  in.unitPrice = price * 10;
  int item = 0;
  const FiscalError e = c.registerItem(in, &item);
  if (e != FiscalError::Ok) return refuse(e);
  const Item& it = c.document().items.back();
  return done(e, cv::fields({std::to_string(item), std::to_string(it.gross()), std::to_string(it.net())}));
}

Cv2009Printer::Outcome Cv2009Printer::cancelItem(const Params& p) {
  return done(core().cancelItem(static_cast<int>(number(p[0]))));
}

Cv2009Printer::Outcome Cv2009Printer::pay(const Params& p) {
  FiscalCore& c = core();
  Cents amount = 0;
  if (!cents(p[1], amount)) return failed(kBadParameter);
  if (c.document().state == ReceiptState::Items)
    if (FiscalError e = c.totalize(0, 0); e != FiscalError::Ok) return refuse(e);
  const FiscalError e = c.pay(static_cast<int>(number(p[0])) - 1, amount);
  const Cents left = c.document().total() - c.document().paid();
  return done(e, cv::fields({std::to_string(left > 0 ? left : 0)}));
}

Cv2009Printer::Outcome Cv2009Printer::closeReceipt(const Params& p) {
  FiscalCore& c = core();
  const std::vector<Payment> payments = c.document().payments;
  const FiscalError e = c.closeReceipt(printed(p[2]));
  if (e != FiscalError::Ok) return refuse(e);
  std::vector<std::string> f{std::to_string(c.lastReceipt().coo), stamp(c.now())};
  for (size_t i = 0; i < payments.size(); ++i) {
    f.push_back(std::to_string(i + 1));
    f.push_back(std::to_string(payments[i].type + 1));
    f.push_back(std::to_string(payments[i].amount));
    f.push_back("1");
  }
  return done(e, cv::fields(f));
}

Cv2009Printer::Outcome Cv2009Printer::drawer(const Params&) {
  openDrawer();
  return {};
}

Cv2009Printer::Outcome Cv2009Printer::cancelLast(const Params& p) {
  FiscalCore& c = core();
  if (number(p[0]) != c.lastReceipt().coo) return refuse(FiscalError::CancelNotAllowed);
  return done(c.cancelReceipt());
}

Cv2009Printer::Outcome Cv2009Printer::openLinked(const Params& p) {
  FiscalCore& c = core();
  const int type = static_cast<int>(number(p[1])) - 1;
  const int seq = static_cast<int>(number(p[0])) - 1;
  Cents value = 0;
  const auto& pays = c.lastReceipt().payments;
  if (seq >= 0 && seq < static_cast<int>(pays.size()) && pays[static_cast<size_t>(seq)].type == type)
    value = pays[static_cast<size_t>(seq)].amount;
  const FiscalError e = c.openLinked(type, value);
  return done(e, documentFields());
}

Cv2009Printer::Outcome Cv2009Printer::printLine(const Params& p) {
  FiscalCore& c = core();
  const DocKind k = c.document().kind;
  if (k == DocKind::Linked) return done(c.linkedText(printed(p[0])));
  if (k == DocKind::Report) return done(c.reportText(printed(p[0])));
  return failed({7, 14});
}

Cv2009Printer::Outcome Cv2009Printer::closeDocument(const Params&) {
  FiscalCore& c = core();
  const DocKind k = c.document().kind;
  FiscalError e = FiscalError::NoLinkedOpen;
  if (k == DocKind::Linked) e = c.closeLinked();
  if (k == DocKind::Report) e = c.closeReport();
  if (e != FiscalError::Ok) return refuse(e);
  return done(e, documentFields());
}

Cv2009Printer::Outcome Cv2009Printer::acknowledge(const Params&) {
  return {};
}

Cv2009Printer::Outcome Cv2009Printer::openReport(const Params& p) {
  const FiscalError e = core().openReport(static_cast<int>(number(p[0])) - 1);
  return done(e, documentFields());
}

Cv2009Printer::Outcome Cv2009Printer::openNonFiscal(const Params&) {
  const FiscalError e = core().openNonFiscal();
  return done(e, documentFields());
}

Cv2009Printer::Outcome Cv2009Printer::nonFiscalItem(const Params& p) {
  Cents amount = 0;
  if (!cents(p[1], amount)) return failed(kBadParameter);
  return done(core().nonFiscalItem(static_cast<int>(number(p[0])) - 1, amount));
}

Cv2009Printer::Outcome Cv2009Printer::closeNonFiscal(const Params& p) {
  FiscalCore& c = core();
  if (c.document().kind != DocKind::NonFiscal) return refuse(FiscalError::NoNonFiscalOpen);
  if (c.document().state == ReceiptState::Items)
    if (FiscalError e = c.totalize(0, 0); e != FiscalError::Ok) return refuse(e);
  const Cents left = c.document().total() - c.document().paid();
  if (left > 0)
    if (FiscalError e = c.pay(0, left); e != FiscalError::Ok) return refuse(e);
  const FiscalError e = c.closeReceipt(p.size() > 1 ? p[1] : std::string());
  return done(e, documentFields());
}

Cv2009Printer::Outcome Cv2009Printer::leituraX(const Params& p) {
  FiscalCore& c = core();
  Outcome o;
  if (!p.empty() && p[0] == "1") {
    o.data = joinLines(c.xReportLines());
    o.blocks = true;
    return o;
  }
  const FiscalError e = c.xReport();
  if (e != FiscalError::Ok) return refuse(e);
  o.printMs = kReportPrintMs;
  return o;
}

Cv2009Printer::Outcome Cv2009Printer::reducaoZ(const Params& p) {
  FiscalCore& c = core();
  int64_t emitted = 0;
  if (p.size() >= 2 && dayOf(p[0]) >= 0 && p[1].size() == 6 && digitsOnly(p[1]))
    emitted = dayOf(p[0]) * 86400 + number(p[1].substr(0, 2)) * 3600 + number(p[1].substr(2, 2)) * 60 +
              number(p[1].substr(4, 2));
  const FiscalError e = c.zReduction(emitted);
  if (e != FiscalError::Ok) return refuse(e);
  const Stamp s = fromSeconds(c.now());
  Outcome o;
  o.data = cv::fields({format("%02d%02d%04d", s.day, s.month, s.year)});
  o.printMs = kReportPrintMs;
  return o;
}

Cv2009Printer::Outcome Cv2009Printer::memoryReport(const Params& p) {
  return memoryRead(p, true);
}

Cv2009Printer::Outcome Cv2009Printer::memoryText(const Params& p) {
  return memoryRead(p, false);
}

// The fiscal memory read: mode, first and last date, or first and last
// reduction. Only the report command prints it ("I" or "i"); otherwise, and
// for the text reads, it goes back as text.
Cv2009Printer::Outcome Cv2009Printer::memoryRead(const Params& p, bool printable) {
  FiscalCore& c = core();
  MemoryRange range;
  range.byDate = !p[1].empty();
  if (range.byDate) {
    range.first = dayOf(p[1]);
    range.last = dayOf(p[2]);
    if (range.first < 0 || range.last < 0) return failed(kBadParameter);
  } else {
    if (!digitsOnly(p[3]) || !digitsOnly(p[4])) return failed(kBadParameter);
    range.first = number(p[3]);
    range.last = number(p[4]);
  }
  const std::string& mode = p[0];
  const bool full = mode != "i" && mode != "r";
  const bool printed = printable && (mode == "I" || mode == "i");
  std::vector<ZRecord> records;
  const FiscalError e = c.readFiscalMemory(range, full, &records, printed);
  if (e != FiscalError::Ok) return refuse(e);
  Outcome o;
  if (printed) {
    o.printMs = kReportPrintMs;
    return o;
  }
  o.data = joinLines(c.memoryLines(records, full));
  o.blocks = true;
  return o;
}

Cv2009Printer::Outcome Cv2009Printer::nonFiscalReceipt(const Params& p) {
  Cents amount = 0;
  if (!cents(p[1], amount)) return failed(kBadParameter);
  const FiscalError e = core().nonFiscalReceipt(static_cast<int>(number(p[0])) - 1, amount, 0);
  return done(e, documentFields());
}

Cv2009Printer::Outcome Cv2009Printer::appIdentification(const Params& p) {
  FiscalCore& c = core();
  if (c.document().kind != DocKind::None) return refuse(FiscalError::DocumentOpen);
  Identity id = c.identity();
  const std::string t = text::trim(p[0]);
  id.appLine1 = t == "." ? std::string() : t;
  id.appLine2.clear();
  return done(c.setIdentity(id));
}

Cv2009Printer::Outcome Cv2009Printer::readData(const Params& p) {
  if (p.size() < 2 || !digitsOnly(p[0]) || !digitsOnly(p[1])) return failed(kBadParameter);
  return read(static_cast<int>(number(p[0])), static_cast<int>(number(p[1])));
}

Cv2009Printer::Outcome Cv2009Printer::adjustItem(const Params& p) {
  Cents amount = 0;
  if (!cents(p[2], amount)) return failed(kBadParameter);
  return done(core().adjustItem(static_cast<int>(number(p[3])), p[0] == "1", amount));
}

Cv2009Printer::Outcome Cv2009Printer::cancelItemAdjustment(const Params& p) {
  return done(core().cancelItemAdjustment(static_cast<int>(number(p[1])), p[0] == "1"));
}

Cv2009Printer::Outcome Cv2009Printer::totalize(const Params& p) {
  Cents amount = 0;
  if (!cents(p[2], amount)) return failed(kBadParameter);
  const bool increase = p[0] == "1";
  return done(core().totalize(increase ? 0 : amount, increase ? amount : 0));
}

Cv2009Printer::Outcome Cv2009Printer::cancelOpen(const Params&) {
  FiscalCore& c = core();
  if (!c.receiptOpen()) return refuse(FiscalError::NoReceiptOpen);
  return done(c.cancelReceipt());
}

Cv2009Printer::Outcome Cv2009Printer::daylightSaving(const Params&) {
  return done(core().setDaylightSaving(!core().daylightSaving()));
}

Cv2009Printer::Outcome Cv2009Printer::program(const Params& p) {
  // A payment type (index, name, "1") or, with an empty name, a rate (index,
  // "", rate x 100; an index starting with S makes it ISS).
  FiscalCore& c = core();
  if (!p[1].empty()) return done(c.addPayment(p[1]));
  if (!digitsOnly(p[2])) return failed(kBadParameter);
  return done(c.addTax(!p[0].empty() && p[0][0] == 'S' ? 'S' : 'T', static_cast<int>(number(p[2]))));
}

Cv2009Printer::Outcome Cv2009Printer::addTitle(const Params& p) {
  return done(core().addTitle(p[1]));
}

Cv2009Printer::Outcome Cv2009Printer::addReport(const Params& p) {
  return done(core().addReport(p[1]));
}

Cv2009Printer::Outcome Cv2009Printer::cfe(const Params& p) {
  if (p[1].empty()) return failed(kMissingParameter);
  Outcome o;
  o.data = "<CFeECF><infCFeECF Id=\"CFe" + p[1] + "\"><ide><nCFe>" + p[1] + "</nCFe></ide></infCFeECF></CFeECF>";
  o.blocks = true;
  return o;
}

Cv2009Printer::Outcome Cv2009Printer::read(int group, int item) {
  FiscalCore& c = core();
  const Counters& n = c.counters();
  const DayTotals& d = c.day();
  Outcome o;
  auto one = [&](long long v) {
    o.data = cv::fields({std::to_string(v)});
    return o;
  };
  auto list = [&](const std::vector<std::string>& v) {
    o.data = cv::fields(v);
    return o;
  };
  const Cents gross = d.gross;
  switch (group * 1000 + item) {
    case 1000:
      return list({std::to_string(n.coo), std::to_string(n.cro), std::to_string(n.crz)});
    case 1001:
      return one(n.coo);
    case 1002:
      return one(n.gnf);
    case 1003:
      return one(n.cro);
    case 1004:
      return list({std::to_string(n.crz), std::to_string(n.crz)});
    case 1005:
      return one(n.ccf);
    case 1008:
      return one(n.cdc);
    case 1009:
      return one(n.grg);
    case 3000:
      return one(d.nonFiscal);
    case 4000:
      return list({std::to_string(c.grandTotal()), std::to_string(gross), std::to_string(d.cancellations),
                   std::to_string(d.discounts), std::to_string(d.increases)});
    case 4001:
      return one(c.grandTotal());
    case 4002:
      return one(gross);
    case 4003:
      return one(d.cancellations);
    case 4004:
      return one(d.discounts);
    case 4008:
      return one(d.increases);
    case 5000: {
      std::vector<std::string> v;
      for (size_t i = 0; i < c.taxes().size(); ++i) {
        const auto it = d.perTax.find(format("%02d", static_cast<int>(i + 1)));
        v.push_back(std::to_string(it == d.perTax.end() ? 0 : it->second));
      }
      return list(v);
    }
    case 6001: {
      // Substitution, exempt and not taxed, ICMS then ISS.
      std::vector<std::string> v;
      for (const char* label : {"FF", "II", "NN", "SF", "SI", "SN"}) {
        const auto it = d.perTax.find(label);
        v.push_back(std::to_string(it == d.perTax.end() ? 0 : it->second));
      }
      return list(v);
    }
    case 7000: {
      std::vector<std::string> v;
      for (const PaymentType& t : c.payments()) v.push_back(std::to_string(t.dayAmount));
      return list(v);
    }
    case 8000: {
      const char* state = c.zPending() ? "2" : c.dayClosed() ? "3" : d.movementDay >= 0 ? "1" : "0";
      std::string date;
      if (d.movementDay >= 0) date = stamp(d.movementDay * 86400).substr(0, 8);
      return list({state, date, std::to_string(d.initialCoo), std::to_string(d.initialGrandTotal)});
    }
    case 9000:
      return list({stamp(c.now()), c.daylightSaving() ? "1" : "0"});
    case 11000: {
      std::vector<std::string> v;
      for (size_t i = 0; i < c.taxes().size(); ++i)
        v.push_back(format("%c%02d%04d", c.taxes()[i].kind, static_cast<int>(i + 1), c.taxes()[i].rate));
      return list(v);
    }
    case 12000: {
      std::vector<std::string> v;
      for (const NonFiscalTitle& t : c.titles()) v.push_back(t.name);
      return list(v);
    }
    case 13000: {
      std::vector<std::string> v;
      for (const ManagementReport& r : c.reports()) v.push_back(r.name);
      return list(v);
    }
    case 14000: {
      std::vector<std::string> v;
      for (const PaymentType& t : c.payments()) v.push_back(t.name);
      return list(v);
    }
    case 15000:
      return list({c.identity().serial, model_.name, std::to_string(c.identity().firmware)});
    case 15004:
      return list({c.identity().serial});
    case 15005:
      return one(c.identity().ecfNumber);
    case 15014: {
      const int f = c.identity().firmware;
      return list({format("%02d.%02d.%02d", f / 10000, f / 100 % 100, f % 100)});
    }
    case 16001:
      return list({drawerIsOpen() ? "0" : "1"});
    case 16002:
      return list({c.paperNearEnd() || c.paperOut() ? "0" : "1"});
    case 16005: {
      switch (c.document().kind) {
        case DocKind::Fiscal:
          return list({"1"});
        case DocKind::NonFiscal:
          return list({"2"});
        case DocKind::Linked:
          return list({"3"});
        case DocKind::Report:
          return list({"5"});
        case DocKind::None:
          break;
      }
      return list({"0"});
    }
    case 99003: {
      const std::string s = stamp(c.lastDocument());
      return list({s.substr(0, 8), s.substr(8)});
    }
    case 99010:
      return one(d.issDiscounts);
    case 99105:
      return list({"CFe" + std::string(44 - std::to_string(n.coo).size(), '0') + std::to_string(n.coo)});
    default:
      break;
  }
  if (group == 17) {
    for (const ZRecord& z : c.fiscalMemory())
      if (z.crz == item) return list({std::to_string(z.crz), std::to_string(z.coo), stamp(z.emitted)});
    o.status = kBadParameter;
    return o;
  }
  o.status = kBadParameter;
  return o;
}

std::vector<VirtualModel> cv2009::virtualModels() {
  std::vector<VirtualModel> rows;
  for (const Cv2009Model& m : Cv2009Model::all())
    rows.push_back({m.number, m.name, Hardware{m.columns, false},
                    [](int number, std::shared_ptr<FiscalCore> core) -> std::shared_ptr<VirtualPrinter> {
                      Cv2009Model model;
                      if (!Cv2009Model::byNumber(number, model)) return nullptr;
                      return std::make_shared<Cv2009Printer>(std::move(core), model);
                    }});
  return rows;
}

}  // namespace tarvion::emulator
