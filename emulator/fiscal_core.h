// The fiscal half of a virtual printer, the same for every maker: tables, the
// document state machine, counters, totals, the fiscal memory of Z reductions,
// the clock and the paper flags. A protocol face decodes its maker's commands
// into these calls and encodes the refusals (FiscalError) as its own status
// bits; the Paper renders what a real printer would print.
//
// Money is kept in integer cents, quantities and unit prices in thousandths, so
// no total ever depends on floating point or on the process locale. Text is
// Windows-1252, as on the wire.
//
// When a state file is given, every change is written to it at once (temporary
// file in the same folder, flushed to disk, then renamed over the old one), so a
// killed emulator comes back exactly where it was, open receipt included.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarvion::emulator {

class Paper;
class StateFile;

using Cents = int64_t;

// Refusals of the fiscal half. Every face maps each to its maker's status codes.
enum class FiscalError {
  Ok = 0,
  ReceiptAlreadyOpen,  // a fiscal receipt is open
  NoReceiptOpen,       // the command needs an open fiscal receipt
  DocumentOpen,        // a linked receipt, report or non-fiscal receipt is open
  TaxNotProgrammed,
  TaxTableFull,
  PaymentNotProgrammed,
  PaymentTableFull,
  PaymentAlreadyProgrammed,
  TitleNotProgrammed,
  TitleTableFull,
  TitleAlreadyProgrammed,
  ReportNotProgrammed,
  NoItems,           // totalling a receipt without a sold item
  AlreadyTotalized,  // items or a second totalling after the subtotal
  NotTotalized,      // payment or closing before the subtotal
  ItemNotFound,
  ItemAlreadyCancelled,
  DiscountTooLarge,
  ZeroValue,            // sale, payment or non-fiscal value of zero
  PaymentsNotFinished,  // closing before the payments cover the total
  PaymentsFinished,     // a payment after the total is covered
  CancelNotAllowed,     // cancelling a receipt that is not the last document
  AlreadyCancelled,
  LinkedNotAllowed,  // no such payment in the receipt, or its linked receipt already issued
  NoLinkedOpen,
  NoReportOpen,
  NoNonFiscalOpen,
  ZPending,      // the day of the movement has passed without a Z reduction
  ZAlreadyDone,  // the day is closed by its Z reduction
  DaylightSavingNotAllowed,
  AuthenticationNotAllowed,
  PaperOut,
  InvalidDate,
  DateBeforeLastDocument,
  InvalidRange,
  FiscalMemoryFull,
  InvalidParameter,
  TooManyItems,
  DayHasMovement,        // table changes that need a day without movement
  ItemAdjustmentDone,    // the item already has a discount (or an increase) of that kind
  NoItemAdjustment,      // cancelling a discount (or an increase) the item does not have
  SecondCopyNotAllowed,  // a second copy is only for the linked receipt just closed
  MemoryWrite,           // the change could not be kept in the state file: nothing was done
};
const char* errorName(FiscalError e);

// Local calendar time of the printer, counted in seconds from 1970-01-01 00:00
// (no time zone: the printer's clock is a wall clock).
struct Stamp {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
bool validStamp(const Stamp& s);
int64_t toSeconds(const Stamp& s);
Stamp fromSeconds(int64_t seconds);
int64_t dayNumber(int64_t seconds);  // whole days since 1970-01-01
// The host's local wall clock in the same count.
int64_t hostLocalSeconds();

struct Tax {
  char kind = 'T';  // 'T' ICMS, 'S' ISS
  int rate = 0;     // percent x 100 (1800 is 18.00 %)
};

struct PaymentType {
  std::string name;
  Cents dayAmount = 0;  // received today on this type, change deducted
  int dayCount = 0;
};

struct NonFiscalTitle {
  std::string name;
  Cents dayAmount = 0;
  int dayCount = 0;
};

struct ManagementReport {
  std::string name;
  int dayCount = 0;
};

// Where an item's value is taxed: a programmed position "01".."16", or one of
// the fixed totals: "II" exempt, "FF" tax substitution, "NN" not taxed for ICMS,
// "SI", "SF", "SN" the same for ISS.
bool isSpecialTax(const std::string& label);

struct Item {
  int number = 0;
  std::string code, description, unit;
  int64_t quantity = 0;   // thousandths
  int64_t unitPrice = 0;  // thousandths of the currency
  std::string tax;        // position label ("01".."16") or special label
  Cents discount = 0, increase = 0;
  int title = -1;  // non-fiscal receipts: index of the totaliser
  bool cancelled = false;
  Cents gross() const;  // quantity x unit price, truncated to the cent
  Cents net() const { return gross() - discount + increase; }
};

struct Payment {
  int type = 0;  // index in the payment table
  Cents amount = 0;
  std::string text;
};

enum class DocKind { None, Fiscal, NonFiscal, Linked, Report };
enum class ReceiptState { Closed, Open, Items, Totalled, Paying };

struct Document {
  DocKind kind = DocKind::None;
  ReceiptState state = ReceiptState::Closed;
  int coo = 0;
  int ccf = 0;  // fiscal receipts
  int64_t opened = 0;
  std::string customer;  // the customer's CPF or CNPJ
  std::string customerName, customerAddress;
  std::vector<Item> items;
  Cents subtotalDiscount = 0, subtotalIncrease = 0;
  std::vector<Payment> payments;
  int linkedPayment = -1;  // linked receipt: its payment type
  Cents linkedValue = 0;
  int report = -1;  // management report: its index

