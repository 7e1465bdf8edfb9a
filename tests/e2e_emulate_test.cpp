// The whole path on a real pseudo-terminal: the control and the Bematech driver
// on one side, `tarvion emulate` in its own process on the other.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "emulate_process.h"
#include "emulator/registry.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;

namespace {

// The printer of model 1 keeping its state and paper in these files.
testsupport::EmulateProcess emulate(const std::string& state, const std::string& paper) {
  return testsupport::EmulateProcess({"1", "--state", state, "--paper", paper, "--baud", "115200"});
}

bool init(CTarvionCtrl& c, const testsupport::EmulateProcess& e) {
  setenv("TARVION_PORT_7", e.path().c_str(), 1);
  return c.InitializeECF(1, 7, 115200, 0, 8, 1, 0, 1, 1) != 0;
}

}  // namespace

TEST(EndToEnd, SaleReportsAndErrorsOverAPseudoTerminal) {
  testsupport::TempDir tmp;
  auto emu = emulate(tmp.file("state.txt"), tmp.file("paper.txt"));
  ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
  CTarvionCtrl c;
  ASSERT_TRUE(init(c, emu)) << c.UltimoErro();
  EXPECT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
  // A second opening is refused with the printer's own status.
  EXPECT_EQ(c.AbreCupomFiscal(), 0);
  EXPECT_EQ(c.UltimoErro(), "Cupom aberto.\n");
  EXPECT_EQ(c.RegistraItemFiscal("1", "CAFE", "UN", 18, 2, 10.5, 0), 1) << c.UltimoErro();
  EXPECT_EQ(c.RegistraItemFiscal("2", "ARROZ", "UN", 17, 1, 5, 0), 0);
  EXPECT_EQ(c.UltimoErro(), "Alíquota de ICMS de 17.00% não cadastrada no ECF.");
  EXPECT_EQ(c.TotalizaCupomDesconto(1.0, 0), 1) << c.UltimoErro();
  EXPECT_EQ(c.RegistraPagamento("PIX", 10), 0);  // not programmed: refused before sending
  EXPECT_EQ(c.RegistraPagamento("Dinheiro", 25), 1) << c.UltimoErro();
  EXPECT_EQ(c.FechaCupomFiscal("VOLTE SEMPRE", 0), 1) << c.UltimoErro();
  int open = -1;
  EXPECT_EQ(c.CupomFiscalAberto(open), 1);
  EXPECT_EQ(open, 0);
  EXPECT_EQ(c.LeituraX(), 1) << c.UltimoErro();
  std::string x;
  EXPECT_EQ(c.LeituraXSerial(x), 1) << c.UltimoErro();
  EXPECT_NE(x.find("CRZ: 0000"), std::string::npos) << x.substr(0, 200);
  EXPECT_EQ(c.CloseComm(), 1);
  std::string paper = testsupport::readFile(tmp.file("paper.txt"));
  EXPECT_NE(paper.find("CAFE"), std::string::npos);
  EXPECT_NE(paper.find("VOLTE SEMPRE"), std::string::npos);
  EXPECT_NE(paper.find("LEITURA X"), std::string::npos);
}

TEST(EndToEnd, ReceiptSurvivesAPrinterKilledMidSale) {
  testsupport::TempDir tmp;
  const std::string state = tmp.file("state.txt"), paper = tmp.file("paper.txt");
  {
    auto emu = emulate(state, paper);
    CTarvionCtrl c;
    ASSERT_TRUE(init(c, emu)) << c.UltimoErro();
    ASSERT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
    ASSERT_EQ(c.RegistraItemFiscal("1", "CAFE", "UN", 18, 1, 9.9, 0), 1) << c.UltimoErro();
    emu.stop(SIGKILL);  // no chance to save anything on the way out
    EXPECT_EQ(c.RegistraItemFiscal("2", "LEITE", "UN", 7, 1, 4.5, 0), 0);
  }
  auto again = emulate(state, paper);
  CTarvionCtrl c;
  ASSERT_TRUE(init(c, again)) << c.UltimoErro();
  int open = 0;
  ASSERT_EQ(c.CupomFiscalAberto(open), 1) << c.UltimoErro();
  EXPECT_NE(open, 0);
  EXPECT_EQ(c.CancelaCupomFiscal(), 1) << c.UltimoErro();
  EXPECT_EQ(c.CupomFiscalAberto(open), 1);
  EXPECT_EQ(open, 0);
}

// A model whose protocol has no virtual printer: the tool says so, lists every
// model that has one, and exits with an error instead of serving nothing.
TEST(EndToEnd, EmulateRefusesAModelWithoutAVirtualPrinter) {
  const auto& models = tarvion::emulator::virtualModels();
  ASSERT_FALSE(models.empty());
  for (const char* model : {"99", "'NO SUCH PRINTER'"}) {
    const auto r = testsupport::runCommand(std::string(TARVION_TOOL_PATH) + " emulate " + model + " 2>&1");
    EXPECT_NE(r.status, 0) << model;
    for (const auto& m : models)
      EXPECT_NE(r.out.find(std::to_string(m.number) + "  " + m.name + "\n"), std::string::npos) << model << r.out;
  }
}
