// The state file of a virtual printer kept safely: a file that cannot be
// trusted is refused and left alone, a change that cannot be written is not
// made, one printer at a time owns a file, the temporary file cannot be
// redirected, and the paper does not grow in memory with the receipts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "core/text.h"
#include "emulate_process.h"
#include "emulator/fiscal_core.h"
#include "emulator/fiscal_state_file.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "emulator_rig.h"
#include "platform/durable_file.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kNow = 1796378400;  // 2026-12-04 10:00:00

FiscalCore::Options options(const std::string& path) {
  return FiscalCore::Options{path, [] { return kNow; }};
}

// One receipt of one item, paid in cash; the first refusal, or Ok.
FiscalError sale(FiscalCore& core, Cents value) {
  FiscalCore::ItemInput in;
  in.code = "1";
  in.description = "CAFE";
  in.unit = "UN";
  in.quantity = 1000;
  in.unitPrice = value * 10;
  in.tax = "01";
  for (const std::function<FiscalError()>& step : std::vector<std::function<FiscalError()>>{
           [&] { return core.openReceipt(); }, [&] { return core.registerItem(in); },
           [&] { return core.totalize(0, 0); }, [&] { return core.pay(0, value); },
           [&] { return core.closeReceipt(""); }})
    if (FiscalError e = step(); e != FiscalError::Ok) return e;
  return FiscalError::Ok;
}

// A sound state, with a receipt sold and one open, as JSON to be spoiled.
nlohmann::ordered_json soundState() {
  FiscalCore core(options(""));
  EXPECT_EQ(sale(core, 1250), FiscalError::Ok);
  EXPECT_EQ(core.openReceipt(), FiscalError::Ok);
  return nlohmann::ordered_json::parse(core.serialize());
}

std::string fileKind(const std::string& path) {
  std::error_code ec;
  const fs::file_status s = fs::symlink_status(path, ec);
  if (fs::is_symlink(s)) return "link to " + fs::read_symlink(path, ec).string();
  if (fs::is_directory(s)) return "folder";
  if (!fs::exists(s)) return "missing";
  return testsupport::readFile(path);
}

}  // namespace

// ------------------------------------------------------------ refused files

struct SpoiledCase {
  const char* name;
  // Puts the spoiled state at path (in the folder dir); returns the path the printer is given.
  std::function<std::string(const std::string& dir)> make;
  std::vector<std::string> expected;  // in the message, besides the file's name
};

std::string writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string writeJson(const std::string& dir, const std::function<void(nlohmann::ordered_json&)>& spoil) {
  nlohmann::ordered_json j = soundState();
  spoil(j);
  return writeText(dir + "/ecf.state", j.dump(1));
}

// The grand total written out as a number the file may not hold.
std::string withGrandTotal(const std::string& dir, const std::string& number) {
  std::string text = soundState().dump(1);
  const std::string key = "\"grandTotal\": ";
  const size_t at = text.find(key) + key.size();
  text.replace(at, text.find(',', at) - at, number);
  return writeText(dir + "/ecf.state", text);
}