  Cents itemsTotal() const;  // sum of the net values of the items not cancelled
  Cents total() const { return itemsTotal() - subtotalDiscount + subtotalIncrease; }
  Cents paid() const;
  int soldItems() const;
};

// The last fiscal receipt closed, kept for its cancellation and its linked receipts.
struct ClosedReceipt {
  int coo = 0, ccf = 0;
  int64_t closed = 0;
  Cents total = 0, change = 0;
  Cents grossValue = 0, discounts = 0, increases = 0;
  std::vector<Payment> payments;
  std::vector<Item> items;
  std::vector<int> linkedIssued;  // payment types that already had their linked receipt
  bool cancelled = false;
  bool lastDocument = false;  // nothing else was issued since it closed
};

struct Counters {
  int coo = 0;  // operation counter: every document
  int crz = 0;  // Z reductions
  int cro = 1;  // restarts (interventions)
  int gnf = 0;  // non-fiscal operations
  int ccf = 0;  // fiscal receipts
  int cdc = 0;  // linked receipts
  int grg = 0;  // management reports
  int cfc = 0;  // cancelled fiscal receipts
  int lastItem = 0;
};

struct DayTotals {
  Cents gross = 0;  // items registered, before any cancellation or discount
  Cents cancellations = 0, discounts = 0, increases = 0;
  Cents nonFiscal = 0;
  std::map<std::string, Cents> perTax;  // net value per tax label
  Cents issDiscounts = 0;               // the part of the discounts given on ISS items
  int64_t movementDay = -1;             // day of the first document since the last Z; -1 none
  Cents initialGrandTotal = 0;
  int initialCoo = 0;
};

struct ZRecord {
  int crz = 0, coo = 0, cro = 0;
  int64_t movementDay = 0;  // the day the reduction closes (day number)
  int64_t emitted = 0;      // when it was printed
  Cents grandTotal = 0, gross = 0, cancellations = 0, discounts = 0, increases = 0, nonFiscal = 0;
  std::map<std::string, Cents> perTax;
};

// The printer's identity and settings.
struct Identity {
  // As the printer answers it and prints it: 20 characters, the width of its
  // field in the replies, so that no padding tells the two apart.
  static constexpr size_t kSerialLength = 20;
  std::string serial = "BE000000000000000001";
  int firmware = 33000;  // version digits, two per field: 3.30.00
  int ecfNumber = 1;
  int userNumber = 1;
  std::string ownerName = "EMPRESA DEMONSTRACAO LTDA";
  std::string ownerAddress = "RUA DAS FLORES, 100 - CENTRO - SAO PAULO - SP";
  std::string ownerCnpj = "00.000.000/0001-91";
  std::string ownerIe = "111.111.111.111";
  std::string model = "ECF";
  int64_t fiscalStart = 0;  // seconds
  // The identification of the point-of-sale application, printed under the
  // reports the printer composes itself (X, Z, fiscal memory).
  std::string appLine1, appLine2;
  // The currency's name as the amount of a check is written out in words.
  std::string currencySingular = "Real", currencyPlural = "Reais";
};

// The linked receipt last issued, kept for its second copy.
struct LinkedCopy {
  int coo = 0, receiptCoo = 0;
  int payment = -1;
  Cents value = 0;
  std::string text;      // what was printed in its body
  bool allowed = false;  // it was the last document and has no second copy yet
};

// Reads of the fiscal memory.
struct MemoryRange {
  bool byDate = true;
  int64_t first = 0, last = 0;  // day numbers, or reduction counters
};

// Everything a printer keeps across a restart, as its state file holds it.
struct FiscalState {
  Identity id;
  std::vector<Tax> taxes;
  std::vector<PaymentType> payments;
  std::vector<NonFiscalTitle> titles;
  std::vector<ManagementReport> reports;
  Document doc;
  ClosedReceipt last;
  LinkedCopy linked;
  Counters counters;
  DayTotals day;
  Cents grandTotal = 0;
  std::vector<ZRecord> memory;  // the fiscal memory of Z reductions
  int64_t clockOffset = 0;      // printer clock minus host clock, seconds
  bool dst = false;
  bool paperOut = false, nearEnd = false;
  int64_t lastZDay = -1;
  int64_t lastDocTime = 0;
  int authentications = 0;  // left for the last document
};

class FiscalCore {
 public:
  static constexpr int kMaxTaxes = 16, kMaxPayments = 20, kMaxTitles = 50, kMaxReports = 20, kMaxItems = 999,
                       kMaxReductions = 9999;

