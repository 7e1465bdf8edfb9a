// The check station of the virtual Bematech printers: the document sensor, the
// CMC-7 reader, check printing on paper, the auto operator, and the way the
// tool's virtual printers pick model and document up from names and the
// environment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "core/text.h"
#include "emulate_process.h"
#include "emulator/bematech/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "emulator_rig.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;
namespace bm = tarvion::emulator::bematech;

namespace {

using emutest::pad;

struct Rig : emutest::EmulatorRig {
  explicit Rig(int number) : EmulatorRig(number) {}
  ByteArray send(const ByteArray& command, const std::string& params = {}) { return reply(command, params); }
  ByteArray send(uint8_t command, const std::string& params = {}) { return send(ByteArray{command}, params); }
  // The sensor byte of 62/'0'.
  int sensor() {
    const ByteArray r = send(ByteArray{bm::cmd::Block, '0'});
    const size_t st = model.prefix == bm::kFS ? 4 : 2;
    return r.size() == 1 + st ? r[0] : -1;
  }
};

using emutest::kDone;
using emutest::St;
using emutest::tail;

// Command 57's fields: value(14) payee(45) city(27) date(8) bank(3), a space and a zero byte.
std::string check57(const std::string& value14, const std::string& payee, const std::string& city,
                    const std::string& date8, const std::string& bank) {
  return value14 + pad(payee, 45) + pad(city, 27) + date8 + bank + " " + std::string(1, '\0');
}

bool has(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// The CMC-7 as the drivers keep it: separators and blanks taken out.
std::string stripCmc7(const std::string& line, bool letters) {
  std::string out;
  for (char c : line) {
    if (c == ' ' || c == '<' || c == '>' || c == '^' || c == '=' || c == '/') continue;
    if (letters && c >= 'a' && c <= 'e') continue;
    out += c;
  }
  return out;
}

// The check digit of a CMC-7 group: modulo 10, weights 2 and 1 from the right.
char dv(const std::string& digits) {
  int sum = 0;
  bool two = true;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it, two = !two) {
    const int v = (*it - '0') * (two ? 2 : 1);
    sum += v / 10 + v % 10;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

}  // namespace

TEST(CheckStation, SensorBitsBeforeAndAfterTheDocument) {
  for (int n : {1, 6, 9, 26}) {
    Rig r(n);
    EXPECT_EQ(r.sensor(), 0) << n;
    r.printer->setDocumentInserted(true);
    const int s = r.sensor();
    // The drivers of these models wait for 0x04, 0x20 and 0x40 without 0x08.
    EXPECT_EQ(s & (0x04 | 0x20 | 0x40 | 0x08), 0x04 | 0x20 | 0x40) << n;
    // Bare 62 lets the document go.
    EXPECT_EQ(r.send(bm::cmd::Block), ByteArray(r.model.prefix == bm::kFS ? 4 : 2, 0)) << n;
    EXPECT_FALSE(r.printer->documentInserted());
    EXPECT_EQ(r.sensor(), 0) << n;
  }
  Rig mp7000(10);
  EXPECT_EQ(mp7000.sensor(), 0);
  mp7000.printer->setDocumentInserted(true);
  // The MP-7000 answers its own bits: 0x01, 0x08 and 0x40.
  EXPECT_EQ(mp7000.sensor(), 0x01 | 0x08 | 0x40);
  mp7000.printer->setDocumentInserted(false);
  EXPECT_EQ(mp7000.sensor(), 0);
  EXPECT_EQ(tail(mp7000.send(ByteArray{bm::cmd::Block, '0'}, "1")), (St{bm::st1::BadParamCount, 0, 3}));
}

TEST(CheckStation, ReadsTheCmc7Line) {
  Rig r(9);
  // Nothing in the slot: "Timeout na leitura do cheque.".
  EXPECT_EQ(tail(r.send(76)), (St{0, bm::st2::NotExecuted, 128}));
  EXPECT_EQ(r.printer->documentCmc7(), "");
  const std::string given = "<34191570<0180000455>500007651286";
  r.printer->setDocumentInserted(true, given);
  // 76 is no data command for the driver: status, the line, status.
  const ByteArray reply = r.send(76);
  ASSERT_EQ(reply.size(), 2 + 33 + 4u);
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(reply[1], 0);
  EXPECT_EQ(tail(reply), kDone);
  const std::string line(reply.begin() + 2, reply.end() - 4);
  EXPECT_EQ(line, given);
  EXPECT_EQ(stripCmc7(line, false), "341915700180000455500007651286");
  // Reading keeps the check in the slot.
  EXPECT_TRUE(r.printer->documentInserted());

  // A check without a given line gets one of its own, with sound check digits,
  // and the next check another number.
  r.printer->setDocumentInserted(true);
  const std::string first = stripCmc7(r.printer->documentCmc7(), false);
  ASSERT_EQ(first.size(), 30u);
  const std::string g1 = first.substr(0, 8), g2 = first.substr(8, 10), g3 = first.substr(18, 12);
  EXPECT_EQ(g1[7], dv(g2));
  EXPECT_EQ(g3[0], dv(g1.substr(0, 7)));
  EXPECT_EQ(g3[11], dv(g3.substr(1, 10)));
  r.printer->setDocumentInserted(true);
  const std::string second = stripCmc7(r.printer->documentCmc7(), false);
  EXPECT_NE(second.substr(11, 6), first.substr(11, 6));
  EXPECT_EQ(tail(r.send(76, "01")), (St{bm::st1::BadParamCount, 0, 3}));

  // The MP-7000 writes the marks as letters.
  Rig mp7000(10);
  mp7000.printer->setDocumentInserted(true, "34191570 0180000455 500007651286");
  const ByteArray r7 = mp7000.send(76);
  ASSERT_EQ(r7.size(), 2 + 33 + 4u);
  const std::string l7(r7.begin() + 2, r7.end() - 4);
  EXPECT_EQ(l7, "a34191570a0180000455b500007651286");
  EXPECT_EQ(stripCmc7(l7, true), "341915700180000455500007651286");
}

TEST(CheckStation, PrintsAReadableCheck) {
  Rig r(9);
  const std::string good = check57("00000000012345", "FULANO DE TAL", "SAO PAULO", "04122026", "001");
  // Without a document: "Timeout na inserção do cheque." and nothing printed.
  const size_t before = r.paper->lineCount();
  EXPECT_EQ(tail(r.send(57, good)), (St{0, bm::st2::NotExecuted, 191}));
  EXPECT_EQ(r.paper->lineCount(), before);
  EXPECT_EQ(r.printer->checksPrinted(), 0);

  r.printer->setDocumentInserted(true);
  EXPECT_EQ(tail(r.send(57, check57("00000000000000", "A", "SAO PAULO", "04122026", "001"))),
            (St{0, bm::st2::NotExecuted, 178}));
  EXPECT_EQ(tail(r.send(57, check57("00000000012345", "A", "", "04122026", "001"))),
            (St{0, bm::st2::NotExecuted, 180}));
  EXPECT_EQ(tail(r.send(57, check57("00000000012345", "A", "RIO", "31022026", "001"))),
            (St{0, bm::st2::BadParamType, 177}));
  EXPECT_EQ(tail(r.send(57, check57("00000000012345", "A", "RIO", "04122026", "01A"))),
            (St{0, bm::st2::BadParamType, 4}));
  EXPECT_EQ(tail(r.send(57, check57("0000000001234X", "A", "RIO", "04122026", "001"))),
            (St{0, bm::st2::BadParamType, 4}));
  EXPECT_EQ(tail(r.send(57, good.substr(0, 96))), (St{bm::st1::BadParamCount, 0, 3}));
  EXPECT_EQ(r.printer->checksPrinted(), 0);

  r.paper->clear();
  ASSERT_EQ(tail(r.send(57, good)), kDone);
  EXPECT_EQ(r.printer->checksPrinted(), 1);
  std::string p = r.paper->printed();
  EXPECT_TRUE(has(p, " CHEQUE ")) << p;
  EXPECT_TRUE(has(p, "BANCO 001")) << p;
  EXPECT_TRUE(has(p, "R$ 123,45")) << p;
  EXPECT_TRUE(has(p, "\nCENTO E VINTE E TRÊS REAIS E QUARENTA E CINCO\nCENTAVOS\n")) << p;
  EXPECT_TRUE(has(p, "A FULANO DE TAL\n")) << p;
  EXPECT_TRUE(has(p, "SAO PAULO, 4 de dezembro de 2026\n")) << p;
  // A check put in by hand stays until it is taken.
  EXPECT_TRUE(r.printer->documentInserted());
  EXPECT_EQ(r.sensor(), 0x64);

  // 58 and 59 name the currency in the words; a bank outside the list goes as "###".
  ASSERT_EQ(tail(r.send(58, "Dolar")), kDone);
  ASSERT_EQ(tail(r.send(59, "Dolares")), kDone);
  EXPECT_EQ(tail(r.send(58, std::string(20, 'X'))), (St{bm::st1::BadParamCount, 0, 3}));
  EXPECT_EQ(tail(r.send(59, std::string(23, 'X'))), (St{bm::st1::BadParamCount, 0, 3}));
  EXPECT_EQ(tail(r.send(58, "   ")), (St{0, bm::st2::BadParamType, 4}));
  EXPECT_EQ(tail(r.send(59)), (St{bm::st1::BadParamCount, 0, 3}));
  r.paper->clear();
  ASSERT_EQ(tail(r.send(57, check57("00000000000100", "CICLANO", "RECIFE", "29022028", "###"))), kDone);
  p = r.paper->printed();
  EXPECT_TRUE(has(p, "BANCO ###")) << p;
  EXPECT_TRUE(has(p, "\nUM DOLAR\n")) << p;
  EXPECT_TRUE(has(p, "RECIFE, 29 de fevereiro de 2028")) << p;

  // The MP-7000 prints with 62 'L' and a payee of 80 characters; the others do not know it.
  Rig mp7000(10);
  const std::string longPayee = "INSTITUTO DE PREVIDENCIA DOS SERVIDORES MUNICIPAIS DE SAO JOSE DOS CAMPOS";
  const std::string l = "L00000000050000" + pad(longPayee, 80) + pad("SAO JOSE DOS CAMPOS", 27) + "01012027" + "237" +
                        " " + std::string(1, '\0');
  EXPECT_EQ(tail(mp7000.send(ByteArray{bm::cmd::Block}, l)), (St{0, bm::st2::NotExecuted, 191}));
  mp7000.printer->setDocumentInserted(true);
  ASSERT_EQ(tail(mp7000.send(ByteArray{bm::cmd::Block}, l)), kDone);
  p = mp7000.paper->printed();
  EXPECT_TRUE(has(p, "A " + longPayee.substr(0, 46))) << p;
  EXPECT_TRUE(has(p, "QUINHENTOS REAIS")) << p;
  EXPECT_TRUE(has(p, "BANCO 237")) << p;
  r.printer->setDocumentInserted(true);
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, l)), (St{bm::st1::UnknownCommand, 0, 1}));
}

