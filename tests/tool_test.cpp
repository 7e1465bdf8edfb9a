// The tarvion command-line tool, run as a separate process the way a user or
// another program runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "json_reader.h"
#include "test_support.h"

namespace {

const std::string kTool = TARVION_TOOL_PATH;
const std::string kNotInitialised =
    "A comunicação com a impressora ainda não foi inicializada ou a impressora não foi configurada.";

using ToolRun = testsupport::CommandRun;

ToolRun run(const std::string& command) {
  return testsupport::runCommand(command);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) v.push_back(line);
  return v;
}

tjson::Value json(const std::string& text) {
  tjson::Value v;
  std::string error;
  EXPECT_TRUE(tjson::parse(text, v, error)) << error << " in: " << text.substr(0, 300);
  return v;
}

std::vector<tjson::Value> jsonLines(const std::string& text) {
  std::vector<tjson::Value> v;
  for (const std::string& l : lines(text)) v.push_back(json(l));
  return v;
}

// Runs the shell on a script given through a file (large scripts do not fit a
// command line).
ToolRun shellFile(const std::string& script, const std::string& options = "--json") {
  // Each call gets its own folder: the suite runs its tests in parallel processes.
  testsupport::TempDir tmp;
  std::string path = tmp.file("script.txt");
  {
    std::ofstream f(path, std::ios::binary);
    f << script;
  }
  return run(kTool + " shell " + options + " '" + path + "'");
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size())) ++n;
  return n;
}

}  // namespace

TEST(ToolListings, ModelsJsonHoldsBothTablesInOrder) {
  ToolRun r = run(kTool + " models --json");
  ASSERT_EQ(r.status, 0);
  tjson::Value m = json(r.out);
  const tjson::Value& fiscal = m["fiscal"];
  const tjson::Value& check = m["check"];
  ASSERT_EQ(fiscal.a.size(), 56u);
  ASSERT_EQ(check.a.size(), 21u);
  for (size_t i = 0; i < fiscal.a.size(); ++i) EXPECT_EQ(fiscal[i]["number"].n, static_cast<double>(i + 1));
  for (size_t i = 0; i < check.a.size(); ++i) EXPECT_EQ(check[i]["number"].n, static_cast<double>(i + 1));
  EXPECT_EQ(fiscal[0]["name"].s, "BEMATECH MP-20 FI II ECF-IF");
  EXPECT_EQ(fiscal[0]["class"].s, "CBematech");
  EXPECT_EQ(fiscal[12]["name"].s, "DARUMA FS600");
  EXPECT_EQ(fiscal[55]["name"].s, "DARUMA FS800I");
  EXPECT_EQ(fiscal[55]["class"].s, "CDarumaFS800i");
  EXPECT_EQ(check[0]["name"].s, "BEMATECH MP-40 FI II ECF-IF");
  EXPECT_EQ(check[9]["name"].s, "PERTOCHECK");
  EXPECT_EQ(check[9]["class"].s, "CPertoCheck");
  EXPECT_EQ(check[20]["name"].s, "ZPM ZPM/2ECF LOGGER");
  EXPECT_EQ(check[20]["class"].s, "CZPM");
}

TEST(ToolListings, ModelsTextHasATablePerKind) {
  ToolRun r = run(kTool + " models");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Fiscal printers"), std::string::npos);
  EXPECT_NE(r.out.find("Check printers"), std::string::npos);
  std::vector<std::string> ls = lines(r.out);
  // 2 headings, 2 column lines, 1 separating blank line and 56 + 21 rows.
  EXPECT_EQ(ls.size(), 2u + 2u + 1u + 56u + 21u);
  EXPECT_NE(r.out.find("   56  DARUMA FS800I"), std::string::npos);
  EXPECT_NE(r.out.find("CDarumaFS800i"), std::string::npos);
}

