#include "emulator/paper.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/text.h"
#include "platform/platform.h"

namespace tarvion::emulator {

std::string money(Cents cents) {
  const bool neg = cents < 0;
  uint64_t v = neg ? static_cast<uint64_t>(-(cents + 1)) + 1 : static_cast<uint64_t>(cents);
  std::string whole = std::to_string(v / 100);
  std::string grouped;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i && (whole.size() - i) % 3 == 0) grouped += '.';
    grouped += whole[i];
  }
  std::string out = neg ? "-" : "";
  out += grouped;
  out += text::format(",%02u", static_cast<unsigned>(v % 100));
  return out;
}

std::string quantity(int64_t t) {
  const bool neg = t < 0;
  uint64_t v = neg ? static_cast<uint64_t>(-t) : static_cast<uint64_t>(t);
  std::string out = neg ? "-" : "";
  out += std::to_string(v / 1000);
  out += text::format(",%03u", static_cast<unsigned>(v % 1000));
  return out;
}

std::string dateText(int64_t seconds) {
  Stamp s = fromSeconds(seconds);
  return text::format("%02d/%02d/%04d", s.day, s.month, s.year);
}

std::string dateTimeText(int64_t seconds) {
  Stamp s = fromSeconds(seconds);
  return text::format("%02d/%02d/%04d %02d:%02d:%02d", s.day, s.month, s.year, s.hour, s.minute, s.second);
}

std::string taxText(const FiscalCore& core, const std::string& label) {
  if (isSpecialTax(label)) {
    // Exempt, substitution and not-taxed totals read as a letter and the index 1.
    if (label[0] == 'S') return text::format("%cS1", label[1]);
    return text::format("%c1", label[0]);
  }
  int pos = 0;
  for (char c : label)
    if (c >= '0' && c <= '9') pos = pos * 10 + (c - '0');
  if (pos < 1 || pos > static_cast<int>(core.taxes().size())) return label;
  const Tax& t = core.taxes()[pos - 1];
  return text::format("%c%02d,%02d%%", t.kind, t.rate / 100, t.rate % 100);
}

namespace {

// 0 to 999 in words, lower case UTF-8.
std::string hundredsInWords(int n) {
  static const char* units[] = {"",        "um",     "dois",      "três",      "quatro",  "cinco",   "seis",
                                "sete",    "oito",   "nove",      "dez",       "onze",    "doze",    "treze",
                                "catorze", "quinze", "dezesseis", "dezessete", "dezoito", "dezenove"};
  static const char* tens[] = {"",          "",         "vinte",   "trinta",  "quarenta",
                               "cinquenta", "sessenta", "setenta", "oitenta", "noventa"};
  static const char* hundreds[] = {"",           "cento",      "duzentos",   "trezentos",  "quatrocentos",
                                   "quinhentos", "seiscentos", "setecentos", "oitocentos", "novecentos"};
  if (n == 100) return "cem";
  std::string out;
  auto join = [&](const std::string& w) {
    if (w.empty()) return;
    if (!out.empty()) out += " e ";
    out += w;
  };
  join(hundreds[n / 100]);
  const int r = n % 100;
  if (r < 20) {
    join(units[r]);
  } else {
    join(tens[r / 10]);
    join(units[r % 10]);
  }
  return out;
}

// A whole number in words, by groups of thousands ("mil" without "um"). A group
// joins the one before with "e" when nothing follows it and it is below a
// hundred or a round hundred ("mil e cem", "um milhão e duzentos mil"), with a
// blank otherwise ("mil duzentos e trinta").
std::string integerInWords(uint64_t n) {
  if (n == 0) return "zero";
  struct Scale {
    uint64_t size;
    const char *one, *many;
  };
  static const Scale scales[] = {{1000000000000ull, "trilhão", "trilhões"},
                                 {1000000000ull, "bilhão", "bilhões"},
                                 {1000000ull, "milhão", "milhões"},
                                 {1000ull, "mil", "mil"},
                                 {1ull, "", ""}};
  std::string out;
  uint64_t rest = n;
  for (const Scale& s : scales) {
    const int g = static_cast<int>(rest / s.size);
    rest %= s.size;
    if (g == 0) continue;
    if (!out.empty()) out += rest == 0 && (g < 100 || g % 100 == 0) ? " e " : " ";
    if (s.size == 1000 && g == 1)
      out += "mil";
    else if (s.size == 1)
      out += hundredsInWords(g);
    else
      out += hundredsInWords(g) + " " + (g == 1 ? s.one : s.many);
  }
  return out;
}

std::vector<std::string> splitWords(const std::string& s) {
  std::vector<std::string> out;
  std::string w;
  for (char ch : s) {
    if (ch == ' ') {
      if (!w.empty()) out.push_back(w);
      w.clear();
    } else {
      w += ch;
    }
  }
  if (!w.empty()) out.push_back(w);
  return out;
}

}  // namespace