const SpoiledCase kSpoiled[] = {
    {"truncated",
     [](const std::string& d) {
       const std::string t = soundState().dump(1);
       return writeText(d + "/ecf.state", t.substr(0, t.size() * 2 / 3));
     },
     {"cut short"}},
    {"wrong_version",
     [](const std::string& d) { return writeJson(d, [](auto& j) { j["version"] = 3; }); },
     {"version 3"}},
    {"missing_counter",
     [](const std::string& d) { return writeJson(d, [](auto& j) { j["counters"].erase("coo"); }); },
     {"field counters.coo: is missing"}},
    {"missing_item_field",
     [](const std::string& d) { return writeJson(d, [](auto& j) { j["lastReceipt"]["items"][0].erase("quantity"); }); },
     {"field lastReceipt.items[0].quantity: is missing"}},
    {"negative_counter",
     [](const std::string& d) { return writeJson(d, [](auto& j) { j["counters"]["crz"] = -1; }); },
     {"field counters.crz", "-1 is out of range"}},
    {"counter_past_its_digits",
     [](const std::string& d) { return writeJson(d, [](auto& j) { j["counters"]["coo"] = 1000000; }); },
     {"field counters.coo", "out of range"}},
    {"negative_grand_total",
     [](const std::string& d) { return withGrandTotal(d, "-5"); },
     {"field grandTotal", "-5 is out of range"}},
    {"grand_total_past_int64",
     [](const std::string& d) { return withGrandTotal(d, "9223372036854775808"); },
     {"field grandTotal", "out of range"}},
    {"grand_total_past_uint64",
     [](const std::string& d) { return withGrandTotal(d, "99999999999999999999999"); },
     {"field grandTotal", "not a whole number"}},
    {"grand_total_as_text",
     [](const std::string& d) { return withGrandTotal(d, "\"12\""); },
     {"field grandTotal: is not a number"}},
    {"payment_past_the_table",
     [](const std::string& d) { return writeJson(d, [](auto& j) { j["lastReceipt"]["payments"][0]["type"] = 7; }); },
     {"field lastReceipt.payments[0].type", "out of range"}},
    {"item_with_unknown_tax",
     [](const std::string& d) {
       return writeJson(d, [](auto& j) {
         j["document"]["kind"] = "fiscal";
         j["document"]["items"] = j["lastReceipt"]["items"];
         j["document"]["items"][0]["tax"] = "09";
       });
     },
     {"field document.items[0].tax", "not a programmed tax"}},
    {"serial_longer_than_its_field",
     [](const std::string& d) {
       return writeJson(d, [](auto& j) { j["identity"]["serial"] = "BE0000000000000000000001"; });
     },
     {"field identity.serial", "longer than 20"}},
    {"old_text_format",
     [](const std::string& d) { return writeText(d + "/ecf.state", "tarvion-fiscal-state=1\ngt=5\nend=1\n"); },
     {"not a JSON state file"}},
    {"other_json",
     [](const std::string& d) { return writeText(d + "/ecf.state", "{\"coo\": 1}"); },
     {"not a fiscal state file"}},
    {"unreadable_folder_in_its_place",
     [](const std::string& d) {
       fs::create_directory(d + "/ecf.state");
       return d + "/ecf.state";
     },
     {"not a regular file"}},
    {"symbolic_link",
     [](const std::string& d) {
       writeText(d + "/real.state", soundState().dump(1));
       fs::create_symlink(d + "/real.state", d + "/ecf.state");
       return d + "/ecf.state";
     },
     {"symbolic link"}},
    {"folder_missing", [](const std::string& d) { return d + "/nowhere/ecf.state"; }, {"does not exist"}},
};

void PrintTo(const SpoiledCase& c, std::ostream* os) {
  *os << c.name;
}

class SpoiledStateFile : public ::testing::TestWithParam<SpoiledCase> {};

TEST_P(SpoiledStateFile, IsRefusedNamedAndLeftAsItWas) {
  const SpoiledCase& c = GetParam();
  testsupport::TempDir dir;
  const std::string path = c.make(dir.path());
  const std::string before = fileKind(path);
  const std::string realBefore = fileKind(dir.file("real.state"));
  {
    FiscalCore core(options(path));
    const std::string& err = core.loadError();
    EXPECT_NE(err.find(path), std::string::npos) << err;
    for (const std::string& part : c.expected) EXPECT_NE(err.find(part), std::string::npos) << err;
    // Such a printer does nothing it could not keep, and never writes the file.
    EXPECT_EQ(core.openReceipt(), FiscalError::MemoryWrite);
    EXPECT_FALSE(core.receiptOpen());
    std::string makeErr;
    EXPECT_EQ(makePrinter(1, path, "", &makeErr), nullptr);
    EXPECT_NE(makeErr.find(path), std::string::npos) << makeErr;
  }
  EXPECT_EQ(fileKind(path), before);
  EXPECT_EQ(fileKind(dir.file("real.state")), realBefore);
  EXPECT_FALSE(fs::exists(dir.file("nowhere")));
}

INSTANTIATE_TEST_SUITE_P(Cases, SpoiledStateFile, ::testing::ValuesIn(kSpoiled),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StateFile, TheEmulateCommandStopsOnARefusedFileAndLeavesIt) {
  testsupport::TempDir dir;
  for (const SpoiledCase& c : {kSpoiled[0], kSpoiled[4], kSpoiled[16], kSpoiled[17]}) {
    fs::create_directory(dir.file(c.name));
    const std::string path = c.make(dir.file(c.name));
    const std::string before = fileKind(path);
    testsupport::CommandRun r =
        testsupport::runCommand("timeout 20 " TARVION_TOOL_PATH " emulate 1 --state '" + path + "' 2>&1");
    EXPECT_EQ(r.status, 1) << c.name << ": " << r.out;
    EXPECT_NE(r.out.find(path), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.expected[0]), std::string::npos) << r.out;
    EXPECT_EQ(fileKind(path), before) << c.name;
  }
}

