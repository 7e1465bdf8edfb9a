// Check printers on a real pseudo-terminal: the control and the driver on one
// side, `tarvion emulate` with the check printer in its own process on the
// other, its station feeding a fresh check whenever one is looked for.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "emulate_process.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;

TEST(CheckEndToEnd, PertoAndChronosOverAPseudoTerminal) {
  struct Case {
    const char* name;
    int port;
    const char* line;  // the CMC-7 line the read gives
    const char* printed;
  } const cases[] = {
      {"PERTOCHECK", 21, nullptr, "VALOR 123,45"},
      {"CHRONOS CHECK-PRONTO", 22, "                              ", "VALOR 123,45"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    testsupport::TempDir tmp;
    testsupport::EmulateProcess emu(
        {k.name, "--state", tmp.file("state.json"), "--paper", tmp.file("paper.txt"), "--baud", "115200"},
        {{"TARVION_CHECK_DOCUMENT", "auto"}});
    ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
    const std::string var = "TARVION_PORT_" + std::to_string(k.port);
    setenv(var.c_str(), emu.path().c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    {
      CTarvionCtrl c;
      ASSERT_EQ(c.InitializeCheckPrinter(k.name, k.port, 115200, 0, 8, 1), 1) << c.UltimoErro();
      ASSERT_EQ(c.SetCheckConfiguration("Real", "Reais", "Recife", "Maria da Silva", 46360, 46391), 1)
          << c.UltimoErro();
      std::string line;
      ASSERT_EQ(c.ReadAndPrintCheck(123.45, "001", line), 1) << c.UltimoErro();
      if (k.line)
        EXPECT_EQ(line, k.line);
      else
        EXPECT_EQ(line.size(), 32u) << line;  // 30 digits and the two marks between the groups
      EXPECT_EQ(c.PrintCheckText("OBRIGADO\nVOLTE SEMPRE\n"), 1) << c.UltimoErro();
      // An answered command behind the text: the printer has taken it all.
      ASSERT_EQ(c.SetCheckConfiguration("Real", "Reais", "Recife", "Maria da Silva", 46360, 46360), 1)
          << c.UltimoErro();
    }
    unsetenv(var.c_str());
    // Every answer ends by its length or its frame, never on a read time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const std::string paper = testsupport::readFile(tmp.file("paper.txt"));
    EXPECT_NE(paper.find(k.printed), std::string::npos) << paper;
    EXPECT_NE(paper.find("Maria da Silva"), std::string::npos) << paper;
    EXPECT_NE(paper.find("VOLTE SEMPRE"), std::string::npos) << paper;
  }
}