TEST(CheckStation, AmountsInWords) {
  auto w = [](Cents c) { return text::cp1252ToUtf8(amountInWords(c, "Real", "Reais")); };
  EXPECT_EQ(w(1), "UM CENTAVO");
  EXPECT_EQ(w(100), "UM REAL");
  EXPECT_EQ(w(10000), "CEM REAIS");
  EXPECT_EQ(w(10100), "CENTO E UM REAIS");
  EXPECT_EQ(w(100000), "MIL REAIS");
  EXPECT_EQ(w(105000), "MIL E CINQUENTA REAIS");
  EXPECT_EQ(w(110000), "MIL E CEM REAIS");
  EXPECT_EQ(w(123456), "MIL DUZENTOS E TRINTA E QUATRO REAIS E CINQUENTA E SEIS CENTAVOS");
  EXPECT_EQ(w(120000000), "UM MILHÃO E DUZENTOS MIL REAIS");
  EXPECT_EQ(w(123400000), "UM MILHÃO DUZENTOS E TRINTA E QUATRO MIL REAIS");
  EXPECT_EQ(w(1415), "CATORZE REAIS E QUINZE CENTAVOS");
  EXPECT_EQ(w(200000000), "DOIS MILHÕES DE REAIS");
  EXPECT_EQ(w(100000000), "UM MILHÃO DE REAIS");
  EXPECT_EQ(w(100100000), "UM MILHÃO E MIL REAIS");
  EXPECT_EQ(w(99999999999999),
            "NOVECENTOS E NOVENTA E NOVE BILHÕES NOVECENTOS E NOVENTA E NOVE MILHÕES "
            "NOVECENTOS E NOVENTA E NOVE MIL NOVECENTOS E NOVENTA E NOVE REAIS E NOVENTA E "
            "NOVE CENTAVOS");
}

