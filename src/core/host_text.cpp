#include "core/host_text.h"

#include "core/text.h"

namespace tarvion::text {

namespace {

bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// The length of the tag at `at` (s[at] == '<'), 0 when it is no tag.
size_t tagLength(std::string_view s, size_t at, Token& t) {
  size_t i = at + 1;
  const bool closing = i < s.size() && s[i] == '/';
  if (closing) ++i;
  const size_t nameStart = i;
  if (i >= s.size() || !isLetter(s[i])) return 0;
  while (i < s.size() && (isLetter(s[i]) || isDigit(s[i]))) ++i;
  const size_t nameEnd = i;
  size_t attrStart = i;
  if (!closing && i < s.size() && isBlank(s[i])) {
    while (i < s.size() && isBlank(s[i])) ++i;
    attrStart = i;
    // Attributes run to the '>' within the line; another '<' first means
    // this was no tag.
    while (i < s.size() && s[i] != '>' && s[i] != '<' && s[i] != '\n' && s[i] != '\r') ++i;
  }
  if (i >= s.size() || s[i] != '>') return 0;
  t.kind = closing ? Token::Kind::Close : Token::Kind::Open;
  t.name = s.substr(nameStart, nameEnd - nameStart);
  t.attributes = s.substr(attrStart, i - attrStart);
  t.raw = s.substr(at, i + 1 - at);
  return i + 1 - at;
}

bool isHostTag(std::string_view name) {
  for (std::string_view h : kHostTags)
    if (h == name) return true;
  return false;
}

// Host text as the printer takes it, piece by piece: bytes that take one
// column each, or bytes that take none (what the markup became).
struct Piece {
  std::string_view bytes;
  bool visible = false;
};

// Walks the tokens and hands each piece to `emit`. Rendered tags need their
// bytes kept somewhere; `rendered` owns them while the pieces are used.
template <typename Emit>
void walk(std::string_view text, const Markup& markup, std::vector<std::string>& rendered, Emit emit) {
  const std::vector<Token> tokens = tokenize(text);
  rendered.reserve(tokens.size());
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.kind == Token::Kind::Text) {
      emit(Piece{t.raw, true});
      continue;
    }
    const TagBytes* rule = markup.find(t.name);
    if (!rule) {
      if (isHostTag(t.name) || markup.dropUnknown) continue;
      emit(Piece{t.raw, true});
      continue;
    }
    if (rule->render && t.kind == Token::Kind::Open) {
      // The content runs to the first closing tag of the same name, or to the end.
      size_t close = k + 1;
      while (close < tokens.size() && !(tokens[close].kind == Token::Kind::Close && tokens[close].name == t.name))
        ++close;
      const char* from = t.raw.data() + t.raw.size();
      const char* to = close < tokens.size() ? tokens[close].raw.data() : text.data() + text.size();
      rendered.push_back(rule->render(t.attributes, std::string_view(from, static_cast<size_t>(to - from))));
      emit(Piece{rendered.back(), false});
      k = close;
      continue;
    }
    emit(Piece{t.kind == Token::Kind::Open ? rule->on : rule->off, false});
  }
}

Charset buildPlainLetters() {
  Charset c = Charset::identity();
  struct Range {
    uint8_t first, last;
    char plain;
  };
  constexpr Range kRanges[] = {{0xC0, 0xC4, 'A'}, {0xC7, 0xC7, 'C'}, {0xC8, 0xCB, 'E'}, {0xCC, 0xCF, 'I'},
                               {0xD1, 0xD1, 'N'}, {0xD2, 0xD6, 'O'}, {0xD9, 0xDC, 'U'}, {0xDD, 0xDD, 'Y'},
                               {0xE0, 0xE4, 'a'}, {0xE7, 0xE7, 'c'}, {0xE8, 0xEB, 'e'}, {0xEC, 0xEF, 'i'},
                               {0xF1, 0xF1, 'n'}, {0xF2, 0xF6, 'o'}, {0xF9, 0xFC, 'u'}, {0xFD, 0xFD, 'y'}};
  for (const Range& r : kRanges)
    for (int b = r.first; b <= r.last; ++b) c.set(static_cast<uint8_t>(b), static_cast<uint8_t>(r.plain));
  return c;
}

