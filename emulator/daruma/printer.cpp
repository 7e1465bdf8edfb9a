#include "emulator/daruma/printer.h"

#include <algorithm>
#include <cstdlib>

#include "core/capabilities.h"
#include "core/text.h"
#include "emulator/paper.h"

namespace tarvion::emulator {

namespace dm = daruma;

namespace {

// The FS600 codes for the refusals of the fiscal half; anything else is a
// document the current state does not allow (145).
struct Refusal {
  FiscalError error;
  int code;
};
constexpr Refusal kRefusals[] = {
    {FiscalError::ReceiptAlreadyOpen, 78},
    {FiscalError::NoReceiptOpen, 82},
    {FiscalError::DocumentOpen, 145},
    {FiscalError::TaxNotProgrammed, 90},
    {FiscalError::TaxTableFull, 33},
    {FiscalError::PaymentNotProgrammed, 118},
    {FiscalError::PaymentTableFull, 40},
    {FiscalError::PaymentAlreadyProgrammed, 151},
    {FiscalError::TitleNotProgrammed, 130},
    {FiscalError::TitleTableFull, 35},
    {FiscalError::TitleAlreadyProgrammed, 152},
    {FiscalError::ReportNotProgrammed, 129},
    {FiscalError::NoItems, 102},
    {FiscalError::AlreadyTotalized, 87},
    {FiscalError::NotTotalized, 119},
    {FiscalError::ItemNotFound, 94},
    {FiscalError::ItemAlreadyCancelled, 97},
    {FiscalError::DiscountTooLarge, 100},
    {FiscalError::ZeroValue, 77},
    {FiscalError::PaymentsNotFinished, 120},
    {FiscalError::PaymentsFinished, 119},
    {FiscalError::CancelNotAllowed, 122},
    {FiscalError::AlreadyCancelled, 126},
    {FiscalError::LinkedNotAllowed, 139},
    {FiscalError::NoLinkedOpen, 84},
    {FiscalError::NoReportOpen, 85},
    {FiscalError::NoNonFiscalOpen, 83},
    {FiscalError::ZPending, 88},
    {FiscalError::ZAlreadyDone, 89},
    {FiscalError::DaylightSavingNotAllowed, 143},
    {FiscalError::AuthenticationNotAllowed, 147},
    {FiscalError::PaperOut, 72},
    {FiscalError::InvalidDate, 19},
    {FiscalError::DateBeforeLastDocument, 20},
    {FiscalError::InvalidRange, 21},
    {FiscalError::FiscalMemoryFull, 70},
    {FiscalError::InvalidParameter, 40},
    {FiscalError::TooManyItems, 32},
    {FiscalError::DayHasMovement, 60},
    {FiscalError::ItemAdjustmentDone, 96},
    {FiscalError::NoItemAdjustment, 107},
    {FiscalError::SecondCopyNotAllowed, 131},
    {FiscalError::MemoryWrite, 5},
};
constexpr int kWrongState = 145, kUnknownCommand = 14, kBadCheck = 24, kMissing = 51, kNotDigits = 74;
constexpr int kNoTax = 90, kNoDescription = 92, kZeroItem = 93, kZeroAdjust = 95, kBadIndex = 40;
constexpr int kNotFiscal = 124, kNotNonFiscal = 125, kTitleTaken = 36, kNoTitle = 130;
constexpr size_t kSlots = 20, kSlotWidth = 15;

constexpr uint16_t key(char letter, uint8_t code) {
  return static_cast<uint16_t>(static_cast<uint8_t>(letter) << 8 | code);
}

std::string stamp14(int64_t seconds) {
  const Stamp s = fromSeconds(seconds);
  return dm::zeros(s.day, 2) + dm::zeros(s.month, 2) + dm::zeros(s.year, 4) + dm::zeros(s.hour, 2) +
         dm::zeros(s.minute, 2) + dm::zeros(s.second, 2);
}

std::string date8(int64_t seconds) {
  return stamp14(seconds).substr(0, 8);
}

// ddmmyy[hhmmss] of the host into the printer's count; false for a date that
// does not exist.
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

std::string trimmed(const std::string& s) {
  return text::trim(s);
}

}  // namespace

// ---------------------------------------------------------------- both faces

void DarumaFace::setNoise(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex());
  noise_ = std::min<size_t>(bytes, 64);
}