TEST(ToolListings, EntriesJsonDescribesAllEntries) {
  ToolRun r = run(kTool + " entries --json");
  ASSERT_EQ(r.status, 0);
  tjson::Value e = json(r.out);
  ASSERT_EQ(e.a.size(), 172u);
  int previous = 0;
  const tjson::Value* envia = nullptr;
  for (const tjson::Value& x : e.a) {
    int id = static_cast<int>(x["dispid"].n);
    EXPECT_GT(id, previous);
    EXPECT_NE(id, 61);
    EXPECT_NE(id, 143);
    previous = id;
    EXPECT_FALSE(x["name"].s.empty());
    if (x["name"].s == "EnviaComandoECF") envia = &x;
  }
  EXPECT_EQ(e[0]["dispid"].n, 1);
  EXPECT_EQ(e[171]["dispid"].n, 174);
  EXPECT_EQ(e[171]["kind"].s, "get/set");
  ASSERT_NE(envia, nullptr);
  EXPECT_EQ((*envia)["result"].s, "BOOL");
  ASSERT_EQ((*envia)["params"].a.size(), 4u);
  EXPECT_EQ((*envia)["params"][0]["dir"].s, "in");
  EXPECT_EQ((*envia)["params"][2]["dir"].s, "out");
  EXPECT_EQ((*envia)["params"][2]["form"].s, "bytes");
  EXPECT_EQ((*envia)["params"][3]["dir"].s, "inout");
  EXPECT_EQ((*envia)["params"][3]["type"].s, "long");
  EXPECT_EQ(e[14]["name"].s, "ExisteECF");
  EXPECT_EQ(e[14]["result"].s, "long");
}

TEST(ToolListings, EntriesTextHasOneLinePerEntry) {
  ToolRun r = run(kTool + " entries");
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> ls = lines(r.out);
  ASSERT_EQ(ls.size(), 172u);
  EXPECT_NE(ls[21].find("InitializeECF"), std::string::npos);
  EXPECT_NE(ls[21].find("bOpenComm: BOOL"), std::string::npos);
}

TEST(ToolListings, UnknownCommandsFail) {
  EXPECT_NE(run(kTool + " frobnicate 2>/dev/null").status, 0);
  EXPECT_NE(run(kTool + " 2>/dev/null").status, 0);
  EXPECT_NE(run(kTool + " shell /nonexistent/script.txt 2>/dev/null").status, 0);
}

TEST(ToolShell, AnswersTheControlWithoutAPrinter) {
  ToolRun r = run(kTool +
                  " shell --json <<'EOF'\n"
                  "ExisteECF \"daruma fs600 \"\n"
                  "ExisteECF DARUMA\n"
                  "CheckPrinterID PERTOCHECK\n"
                  "CheckPrinterID pertocheck\n"
                  "\n"
                  "# two reads before any initialisation\n"
                  "UltimoErro\n"
                  "UltimoErro\n"
                  "InitializeECF 9 1 9600 0 8 1 0 FALSE FALSE\n"
                  "EquipamentMark\n"
                  "EquipamentModel\n"
                  "EOF\n");
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<tjson::Value> v = jsonLines(r.out);
  ASSERT_EQ(v.size(), 9u) << r.out;
  EXPECT_EQ(v[0]["entry"].s, "ExisteECF");
  EXPECT_EQ(v[0]["result"].n, 13);
  EXPECT_EQ(v[1]["result"].n, 0);
  EXPECT_EQ(v[2]["entry"].s, "CheckPrinterID");
  EXPECT_EQ(v[2]["result"].n, 10);
  EXPECT_EQ(v[3]["result"].n, 0);
  for (int i : {4, 5}) {
    EXPECT_EQ(v[i]["entry"].s, "UltimoErro");
    EXPECT_EQ(count(v[i]["result"].s, kNotInitialised), 1u) << v[i]["result"].s;
  }
  EXPECT_EQ(v[6]["entry"].s, "InitializeECF");
  EXPECT_EQ(v[6]["result"].n, -1);
  EXPECT_EQ(v[7]["result"].s, "BEMATECH");
  EXPECT_EQ(v[8]["result"].s, "MP-6000 TH FI");
}

TEST(ToolShell, HostileInputNeverCrashesAndGivesZeroValues) {
  const std::string huge(1 << 20, 'A');
  std::string script;
  script += "ExisteECF \"" + huge + "\"\n";
  script += "SetOperator " + huge + "\n";
  script += "RegistraPagamento DINHEIRO NaN\n";
  script += "CancelaItemFiscal -1 \"ITEM\" 18 1 1 0\n";
  script += "TaxPercents 99\n";
  script += "InitializeECF 9 1 9600 0 8 1 0 FALSE FALSE\n";
  script += "TaxPercents 99\n";
  script += "TaxPercents -1\n";
  script += "TaxTitles 99\n";
  script += "PaymentType -5\n";
  script += "EquipamentMark\n";
  ToolRun r = shellFile(script);
  EXPECT_EQ(r.status, 2);  // the NaN line
  std::vector<tjson::Value> v = jsonLines(r.out);
  ASSERT_EQ(v.size(), 11u);
  EXPECT_EQ(v[0]["result"].n, 0);
  EXPECT_EQ(v[1]["entry"].s, "SetOperator");
  EXPECT_EQ(v[1]["result"].n, 0);
  EXPECT_EQ(v[2]["entry"].s, "RegistraPagamento");
  EXPECT_NE(v[2]["error"].s.find("NaN"), std::string::npos);
  EXPECT_EQ(v[3]["entry"].s, "CancelaItemFiscal");
  EXPECT_EQ(v[3]["result"].n, 0);
  EXPECT_EQ(v[4]["result"].n, 0);
  EXPECT_EQ(v[5]["result"].n, -1);
  for (int i : {6, 7}) {
    EXPECT_EQ(v[i]["entry"].s, "TaxPercents");
    EXPECT_EQ(v[i]["result"].t, tjson::Value::T::Number);
    EXPECT_EQ(v[i]["result"].n, 0);
  }
  EXPECT_EQ(v[8]["result"].t, tjson::Value::T::String);
  EXPECT_EQ(v[8]["result"].s, "");
  EXPECT_EQ(v[9]["result"].s, "");
  // The control still answers after all that.
  EXPECT_EQ(v[10]["result"].s, "BEMATECH");
}

