// Models named as text: by number or by name, under the rule of whoever asks
// (people through the tools and the service, hosts through the control's name
// entries).
#include "core/model_lookup.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvion::caps {
namespace {

struct FiscalText {
  const char* what;
  std::string text;
  int number;  // 0: no fiscal model
};

void PrintTo(const FiscalText& c, std::ostream* os) {
  *os << c.what;
}

class FiscalModelNumber : public ::testing::TestWithParam<FiscalText> {};

TEST_P(FiscalModelNumber, ReadsANumberOrAName) {
  EXPECT_EQ(fiscalModelNumber(GetParam().text), GetParam().number) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, FiscalModelNumber,
    ::testing::Values(
        // Numbers: the row's position, blanks around ignored.
        FiscalText{"First", "1", 1}, FiscalText{"Last", "56", 56}, FiscalText{"Blanks", " \t13 ", 13},
        FiscalText{"LeadingZeros", "007", 7}, FiscalText{"Zero", "0", 0}, FiscalText{"PastTheTable", "57", 0},
        FiscalText{"Negative", "-1", 0}, FiscalText{"Plus", "+5", 0}, FiscalText{"Fraction", "1.0", 0},
        FiscalText{"DigitsThenLetter", "10x", 0}, FiscalText{"BlankInside", "1 3", 0},
        FiscalText{"TooManyDigits", "99999999999999999999", 0},
        FiscalText{"ZerosThenAModel", std::string(40, '0') + "5", 5},
        // Names: whole name, ASCII case and blanks around ignored.
        FiscalText{"Name", "DARUMA FS600", 13}, FiscalText{"LowerCase", "daruma fs600", 13},
        FiscalText{"MixedCaseAndBlanks", "\t Daruma Fs600 \r\n", 13},
        FiscalText{"NameThatPrefixesAnother", "DARUMA FS700", 14}, FiscalText{"TheLongerOne", "daruma fs700 h", 15},
        FiscalText{"PartOfAName", "DARUMA", 0}, FiscalText{"BlanksInsideCount", "DARUMA  FS600", 0},
        FiscalText{"CheckTableOnly", "PERTOCHECK", 0}, FiscalText{"Unknown", "NO SUCH PRINTER", 0},
        FiscalText{"Empty", "", 0}, FiscalText{"AllBlanks", " \t ", 0},
        FiscalText{"OverLong", std::string(100000, 'A'), 0},
        FiscalText{"ManyTrailingBlanks", "IBM 4610 SUREMARK" + std::string(5000, ' '), 26},
        FiscalText{"EmbeddedNul", std::string("DARUMA FS600\0X", 14), 0},
        FiscalText{"NonAsciiLetter", "DARUMA FS600\xC9", 0}, FiscalText{"Utf8Accent", "D\xC3\x81RUMA FS600", 0},
        FiscalText{"FullWidthDigit", "\xEF\xBC\x91", 0}),
    [](const auto& info) { return std::string(info.param.what); });

struct NamedRow {
  const char* what;
  const std::vector<ModelRow>* table;
  std::string name;
  NameMatch match;
  int number;  // 0: none
};

void PrintTo(const NamedRow& c, std::ostream* os) {
  *os << c.what;
}

class FindModelUnderARule : public ::testing::TestWithParam<NamedRow> {};

TEST_P(FindModelUnderARule, FindsTheRowOrNone) {
  const NamedRow& c = GetParam();
  const ModelRow* r = findModel(*c.table, c.name, c.match);
  if (c.number == 0) {
    EXPECT_EQ(r, nullptr) << r->name;
  } else {
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r, &(*c.table)[static_cast<size_t>(c.number - 1)]) << r->name;
  }
}

const auto* kFiscal = &fiscalModels();
const auto* kCheck = &checkModels();