TEST(StateFile, WhatIsWrittenReadsBackTheSame) {
  FiscalCore core(options(""));
  ASSERT_EQ(sale(core, 990), FiscalError::Ok);
  // Every Windows-1252 byte, the five it leaves undefined included, comes back.
  const std::string name = text::cp("Vale ") + "\x81\x8D" + text::cp("|%Refeição\"");
  ASSERT_EQ(core.addPayment(name), FiscalError::Ok);
  ASSERT_EQ(core.zReduction(), FiscalError::Ok);
  ASSERT_EQ(core.setClock(kNow + 86400), FiscalError::Ok);  // the next day
  ASSERT_EQ(core.openReceipt(text::cp("CPF ção")), FiscalError::Ok);
  const std::string json = core.serialize();
  const auto j = nlohmann::json::parse(json);
  EXPECT_EQ(j["format"], kStateFormat);
  EXPECT_EQ(j["version"], kStateVersion);
  FiscalCore back(options(""));
  std::string err;
  ASSERT_TRUE(back.deserialize(json, &err)) << err;
  EXPECT_EQ(back.serialize(), json);
  EXPECT_EQ(back.payments()[3].name, name);
  EXPECT_EQ(back.document().customer, text::cp("CPF ção"));
  ASSERT_EQ(back.fiscalMemory().size(), 1u);
  EXPECT_EQ(back.fiscalMemory()[0].grandTotal, 990);
}

// ------------------------------------------------------------ failed writes

TEST(StateFile, AChangeThatCannotBeWrittenIsNotMade) {
  testsupport::TempDir dir;
  fs::create_directory(dir.file("ecf"));
  const std::string path = dir.file("ecf/ecf.state");
  std::string kept;
  {
    FiscalCore core(options(path));
    ASSERT_EQ(core.loadError(), "");
    ASSERT_EQ(sale(core, 1000), FiscalError::Ok);
    kept = core.serialize();
    const Cents gt = core.grandTotal();
    const int coo = core.counters().coo;
    // The folder goes away under the running printer: the sale fails as a
    // memory error, and the printer holds what the file holds.
    fs::rename(dir.file("ecf"), dir.file("moved"));
    EXPECT_EQ(core.openReceipt(), FiscalError::MemoryWrite);
    EXPECT_FALSE(core.receiptOpen());
    EXPECT_EQ(sale(core, 500), FiscalError::MemoryWrite);
    EXPECT_EQ(core.grandTotal(), gt);
    EXPECT_EQ(core.counters().coo, coo);
    EXPECT_EQ(core.setClock(kNow + 3600), FiscalError::MemoryWrite);
    EXPECT_EQ(core.clockOffset(), 0);
    EXPECT_EQ(core.nonFiscalReceipt(1, 500, 0), FiscalError::MemoryWrite);
    EXPECT_EQ(core.zReduction(), FiscalError::MemoryWrite);
    EXPECT_TRUE(core.fiscalMemory().empty());
    EXPECT_EQ(core.serialize(), kept);
    EXPECT_EQ(testsupport::readFile(dir.file("moved/ecf.state")), kept);
    fs::rename(dir.file("moved"), dir.file("ecf"));
    // Back in place, the printer carries on from there.
    EXPECT_EQ(sale(core, 200), FiscalError::Ok);
    kept = core.serialize();
  }
  FiscalCore again(options(path));
  ASSERT_EQ(again.loadError(), "");
  EXPECT_EQ(again.serialize(), kept);
  EXPECT_EQ(again.counters().coo, 2);
  EXPECT_EQ(again.grandTotal(), 1200);
}