TEST(CheckStation, TheAutoOperatorFeedsEveryCheck) {
  Rig r(9);
  std::string err;
  EXPECT_FALSE(r.printer->setCheckDocument("sideways", &err));
  EXPECT_TRUE(has(err, "sideways")) << err;
  ASSERT_TRUE(r.printer->setCheckDocument("auto", &err)) << err;
  EXPECT_FALSE(r.printer->documentInserted());
  // The station looks for a document: one is there.
  EXPECT_EQ(r.sensor(), 0x64);
  const std::string cmc7 = r.printer->documentCmc7();
  ASSERT_EQ(tail(r.send(57, check57("00000000001000", "BELTRANO", "NATAL", "04122026", "104"))), kDone);
  // The printed check is taken away, and the next one is a new check.
  EXPECT_FALSE(r.printer->documentInserted());
  ASSERT_EQ(tail(r.send(57, check57("00000000002000", "BELTRANO", "NATAL", "04122026", "104"))), kDone);
  EXPECT_EQ(r.printer->checksPrinted(), 2);
  const ByteArray read = r.send(76);
  ASSERT_EQ(read.size(), 2 + 33 + 4u);
  EXPECT_NE(std::string(read.begin() + 2, read.end() - 4), cmc7);

  ASSERT_TRUE(r.printer->setCheckDocument("in", &err)) << err;
  EXPECT_TRUE(r.printer->documentInserted());
  ASSERT_EQ(tail(r.send(57, check57("00000000001000", "BELTRANO", "NATAL", "04122026", "104"))), kDone);
  EXPECT_TRUE(r.printer->documentInserted());
  ASSERT_TRUE(r.printer->setCheckDocument("out", &err)) << err;
  EXPECT_FALSE(r.printer->documentInserted());
  EXPECT_EQ(r.sensor(), 0);
}

