// The shell's line language: tokens, values, whole lines, the two output forms
// and the C interface that runs lines.
#include "control/script.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "json_reader.h"
#include "tarvion/tarvion.h"
#include "tarvion/tarvion.hpp"

using namespace tarvion;
using namespace tarvion::script;

namespace {

std::vector<std::string> tokens(std::string_view text) {
  std::vector<std::string> t;
  std::string error;
  EXPECT_TRUE(tokenize(text, t, error)) << text << ": " << error;
  return t;
}

std::string tokenError(std::string_view text) {
  std::vector<std::string> t;
  std::string error;
  EXPECT_FALSE(tokenize(text, t, error)) << "accepted: " << text;
  return error;
}

Value value(const std::string& token, Type type) {
  Value v;
  std::string error;
  EXPECT_TRUE(parseValue(token, type, v, error)) << token << ": " << error;
  return v;
}

std::string valueError(const std::string& token, Type type) {
  Value v;
  std::string error;
  EXPECT_FALSE(parseValue(token, type, v, error)) << "accepted: " << token;
  return error;
}

tjson::Value json(const std::string& text) {
  tjson::Value v;
  std::string error;
  EXPECT_TRUE(tjson::parse(text, v, error)) << error << " in: " << text;
  return v;
}

}  // namespace

// ------------------------------------------------------------------ tokens

TEST(ScriptTokens, SplitsOnBlanksAndKeepsQuotedTextWhole) {
  EXPECT_EQ(tokens("a  b\tc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(tokens("  \"daruma fs600 \"  x  "), (std::vector<std::string>{"daruma fs600 ", "x"}));
  EXPECT_EQ(tokens("\"\" x"), (std::vector<std::string>{"", "x"}));
  EXPECT_TRUE(tokens("").empty());
  EXPECT_TRUE(tokens("   \t").empty());
  // A trailing carriage return (a script saved with CR LF) is a blank.
  EXPECT_EQ(tokens("a b\r"), (std::vector<std::string>{"a", "b"}));
}