size_t DarumaFace::noise() const {
  return noise_;
}

ByteArray DarumaFace::withNoise(ByteArray reply) {
  if (noise_ == 0) return reply;
  ByteArray out;
  out.reserve(noise_ + reply.size());
  for (size_t i = 0; i < noise_; ++i) {
    noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
    uint8_t b = static_cast<uint8_t>(noiseSeed_ >> 16);
    // Never the byte a reply starts with, nor the one it ends with.
    if (b == ':' || b == '\r') b = '?';
    out.push_back(b);
  }
  out.insert(out.end(), reply.begin(), reply.end());
  return out;
}

// ---------------------------------------------------------------- FS600

DarumaFS600Printer::DarumaFS600Printer(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : DarumaFace(std::move(core), name, hardware) {}

int DarumaFS600Printer::codeOf(FiscalError e) {
  if (e == FiscalError::Ok) return 0;
  for (const Refusal& r : kRefusals)
    if (r.error == e) return r.code;
  return kWrongState;
}

void DarumaFS600Printer::consume(ByteArray& buf, ReplySink& out) {
  while (!buf.empty()) {
    dm::Request req;
    const dm::FrameState st = dm::parseFs(buf.data(), buf.size(), req);
    if (st == dm::FrameState::Incomplete) break;
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(req.size));
    if (st == dm::FrameState::NotAFrame) continue;
    // A refused command (the "nak" fault) is answered as a printer off line.
    const ByteArray refusal = withNoise(dm::fsReply(req.letter, req.code, 144));
    if (!serve(out, refusal, [&] {
          if (st == dm::FrameState::BadCheck) return withNoise(dm::fsReply(req.letter, req.code, kBadCheck));
          return withNoise(execute(req));
        }))
      return;
  }
}

std::span<const DarumaFS600Printer::Command> DarumaFS600Printer::dispatchTable() {
  using P = DarumaFS600Printer;
  // key, fixed bytes, texts, handler
  static constexpr Command kCommands[] = {
      {key('C', 200), 0, 0, &P::daylightSaving},     {key('C', 204), 17, 0, &P::defineTitle},
      {key('C', 214), 84, 0, &P::pafLines},          {key('F', 200), 0, 3, &P::openReceipt},
      {key('F', 201), 48, 1, &P::sellItem},          {key('F', 202), 15, 0, &P::adjustItem},
      {key('F', 203), 3, 0, &P::cancelItem},         {key('F', 205), 3, 0, &P::cancelAdjustment},
      {key('F', 206), 13, 0, &P::totalize},          {key('F', 209), 14, 1, &P::pay},
      {key('F', 210), 1, 1, &P::closeReceipt},       {key('F', 211), 0, 0, &P::cancelFiscal},
      {key('F', 212), 16, 3, &P::openLinked},        {key('F', 214), 0, 0, &P::closeLinked},
      {key('F', 219), 0, 3, &P::openNonFiscal},      {key('F', 220), 25, 0, &P::nonFiscalItem},
      {key('F', 223), 13, 0, &P::totalizeNonFiscal}, {key('F', 226), 0, 1, &P::closeNonFiscal},
      {key('F', 227), 11, 1, &P::withdrawal},        {key('F', 229), 0, 0, &P::cancelNonFiscal},
      {key('F', 230), 2, 0, &P::openReport},         {key('F', 232), 0, 0, &P::closeReport},
      {key('F', 233), 13, 0, &P::memoryRead},        {key('F', 234), 12, 0, &P::reducaoZ},
      {key('F', 235), 1, 0, &P::leituraX},           {key('F', 236), 11, 1, &P::supply},
      {key('N', 202), 1, 0, &P::cutPaper},           {key('N', 206), 3, 0, &P::drawer},
  };
  static_assert([] {
    for (size_t i = 1; i < std::size(kCommands); ++i)
      if (kCommands[i - 1].key >= kCommands[i].key) return false;
    return true;
  }());
  return kCommands;
}

