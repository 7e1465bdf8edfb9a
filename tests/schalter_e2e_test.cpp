// A whole Schalter sale on a real pseudo-terminal: the control and the driver
// on one side, `tarvion emulate` in its own process on the other; then the
// point of sale starts again against the same printer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "emulate_process.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;

TEST(SchalterEndToEnd, ASaleOverAPseudoTerminalAndAPointOfSaleThatStartsAgain) {
  testsupport::TempDir tmp;
  testsupport::EmulateProcess emu(
      {"38", "--state", tmp.file("state.txt"), "--paper", tmp.file("paper.txt"), "--baud", "115200"});
  ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
  setenv("TARVION_PORT_19", emu.path().c_str(), 1);
  {
    CTarvionCtrl c;
    ASSERT_NE(c.InitializeECF(38, 19, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
    EXPECT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
    EXPECT_EQ(c.AbreCupomFiscal(), 0);
    EXPECT_EQ(c.UltimoErro(), "Cupom aberto");
    EXPECT_EQ(c.RegistraItemFiscal("1", "CAFÉ", "KG", 18, 1.5, 2.5, 0), 1) << c.UltimoErro();
    EXPECT_EQ(c.RegistraItemFiscal("2", "ARROZ", "UN", 0, 1, 5, 0.5), 1) << c.UltimoErro();
    EXPECT_EQ(c.RegistraItemFiscal("3", "FEIJAO", "UN", 0, 1, 5, -1), 0);
    EXPECT_EQ(c.RegistraPagamento("Dinheiro", 10), 1) << c.UltimoErro();
    EXPECT_EQ(c.FechaCupomFiscal("VOLTE SEMPRE", 0), 1) << c.UltimoErro();
    int open = -1;
    EXPECT_EQ(c.CupomFiscalAberto(open), 1) << c.UltimoErro();
    EXPECT_EQ(open, 0);
    EXPECT_EQ(c.CloseComm(), 1);
  }
  {
    CTarvionCtrl c;
    ASSERT_NE(c.InitializeECF(38, 19, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
    EXPECT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
    EXPECT_EQ(c.CancelaCupomFiscal(), 1) << c.UltimoErro();
    EXPECT_EQ(c.LeituraX(), 1) << c.UltimoErro();
    EXPECT_EQ(c.CloseComm(), 1);
  }
  const std::string paper = testsupport::readFile(tmp.file("paper.txt"));
  EXPECT_NE(paper.find("CAF"), std::string::npos);
  EXPECT_NE(paper.find("VOLTE SEMPRE"), std::string::npos);
}
