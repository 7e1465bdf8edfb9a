#include "emulator/fiscal_state_file.h"

#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

#include "core/text.h"
#include "platform/durable_file.h"

namespace tarvion::emulator {

namespace {

using Json = nlohmann::ordered_json;

// The widest values the printers hold: 18 digits of money (the grand total's
// BCD field), six-digit document counters, four-digit reduction counters, the
// calendar up to the end of year 9999.
constexpr int64_t kMaxMoney = 999999999999999999;
constexpr int64_t kMinSeconds = -2208988800;   // 1900-01-01 00:00:00
constexpr int64_t kMaxSeconds = 253402300799;  // 9999-12-31 23:59:59
constexpr int64_t kMinDay = kMinSeconds / 86400, kMaxDay = kMaxSeconds / 86400;
constexpr int64_t kMaxCount = 999999;
constexpr int64_t kMaxShortCount = 9999;

const char* kindName(DocKind k) {
  switch (k) {
    case DocKind::None:
      return "none";
    case DocKind::Fiscal:
      return "fiscal";
    case DocKind::NonFiscal:
      return "nonFiscal";
    case DocKind::Linked:
      return "linked";
    case DocKind::Report:
      return "report";
  }
  return "none";
}

const char* stateName(ReceiptState s) {
  switch (s) {
    case ReceiptState::Closed:
      return "closed";
    case ReceiptState::Open:
      return "open";
    case ReceiptState::Items:
      return "items";
    case ReceiptState::Totalled:
      return "totalled";
    case ReceiptState::Paying:
      return "paying";
  }
  return "closed";
}

// ------------------------------------------------------------------ writing

// JSON strings are UTF-8; the printer's text is Windows-1252 (every byte maps
// to a code point and back).
std::string u8(const std::string& cp) {
  return text::cp1252ToUtf8(cp);
}

Json moneyMap(const std::map<std::string, Cents>& m) {
  Json o = Json::object();
  for (auto& [k, v] : m) o[u8(k)] = v;
  return o;
}

Json itemJson(const Item& i) {
  return Json{{"number", i.number}, {"code", u8(i.code)},      {"description", u8(i.description)},
              {"unit", u8(i.unit)}, {"quantity", i.quantity},  {"unitPrice", i.unitPrice},
              {"tax", u8(i.tax)},   {"discount", i.discount},  {"increase", i.increase},
              {"title", i.title},   {"cancelled", i.cancelled}};
}

Json paymentsJson(const std::vector<Payment>& ps) {
  Json a = Json::array();
  for (auto& p : ps) a.push_back(Json{{"type", p.type}, {"amount", p.amount}, {"text", u8(p.text)}});
  return a;
}

Json itemsJson(const std::vector<Item>& items) {
  Json a = Json::array();
  for (auto& i : items) a.push_back(itemJson(i));
  return a;
}

}  // namespace

std::string stateToJson(const FiscalState& s) {
  Json j;
  j["format"] = kStateFormat;
  j["version"] = kStateVersion;
  const Identity& id = s.id;
  j["identity"] = Json{{"serial", u8(id.serial)},
                       {"firmware", id.firmware},
                       {"ecfNumber", id.ecfNumber},
                       {"userNumber", id.userNumber},
                       {"ownerName", u8(id.ownerName)},
                       {"ownerAddress", u8(id.ownerAddress)},
                       {"ownerCnpj", u8(id.ownerCnpj)},
                       {"ownerIe", u8(id.ownerIe)},
                       {"model", u8(id.model)},
                       {"fiscalStart", id.fiscalStart},
                       {"appLine1", u8(id.appLine1)},
                       {"appLine2", u8(id.appLine2)},
                       {"currencySingular", u8(id.currencySingular)},
                       {"currencyPlural", u8(id.currencyPlural)}};
  j["clock"] = Json{{"offset", s.clockOffset}, {"daylightSaving", s.dst}};
  j["paper"] = Json{{"out", s.paperOut}, {"nearEnd", s.nearEnd}};
  Json taxes = Json::array();
  for (auto& t : s.taxes) taxes.push_back(Json{{"kind", std::string(1, t.kind)}, {"rate", t.rate}});
  j["taxes"] = taxes;
  Json payments = Json::array();
  for (auto& p : s.payments)
    payments.push_back(Json{{"name", u8(p.name)}, {"dayAmount", p.dayAmount}, {"dayCount", p.dayCount}});
  j["payments"] = payments;
  Json titles = Json::array();
  for (auto& t : s.titles)
    titles.push_back(Json{{"name", u8(t.name)}, {"dayAmount", t.dayAmount}, {"dayCount", t.dayCount}});
  j["titles"] = titles;
  Json reports = Json::array();
  for (auto& r : s.reports) reports.push_back(Json{{"name", u8(r.name)}, {"dayCount", r.dayCount}});
  j["reports"] = reports;
  j["grandTotal"] = s.grandTotal;
  const Counters& c = s.counters;
  j["counters"] = Json{{"coo", c.coo}, {"crz", c.crz}, {"cro", c.cro}, {"gnf", c.gnf},          {"ccf", c.ccf},
                       {"cdc", c.cdc}, {"grg", c.grg}, {"cfc", c.cfc}, {"lastItem", c.lastItem}};
  const DayTotals& d = s.day;
  j["day"] = Json{{"gross", d.gross},
                  {"cancellations", d.cancellations},
                  {"discounts", d.discounts},
                  {"increases", d.increases},
                  {"nonFiscal", d.nonFiscal},
                  {"perTax", moneyMap(d.perTax)},
                  {"issDiscounts", d.issDiscounts},
                  {"movementDay", d.movementDay},
                  {"initialGrandTotal", d.initialGrandTotal},
                  {"initialCoo", d.initialCoo}};
  j["lastReductionDay"] = s.lastZDay;
  j["lastDocument"] = s.lastDocTime;
  j["authentications"] = s.authentications;
  const Document& doc = s.doc;
  j["document"] = Json{{"kind", kindName(doc.kind)},
                       {"state", stateName(doc.state)},
                       {"coo", doc.coo},
                       {"ccf", doc.ccf},
                       {"opened", doc.opened},
                       {"customer", u8(doc.customer)},
                       {"customerName", u8(doc.customerName)},
                       {"customerAddress", u8(doc.customerAddress)},
                       {"items", itemsJson(doc.items)},
                       {"subtotalDiscount", doc.subtotalDiscount},
                       {"subtotalIncrease", doc.subtotalIncrease},
                       {"payments", paymentsJson(doc.payments)},
                       {"linkedPayment", doc.linkedPayment},
                       {"linkedValue", doc.linkedValue},
                       {"report", doc.report}};
  const ClosedReceipt& l = s.last;
  j["lastReceipt"] = Json{{"coo", l.coo},
                          {"ccf", l.ccf},
                          {"closed", l.closed},
                          {"total", l.total},
                          {"change", l.change},
                          {"grossValue", l.grossValue},
                          {"discounts", l.discounts},
                          {"increases", l.increases},
                          {"payments", paymentsJson(l.payments)},
                          {"items", itemsJson(l.items)},
                          {"linkedIssued", l.linkedIssued},
                          {"cancelled", l.cancelled},
                          {"lastDocument", l.lastDocument}};
  const LinkedCopy& k = s.linked;
  j["lastLinked"] = Json{{"coo", k.coo},     {"receiptCoo", k.receiptCoo}, {"payment", k.payment},
                         {"value", k.value}, {"text", u8(k.text)},         {"allowed", k.allowed}};
  Json memory = Json::array();
  for (auto& z : s.memory)
    memory.push_back(Json{{"crz", z.crz},
                          {"coo", z.coo},
                          {"cro", z.cro},
                          {"movementDay", z.movementDay},
                          {"emitted", z.emitted},
                          {"grandTotal", z.grandTotal},
                          {"gross", z.gross},
                          {"cancellations", z.cancellations},
                          {"discounts", z.discounts},
                          {"increases", z.increases},
                          {"nonFiscal", z.nonFiscal},
                          {"perTax", moneyMap(z.perTax)}});
  j["fiscalMemory"] = memory;
  // One field per line: a person can read and compare two states.
  return j.dump(1) + "\n";
}

// ------------------------------------------------------------------ reading

namespace {

// A field the file cannot be trusted with; the whole load stops there.
struct Bad {
  std::string field, why;
};

// Reads the fields of one JSON object, naming each as "parent.key".
class Fields {
 public:
  Fields(const Json& object, std::string where) : o_(object), where_(std::move(where)) {
    if (!o_.is_object()) throw Bad{where_.empty() ? "(file)" : where_, "is not an object"};
  }