std::span<const DarumaFS600Printer::Register> DarumaFS600Printer::registers() {
  using P = DarumaFS600Printer;
  static constexpr Register kRegisters[] = {
      {1, &P::grandTotal},      {2, &P::grossSale},     {6, &P::paymentValues},   {8, &P::nonFiscalTotal},
      {9, &P::discounts},       {11, &P::increases},    {12, &P::cancellations},  {13, &P::issCancellations},
      {23, &P::restarts},       {24, &P::reductions},   {26, &P::operations},     {28, &P::nonFiscalCount},
      {30, &P::fiscalReceipts}, {33, &P::reportCount},  {45, &P::linkedCount},    {46, &P::documentKind},
      {56, &P::receiptState},   {58, &P::lastItem},     {66, &P::clock},          {70, &P::fiscalDate},
      {73, &P::lastDocument},   {78, &P::serial},       {79, &P::type},           {80, &P::mark},
      {81, &P::model},          {82, &P::columns},      {84, &P::firmware},       {85, &P::firmwareDate},
      {93, &P::user},           {94, &P::userNumber},   {107, &P::printerNumber}, {108, &P::daylight},
      {109, &P::issDiscount},   {113, &P::extraCopy},   {125, &P::taxes},         {126, &P::paymentNames},
      {127, &P::titleNames},    {128, &P::reportNames}, {131, &P::pafText},       {134, &P::lastReduction},
      {139, &P::decimals},      {140, &P::pendingZ},
  };
  static_assert([] {
    for (size_t i = 1; i < std::size(kRegisters); ++i)
      if (kRegisters[i - 1].number >= kRegisters[i].number) return false;
    return true;
  }());
  return kRegisters;
}

ByteArray DarumaFS600Printer::execute(const dm::Request& req) {
  if (req.probe) return dm::fsReply(0x1D, 0x06, 0);
  if (req.letter == 'R') {
    long long n = -1;
    const auto regs = registers();
    const auto at = dm::digits(req.params, n) ? std::lower_bound(regs.begin(), regs.end(), static_cast<int>(n),
                                                                 [](const Register& r, int k) { return r.number < k; })
                                              : regs.end();
    if (at == regs.end() || at->number != n) return dm::fsReply(req.letter, req.code, kBadIndex);
    return dm::registerReply(at->number, (this->*at->value)());
  }
  const auto table = dispatchTable();
  const uint16_t k = key(static_cast<char>(req.letter), req.code);
  const auto at =
      std::lower_bound(table.begin(), table.end(), k, [](const Command& c, uint16_t v) { return c.key < v; });
  if (at == table.end() || at->key != k) return dm::fsReply(req.letter, req.code, kUnknownCommand);
  if (req.params.size() < at->fixed) return dm::fsReply(req.letter, req.code, kMissing);
  std::vector<std::string> texts;
  size_t used = 0;
  if (!dm::splitTexts(std::string_view(req.params).substr(at->fixed), at->texts, texts, used))
    return dm::fsReply(req.letter, req.code, kMissing);
  return dm::fsReply(req.letter, req.code, (this->*at->run)(req));
}

std::string DarumaFS600Printer::fixedPart(const dm::Request& req, size_t at, size_t n) const {
  return req.params.substr(std::min(at, req.params.size()), n);
}

std::vector<std::string> DarumaFS600Printer::textsOf(const dm::Request& req) {
  const auto table = dispatchTable();
  const uint16_t k = key(static_cast<char>(req.letter), req.code);
  const auto at =
      std::lower_bound(table.begin(), table.end(), k, [](const Command& c, uint16_t v) { return c.key < v; });
  std::vector<std::string> texts;
  size_t used = 0;
  dm::splitTexts(std::string_view(req.params).substr(at->fixed), at->texts, texts, used);
  return texts;
}

// ---- commands. The table has checked the fixed bytes and the texts.

int DarumaFS600Printer::openReceipt(const dm::Request& req) {
  const auto t = textsOf(req);
  return fail(core().openReceipt(trimmed(t[0]), trimmed(t[1]), trimmed(t[2])));
}

