// A whole Epson sale on a real pseudo-terminal: the control and the driver on
// one side, `tarvion emulate` with the TM-T81F in its own process on the other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "emulate_process.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;

TEST(EpsonEndToEnd, SaleAndReportsOverAPseudoTerminal) {
  testsupport::TempDir tmp;
  testsupport::EmulateProcess emu(
      {"24", "--state", tmp.file("state.txt"), "--paper", tmp.file("paper.txt"), "--baud", "115200"});
  ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
  setenv("TARVION_PORT_24", emu.path().c_str(), 1);
  CTarvionCtrl c;
  ASSERT_NE(c.InitializeECF(24, 24, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
  EXPECT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
  EXPECT_EQ(c.AbreCupomFiscal(), 0);
  EXPECT_EQ(c.UltimoErro(), "Comando inválido para o estado atual.");
  EXPECT_EQ(c.RegistraItemFiscal("1", "CAFÉ", "UN", 18, 3, 2.5, 0.5), 1) << c.UltimoErro();
  EXPECT_EQ(c.RegistraItemFiscal("2", "ARROZ", "UN", 17, 1, 5, 0), 0);
  EXPECT_EQ(c.UltimoErro(), "Alíquota não cadastrada na impressora.");
  EXPECT_EQ(c.RegistraPagamento("PIX", 10), 0);
  EXPECT_EQ(c.RegistraPagamento("Dinheiro", 10), 1) << c.UltimoErro();
  EXPECT_EQ(c.FechaCupomFiscal("VOLTE SEMPRE", 0), 1) << c.UltimoErro();
  int open = -1;
  EXPECT_EQ(c.CupomFiscalAberto(open), 1) << c.UltimoErro();
  EXPECT_EQ(open, 0);
  std::string number;
  EXPECT_EQ(c.RetornaNumeroCupom(number), 1) << c.UltimoErro();
  EXPECT_EQ(number, "000001");
  EXPECT_EQ(c.LeituraX(), 1) << c.UltimoErro();
  EXPECT_EQ(c.CloseComm(), 1);
  const std::string paper = testsupport::readFile(tmp.file("paper.txt"));
  EXPECT_NE(paper.find("CAFÉ"), std::string::npos);
  EXPECT_NE(paper.find("VOLTE SEMPRE"), std::string::npos);
  EXPECT_NE(paper.find("LEITURA X"), std::string::npos);
}