TEST(ScriptTokens, CommentsStartOutsideQuotesOnly) {
  EXPECT_EQ(tokens("a # b c"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(tokens("a#b"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(tokens("\"a # b\"#c"), (std::vector<std::string>{"a # b"}));
  EXPECT_TRUE(tokens("# only a comment").empty());
}

TEST(ScriptTokens, ResolvesEscapesInsideQuotes) {
  EXPECT_EQ(tokens(R"("say \"hi\"")"), (std::vector<std::string>{"say \"hi\""}));
  EXPECT_EQ(tokens(R"("C:\\temp\\x.txt")"), (std::vector<std::string>{"C:\\temp\\x.txt"}));
  EXPECT_EQ(tokens(R"("l1\nl2\r\tx")"), (std::vector<std::string>{"l1\nl2\r\tx"}));
  // \xHH is the character U+00HH: plain for ASCII, two UTF-8 bytes above.
  EXPECT_EQ(tokens(R"("\x1b|\x41")"), (std::vector<std::string>{"\x1b|A"}));
  EXPECT_EQ(tokens(R"("\xe7")"), (std::vector<std::string>{"ç"}));
  // Bare words take backslashes literally.
  EXPECT_EQ(tokens(R"(C:\temp\a.txt)"), (std::vector<std::string>{"C:\\temp\\a.txt"}));
}

TEST(ScriptTokens, RefusesMalformedQuoting) {
  EXPECT_NE(tokenError(R"("open)").find("not closed"), std::string::npos);
  EXPECT_NE(tokenError(R"("ends with backslash\)").find("not closed"), std::string::npos);
  EXPECT_NE(tokenError(R"("a\qb")").find("unknown escape \\q"), std::string::npos);
  EXPECT_NE(tokenError(R"("\x4")").find("two hexadecimal"), std::string::npos);
  EXPECT_NE(tokenError(R"("\xZZ")").find("two hexadecimal"), std::string::npos);
  EXPECT_NE(tokenError(R"("a"b)").find("closing quote"), std::string::npos);
  EXPECT_NE(tokenError(R"(ab"c")").find("quote inside"), std::string::npos);
}

TEST(ScriptTokens, HumanQuotingReadsBackToTheSameText) {
  const std::string samples[] = {
      "",       "plain", "two words",         "q\"uote", "back\\slash", "tab\tcr\rlf\n", "\x01\x1f\x7f",
      "Ação €", "#hash", "\xc2\x85 next line"};
  for (const std::string& s : samples) {
    std::string q = humanString(s);
    EXPECT_EQ(q.find('\n'), std::string::npos) << q;  // one line per report
    EXPECT_EQ(tokens(q), std::vector<std::string>{s}) << q;
  }
  EXPECT_EQ(humanString("a\x01"), "\"a\\x01\"");
  // Malformed UTF-8 shows as the replacement character.
  EXPECT_EQ(humanString("a\xff"), "\"a\xef\xbf\xbd\"");
}

// ------------------------------------------------------------------ values

TEST(ScriptValues, BoolIsTrueFalseOrA16BitInteger) {
  EXPECT_EQ(value("TRUE", Type::Bool).i, -1);
  EXPECT_EQ(value("true", Type::Bool).i, -1);
  EXPECT_EQ(value("False", Type::Bool).i, 0);
  EXPECT_EQ(value("1", Type::Bool).i, 1);
  EXPECT_EQ(value("-1", Type::Bool).i, -1);
  EXPECT_EQ(value("0", Type::Bool).i, 0);
  EXPECT_EQ(value("TRUE", Type::Bool).type, Type::Bool);
  EXPECT_NE(valueError("yes", Type::Bool).find("TRUE, FALSE"), std::string::npos);
  EXPECT_NE(valueError("40000", Type::Bool).find("TRUE, FALSE"), std::string::npos);
  valueError("", Type::Bool);
}

TEST(ScriptValues, IntegersAreCheckedAgainstTheirWidth) {
  EXPECT_EQ(value("32767", Type::Short).i, 32767);
  EXPECT_EQ(value("-32768", Type::Short).i, -32768);
  EXPECT_EQ(value("+12", Type::Short).i, 12);
  EXPECT_NE(valueError("32768", Type::Short).find("out of range"), std::string::npos);
  EXPECT_NE(valueError("-32769", Type::Short).find("out of range"), std::string::npos);
  EXPECT_EQ(value("2147483647", Type::Long).i, 2147483647);
  EXPECT_EQ(value("-2147483648", Type::Long).i, std::numeric_limits<int32_t>::min());
  EXPECT_NE(valueError("2147483648", Type::Long).find("out of range"), std::string::npos);
  EXPECT_NE(valueError("99999999999999999999999", Type::Long).find("out of range"), std::string::npos);
  for (const char* bad : {"", "-", "+", "1.0", "1e3", "0x10", "12a", "+-1", "--1", " 1"})
    EXPECT_NE(valueError(bad, Type::Long).find("not an integer"), std::string::npos) << bad;
}

TEST(ScriptValues, DoublesUseADecimalPointAndMustBeFinite) {
  EXPECT_DOUBLE_EQ(value("1.5", Type::Double).d, 1.5);
  EXPECT_DOUBLE_EQ(value("-2e3", Type::Double).d, -2000.0);
  EXPECT_DOUBLE_EQ(value("+3", Type::Double).d, 3.0);
  EXPECT_DOUBLE_EQ(value("10", Type::Double).d, 10.0);
  EXPECT_EQ(value("0.1", Type::Double).type, Type::Double);
  for (const char* bad : {"NaN", "nan", "inf", "-inf", "Infinity", "-INFINITY", "nan(1)"})
    EXPECT_NE(valueError(bad, Type::Double).find("not a finite number"), std::string::npos) << bad;
  for (const char* bad : {"1,5", "", "abc", "0x10", "+-1", "1.5.2", "1e"})
    EXPECT_NE(valueError(bad, Type::Double).find("not a number"), std::string::npos) << bad;
  EXPECT_NE(valueError("1e999", Type::Double).find("range"), std::string::npos);
}

TEST(ScriptValues, DatesAreIsoTextConvertedToAutomationDates) {
  EXPECT_DOUBLE_EQ(value("1899-12-30", Type::Date).d, 0.0);
  EXPECT_DOUBLE_EQ(value("1900-01-01", Type::Date).d, 2.0);
  EXPECT_DOUBLE_EQ(value("2024-02-29", Type::Date).d, 45351.0);
  EXPECT_DOUBLE_EQ(value("2024-02-29T12:00:00", Type::Date).d, 45351.5);
  EXPECT_NEAR(value("2024-02-29T06:30:15", Type::Date).d, 45351.0 + (6 * 3600 + 30 * 60 + 15) / 86400.0, 1e-9);
  EXPECT_TRUE(value("2024-02-29", Type::Date).valid);
  for (const char* shape : {"2024-2-29", "2024-02-29 12:00:00", "29/02/2024", "2024-02-29T12:00", "20240229", ""})
    EXPECT_NE(valueError(shape, Type::Date).find("not a date"), std::string::npos) << shape;
  for (const char* bad : {"2023-02-29", "2024-13-01", "2024-00-10", "2024-01-01T24:00:00", "2024-01-01T10:60:00"})
    EXPECT_NE(valueError(bad, Type::Date).find("not a valid date"), std::string::npos) << bad;
}

TEST(ScriptValues, AnyTokenIsAString) {
  EXPECT_EQ(value("123", Type::String).s, "123");
  EXPECT_EQ(value("TRUE", Type::String).s, "TRUE");
  EXPECT_EQ(value("", Type::String).type, Type::String);
}

// ------------------------------------------------------------------ lines

TEST(ScriptLines, BlankAndCommentLinesDoNothing) {
  Call c;
  std::string error;
  for (const char* line : {"", "   ", "\t\r", "# ExisteECF x", "   # indented"}) {
    ASSERT_TRUE(parseLine(line, c, error)) << line;
    EXPECT_EQ(c.form, Call::Form::Nothing) << line;
  }
}

TEST(ScriptLines, NamesIgnoreCaseAndOutParametersAreNotWritten) {
  Call c;
  std::string error;
  ASSERT_TRUE(parseLine("existeecf \"DARUMA FS600\"", c, error)) << error;
  EXPECT_EQ(c.form, Call::Form::Invoke);
  EXPECT_STREQ(c.entry->name, "ExisteECF");
  ASSERT_EQ(c.args.size(), 1u);
  EXPECT_EQ(c.args[0].s, "DARUMA FS600");

  // strLeitura is out: no argument at all.
  ASSERT_TRUE(parseLine("LeituraXSerial", c, error)) << error;
  ASSERT_EQ(c.args.size(), 1u);
  EXPECT_EQ(c.args[0].type, Type::String);

  // ReadCheck: the BOOL in, then the out string, which gets a zero value.
  ASSERT_TRUE(parseLine("ReadCheck TRUE", c, error)) << error;
  ASSERT_EQ(c.args.size(), 2u);
  EXPECT_EQ(c.args[0].i, -1);
  EXPECT_EQ(c.args[1].type, Type::String);
  EXPECT_TRUE(c.args[1].s.empty());

  // EnviaComandoECF: command, its length, then intTamResp (in/out) is written.
  ASSERT_TRUE(parseLine("EnviaComandoECF \"\\x1b|\" 2 64", c, error)) << error;
  ASSERT_EQ(c.args.size(), 4u);
  EXPECT_EQ(c.args[0].s, "\x1b|");
  EXPECT_EQ(c.args[1].i, 2);
  EXPECT_EQ(c.args[2].type, Type::String);
  EXPECT_EQ(c.args[3].i, 64);
  EXPECT_FALSE(parseLine("EnviaComandoECF x 1", c, error));
  EXPECT_NE(error.find("takes 3 arguments (strComando, intTamCmd, intTamResp), got 2"), std::string::npos) << error;

  // Indexed property: the index is its argument.
  ASSERT_TRUE(parseLine("TaxPercents 3 # the fourth tax", c, error)) << error;
  EXPECT_EQ(c.args[0].i, 3);
  EXPECT_EQ(c.args[0].type, Type::Short);
}

TEST(ScriptLines, PropertySetsNeedASettableEntryAndOneValue) {
  Call c;
  std::string error;
  ASSERT_TRUE(parseLine("CashDrawerAttached = TRUE", c, error)) << error;
  EXPECT_EQ(c.form, Call::Form::Set);
  EXPECT_EQ(c.setValue.i, -1);
  ASSERT_TRUE(parseLine("alterarhvagendado=0  # off", c, error)) << error;
  EXPECT_EQ(c.form, Call::Form::Set);
  EXPECT_STREQ(c.entry->name, "AlterarHVAgendado");
  EXPECT_EQ(c.setValue.i, 0);

  EXPECT_FALSE(parseLine("UltimoErro = x", c, error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
  EXPECT_EQ(c.nameAsWritten, "UltimoErro");
  EXPECT_FALSE(parseLine("AbreCupomFiscal = 1", c, error));
  EXPECT_NE(error.find("method"), std::string::npos) << error;
  EXPECT_FALSE(parseLine("CashDrawerAttached =", c, error));
  EXPECT_NE(error.find("exactly one value, got 0"), std::string::npos) << error;
  EXPECT_FALSE(parseLine("CashDrawerAttached = TRUE FALSE", c, error));
  EXPECT_NE(error.find("exactly one value, got 2"), std::string::npos) << error;
  EXPECT_FALSE(parseLine("CashDrawerAttached = maybe", c, error));
  EXPECT_NE(error.find("value: 'maybe'"), std::string::npos) << error;
}

TEST(ScriptLines, ErrorsNameTheEntryAsWritten) {
  Call c;
  std::string error;
  EXPECT_FALSE(parseLine("NoSuchEntry 1 2", c, error));
  EXPECT_EQ(c.nameAsWritten, "NoSuchEntry");
  EXPECT_EQ(error, "unknown entry 'NoSuchEntry'");

  EXPECT_FALSE(parseLine("existeecf", c, error));
  EXPECT_EQ(c.nameAsWritten, "existeecf");
  EXPECT_EQ(error, "ExisteECF takes 1 argument (strNomeECF), got 0");
  EXPECT_FALSE(parseLine("AbreCupomFiscal x", c, error));
  EXPECT_EQ(error, "AbreCupomFiscal takes 0 arguments, got 1");

  EXPECT_FALSE(parseLine("InitializeECF 9 1 9600 0 8 1 0 FALSE maybe", c, error));
  EXPECT_EQ(error, "argument 9 (bReadPrinterInfo): 'maybe' is not TRUE, FALSE or a 16-bit integer");
  EXPECT_FALSE(parseLine("RegistraPagamento DINHEIRO NaN", c, error));
  EXPECT_EQ(error, "argument 2 (nValorPagamento): 'NaN' is not a finite number");

  EXPECT_FALSE(parseLine("Ex.isteECF x", c, error));
  EXPECT_EQ(c.nameAsWritten, "Ex.isteECF");
  EXPECT_FALSE(parseLine("\"ExisteECF\" x", c, error));
  EXPECT_EQ(c.nameAsWritten, "");
  EXPECT_FALSE(parseLine("= 3", c, error));
  EXPECT_EQ(c.nameAsWritten, "");
  EXPECT_FALSE(parseLine("ExisteECF \"open", c, error));
  EXPECT_EQ(c.nameAsWritten, "ExisteECF");
  EXPECT_NE(error.find("not closed"), std::string::npos);
}

// ------------------------------------------------------------------ output

TEST(ScriptOutput, JsonStringsEscapeControlCharactersAndSurviveBadUtf8) {
  EXPECT_EQ(jsonString("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(jsonString(std::string("\x01\n\r\t\x1f\x7f", 6)), R"("\u0001\u000a\u000d\u0009\u001f\u007f")");
  EXPECT_EQ(jsonString(std::string("a\0b", 3)), R"("a\u0000b")");
  EXPECT_EQ(jsonString("\xc2\x85"), R"("\u0085")");  // C1 control
  EXPECT_EQ(jsonString("Ação € 😀"), "\"Ação € 😀\"");

  // Stray bytes, truncated, overlong, surrogate and beyond U+10FFFF sequences.
  const std::string bad[] = {
      "a\xff"
      "b",
      "\xc3",
      "\xe2\x82",
      "\xc0\xaf",
      "\xe0\x80\xaf",
      "\xed\xa0\x80",
      "\xf4\x90\x80\x80",
      "\x80\x80",
      "ok\xf0\x9f\x98"};
  for (const std::string& s : bad) {
    std::string j = jsonString(s);
    tjson::Value v = json(j);
    EXPECT_EQ(v.t, tjson::Value::T::String) << j;
    EXPECT_NE(v.s.find("\xef\xbf\xbd"), std::string::npos) << j;
  }
  EXPECT_EQ(json(jsonString("a\xff"
                            "b"))
                .s,
            "a\xef\xbf\xbd"
            "b");
}

TEST(ScriptOutput, NumbersRoundTripAndDatesAreIsoText) {
  for (double d : {0.0, 0.1, 1.0 / 3.0, -0.5, 1e300, 123456789.125, 5e-324, 18.0}) {
    std::string t = numberText(d);
    EXPECT_EQ(std::strtod(t.c_str(), nullptr), d) << t;
    EXPECT_EQ(json(t).n, d) << t;
  }
  EXPECT_EQ(numberText(18.0), "18");
  EXPECT_EQ(dateText(Value::date(45351.5)), "2024-02-29T12:00:00");
  EXPECT_EQ(dateText(Value::date(0.0)), "1899-12-30T00:00:00");
  EXPECT_EQ(dateText(Value::date(0.0, false)), "");
  EXPECT_EQ(dateText(Value::date(1e12)), "");  // beyond year 9999
}

TEST(ScriptOutput, NameListsSplitAtEachNulUpToTheEmptyName) {
  EXPECT_EQ(splitNameList(std::string("A\0B C\0\0\0", 8)), (std::vector<std::string>{"A", "B C"}));
  EXPECT_EQ(splitNameList(std::string("A\0\0X\0", 5)), (std::vector<std::string>{"A"}));
  EXPECT_EQ(splitNameList("ONLY"), (std::vector<std::string>{"ONLY"}));
  EXPECT_TRUE(splitNameList("").empty());
}

TEST(ScriptOutput, ResultsAndOutParametersInBothForms) {
  Call c;
  std::string error;
  ASSERT_TRUE(parseLine("ReadDateTime", c, error));
  c.args[0] = Value::date(45351.5);
  EXPECT_EQ(formatCall(c, Value::boolean(-1), false), "ReadDateTime -> -1 dtCurrent=2024-02-29T12:00:00");
  EXPECT_EQ(formatCall(c, Value::boolean(-1), true),
            R"({"entry": "ReadDateTime", "result": -1, "out": {"dtCurrent": "2024-02-29T12:00:00"}})");
  c.args[0] = Value::date(0, false);
  EXPECT_EQ(formatCall(c, Value::boolean(0), true),
            R"({"entry": "ReadDateTime", "result": 0, "out": {"dtCurrent": null}})");
  EXPECT_EQ(formatCall(c, Value::boolean(0), false), "ReadDateTime -> 0 dtCurrent=invalid");

  ASSERT_TRUE(parseLine("CheckPrinters", c, error));
  c.args[0] = Value::string(std::string("A\0B\"\0\0\0", 7));
  EXPECT_EQ(formatCall(c, Value::boolean(-1), true),
            R"({"entry": "CheckPrinters", "result": -1, "out": {"strCheckPrinters": ["A", "B\""]}})");
  EXPECT_EQ(formatCall(c, Value::boolean(-1), false), R"(CheckPrinters -> -1 strCheckPrinters=["A", "B\""])");

  ASSERT_TRUE(parseLine("SaleTotal", c, error));
  EXPECT_EQ(formatCall(c, Value::real(std::nan("")), true), R"({"entry": "SaleTotal", "result": null, "out": {}})");
  EXPECT_EQ(formatCall(c, Value::real(-INFINITY), false), "SaleTotal -> -inf");
  EXPECT_EQ(formatCall(c, Value::real(12.34), true), R"({"entry": "SaleTotal", "result": 12.34, "out": {}})");

  // Raw answer bytes are strings, escaped like any other.
  ASSERT_TRUE(parseLine("EnviaComandoECF x 1 8", c, error));
  c.args[2] = Value::string(
      "\x06\x15"
      "ok");
  c.args[3] = Value::longInt(4);
  EXPECT_EQ(formatCall(c, Value::boolean(1), true),
            R"({"entry": "EnviaComandoECF", "result": 1, "out": {"strResposta": "\u0006\u0015ok", "intTamResp": 4}})");
  EXPECT_EQ(formatCall(c, Value::boolean(1), false), R"(EnviaComandoECF -> 1 strResposta="\x06\x15ok" intTamResp=4)");

  ASSERT_TRUE(parseLine("DisablePrintBuffer = FALSE", c, error));
  EXPECT_EQ(formatCall(c, Value(), true), R"({"entry": "DisablePrintBuffer", "result": null, "set": 0})");
  EXPECT_EQ(formatCall(c, Value(), false), "DisablePrintBuffer = 0");

  EXPECT_EQ(formatError("Foo", "unknown entry 'Foo'", false), "Foo: error: unknown entry 'Foo'");
  EXPECT_EQ(formatError("", "a line starts with an entry name", false), "error: a line starts with an entry name");
  EXPECT_EQ(formatError("F\"o", "bad \x01", true), R"({"entry": "F\"o", "error": "bad \u0001"})");
}

// ------------------------------------------------------------------ running lines

TEST(ScriptRun, RunsLinesOnTheControl) {
  CTarvionCtrl ctrl;
  EXPECT_EQ(runLine(ctrl, "ExisteECF \"daruma fs600 \"", false).output, "ExisteECF -> 13");
  EXPECT_EQ(runLine(ctrl, "ExisteECF DARUMA", true).output, R"({"entry": "ExisteECF", "result": 0, "out": {}})");

  LineResult blank = runLine(ctrl, "   # nothing", true);
  EXPECT_TRUE(blank.parsed);
  EXPECT_TRUE(blank.output.empty());

  LineResult bad = runLine(ctrl, "ExisteECF", true);
  EXPECT_FALSE(bad.parsed);
  tjson::Value e = json(bad.output);
  EXPECT_EQ(e["entry"].s, "ExisteECF");
  EXPECT_EQ(e["error"].s, "ExisteECF takes 1 argument (strNomeECF), got 0");
  EXPECT_EQ(e.find("result"), nullptr);

  // Without a driver the in/out length comes back as it was given.
  tjson::Value cmd = json(runLine(ctrl, "EnviaComandoECF abc 3 5", true).output);
  EXPECT_EQ(cmd["result"].n, 0);
  EXPECT_EQ(cmd["out"]["intTamResp"].n, 5);
  EXPECT_EQ(cmd["out"]["strResposta"].s, "");

  tjson::Value err = json(runLine(ctrl, "UltimoErro", true).output);
  EXPECT_NE(err["result"].s.find("A comunicação com a impressora ainda não foi inicializada"), std::string::npos);

  tjson::Value list = json(runLine(ctrl, "ImpressorasDisponiveis", true).output);
  ASSERT_EQ(list["out"]["strImpressoras"].a.size(), 56u);
  EXPECT_EQ(list["out"]["strImpressoras"][12].s, "DARUMA FS600");
}

TEST(ScriptRun, SetLinesReachTheControl) {
  CTarvionCtrl ctrl;
  ASSERT_EQ(runLine(ctrl, "InitializeECF 9 1 9600 0 8 1 0 FALSE FALSE", false).output, "InitializeECF -> -1");
  EXPECT_EQ(runLine(ctrl, "AlterarHVAgendado", false).output, "AlterarHVAgendado -> 0");
  LineResult set = runLine(ctrl, "AlterarHVAgendado = TRUE", true);
  EXPECT_TRUE(set.parsed);
  EXPECT_EQ(set.output, R"({"entry": "AlterarHVAgendado", "result": null, "set": -1})");
  EXPECT_EQ(runLine(ctrl, "AlterarHVAgendado", false).output, "AlterarHVAgendado -> -1");
  EXPECT_EQ(runLine(ctrl, "alterarhvagendado=FALSE", false).output, "AlterarHVAgendado = 0");
  EXPECT_EQ(runLine(ctrl, "AlterarHVAgendado", false).output, "AlterarHVAgendado -> 0");
  LineResult refused = runLine(ctrl, "EquipamentMark = X", false);
  EXPECT_FALSE(refused.parsed);
  EXPECT_EQ(refused.output, "EquipamentMark: error: EquipamentMark is read-only");
}

// The shell's stream: a line past the limit is refused and the run goes on;
// an output nobody can write stops it with its own status.
TEST(ScriptRun, LongLinesAreRefusedAndAnUnwritableOutputStops) {
  std::string input = "ExisteECF DARUMA\r\n";
  input += std::string(kMaxLineBytes + 10, 'x');
  input += "\n\nExisteECF \"DARUMA FS600\"";  // the last line has no line break
  std::istringstream in(input);
  std::ostringstream out, err;
  EXPECT_EQ(runShell(in, out, err, {}), 2);
  EXPECT_EQ(out.str(), "ExisteECF -> 0\nerror: line longer than 4194304 bytes\nExisteECF -> 13\n");

  // A stream whose every write fails, like standard output on /dev/full.
  struct Full : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } full;
  std::ostream broken(&full);
  std::istringstream twoCalls("ExisteECF DARUMA\nExisteECF DARUMA\n");
  std::ostringstream err2;
  EXPECT_EQ(runShell(twoCalls, broken, err2, {}), 1);
  EXPECT_EQ(err2.str(), "tarvion: cannot write the output\n");
}

// ------------------------------------------------------------------ C interface

TEST(ScriptCApi, ListsTheEntries) {
  EXPECT_EQ(tarvion_entry_count(), 172);
  EXPECT_STREQ(tarvion_entry_name(0), "AbreComprovanteVinculado");
  EXPECT_STREQ(tarvion_entry_name(171), "AlterarHVAgendado");
  EXPECT_EQ(tarvion_entry_name(172), nullptr);
  EXPECT_EQ(tarvion_entry_name(-1), nullptr);
}

TEST(ScriptCApi, CopiesAnswersLikeSnprintf) {
  tarvion_control* h = tarvion_create();
  ASSERT_NE(h, nullptr);
  const std::string expected = R"({"entry": "ExisteECF", "result": 13, "out": {}})";

  char big[256];
  EXPECT_EQ(tarvion_call(h, "ExisteECF \"DARUMA FS600\"", 1, big, sizeof big), expected.size());
  EXPECT_EQ(std::string(big), expected);
  EXPECT_EQ(tarvion_last_status(h), 0);

  // Cut to the buffer, NUL-terminated, nothing written beyond it.
  char small[12];
  std::memset(small, '#', sizeof small);
  EXPECT_EQ(tarvion_call(h, "ExisteECF \"DARUMA FS600\"", 1, small, 8), expected.size());
  EXPECT_EQ(std::string(small), expected.substr(0, 7));
  EXPECT_EQ(small[8], '#');
  EXPECT_EQ(small[11], '#');
  // The whole answer without running the line again.
  EXPECT_EQ(tarvion_last_output(h, big, sizeof big), expected.size());
  EXPECT_EQ(std::string(big), expected);
  // Size only.
  EXPECT_EQ(tarvion_call(h, "ExisteECF DARUMA", 0, nullptr, 0), std::string("ExisteECF -> 0").size());
  char one = 'x';
  EXPECT_EQ(tarvion_call(h, "ExisteECF DARUMA", 0, &one, 1), std::string("ExisteECF -> 0").size());
  EXPECT_EQ(one, '\0');

  EXPECT_EQ(tarvion_call(h, "# comment", 1, big, sizeof big), 0u);
  EXPECT_STREQ(big, "");
  EXPECT_EQ(tarvion_call(h, nullptr, 1, big, sizeof big), 0u);

  tarvion_call(h, "Nope 1", 1, big, sizeof big);
  EXPECT_EQ(tarvion_last_status(h), 2);
  tjson::Value e = json(big);
  EXPECT_EQ(e["entry"].s, "Nope");
  EXPECT_EQ(e["error"].s, "unknown entry 'Nope'");
  tarvion_call(h, "UltimoErro", 1, big, sizeof big);
  EXPECT_EQ(tarvion_last_status(h), 0);

  tarvion_destroy(h);
  tarvion_destroy(nullptr);
}

TEST(ScriptCApi, ANullHandleGetsAnErrorAnswer) {
  char buf[128];
  size_t n = tarvion_call(nullptr, "ExisteECF x", 1, buf, sizeof buf);
  EXPECT_EQ(n, std::strlen(buf));
  EXPECT_EQ(json(buf)["error"].s, "no control (null handle)");
  EXPECT_EQ(tarvion_last_status(nullptr), 2);
  EXPECT_EQ(tarvion_last_output(nullptr, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(ScriptCApi, HandlesAreIndependent) {
  tarvion_control* a = tarvion_create();
  tarvion_control* b = tarvion_create();
  char buf[256];
  tarvion_call(a, "InitializeECF 9 1 9600 0 8 1 0 FALSE FALSE", 0, buf, sizeof buf);
  tarvion_call(a, "EquipamentMark", 0, buf, sizeof buf);
  EXPECT_STREQ(buf, "EquipamentMark -> \"BEMATECH\"");
  tarvion_call(b, "EquipamentMark", 0, buf, sizeof buf);
  EXPECT_STREQ(buf, "EquipamentMark -> \"\"");
  tarvion_destroy(a);
  tarvion_destroy(b);
}
