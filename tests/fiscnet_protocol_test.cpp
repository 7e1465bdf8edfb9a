// The FiscNET codec on literal bytes: frames, value notation, the reply's code,
// results and messages, the printer text and its layout.
#include "drivers/fiscnet/fiscnet_protocol.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "core/text.h"

using namespace tarvion;
using namespace tarvion::fiscnet;
using text::cp;

TEST(FiscNETFrame, LiteralFrames) {
  struct Case {
    int seq;
    const char* command;
    const char* params;
    const char* wire;
  } cases[] = {
      {0, "LeInteiro", ";NomeInteiro=\"COO\"", "{0;LeInteiro;NomeInteiro=\"COO\";30}"},
      {0, "EncerraDocumento", "", "{0;EncerraDocumento;;20}"},
      {12, "EncerraDocumento", "", "{12;EncerraDocumento;;21}"},
      {254, "AbreGaveta", ";TempoAcionamentoGaveta=500", "{254;AbreGaveta;TempoAcionamentoGaveta=500;42}"},
      {7, "PagaCupom", ";CodMeioPagamento=-2 Valor=25,00", "{7;PagaCupom;CodMeioPagamento=-2 Valor=25,00;44}"},
  };
  for (const Case& c : cases) EXPECT_EQ(buildFrame(c.seq, c.command, c.params), c.wire) << c.wire;
}

TEST(FiscNETFrame, SequenceRunsTo254ThenZero) {
  int seq = 0;
  for (int i = 0; i < 255; ++i) {
    EXPECT_EQ(seq, i);
    seq = nextSequence(seq);
  }
  EXPECT_EQ(seq, 0);
  EXPECT_EQ(nextSequence(253), 254);
}

TEST(FiscNETFrame, ParametersAreSeparatedBySemicolonThenBlanks) {
  std::string p;
  addParameter(p, "Cancelar=F");
  EXPECT_EQ(p, ";Cancelar=F");
  addParameter(p, "NumItem=3");
  addParameter(p, "ValorAcrescimo=-1,50");
  EXPECT_EQ(p, ";Cancelar=F NumItem=3 ValorAcrescimo=-1,50");
}

TEST(FiscNETValues, DecimalsWithACommaAndNoLocale) {
  struct Case {
    double v;
    fields::Field f;
    const char* text;
  } cases[] = {
      {1234.5, field::kAmount, "1234,50"}, {0.5, field::kAmount, "0,50"},          {-1.5, field::kAmount, "-1,50"},
      {0, field::kAmount, "0,00"},         {12.3456, field::kUnitPrice, "12,346"}, {3, field::kQuantity, "3,000"},
      {18, field::kPercent, "18,00"},
  };
  for (const Case& c : cases) {
    const fields::Result r = decimal(c.v, c.f);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.text, c.text);
  }
  // Values that do not fit are refused, naming the field.
  const fields::Result big = decimal(1e13, field::kQuantity);
  EXPECT_FALSE(big.ok());
  EXPECT_NE(big.error.find("Quantidade"), std::string::npos);
  EXPECT_FALSE(decimal(-1, field::kUnitPrice).ok());
  EXPECT_FALSE(decimal(std::numeric_limits<double>::quiet_NaN(), field::kAmount).ok());
}

TEST(FiscNETValues, ReplyAmountsDropTheThousandsPoint) {
  double v = 0;
  ASSERT_TRUE(parseMoney("1.234,50", v));
  EXPECT_DOUBLE_EQ(v, 1234.5);
  ASSERT_TRUE(parseMoney("-0,01", v));
  EXPECT_DOUBLE_EQ(v, -0.01);
  ASSERT_TRUE(parseMoney("1.000.000,00", v));
  EXPECT_DOUBLE_EQ(v, 1000000.0);
  EXPECT_FALSE(parseMoney("12a", v));
  EXPECT_FALSE(parseMoney("", v));
}