TEST(ToolShell, BadLinesReportAndTheRestStillRuns) {
  ToolRun r = run(kTool +
                  " shell --json <<'EOF'\n"
                  "ExisteECF \"DARUMA FS600\"\n"
                  "NoSuchEntry 1\n"
                  "\"quoted\" name\n"
                  "ExisteECF \"DARUMA FS700\"\n"
                  "EOF\n");
  EXPECT_EQ(r.status, 2);
  std::vector<tjson::Value> v = jsonLines(r.out);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0]["result"].n, 13);
  EXPECT_EQ(v[1]["entry"].s, "NoSuchEntry");
  EXPECT_FALSE(v[1]["error"].s.empty());
  EXPECT_EQ(v[1].find("result"), nullptr);
  EXPECT_EQ(v[2]["entry"].s, "");
  EXPECT_FALSE(v[2]["error"].s.empty());
  EXPECT_EQ(v[3]["result"].n, 14);

  ToolRun human = run(kTool + " shell <<'EOF'\nExisteECF\nExisteECF \"DARUMA FS600\"\nEOF\n");
  EXPECT_EQ(human.status, 2);
  EXPECT_EQ(human.out,
            "ExisteECF: error: ExisteECF takes 1 argument (strNomeECF), got 0\n"
            "ExisteECF -> 13\n");
}

TEST(ToolShell, ExampleSessionRuns) {
  const std::string path = std::string(TARVION_SOURCE_DIR) + "/examples/session.txt";
  ToolRun human = run(kTool + " shell '" + path + "'");
  EXPECT_EQ(human.status, 0) << human.out;
  EXPECT_EQ(human.out.find("error:"), std::string::npos) << human.out;

  ToolRun js = run(kTool + " shell --json '" + path + "'");
  ASSERT_EQ(js.status, 0) << js.out;
  // One answer per call in the file.
  size_t calls = 0;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    size_t start = line.find_first_not_of(" \t\r");
    if (start != std::string::npos && line[start] != '#') ++calls;
  }
  std::vector<tjson::Value> v = jsonLines(js.out);
  ASSERT_EQ(v.size(), calls);
  ASSERT_GE(calls, 10u);
  for (const tjson::Value& x : v) EXPECT_EQ(x.find("error"), nullptr) << x["entry"].s;
  bool sawRefusal = false;
  for (size_t i = 0; i + 1 < v.size(); ++i)
    if (v[i]["entry"].s == "RegistraItemFiscal" && v[i]["result"].n == 0 &&
        v[i + 1]["result"].s == "Não é possível lançar um desconto de 100%.")
      sawRefusal = true;
  EXPECT_TRUE(sawRefusal) << js.out;
}