  struct Options {
    std::string statePath;               // empty: nothing is saved
    std::function<int64_t()> hostClock;  // local seconds; the host's wall clock when empty
  };
  FiscalCore();
  explicit FiscalCore(Options options);
  ~FiscalCore();

  // ---- persistence
  // With a state file the constructor locks it (a second printer on the same
  // file is refused), then loads it; a missing file makes a fresh printer and
  // writes it. A file that is not there to be used (a folder that does not
  // exist, a symbolic link, in use, unreadable, corrupt, of another version,
  // with a field missing or out of range) is left byte for byte as it is, and
  // loadError() names the file and the field; such a printer refuses every
  // change with MemoryWrite until a later load succeeds or it is reset.
  //
  // Each change is written before the call returns; when it cannot be (disk
  // full, folder gone, no permission) the call returns MemoryWrite and the
  // printer goes back to the state last written, as a printer reports a
  // memory error and keeps what its memory holds.
  bool load(std::string* error = nullptr);
  const std::string& loadError() const { return loadError_; }
  bool save(std::string* error = nullptr) const;
  const std::string& statePath() const { return opt_.statePath; }
  const FiscalState& state() const { return st_; }
  // The state as the file holds it (JSON).
  std::string serialize() const;
  bool deserialize(const std::string& text, std::string* error = nullptr);
  // Back to a fresh printer (tables, counters and memory), saved.
  FiscalError factoryReset();

  // ---- paper
  void setPaper(std::shared_ptr<Paper> paper) { paper_ = std::move(paper); }
  Paper* paper() const { return paper_.get(); }

  // ---- clock
  int64_t now() const;  // the printer's clock
  FiscalError setClock(int64_t printerSeconds);
  int64_t clockOffset() const { return st_.clockOffset; }
  bool daylightSaving() const { return st_.dst; }
  // Entering moves the clock one hour forward, leaving one hour back. Allowed
  // only while the day has no movement.
  FiscalError setDaylightSaving(bool on);

  // ---- paper flags
  bool paperOut() const { return st_.paperOut; }
  bool paperNearEnd() const { return st_.nearEnd; }
  FiscalError setPaperOut(bool v);
  FiscalError setPaperNearEnd(bool v);

  // ---- identity and tables
  const Identity& identity() const { return st_.id; }
  FiscalError setIdentity(const Identity& id);
  const std::vector<Tax>& taxes() const { return st_.taxes; }
  const std::vector<PaymentType>& payments() const { return st_.payments; }
  const std::vector<NonFiscalTitle>& titles() const { return st_.titles; }
  const std::vector<ManagementReport>& reports() const { return st_.reports; }
  // The new entry's index (0-based) in out.
  FiscalError addTax(char kind, int rate, int* position = nullptr);
  FiscalError addPayment(const std::string& name, int* index = nullptr);
  FiscalError addTitle(const std::string& name, int* index = nullptr);
  FiscalError addReport(const std::string& name, int* index = nullptr);
  int paymentIndex(const std::string& name) const;  // case and trailing blanks ignored; -1
  int titleIndex(const std::string& name) const;