// tax(2) quantity(7) price(8) flag(1) adjustment(11) "00" code(14) unit(3), description FF
int DarumaFS600Printer::sellItem(const dm::Request& req) {
  long long tax = 0, qty = 0, price = 0, adjust = 0;
  if (!dm::digits(fixedPart(req, 0, 2), tax) || !dm::digits(fixedPart(req, 2, 7), qty) ||
      !dm::digits(fixedPart(req, 9, 8), price) || !dm::digits(fixedPart(req, 18, 11), adjust))
    return kNotDigits;
  const char flag = req.params[17];
  if (flag != '1' && flag != '3') return kBadIndex;
  FiscalCore::ItemInput in;
  switch (tax) {
    case 17:
      in.tax = "FF";
      break;
    case 19:
      in.tax = "II";
      break;
    case 21:
      in.tax = "NN";
      break;
    case 23:
      in.tax = "SF";
      break;
    case 25:
      in.tax = "SI";
      break;
    case 27:
      in.tax = "SN";
      break;
    default:
      if (tax < 1 || tax > static_cast<long long>(core().taxes().size())) return kNoTax;
      in.tax = dm::zeros(tax, 2);
  }
  in.code = trimmed(fixedPart(req, 31, 14));
  in.unit = trimmed(fixedPart(req, 45, 3));
  in.description = trimmed(textsOf(req)[0]);
  if (in.description.empty()) return kNoDescription;
  if (qty == 0 || price == 0) return kZeroItem;
  // Thousandths in the fiscal half.
  in.quantity = qty * (kQuantityDecimals == 2 ? 10 : 1);
  in.unitPrice = price * (kPriceDecimals == 2 ? 10 : 1);
  (flag == '1' ? in.discount : in.increase) = adjust;
  return fail(core().registerItem(in));
}

int DarumaFS600Printer::adjustItem(const dm::Request& req) {
  long long item = 0, v = 0;
  if (!dm::digits(fixedPart(req, 0, 3), item) || !dm::digits(fixedPart(req, 4, 11), v)) return kNotDigits;
  const char kind = req.params[3];
  if (kind != '1' && kind != '3') return kBadIndex;
  if (v == 0) return kZeroAdjust;
  return fail(core().adjustItem(static_cast<int>(item), kind == '3', v));
}

int DarumaFS600Printer::cancelItem(const dm::Request& req) {
  long long item = 0;
  if (!dm::digits(fixedPart(req, 0, 3), item)) return kNotDigits;
  return fail(core().cancelItem(static_cast<int>(item)));
}

int DarumaFS600Printer::cancelAdjustment(const dm::Request& req) {
  long long item = 0;
  if (!dm::digits(fixedPart(req, 0, 3), item)) return kNotDigits;
  const FiscalError e = core().cancelItemAdjustment(static_cast<int>(item), false);
  return fail(e == FiscalError::NoItemAdjustment ? core().cancelItemAdjustment(static_cast<int>(item), true) : e);
}

int DarumaFS600Printer::totalize(const dm::Request& req) {
  long long v = 0;
  if (!dm::digits(fixedPart(req, 1, 12), v)) return kNotDigits;
  const char kind = req.params[0];
  if (kind != '1' && kind != '3') return kBadIndex;
  if (core().document().kind != DocKind::Fiscal) return fail(FiscalError::NoReceiptOpen);
  return fail(core().totalize(kind == '1' ? v : 0, kind == '3' ? v : 0));
}

int DarumaFS600Printer::pay(const dm::Request& req) {
  FiscalCore& c = core();
  long long index = 0, v = 0;
  if (!dm::digits(fixedPart(req, 0, 2), index) || !dm::digits(fixedPart(req, 2, 12), v)) return kNotDigits;
  if (index < 1 || index > static_cast<long long>(c.payments().size())) return fail(FiscalError::PaymentNotProgrammed);
  // The first payment closes the list of items when no subtotal command did.
  const ReceiptState st = c.document().state;
  if (c.document().kind == DocKind::Fiscal && (st == ReceiptState::Items || st == ReceiptState::Open)) {
    if (const FiscalError e = c.totalize(0, 0); e != FiscalError::Ok) return fail(e);
  }
  return fail(c.pay(static_cast<int>(index - 1), v));
}

int DarumaFS600Printer::closeReceipt(const dm::Request& req) {
  if (core().document().kind != DocKind::Fiscal) return fail(FiscalError::NoReceiptOpen);
  return fail(core().closeReceipt(text::trimRight(textsOf(req)[0])));
}

int DarumaFS600Printer::cancelFiscal(const dm::Request&) {
  if (core().document().kind == DocKind::NonFiscal) return kNotFiscal;
  return fail(core().cancelReceipt());
}

int DarumaFS600Printer::cancelNonFiscal(const dm::Request&) {
  if (core().document().kind != DocKind::NonFiscal) return kNotNonFiscal;
  return fail(core().cancelReceipt());
}