std::string amountInWords(Cents cents, const std::string& singular, const std::string& plural) {
  const uint64_t v = cents < 0 ? 0 : static_cast<uint64_t>(cents);
  const uint64_t whole = v / 100;
  const int frac = static_cast<int>(v % 100);
  std::string out;
  if (whole > 0) {
    out = text::cp(integerInWords(whole));
    // "um milhão de reais": a round million or more takes "de".
    if (whole >= 1000000 && whole % 1000000 == 0) out += " de";
    out += " " + (whole == 1 ? singular : plural);
  }
  if (frac > 0) {
    if (!out.empty()) out += " e ";
    out += text::cp(hundredsInWords(frac)) + (frac == 1 ? " centavo" : " centavos");
  }
  if (out.empty()) out = "zero " + plural;
  return text::upper(out);
}

Paper::Paper(int columns) : columns_(columns < 20 ? 20 : columns) {}

Paper::Paper(const std::string& path, int columns) : path_(path), columns_(columns < 20 ? 20 : columns) {
  fileStart_ = fileSize();
}

uint64_t Paper::fileSize() const {
  std::error_code ec;
  const auto n = std::filesystem::file_size(path_, ec);
  return ec ? 0 : static_cast<uint64_t>(n);
}

void Paper::emit(const std::string& utf8Line) {
  std::lock_guard<std::mutex> lock(mu_);
  ++lines_;
  if (path_.empty()) {
    memory_ += utf8Line;
    memory_ += '\n';
    if (memory_.size() > kMemoryLimit) {
      // Trimmed by a quarter at a time, at a line break, so that each byte is
      // moved a bounded number of times.
      size_t cut = memory_.size() - kMemoryLimit * 3 / 4;
      const size_t nl = memory_.find('\n', cut);
      cut = nl == std::string::npos ? memory_.size() : nl + 1;
      memory_.erase(0, cut);
    }
    return;
  }
  // Opened per line: the file may be rotated or removed while the printer runs.
  // Never through a symbolic link: the text is the host's, and a link planted
  // in a shared folder would carry it into another file.
  platform::appendToLog(path_, utf8Line + '\n');
  tail_.push_back(utf8Line);
  tailBytes_ += utf8Line.size() + 1;
  while (tail_.size() > kTailLines) {
    tailBytes_ -= tail_.front().size() + 1;
    tail_.pop_front();
  }
}

void Paper::line(const std::string& cp) {
  std::string clean;
  for (char ch : cp) {
    auto b = static_cast<uint8_t>(ch);
    if (b == '\t')
      clean += ' ';
    else if (b >= 0x20 && b != 0x7F)
      clean += ch;
  }
  // A printer wraps what does not fit; so does the paper.
  const size_t cols = static_cast<size_t>(columns_);
  if (clean.empty()) {
    emit("");
    return;
  }
  for (size_t i = 0; i < clean.size(); i += cols) emit(text::cp1252ToUtf8(text::trimRight(clean.substr(i, cols))));
}

