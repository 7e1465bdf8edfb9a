// Parameter fields and reply fields of the Bematech protocol, as pure functions.
#include <cmath>
#include <cstdlib>

#include "core/text.h"
#include "drivers/bematech/CBematech.h"

namespace tarvion::bematech::fmt {

namespace {

bool isAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string fixedField(double value, int width, int decimals) {
  return fields::printfFixed(value, width, decimals);
}

std::string padRight(const std::string& s, size_t width) {
  if (s.size() >= width) return s;
  return s + std::string(width - s.size(), ' ');
}

std::string totaliserCode(int t, const char* first, const char* second) {
  if (t == 1) return first;
  if (t == 2) return second;
  if (t <= 4) return text::format("#%i", t - 2);
  return text::format("%02i", t - 2);
}

long double bcdDecimal(const uint8_t* data, size_t n) {
  long double v = 0.0L;
  for (size_t i = 0; i < n; ++i) v = v * 100.0L + (data[i] >> 4) * 10 + (data[i] & 0x0F);
  return v;
}

long hexDigitsValue(const uint8_t* data, size_t n) {
  std::string digits = text::hexDump(data, n);
  long v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') break;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::string taxKey(double rate, bool service) {
  std::string key(1, service ? 'S' : 'T');
  key += fixedField(rate, 5, 2);
  return key;
}

std::string taxLabel(int index, double rate, bool service) {
  std::string label = text::format("%02i", index);
  label += service ? 'S' : 'T';
  label += fixedField(rate * 100, 4, 0);
  return label;
}

std::string exemptLabel(double rate, bool service) {
  const double t = std::trunc(rate);
  if (t == 0.0) return service ? "SI" : "II";
  if (t == -1.0) return service ? "SF" : "FF";
  if (t == -2.0) return service ? "SN" : "NN";
  return {};
}

std::string lastItemLabel(const std::string& label) {
  if (label.size() == 2) return std::string(1, label[0]) + "1";
  if (label.size() == 3) return std::string(1, label[1]) + "S1";
  return label;
}

std::string taxMissingMessage(double rate, bool service) {
  return text::cp(service ? "Alíquota de ISS de " : "Alíquota de ICMS de ") + fixedField(rate, 5, 2) +
         text::cp("% não cadastrada no ECF.");
}

ItemFields itemFields(const std::string& label, double quantity, double unitPrice, double discount, bool mp7000) {
  ItemFields f;
  fields::Checked num;
  f.tax = label.substr(0, 2);
  f.unitPrice = num(unitPrice, mp7000 ? field::kUnitPriceMP7000 : field::kUnitPrice);
  f.quantity = num(quantity, field::kQuantity);
  // A discount of no value is "no discount" whatever the quantity (0 * inf is no number).
  f.discount =
      num(discount > 0 ? discount * quantity : 0.0, mp7000 ? field::kItemDiscountMP7000 : field::kItemDiscount);
  f.increase = num(discount < 0 ? std::fabs(discount) * quantity : 0.0,
                   mp7000 ? field::kItemIncreaseMP7000 : field::kItemIncrease);
  f.error = num.error();
  return f;
}

std::string itemDescription(const std::string& description) {
  std::string d = description;
  for (auto& c : d)
    if (c == '\n' || c == '\r') c = ' ';
  d = text::trimRight(d);
  bool letter = false;
  for (char c : d) letter = letter || isAsciiLetter(c);
  if (!letter) {
    if (d.size() < 20) d.resize(20, ' ');
    d[19] = 'D';
  }
  if (d.size() > 199) d.resize(199);
  return text::trimRight(d);
}

std::string itemCode(const std::string& code) {
  return text::trimRight(code.substr(0, 14));
}

std::string closingText(const std::string& message, const std::string& line1, const std::string& line2, int columns) {
  auto fit = [columns](const std::string& line) {
    if (line.empty()) return line;
    std::string padded = padRight(line, 50);
    return padded.substr(0, static_cast<size_t>(columns > 0 ? columns : 0));
  };
  const std::string l1 = fit(line1), l2 = fit(line2);
  if (l1.empty()) return message;
  return l1 + l2 + message;
}

std::vector<std::string> reportBlocks(const std::string& text, int columns) {
  std::string rest = text + "\r";
  std::string joined;
  joined.reserve(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '\r' && i + 1 < rest.size() && rest[i + 1] == '\n') {
      joined += '\r';
      ++i;
    } else {
      joined += rest[i] == '\n' ? '\r' : rest[i];
    }
  }
  std::vector<std::string> blocks;
  std::string block;
  int lines = 0;
  size_t start = 0;
  const size_t width = static_cast<size_t>(columns > 0 ? columns : 0);
  for (size_t cr = joined.find('\r'); cr != std::string::npos; cr = joined.find('\r', start)) {
    std::string line = padRight(joined.substr(start, cr - start), 100).substr(0, width);
    block += text::trimRight(line) + "\n";
    start = cr + 1;
    if (++lines == 12) {
      blocks.push_back(block);
      block.clear();
      lines = 0;
    }
  }
  if (lines > 0) blocks.push_back(block);
  return blocks;
}

std::string dateField(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p)) return {};
  return text::format("%02d%02d%02d", p.day, p.month, p.year % 100);
}