TEST(StateFile, AFullDiskFailsTheSaleAndKeepsTheLastState) {
  testsupport::TempDir dir;
  const std::string path = dir.file("ecf.state");
  // In a child, three sales go through; then files may no longer grow past
  // half the state, as on a disk that fills up. The child's exit code says
  // whether the next sale failed with memory and disk still agreeing.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    FiscalCore core(options(path));
    for (int i = 0; i < 3; ++i)
      if (sale(core, 100) != FiscalError::Ok) _exit(1);
    const std::string before = testsupport::readFile(path);
    struct rlimit lim {
      before.size() / 2, before.size() / 2
    };
    setrlimit(RLIMIT_FSIZE, &lim);
    if (core.openReceipt() != FiscalError::MemoryWrite || core.receiptOpen()) _exit(2);
    if (core.serialize() != before || testsupport::readFile(path) != before) _exit(3);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "1: a sale failed, 2: the write failure was not reported, 3: memory and disk "
                                       "disagreed";
  FiscalCore again(options(path));
  ASSERT_EQ(again.loadError(), "");
  EXPECT_EQ(again.counters().ccf, 3);
  EXPECT_EQ(again.grandTotal(), 300);
  EXPECT_FALSE(again.receiptOpen());
  // Only the state and its lock are left: the cut temporary file was removed.
  size_t files = 0;
  for (auto& e : fs::directory_iterator(dir.path())) files += e.path().filename().string().rfind("ecf.state", 0) == 0;
  EXPECT_EQ(files, 2u);
}

TEST(StateFile, TheBematechFaceAnswersAWriteFailureAsAMemoryError) {
  testsupport::TempDir dir;
  fs::create_directory(dir.file("ecf"));
  emutest::EmulatorRig r(3, dir.file("ecf/ecf.state"));
  ASSERT_EQ(r.core->loadError(), "");
  fs::rename(dir.file("ecf"), dir.file("moved"));
  const emutest::St st = emutest::tail(r.reply(ByteArray{bematech::cmd::OpenReceipt}));
  EXPECT_EQ(st.st2, bematech::st2::RamError) << st;
  EXPECT_EQ(st.st3, 61) << st;  // "Erro na memória de trabalho."
  EXPECT_FALSE(r.core->receiptOpen());
}

// ------------------------------------------------------------ one owner

TEST(StateFile, TwoPrintersCannotShareAFile) {
  testsupport::TempDir dir;
  const std::string path = dir.file("ecf.state");
  std::string kept;
  {
    FiscalCore first(options(path));
    ASSERT_EQ(first.loadError(), "");
    ASSERT_EQ(sale(first, 700), FiscalError::Ok);
    kept = testsupport::readFile(path);
    FiscalCore second(options(path));
    EXPECT_NE(second.loadError().find(path), std::string::npos) << second.loadError();
    EXPECT_NE(second.loadError().find("in use"), std::string::npos) << second.loadError();
    EXPECT_EQ(sale(second, 100), FiscalError::MemoryWrite);
    EXPECT_EQ(second.factoryReset(), FiscalError::MemoryWrite);
    EXPECT_FALSE(second.save());
    std::string err;
    EXPECT_EQ(makePrinter(1, path, "", &err), nullptr);
    EXPECT_NE(err.find("in use"), std::string::npos) << err;
    EXPECT_EQ(testsupport::readFile(path), kept);
    // The first one goes on undisturbed.
    EXPECT_EQ(sale(first, 300), FiscalError::Ok);
    kept = first.serialize();
  }
  // Once it is gone, the file is free again.
  FiscalCore third(options(path));
  ASSERT_EQ(third.loadError(), "");
  EXPECT_EQ(third.serialize(), kept);
}

TEST(StateFile, ASecondEmulateOnTheSameFileIsRefusedAtStart) {
  testsupport::TempDir dir;
  const std::string state = dir.file("ecf.state");
  testsupport::EmulateProcess first({"1", "--state", state});
  ASSERT_FALSE(first.path().empty());
  testsupport::CommandRun second =
      testsupport::runCommand("timeout 20 " TARVION_TOOL_PATH " emulate 1 --state '" + state + "' 2>&1");
  EXPECT_EQ(second.status, 1) << second.out;
  EXPECT_NE(second.out.find(state + ": in use by another virtual printer"), std::string::npos) << second.out;
}

// ------------------------------------------------------------ the temporary file

TEST(StateFile, TheTemporaryFileHasAFreshNameEachTime) {
  testsupport::TempDir dir;
  const std::string path = dir.file("ecf.state");
  std::string first, second, err;
  ASSERT_TRUE(platform::replaceFile(path, "one", &err, &first)) << err;
  ASSERT_TRUE(platform::replaceFile(path, "two", &err, &second)) << err;
  EXPECT_NE(first, second);
  for (const std::string& t : {first, second}) {
    EXPECT_EQ(t.rfind(path + ".", 0), 0u) << t;  // in the same folder, for the rename
    EXPECT_NE(t, path + ".tmp");
    EXPECT_FALSE(fs::exists(t));
  }
  EXPECT_EQ(testsupport::readFile(path), "two");
  EXPECT_FALSE(platform::replaceFile(dir.file("nowhere/ecf.state"), "x", &err));
  EXPECT_NE(err.find("nowhere"), std::string::npos) << err;
}

