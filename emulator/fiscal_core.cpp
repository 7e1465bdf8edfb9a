#include "emulator/fiscal_core.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "core/text.h"
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
  if (!opt_.statePath.empty()) load();
}

FiscalCore::~FiscalCore() = default;

void FiscalCore::fresh() {
  id_ = Identity{};
  id_.fiscalStart = opt_.hostClock() / 86400 * 86400;
  taxes_ = {{'T', 1800}, {'T', 1200}, {'T', 700}, {'S', 500}};
  payments_ = {{"Dinheiro"}, {"Cheque"}, {"Cartao"}};
  titles_ = {{"SANGRIA"}, {"SUPRIMENTO"}};
  reports_ = {{"GERAL"}};
  doc_ = Document{};
  last_ = ClosedReceipt{};
  linked_ = LinkedCopy{};
  cnt_ = Counters{};
  day_ = DayTotals{};
  gt_ = 0;
  memory_.clear();
  clockOffset_ = 0;
  dst_ = false;
  paperOut_ = nearEnd_ = false;
  lastZDay_ = -1;
  lastDocTime_ = 0;
  authentications_ = 0;
}

void FiscalCore::factoryReset() {
  fresh();
  loadError_.clear();
  commit();
}

void FiscalCore::commit() {
  // A state file that could not be read is kept for inspection, not overwritten.
  if (batch_ > 0 || opt_.statePath.empty() || !loadError_.empty()) return;
  save();
}

// ---------------------------------------------------------------- clock and flags

int64_t FiscalCore::now() const {
  return opt_.hostClock() + clockOffset_;
}

void FiscalCore::setClock(int64_t printerSeconds) {
  clockOffset_ = printerSeconds - opt_.hostClock();
  commit();
}

FiscalError FiscalCore::setDaylightSaving(bool on) {
  if (on == dst_) return FiscalError::Ok;
  if (doc_.kind != DocKind::None) return FiscalError::DocumentOpen;
  if (day_.movementDay >= 0) return FiscalError::DaylightSavingNotAllowed;
  dst_ = on;
  clockOffset_ += on ? 3600 : -3600;
  commit();
  return FiscalError::Ok;
}

void FiscalCore::setPaperOut(bool v) {
  paperOut_ = v;
  commit();
}

void FiscalCore::setPaperNearEnd(bool v) {
  nearEnd_ = v;
  commit();
}

void FiscalCore::setIdentity(const Identity& id) {
  id_ = id;
  commit();
}

bool FiscalCore::zPending() const {
  return day_.movementDay >= 0 && dayNumber(now()) > day_.movementDay;
}

bool FiscalCore::dayClosed() const {
  return day_.movementDay < 0 && lastZDay_ >= 0 && dayNumber(now()) == lastZDay_;
}

// ---------------------------------------------------------------- tables

FiscalError FiscalCore::addTax(char kind, int rate, int* position) {
  if (kind != 'T' && kind != 'S') return FiscalError::InvalidParameter;
  if (rate <= 0 || rate > 9999) return FiscalError::InvalidParameter;
  if (static_cast<int>(taxes_.size()) >= kMaxTaxes) return FiscalError::TaxTableFull;
  if (doc_.kind == DocKind::Fiscal) return FiscalError::ReceiptAlreadyOpen;
  if (doc_.kind != DocKind::None) return FiscalError::DocumentOpen;
  // A new rate changes the day's tax totals layout: only before the first sale of the day.
  if (day_.movementDay >= 0) return FiscalError::DayHasMovement;
  taxes_.push_back({kind, rate});
  if (position) *position = static_cast<int>(taxes_.size()) - 1;
  commit();
  return FiscalError::Ok;
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
  return indexByName(payments_, name);
}
int FiscalCore::titleIndex(const std::string& name) const {
  return indexByName(titles_, name);
}