void Paper::text(const std::string& cp) {
  std::string cur;
  for (size_t i = 0; i < cp.size(); ++i) {
    char c = cp[i];
    if (c == '\r' || c == '\n') {
      line(cur);
      cur.clear();
      if (c == '\r' && i + 1 < cp.size() && cp[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) line(cur);
}

void Paper::centered(const std::string& cp) {
  const int cols = columns_;
  if (static_cast<int>(cp.size()) >= cols) return line(cp);
  line(std::string(static_cast<size_t>((cols - static_cast<int>(cp.size())) / 2), ' ') + cp);
}

void Paper::leftRight(const std::string& left, const std::string& right) {
  const size_t cols = static_cast<size_t>(columns_);
  if (left.size() + right.size() + 1 > cols) {
    line(left);
    line(std::string(right.size() < cols ? cols - right.size() : 0, ' ') + right);
    return;
  }
  line(left + std::string(cols - left.size() - right.size(), ' ') + right);
}

void Paper::rule(char c) {
  line(std::string(static_cast<size_t>(columns_), c));
}

void Paper::blank() {
  emit("");
}

std::string Paper::printed() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (path_.empty()) return memory_;
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    std::string t;
    for (const std::string& l : tail_) t += l + '\n';
    return t;
  }
  // A file shorter than where this object began was rotated: all of it is ours.
  const uint64_t size = fileSize();
  in.seekg(static_cast<std::streamoff>(fileStart_ <= size ? fileStart_ : 0));
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Paper::tail(size_t lines) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string t;
  if (path_.empty()) {
    if (lines == 0) return t;
    // Back from the end: each line break before the last one starts a line.
    size_t start = 0, found = 0;
    for (size_t i = memory_.size(); i > 0; --i)
      if (memory_[i - 1] == '\n' && i != memory_.size() && ++found == lines) {
        start = i;
        break;
      }
    return memory_.substr(start);
  }
  const size_t skip = tail_.size() > lines ? tail_.size() - lines : 0;
  for (size_t i = skip; i < tail_.size(); ++i) t += tail_[i] + '\n';
  return t;
}

size_t Paper::memoryBytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return memory_.size() + tailBytes_;
}

void Paper::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  memory_.clear();
  memory_.shrink_to_fit();
  tail_.clear();
  tailBytes_ = 0;
  if (!path_.empty()) fileStart_ = fileSize();
}

void Paper::header(const FiscalCore& core, const std::string& title) {
  const Identity& id = core.identity();
  centered(id.ownerName);
  centered(id.ownerAddress);
  line("CNPJ " + id.ownerCnpj);
  line("IE " + id.ownerIe);
  rule();
  const Document& d = core.document();
  std::string right;
  if (d.kind == DocKind::Fiscal)
    right = text::format("CCF:%06d ", d.ccf);
  else if (d.kind != DocKind::None)
    right = text::format("GNF:%06d ", core.counters().gnf);
  right += text::format("COO:%06d", d.kind != DocKind::None ? d.coo : core.counters().coo);
  leftRight(dateTimeText(core.now()), right);
  centered(title);
  if (d.kind == DocKind::Fiscal) {
    if (!d.customer.empty()) line(text::cp("CPF/CNPJ consumidor: ") + d.customer);
    if (!d.customerName.empty()) line("Nome: " + d.customerName);
    if (!d.customerAddress.empty()) line(text::cp("Endereço: ") + d.customerAddress);
    line(text::cp("ITEM CÓDIGO DESCRIÇÃO"));
    line(text::cp("QTD.UN.VL UNIT(R$) ST VL ITEM(R$)"));
  }
  rule();
}

void Paper::item(const FiscalCore& core, const Item& it) {
  line(text::format("%03d ", it.number) + it.code + " " + it.description);
  leftRight(
      "    " + quantity(it.quantity) + " " + it.unit + " X " + quantity(it.unitPrice) + " " + taxText(core, it.tax),
      money(it.gross()));
  if (it.discount) leftRight("    desconto item", money(-it.discount));
  if (it.increase) leftRight(text::cp("    acréscimo item"), money(it.increase));
}

void Paper::itemCancelled(const FiscalCore&, const Item& it) {
  leftRight(text::format("CANCELAMENTO ITEM %03d ", it.number) + it.code, money(-it.net()));
}

void Paper::itemAdjusted(const FiscalCore&, const Item& it, bool increase, bool cancelled) {
  const Cents v = increase ? it.increase : it.discount;
  std::string what = increase ? text::cp("acréscimo") : "desconto";
  if (cancelled) {
    leftRight(text::format("    cancelamento %s item %03d", what.c_str(), it.number), money(increase ? -v : v));
    return;
  }
  leftRight(text::format("    %s item %03d", what.c_str(), it.number), money(increase ? v : -v));
}

void Paper::subtotal(const FiscalCore&, const Document& d) {
  rule();
  leftRight("SUBTOTAL R$", money(d.itemsTotal()));
  if (d.subtotalDiscount) leftRight("DESCONTO R$", money(-d.subtotalDiscount));
  if (d.subtotalIncrease) leftRight(text::cp("ACRÉSCIMO R$"), money(d.subtotalIncrease));
  leftRight("TOTAL R$", money(d.total()));
}

void Paper::payment(const FiscalCore& core, const Payment& p) {
  std::string name = p.type >= 0 && p.type < static_cast<int>(core.payments().size()) ? core.payments()[p.type].name
                                                                                      : text::format("%02d", p.type);
  leftRight(name, money(p.amount));
  if (!p.text.empty()) line("  " + p.text);
}