TEST(FiscNETValues, DatesAndTimes) {
  std::string d, t;
  ASSERT_TRUE(dateValue(DateTime::fromParts(2026, 12, 4, 9, 5, 7), d));
  ASSERT_TRUE(timeValue(DateTime::fromParts(2026, 12, 4, 9, 5, 7), t));
  EXPECT_EQ(d, "#04/12/2026#");
  EXPECT_EQ(t, "#09:05:07#");
  EXPECT_FALSE(dateValue(DateTime::invalid(), d));
}

TEST(FiscNETText, QuotesBackslashesAndCodePage850) {
  EXPECT_EQ(convertText("A \"B\" C"), "A B C");
  EXPECT_EQ(convertText("C:\\X"), "C:\\\\X");
  // "Ação" in code page 850: A, c-cedilla 87, a-tilde C6, o.
  EXPECT_EQ(convertText(cp("Ação")), std::string("A\x87\xC6o"));
  EXPECT_EQ(convertText(cp("ÑñÝý")), "NnYy");
  // Letters code page 850 is not asked for stay as they are, and so does the
  // rest of the upper half below 0xC0.
  EXPECT_EQ(convertText(cp("Åø°")), cp("Åø°"));
  EXPECT_EQ(textParameter("NomeProduto", cp("CAFÉ \"FORTE\""), 7), std::string("NomeProduto=\"CAF\x90 FO\""));
}

TEST(FiscNETReply, CodeAndCircumstance) {
  int code = -1;
  ASSERT_TRUE(replyCode("{3;0;ValorInteiro=17;21}", code));
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(replyCode("{3;8014;Circunstancia=\"x\";26}", code));
  EXPECT_EQ(code, 8014);
  EXPECT_FALSE(replyCode("{3;abc;;8}", code));
  EXPECT_FALSE(replyCode("garbage", code));
  EXPECT_FALSE(replyCode("{3;80", code));  // cut inside the code
  ASSERT_TRUE(replyCode("{3;8014;", code));
  EXPECT_EQ(code, 8014);

  EXPECT_EQ(errorText("{3;8014;Circunstancia=\"x\";26}", 8014),
            cp("Meio de pagamento indefinido.\r\nCircunstância: x"));
  EXPECT_EQ(errorText("{3;15017;;9}", 15017), cp("ECF não encontra-se em linha para executar o comando."));
  EXPECT_EQ(errorText("{3;4242;;9}", 4242), cp("Erro inesperado ao enviar o comando."));
  EXPECT_EQ(messageCount(), 186u);
  // The contiguous ranges and the gaps around them.
  for (int c : {1, 2, 1000, 1012, 8000, 8096, 9010, 10003, 11019, 15001, 15017})
    EXPECT_NE(messageUtf8(c), nullptr) << c;
  for (int c : {0, 3, 8097, 15000, 15018}) EXPECT_EQ(messageUtf8(c), nullptr) << c;
}

TEST(FiscNETReply, NamedResultsFirstMatchWins) {
  const std::string r =
      "{4;0;ValorInteiro=17;ValorMoeda=1.234,50;AliquotaICMS=T;NomeMeioPagamento=\"Cartao\";"
      "ValorData=#04/12/2026#;ValorHora=#23:59:01#;ValorInteiro=99;80}";
  EXPECT_EQ(replyInteger(r, "ValorInteiro"), 17);
  EXPECT_DOUBLE_EQ(replyMoney(r, "ValorMoeda"), 1234.5);
  EXPECT_TRUE(replyFlag(r, "AliquotaICMS"));
  EXPECT_EQ(replyText(r, "NomeMeioPagamento"), "Cartao");
  DateParts p;
  ASSERT_TRUE(replyDate(r, "ValorData", p));
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.year, 2026);
  ASSERT_TRUE(replyTime(r, "ValorHora", p));
  EXPECT_EQ(p.hour, 23);
  EXPECT_EQ(p.second, 1);
  // Absent names.
  EXPECT_EQ(replyInteger(r, "CRZ"), -1);
  EXPECT_FALSE(replyFlag(r, "SemPapel"));
  EXPECT_EQ(replyMoney(r, "GT"), 0.0);
  EXPECT_EQ(replyText(r, "Marca"), "");
  EXPECT_FALSE(replyDate(r, "DataAbertura", p));
  EXPECT_FALSE(replyFlag("{1;0;X=F;7}", "X"));
  // A value is whole when what closes it came.
  EXPECT_TRUE(replyValueWhole(r, "ValorInteiro"));
  EXPECT_TRUE(replyValueWhole("{1;0;ValorTexto=\"a;b\"", "ValorTexto"));
  EXPECT_FALSE(replyValueWhole("{1;0;ValorTexto=\"a;b", "ValorTexto"));
  EXPECT_FALSE(replyValueWhole("{1;0;ValorInteiro=1", "ValorInteiro"));
  EXPECT_FALSE(replyValueWhole("{1;0;ValorInt", "ValorInteiro"));
}

