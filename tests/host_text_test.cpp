// Host text on its way to paper: the markup tokenizer, each family's markup
// data, the line layout (columns are Windows-1252 bytes) and the character
// tables, each as a table of cases.
#include "core/host_text.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "drivers/bematech/bematech_protocol.h"
#include "drivers/cv2009/cv2009_protocol.h"
#include "drivers/fiscnet/fiscnet_protocol.h"

using namespace tarvion;
using text::cp;

namespace {

// The tokens in a short notation: T(text) O(name;attributes) C(name).
std::string describe(const std::vector<text::Token>& tokens) {
  std::string out;
  for (const text::Token& t : tokens) {
    if (!out.empty()) out += ' ';
    switch (t.kind) {
      case text::Token::Kind::Text:
        out += "T(" + std::string(t.raw) + ")";
        break;
      case text::Token::Kind::Open:
        out += "O(" + std::string(t.name) + ";" + std::string(t.attributes) + ")";
        break;
      case text::Token::Kind::Close:
        out += "C(" + std::string(t.name) + ")";
        break;
    }
  }
  return out;
}

// A barcode printer of the tests: its bytes show what the render was given.
const text::Markup& renderingMarkup() {
  static const text::Markup m{{{text::kBold, "{", "}", nullptr},
                               {text::kBarcode, "", "", [](std::string_view attributes, std::string_view content) {
                                  return "[" + std::string(attributes) + ":" + std::string(content) + "]";
                                }}}};
  return m;
}

const text::Markup& droppingMarkup() {
  static const text::Markup m{{}, true};
  return m;
}

}  // namespace

TEST(HostText, TokenizerFindsTagsAndLeavesTheRestAsText) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"", ""},
      {"plain", "T(plain)"},
      {"<b>x</b>", "O(b;) T(x) C(b)"},
      {"a<b><h>x</h></b>z", "T(a) O(b;) O(h;) T(x) C(h) C(b) T(z)"},  // nested
      {"<b>open", "O(b;) T(open)"},                                   // never closed
      {"</b>x<h>", "C(b) T(x) O(h;)"},                                // closed before opened
      {"<", "T(<)"},                                                  // "<" alone
      {"a < b > c", "T(a < b > c)"},                                  // comparisons
      {"<> </> < b> <1> <b", "T(<> </> < b> <1> <b)"},                // no name, or no end
      {"<<b>>", "T(<) O(b;) T(>)"},                                   // a tag inside brackets
      {"<b x<h>", "T(<b x) O(h;)"},                                   // another tag before the end
      {"<b x\n>y", "T(<b x\n>y)"},                                    // broken by a line end
      {"</b x>", "T(</b x>)"},                                        // closing tags carry nothing
      {"<barcode type=ean13 h=50>789</barcode>", "O(barcode;type=ean13 h=50) T(789) C(barcode)"},
      {"<b \t x=\"1\">", "O(b;x=\"1\")"},  // blanks before the attributes go
      {"<b >", "O(b;)"},
      {"<B><h2>", "O(B;) O(h2;)"},  // names keep their case and may hold digits
  };
  for (const Case& c : cases) {
    const auto tokens = text::tokenize(c.in);
    EXPECT_EQ(describe(tokens), c.want) << c.in;
    std::string back;
    for (const auto& t : tokens) back += t.raw;
    EXPECT_EQ(back, c.in) << "the tokens give the text back";
  }
}

TEST(HostText, EachFamilysMarkupData) {
  const std::string ESC = "\x1B";
  const text::Markup& bematech = bematech::fmt::fsMarkup();
  const text::Markup& fiscnet = fiscnet::printerMarkup();
  struct Case {
    const char* family;
    const text::Markup* markup;
    const char* in;
    std::string want;
  };
  const Case cases[] = {
      {"bematech", &bematech, "<b>A</b>B", ESC + "EA" + ESC + "FB"},
      {"bematech", &bematech, "<h>x</h> <barcode>1</barcode>", "x 1"},
      {"bematech", &bematech, "<b>open", ESC + "Eopen"},  // no off escape of its own
      {"bematech", &bematech, "</b>", ESC + "F"},
      {"bematech", &bematech, "<i>x</i> <B>", "<i>x</i> <B>"},  // not the host's: printed as written
      {"bematech", &bematech, "<b class=x>A", ESC + "EA"},
      {"fiscnet", &fiscnet, "<b>A</b>", ESC + std::string("E\x01", 2) + "A" + ESC + "E\\x00"},
      {"fiscnet", &fiscnet, "<h>A</h><u>", "A<u>"},
      {"cv2009 bold", &cv2009::printerMarkup(true), "<b>A</b>\r\n", ESC + "EA" + ESC + "F\r\n"},
      {"cv2009 plain", &cv2009::printerMarkup(false), "<b>A</b><barcode>1</barcode>", "A1"},
      {"plain", &text::plainMarkup(), "<b>A</b> <h>x</h> <u>", "A x <u>"},
      {"dropping", &droppingMarkup(), "<u>x</u><b>y", "xy"},
      {"rendering", &renderingMarkup(), "<barcode type=ean13>789</barcode>!", "[type=ean13:789]!"},
      {"rendering", &renderingMarkup(), "<barcode><b>1</b></barcode><b>2", "[:<b>1</b>]{2"},
      {"rendering", &renderingMarkup(), "a<barcode>12", "a[:12]"},  // to the end when not closed
  };
  for (const Case& c : cases) EXPECT_EQ(text::applyMarkup(c.in, *c.markup), c.want) << c.family << ": " << c.in;
}