Charset buildPrinter850() {
  Charset c = Charset::identity();
  for (int b = 0xC0; b <= 0xFF; ++b) {
    const char host = static_cast<char>(b);
    c.set(static_cast<uint8_t>(b), static_cast<uint8_t>(cp1252ToCp850(std::string_view(&host, 1))[0]));
  }
  // These print wrongly in the printers' 850 set: their plain letters instead.
  c.set(0xD1, 'N').set(0xDD, 'Y').set(0xF1, 'n').set(0xFD, 'y');
  // And these go as they are, even where 850 has them.
  for (uint8_t b : {0xC5, 0xC6, 0xD0, 0xD7, 0xD8, 0xDE, 0xDF, 0xE5, 0xE6, 0xF0, 0xF7, 0xF8, 0xFE, 0xFF}) c.set(b, b);
  return c;
}

}  // namespace

std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> out;
  size_t runStart = 0;
  auto flush = [&](size_t end) {
    if (end > runStart) out.push_back(Token{Token::Kind::Text, text.substr(runStart, end - runStart), {}, {}});
  };
  for (size_t i = 0; i < text.size();) {
    Token tag;
    const size_t n = text[i] == '<' ? tagLength(text, i, tag) : 0;
    if (n == 0) {
      ++i;
      continue;
    }
    flush(i);
    out.push_back(tag);
    i += n;
    runStart = i;
  }
  flush(text.size());
  return out;
}

const TagBytes* Markup::find(std::string_view name) const {
  for (const TagBytes& t : tags)
    if (t.tag == name) return &t;
  return nullptr;
}

const Markup& plainMarkup() {
  static const Markup m{};
  return m;
}

std::string applyMarkup(std::string_view text, const Markup& markup) {
  std::string out;
  out.reserve(text.size());
  std::vector<std::string> rendered;
  walk(text, markup, rendered, [&](const Piece& p) { out.append(p.bytes); });
  return out;
}

std::string lineFeeds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string layoutLines(std::string_view text, int columns, const Markup& markup, int maxLines) {
  const std::string t = lineFeeds(text);
  if (t.empty()) return "\n";
  const size_t width = columns > 0 ? static_cast<size_t>(columns) : 1;
  const size_t limit = maxLines > 0 ? static_cast<size_t>(maxLines) : SIZE_MAX;

  // Each visible byte and each markup's bytes, in order; the lines are cut from these.
  std::vector<std::string> rendered;
  std::vector<Piece> pieces;
  pieces.reserve(t.size());
  walk(t, markup, rendered, [&](const Piece& p) {
    if (!p.visible) {
      pieces.push_back(p);
      return;
    }
    for (size_t i = 0; i < p.bytes.size(); ++i) pieces.push_back(Piece{p.bytes.substr(i, 1), true});
  });

  std::string out;
  size_t i = 0;
  for (size_t lines = 0; i < pieces.size() && lines < limit; ++lines) {
    size_t visible = 0;
    bool endsInLf = false;
    // Markup right after a full line still belongs to it.
    while (i < pieces.size()) {
      const Piece& p = pieces[i];
      if (!p.visible) {
        out.append(p.bytes);
        ++i;
        continue;
      }
      if (p.bytes[0] == '\n') {
        out += '\n';
        ++i;
        endsInLf = true;
        break;
      }
      if (visible == width) break;
      out += p.bytes[0];
      ++visible;
      ++i;
    }
    if (!endsInLf && visible < width) out += '\n';
  }
  return out;
}

Charset Charset::identity() {
  Charset c;
  for (size_t b = 0; b < c.to.size(); ++b) c.to[b] = static_cast<uint8_t>(b);
  return c;
}

namespace charset {

const Charset& windows1252() {
  static const Charset c = Charset::identity();
  return c;
}

const Charset& plainLetters() {
  static const Charset c = buildPlainLetters();
  return c;
}

const Charset& printer850() {
  static const Charset c = buildPrinter850();
  return c;
}

}  // namespace charset

std::string foldPrinterText(std::string_view text, const Charset& set) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(set.to[static_cast<uint8_t>(ch)]);
  return out;
}

std::string plainPrinterText(std::string_view text) {
  return foldPrinterText(applyMarkup(text, plainMarkup()), charset::plainLetters());
}

}  // namespace tarvion::text