TEST(FiscNETReply, EndsOnTheBraceOutsideQuotes) {
  auto len = [](const std::string& s) { return replyLength(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
  EXPECT_EQ(len("{1;0;;5}"), 8u);
  EXPECT_EQ(len("{1;0;;5"), 0u);
  EXPECT_EQ(len("{1;0;T=\"a}b\";11}xyz"), 16u);
  EXPECT_EQ(len("{1;0;T=\"a\\\"}\";11}"), 17u);
}

TEST(FiscNETLayout, LinesWidthAndMarkup) {
  EXPECT_EQ(layoutText("", 48), "\n");
  EXPECT_EQ(layoutText("ABC", 48), "ABC\n");
  EXPECT_EQ(layoutText("A\r\nB\rC", 48), "A\nB\nC\n");
  EXPECT_EQ(layoutText("ABCDEF", 3), "ABCDEF");  // full lines carry no LF of their own
  EXPECT_EQ(layoutText("ABCDEFG", 3), "ABCDEFG\n");
  // Markup takes no width; bold becomes the printer's escapes.
  EXPECT_EQ(layoutText("<b>ABC</b>D", 4), std::string("\x1B"
                                                      "E\x01"
                                                      "ABC\x1B"
                                                      "E\\x00D",
                                                      13));
  EXPECT_EQ(layoutText("<h>AB</h><barcode>1</barcode>", 48), "AB1\n");
  EXPECT_EQ(layoutText("A\nB\nC\nD", 48, 2), "A\nB\n");
}

TEST(FiscNETLayout, AThousandCharacterReportIsThreeChunks) {
  const std::string laid = layoutText(std::string(1000, 'X'), 48);
  std::vector<size_t> sizes;
  for (size_t pos = 0; pos < laid.size();) {
    const size_t n = nextChunk(laid, pos);
    ASSERT_GT(n, 0u);
    sizes.push_back(n);
    pos += n;
  }
  ASSERT_EQ(sizes.size(), 3u);
  EXPECT_EQ(sizes[0], 492u);
  EXPECT_EQ(sizes[1], 492u);
}

TEST(FiscNETLayout, ChunksNeverSplitABoldEscape) {
  // A bold-off sequence at 488 would straddle 492: the chunk ends before it.
  std::string t(488, 'A');
  t += kBoldOff;
  t += std::string(100, 'B');
  EXPECT_EQ(nextChunk(t, 0), 488u);
  // A bold-on at 490 straddles too.
  std::string u(490, 'A');
  u += kBoldOn;
  u += std::string(100, 'B');
  EXPECT_EQ(nextChunk(u, 0), 490u);
  // From 489 on a bold-on starts the next chunk, from 486 on a bold-off does;
  // one that starts before stays in the chunk.
  std::string w(489, 'A');
  w += kBoldOn;
  w += std::string(100, 'B');
  EXPECT_EQ(nextChunk(w, 0), 489u);
  std::string x(488, 'A');
  x += kBoldOn;
  x += std::string(100, 'B');
  EXPECT_EQ(nextChunk(x, 0), 492u);
  std::string y(485, 'A');
  y += kBoldOff;
  y += std::string(100, 'B');
  EXPECT_EQ(nextChunk(y, 0), 492u);
  EXPECT_EQ(nextChunk("short", 0), 5u);
}