TEST(HostText, LayoutCountsColumnsInWindows1252Bytes) {
  struct Case {
    int columns, maxLines;
    std::string in, want;
  };
  const Case cases[] = {
      {4, 0, cp("ação!"), cp("ação") + "!\n"},  // one byte per accented letter, not its UTF-8 two
      {4, 0, cp("AÇÃO"), cp("AÇÃO")},           // a full line wraps by itself: no LF of its own
      {3, 0, "abcdef", "abcdef"},
      {3, 0, "abcdefg", "abcdefg\n"},
      {3, 0, "abc\nd", "abc\nd\n"},  // the LF right after a full line is that line's
      {3, 0, "a\r\nb\rc\n", "a\nb\nc\n"},
      {48, 0, "", "\n"},
      {3, 0, "<b>abc</b>d", "{abc}d\n"},  // tags take no columns and stay with the full line
      {3, 0, "<i>ab", "<i>ab\n"},         // tags printed as written take theirs
      {3, 0, "a\n<b>", "a\n{\n"},
      {2, 0, "<barcode>1234</barcode>ab", "[:1234]ab"},  // rendered bytes take no columns
      {48, 2, "a\nb\nc", "a\nb\n"},
      {3, 1, "abcdef", "abc"},
      {0, 0, "ab", "ab"},  // no columns given: one
  };
  for (const Case& c : cases)
    EXPECT_EQ(text::layoutLines(c.in, c.columns, renderingMarkup(), c.maxLines), c.want) << c.in << " in " << c.columns;
}

TEST(HostText, CharacterTablesFoldByte) {
  struct Case {
    const char* set;
    const text::Charset* charset;
    std::string in, want;
  };
  const text::Charset* plain = &text::charset::plainLetters();
  const text::Charset* p850 = &text::charset::printer850();
  const Case cases[] = {
      {"plain", plain, cp("AÇÚCAR ç"), "ACUCAR c"},
      {"plain", plain, cp("ÀÁÂÃÄÈÉÊËÌÍÎÏÑÒÓÔÕÖÙÚÛÜÝàáâãäèéêëìíîïñòóôõöùúûüý"),
       "AAAAAEEEEIIIINOOOOOUUUUYaaaaaeeeeiiiinooooouuuuy"},
      {"plain", plain, cp("ÅÆØßåæøÿ"), cp("ÅÆØßåæøÿ")},  // no plain form: unchanged
      {"850", p850, cp("Ação"), "A\x87\xC6o"},
      {"850", p850, cp("ÁÉÍÓÚÂÊÔÃÕÇÀÜáéíóúâêôãõçàü"), text::cp1252ToCp850(cp("ÁÉÍÓÚÂÊÔÃÕÇÀÜáéíóúâêôãõçàü"))},
      {"850", p850, cp("ÑÝñý"), "NYny"},                          // printed wrongly in 850
      {"850", p850, cp("ÅÆÐ×ØÞßåæð÷øþÿ"), cp("ÅÆÐ×ØÞßåæð÷øþÿ")},  // sent as they are
      {"850", p850, cp("R$ 1,00 º ª € § ¿"), cp("R$ 1,00 º ª € § ¿")},
      {"1252", &text::charset::windows1252(), cp("Ação €"), cp("Ação €")},
  };
  for (const Case& c : cases) EXPECT_EQ(text::foldPrinterText(c.in, *c.charset), c.want) << c.set << ": " << c.in;

  // Below 0xC0 no table changes a byte, and 850 has a letter for every one above.
  for (int b = 0; b < 0x100; ++b) {
    const std::string one(1, static_cast<char>(b));
    if (b < 0xC0) {
      EXPECT_EQ(text::foldPrinterText(one, *plain), one) << b;
      EXPECT_EQ(text::foldPrinterText(one, *p850), one) << b;
    } else {
      EXPECT_NE(text::foldPrinterText(one, *p850), "?") << b;
    }
  }
}

TEST(HostText, PlainPrinterTextDropsTheMarkupAndTheAccents) {
  EXPECT_EQ(text::plainPrinterText(cp("<b>AÇÚCAR</b> ç")), "ACUCAR c");
  EXPECT_EQ(text::plainPrinterText(cp("<barcode>123</barcode><h>x</h>")), "123x");
  EXPECT_EQ(text::plainPrinterText(cp("<i>é</i>")), "<i>e</i>");
}