std::string dateTimeField(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p)) return {};
  return text::format("%02d%02d%02d%02d%02d%02d", p.day, p.month, p.year % 100, p.hour, p.minute, p.second);
}

DateTime bcdDate(const uint8_t* data, size_t n) {
  if (n < 3) return DateTime::invalid();
  auto two = [data](size_t i) { return static_cast<int>(bcdValue(data + i, 1)); };
  if (n >= 6) return DateTime::fromParts(2000 + two(2), two(1), two(0), two(3), two(4), two(5));
  return DateTime::fromParts(2000 + two(2), two(1), two(0));
}

std::string taxFlags(const ByteArray& reply) {
  std::string flags;
  for (size_t i = 0; i < 2; ++i) {
    const uint8_t b = i < reply.size() ? reply[i] : 0;
    for (int bit = 7; bit >= 0; --bit) flags += ((b >> bit) & 1) ? '1' : '0';
  }
  return flags;
}

std::vector<std::string> taxList(const ByteArray& rates, const std::string& flags) {
  std::vector<std::string> list{""};
  if (rates.empty()) return list;
  const int count = rates[0];
  int k = 1;
  for (size_t pos = 1; static_cast<int>(pos) < 2 * count && pos + 1 < rates.size(); pos += 2, ++k) {
    const bool service = static_cast<size_t>(k) <= flags.size() && flags[static_cast<size_t>(k) - 1] != '0';
    std::string entry(1, service ? 'S' : 'T');
    entry += text::format("%02x.%02x", rates[pos], rates[pos + 1]);
    list.push_back(entry);
  }
  return list;
}

std::optional<size_t> replyLength(const ByteArray& command, const ByteArray& parameters, bool fsPrefix) {
  const size_t status = fsPrefix ? 4 : 2;
  if (command.empty()) return std::nullopt;
  if (isTextRead(command, parameters)) return std::nullopt;
  const uint8_t c = command[0];
  if (!isDataCommand(c)) return status;
  // The sub-code is the second byte of the command, or the first parameter byte
  // when an operation puts it there.
  int sub = -1;
  if (command.size() > 1)
    sub = command[1];
  else if (!parameters.empty())
    sub = parameters[0];
  size_t data = 0;
  switch (c) {
    case cmd::LoadTaxRates:
      data = 33;
      break;
    case cmd::ReceiptNumber:
      data = 3;
      break;
    case cmd::Read:
      switch (sub) {
        case sub::SerialNumber:
          data = 20;
          break;
        case sub::Firmware:
        case sub::ZCounter:
        case sub::RestartCounter:
        case sub::UserNumber:
        case sub::LastItem:
        case sub::PrinterNumber:
        case sub::TaxFlags:
          data = 2;
          break;
        case sub::GrandTotal:
          data = 9;
          break;
        case sub::CancelTotal:
        case sub::DiscountTotal:
        case sub::IncreaseTotal:
          data = 7;
          break;
        case sub::OperationCounter:
        case sub::NonFiscalCounter:
        case sub::Flags:
        case sub::LastReductionDate:
        case sub::MovementDate:
          data = 3;
          break;
        case sub::DateTime:
          data = 6;
          break;
        case sub::FiscalStartDate:
          data = 3 + 16 * 7;
          break;
        default:
          return std::nullopt;
      }
      break;
    case cmd::ReadBlock:
      if (sub != sub::InitialBlock) return std::nullopt;
      data = 296;
      break;
    default:
      return std::nullopt;
  }
  // A 35 or 62 read without its sub-code has no known layout.
  if ((c == cmd::Read || c == cmd::ReadBlock) && sub < 0) return std::nullopt;
  return data + status;
}

std::string textOfReply(const ByteArray& reply, bool fsPrefix) {
  const size_t front = 2, back = fsPrefix ? 4 : 2;
  if (reply.size() <= front + back) return {};
  return std::string(reply.begin() + static_cast<long>(front), reply.end() - static_cast<long>(back));
}

std::string fitField(const std::string& s, size_t n) {
  std::string out = s.substr(0, n);
  out.resize(n, ' ');
  return out;
}

// ---------------------------------------------------------------- FS printer text

