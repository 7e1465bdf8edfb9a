// The one binder of the shell and the service: an argument as a line's token
// or as a typed JSON value, read into an entry's parameters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/script.h"
#include "tarvion/tarvion.hpp"

namespace tarvion::script {
namespace {

using K = Arg::Kind;

// A bound value as text, whatever its type, for one expectation per row.
std::string shown(const Value& v, Type type) {
  switch (type) {
    case Type::Bool:
    case Type::Short:
    case Type::Long:
      return std::to_string(v.i);
    case Type::Double:
      return numberText(v.d);
    case Type::Date:
      return dateText(v);
    case Type::String:
      return v.s;
    case Type::Void:
      break;
  }
  return "?";
}

struct Binding {
  const char* what;
  Arg arg;
  Type type;
  bool ok;
  std::string says;  // the value shown, or the whole error
};

void PrintTo(const Binding& c, std::ostream* os) {
  *os << c.what;
}

class BindValue : public ::testing::TestWithParam<Binding> {};

TEST_P(BindValue, ReadsWhatSuitsTheParameterAndTellsWhyNot) {
  const Binding& c = GetParam();
  Value v;
  std::string error;
  const bool ok = bindValue(c.arg, c.type, v, error);
  ASSERT_EQ(ok, c.ok) << error;
  if (ok) {
    EXPECT_EQ(v.type, c.type);
    EXPECT_EQ(shown(v, c.type), c.says);
  } else {
    EXPECT_EQ(error, c.says);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BindValue,
    ::testing::Values(
        // A line's token is read as whatever the parameter needs.
        Binding{"TokenTrue", {K::Token, "true"}, Type::Bool, true, "-1"},
        Binding{"TokenFalse", {K::Token, "FALSE"}, Type::Bool, true, "0"},
        Binding{"TokenBoolNumber", {K::Token, "2"}, Type::Bool, true, "2"},
        Binding{"TokenBoolWord", {K::Token, "yes"}, Type::Bool, false, "'yes' is not TRUE, FALSE or a 16-bit integer"},
        Binding{
            "TokenShortRange", {K::Token, "32768"}, Type::Short, false, "'32768' is out of range (-32768 to 32767)"},
        Binding{"TokenLong", {K::Token, "+12"}, Type::Long, true, "12"},
        Binding{"TokenLongFraction", {K::Token, "1.0"}, Type::Long, false, "'1.0' is not an integer"},
        Binding{"TokenDouble", {K::Token, "2.5"}, Type::Double, true, "2.5"},
        Binding{"TokenDoubleComma",
                {K::Token, "2,5"},
                Type::Double,
                false,
                "'2,5' is not a number (write it with a decimal point)"},
        Binding{"TokenNaN", {K::Token, "NaN"}, Type::Double, false, "'NaN' is not a finite number"},
        Binding{"TokenDate", {K::Token, "2024-02-29T13:05:09"}, Type::Date, true, "2024-02-29T13:05:09"},
        Binding{"TokenString", {K::Token, "12"}, Type::String, true, "12"},
        // A typed value must suit the parameter before its text is read.
        Binding{"Boolean", {K::Boolean, "TRUE"}, Type::Bool, true, "-1"},
        Binding{"IntegerForBool", {K::Integer, "0"}, Type::Bool, true, "0"},
        Binding{"StringForBool", {K::String, "TRUE"}, Type::Bool, false, "expected true, false or an integer"},
        Binding{"NumberForBool", {K::Number, "1.5"}, Type::Bool, false, "expected true, false or an integer"},
        Binding{"IntegerForShort", {K::Integer, "-7"}, Type::Short, true, "-7"},
        Binding{"IntegerOutOfShort",
                {K::Integer, "40000"},
                Type::Short,
                false,
                "'40000' is out of range (-32768 to 32767)"},
        Binding{"NumberForLong", {K::Number, "1.5"}, Type::Long, false, "expected an integer"},
        Binding{"BooleanForLong", {K::Boolean, "TRUE"}, Type::Long, false, "expected an integer"},
        Binding{"StringForLong", {K::String, "5"}, Type::Long, false, "expected an integer"},
        Binding{"IntegerForDouble", {K::Integer, "10"}, Type::Double, true, "10"},
        Binding{"NumberForDouble", {K::Number, "1e-3"}, Type::Double, true, "0.001"},
        Binding{"StringForDouble", {K::String, "10"}, Type::Double, false, "expected a number"},
        Binding{"StringForDate", {K::String, "2024-01-31"}, Type::Date, true, "2024-01-31T00:00:00"},
        Binding{"BadDate", {K::String, "2024-13-01"}, Type::Date, false, "'2024-13-01' is not a valid date"},
        Binding{"IntegerForDate",
                {K::Integer, "20240101"},
                Type::Date,
                false,
                "expected a date string (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)"},
        Binding{"String", {K::String, "Dinheiro"}, Type::String, true, "Dinheiro"},
        Binding{"IntegerForString", {K::Integer, "1"}, Type::String, false, "expected a string"},
        Binding{"OtherForString", {K::Other, ""}, Type::String, false, "expected a string"},
        Binding{"OtherForLong", {K::Other, ""}, Type::Long, false, "expected an integer"},
        Binding{"TokenForVoid", {K::Token, "1"}, Type::Void, false, "no value can be given here"},
        Binding{"TypedForVoid", {K::Integer, "1"}, Type::Void, false, "no value can be given here"}),
    [](const auto& info) { return std::string(info.param.what); });

const EntryInfo& entry(const char* name) {
  const EntryInfo* e = findEntry(name);
  EXPECT_NE(e, nullptr) << name;
  return *e;
}

TEST(BindArgs, InParametersTakeTheArgumentsInOrderAndOutParametersStartEmpty) {
  // Dates, then a string out parameter, then a BOOL.
  const EntryInfo& e = entry("LeituraMFSerialData");
  std::vector<Value> out(1, Value::longInt(99));  // replaced whole
  std::string error;
  size_t bad = 7;
  ASSERT_TRUE(
      bindArgs(e, {{K::String, "2024-01-01"}, {K::Token, "2024-01-31"}, {K::Boolean, "TRUE"}}, out, error, &bad))
      << error;
  EXPECT_EQ(bad, 0u);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(dateText(out[0]), "2024-01-01T00:00:00");
  EXPECT_EQ(dateText(out[1]), "2024-01-31T00:00:00");
  EXPECT_EQ(out[2].type, Type::String);
  EXPECT_EQ(out[2].s, "");
  EXPECT_EQ(out[3].type, Type::Bool);
  EXPECT_EQ(out[3].i, -1);

  // An argument is counted among the arguments given, not the parameters.
  EXPECT_FALSE(
      bindArgs(e, {{K::String, "2024-01-01"}, {K::String, "2024-01-31"}, {K::String, "yes"}}, out, error, &bad));
  EXPECT_EQ(error, "argument 3 (bResumida): expected true, false or an integer");
  EXPECT_EQ(bad, 3u);
}

TEST(BindArgs, TheCountIsCheckedBeforeAnyArgument) {
  struct Case {
    const char* entry;
    std::vector<Arg> args;
    const char* says;
  };
  const Case cases[] = {
      {"AbreCupomFiscal", {{K::Token, "x"}}, "AbreCupomFiscal takes 0 arguments, got 1"},
      {"ExisteECF", {}, "ExisteECF takes 1 argument (strNomeECF), got 0"},
      // A wrong argument is not reported while the count is wrong.
      {"RegistraPagamento",
       {{K::Integer, "1"}},
       "RegistraPagamento takes 2 arguments (strPaymentType, nValorPagamento), got 1"},
      // An in/out parameter is given; out parameters are not.
      {"EnviaComandoECF", {}, "EnviaComandoECF takes 3 arguments (strComando, intTamCmd, intTamResp), got 0"},
  };
  for (const Case& c : cases) {
    std::vector<Value> out;
    std::string error;
    size_t bad = 7;
    EXPECT_FALSE(bindArgs(entry(c.entry), c.args, out, error, &bad)) << c.entry;
    EXPECT_EQ(error, c.says);
    EXPECT_EQ(bad, 0u) << c.entry;
  }
}

TEST(BindArgs, OnlyGetSetEntriesAreSettable) {
  std::string error;
  EXPECT_TRUE(settable(entry("AlterarHVAgendado"), error));
  EXPECT_FALSE(settable(entry("UltimoErro"), error));
  EXPECT_EQ(error, "UltimoErro is read-only");
  EXPECT_FALSE(settable(entry("AbreCupomFiscal"), error));
  EXPECT_EQ(error, "AbreCupomFiscal is a method and cannot be set");
}

}  // namespace
}  // namespace tarvion::script