namespace {

const std::string kTool = TARVION_TOOL_PATH;

using ToolRun = testsupport::CommandRun;

ToolRun run(const std::string& command) {
  return testsupport::runCommand(command);
}

}  // namespace

TEST(VirtualPrinterNames, TheShellTakesModelsByNameAndTheDocumentFromTheEnvironment) {
  testsupport::TempDir dir;
  const std::string paper = dir.file("ibm.txt");
  ToolRun ok = run(kTool + " shell --json --virtual 'IBM 4610 SUREMARK@3' --paper '" + paper +
                   "' <<'EOF'\nInitializeECF 26 3 9600 0 8 1 0 TRUE TRUE\nLeituraX\nEOF\n");
  ASSERT_EQ(ok.status, 0) << ok.out;
  EXPECT_TRUE(has(ok.out, "\"entry\": \"InitializeECF\", \"result\": 1,")) << ok.out;
  EXPECT_TRUE(has(ok.out, "\"entry\": \"LeituraX\", \"result\": 1")) << ok.out;
  const std::string printed = testsupport::readFile(paper);
  EXPECT_TRUE(has(printed, "LEITURA X")) << printed;
  EXPECT_TRUE(has(printed, "IBM 4610 SUREMARK")) << printed;

  // A check printer behind its maker's library has no virtual printer.
  ToolRun none = run(kTool + " shell --virtual 'PERTOPAY@3' </dev/null 2>&1");
  EXPECT_NE(none.status, 0);
  EXPECT_TRUE(has(none.out, "PERTOPAY")) << none.out;
  ToolRun noPort = run(kTool + " shell --virtual 'BEMATECH MP-7000 TH FI@' </dev/null 2>&1");
  EXPECT_NE(noPort.status, 0);
  EXPECT_TRUE(has(noPort.out, "MODEL@PORT")) << noPort.out;
  ToolRun byName = run(kTool +
                       " shell --json --virtual 'bematech mp-7000 th fi@4' <<'EOF'\n"
                       "InitializeECF 10 4 9600 0 8 1 0 TRUE FALSE\nEOF\n");
  EXPECT_EQ(byName.status, 0) << byName.out;
  EXPECT_TRUE(has(byName.out, "\"entry\": \"InitializeECF\", \"result\": 1,")) << byName.out;
  ToolRun badDoc = run("TARVION_CHECK_DOCUMENT=sideways " + kTool + " shell --virtual 10@4 </dev/null 2>&1");
  EXPECT_NE(badDoc.status, 0);
  EXPECT_TRUE(has(badDoc.out, "TARVION_CHECK_DOCUMENT")) << badDoc.out;
}

namespace {

// The station of model 10 with the document sensor as asked.
testsupport::EmulateProcess emulate(const std::string& documentMode) {
  return testsupport::EmulateProcess({"10", "--baud", "0"}, {{"TARVION_CHECK_DOCUMENT", documentMode}});
}

ByteArray exchange(int fd, const ByteArray& frame, size_t want) {
  if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) return {};
  ByteArray got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.size() < want && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    uint8_t buf[256];
    const ssize_t k = ::read(fd, buf, sizeof buf);
    if (k > 0) got.insert(got.end(), buf, buf + k);
  }
  return got;
}

}  // namespace

TEST(VirtualPrinterNames, EmulateStartsTheStationWithTheDocumentAsAsked) {
  auto emu = emulate("in");
  ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
  const int fd = ::open(emu.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  const ByteArray frame = emutest::request(bm::kFS, {bm::cmd::Block, '0'}, {});
  EXPECT_EQ(exchange(fd, frame, 6), (ByteArray{bm::kACK, 0x49, 0, 0, 0, 0}));
  // Let go, the slot is empty.
  EXPECT_EQ(exchange(fd, emutest::request(bm::kFS, {bm::cmd::Block}, {}), 5), (ByteArray{bm::kACK, 0, 0, 0, 0}));
  EXPECT_EQ(exchange(fd, frame, 6), (ByteArray{bm::kACK, 0, 0, 0, 0, 0}));
  ::close(fd);

  auto wrong = emulate("upside-down");
  EXPECT_EQ(wrong.path(), "");
  EXPECT_EQ(wrong.finish(), 1);
}