// Programs a new payment type or non-fiscal title: only outside any document.
template <class List>
FiscalError FiscalCore::addNamed(List& list, const std::string& name, int max, FiscalError duplicate, FiscalError full,
                                 int* index) {
  const std::string n = text::trim(name);
  if (n.empty()) return FiscalError::InvalidParameter;
  if (indexByName(list, n) >= 0) return duplicate;
  if (static_cast<int>(list.size()) >= max) return full;
  if (doc_.kind == DocKind::Fiscal) return FiscalError::ReceiptAlreadyOpen;
  if (doc_.kind != DocKind::None) return FiscalError::DocumentOpen;
  list.push_back({n});
  if (index) *index = static_cast<int>(list.size()) - 1;
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::addPayment(const std::string& name, int* index) {
  return addNamed(payments_, name, kMaxPayments, FiscalError::PaymentAlreadyProgrammed, FiscalError::PaymentTableFull,
                  index);
}

FiscalError FiscalCore::addTitle(const std::string& name, int* index) {
  return addNamed(titles_, name, kMaxTitles, FiscalError::TitleAlreadyProgrammed, FiscalError::TitleTableFull, index);
}

FiscalError FiscalCore::addReport(const std::string& name, int* index) {
  const std::string n = text::trim(name);
  if (n.empty()) return FiscalError::InvalidParameter;
  for (auto& r : reports_)
    if (upperTrim(r.name) == upperTrim(n)) return FiscalError::TitleAlreadyProgrammed;
  if (static_cast<int>(reports_.size()) >= kMaxReports) return FiscalError::TitleTableFull;
  reports_.push_back({n});
  if (index) *index = static_cast<int>(reports_.size()) - 1;
  commit();
  return FiscalError::Ok;
}

// ---------------------------------------------------------------- documents

FiscalError FiscalCore::printable() const {
  return paperOut_ ? FiscalError::PaperOut : FiscalError::Ok;
}

FiscalError FiscalCore::canStartDocument(bool movement) const {
  if (doc_.kind == DocKind::Fiscal) return FiscalError::ReceiptAlreadyOpen;
  if (doc_.kind != DocKind::None) return FiscalError::DocumentOpen;
  if (paperOut_) return FiscalError::PaperOut;
  if (dayClosed()) return FiscalError::ZAlreadyDone;
  if (movement && zPending()) return FiscalError::ZPending;
  return FiscalError::Ok;
}

void FiscalCore::beginDocument(DocKind kind) {
  cnt_.coo = next(cnt_.coo, 999999);
  doc_ = Document{};
  doc_.kind = kind;
  doc_.coo = cnt_.coo;
  doc_.opened = now();
  lastDocTime_ = doc_.opened;
  last_.lastDocument = false;
  linked_.allowed = false;
  authentications_ = 0;
}

void FiscalCore::touchMovement() {
  if (day_.movementDay >= 0) return;
  day_.movementDay = dayNumber(now());
  day_.initialGrandTotal = gt_;
  day_.initialCoo = cnt_.coo;
}

void FiscalCore::endDocument() {
  doc_ = Document{};
  lastDocTime_ = now();
}

void FiscalCore::finishDocument() {
  if (paper_) {
    paper_->rule();
    paper_->footer(*this);
  }
  endDocument();
}

FiscalError FiscalCore::printingIn(DocKind kind, FiscalError notOpen) const {
  if (doc_.kind != kind) return notOpen;
  if (paperOut_) return FiscalError::PaperOut;
  return FiscalError::Ok;
}

FiscalError FiscalCore::openReceipt(const std::string& customer, const std::string& name, const std::string& address) {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  beginDocument(DocKind::Fiscal);
  cnt_.ccf = next(cnt_.ccf, 999999);
  doc_.ccf = cnt_.ccf;
  doc_.state = ReceiptState::Open;
  doc_.customer = text::trim(customer);
  doc_.customerName = text::trim(name);
  doc_.customerAddress = text::trim(address);
  cnt_.lastItem = 0;
  touchMovement();
  if (paper_) paper_->header(*this, "CUPOM FISCAL");
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::receiptFlow() const {
  if (doc_.kind == DocKind::Fiscal || doc_.kind == DocKind::NonFiscal) return FiscalError::Ok;
  if (doc_.kind != DocKind::None) return FiscalError::DocumentOpen;
  return FiscalError::NoReceiptOpen;
}

FiscalError FiscalCore::registerItem(const ItemInput& in, int* number) {
  if (doc_.kind != DocKind::Fiscal)
    return doc_.kind == DocKind::None ? FiscalError::NoReceiptOpen : FiscalError::DocumentOpen;
  if (doc_.state == ReceiptState::Totalled || doc_.state == ReceiptState::Paying) return FiscalError::AlreadyTotalized;
  if (paperOut_) return FiscalError::PaperOut;
  if (static_cast<int>(doc_.items.size()) >= kMaxItems) return FiscalError::TooManyItems;
  if (!isSpecialTax(in.tax)) {
    if (in.tax.size() != 2 || !isdigit(static_cast<unsigned char>(in.tax[0])) ||
        !isdigit(static_cast<unsigned char>(in.tax[1])))
      return FiscalError::InvalidParameter;
    const int pos = (in.tax[0] - '0') * 10 + (in.tax[1] - '0');
    if (pos < 1 || pos > static_cast<int>(taxes_.size())) return FiscalError::TaxNotProgrammed;
  }
  if (in.quantity <= 0 || in.unitPrice < 0 || in.discount < 0 || in.increase < 0) return FiscalError::InvalidParameter;
  Item it;
  it.number = static_cast<int>(doc_.items.size()) + 1;
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
  doc_.items.push_back(it);
  doc_.state = ReceiptState::Items;
  cnt_.lastItem = it.number;
  day_.gross += it.gross();
  day_.discounts += it.discount;
  if (issTax(it.tax)) day_.issDiscounts += it.discount;
  day_.increases += it.increase;
  day_.perTax[it.tax] += it.net();
  gt_ += it.gross() + it.increase;
  if (number) *number = it.number;
  if (paper_) paper_->item(*this, it);
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::cancelItem(int number) {
  if (doc_.kind != DocKind::Fiscal)
    return doc_.kind == DocKind::None ? FiscalError::NoReceiptOpen : FiscalError::DocumentOpen;
  if (doc_.state == ReceiptState::Totalled || doc_.state == ReceiptState::Paying) return FiscalError::AlreadyTotalized;
  if (paperOut_) return FiscalError::PaperOut;
  if (number < 1 || number > static_cast<int>(doc_.items.size())) return FiscalError::ItemNotFound;
  Item& it = doc_.items[static_cast<size_t>(number - 1)];
  if (it.cancelled) return FiscalError::ItemAlreadyCancelled;
  it.cancelled = true;
  day_.cancellations += it.net();
  day_.perTax[it.tax] -= it.net();
  if (paper_) paper_->itemCancelled(*this, it);
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::cancelLastItem() {
  if (doc_.kind == DocKind::Fiscal && !doc_.items.empty()) return cancelItem(static_cast<int>(doc_.items.size()));
  return cancelItem(0);
}

bool FiscalCore::issTax(const std::string& label) const {
  if (isSpecialTax(label)) return label[0] == 'S';
  if (label.size() != 2 || !isdigit(static_cast<unsigned char>(label[0])) ||
      !isdigit(static_cast<unsigned char>(label[1])))
    return false;
  const int pos = (label[0] - '0') * 10 + (label[1] - '0');
  return pos >= 1 && pos <= static_cast<int>(taxes_.size()) && taxes_[static_cast<size_t>(pos - 1)].kind == 'S';
}

FiscalError FiscalCore::adjustItem(int number, bool increase, Cents value) {
  if (doc_.kind != DocKind::Fiscal)
    return doc_.kind == DocKind::None ? FiscalError::NoReceiptOpen : FiscalError::DocumentOpen;
  if (doc_.state == ReceiptState::Totalled || doc_.state == ReceiptState::Paying) return FiscalError::AlreadyTotalized;
  if (paperOut_) return FiscalError::PaperOut;
  if (number < 1 || number > static_cast<int>(doc_.items.size())) return FiscalError::ItemNotFound;
  Item& it = doc_.items[static_cast<size_t>(number - 1)];
  if (it.cancelled) return FiscalError::ItemAlreadyCancelled;
  if (value <= 0) return FiscalError::ZeroValue;
  if (increase ? it.increase > 0 : it.discount > 0) return FiscalError::ItemAdjustmentDone;
  // A discount must leave something to pay; an increase may at most double the item.
  if (increase ? value > it.gross() : value >= it.gross() + it.increase) return FiscalError::DiscountTooLarge;
  if (increase) {
    it.increase = value;
    day_.increases += value;
    gt_ += value;
    day_.perTax[it.tax] += value;
  } else {
    it.discount = value;
    day_.discounts += value;
    if (issTax(it.tax)) day_.issDiscounts += value;
    day_.perTax[it.tax] -= value;
  }
  if (paper_) paper_->itemAdjusted(*this, it, increase, false);
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::cancelItemAdjustment(int number, bool increase) {
  if (doc_.kind != DocKind::Fiscal)
    return doc_.kind == DocKind::None ? FiscalError::NoReceiptOpen : FiscalError::DocumentOpen;
  if (doc_.state == ReceiptState::Totalled || doc_.state == ReceiptState::Paying) return FiscalError::AlreadyTotalized;
  if (paperOut_) return FiscalError::PaperOut;
  if (number < 1 || number > static_cast<int>(doc_.items.size())) return FiscalError::ItemNotFound;
  Item& it = doc_.items[static_cast<size_t>(number - 1)];
  if (it.cancelled) return FiscalError::ItemAlreadyCancelled;
  Cents& v = increase ? it.increase : it.discount;
  if (v <= 0) return FiscalError::NoItemAdjustment;
  if (paper_) paper_->itemAdjusted(*this, it, increase, true);
  if (increase) {
    // The grand total never goes back: the increase given stays there and its
    // cancellation is recorded with the day's cancellations.
    day_.cancellations += v;
    day_.perTax[it.tax] -= v;
  } else {
    day_.discounts -= v;
    if (issTax(it.tax)) day_.issDiscounts -= v;
    day_.perTax[it.tax] += v;
  }
  v = 0;
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::totalize(Cents discount, Cents increase) {
  if (auto e = receiptFlow(); e != FiscalError::Ok) return e;
  if (doc_.state == ReceiptState::Totalled || doc_.state == ReceiptState::Paying) return FiscalError::AlreadyTotalized;
  if (doc_.soldItems() == 0) return FiscalError::NoItems;
  if (paperOut_) return FiscalError::PaperOut;
  if (discount < 0 || increase < 0) return FiscalError::InvalidParameter;
  if (discount >= doc_.itemsTotal()) return FiscalError::DiscountTooLarge;
  doc_.subtotalDiscount = discount;
  doc_.subtotalIncrease = increase;
  doc_.state = ReceiptState::Totalled;
  if (doc_.kind == DocKind::Fiscal) {
    day_.discounts += discount;
    day_.increases += increase;
    gt_ += increase;
  }
  if (paper_) paper_->subtotal(*this, doc_);
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::pay(int type, Cents amount, const std::string& textLine) {
  if (auto e = receiptFlow(); e != FiscalError::Ok) return e;
  if (doc_.state != ReceiptState::Totalled && doc_.state != ReceiptState::Paying) return FiscalError::NotTotalized;
  if (type < 0 || type >= static_cast<int>(payments_.size())) return FiscalError::PaymentNotProgrammed;
  if (amount <= 0) return FiscalError::ZeroValue;
  if (doc_.paid() >= doc_.total()) return FiscalError::PaymentsFinished;
  if (paperOut_) return FiscalError::PaperOut;
  doc_.payments.push_back({type, amount, text::trimRight(textLine)});
  doc_.state = ReceiptState::Paying;
  if (paper_) paper_->payment(*this, doc_.payments.back());
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::closeReceipt(const std::string& message) {
  if (auto e = receiptFlow(); e != FiscalError::Ok) return e;
  if (doc_.state != ReceiptState::Totalled && doc_.state != ReceiptState::Paying) return FiscalError::NotTotalized;
  if (doc_.paid() < doc_.total()) return FiscalError::PaymentsNotFinished;
  if (paperOut_) return FiscalError::PaperOut;
  const Cents change = doc_.paid() - doc_.total();
  // The change goes back out of the payment that overpaid: the last one.
  std::vector<Payment> applied = doc_.payments;
  if (change > 0 && !applied.empty()) applied.back().amount -= change;
  for (auto& p : applied) {
    payments_[static_cast<size_t>(p.type)].dayAmount += p.amount;
    ++payments_[static_cast<size_t>(p.type)].dayCount;
  }
  if (paper_) paper_->receiptEnd(*this, doc_, change, message);
  if (doc_.kind == DocKind::Fiscal) {
    last_ = ClosedReceipt{};
    last_.coo = doc_.coo;
    last_.ccf = doc_.ccf;
    last_.closed = now();
    last_.total = doc_.total();
    last_.change = change;
    last_.discounts = doc_.subtotalDiscount;
    last_.increases = doc_.subtotalIncrease;
    last_.payments = applied;
    last_.items = doc_.items;
    last_.lastDocument = true;
  } else {
    for (auto& it : doc_.items) {
      if (it.cancelled || it.title < 0 || it.title >= static_cast<int>(titles_.size())) continue;
      titles_[static_cast<size_t>(it.title)].dayAmount += it.gross();
      ++titles_[static_cast<size_t>(it.title)].dayCount;
    }
    day_.nonFiscal += doc_.total();
  }
  endDocument();
  authentications_ = 4;
  commit();
  return FiscalError::Ok;
}

void FiscalCore::cancelOpenFiscal() {
  const Cents total = doc_.total();
  for (auto& it : doc_.items)
    if (!it.cancelled) day_.perTax[it.tax] -= it.net();
  // What the receipt still adds to the day's net sale goes to the cancellations;
  // its discounts and increases stay on record as they happened.
  day_.cancellations += total;
  cnt_.cfc = next(cnt_.cfc, 9999);
  const int coo = doc_.coo;
  if (paper_) paper_->receiptCancelled(*this, coo, total);
  endDocument();
}

FiscalError FiscalCore::cancelReceipt() {
  if (paperOut_) return FiscalError::PaperOut;
  if (doc_.kind == DocKind::Fiscal) {
    cancelOpenFiscal();
    commit();
    return FiscalError::Ok;
  }
  if (doc_.kind == DocKind::NonFiscal) {
    if (paper_) paper_->receiptCancelled(*this, doc_.coo, doc_.total());
    endDocument();
    commit();
    return FiscalError::Ok;
  }
  if (doc_.kind != DocKind::None) return FiscalError::DocumentOpen;
  if (last_.coo == 0) return FiscalError::CancelNotAllowed;
  if (last_.cancelled) return FiscalError::AlreadyCancelled;
  if (!last_.lastDocument) return FiscalError::CancelNotAllowed;
  // The last receipt is cancelled by a document of its own.
  beginDocument(DocKind::None);
  cnt_.gnf = next(cnt_.gnf, 999999);
  for (auto& it : last_.items)
    if (!it.cancelled) day_.perTax[it.tax] -= it.net();
  day_.cancellations += last_.total;
  for (auto& p : last_.payments) {
    payments_[static_cast<size_t>(p.type)].dayAmount -= p.amount;
    --payments_[static_cast<size_t>(p.type)].dayCount;
  }
  cnt_.cfc = next(cnt_.cfc, 9999);
  last_.cancelled = true;
  if (paper_) paper_->receiptCancelled(*this, last_.coo, last_.total);
  endDocument();
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::openLinked(int type, Cents value, int coo) {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  if (type < 0 || type >= static_cast<int>(payments_.size())) return FiscalError::PaymentNotProgrammed;
  if (last_.coo == 0 || last_.cancelled) return FiscalError::LinkedNotAllowed;
  if (coo != 0 && coo != last_.coo) return FiscalError::LinkedNotAllowed;
  Cents onType = 0;
  for (auto& p : last_.payments)
    if (p.type == type) onType += p.amount;
  if (onType <= 0 || value > onType) return FiscalError::LinkedNotAllowed;
  if (std::find(last_.linkedIssued.begin(), last_.linkedIssued.end(), type) != last_.linkedIssued.end())
    return FiscalError::LinkedNotAllowed;
  const int receiptCoo = last_.coo;
  beginDocument(DocKind::Linked);
  cnt_.gnf = next(cnt_.gnf, 999999);
  cnt_.cdc = next(cnt_.cdc, 9999);
  doc_.linkedPayment = type;
  doc_.linkedValue = value ? value : onType;
  last_.linkedIssued.push_back(type);
  linked_ = LinkedCopy{doc_.coo, receiptCoo, type, doc_.linkedValue, {}, false};
  if (paper_) {
    paper_->header(*this, text::cp("COMPROVANTE CRÉDITO OU DÉBITO"));
    paper_->linkedHeader(*this, doc_, receiptCoo);
  }
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::linkedText(const std::string& t) {
  if (auto e = printingIn(DocKind::Linked, FiscalError::NoLinkedOpen); e != FiscalError::Ok) return e;
  if (paper_) paper_->text(t);
  linked_.text += t;
  if (!t.empty() && t.back() != '\n' && t.back() != '\r') linked_.text += '\n';
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::closeLinked() {
  if (auto e = printingIn(DocKind::Linked, FiscalError::NoLinkedOpen); e != FiscalError::Ok) return e;
  finishDocument();
  linked_.allowed = linked_.coo != 0;
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::linkedSecondCopy() {
  if (doc_.kind == DocKind::Fiscal) return FiscalError::ReceiptAlreadyOpen;
  if (doc_.kind != DocKind::None) return FiscalError::DocumentOpen;
  if (paperOut_) return FiscalError::PaperOut;
  if (!linked_.allowed) return FiscalError::SecondCopyNotAllowed;
  const LinkedCopy copy = linked_;
  beginDocument(DocKind::Linked);
  cnt_.gnf = next(cnt_.gnf, 999999);
  doc_.linkedPayment = copy.payment;
  doc_.linkedValue = copy.value;
  if (paper_) {
    paper_->header(*this, text::cp("COMPROVANTE CRÉDITO OU DÉBITO"));
    paper_->centered("SEGUNDA VIA");
    paper_->linkedHeader(*this, doc_, copy.receiptCoo);
    paper_->text(copy.text);
  }
  finishDocument();
  linked_ = copy;
  linked_.allowed = false;
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::openReport(int report) {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  if (report < 0 || report >= static_cast<int>(reports_.size())) return FiscalError::ReportNotProgrammed;
  beginDocument(DocKind::Report);
  cnt_.gnf = next(cnt_.gnf, 999999);
  cnt_.grg = next(cnt_.grg, 999999);
  doc_.report = report;
  ++reports_[static_cast<size_t>(report)].dayCount;
  touchMovement();
  if (paper_) {
    paper_->header(*this, text::cp("RELATÓRIO GERENCIAL"));
    paper_->line(reports_[static_cast<size_t>(report)].name);
  }
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::reportText(const std::string& t) {
  if (auto e = printingIn(DocKind::Report, FiscalError::NoReportOpen); e != FiscalError::Ok) return e;
  if (paper_) paper_->text(t);
  return FiscalError::Ok;
}

FiscalError FiscalCore::closeReport() {
  if (auto e = printingIn(DocKind::Report, FiscalError::NoReportOpen); e != FiscalError::Ok) return e;
  finishDocument();
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::openNonFiscal() {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  beginDocument(DocKind::NonFiscal);
  cnt_.gnf = next(cnt_.gnf, 999999);
  doc_.state = ReceiptState::Open;
  touchMovement();
  if (paper_) paper_->header(*this, text::cp("COMPROVANTE NÃO-FISCAL"));
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::nonFiscalItem(int title, Cents value) {
  if (doc_.kind != DocKind::NonFiscal)
    return doc_.kind == DocKind::Fiscal ? FiscalError::ReceiptAlreadyOpen : FiscalError::NoNonFiscalOpen;
  if (doc_.state == ReceiptState::Totalled || doc_.state == ReceiptState::Paying) return FiscalError::AlreadyTotalized;
  if (title < 0 || title >= static_cast<int>(titles_.size())) return FiscalError::TitleNotProgrammed;
  if (value <= 0) return FiscalError::ZeroValue;
  if (paperOut_) return FiscalError::PaperOut;
  Item it;
  it.number = static_cast<int>(doc_.items.size()) + 1;
  it.title = title;
  it.code = text::format("%02d", title + 1);
  it.description = titles_[static_cast<size_t>(title)].name;
  it.unit = "";
  it.quantity = 1000;
  it.unitPrice = value * 10;
  doc_.items.push_back(it);
  doc_.state = ReceiptState::Items;
  if (paper_) paper_->nonFiscalItem(*this, it);
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::nonFiscalReceipt(int title, Cents value, int type) {
  if (auto e = canStartDocument(true); e != FiscalError::Ok) return e;
  if (title < 0 || title >= static_cast<int>(titles_.size())) return FiscalError::TitleNotProgrammed;
  if (type < 0 || type >= static_cast<int>(payments_.size())) return FiscalError::PaymentNotProgrammed;
  if (value <= 0) return FiscalError::ZeroValue;
  ++batch_;
  FiscalError e = openNonFiscal();
  if (e == FiscalError::Ok) e = nonFiscalItem(title, value);
  if (e == FiscalError::Ok) e = totalize(0, 0);
  if (e == FiscalError::Ok) e = pay(type, value);
  if (e == FiscalError::Ok) e = closeReceipt("");
  --batch_;
  commit();
  return e;
}

std::vector<std::string> FiscalCore::xReportLines() const {
  std::vector<std::string> l;
  auto lr = [&](const std::string& a, const std::string& b) { l.push_back(a + ": " + b); };
  lr("DATA", dateTimeText(now()));
  lr("COO", text::format("%06d", cnt_.coo));
  lr("CRZ", text::format("%04d", cnt_.crz));
  lr("CRO", text::format("%04d", cnt_.cro));
  lr("GNF", text::format("%06d", cnt_.gnf));
  lr("CCF", text::format("%06d", cnt_.ccf));
  lr("GT", money(gt_));
  lr("VENDA BRUTA", money(day_.gross));
  lr("CANCELAMENTOS", money(day_.cancellations));
  lr("DESCONTOS", money(day_.discounts));
  lr(text::cp("ACRÉSCIMOS"), money(day_.increases));
  lr(text::cp("NÃO FISCAL"), money(day_.nonFiscal));
  for (size_t i = 0; i < taxes_.size(); ++i) {
    const std::string key = text::format("%02d", static_cast<int>(i) + 1);
    auto f = day_.perTax.find(key);
    lr(key + text::format(" %c%02d,%02d%%", taxes_[i].kind, taxes_[i].rate / 100, taxes_[i].rate % 100),
       money(f == day_.perTax.end() ? 0 : f->second));
  }
  for (const char* k : {"II", "FF", "NN", "SI", "SF", "SN"}) {
    auto f = day_.perTax.find(k);
    if (f != day_.perTax.end() && f->second) lr(k, money(f->second));
  }
  for (auto& p : payments_) lr(p.name, money(p.dayAmount));
  for (auto& t : titles_) lr(t.name, money(t.dayAmount));
  return l;
}

FiscalError FiscalCore::xReport() {
  if (auto e = canStartDocument(false); e != FiscalError::Ok) return e;
  beginDocument(DocKind::None);
  cnt_.gnf = next(cnt_.gnf, 999999);
  if (paper_) paper_->report(*this, "LEITURA X", xReportLines());
  endDocument();
  commit();
  return FiscalError::Ok;
}

FiscalError FiscalCore::zReduction(int64_t emitted) {
  if (paperOut_) return FiscalError::PaperOut;
  if (dayClosed()) return FiscalError::ZAlreadyDone;
  if (static_cast<int>(memory_.size()) >= kMaxReductions || cnt_.crz >= kMaxReductions)
    return FiscalError::FiscalMemoryFull;
  // The host's time may nudge the clock by a few minutes, never more.
  if (emitted > 0) {
    const int64_t d = emitted - now();
    if (d != 0 && d >= -300 && d <= 300) clockOffset_ += d;
  }
  ++batch_;
  // Whatever is open is closed first: the reduction ends the fiscal day.
  if (doc_.kind == DocKind::Fiscal)
    cancelOpenFiscal();
  else if (doc_.kind != DocKind::None)
    endDocument();
  beginDocument(DocKind::None);
  ZRecord z;
  cnt_.crz += 1;
  z.crz = cnt_.crz;
  z.coo = cnt_.coo;
  z.cro = cnt_.cro;
  z.movementDay = day_.movementDay >= 0 ? day_.movementDay : dayNumber(now());
  z.emitted = now();
  z.grandTotal = gt_;
  z.gross = day_.gross;
  z.cancellations = day_.cancellations;
  z.discounts = day_.discounts;
  z.increases = day_.increases;
  z.nonFiscal = day_.nonFiscal;
  z.perTax = day_.perTax;
  if (paper_) {
    std::vector<std::string> lines = xReportLines();
    lines.insert(lines.begin(), text::format("CRZ: %04d  MOVIMENTO DE ", z.crz) + dateText(z.movementDay * 86400));
    paper_->report(*this, text::cp("REDUÇÃO Z"), lines);
  }
  memory_.push_back(z);
  lastZDay_ = z.movementDay;
  day_ = DayTotals{};
  day_.initialGrandTotal = gt_;
  day_.initialCoo = cnt_.coo;
  for (auto& p : payments_) p.dayAmount = 0, p.dayCount = 0;
  for (auto& t : titles_) t.dayAmount = 0, t.dayCount = 0;
  for (auto& r : reports_) r.dayCount = 0;
  last_.lastDocument = false;
  endDocument();
  --batch_;
  commit();
  return FiscalError::Ok;
}

std::vector<std::string> FiscalCore::memoryLines(const std::vector<ZRecord>& records, bool full) const {
  std::vector<std::string> l;
  l.push_back(text::cp("LEITURA DA MEMÓRIA FISCAL"));
  l.push_back("FAB: " + id_.serial);
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
  for (auto& z : memory_) {
    const int64_t key = range.byDate ? z.movementDay : z.crz;
    if (key >= range.first && key <= range.last) sel.push_back(z);
  }
  if (print) {
    if (auto e = canStartDocument(false); e != FiscalError::Ok && e != FiscalError::ZAlreadyDone) return e;
    beginDocument(DocKind::None);
    cnt_.gnf = next(cnt_.gnf, 999999);
    if (paper_) paper_->report(*this, text::cp("LEITURA DA MEMÓRIA FISCAL"), memoryLines(sel, full));
    endDocument();
    commit();
  }
  if (out) *out = std::move(sel);
  return FiscalError::Ok;
}

FiscalError FiscalCore::authenticate(const std::string& t) {
  if (doc_.kind != DocKind::None) return FiscalError::AuthenticationNotAllowed;
  if (paperOut_) return FiscalError::PaperOut;
  if (authentications_ <= 0) return FiscalError::AuthenticationNotAllowed;
  --authentications_;
  if (paper_) paper_->authentication(*this, t);
  commit();
  return FiscalError::Ok;
}

// ---------------------------------------------------------------- state file
//
// One "key=value" per line, in a fixed order; lists repeat their key. Values
// escape '%', '|', ';', ':' and control bytes as %XX so that fields can be
// joined with '|' (and maps with ';' and ':'). The first line names the format
// and its version; the last line, "end=1", proves the file complete.

namespace {

constexpr const char* kMagic = "tarvion-fiscal-state";
constexpr int kVersion = 1;

std::string esc(const std::string& s) {
  std::string o;
  for (char ch : s) {
    auto b = static_cast<uint8_t>(ch);
    if (b < 0x20 || b == 0x7F || b == '%' || b == '|' || b == ';' || b == ':')
      o += text::format("%%%02X", b);
    else
      o += ch;
  }
  return o;
}

std::string unesc(const std::string& s) {
  std::string o;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
      };
      int h = hex(s[i + 1]), l = hex(s[i + 2]);
      if (h >= 0 && l >= 0) {
        o += static_cast<char>(h * 16 + l);
        i += 2;
        continue;
      }
    }
    o += s[i];
  }
  return o;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t p = s.find(sep, start);
    out.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return out;
}

bool toInt(const std::string& s, int64_t& v) {
  if (s.empty()) return false;
  size_t i = 0;
  bool neg = false;
  if (s[0] == '-') neg = true, i = 1;
  if (i >= s.size()) return false;
  int64_t r = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    r = r * 10 + (s[i] - '0');
  }
  v = neg ? -r : r;
  return true;
}

std::string joinMap(const std::map<std::string, Cents>& m) {
  std::string o;
  for (auto& [k, v] : m) {
    if (!o.empty()) o += ';';
    o += esc(k) + ":" + std::to_string(v);
  }
  return o;
}

std::string itemText(const Item& i) {
  return std::to_string(i.number) + "|" + esc(i.code) + "|" + esc(i.description) + "|" + esc(i.unit) + "|" +
         std::to_string(i.quantity) + "|" + std::to_string(i.unitPrice) + "|" + esc(i.tax) + "|" +
         std::to_string(i.discount) + "|" + std::to_string(i.increase) + "|" + std::to_string(i.title) + "|" +
         (i.cancelled ? "1" : "0");
}

std::string paymentText(const Payment& p) {
  return std::to_string(p.type) + "|" + std::to_string(p.amount) + "|" + esc(p.text);
}

// Reads the fields of one value; any malformed field fails the whole load.
struct Fields {
  std::vector<std::string> f;
  bool ok = true;
  explicit Fields(const std::string& v, size_t expect) : f(split(v, '|')) { ok = f.size() == expect; }
  int64_t i(size_t k) {
    int64_t v = 0;
    if (k >= f.size() || !toInt(f[k], v)) ok = false;
    return v;
  }
  std::string s(size_t k) {
    if (k >= f.size()) {
      ok = false;
      return {};
    }
    return unesc(f[k]);
  }
};

bool parseMap(const std::string& v, std::map<std::string, Cents>& m) {
  m.clear();
  if (v.empty()) return true;
  for (auto& kv : split(v, ';')) {
    auto p = split(kv, ':');
    int64_t n = 0;
    if (p.size() != 2 || !toInt(p[1], n)) return false;
    m[unesc(p[0])] = n;
  }
  return true;
}

}  // namespace

std::string FiscalCore::serialize() const {
  std::ostringstream o;
  auto kv = [&](const char* k, const std::string& v) { o << k << '=' << v << '\n'; };
  auto ki = [&](const char* k, int64_t v) { o << k << '=' << v << '\n'; };
  o << kMagic << '=' << kVersion << '\n';
  kv("id.serial", esc(id_.serial));
  ki("id.firmware", id_.firmware);
  ki("id.ecf", id_.ecfNumber);
  ki("id.user", id_.userNumber);
  kv("id.ownerName", esc(id_.ownerName));
  kv("id.ownerAddress", esc(id_.ownerAddress));
  kv("id.ownerCnpj", esc(id_.ownerCnpj));
  kv("id.ownerIe", esc(id_.ownerIe));
  kv("id.model", esc(id_.model));
  ki("id.fiscalStart", id_.fiscalStart);
  kv("id.app", esc(id_.appLine1) + "|" + esc(id_.appLine2));
  kv("id.currency", esc(id_.currencySingular) + "|" + esc(id_.currencyPlural));
  ki("clock.offset", clockOffset_);
  ki("clock.dst", dst_);
  ki("paper.out", paperOut_);
  ki("paper.nearEnd", nearEnd_);
  for (auto& t : taxes_) kv("tax", std::string(1, t.kind) + "|" + std::to_string(t.rate));
  for (auto& p : payments_)
    kv("payment", esc(p.name) + "|" + std::to_string(p.dayAmount) + "|" + std::to_string(p.dayCount));
  for (auto& t : titles_)
    kv("title", esc(t.name) + "|" + std::to_string(t.dayAmount) + "|" + std::to_string(t.dayCount));
  for (auto& r : reports_) kv("report", esc(r.name) + "|" + std::to_string(r.dayCount));
  ki("gt", gt_);
  kv("counters", std::to_string(cnt_.coo) + "|" + std::to_string(cnt_.crz) + "|" + std::to_string(cnt_.cro) + "|" +
                     std::to_string(cnt_.gnf) + "|" + std::to_string(cnt_.ccf) + "|" + std::to_string(cnt_.cdc) + "|" +
                     std::to_string(cnt_.grg) + "|" + std::to_string(cnt_.cfc) + "|" + std::to_string(cnt_.lastItem));
  kv("day", std::to_string(day_.gross) + "|" + std::to_string(day_.cancellations) + "|" +
                std::to_string(day_.discounts) + "|" + std::to_string(day_.increases) + "|" +
                std::to_string(day_.nonFiscal) + "|" + std::to_string(day_.movementDay) + "|" +
                std::to_string(day_.initialGrandTotal) + "|" + std::to_string(day_.initialCoo));
  kv("day.tax", joinMap(day_.perTax));
  ki("day.iss", day_.issDiscounts);
  ki("lastZDay", lastZDay_);
  ki("lastDocTime", lastDocTime_);
  ki("authentications", authentications_);
  kv("doc", std::to_string(static_cast<int>(doc_.kind)) + "|" + std::to_string(static_cast<int>(doc_.state)) + "|" +
                std::to_string(doc_.coo) + "|" + std::to_string(doc_.ccf) + "|" + std::to_string(doc_.opened) + "|" +
                esc(doc_.customer) + "|" + std::to_string(doc_.subtotalDiscount) + "|" +
                std::to_string(doc_.subtotalIncrease) + "|" + std::to_string(doc_.linkedPayment) + "|" +
                std::to_string(doc_.linkedValue) + "|" + std::to_string(doc_.report));
  kv("doc.customer", esc(doc_.customerName) + "|" + esc(doc_.customerAddress));
  for (auto& i : doc_.items) kv("doc.item", itemText(i));
  for (auto& p : doc_.payments) kv("doc.payment", paymentText(p));
  kv("last", std::to_string(last_.coo) + "|" + std::to_string(last_.ccf) + "|" + std::to_string(last_.closed) + "|" +
                 std::to_string(last_.total) + "|" + std::to_string(last_.change) + "|" +
                 std::to_string(last_.discounts) + "|" + std::to_string(last_.increases) + "|" +
                 (last_.cancelled ? "1" : "0") + "|" + (last_.lastDocument ? "1" : "0"));
  for (auto& i : last_.items) kv("last.item", itemText(i));
  for (auto& p : last_.payments) kv("last.payment", paymentText(p));
  for (int t : last_.linkedIssued) ki("last.linked", t);
  kv("linked", std::to_string(linked_.coo) + "|" + std::to_string(linked_.receiptCoo) + "|" +
                   std::to_string(linked_.payment) + "|" + std::to_string(linked_.value) + "|" +
                   (linked_.allowed ? "1" : "0") + "|" + esc(linked_.text));
  for (auto& z : memory_)
    kv("z", std::to_string(z.crz) + "|" + std::to_string(z.coo) + "|" + std::to_string(z.cro) + "|" +
                std::to_string(z.movementDay) + "|" + std::to_string(z.emitted) + "|" + std::to_string(z.grandTotal) +
                "|" + std::to_string(z.gross) + "|" + std::to_string(z.cancellations) + "|" +
                std::to_string(z.discounts) + "|" + std::to_string(z.increases) + "|" + std::to_string(z.nonFiscal) +
                "|" + joinMap(z.perTax));
  o << "end=1\n";
  return o.str();
}

bool FiscalCore::deserialize(const std::string& content, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (content.rfind(std::string(kMagic) + "=", 0) != 0) return fail("not a fiscal state file");
  {
    // Checked before anything else: a cut file may break off inside any line.
    const std::string tail = text::trimRight(content);
    if (tail.size() < 6 || tail.compare(tail.size() - 6, 6, "\nend=1") != 0) return fail("state file is incomplete");
  }
  std::vector<std::pair<std::string, std::string>> lines;
  {
    size_t start = 0;
    while (start < content.size()) {
      size_t e = content.find('\n', start);
      std::string l = content.substr(start, e == std::string::npos ? std::string::npos : e - start);
      start = e == std::string::npos ? content.size() : e + 1;
      if (!l.empty() && l.back() == '\r') l.pop_back();
      if (l.empty()) continue;
      size_t eq = l.find('=');
      if (eq == std::string::npos) return fail("line without '=': " + l);
      lines.emplace_back(l.substr(0, eq), l.substr(eq + 1));
    }
  }
  if (lines.empty() || lines.front().first != kMagic) return fail("not a fiscal state file");
  if (lines.front().second != std::to_string(kVersion)) return fail("unknown state version " + lines.front().second);
  if (lines.back().first != "end") return fail("state file is incomplete");

  // Parse into a scratch copy: a bad file leaves this printer as it was.
  Options scratch = opt_;
  scratch.statePath.clear();
  FiscalCore n(scratch);
  n.taxes_.clear();
  n.payments_.clear();
  n.titles_.clear();
  n.reports_.clear();
  bool ok = true;
  for (size_t li = 1; li + 1 < lines.size() && ok; ++li) {
    const std::string& k = lines[li].first;
    const std::string& v = lines[li].second;
    int64_t x = 0;
    auto num = [&]() {
      if (!toInt(v, x)) ok = false;
      return x;
    };
    if (k == "id.serial")
      n.id_.serial = unesc(v);
    else if (k == "id.firmware")
      n.id_.firmware = static_cast<int>(num());
    else if (k == "id.ecf")
      n.id_.ecfNumber = static_cast<int>(num());
    else if (k == "id.user")
      n.id_.userNumber = static_cast<int>(num());
    else if (k == "id.ownerName")
      n.id_.ownerName = unesc(v);
    else if (k == "id.ownerAddress")
      n.id_.ownerAddress = unesc(v);
    else if (k == "id.ownerCnpj")
      n.id_.ownerCnpj = unesc(v);
    else if (k == "id.ownerIe")
      n.id_.ownerIe = unesc(v);
    else if (k == "id.model")
      n.id_.model = unesc(v);
    else if (k == "id.fiscalStart")
      n.id_.fiscalStart = num();
    else if (k == "id.app") {
      Fields f(v, 2);
      n.id_.appLine1 = f.s(0);
      n.id_.appLine2 = f.s(1);
      ok = f.ok;
    } else if (k == "id.currency") {
      Fields f(v, 2);
      n.id_.currencySingular = f.s(0);
      n.id_.currencyPlural = f.s(1);
      ok = f.ok;
    } else if (k == "clock.offset")
      n.clockOffset_ = num();
    else if (k == "clock.dst")
      n.dst_ = num() != 0;
    else if (k == "paper.out")
      n.paperOut_ = num() != 0;
    else if (k == "paper.nearEnd")
      n.nearEnd_ = num() != 0;
    else if (k == "tax") {
      Fields f(v, 2);
      std::string kind = f.s(0);
      int64_t rate = f.i(1);
      ok = f.ok && kind.size() == 1;
      if (ok) n.taxes_.push_back({kind[0], static_cast<int>(rate)});
    } else if (k == "payment") {
      Fields f(v, 3);
      PaymentType p{f.s(0), f.i(1), static_cast<int>(f.i(2))};
      ok = f.ok;
      n.payments_.push_back(p);
    } else if (k == "title") {
      Fields f(v, 3);
      NonFiscalTitle t{f.s(0), f.i(1), static_cast<int>(f.i(2))};
      ok = f.ok;
      n.titles_.push_back(t);
    } else if (k == "report") {
      Fields f(v, 2);
      ManagementReport r{f.s(0), static_cast<int>(f.i(1))};
      ok = f.ok;
      n.reports_.push_back(r);
    } else if (k == "gt")
      n.gt_ = num();
    else if (k == "counters") {
      Fields f(v, 9);
      Counters& c = n.cnt_;
      c.coo = static_cast<int>(f.i(0));
      c.crz = static_cast<int>(f.i(1));
      c.cro = static_cast<int>(f.i(2));
      c.gnf = static_cast<int>(f.i(3));
      c.ccf = static_cast<int>(f.i(4));
      c.cdc = static_cast<int>(f.i(5));
      c.grg = static_cast<int>(f.i(6));
      c.cfc = static_cast<int>(f.i(7));
      c.lastItem = static_cast<int>(f.i(8));
      ok = f.ok;
    } else if (k == "day") {
      Fields f(v, 8);
      DayTotals& d = n.day_;
      d.gross = f.i(0);
      d.cancellations = f.i(1);
      d.discounts = f.i(2);
      d.increases = f.i(3);
      d.nonFiscal = f.i(4);
      d.movementDay = f.i(5);
      d.initialGrandTotal = f.i(6);
      d.initialCoo = static_cast<int>(f.i(7));
      ok = f.ok;
    } else if (k == "day.tax")
      ok = parseMap(v, n.day_.perTax);
    else if (k == "day.iss")
      n.day_.issDiscounts = num();
    else if (k == "doc.customer") {
      Fields f(v, 2);
      n.doc_.customerName = f.s(0);
      n.doc_.customerAddress = f.s(1);
      ok = f.ok;
    } else if (k == "lastZDay")
      n.lastZDay_ = num();
    else if (k == "lastDocTime")
      n.lastDocTime_ = num();
    else if (k == "authentications")
      n.authentications_ = static_cast<int>(num());
    else if (k == "doc") {
      Fields f(v, 11);
      Document& d = n.doc_;
      int64_t kind = f.i(0), state = f.i(1);
      d.coo = static_cast<int>(f.i(2));
      d.ccf = static_cast<int>(f.i(3));
      d.opened = f.i(4);
      d.customer = f.s(5);
      d.subtotalDiscount = f.i(6);
      d.subtotalIncrease = f.i(7);
      d.linkedPayment = static_cast<int>(f.i(8));
      d.linkedValue = f.i(9);
      d.report = static_cast<int>(f.i(10));
      ok = f.ok && kind >= 0 && kind <= static_cast<int>(DocKind::Report) && state >= 0 &&
           state <= static_cast<int>(ReceiptState::Paying);
      d.kind = static_cast<DocKind>(kind);
      d.state = static_cast<ReceiptState>(state);
    } else if (k == "doc.item" || k == "last.item") {
      Fields f(v, 11);
      Item i;
      i.number = static_cast<int>(f.i(0));
      i.code = f.s(1);
      i.description = f.s(2);
      i.unit = f.s(3);
      i.quantity = f.i(4);
      i.unitPrice = f.i(5);
      i.tax = f.s(6);
      i.discount = f.i(7);
      i.increase = f.i(8);
      i.title = static_cast<int>(f.i(9));
      i.cancelled = f.i(10) != 0;
      ok = f.ok;
      (k == "doc.item" ? n.doc_.items : n.last_.items).push_back(i);
    } else if (k == "doc.payment" || k == "last.payment") {
      Fields f(v, 3);
      Payment p{static_cast<int>(f.i(0)), f.i(1), f.s(2)};
      ok = f.ok;
      (k == "doc.payment" ? n.doc_.payments : n.last_.payments).push_back(p);
    } else if (k == "last") {
      Fields f(v, 9);
      ClosedReceipt& l = n.last_;
      l.coo = static_cast<int>(f.i(0));
      l.ccf = static_cast<int>(f.i(1));
      l.closed = f.i(2);
      l.total = f.i(3);
      l.change = f.i(4);
      l.discounts = f.i(5);
      l.increases = f.i(6);
      l.cancelled = f.i(7) != 0;
      l.lastDocument = f.i(8) != 0;
      ok = f.ok;
    } else if (k == "last.linked")
      n.last_.linkedIssued.push_back(static_cast<int>(num()));
    else if (k == "linked") {
      Fields f(v, 6);
      LinkedCopy& l = n.linked_;
      l.coo = static_cast<int>(f.i(0));
      l.receiptCoo = static_cast<int>(f.i(1));
      l.payment = static_cast<int>(f.i(2));
      l.value = f.i(3);
      l.allowed = f.i(4) != 0;
      l.text = f.s(5);
      ok = f.ok && l.payment < static_cast<int>(n.payments_.size());
    } else if (k == "z") {
      Fields f(v, 12);
      ZRecord z;
      z.crz = static_cast<int>(f.i(0));
      z.coo = static_cast<int>(f.i(1));
      z.cro = static_cast<int>(f.i(2));
      z.movementDay = f.i(3);
      z.emitted = f.i(4);
      z.grandTotal = f.i(5);
      z.gross = f.i(6);
      z.cancellations = f.i(7);
      z.discounts = f.i(8);
      z.increases = f.i(9);
      z.nonFiscal = f.i(10);
      ok = f.ok && parseMap(f.f.size() == 12 ? f.f[11] : std::string(), z.perTax);
      n.memory_.push_back(z);
    }
    // Unknown keys are skipped: a newer emulator may add fields.
    if (!ok) return fail("bad value for " + k + ": " + v);
  }
  // References into the tables must hold, or later commands would index past them.
  for (auto* ps : {&n.doc_.payments, &n.last_.payments})
    for (auto& p : *ps)
      if (p.type < 0 || p.type >= static_cast<int>(n.payments_.size())) return fail("payment out of the table");
  taxes_ = std::move(n.taxes_);
  payments_ = std::move(n.payments_);
  titles_ = std::move(n.titles_);
  reports_ = std::move(n.reports_);
  id_ = n.id_;
  doc_ = std::move(n.doc_);
  last_ = std::move(n.last_);
  linked_ = std::move(n.linked_);
  cnt_ = n.cnt_;
  day_ = std::move(n.day_);
  gt_ = n.gt_;
  memory_ = std::move(n.memory_);
  clockOffset_ = n.clockOffset_;
  dst_ = n.dst_;
  paperOut_ = n.paperOut_;
  nearEnd_ = n.nearEnd_;
  lastZDay_ = n.lastZDay_;
  lastDocTime_ = n.lastDocTime_;
  authentications_ = n.authentications_;
  return true;
}

bool FiscalCore::save(std::string* error) const {
  if (opt_.statePath.empty()) return true;
  namespace fs = std::filesystem;
  const std::string data = serialize();
  const std::string tmp = opt_.statePath + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot write " + tmp;
    return false;
  }
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fflush(f) == 0 && ok;
  // On disk before the rename, so the name never points at a half-written file.
#ifdef _WIN32
  ok = _commit(_fileno(f)) == 0 && ok;
#else
  ok = fsync(fileno(f)) == 0 && ok;
#endif
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::error_code ec;
    fs::remove(tmp, ec);
    if (error) *error = "cannot write " + tmp;
    return false;
  }
  std::error_code ec;
  fs::rename(tmp, opt_.statePath, ec);
  if (ec) {
    fs::remove(tmp, ec);
    if (error) *error = "cannot replace " + opt_.statePath;
    return false;
  }
  return true;
}

bool FiscalCore::load(std::string* error) {
  if (opt_.statePath.empty()) return true;
  std::string why;
  std::ifstream in(opt_.statePath, std::ios::binary);
  if (!in) {
    if (std::filesystem::exists(opt_.statePath)) {
      why = "cannot read " + opt_.statePath;
    } else {
      // A new printer: its first state is the fresh one.
      loadError_.clear();
      return save(error);
    }
  } else {
    std::stringstream ss;
    ss << in.rdbuf();
    if (deserialize(ss.str(), &why)) {
      loadError_.clear();
      return true;
    }
  }
  loadError_ = why.empty() ? "unreadable state file" : why;
  if (error) *error = loadError_;
  return false;
}

}  // namespace tarvion::emulator