  // ---- documents
  const Document& document() const { return st_.doc; }
  const ClosedReceipt& lastReceipt() const { return st_.last; }
  const LinkedCopy& lastLinked() const { return st_.linked; }
  const Counters& counters() const { return st_.counters; }
  const DayTotals& day() const { return st_.day; }
  Cents grandTotal() const { return st_.grandTotal; }
  const std::vector<ZRecord>& fiscalMemory() const { return st_.memory; }
  bool receiptOpen() const { return st_.doc.kind == DocKind::Fiscal; }
  // The day has a movement from an earlier date: nothing fiscal until the Z.
  bool zPending() const;
  // The Z reduction of today was done: nothing fiscal until tomorrow.
  bool dayClosed() const;
  int64_t lastReductionDay() const { return st_.lastZDay; }
  int64_t lastDocument() const { return st_.lastDocTime; }

  FiscalError openReceipt(const std::string& customer = {}, const std::string& name = {},
                          const std::string& address = {});
  struct ItemInput {
    std::string code, description, unit, tax;
    int64_t quantity = 0, unitPrice = 0;
    Cents discount = 0, increase = 0;
  };
  FiscalError registerItem(const ItemInput& in, int* number = nullptr);
  FiscalError cancelItem(int number);
  FiscalError cancelLastItem();
  // A discount or an increase given to an item after it was registered, while
  // the receipt is not yet totalled. An item takes one of each at most.
  FiscalError adjustItem(int number, bool increase, Cents value);
  FiscalError cancelItemAdjustment(int number, bool increase);
  // Closes the list of items with a discount or increase on the subtotal.
  FiscalError totalize(Cents discount, Cents increase);
  FiscalError pay(int type, Cents amount, const std::string& text = {});
  FiscalError closeReceipt(const std::string& message);
  // The open receipt, or the last one when nothing was issued after it.
  FiscalError cancelReceipt();

  // Linked receipt of a payment of the last fiscal receipt (coo 0: the last one).
  FiscalError openLinked(int paymentType, Cents value = 0, int coo = 0);
  FiscalError linkedText(const std::string& text);
  FiscalError closeLinked();
  // The second copy of the linked receipt just closed (only that one, only once).
  FiscalError linkedSecondCopy();

  FiscalError openReport(int report = 0);
  FiscalError reportText(const std::string& text);
  FiscalError closeReport();

  // Non-fiscal receipt in steps (open, items per totaliser, then totalize, pay
  // and close as a fiscal receipt) or in one go.
  FiscalError openNonFiscal();
  FiscalError nonFiscalItem(int title, Cents value);
  FiscalError nonFiscalReceipt(int title, Cents value, int paymentType);

  FiscalError xReport();
  // emitted: when the reduction is printed (0: the clock). A later date-time sets
  // the clock, as a printer that takes the host's time with the reduction.
  FiscalError zReduction(int64_t emitted = 0);
  FiscalError readFiscalMemory(const MemoryRange& range, bool full, std::vector<ZRecord>* out = nullptr,
                               bool print = true);
  FiscalError authenticate(const std::string& text);

  // The text of an X report (what the paper gets), for the reads that return it.
  std::vector<std::string> xReportLines() const;
  std::vector<std::string> memoryLines(const std::vector<ZRecord>& records, bool full) const;

 private:
  FiscalError liveItem(int number, Item*& out);
  template <class List>
  FiscalError addNamed(List& list, const std::string& name, int max, FiscalError duplicate, FiscalError full,
                       int* index);
  FiscalError canStartDocument(bool movement) const;
  FiscalError printable() const;
  void beginDocument(DocKind kind);
  void touchMovement();
  void endDocument();
  // The rule and the footer on paper, then endDocument.
  void finishDocument();
  // Ok when a document of this kind is open and the paper is in; else notOpen
  // or PaperOut.
  FiscalError printingIn(DocKind kind, FiscalError notOpen) const;
  void closeFiscal();
  bool issTax(const std::string& label) const;
  void cancelOpenFiscal();
  // Writes the change just made; MemoryWrite (and the state last written back
  // in memory) when it cannot be kept.
  FiscalError commit();
  void fresh();
  FiscalError receiptFlow() const;  // a fiscal or non-fiscal receipt is open

  Options opt_;
  std::shared_ptr<Paper> paper_;
  FiscalState st_;
  // What the state file holds: the state the printer falls back to when a
  // change cannot be written, so that memory and disk always agree.
  FiscalState saved_;
  int batch_ = 0;                    // inside a compound operation: save once at its end
  std::string loadError_;            // set while the state file could not be read back
  std::unique_ptr<StateFile> file_;  // with a state path: the file, locked
};

}  // namespace tarvion::emulator