// A program driving the shell gets each answer as soon as its line is
// written, before the input ends: through standard input, and through a named
// pipe given as FILE.
namespace {

void expectAnswersLineByLine(bool throughFifo) {
  std::string fifo;
  if (throughFifo) {
    fifo = ::testing::TempDir() + "tarvion_tool_test_fifo_" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  }
  int toChild[2], fromChild[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(fromChild), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[0]);
    close(toChild[1]);
    close(fromChild[0]);
    close(fromChild[1]);
    if (throughFifo)
      execl(kTool.c_str(), kTool.c_str(), "shell", "--json", fifo.c_str(), static_cast<char*>(nullptr));
    else
      execl(kTool.c_str(), kTool.c_str(), "shell", "--json", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  int input = toChild[1];
  if (throughFifo) {
    close(toChild[1]);
    input = open(fifo.c_str(), O_WRONLY);  // waits for the tool to open it
    ASSERT_GE(input, 0);
  }

  auto ask = [&](const std::string& line) {
    std::string l = line + "\n";
    EXPECT_EQ(write(input, l.data(), l.size()), static_cast<ssize_t>(l.size()));
    std::string answer;
    while (answer.empty() || answer.back() != '\n') {
      pollfd pfd{fromChild[0], POLLIN, 0};
      // A bound for a broken tool, not a delay: the answer normally arrives at once.
      if (poll(&pfd, 1, 10000) <= 0) break;
      char buf[4096];
      ssize_t n = read(fromChild[0], buf, sizeof buf);
      if (n <= 0) break;
      answer.append(buf, static_cast<size_t>(n));
    }
    return answer;
  };

  std::string a1 = ask("ExisteECF \"DARUMA FS600\"");
  EXPECT_EQ(a1, "{\"entry\": \"ExisteECF\", \"result\": 13, \"out\": {}}\n");
  // A comment prints nothing, so the next answer is the next call's.
  std::string a2 = ask("# nothing\nCheckPrinterID PERTOCHECK");
  EXPECT_EQ(a2, "{\"entry\": \"CheckPrinterID\", \"result\": 10, \"out\": {}}\n");

  close(input);
  int st = 0;
  waitpid(pid, &st, 0);
  close(fromChild[0]);
  if (throughFifo) unlink(fifo.c_str());
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
}

}  // namespace

TEST(ToolShell, AnswersEachLineBeforeTheNextIsSent) {
  {
    SCOPED_TRACE("standard input");
    expectAnswersLineByLine(false);
  }
  {
    SCOPED_TRACE("named pipe");
    expectAnswersLineByLine(true);
  }
}

TEST(ToolVirtual, DemoSellsAndReportsOnTheBuiltInPrinter) {
  ToolRun r = run(kTool + " demo --json");
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<tjson::Value> calls = jsonLines(r.out);
  ASSERT_GE(calls.size(), 10u);
  for (const tjson::Value& c : calls) EXPECT_NE(c["result"].n, 0) << c["entry"].s;
  EXPECT_EQ(calls.back()["entry"].s, "LeituraX");
  ToolRun human = run(kTool + " demo");
  EXPECT_NE(human.out.find("CAFE TORRADO 500G"), std::string::npos);
  EXPECT_NE(human.out.find("TROCO"), std::string::npos);
  EXPECT_NE(human.out.find("LEITURA X"), std::string::npos);
}

TEST(ToolVirtual, ShellPrinterKeepsItsStateAndPaperAcrossRuns) {
  testsupport::TempDir dir;
  const std::string state = dir.file("state.txt"), paper = dir.file("paper.txt");
  const std::string opts = "--json --virtual 1@3 --state '" + state + "' --paper '" + paper + "'";
  const std::string sale =
      "InitializeECF 1 3 9600 0 8 1 0 TRUE TRUE\n"
      "AbreCupomFiscal\n"
      "RegistraItemFiscal 1 \"PAO DE QUEIJO\" UN 18 3 2.50 0\n"
      "CupomFiscalAberto\n";
  ToolRun first = shellFile(sale, opts);
  ASSERT_EQ(first.status, 0) << first.out;
  std::vector<tjson::Value> a = jsonLines(first.out);
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[3]["out"]["bAberto"].n, 1);
  // A second run finds the receipt still open in the saved state, and cancels it.
  ToolRun second = shellFile(
      "InitializeECF 1 3 9600 0 8 1 0 TRUE TRUE\nCupomFiscalAberto\nCancelaCupomFiscal\nCupomFiscalAberto\n", opts);
  std::vector<tjson::Value> b = jsonLines(second.out);
  ASSERT_EQ(b.size(), 4u) << second.out;
  EXPECT_EQ(b[1]["out"]["bAberto"].n, 1);
  EXPECT_NE(b[2]["result"].n, 0);
  EXPECT_EQ(b[3]["out"]["bAberto"].n, 0);
  std::ifstream in(paper);
  std::stringstream printed;
  printed << in.rdbuf();
  EXPECT_NE(printed.str().find("PAO DE QUEIJO"), std::string::npos);
}