void Paper::receiptEnd(const FiscalCore& core, const Document& d, Cents change, const std::string& message) {
  if (change > 0) leftRight("TROCO R$", money(change));
  rule();
  if (!message.empty()) {
    text(message);
    rule();
  }
  (void)d;
  footer(core);
}

void Paper::receiptCancelled(const FiscalCore& core, int coo, Cents total) {
  centered("CUPOM FISCAL CANCELADO");
  leftRight(text::format("COO DO CUPOM CANCELADO: %06d", coo), "");
  leftRight("VALOR DO CUPOM CANCELADO R$", money(total));
  rule();
  footer(core);
}

void Paper::linkedHeader(const FiscalCore& core, const Document& d, int receiptCoo) {
  std::string name = d.linkedPayment >= 0 && d.linkedPayment < static_cast<int>(core.payments().size())
                         ? core.payments()[d.linkedPayment].name
                         : "";
  line(text::format("COO do documento vinculado: %06d", receiptCoo));
  leftRight(text::cp("Forma de pagamento: ") + name, d.linkedValue ? money(d.linkedValue) : "");
  rule();
}

void Paper::nonFiscalItem(const FiscalCore&, const Item& it) {
  leftRight(text::format("%02d ", it.title + 1) + it.description, money(it.gross()));
}

void Paper::report(const FiscalCore& core, const std::string& title, const std::vector<std::string>& lines) {
  header(core, title);
  for (auto& l : lines) text(l);
  rule();
  const Identity& id = core.identity();
  if (!id.appLine1.empty() || !id.appLine2.empty()) {
    if (!id.appLine1.empty()) line(id.appLine1);
    if (!id.appLine2.empty()) line(id.appLine2);
    rule();
  }
  footer(core);
}

void Paper::authentication(const FiscalCore& core, const std::string& t) {
  line(text::format("AUTENTICACAO COO:%06d ", core.counters().coo) + dateTimeText(core.now()) + " " + t);
}

void Paper::cut(int feed, bool partial) {
  for (int i = 0; i < feed; ++i) blank();
  // Drawn in UTF-8 directly: the scissors have no Windows-1252 code.
  const std::string label = partial ? " corte parcial " : " corte ";
  std::string mark = "\xE2\x9C\x82" + label;  // U+2702
  const int dashes = columns_ - 1 - static_cast<int>(label.size());
  for (int i = 0; i < dashes; ++i) mark += '-';
  emit(mark);
}

void Paper::check(const FiscalCore& core, const CheckPrint& c) {
  static const char* months[] = {"janeiro", "fevereiro", "março",    "abril",   "maio",     "junho",
                                 "julho",   "agosto",    "setembro", "outubro", "novembro", "dezembro"};
  const Identity& id = core.identity();
  const std::string title = " CHEQUE ";
  const int side = (columns_ - static_cast<int>(title.size())) / 2;
  line(std::string(static_cast<size_t>(side > 0 ? side : 0), '=') + title +
       std::string(static_cast<size_t>(columns_ - side - static_cast<int>(title.size()) > 0
                                           ? columns_ - side - static_cast<int>(title.size())
                                           : 0),
                   '='));
  leftRight("BANCO " + c.bank, "R$ " + money(c.value));
  line("PAGUE POR ESTE CHEQUE A QUANTIA DE");
  // The amount in words breaks between words, never inside one.
  std::string cur;
  for (const std::string& w : splitWords(amountInWords(c.value, id.currencySingular, id.currencyPlural))) {
    if (!cur.empty() && cur.size() + 1 + w.size() > static_cast<size_t>(columns_)) {
      line(cur);
      cur.clear();
    }
    cur += (cur.empty() ? "" : " ") + w;
  }
  if (!cur.empty()) line(cur);
  line(text::cp("A ") + c.payee);
  line(text::cp("OU À SUA ORDEM"));
  const Stamp d = fromSeconds(c.date);
  leftRight(
      "", c.city + text::format(", %d de ", d.day) + text::cp(months[d.month - 1]) + text::format(" de %04d", d.year));
  if (!c.extra.empty()) line(c.extra);
  rule('=');
  blank();
}

void Paper::footer(const FiscalCore& core) {
  const Identity& id = core.identity();
  leftRight(id.model, text::format("ECF:%03d", id.ecfNumber));
  leftRight("FAB:" + id.serial, dateTimeText(core.now()));
  rule('=');
  blank();
}

}  // namespace tarvion::emulator
