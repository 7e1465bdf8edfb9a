// Host text on its way to paper, one pipeline for every family: the markup a
// host writes into printed text (<b>bold</b>, <h>high</h>, <barcode>...</barcode>),
// the layout of that text in printer lines, and the folding of its
// Windows-1252 letters into the printer's character set. A family gives only
// data: the bytes of the tags its printers know (a Markup), how wide its
// lines are, and which character table its printers read (a Charset).
//
// Everything here works on Windows-1252 bytes: one byte is one column.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvion::text {

// ---------------------------------------------------------------- markup

// One piece of host text: a run of plain text, or a tag. A tag is '<', an
// optional '/', a name (an ASCII letter, then letters and digits) and '>';
// an opening tag may carry attributes after a blank ("<barcode type=ean13>").
// Anything else that starts with '<' ("<", "a < b", "<>", "< b>", "<b" at the
// end, a tag broken by a line end) is plain text. Names keep their case.
struct Token {
  enum class Kind { Text, Open, Close };
  Kind kind = Kind::Text;
  std::string_view raw;         // the bytes as written, tag brackets included
  std::string_view name;        // the tag's name; empty for text
  std::string_view attributes;  // what follows the name and its blanks in an opening tag
};
// The pieces in order; their raw bytes put together give the text back.
// The views point into `text`.
std::vector<Token> tokenize(std::string_view text);

// The tags a host may write. A printer that knows none of them still drops
// them: their content prints as plain text.
inline constexpr std::string_view kBold = "b", kHigh = "h", kBarcode = "barcode";
inline constexpr std::string_view kHostTags[] = {kBold, kHigh, kBarcode};

// Bytes computed from a tag's attributes and the text it encloses (a barcode
// command with its length and digits). The enclosed text is then not printed.
using TagRender = std::function<std::string(std::string_view attributes, std::string_view content)>;

// What one tag becomes on the printer.
struct TagBytes {
  std::string_view tag;  // the name, as in kBold
  std::string_view on;   // sent for the opening tag
  std::string_view off;  // sent for the closing tag
  TagRender render;      // when set: replaces the tag, its content and its closing tag
};

// A printer's markup. The host tags not listed take no bytes; tags outside the
// host's set are printed as written, unless `dropUnknown`.
struct Markup {
  std::vector<TagBytes> tags;
  bool dropUnknown = false;
  // The entry for a tag name; null when the markup has none.
  const TagBytes* find(std::string_view name) const;
};

// Markup for printers that print none of it: every host tag goes, other tags
// stay as written.
const Markup& plainMarkup();

// The text with its tags replaced by the printer's bytes. An opening tag that
// is never closed sends only its on bytes; a closing tag without an opening
// one sends its off bytes. Line ends are left alone.
std::string applyMarkup(std::string_view text, const Markup& markup);

// ---------------------------------------------------------------- layout

// CR LF and a lone CR become LF.
std::string lineFeeds(std::string_view text);

// The text in printer lines of `columns` visible characters (at least 1): line
// ends become LF (as lineFeeds), a line ends after its LF or where it is full,
// and the markup is applied on the way, taking no columns (tags printed as
// written take their width). A full line wraps on the printer by itself and
// gets no LF; every shorter line gets one. At most maxLines lines (0: no
// limit). An empty text is one LF.
std::string layoutLines(std::string_view text, int columns, const Markup& markup, int maxLines = 0);

// ---------------------------------------------------------------- character sets

// A printer's character set seen from Windows-1252: the byte the printer gets
// for each byte of host text.
struct Charset {
  std::array<uint8_t, 256> to{};
  // Every byte as itself.
  static Charset identity();
  // Sends `printed` for `host`.
  Charset& set(uint8_t host, uint8_t printed) {
    to[host] = printed;
    return *this;
  }
};

namespace charset {
// Windows-1252 as it is (printers that read the host's own set).
const Charset& windows1252();
// Accented Latin letters folded to their plain letters (À..Ý, à..ý); letters
// without a plain form (Å Æ Ø ß ...) and everything else unchanged.
const Charset& plainLetters();
// The fiscal printers' code page 850: the letters from 0xC0 on in code page
// 850, except Ñ Ý ñ ý, which print wrongly there and go as N Y n y, and
// Å Æ Ð × Ø Þ ß å æ ð ÷ ø þ ÿ, which go unchanged; below 0xC0 nothing changes.
const Charset& printer850();
}  // namespace charset

// The text in the printer's character set, byte for byte.
std::string foldPrinterText(std::string_view text, const Charset& set);

// Host text for a field of a printer that prints it plain: the markup dropped
// and the accents folded away.
std::string plainPrinterText(std::string_view text);

}  // namespace tarvion::text