// index(2) "01" amount(12), then the receipt's number, and two texts
int DarumaFS600Printer::openLinked(const dm::Request& req) {
  long long index = 0, v = 0, coo = 0;
  if (!dm::digits(fixedPart(req, 0, 2), index) || !dm::digits(fixedPart(req, 4, 12), v)) return kNotDigits;
  const std::string number = trimmed(textsOf(req)[0]);
  if (!number.empty() && !dm::digits(number, coo)) return kNotDigits;
  return fail(core().openLinked(static_cast<int>(index - 1), v, static_cast<int>(coo)));
}

int DarumaFS600Printer::closeLinked(const dm::Request&) {
  return fail(core().closeLinked());
}

int DarumaFS600Printer::openNonFiscal(const dm::Request&) {
  return fail(core().openNonFiscal());
}

int DarumaFS600Printer::nonFiscalItem(const dm::Request& req) {
  long long title = 0, v = 0;
  if (!dm::digits(fixedPart(req, 0, 2), title) || !dm::digits(fixedPart(req, 2, 11), v)) return kNotDigits;
  if (title < 1) return kNoTitle;
  return fail(core().nonFiscalItem(static_cast<int>(title - 1), v));
}

int DarumaFS600Printer::totalizeNonFiscal(const dm::Request&) {
  if (core().document().kind != DocKind::NonFiscal) return fail(FiscalError::NoNonFiscalOpen);
  return fail(core().totalize(0, 0));
}

int DarumaFS600Printer::closeNonFiscal(const dm::Request&) {
  if (core().document().kind != DocKind::NonFiscal) return fail(FiscalError::NoNonFiscalOpen);
  return fail(core().closeReceipt(""));
}

int DarumaFS600Printer::titleReceipt(const char* title, const dm::Request& req) {
  long long v = 0;
  if (!dm::digits(fixedPart(req, 0, 11), v)) return kNotDigits;
  const int index = core().titleIndex(title);
  if (index < 0) return kNoTitle;
  return fail(core().nonFiscalReceipt(index, v, 0));
}

int DarumaFS600Printer::withdrawal(const dm::Request& req) {
  return titleReceipt("SANGRIA", req);
}

int DarumaFS600Printer::supply(const dm::Request& req) {
  return titleReceipt("SUPRIMENTO", req);
}

int DarumaFS600Printer::openReport(const dm::Request& req) {
  long long index = 0;
  if (!dm::digits(fixedPart(req, 0, 2), index)) return kNotDigits;
  if (index < 1) return fail(FiscalError::ReportNotProgrammed);
  return fail(core().openReport(static_cast<int>(index - 1)));
}

int DarumaFS600Printer::closeReport(const dm::Request&) {
  return fail(core().closeReport());
}

// kind ("2" summarised, "3" full), then two dates ddmmyy or two reduction
// counters: a pair that reads as two real dates is a date range.
int DarumaFS600Printer::memoryRead(const dm::Request& req) {
  const char kind = req.params[0];
  if (kind != '2' && kind != '3') return kBadIndex;
  const std::string a = fixedPart(req, 1, 6), b = fixedPart(req, 7, 6);
  MemoryRange range;
  int64_t first = 0, last = 0;
  long long x = 0, y = 0;
  if (stampOf(a, first) && stampOf(b, last)) {
    range.byDate = true;
    range.first = dayNumber(first);
    range.last = dayNumber(last);
  } else if (dm::digits(a, x) && dm::digits(b, y)) {
    range.byDate = false;
    range.first = x;
    range.last = y;
  } else {
    return kNotDigits;
  }
  return fail(core().readFiscalMemory(range, kind == '3'));
}

int DarumaFS600Printer::reducaoZ(const dm::Request& req) {
  int64_t when = 0;
  if (!stampOf(fixedPart(req, 0, 12), when)) return fail(FiscalError::InvalidDate);
  return fail(core().zReduction(when));
}

int DarumaFS600Printer::leituraX(const dm::Request&) {
  return fail(core().xReport());
}

int DarumaFS600Printer::daylightSaving(const dm::Request&) {
  return fail(core().setDaylightSaving(!core().daylightSaving()));
}