TEST(ToolVirtual, BadVirtualPrinterOptionsStopTheShell) {
  ToolRun r = shellFile("ExisteECF X\n", "--virtual 1-3");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");                              // nothing ran
  r = shellFile("ExisteECF X\n", "--virtual 31@3");  // an NCR model: no virtual printer
  EXPECT_EQ(r.status, 1);
  // Files without their printer, and two printers on one port, are refused
  // before anything runs rather than ignored or silently replaced.
  testsupport::TempDir tmp;
  for (const std::string& options :
       {"--state " + tmp.file("S"), "--virtual 1@5 --paper " + tmp.file("P1") + " --paper " + tmp.file("P2"),
        std::string("--virtual 1@5 --virtual 3@5")}) {
    SCOPED_TRACE(options);
    r = shellFile("ExisteECF X\n", options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(tmp.file("S")));
}

// `tarvion ports` on a fake machine: one FTDI adapter with a stable name and a
// pseudo-terminal given as port 3.
TEST(ToolPorts, ListsDevicesAsLinesAndAsJson) {
  namespace fs = std::filesystem;
  testsupport::TempDir tmp;
  const fs::path root = fs::canonical(tmp.path());
  const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-1";
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{{"idVendor", "0403"},
                                                                                    {"idProduct", "6001"},
                                                                                    {"manufacturer", "FTDI"},
                                                                                    {"product", "FT232R"},
                                                                                    {"serial", "X9"}})
    std::ofstream(usb / name) << value << "\n";
  fs::create_directories(root / "sys/class/tty/ttyUSB0");
  fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", root / "sys/class/tty/ttyUSB0/device");
  fs::create_directories(root / "dev/serial/by-id");
  std::ofstream(root / "dev/ttyUSB0") << "";
  const std::string byId = (root / "dev/serial/by-id/usb-FTDI_FT232R_X9-if00-port0").string();
  fs::create_directory_symlink("../../ttyUSB0", byId);
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string pty = ptsname(master);

  const std::string env = "TARVION_SYSFS_ROOT='" + (root / "sys").string() + "' TARVION_DEV_ROOT='" +
                          (root / "dev").string() + "' TARVION_PORT_3='" + pty + "' TARVION_USB_DEVICE= ";
  ToolRun j = run(env + kTool + " ports --json");
  ASSERT_EQ(j.status, 0);
  tjson::Value list = json(j.out);
  ASSERT_EQ(list.a.size(), 2u) << j.out;
  const tjson::Value& adapter = list[size_t{0}];
  EXPECT_EQ(adapter["path"].s, (root / "dev/ttyUSB0").string());
  EXPECT_EQ(adapter["byId"].s, byId);
  EXPECT_EQ(adapter["kind"].s, "usb-serial");
  EXPECT_EQ(adapter["vendorId"].s, "0403");
  EXPECT_EQ(adapter["productId"].s, "6001");
  EXPECT_EQ(adapter["manufacturer"].s, "FTDI");
  EXPECT_EQ(adapter["product"].s, "FT232R");
  EXPECT_EQ(adapter["serial"].s, "X9");
  EXPECT_EQ(adapter["port"].n, 999);  // the first device of the USB search
  EXPECT_TRUE(adapter["setting"].isNull());
  EXPECT_TRUE(adapter["usbSearch"].b);
  EXPECT_TRUE(adapter["driver"].isNull());
  const tjson::Value& named = list[size_t{1}];
  EXPECT_EQ(named["path"].s, pty);
  EXPECT_EQ(named["kind"].s, "named");
  EXPECT_EQ(named["port"].n, 3);
  EXPECT_FALSE(named["usbSearch"].b);
  EXPECT_EQ(named["access"].b, access(pty.c_str(), R_OK | W_OK) == 0);
  EXPECT_FALSE(named["group"].s.empty());

  ToolRun h = run(env + kTool + " ports");
  ASSERT_EQ(h.status, 0);
  const auto shown = lines(h.out);
  ASSERT_EQ(shown.size(), 2u) << h.out;
  EXPECT_EQ(shown[0], (root / "dev/ttyUSB0").string() +
                          "  usb-serial  0403:6001  \"FTDI FT232R\"  serial \"X9\"  by-id " + byId +
                          "  port 999 (USB search)  access ok");
  EXPECT_EQ(shown[1], pty + "  named  port 3  access ok");

  // Another adapter takes the search's place: this one now needs a number.
  ToolRun moved = run(env + "TARVION_USB_DEVICE=/dev/elsewhere " + kTool + " ports --json");
  tjson::Value again = json(moved.out);
  EXPECT_TRUE(again[size_t{0}]["port"].isNull());
  EXPECT_EQ(again[size_t{0}]["setting"].s, "TARVION_PORT_1=" + byId);

  ToolRun none = run("TARVION_SYSFS_ROOT=/nonexistent TARVION_DEV_ROOT=/nonexistent " + kTool + " ports --json");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(json(none.out).a.size(), 0u);
  close(master);
}