  std::string name(const char* key) const { return where_.empty() ? key : where_ + "." + key; }

  const Json& at(const char* key) const {
    auto it = o_.find(key);
    if (it == o_.end()) throw Bad{name(key), "is missing"};
    return *it;
  }

  int64_t integer(const char* key, int64_t lo, int64_t hi) const { return integerOf(at(key), name(key), lo, hi); }
  int small(const char* key, int64_t lo, int64_t hi) const { return static_cast<int>(integer(key, lo, hi)); }
  Cents money(const char* key) const { return integer(key, 0, kMaxMoney); }
  Cents signedMoney(const char* key) const { return integer(key, -kMaxMoney, kMaxMoney); }
  int64_t seconds(const char* key) const { return integer(key, kMinSeconds, kMaxSeconds); }
  int64_t day(const char* key) const { return integer(key, kMinDay, kMaxDay); }

  bool flag(const char* key) const {
    const Json& v = at(key);
    if (!v.is_boolean()) throw Bad{name(key), "is not true or false"};
    return v.get<bool>();
  }

  // Text of at most max characters (Windows-1252, as the printer keeps it).
  std::string str(const char* key, size_t max = 4096) const {
    const Json& v = at(key);
    if (!v.is_string()) throw Bad{name(key), "is not text"};
    std::string t = text::utf8ToCp1252(v.get<std::string>());
    if (t.size() > max) throw Bad{name(key), "is longer than " + std::to_string(max) + " characters"};
    return t;
  }