// index(2) title(15): a title already there is kept; a free slot right after
// the last one takes it.
int DarumaFS600Printer::defineTitle(const dm::Request& req) {
  long long index = 0;
  if (!dm::digits(fixedPart(req, 0, 2), index)) return kNotDigits;
  const std::string name = trimmed(fixedPart(req, 2, 15));
  if (name.empty()) return kMissing;
  if (core().titleIndex(name) >= 0) return 0;
  if (index != static_cast<long long>(core().titles().size()) + 1) return kTitleTaken;
  return fail(core().addTitle(name));
}

int DarumaFS600Printer::pafLines(const dm::Request& req) {
  Identity id = core().identity();
  id.appLine1 = trimmed(fixedPart(req, 0, 42));
  id.appLine2 = trimmed(fixedPart(req, 42, 42));
  return fail(core().setIdentity(id));
}

int DarumaFS600Printer::cutPaper(const dm::Request&) {
  return 0;
}

int DarumaFS600Printer::drawer(const dm::Request&) {
  openDrawer();
  return 0;
}

// ---- registers

std::string DarumaFS600Printer::grandTotal() {
  return dm::zeros(core().grandTotal(), 18);
}
std::string DarumaFS600Printer::grossSale() {
  return dm::zeros(core().day().gross, 18);
}
std::string DarumaFS600Printer::paymentValues() {
  std::string s;
  const auto& p = core().payments();
  for (size_t i = 0; i < kSlots; ++i) s += dm::zeros(i < p.size() ? p[i].dayAmount : 0, 13);
  return s;
}
std::string DarumaFS600Printer::nonFiscalTotal() {
  return dm::zeros(core().day().nonFiscal, 18);
}
std::string DarumaFS600Printer::discounts() {
  return dm::zeros(core().day().discounts, 18);
}
std::string DarumaFS600Printer::increases() {
  return dm::zeros(core().day().increases, 18);
}
std::string DarumaFS600Printer::cancellations() {
  return dm::zeros(core().day().cancellations, 18);
}
std::string DarumaFS600Printer::issCancellations() {
  return dm::zeros(0, 18);
}
std::string DarumaFS600Printer::restarts() {
  return dm::zeros(core().counters().cro, 6);
}
std::string DarumaFS600Printer::reductions() {
  return dm::zeros(core().counters().crz, 6);
}
std::string DarumaFS600Printer::operations() {
  return dm::zeros(core().counters().coo, 6);
}
std::string DarumaFS600Printer::nonFiscalCount() {
  return dm::zeros(core().counters().gnf, 6);
}
std::string DarumaFS600Printer::fiscalReceipts() {
  return dm::zeros(core().counters().ccf, 6);
}
std::string DarumaFS600Printer::reportCount() {
  return dm::zeros(core().counters().grg, 6);
}
std::string DarumaFS600Printer::linkedCount() {
  return dm::zeros(core().counters().cdc, 6);
}
// 1: a fiscal receipt open, or the last document and not cancelled; 2: a
// non-fiscal receipt open; 0: nothing to cancel.
std::string DarumaFS600Printer::documentKind() {
  const FiscalCore& c = core();
  if (c.document().kind == DocKind::Fiscal) return "1";
  if (c.document().kind == DocKind::NonFiscal) return "2";
  const ClosedReceipt& last = c.lastReceipt();
  return c.document().kind == DocKind::None && last.coo && !last.cancelled && last.lastDocument ? "1" : "0";
}
std::string DarumaFS600Printer::receiptState() {
  const Document& d = core().document();
  if (d.kind != DocKind::Fiscal) return "0";
  switch (d.state) {
    case ReceiptState::Totalled:
      return "2";
    case ReceiptState::Paying:
      return "3";
    default:
      return "1";
  }
}
std::string DarumaFS600Printer::lastItem() {
  return dm::zeros(core().counters().lastItem, 3);
}
std::string DarumaFS600Printer::clock() {
  return stamp14(core().now());
}
// The day of the movement, or today while there is none.
std::string DarumaFS600Printer::fiscalDate() {
  const int64_t day = core().day().movementDay;
  return date8(day >= 0 ? day * 86400 : core().now());
}
std::string DarumaFS600Printer::lastDocument() {
  return stamp14(core().lastDocument());
}
std::string DarumaFS600Printer::serial() {
  return dm::padded(core().identity().serial, Identity::kSerialLength);
}
std::string DarumaFS600Printer::type() {
  return dm::padded("ECF-IF", 10);
}
std::string DarumaFS600Printer::mark() {
  return dm::padded(modelName().substr(0, modelName().find(' ')), 20);
}
std::string DarumaFS600Printer::model() {
  const size_t sp = modelName().find(' ');
  return dm::padded(sp == std::string::npos ? modelName() : modelName().substr(sp + 1), 20);
}
std::string DarumaFS600Printer::columns() {
  return dm::zeros(hardware().columns, 3);
}
std::string DarumaFS600Printer::firmware() {
  return dm::zeros(core().identity().firmware, 6);
}
std::string DarumaFS600Printer::firmwareDate() {
  return stamp14(core().identity().fiscalStart);
}
std::string DarumaFS600Printer::user() {
  return stamp14(core().identity().fiscalStart) + dm::zeros(core().counters().cro, 4);
}
std::string DarumaFS600Printer::userNumber() {
  return dm::zeros(core().identity().userNumber, 2);
}
std::string DarumaFS600Printer::printerNumber() {
  return dm::zeros(core().identity().ecfNumber, 3);
}
std::string DarumaFS600Printer::daylight() {
  return core().daylightSaving() ? "1" : "0";
}
std::string DarumaFS600Printer::issDiscount() {
  return "N";
}
std::string DarumaFS600Printer::extraCopy() {
  return "0";
}
std::string DarumaFS600Printer::taxes() {
  std::string s;
  for (const Tax& t : core().taxes()) s += std::string(1, t.kind) + dm::zeros(t.rate, 4);
  return s;
}
std::string DarumaFS600Printer::paymentNames() {
  std::string s;
  const auto& p = core().payments();
  for (size_t i = 0; i < kSlots; ++i) s += dm::padded(i < p.size() ? p[i].name : "", kSlotWidth);
  return s;
}
std::string DarumaFS600Printer::titleNames() {
  std::string s;
  const auto& t = core().titles();
  for (size_t i = 0; i < kSlots; ++i) s += dm::padded(i < t.size() ? t[i].name : "", kSlotWidth);
  return s;
}
std::string DarumaFS600Printer::reportNames() {
  std::string s;
  const auto& r = core().reports();
  for (size_t i = 0; i < kSlots; ++i)
    s += i < r.size() ? dm::padded(r[i].name, kSlotWidth) : std::string(kSlotWidth, '-');
  return s;
}
std::string DarumaFS600Printer::pafText() {
  return dm::padded(core().identity().appLine1, 42) + dm::padded(core().identity().appLine2, 42);
}
std::string DarumaFS600Printer::lastReduction() {
  const auto& m = core().fiscalMemory();
  return m.empty() ? std::string(8, '0') : date8(m.back().movementDay * 86400);
}
std::string DarumaFS600Printer::decimals() {
  return dm::zeros(kQuantityDecimals, 1) + dm::zeros(kPriceDecimals, 1);
}
std::string DarumaFS600Printer::pendingZ() {
  return core().zPending() ? "1" : "0";
}

// ---------------------------------------------------------------- models

std::vector<VirtualModel> dm::virtualModels() {
  std::vector<VirtualModel> rows;
  for (const caps::ModelRow& r : caps::fiscalModels()) {
    if (r.family != caps::Family::Daruma && r.family != caps::Family::DarumaClassic) continue;
    rows.push_back({r.number, r.name, Hardware{48, false},
                    [](int number, std::shared_ptr<FiscalCore> core) -> std::shared_ptr<VirtualPrinter> {
                      const caps::ModelRow* row = caps::fiscalModel(number);
                      if (!row) return nullptr;
                      std::shared_ptr<DarumaFace> face;
                      if (row->family == caps::Family::Daruma)
                        face = std::make_shared<DarumaFS600Printer>(std::move(core), row->name, Hardware{48, false});
                      else if (row->family == caps::Family::DarumaClassic)
                        face = std::make_shared<DarumaClassicPrinter>(std::move(core), row->name, Hardware{48, false});
                      else
                        return nullptr;
                      if (const char* n = std::getenv("TARVION_DARUMA_NOISE"))
                        face->setNoise(static_cast<size_t>(std::strtoul(n, nullptr, 10)));
                      return face;
                    }});
  }
  return rows;
}

}  // namespace tarvion::emulator