INSTANTIATE_TEST_SUITE_P(
    Table, FindModelUnderARule,
    ::testing::Values(NamedRow{"LooseFiscal", kFiscal, "  ibm 4610 suremark ", NameMatch::Loose, 26},
                      NamedRow{"LooseCheck", kCheck, " pertocheck\t", NameMatch::Loose, 10},
                      // ExisteECF: case and blanks after the name ignored, blanks before it not.
                      NamedRow{"TrailingBlanks", kFiscal, "daruma fs600 \t", NameMatch::TrailingBlanks, 13},
                      NamedRow{"TrailingKeepsLeading", kFiscal, " DARUMA FS600", NameMatch::TrailingBlanks, 0},
                      NamedRow{"TrailingWholeName", kFiscal, "DARUMA", NameMatch::TrailingBlanks, 0},
                      NamedRow{"TrailingLast", kFiscal, "daruma fs800i", NameMatch::TrailingBlanks, 56},
                      // CheckPrinterID: the name as the table writes it, nothing else.
                      NamedRow{"Exact", kCheck, "PERTOCHECK", NameMatch::Exact, 10},
                      NamedRow{"ExactCase", kCheck, "pertocheck", NameMatch::Exact, 0},
                      NamedRow{"ExactTrailingBlank", kCheck, "PERTOCHECK ", NameMatch::Exact, 0},
                      NamedRow{"ExactLeadingBlank", kCheck, " PERTOCHECK", NameMatch::Exact, 0},
                      NamedRow{"ExactLast", kCheck, "ZPM ZPM/2ECF LOGGER", NameMatch::Exact, 21},
                      NamedRow{"EmptyUnderEveryRule", kCheck, "", NameMatch::Exact, 0},
                      NamedRow{"BlanksOnly", kFiscal, "   ", NameMatch::TrailingBlanks, 0}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(ModelLookup, APersonsNameIsFiscalFirstThenCheck) {
  // Both tables list this printer: the fiscal row wins.
  const ModelRow* both = findModel("bematech mp-40 fi ii ecf-if");
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(both, &fiscalModels()[5]);
  const ModelRow* check = findModel(" PertoCheck ");
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(check, &checkModels()[9]);
  EXPECT_EQ(findModel("NO SUCH PRINTER"), nullptr);
  EXPECT_EQ(findModel(""), nullptr);
}

TEST(ModelLookup, EveryRowAnswersToItsNameAndNumber) {
  for (const auto* table : {&fiscalModels(), &checkModels()})
    for (const ModelRow& r : *table) {
      SCOPED_TRACE(r.name);
      std::string lower = r.name;
      for (char& ch : lower)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
      EXPECT_EQ(findModel(*table, r.name, NameMatch::Exact), &r);
      EXPECT_EQ(findModel(*table, lower + "  ", NameMatch::TrailingBlanks), &r);
      EXPECT_EQ(findModel(*table, "\t" + lower + " ", NameMatch::Loose), &r);
    }
  for (const ModelRow& r : fiscalModels()) {
    EXPECT_EQ(fiscalModelNumber(std::to_string(r.number)), r.number);
    EXPECT_EQ(fiscalModelNumber(r.name), r.number);
  }
}

TEST(ModelLookup, KeysFoldOnlyAsciiLetters) {
  EXPECT_EQ(modelNameKey("  Mp-20 fi\t"), "MP-20 FI");
  EXPECT_EQ(modelNameKey("  Mp-20 fi\t", NameMatch::TrailingBlanks), "  MP-20 FI");
  EXPECT_EQ(modelNameKey("  Mp-20 fi\t", NameMatch::Exact), "  Mp-20 fi\t");
  // A Windows-1252 letter and a UTF-8 one keep their bytes.
  EXPECT_EQ(modelNameKey("caf\xE9"), "CAF\xE9");
  EXPECT_EQ(modelNameKey("caf\xC3\xA9"), "CAF\xC3\xA9");
}

}  // namespace
}  // namespace tarvion::caps