  const Json& array(const char* key, size_t max) const {
    const Json& v = at(key);
    if (!v.is_array()) throw Bad{name(key), "is not a list"};
    if (v.size() > max) throw Bad{name(key), "has more than " + std::to_string(max) + " entries"};
    return v;
  }

  Fields object(const char* key) const { return Fields(at(key), name(key)); }

  static int64_t integerOf(const Json& v, const std::string& field, int64_t lo, int64_t hi) {
    const std::string range = " (from " + std::to_string(lo) + " to " + std::to_string(hi) + ")";
    // Compared before any conversion: a number past the int64 range never
    // reaches signed arithmetic.
    if (v.is_number_unsigned()) {
      const uint64_t u = v.get<uint64_t>();
      if (u > static_cast<uint64_t>(hi)) throw Bad{field, std::to_string(u) + " is out of range" + range};
      return static_cast<int64_t>(u);
    }
    if (v.is_number_integer()) {
      const int64_t n = v.get<int64_t>();
      if (n < lo || n > hi) throw Bad{field, std::to_string(n) + " is out of range" + range};
      return n;
    }
    if (v.is_number_float()) throw Bad{field, v.dump() + " is not a whole number" + range};
    throw Bad{field, "is not a number"};
  }

 private:
  const Json& o_;
  std::string where_;
};

std::string indexed(const std::string& list, size_t i) {
  return list + "[" + std::to_string(i) + "]";
}

std::map<std::string, Cents> moneyMapOf(const Fields& f, const char* key) {
  const Json& v = f.at(key);
  if (!v.is_object()) throw Bad{f.name(key), "is not an object"};
  std::map<std::string, Cents> m;
  for (auto it = v.begin(); it != v.end(); ++it) {
    const std::string label = text::utf8ToCp1252(it.key());
    const std::string field = f.name(key) + "." + it.key();
    if (label.empty() || label.size() > 2) throw Bad{field, "is not a tax position"};
    m[label] = Fields::integerOf(it.value(), field, -kMaxMoney, kMaxMoney);
  }
  return m;
}

Item itemOf(const Json& v, const std::string& where) {
  Fields f(v, where);
  Item i;
  i.number = f.small("number", 1, FiscalCore::kMaxItems);
  i.code = f.str("code");
  i.description = f.str("description");
  i.unit = f.str("unit");
  i.quantity = f.integer("quantity", 0, 999999999);
  i.unitPrice = f.integer("unitPrice", 0, 999999999999999);
  // The gross value multiplies the two: the product must stay a number.
  if (i.unitPrice > 0 && i.quantity > std::numeric_limits<int64_t>::max() / i.unitPrice)
    throw Bad{where + ".unitPrice", "times the quantity is past any amount"};
  i.tax = f.str("tax", 2);
  i.discount = f.money("discount");
  i.increase = f.money("increase");
  i.title = f.small("title", -1, FiscalCore::kMaxTitles - 1);
  i.cancelled = f.flag("cancelled");
  return i;
}

std::vector<Item> itemsOf(const Fields& f, const char* key) {
  const Json& a = f.array(key, FiscalCore::kMaxItems);
  std::vector<Item> out;
  for (size_t i = 0; i < a.size(); ++i) out.push_back(itemOf(a[i], indexed(f.name(key), i)));
  return out;
}

std::vector<Payment> paymentsOf(const Fields& f, const char* key, size_t tableSize) {
  const Json& a = f.array(key, 1000);
  std::vector<Payment> out;
  for (size_t i = 0; i < a.size(); ++i) {
    Fields p(a[i], indexed(f.name(key), i));
    // A payment names an entry of the payment table: past it, later commands
    // would index outside the table.
    Payment pay{p.small("type", 0, static_cast<int64_t>(tableSize) - 1), p.money("amount"), p.str("text")};
    out.push_back(pay);
  }
  return out;
}

DocKind kindOf(const Fields& f) {
  const std::string k = f.str("kind", 16);
  for (DocKind d : {DocKind::None, DocKind::Fiscal, DocKind::NonFiscal, DocKind::Linked, DocKind::Report})
    if (k == kindName(d)) return d;
  throw Bad{f.name("kind"), "'" + k + "' is not a kind of document"};
}

ReceiptState receiptStateOf(const Fields& f) {
  const std::string k = f.str("state", 16);
  for (ReceiptState s :
       {ReceiptState::Closed, ReceiptState::Open, ReceiptState::Items, ReceiptState::Totalled, ReceiptState::Paying})
    if (k == stateName(s)) return s;
  throw Bad{f.name("state"), "'" + k + "' is not a state of a receipt"};
}

void checkTaxLabel(const std::string& label, size_t taxes, const std::string& field) {
  if (isSpecialTax(label)) return;
  if (label.size() == 2 && label[0] >= '0' && label[0] <= '9' && label[1] >= '0' && label[1] <= '9') {
    const size_t pos = static_cast<size_t>((label[0] - '0') * 10 + (label[1] - '0'));
    if (pos >= 1 && pos <= taxes) return;
  }
  throw Bad{field, "'" + label + "' is not a programmed tax"};
}

FiscalState parse(const Json& j) {
  Fields root(j, "");
  FiscalState s;
  {
    Fields f = root.object("identity");
    Identity& id = s.id;
    id.serial = f.str("serial", Identity::kSerialLength);
    id.firmware = f.small("firmware", 0, 999999);
    id.ecfNumber = f.small("ecfNumber", 0, 999);
    id.userNumber = f.small("userNumber", 0, 99);
    id.ownerName = f.str("ownerName");
    id.ownerAddress = f.str("ownerAddress");
    id.ownerCnpj = f.str("ownerCnpj");
    id.ownerIe = f.str("ownerIe");
    id.model = f.str("model");
    id.fiscalStart = f.seconds("fiscalStart");
    id.appLine1 = f.str("appLine1");
    id.appLine2 = f.str("appLine2");
    id.currencySingular = f.str("currencySingular");
    id.currencyPlural = f.str("currencyPlural");
  }
  {
    Fields f = root.object("clock");
    s.clockOffset = f.integer("offset", -kMaxSeconds, kMaxSeconds);
    s.dst = f.flag("daylightSaving");
  }
  {
    Fields f = root.object("paper");
    s.paperOut = f.flag("out");
    s.nearEnd = f.flag("nearEnd");
  }
  {
    const Json& a = root.array("taxes", FiscalCore::kMaxTaxes);
    for (size_t i = 0; i < a.size(); ++i) {
      Fields f(a[i], indexed("taxes", i));
      const std::string kind = f.str("kind", 1);
      if (kind != "T" && kind != "S") throw Bad{f.name("kind"), "is neither T (ICMS) nor S (ISS)"};
      s.taxes.push_back({kind[0], f.small("rate", 0, 9999)});
    }
  }
  {
    const Json& a = root.array("payments", FiscalCore::kMaxPayments);
    for (size_t i = 0; i < a.size(); ++i) {
      Fields f(a[i], indexed("payments", i));
      s.payments.push_back({f.str("name"), f.signedMoney("dayAmount"), f.small("dayCount", 0, kMaxCount)});
    }
    const Json& t = root.array("titles", FiscalCore::kMaxTitles);
    for (size_t i = 0; i < t.size(); ++i) {
      Fields f(t[i], indexed("titles", i));
      s.titles.push_back({f.str("name"), f.signedMoney("dayAmount"), f.small("dayCount", 0, kMaxCount)});
    }
    const Json& r = root.array("reports", FiscalCore::kMaxReports);
    for (size_t i = 0; i < r.size(); ++i) {
      Fields f(r[i], indexed("reports", i));
      s.reports.push_back({f.str("name"), f.small("dayCount", 0, kMaxCount)});
    }
  }
  s.grandTotal = root.money("grandTotal");
  {
    Fields f = root.object("counters");
    Counters& c = s.counters;
    c.coo = f.small("coo", 0, kMaxCount);
    c.crz = f.small("crz", 0, kMaxShortCount);
    c.cro = f.small("cro", 0, kMaxShortCount);
    c.gnf = f.small("gnf", 0, kMaxCount);
    c.ccf = f.small("ccf", 0, kMaxCount);
    c.cdc = f.small("cdc", 0, kMaxShortCount);
    c.grg = f.small("grg", 0, kMaxCount);
    c.cfc = f.small("cfc", 0, kMaxShortCount);
    c.lastItem = f.small("lastItem", 0, FiscalCore::kMaxItems);
  }
  {
    Fields f = root.object("day");
    DayTotals& d = s.day;
    d.gross = f.money("gross");
    d.cancellations = f.money("cancellations");
    d.discounts = f.money("discounts");
    d.increases = f.money("increases");
    d.nonFiscal = f.money("nonFiscal");
    d.perTax = moneyMapOf(f, "perTax");
    for (auto& [label, v] : d.perTax) checkTaxLabel(label, s.taxes.size(), f.name("perTax") + "." + label);
    d.issDiscounts = f.money("issDiscounts");
    d.movementDay = f.day("movementDay");
    d.initialGrandTotal = f.money("initialGrandTotal");
    d.initialCoo = f.small("initialCoo", 0, kMaxCount);
  }
  s.lastZDay = root.day("lastReductionDay");
  s.lastDocTime = root.seconds("lastDocument");
  s.authentications = root.small("authentications", 0, 4);
  const size_t payments = s.payments.size();
  {
    Fields f = root.object("document");
    Document& d = s.doc;
    d.kind = kindOf(f);
    d.state = receiptStateOf(f);
    d.coo = f.small("coo", 0, kMaxCount);
    d.ccf = f.small("ccf", 0, kMaxCount);
    d.opened = f.seconds("opened");
    d.customer = f.str("customer");
    d.customerName = f.str("customerName");
    d.customerAddress = f.str("customerAddress");
    d.items = itemsOf(f, "items");
    for (size_t i = 0; i < d.items.size(); ++i) {
      const Item& it = d.items[i];
      const std::string where = indexed(f.name("items"), i);
      if (d.kind == DocKind::NonFiscal && (it.title < 0 || static_cast<size_t>(it.title) >= s.titles.size()))
        throw Bad{where + ".title", std::to_string(it.title) + " is not a programmed non-fiscal title"};
      if (d.kind == DocKind::Fiscal) checkTaxLabel(it.tax, s.taxes.size(), where + ".tax");
    }
    d.subtotalDiscount = f.money("subtotalDiscount");
    d.subtotalIncrease = f.money("subtotalIncrease");
    d.payments = paymentsOf(f, "payments", payments);
    d.linkedPayment = f.small("linkedPayment", -1, static_cast<int64_t>(payments) - 1);
    d.linkedValue = f.money("linkedValue");
    d.report = f.small("report", -1, static_cast<int64_t>(s.reports.size()) - 1);
  }
  {
    Fields f = root.object("lastReceipt");
    ClosedReceipt& l = s.last;
    l.coo = f.small("coo", 0, kMaxCount);
    l.ccf = f.small("ccf", 0, kMaxCount);
    l.closed = f.seconds("closed");
    l.total = f.money("total");
    l.change = f.money("change");
    l.grossValue = f.money("grossValue");
    l.discounts = f.money("discounts");
    l.increases = f.money("increases");
    l.payments = paymentsOf(f, "payments", payments);
    l.items = itemsOf(f, "items");
    const Json& issued = f.array("linkedIssued", FiscalCore::kMaxPayments);
    for (size_t i = 0; i < issued.size(); ++i)
      l.linkedIssued.push_back(static_cast<int>(
          Fields::integerOf(issued[i], indexed(f.name("linkedIssued"), i), 0, static_cast<int64_t>(payments) - 1)));
    l.cancelled = f.flag("cancelled");
    l.lastDocument = f.flag("lastDocument");
  }
  {
    Fields f = root.object("lastLinked");
    LinkedCopy& k = s.linked;
    k.coo = f.small("coo", 0, kMaxCount);
    k.receiptCoo = f.small("receiptCoo", 0, kMaxCount);
    k.payment = f.small("payment", -1, static_cast<int64_t>(payments) - 1);
    k.value = f.money("value");
    k.text = f.str("text", size_t{1} << 26);  // the body of a linked receipt has no fixed length
    k.allowed = f.flag("allowed");
  }
  {
    const Json& a = root.array("fiscalMemory", FiscalCore::kMaxReductions);
    s.memory.reserve(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
      Fields f(a[i], indexed("fiscalMemory", i));
      ZRecord z;
      z.crz = f.small("crz", 1, kMaxShortCount);
      z.coo = f.small("coo", 0, kMaxCount);
      z.cro = f.small("cro", 0, kMaxShortCount);
      z.movementDay = f.day("movementDay");
      z.emitted = f.seconds("emitted");
      z.grandTotal = f.money("grandTotal");
      z.gross = f.money("gross");
      z.cancellations = f.money("cancellations");
      z.discounts = f.money("discounts");
      z.increases = f.money("increases");
      z.nonFiscal = f.money("nonFiscal");
      z.perTax = moneyMapOf(f, "perTax");
      s.memory.push_back(std::move(z));
    }
  }
  return s;
}

}  // namespace

bool stateFromJson(const std::string& content, FiscalState& out, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  // Parsed without exceptions: a cut or garbled file is one more refusal.
  const Json j = Json::parse(content, nullptr, false);
  if (j.is_discarded()) {
    const std::string t = text::trim(content);
    if (!t.empty() && t[0] == '{') return fail("not a complete JSON document (cut short or damaged)");
    return fail("not a JSON state file");
  }
  if (!j.is_object() || !j.contains("format") || !j["format"].is_string() ||
      j["format"].get<std::string>() != kStateFormat)
    return fail("not a fiscal state file (format is not \"" + std::string(kStateFormat) + "\")");
  if (!j.contains("version")) return fail("field version: is missing");
  const Json& v = j["version"];
  if (!v.is_number_integer() || v.get<int64_t>() != kStateVersion)
    return fail("unknown state version " + v.dump() + " (this emulator reads version " + std::to_string(kStateVersion) +
                ")");
  try {
    out = parse(j);
  } catch (const Bad& b) {
    return fail("field " + b.field + ": " + b.why);
  }
  return true;
}

// ------------------------------------------------------------------ the file

StateFile::StateFile(std::string path) : path_(std::move(path)), lock_(std::make_unique<platform::FileLock>()) {}

StateFile::~StateFile() = default;

bool StateFile::locked() const {
  return lock_->held();
}

bool StateFile::lock(std::string* error) {
  namespace fs = std::filesystem;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::error_code ec;
  const fs::path p(path_);
  const fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
  if (!fs::is_directory(folder, ec)) return fail(path_ + ": the folder " + folder.string() + " does not exist");
  if (fs::is_symlink(fs::symlink_status(p, ec))) return fail(path_ + ": a state file may not be a symbolic link");
  std::string why;
  if (!lock_->acquire(lockPath(), &why)) {
    if (why.find("locked") != std::string::npos)
      return fail(path_ + ": in use by another virtual printer (" + lockPath() + " is locked)");
    return fail(path_ + ": " + why);
  }
  return true;
}

StateFile::Read StateFile::read(FiscalState& out, std::string* error) const {
  std::string content, why;
  bool missing = false;
  if (!platform::readRegularFile(path_, content, &why, &missing)) {
    if (missing) return Read::Missing;
    if (error) *error = why.rfind(path_, 0) == 0 ? why : path_ + ": " + why;
    return Read::Refused;
  }
  if (!stateFromJson(content, out, &why)) {
    if (error) *error = path_ + ": " + why;
    return Read::Refused;
  }
  return Read::Loaded;
}

bool StateFile::write(const FiscalState& state, std::string* error) const {
  return platform::replaceFile(path_, stateToJson(state), error);
}

}  // namespace tarvion::emulator