std::string fsCharset(const std::string& cp1252) {
  std::string out;
  out.reserve(cp1252.size());
  for (char ch : cp1252) {
    const auto b = static_cast<uint8_t>(ch);
    if (b < 0xC0) {
      out += ch;
      continue;
    }
    switch (b) {
      // The printer's 850 set prints these four wrongly: their plain letters instead.
      case 0xD1:
        out += 'N';
        break;  // Ñ
      case 0xDD:
        out += 'Y';
        break;  // Ý
      case 0xF1:
        out += 'n';
        break;  // ñ
      case 0xFD:
        out += 'y';
        break;  // ý
      // Å Æ Ð × Ø Þ ß å æ ð ÷ ø þ ÿ: sent as they are.
      case 0xC5:
      case 0xC6:
      case 0xD0:
      case 0xD7:
      case 0xD8:
      case 0xDE:
      case 0xDF:
      case 0xE5:
      case 0xE6:
      case 0xF0:
      case 0xF7:
      case 0xF8:
      case 0xFE:
      case 0xFF:
        out += ch;
        break;
      default:
        out += text::cp1252ToCp850(std::string_view(&ch, 1));
        break;
    }
  }
  return out;
}

namespace {

struct Tag {
  std::string_view text;
  std::string_view printed;
};
// The markup a host may put into printed text; only bold reaches the printer.
constexpr Tag kTags[] = {{"<b>", "\x1B\x45"}, {"</b>", "\x1B\x46"}, {"<h>", ""},
                         {"</h>", ""},        {"<barcode>", ""},    {"</barcode>", ""}};

const Tag* tagAt(const std::string& s, size_t i) {
  for (const Tag& t : kTags)
    if (s.compare(i, t.text.size(), t.text) == 0) return &t;
  return nullptr;
}

}  // namespace

std::string fsLayout(const std::string& text, int columns) {
  std::string s;
  s.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      s += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      s += text[i];
    }
  }
  if (s.empty()) return "\n";
  const int width = columns > 0 ? columns : 1;
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    std::string piece;
    int visible = 0;
    bool ended = false;
    while (i < s.size()) {
      if (const Tag* t = tagAt(s, i)) {
        piece += t->printed;
        i += t->text.size();
        continue;
      }
      if (visible == width) break;
      piece += s[i];
      if (s[i++] == '\n') {
        ended = true;
        break;
      }
      ++visible;
    }
    // A full line wraps on the printer by itself; a shorter one needs its line feed.
    if (!ended && visible != width) piece += '\n';
    out += piece;
  }
  return out;
}

std::string cutText(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  if (n > 0 && text[n - 1] == '\x1B') --n;
  return text.substr(0, n);
}

std::vector<std::string> textBlocks(const std::string& text) {
  std::vector<std::string> blocks;
  size_t at = 0;
  while (text.size() - at > kBlockLimit) {
    size_t n = kBlockLimit;
    if (text[at + 598] == '\x1B')
      n = 598;
    else if (text[at + 599] == '\x1B')
      n = 599;
    blocks.push_back(text.substr(at, n));
    at += n;
  }
  if (at < text.size() || blocks.empty()) blocks.push_back(text.substr(at));
  return blocks;
}

// ---------------------------------------------------------------- checks

namespace {
// The banks of the printers' check layout table.
constexpr std::string_view kBanks[] = {
    "000", "001", "003", "004", "006", "008", "021", "022", "024", "027", "028", "029", "031", "032", "033",
    "034", "035", "036", "037", "038", "039", "041", "047", "048", "059", "070", "104", "106", "151", "153",
    "168", "200", "201", "206", "207", "211", "215", "220", "230", "231", "237", "244", "254", "275", "282",
    "291", "294", "302", "308", "320", "334", "341", "346", "347", "351", "353", "356", "369", "370", "372",
    "376", "388", "389", "392", "394", "399", "409", "415", "420", "422", "424", "434", "453", "456", "464",
    "472", "477", "479", "483", "487", "494", "602", "603", "607", "610", "630", "718", "756", "995", "996"};

std::string bankDigits(const std::string& number) {
  std::string n = text::trim(number);
  for (char c : n)
    if (c < '0' || c > '9') return n;
  if (!n.empty() && n.size() < 3) n.insert(0, 3 - n.size(), '0');
  return n;
}
}  // namespace

bool knownBank(const std::string& number) {
  const std::string n = bankDigits(number);
  for (std::string_view b : kBanks)
    if (n == b) return true;
  return false;
}

std::string bankField(const std::string& number) {
  return knownBank(number) ? bankDigits(number) : "###";
}

std::string checkDate(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p) && !DateTime::now().parts(p)) return "00000000";
  return text::format("%02d%02d%04d", p.day, p.month, p.year);
}

bool documentReady(uint8_t b) {
  return (b & 0x04) && (b & 0x20) && (b & 0x40) && !(b & 0x08);
}
bool documentReadyMP7000(uint8_t b) {
  return (b & 0x01) && (b & 0x40) && (b & 0x08);
}

std::string cmc7Text(const std::string& raw, bool dropLetters) {
  std::string out;
  for (char c : padRight(raw, 33)) {
    if (c == ' ' || c == '<' || c == '>' || c == '^' || c == '=' || c == '/') continue;
    if (dropLetters && c >= 'a' && c <= 'e') continue;
    out += c;
  }
  return out;
}

std::string pafIdentification(const std::string& line1, const std::string& line2) {
  return fitField(line1, 48) + fitField(line2, 36);
}

}  // namespace tarvion::bematech::fmt