TEST(StateFile, ALinkLeftUnderAGuessableNameRedirectsNothing) {
  testsupport::TempDir dir;
  const std::string path = dir.file("ecf.state");
  writeText(dir.file("victim"), "precious");
  for (const char* name : {"ecf.state.tmp", "ecf.state.new", "ecf.state~"})
    fs::create_symlink(dir.file("victim"), dir.file(name));
  {
    FiscalCore core(options(path));
    ASSERT_EQ(core.loadError(), "");
    ASSERT_EQ(sale(core, 100), FiscalError::Ok);
  }
  EXPECT_EQ(testsupport::readFile(dir.file("victim")), "precious");
  EXPECT_TRUE(fs::is_symlink(dir.file("ecf.state.tmp")));
  EXPECT_FALSE(fs::is_symlink(path));
  FiscalCore again(options(path));
  EXPECT_EQ(again.counters().ccf, 1);
}

// ------------------------------------------------------------ paper

TEST(PaperMemory, APaperInAFileKeepsOnlyItsLastLines) {
  testsupport::TempDir dir;
  writeText(dir.file("paper.txt"), "an earlier run\n");
  auto paper = std::make_shared<Paper>(dir.file("paper.txt"), 48);
  FiscalCore core(options(""));
  core.setPaper(paper);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(sale(core, 100 + i), FiscalError::Ok);
  const std::string file = testsupport::readFile(dir.file("paper.txt"));
  ASSERT_GT(file.size(), 500000u);
  EXPECT_LE(paper->memoryBytes(), Paper::kTailLines * 64);
  // What it printed is still all there, read back from the file.
  EXPECT_EQ(paper->printed(), file.substr(std::string("an earlier run\n").size()));
  EXPECT_EQ(testsupport::countOf(paper->printed(), "CUPOM FISCAL"), 1000u);
  const std::string last = paper->tail(3);
  EXPECT_EQ(testsupport::countOf(last, "\n"), 3u);
  EXPECT_EQ(file.substr(file.size() - last.size()), last);
}

TEST(PaperMemory, APaperInMemoryKeepsItsLastMegabyte) {
  Paper paper(48);
  std::string lastLine;
  for (int i = 0; i < 40000; ++i) {
    lastLine = text::format("LINHA %06d ", i) + std::string(30, 'x');
    paper.line(lastLine);
  }
  EXPECT_LE(paper.memoryBytes(), Paper::kMemoryLimit);
  EXPECT_GE(paper.memoryBytes(), Paper::kMemoryLimit / 2);
  const std::string p = paper.printed();
  EXPECT_EQ(p.size(), paper.memoryBytes());
  EXPECT_EQ(p.substr(p.size() - lastLine.size() - 1), lastLine + "\n");
  EXPECT_EQ(p.rfind("LINHA", 0), 0u);  // whole lines only
  EXPECT_EQ(paper.tail(2), text::format("LINHA %06d ", 39998) + std::string(30, 'x') + "\n" + lastLine + "\n");
  EXPECT_EQ(paper.lineCount(), 40000u);
}

// ------------------------------------------------------------ serial number

TEST(SerialNumber, TheReplyAndThePaperGiveTheSameNumber) {
  for (int model : {1, 3}) {
    emutest::EmulatorRig r(model);
    ASSERT_EQ(r.core->xReport(), FiscalError::Ok);
    const std::string printed = r.printed();
    const size_t at = printed.find("FAB:");
    ASSERT_NE(at, std::string::npos);
    const std::string onPaper = printed.substr(at + 4, printed.find(' ', at) - at - 4);
    for (uint8_t sub : {uint8_t{0}, uint8_t{40}}) {
      const ByteArray data = r.read35(sub);
      const size_t status = model == 1 ? 2 : 4;  // ST1 ST2, and ST3 with the FS prefix
      ASSERT_GT(data.size(), status);
      EXPECT_EQ(std::string(data.begin(), data.end() - static_cast<long>(status)), onPaper)
          << "model " << model << ", 35/" << int(sub);
    }
  }
}
