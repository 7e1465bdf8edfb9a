#include "emulator/fiscal_core.h"

#include <algorithm>
#include <cctype>

#include "core/text.h"
#include "emulator/fiscal_state_file.h"
#include "emulator/paper.h"
#include "platform/platform.h"

namespace tarvion::emulator {

// ---------------------------------------------------------------- names and time

const char* errorName(FiscalError e) {
  switch (e) {
    case FiscalError::Ok:
      return "Ok";
    case FiscalError::ReceiptAlreadyOpen:
      return "ReceiptAlreadyOpen";
    case FiscalError::NoReceiptOpen:
      return "NoReceiptOpen";
    case FiscalError::DocumentOpen:
      return "DocumentOpen";
    case FiscalError::TaxNotProgrammed:
      return "TaxNotProgrammed";
    case FiscalError::TaxTableFull:
      return "TaxTableFull";
    case FiscalError::PaymentNotProgrammed:
      return "PaymentNotProgrammed";
    case FiscalError::PaymentTableFull:
      return "PaymentTableFull";
    case FiscalError::PaymentAlreadyProgrammed:
      return "PaymentAlreadyProgrammed";
    case FiscalError::TitleNotProgrammed:
      return "TitleNotProgrammed";
    case FiscalError::TitleTableFull:
      return "TitleTableFull";
    case FiscalError::TitleAlreadyProgrammed:
      return "TitleAlreadyProgrammed";
    case FiscalError::ReportNotProgrammed:
      return "ReportNotProgrammed";
    case FiscalError::NoItems:
      return "NoItems";
    case FiscalError::AlreadyTotalized:
      return "AlreadyTotalized";
    case FiscalError::NotTotalized:
      return "NotTotalized";
    case FiscalError::ItemNotFound:
      return "ItemNotFound";
    case FiscalError::ItemAlreadyCancelled:
      return "ItemAlreadyCancelled";
    case FiscalError::DiscountTooLarge:
      return "DiscountTooLarge";
    case FiscalError::ZeroValue:
      return "ZeroValue";
    case FiscalError::PaymentsNotFinished:
      return "PaymentsNotFinished";
    case FiscalError::PaymentsFinished:
      return "PaymentsFinished";
    case FiscalError::CancelNotAllowed:
      return "CancelNotAllowed";
    case FiscalError::AlreadyCancelled:
      return "AlreadyCancelled";
    case FiscalError::LinkedNotAllowed:
      return "LinkedNotAllowed";
    case FiscalError::NoLinkedOpen:
      return "NoLinkedOpen";
    case FiscalError::NoReportOpen:
      return "NoReportOpen";
    case FiscalError::NoNonFiscalOpen:
      return "NoNonFiscalOpen";
    case FiscalError::ZPending:
      return "ZPending";
    case FiscalError::ZAlreadyDone:
      return "ZAlreadyDone";
    case FiscalError::DaylightSavingNotAllowed:
      return "DaylightSavingNotAllowed";
    case FiscalError::AuthenticationNotAllowed:
      return "AuthenticationNotAllowed";
    case FiscalError::PaperOut:
      return "PaperOut";
    case FiscalError::InvalidDate:
      return "InvalidDate";
    case FiscalError::DateBeforeLastDocument:
      return "DateBeforeLastDocument";
    case FiscalError::InvalidRange:
      return "InvalidRange";
    case FiscalError::FiscalMemoryFull:
      return "FiscalMemoryFull";
    case FiscalError::InvalidParameter:
      return "InvalidParameter";
    case FiscalError::TooManyItems:
      return "TooManyItems";
    case FiscalError::DayHasMovement:
      return "DayHasMovement";
    case FiscalError::ItemAdjustmentDone:
      return "ItemAdjustmentDone";
    case FiscalError::NoItemAdjustment:
      return "NoItemAdjustment";
    case FiscalError::SecondCopyNotAllowed:
      return "SecondCopyNotAllowed";
    case FiscalError::MemoryWrite:
      return "MemoryWrite";
  }
  return "?";
}

namespace {

int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

int floorDiv(int64_t a, int64_t b, int64_t& rem) {
  int64_t q = a / b;
  rem = a % b;
  if (rem < 0) {
    rem += b;
    --q;
  }
  return static_cast<int>(q);
}

int next(int v, int max) {
  return v >= max ? 1 : v + 1;
}

std::string upperTrim(const std::string& s) {
  return text::upper(text::trim(s));
}

}  // namespace

bool validStamp(const Stamp& s) {
  static const int k[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (s.year < 1900 || s.year > 9999 || s.month < 1 || s.month > 12) return false;
  const bool leap = (s.year % 4 == 0 && s.year % 100 != 0) || s.year % 400 == 0;
  const int md = s.month == 2 && leap ? 29 : k[s.month - 1];
  return s.day >= 1 && s.day <= md && s.hour >= 0 && s.hour < 24 && s.minute >= 0 && s.minute < 60 && s.second >= 0 &&
         s.second < 60;
}

int64_t toSeconds(const Stamp& s) {
  return daysFromCivil(s.year, s.month, s.day) * 86400 + s.hour * 3600 + s.minute * 60 + s.second;
}

Stamp fromSeconds(int64_t seconds) {
  int64_t rem = 0;
  int64_t days = floorDiv(seconds, 86400, rem);
  Stamp s;
  civilFromDays(days, s.year, s.month, s.day);
  s.hour = static_cast<int>(rem / 3600);
  s.minute = static_cast<int>(rem / 60 % 60);
  s.second = static_cast<int>(rem % 60);
  return s;
}

int64_t dayNumber(int64_t seconds) {
  int64_t rem = 0;
  return floorDiv(seconds, 86400, rem);
}

int64_t hostLocalSeconds() {
  platform::LocalTime t = platform::localTime();
  Stamp s{t.year, t.month, t.day, t.hour, t.minute, t.second};
  return toSeconds(s);
}

bool isSpecialTax(const std::string& l) {
  return l == "II" || l == "FF" || l == "NN" || l == "SI" || l == "SF" || l == "SN";
}

Cents Item::gross() const {
  // Thousandths times thousandths is millionths of the currency; a cent is
  // 10000 of them. Fractions of a cent are truncated, as the printers do by default.
  return quantity * unitPrice / 10000;
}

Cents Document::itemsTotal() const {
  Cents t = 0;
  for (auto& i : items)
    if (!i.cancelled) t += i.net();
  return t;
}

Cents Document::paid() const {
  Cents t = 0;
  for (auto& p : payments) t += p.amount;
  return t;
}

int Document::soldItems() const {
  int n = 0;
  for (auto& i : items)
    if (!i.cancelled) ++n;
  return n;
}

// ---------------------------------------------------------------- life

FiscalCore::FiscalCore() : FiscalCore(Options{}) {}

FiscalCore::FiscalCore(Options options) : opt_(std::move(options)) {
  if (!opt_.hostClock) opt_.hostClock = hostLocalSeconds;
  fresh();
  saved_ = st_;
  if (opt_.statePath.empty()) return;
  file_ = std::make_unique<StateFile>(opt_.statePath);
  // The lock comes first: the file is read only by the printer that owns it.
  if (!file_->lock(&loadError_)) return;
  load();
}

FiscalCore::~FiscalCore() = default;

void FiscalCore::fresh() {
  st_.id = Identity{};
  st_.id.fiscalStart = opt_.hostClock() / 86400 * 86400;
  st_.taxes = {{'T', 1800}, {'T', 1200}, {'T', 700}, {'S', 500}};
  st_.payments = {{"Dinheiro"}, {"Cheque"}, {"Cartao"}};
  st_.titles = {{"SANGRIA"}, {"SUPRIMENTO"}};
  st_.reports = {{"GERAL"}};
  st_.doc = Document{};
  st_.last = ClosedReceipt{};
  st_.linked = LinkedCopy{};
  st_.counters = Counters{};
  st_.day = DayTotals{};
  st_.grandTotal = 0;
  st_.memory.clear();
  st_.clockOffset = 0;
  st_.dst = false;
  st_.paperOut = st_.nearEnd = false;
  st_.lastZDay = -1;
  st_.lastDocTime = 0;
  st_.authentications = 0;
}

FiscalError FiscalCore::factoryReset() {
  // A printer that does not own its file (another one holds it) never writes it.
  if (file_ && !file_->locked()) return FiscalError::MemoryWrite;
  fresh();
  loadError_.clear();
  return commit();
}

FiscalError FiscalCore::commit() {
  if (batch_ > 0 || !file_) return FiscalError::Ok;
  // A state file that could not be read back is kept as it is for inspection;
  // what this printer does meanwhile could not be kept either.
  std::string why;
  if (loadError_.empty() && file_->write(st_, &why)) {
    saved_ = st_;
    return FiscalError::Ok;
  }
  st_ = saved_;
  return FiscalError::MemoryWrite;
}

// ---------------------------------------------------------------- state file

bool FiscalCore::save(std::string* error) const {
  if (!file_) return true;
  if (!file_->locked()) {
    if (error) *error = loadError_;
    return false;
  }
  return file_->write(st_, error);
}

bool FiscalCore::load(std::string* error) {
  if (!file_) return true;
  if (!file_->locked() && !file_->lock(&loadError_)) {
    if (error) *error = loadError_;
    return false;
  }
  std::string why;
  FiscalState loaded;
  switch (file_->read(loaded, &why)) {
    case StateFile::Read::Loaded:
      st_ = std::move(loaded);
      saved_ = st_;
      loadError_.clear();
      return true;
    case StateFile::Read::Missing:
      // A new printer (its state is the fresh one), or a file removed under a
      // running one, which writes back what it holds.
      if (!file_->write(st_, &why)) break;
      saved_ = st_;
      loadError_.clear();
      return true;
    case StateFile::Read::Refused:
      break;
  }
  loadError_ = why.empty() ? opt_.statePath + ": unreadable state file" : why;
  if (error) *error = loadError_;
  return false;
}

std::string FiscalCore::serialize() const {
  return stateToJson(st_);
}

bool FiscalCore::deserialize(const std::string& content, std::string* error) {
  FiscalState loaded;
  if (!stateFromJson(content, loaded, error)) return false;
  st_ = std::move(loaded);
  return true;
}

// ---------------------------------------------------------------- clock and flags

int64_t FiscalCore::now() const {
  return opt_.hostClock() + st_.clockOffset;
}

FiscalError FiscalCore::setClock(int64_t printerSeconds) {
  st_.clockOffset = printerSeconds - opt_.hostClock();
  return commit();
}

FiscalError FiscalCore::setDaylightSaving(bool on) {
  if (on == st_.dst) return FiscalError::Ok;
  if (st_.doc.kind != DocKind::None) return FiscalError::DocumentOpen;
  if (st_.day.movementDay >= 0) return FiscalError::DaylightSavingNotAllowed;
  st_.dst = on;
  st_.clockOffset += on ? 3600 : -3600;
  return commit();
}

FiscalError FiscalCore::setPaperOut(bool v) {
  st_.paperOut = v;
  return commit();
}

FiscalError FiscalCore::setPaperNearEnd(bool v) {
  st_.nearEnd = v;
  return commit();
}

FiscalError FiscalCore::setIdentity(const Identity& id) {
  st_.id = id;
  return commit();
}

bool FiscalCore::zPending() const {
  return st_.day.movementDay >= 0 && dayNumber(now()) > st_.day.movementDay;
}

bool FiscalCore::dayClosed() const {
  return st_.day.movementDay < 0 && st_.lastZDay >= 0 && dayNumber(now()) == st_.lastZDay;
}

// ---------------------------------------------------------------- tables

FiscalError FiscalCore::addTax(char kind, int rate, int* position) {
  if (kind != 'T' && kind != 'S') return FiscalError::InvalidParameter;
  if (rate <= 0 || rate > 9999) return FiscalError::InvalidParameter;
  if (static_cast<int>(st_.taxes.size()) >= kMaxTaxes) return FiscalError::TaxTableFull;
  if (st_.doc.kind == DocKind::Fiscal) return FiscalError::ReceiptAlreadyOpen;
  if (st_.doc.kind != DocKind::None) return FiscalError::DocumentOpen;
  // A new rate changes the day's tax totals layout: only before the first sale of the day.
  if (st_.day.movementDay >= 0) return FiscalError::DayHasMovement;
  st_.taxes.push_back({kind, rate});
  if (position) *position = static_cast<int>(st_.taxes.size()) - 1;
  return commit();
}

namespace {
// Position of a name in a table of named entries, ignoring case and blanks; -1 if absent.
template <class List>
int indexByName(const List& list, const std::string& name) {
  const std::string key = upperTrim(name);
  for (size_t i = 0; i < list.size(); ++i)
    if (upperTrim(list[i].name) == key) return static_cast<int>(i);
  return -1;
}
}  // namespace

int FiscalCore::paymentIndex(const std::string& name) const {
  return indexByName(st_.payments, name);
}
int FiscalCore::titleIndex(const std::string& name) const {
  return indexByName(st_.titles, name);
}

// Programs a new payment type or non-fiscal title: only outside any document.
template <class List>
FiscalError FiscalCore::addNamed(List& list, const std::string& name, int max, FiscalError duplicate, FiscalError full,
                                 int* index) {
  const std::string n = text::trim(name);
  if (n.empty()) return FiscalError::InvalidParameter;
  if (indexByName(list, n) >= 0) return duplicate;
  if (static_cast<int>(list.size()) >= max) return full;
  if (st_.doc.kind == DocKind::Fiscal) return FiscalError::ReceiptAlreadyOpen;
  if (st_.doc.kind != DocKind::None) return FiscalError::DocumentOpen;
  list.push_back({n});
  if (index) *index = static_cast<int>(list.size()) - 1;
  return commit();
}

FiscalError FiscalCore::addPayment(const std::string& name, int* index) {
  return addNamed(st_.payments, name, kMaxPayments, FiscalError::PaymentAlreadyProgrammed,
                  FiscalError::PaymentTableFull, index);
}

FiscalError FiscalCore::addTitle(const std::string& name, int* index) {
  return addNamed(st_.titles, name, kMaxTitles, FiscalError::TitleAlreadyProgrammed, FiscalError::TitleTableFull,
                  index);
}

FiscalError FiscalCore::addReport(const std::string& name, int* index) {
  const std::string n = text::trim(name);
  if (n.empty()) return FiscalError::InvalidParameter;
  for (auto& r : st_.reports)
    if (upperTrim(r.name) == upperTrim(n)) return FiscalError::TitleAlreadyProgrammed;
  if (static_cast<int>(st_.reports.size()) >= kMaxReports) return FiscalError::TitleTableFull;
  st_.reports.push_back({n});
  if (index) *index = static_cast<int>(st_.reports.size()) - 1;
  return commit();
}

// ---------------------------------------------------------------- documents

FiscalError FiscalCore::printable() const {
  return st_.paperOut ? FiscalError::PaperOut : FiscalError::Ok;
}

FiscalError FiscalCore::canStartDocument(bool movement) const {
  if (st_.doc.kind == DocKind::Fiscal) return FiscalError::ReceiptAlreadyOpen;
  if (st_.doc.kind != DocKind::None) return FiscalError::DocumentOpen;
  if (st_.paperOut) return FiscalError::PaperOut;
  if (dayClosed()) return FiscalError::ZAlreadyDone;
  if (movement && zPending()) return FiscalError::ZPending;
  return FiscalError::Ok;
}

void FiscalCore::beginDocument(DocKind kind) {
  st_.counters.coo = next(st_.counters.coo, 999999);
  st_.doc = Document{};
  st_.doc.kind = kind;
  st_.doc.coo = st_.counters.coo;
  st_.doc.opened = now();
  st_.lastDocTime = st_.doc.opened;
  st_.last.lastDocument = false;
  st_.linked.allowed = false;
  st_.authentications = 0;
}

void FiscalCore::touchMovement() {
  if (st_.day.movementDay >= 0) return;
  st_.day.movementDay = dayNumber(now());
  st_.day.initialGrandTotal = st_.grandTotal;
  st_.day.initialCoo = st_.counters.coo;
}

void FiscalCore::endDocument() {
  st_.doc = Document{};
  st_.lastDocTime = now();
}

void FiscalCore::finishDocument() {
  if (paper_) {
    paper_->rule();
    paper_->footer(*this);
  }
  endDocument();
}

FiscalError FiscalCore::printingIn(DocKind kind, FiscalError notOpen) const {
  if (st_.doc.kind != kind) return notOpen;
  if (st_.paperOut) return FiscalError::PaperOut;
  return FiscalError::Ok;
}

FiscalError FiscalCore::openReceipt(const std::string& customer, const std::string& name, const std::string& address) {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  beginDocument(DocKind::Fiscal);
  st_.counters.ccf = next(st_.counters.ccf, 999999);
  st_.doc.ccf = st_.counters.ccf;
  st_.doc.state = ReceiptState::Open;
  st_.doc.customer = text::trim(customer);
  st_.doc.customerName = text::trim(name);
  st_.doc.customerAddress = text::trim(address);
  st_.counters.lastItem = 0;
  touchMovement();
  if (paper_) paper_->header(*this, "CUPOM FISCAL");
  return commit();
}

FiscalError FiscalCore::receiptFlow() const {
  if (st_.doc.kind == DocKind::Fiscal || st_.doc.kind == DocKind::NonFiscal) return FiscalError::Ok;
  if (st_.doc.kind != DocKind::None) return FiscalError::DocumentOpen;
  return FiscalError::NoReceiptOpen;
}

FiscalError FiscalCore::registerItem(const ItemInput& in, int* number) {
  if (st_.doc.kind != DocKind::Fiscal)
    return st_.doc.kind == DocKind::None ? FiscalError::NoReceiptOpen : FiscalError::DocumentOpen;
  if (st_.doc.state == ReceiptState::Totalled || st_.doc.state == ReceiptState::Paying)
    return FiscalError::AlreadyTotalized;
  if (st_.paperOut) return FiscalError::PaperOut;
  if (static_cast<int>(st_.doc.items.size()) >= kMaxItems) return FiscalError::TooManyItems;
  if (!isSpecialTax(in.tax)) {
    if (in.tax.size() != 2 || !isdigit(static_cast<unsigned char>(in.tax[0])) ||
        !isdigit(static_cast<unsigned char>(in.tax[1])))
      return FiscalError::InvalidParameter;
    const int pos = (in.tax[0] - '0') * 10 + (in.tax[1] - '0');
    if (pos < 1 || pos > static_cast<int>(st_.taxes.size())) return FiscalError::TaxNotProgrammed;
  }
  if (in.quantity <= 0 || in.unitPrice < 0 || in.discount < 0 || in.increase < 0) return FiscalError::InvalidParameter;
  Item it;
  it.number = static_cast<int>(st_.doc.items.size()) + 1;
  it.code = text::trim(in.code);
  it.description = text::trimRight(in.description);
  it.unit = text::trim(in.unit);
  it.quantity = in.quantity;
  it.unitPrice = in.unitPrice;
  it.tax = in.tax;
  it.discount = in.discount;
  it.increase = in.increase;
  if (it.gross() <= 0) return FiscalError::ZeroValue;
  if (it.discount >= it.gross()) return FiscalError::DiscountTooLarge;
  st_.doc.items.push_back(it);
  st_.doc.state = ReceiptState::Items;
  st_.counters.lastItem = it.number;
  st_.day.gross += it.gross();
  st_.day.discounts += it.discount;
  if (issTax(it.tax)) st_.day.issDiscounts += it.discount;
  st_.day.increases += it.increase;
  st_.day.perTax[it.tax] += it.net();
  st_.grandTotal += it.gross() + it.increase;
  if (number) *number = it.number;
  if (paper_) paper_->item(*this, it);
  return commit();
}

// An item of the open receipt that may still change: before the subtotal,
// with paper, and not cancelled.
FiscalError FiscalCore::liveItem(int number, Item*& out) {
  if (st_.doc.kind != DocKind::Fiscal)
    return st_.doc.kind == DocKind::None ? FiscalError::NoReceiptOpen : FiscalError::DocumentOpen;
  if (st_.doc.state == ReceiptState::Totalled || st_.doc.state == ReceiptState::Paying)
    return FiscalError::AlreadyTotalized;
  if (st_.paperOut) return FiscalError::PaperOut;
  if (number < 1 || number > static_cast<int>(st_.doc.items.size())) return FiscalError::ItemNotFound;
  Item& it = st_.doc.items[static_cast<size_t>(number - 1)];
  if (it.cancelled) return FiscalError::ItemAlreadyCancelled;
  out = &it;
  return FiscalError::Ok;
}

FiscalError FiscalCore::cancelItem(int number) {
  Item* item = nullptr;
  if (FiscalError e = liveItem(number, item); e != FiscalError::Ok) return e;
  Item& it = *item;
  it.cancelled = true;
  st_.day.cancellations += it.net();
  st_.day.perTax[it.tax] -= it.net();
  if (paper_) paper_->itemCancelled(*this, it);
  return commit();
}

FiscalError FiscalCore::cancelLastItem() {
  if (st_.doc.kind == DocKind::Fiscal && !st_.doc.items.empty())
    return cancelItem(static_cast<int>(st_.doc.items.size()));
  return cancelItem(0);
}

bool FiscalCore::issTax(const std::string& label) const {
  if (isSpecialTax(label)) return label[0] == 'S';
  if (label.size() != 2 || !isdigit(static_cast<unsigned char>(label[0])) ||
      !isdigit(static_cast<unsigned char>(label[1])))
    return false;
  const int pos = (label[0] - '0') * 10 + (label[1] - '0');
  return pos >= 1 && pos <= static_cast<int>(st_.taxes.size()) && st_.taxes[static_cast<size_t>(pos - 1)].kind == 'S';
}

FiscalError FiscalCore::adjustItem(int number, bool increase, Cents value) {
  Item* item = nullptr;
  if (FiscalError e = liveItem(number, item); e != FiscalError::Ok) return e;
  Item& it = *item;
  if (value <= 0) return FiscalError::ZeroValue;
  if (increase ? it.increase > 0 : it.discount > 0) return FiscalError::ItemAdjustmentDone;
  // A discount must leave something to pay; an increase may at most double the item.
  if (increase ? value > it.gross() : value >= it.gross() + it.increase) return FiscalError::DiscountTooLarge;
  if (increase) {
    it.increase = value;
    st_.day.increases += value;
    st_.grandTotal += value;
    st_.day.perTax[it.tax] += value;
  } else {
    it.discount = value;
    st_.day.discounts += value;
    if (issTax(it.tax)) st_.day.issDiscounts += value;
    st_.day.perTax[it.tax] -= value;
  }
  if (paper_) paper_->itemAdjusted(*this, it, increase, false);
  return commit();
}

FiscalError FiscalCore::cancelItemAdjustment(int number, bool increase) {
  Item* item = nullptr;
  if (FiscalError e = liveItem(number, item); e != FiscalError::Ok) return e;
  Item& it = *item;
  Cents& v = increase ? it.increase : it.discount;
  if (v <= 0) return FiscalError::NoItemAdjustment;
  if (paper_) paper_->itemAdjusted(*this, it, increase, true);
  if (increase) {
    // The grand total never goes back: the increase given stays there and its
    // cancellation is recorded with the day's cancellations.
    st_.day.cancellations += v;
    st_.day.perTax[it.tax] -= v;
  } else {
    st_.day.discounts -= v;
    if (issTax(it.tax)) st_.day.issDiscounts -= v;
    st_.day.perTax[it.tax] += v;
  }
  v = 0;
  return commit();
}

FiscalError FiscalCore::totalize(Cents discount, Cents increase) {
  if (auto e = receiptFlow(); e != FiscalError::Ok) return e;
  if (st_.doc.state == ReceiptState::Totalled || st_.doc.state == ReceiptState::Paying)
    return FiscalError::AlreadyTotalized;
  if (st_.doc.soldItems() == 0) return FiscalError::NoItems;
  if (st_.paperOut) return FiscalError::PaperOut;
  if (discount < 0 || increase < 0) return FiscalError::InvalidParameter;
  if (discount >= st_.doc.itemsTotal()) return FiscalError::DiscountTooLarge;
  st_.doc.subtotalDiscount = discount;
  st_.doc.subtotalIncrease = increase;
  st_.doc.state = ReceiptState::Totalled;
  if (st_.doc.kind == DocKind::Fiscal) {
    st_.day.discounts += discount;
    st_.day.increases += increase;
    st_.grandTotal += increase;
  }
  if (paper_) paper_->subtotal(*this, st_.doc);
  return commit();
}

FiscalError FiscalCore::pay(int type, Cents amount, const std::string& textLine) {
  if (auto e = receiptFlow(); e != FiscalError::Ok) return e;
  if (st_.doc.state != ReceiptState::Totalled && st_.doc.state != ReceiptState::Paying)
    return FiscalError::NotTotalized;
  if (type < 0 || type >= static_cast<int>(st_.payments.size())) return FiscalError::PaymentNotProgrammed;
  if (amount <= 0) return FiscalError::ZeroValue;
  if (st_.doc.paid() >= st_.doc.total()) return FiscalError::PaymentsFinished;
  if (st_.paperOut) return FiscalError::PaperOut;
  st_.doc.payments.push_back({type, amount, text::trimRight(textLine)});
  st_.doc.state = ReceiptState::Paying;
  if (paper_) paper_->payment(*this, st_.doc.payments.back());
  return commit();
}

FiscalError FiscalCore::closeReceipt(const std::string& message) {
  if (auto e = receiptFlow(); e != FiscalError::Ok) return e;
  if (st_.doc.state != ReceiptState::Totalled && st_.doc.state != ReceiptState::Paying)
    return FiscalError::NotTotalized;
  if (st_.doc.paid() < st_.doc.total()) return FiscalError::PaymentsNotFinished;
  if (st_.paperOut) return FiscalError::PaperOut;
  const Cents change = st_.doc.paid() - st_.doc.total();
  // The change goes back out of the payment that overpaid: the last one.
  std::vector<Payment> applied = st_.doc.payments;
  if (change > 0 && !applied.empty()) applied.back().amount -= change;
  for (auto& p : applied) {
    st_.payments[static_cast<size_t>(p.type)].dayAmount += p.amount;
    ++st_.payments[static_cast<size_t>(p.type)].dayCount;
  }
  if (paper_) paper_->receiptEnd(*this, st_.doc, change, message);
  if (st_.doc.kind == DocKind::Fiscal) {
    st_.last = ClosedReceipt{};
    st_.last.coo = st_.doc.coo;
    st_.last.ccf = st_.doc.ccf;
    st_.last.closed = now();
    st_.last.total = st_.doc.total();
    st_.last.change = change;
    st_.last.discounts = st_.doc.subtotalDiscount;
    st_.last.increases = st_.doc.subtotalIncrease;
    st_.last.payments = applied;
    st_.last.items = st_.doc.items;
    st_.last.lastDocument = true;
  } else {
    for (auto& it : st_.doc.items) {
      if (it.cancelled || it.title < 0 || it.title >= static_cast<int>(st_.titles.size())) continue;
      st_.titles[static_cast<size_t>(it.title)].dayAmount += it.gross();
      ++st_.titles[static_cast<size_t>(it.title)].dayCount;
    }
    st_.day.nonFiscal += st_.doc.total();
  }
  endDocument();
  st_.authentications = 4;
  return commit();
}

void FiscalCore::cancelOpenFiscal() {
  const Cents total = st_.doc.total();
  for (auto& it : st_.doc.items)
    if (!it.cancelled) st_.day.perTax[it.tax] -= it.net();
  // What the receipt still adds to the day's net sale goes to the cancellations;
  // its discounts and increases stay on record as they happened.
  st_.day.cancellations += total;
  st_.counters.cfc = next(st_.counters.cfc, 9999);
  const int coo = st_.doc.coo;
  if (paper_) paper_->receiptCancelled(*this, coo, total);
  endDocument();
}

FiscalError FiscalCore::cancelReceipt() {
  if (st_.paperOut) return FiscalError::PaperOut;
  if (st_.doc.kind == DocKind::Fiscal) {
    cancelOpenFiscal();
    return commit();
  }
  if (st_.doc.kind == DocKind::NonFiscal) {
    if (paper_) paper_->receiptCancelled(*this, st_.doc.coo, st_.doc.total());
    endDocument();
    return commit();
  }
  if (st_.doc.kind != DocKind::None) return FiscalError::DocumentOpen;
  if (st_.last.coo == 0) return FiscalError::CancelNotAllowed;
  if (st_.last.cancelled) return FiscalError::AlreadyCancelled;
  if (!st_.last.lastDocument) return FiscalError::CancelNotAllowed;
  // The last receipt is cancelled by a document of its own.
  beginDocument(DocKind::None);
  st_.counters.gnf = next(st_.counters.gnf, 999999);
  for (auto& it : st_.last.items)
    if (!it.cancelled) st_.day.perTax[it.tax] -= it.net();
  st_.day.cancellations += st_.last.total;
  for (auto& p : st_.last.payments) {
    st_.payments[static_cast<size_t>(p.type)].dayAmount -= p.amount;
    --st_.payments[static_cast<size_t>(p.type)].dayCount;
  }
  st_.counters.cfc = next(st_.counters.cfc, 9999);
  st_.last.cancelled = true;
  if (paper_) paper_->receiptCancelled(*this, st_.last.coo, st_.last.total);
  endDocument();
  return commit();
}

FiscalError FiscalCore::openLinked(int type, Cents value, int coo) {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  if (type < 0 || type >= static_cast<int>(st_.payments.size())) return FiscalError::PaymentNotProgrammed;
  if (st_.last.coo == 0 || st_.last.cancelled) return FiscalError::LinkedNotAllowed;
  if (coo != 0 && coo != st_.last.coo) return FiscalError::LinkedNotAllowed;
  Cents onType = 0;
  for (auto& p : st_.last.payments)
    if (p.type == type) onType += p.amount;
  if (onType <= 0 || value > onType) return FiscalError::LinkedNotAllowed;
  if (std::find(st_.last.linkedIssued.begin(), st_.last.linkedIssued.end(), type) != st_.last.linkedIssued.end())
    return FiscalError::LinkedNotAllowed;
  const int receiptCoo = st_.last.coo;
  beginDocument(DocKind::Linked);
  st_.counters.gnf = next(st_.counters.gnf, 999999);
  st_.counters.cdc = next(st_.counters.cdc, 9999);
  st_.doc.linkedPayment = type;
  st_.doc.linkedValue = value ? value : onType;
  st_.last.linkedIssued.push_back(type);
  st_.linked = LinkedCopy{st_.doc.coo, receiptCoo, type, st_.doc.linkedValue, {}, false};
  if (paper_) {
    paper_->header(*this, text::cp("COMPROVANTE CRÉDITO OU DÉBITO"));
    paper_->linkedHeader(*this, st_.doc, receiptCoo);
  }
  return commit();
}

FiscalError FiscalCore::linkedText(const std::string& t) {
  if (auto e = printingIn(DocKind::Linked, FiscalError::NoLinkedOpen); e != FiscalError::Ok) return e;
  if (paper_) paper_->text(t);
  st_.linked.text += t;
  if (!t.empty() && t.back() != '\n' && t.back() != '\r') st_.linked.text += '\n';
  return commit();
}

FiscalError FiscalCore::closeLinked() {
  if (auto e = printingIn(DocKind::Linked, FiscalError::NoLinkedOpen); e != FiscalError::Ok) return e;
  finishDocument();
  st_.linked.allowed = st_.linked.coo != 0;
  return commit();
}

FiscalError FiscalCore::linkedSecondCopy() {
  if (st_.doc.kind == DocKind::Fiscal) return FiscalError::ReceiptAlreadyOpen;
  if (st_.doc.kind != DocKind::None) return FiscalError::DocumentOpen;
  if (st_.paperOut) return FiscalError::PaperOut;
  if (!st_.linked.allowed) return FiscalError::SecondCopyNotAllowed;
  const LinkedCopy copy = st_.linked;
  beginDocument(DocKind::Linked);
  st_.counters.gnf = next(st_.counters.gnf, 999999);
  st_.doc.linkedPayment = copy.payment;
  st_.doc.linkedValue = copy.value;
  if (paper_) {
    paper_->header(*this, text::cp("COMPROVANTE CRÉDITO OU DÉBITO"));
    paper_->centered("SEGUNDA VIA");
    paper_->linkedHeader(*this, st_.doc, copy.receiptCoo);
    paper_->text(copy.text);
  }
  finishDocument();
  st_.linked = copy;
  st_.linked.allowed = false;
  return commit();
}

FiscalError FiscalCore::openReport(int report) {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  if (report < 0 || report >= static_cast<int>(st_.reports.size())) return FiscalError::ReportNotProgrammed;
  beginDocument(DocKind::Report);
  st_.counters.gnf = next(st_.counters.gnf, 999999);
  st_.counters.grg = next(st_.counters.grg, 999999);
  st_.doc.report = report;
  ++st_.reports[static_cast<size_t>(report)].dayCount;
  touchMovement();
  if (paper_) {
    paper_->header(*this, text::cp("RELATÓRIO GERENCIAL"));
    paper_->line(st_.reports[static_cast<size_t>(report)].name);
  }
  return commit();
}

FiscalError FiscalCore::reportText(const std::string& t) {
  if (auto e = printingIn(DocKind::Report, FiscalError::NoReportOpen); e != FiscalError::Ok) return e;
  if (paper_) paper_->text(t);
  return FiscalError::Ok;
}

FiscalError FiscalCore::closeReport() {
  if (auto e = printingIn(DocKind::Report, FiscalError::NoReportOpen); e != FiscalError::Ok) return e;
  finishDocument();
  return commit();
}

FiscalError FiscalCore::openNonFiscal() {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  beginDocument(DocKind::NonFiscal);
  st_.counters.gnf = next(st_.counters.gnf, 999999);
  st_.doc.state = ReceiptState::Open;
  touchMovement();
  if (paper_) paper_->header(*this, text::cp("COMPROVANTE NÃO-FISCAL"));
  return commit();
}

FiscalError FiscalCore::nonFiscalItem(int title, Cents value) {
  if (st_.doc.kind != DocKind::NonFiscal)
    return st_.doc.kind == DocKind::Fiscal ? FiscalError::ReceiptAlreadyOpen : FiscalError::NoNonFiscalOpen;
  if (st_.doc.state == ReceiptState::Totalled || st_.doc.state == ReceiptState::Paying)
    return FiscalError::AlreadyTotalized;
  if (title < 0 || title >= static_cast<int>(st_.titles.size())) return FiscalError::TitleNotProgrammed;
  if (value <= 0) return FiscalError::ZeroValue;
  if (st_.paperOut) return FiscalError::PaperOut;
  Item it;
  it.number = static_cast<int>(st_.doc.items.size()) + 1;
  it.title = title;
  it.code = text::format("%02d", title + 1);
  it.description = st_.titles[static_cast<size_t>(title)].name;
  it.unit = "";
  it.quantity = 1000;
  it.unitPrice = value * 10;
  st_.doc.items.push_back(it);
  st_.doc.state = ReceiptState::Items;
  if (paper_) paper_->nonFiscalItem(*this, it);
  return commit();
}

FiscalError FiscalCore::nonFiscalReceipt(int title, Cents value, int type) {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  if (title < 0 || title >= static_cast<int>(st_.titles.size())) return FiscalError::TitleNotProgrammed;
  if (type < 0 || type >= static_cast<int>(st_.payments.size())) return FiscalError::PaymentNotProgrammed;
  if (value <= 0) return FiscalError::ZeroValue;
  ++batch_;
  FiscalError e = openNonFiscal();
  if (e == FiscalError::Ok) e = nonFiscalItem(title, value);
  if (e == FiscalError::Ok) e = totalize(0, 0);
  if (e == FiscalError::Ok) e = pay(type, value);
  if (e == FiscalError::Ok) e = closeReceipt("");
  --batch_;
  // Written once, whole; a failed write takes the receipt back as well.
  const FiscalError w = commit();
  return w != FiscalError::Ok ? w : e;
}

std::vector<std::string> FiscalCore::xReportLines() const {
  std::vector<std::string> l;
  auto lr = [&](const std::string& a, const std::string& b) { l.push_back(a + ": " + b); };
  lr("DATA", dateTimeText(now()));
  lr("COO", text::format("%06d", st_.counters.coo));
  lr("CRZ", text::format("%04d", st_.counters.crz));
  lr("CRO", text::format("%04d", st_.counters.cro));
  lr("GNF", text::format("%06d", st_.counters.gnf));
  lr("CCF", text::format("%06d", st_.counters.ccf));
  lr("GT", money(st_.grandTotal));
  lr("VENDA BRUTA", money(st_.day.gross));
  lr("CANCELAMENTOS", money(st_.day.cancellations));
  lr("DESCONTOS", money(st_.day.discounts));
  lr(text::cp("ACRÉSCIMOS"), money(st_.day.increases));
  lr(text::cp("NÃO FISCAL"), money(st_.day.nonFiscal));
  for (size_t i = 0; i < st_.taxes.size(); ++i) {
    const std::string key = text::format("%02d", static_cast<int>(i) + 1);
    auto f = st_.day.perTax.find(key);
    lr(key + text::format(" %c%02d,%02d%%", st_.taxes[i].kind, st_.taxes[i].rate / 100, st_.taxes[i].rate % 100),
       money(f == st_.day.perTax.end() ? 0 : f->second));
  }
  for (const char* k : {"II", "FF", "NN", "SI", "SF", "SN"}) {
    auto f = st_.day.perTax.find(k);
    if (f != st_.day.perTax.end() && f->second) lr(k, money(f->second));
  }
  for (auto& p : st_.payments) lr(p.name, money(p.dayAmount));
  for (auto& t : st_.titles) lr(t.name, money(t.dayAmount));
  return l;
}

FiscalError FiscalCore::xReport() {
  if (auto e = canStartDocument(false); e != FiscalError::Ok) return e;
  beginDocument(DocKind::None);
  st_.counters.gnf = next(st_.counters.gnf, 999999);
  if (paper_) paper_->report(*this, "LEITURA X", xReportLines());
  endDocument();
  return commit();
}

FiscalError FiscalCore::zReduction(int64_t emitted) {
  if (st_.paperOut) return FiscalError::PaperOut;
  if (dayClosed()) return FiscalError::ZAlreadyDone;
  if (static_cast<int>(st_.memory.size()) >= kMaxReductions || st_.counters.crz >= kMaxReductions)
    return FiscalError::FiscalMemoryFull;
  // The host's time may nudge the clock by a few minutes, never more.
  if (emitted > 0) {
    const int64_t d = emitted - now();
    if (d != 0 && d >= -300 && d <= 300) st_.clockOffset += d;
  }
  ++batch_;
  // Whatever is open is closed first: the reduction ends the fiscal day.
  if (st_.doc.kind == DocKind::Fiscal)
    cancelOpenFiscal();
  else if (st_.doc.kind != DocKind::None)
    endDocument();
  beginDocument(DocKind::None);
  ZRecord z;
  st_.counters.crz += 1;
  z.crz = st_.counters.crz;
  z.coo = st_.counters.coo;
  z.cro = st_.counters.cro;
  z.movementDay = st_.day.movementDay >= 0 ? st_.day.movementDay : dayNumber(now());
  z.emitted = now();
  z.grandTotal = st_.grandTotal;
  z.gross = st_.day.gross;
  z.cancellations = st_.day.cancellations;
  z.discounts = st_.day.discounts;
  z.increases = st_.day.increases;
  z.nonFiscal = st_.day.nonFiscal;
  z.perTax = st_.day.perTax;
  if (paper_) {
    std::vector<std::string> lines = xReportLines();
    lines.insert(lines.begin(), text::format("CRZ: %04d  MOVIMENTO DE ", z.crz) + dateText(z.movementDay * 86400));
    paper_->report(*this, text::cp("REDUÇÃO Z"), lines);
  }
  st_.memory.push_back(z);
  st_.lastZDay = z.movementDay;
  st_.day = DayTotals{};
  st_.day.initialGrandTotal = st_.grandTotal;
  st_.day.initialCoo = st_.counters.coo;
  for (auto& p : st_.payments) p.dayAmount = 0, p.dayCount = 0;
  for (auto& t : st_.titles) t.dayAmount = 0, t.dayCount = 0;
  for (auto& r : st_.reports) r.dayCount = 0;
  st_.last.lastDocument = false;
  endDocument();
  --batch_;
  return commit();
}

std::vector<std::string> FiscalCore::memoryLines(const std::vector<ZRecord>& records, bool full) const {
  std::vector<std::string> l;
  l.push_back(text::cp("LEITURA DA MEMÓRIA FISCAL"));
  l.push_back("FAB: " + st_.id.serial);
  for (auto& z : records) {
    l.push_back(text::format("CRZ %04d COO %06d CRO %04d ", z.crz, z.coo, z.cro) + dateText(z.movementDay * 86400));
    l.push_back("  GT " + money(z.grandTotal) + "  VB " + money(z.gross));
    if (full) {
      l.push_back("  CANC " + money(z.cancellations) + "  DESC " + money(z.discounts) + "  ACRE " + money(z.increases));
      for (auto& [k, v] : z.perTax) l.push_back("  " + k + " " + money(v));
    }
  }
  if (records.empty()) l.push_back(text::cp("SEM REDUÇÕES NO PERÍODO"));
  return l;
}

FiscalError FiscalCore::readFiscalMemory(const MemoryRange& range, bool full, std::vector<ZRecord>* out, bool print) {
  if (range.first > range.last) return FiscalError::InvalidRange;
  if (!range.byDate && range.first < 1) return FiscalError::InvalidRange;
  std::vector<ZRecord> sel;
  for (auto& z : st_.memory) {
    const int64_t key = range.byDate ? z.movementDay : z.crz;
    if (key >= range.first && key <= range.last) sel.push_back(z);
  }
  if (print) {
    if (auto e = canStartDocument(false); e != FiscalError::Ok && e != FiscalError::ZAlreadyDone) return e;
    beginDocument(DocKind::None);
    st_.counters.gnf = next(st_.counters.gnf, 999999);
    if (paper_) paper_->report(*this, text::cp("LEITURA DA MEMÓRIA FISCAL"), memoryLines(sel, full));
    endDocument();
    if (auto e = commit(); e != FiscalError::Ok) return e;
  }
  if (out) *out = std::move(sel);
  return FiscalError::Ok;
}

FiscalError FiscalCore::authenticate(const std::string& t) {
  if (st_.doc.kind != DocKind::None) return FiscalError::AuthenticationNotAllowed;
  if (st_.paperOut) return FiscalError::PaperOut;
  if (st_.authentications <= 0) return FiscalError::AuthenticationNotAllowed;
  --st_.authentications;
  if (paper_) paper_->authentication(*this, t);
  return commit();
}

}  // namespace tarvion::emulator
