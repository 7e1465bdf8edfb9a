#include "emulator/paper.h"

#include <fstream>

#include "core/text.h"

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

Paper::Paper(int columns) : columns_(columns < 20 ? 20 : columns) {}

Paper::Paper(const std::string& path, int columns) : path_(path), columns_(columns < 20 ? 20 : columns) {}

void Paper::emit(const std::string& utf8Line) {
  std::lock_guard<std::mutex> lock(mu_);
  ++lines_;
  if (path_.empty()) {
    memory_ += utf8Line;
    memory_ += '\n';
    return;
  }
  // Opened per line: the file may be rotated or removed while the printer runs.
  std::ofstream out(path_, std::ios::binary | std::ios::app);
  out << utf8Line << '\n';
  memory_ += utf8Line;
  memory_ += '\n';
}

void Paper::line(const std::string& cp) {
  std::string clean;
  for (char ch : cp) {
    auto b = static_cast<uint8_t>(ch);
    if (b == '\t') clean += ' ';
    else if (b >= 0x20 && b != 0x7F) clean += ch;
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

void Paper::rule(char c) { line(std::string(static_cast<size_t>(columns_), c)); }

void Paper::blank() { emit(""); }

std::string Paper::printed() const {
  std::lock_guard<std::mutex> lock(mu_);
  return memory_;
}

void Paper::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  memory_.clear();
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
  if (d.kind == DocKind::Fiscal) right = text::format("CCF:%06d ", d.ccf);
  else if (d.kind != DocKind::None) right = text::format("GNF:%06d ", core.counters().gnf);
  right += text::format("COO:%06d", d.kind != DocKind::None ? d.coo : core.counters().coo);
  leftRight(dateTimeText(core.now()), right);
  centered(title);
  if (d.kind == DocKind::Fiscal) {
    if (!d.customer.empty()) line(text::cp("CPF/CNPJ consumidor: ") + d.customer);
    line(text::cp("ITEM CÓDIGO DESCRIÇÃO"));
    line(text::cp("QTD.UN.VL UNIT(R$) ST VL ITEM(R$)"));
  }
  rule();
}

void Paper::item(const FiscalCore& core, const Item& it) {
  line(text::format("%03d ", it.number) + it.code + " " + it.description);
  leftRight("    " + quantity(it.quantity) + " " + it.unit + " X " + quantity(it.unitPrice) + " " +
                taxText(core, it.tax),
            money(it.gross()));
  if (it.discount) leftRight("    desconto item", money(-it.discount));
  if (it.increase) leftRight(text::cp("    acréscimo item"), money(it.increase));
}

void Paper::itemCancelled(const FiscalCore&, const Item& it) {
  leftRight(text::format("CANCELAMENTO ITEM %03d ", it.number) + it.code, money(-it.net()));
}

void Paper::subtotal(const FiscalCore&, const Document& d) {
  rule();
  leftRight("SUBTOTAL R$", money(d.itemsTotal()));
  if (d.subtotalDiscount) leftRight("DESCONTO R$", money(-d.subtotalDiscount));
  if (d.subtotalIncrease) leftRight(text::cp("ACRÉSCIMO R$"), money(d.subtotalIncrease));
  leftRight("TOTAL R$", money(d.total()));
}

void Paper::payment(const FiscalCore& core, const Payment& p) {
  std::string name = p.type >= 0 && p.type < static_cast<int>(core.payments().size())
                         ? core.payments()[p.type].name
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
  footer(core);
}

void Paper::authentication(const FiscalCore& core, const std::string& t) {
  line(text::format("AUTENTICACAO COO:%06d ", core.counters().coo) + dateTimeText(core.now()) + " " + t);
}

void Paper::footer(const FiscalCore& core) {
  const Identity& id = core.identity();
  leftRight(id.model, text::format("ECF:%03d", id.ecfNumber));
  leftRight("FAB:" + id.serial, dateTimeText(core.now()));
  rule('=');
  blank();
}

}  // namespace tarvion::emulator
