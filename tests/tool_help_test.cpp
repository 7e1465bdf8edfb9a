// `tarvion --help`, every subcommand's `--help` and the tarvion(1) page the
// build writes beside the tool: the page must name every subcommand and every
// option the help does, and render without groff warnings.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kTool = TARVION_TOOL_PATH;
const std::string kManPage = kTool + ".1";

// The names a CLI11 help text lists under a heading ("Subcommands:",
// "Options:", "Positionals:"): the first word of each item line, aliases
// ("-h,--help") split.
std::vector<std::string> helpItems(const std::string& help, const std::string& heading) {
  std::vector<std::string> names;
  std::istringstream in(help);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] != ' ') {
      inside = line == heading;
      continue;
    }
    if (!inside || line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ') continue;
    std::string first = line.substr(2, line.find(' ', 2) - 2);
    std::istringstream parts(first);
    std::string name;
    while (std::getline(parts, name, ',')) names.push_back(name);
  }
  return names;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// An option name as the page writes it: hyphens as minus signs.
std::string roffName(const std::string& name) {
  std::string out;
  for (char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
  return out;
}

// The page's text for one subcommand: from its ".SS name" to the next heading.
std::string manSection(const std::string& page, const std::string& sub) {
  const size_t start = page.find("\n.SS " + sub + "\n");
  if (start == std::string::npos) return {};
  size_t end = page.find("\n.S", start + 1);
  return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

struct Subcommand {
  const char* name;
  std::vector<std::string> items;  // options and positionals its help must list
};

const std::vector<Subcommand> kSubcommands = {
    {"models", {"--help", "--json"}},
    {"entries", {"--help", "--json"}},
    {"shell", {"--help", "--json", "--virtual", "--state", "--paper", "--answer", "FILE"}},
    {"emulate", {"--help", "--link", "--state", "--paper", "--baud", "--fault", "MODEL"}},
    {"demo", {"--help", "--json"}},
    {"ports", {"--help", "--json"}},
    {"serve", {"--help", "--config", "--listen", "--journal", "--printer", "--virtual", "--token-file"}},
};

void PrintTo(const Subcommand& s, std::ostream* os) {
  *os << s.name;
}

class SubcommandHelp : public testing::TestWithParam<Subcommand> {};

TEST_P(SubcommandHelp, AnswersWithItsUsageAndEveryOption) {
  const Subcommand& sub = GetParam();
  testsupport::CommandRun r = testsupport::runCommand(kTool + " " + sub.name + " --help 2>&1");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(std::string("Usage: ") + kTool + " " + sub.name), std::string::npos) << r.out;
  std::vector<std::string> listed = helpItems(r.out, "Options:");
  for (const std::string& p : helpItems(r.out, "Positionals:")) listed.push_back(p);
  const std::set<std::string> got(listed.begin(), listed.end());
  for (const std::string& item : sub.items) EXPECT_TRUE(got.count(item)) << sub.name << " --help lacks " << item;
  // Every option the help lists has its entry in the page, in this command's section.
  const std::string section = manSection(readFile(kManPage), sub.name);
  ASSERT_FALSE(section.empty()) << "tarvion.1 has no section for " << sub.name;
  for (const std::string& item : got)
    EXPECT_NE(section.find(roffName(item)), std::string::npos) << "tarvion.1 lacks " << sub.name << " " << item;
}

INSTANTIATE_TEST_SUITE_P(Tool, SubcommandHelp, testing::ValuesIn(kSubcommands),
                         [](const testing::TestParamInfo<Subcommand>& info) { return std::string(info.param.name); });

TEST(ToolHelp, ListsEverySubcommandAndThePageDocumentsEachOne) {
  testsupport::CommandRun r = testsupport::runCommand(kTool + " --help 2>&1");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<std::string> subs = helpItems(r.out, "Subcommands:");
  std::set<std::string> expected;
  for (const Subcommand& s : kSubcommands) expected.insert(s.name);
  EXPECT_EQ(std::set<std::string>(subs.begin(), subs.end()), expected) << r.out;
  const std::string page = readFile(kManPage);
  for (const std::string& s : subs) EXPECT_FALSE(manSection(page, s).empty()) << "tarvion.1 lacks " << s;
  // The environment the top help lists is the page's ENVIRONMENT section.
  for (const char* variable : {"TARVION_PORT_<n>", "TARVION_USB_DEVICE", "TARVION_SYSFS_ROOT"}) {
    EXPECT_NE(r.out.find(variable), std::string::npos) << variable;
    EXPECT_NE(page.find(std::string(".B ") + variable), std::string::npos) << variable;
  }
}

TEST(ToolHelp, WrongOptionFailsAndNamesIt) {
  testsupport::CommandRun r = testsupport::runCommand(kTool + " ports --no-such-flag 2>&1");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("--no-such-flag"), std::string::npos) << r.out;
}

TEST(ToolManPage, RendersWithoutWarnings) {
  // man-db's formatter with every groff warning on; anything on standard
  // error is a fault in the generated roff.
  testsupport::TempDir tmp;
  const std::string errors = tmp.file("errors.txt");
  // Not a terminal: man writes plain text, without overstriking.
  testsupport::CommandRun r =
      testsupport::runCommand("MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=w -l '" + kManPage + "' 2>'" + errors + "'");
  ASSERT_EQ(r.status, 0) << readFile(errors);
  EXPECT_EQ(readFile(errors), "");
  // Justified lines stretch blanks: one blank per run, as written.
  std::string text;
  for (char c : r.out)
    if (!(c == ' ' && !text.empty() && text.back() == ' ')) text += c;
  r.out = text;
  EXPECT_NE(r.out.find("TARVION(1)"), std::string::npos) << r.out.substr(0, 400);
  for (const Subcommand& s : kSubcommands)
    EXPECT_NE(r.out.find(std::string("tarvion ") + s.name), std::string::npos) << s.name << " in\n" << r.out;
  // Option names come out as typed: an ASCII hyphen-minus, so they can be copied.
  EXPECT_NE(r.out.find("--virtual MODEL@PORT"), std::string::npos) << r.out;
}

TEST(ToolManPage, CompressedCopyIsTheSamePage) {
  testsupport::CommandRun r = testsupport::runCommand("gzip -dc '" + kManPage + ".gz'");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, readFile(kManPage));
}

}  // namespace
