// A whole sale of the 2009 command set on a real pseudo-terminal: the control
// and the CECFCV2009 driver on one side, `tarvion emulate 54` in its own
// process on the other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "emulate_process.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;

TEST(EndToEndCv2009, SaleLinkedReceiptAndReportsOverAPseudoTerminal) {
  testsupport::TempDir tmp;
  testsupport::EmulateProcess emu(
      {"54", "--state", tmp.file("state.txt"), "--paper", tmp.file("paper.txt"), "--baud", "115200"});
  ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
  setenv("TARVION_PORT_8", emu.path().c_str(), 1);
  CTarvionCtrl c;
  ASSERT_NE(c.InitializeECF(54, 8, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
  EXPECT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
  EXPECT_EQ(c.AbreCupomFiscal(), 0);
  EXPECT_EQ(c.UltimoErro(), "Comando enviado não pode ser executado, pois existe um Cupom Fiscal aberto.");
  EXPECT_EQ(c.RegistraItemFiscal("1", "CAFE", "UN", 18, 2, 10.5, 0), 1) << c.UltimoErro();
  EXPECT_EQ(c.RegistraItemFiscal("2", "PAO", "KG", -1, 1.5, 4, 0), 1) << c.UltimoErro();
  EXPECT_EQ(c.RegistraItemFiscal("3", "ARROZ", "UN", 17, 1, 5, 0), 0);
  EXPECT_EQ(c.UltimoErro(), "Alíquota de ICMS de 17.00% não cadastrada no ECF.");
  EXPECT_EQ(c.TotalizaCupomDesconto(1.0, 0), 1) << c.UltimoErro();
  EXPECT_EQ(c.RegistraPagamento("Cartao", 20), 1) << c.UltimoErro();
  EXPECT_EQ(c.RegistraPagamento("Dinheiro", 10), 1) << c.UltimoErro();
  EXPECT_EQ(c.FechaCupomFiscal("VOLTE SEMPRE", 0), 1) << c.UltimoErro();
  int open = -1;
  EXPECT_EQ(c.CupomFiscalAberto(open), 1);
  EXPECT_EQ(open, 0);
  EXPECT_EQ(c.LeituraX(), 1) << c.UltimoErro();
  std::string x;
  EXPECT_EQ(c.LeituraXSerial(x), 1) << c.UltimoErro();
  EXPECT_NE(x.find("CRZ: 0000"), std::string::npos) << x.substr(0, 200);
  EXPECT_EQ(c.CloseComm(), 1);
  const std::string paper = testsupport::readFile(tmp.file("paper.txt"));
  EXPECT_NE(paper.find("CAFE"), std::string::npos);
  EXPECT_NE(paper.find("PAO"), std::string::npos);
  EXPECT_NE(paper.find("VOLTE SEMPRE"), std::string::npos);
  EXPECT_NE(paper.find("LEITURA X"), std::string::npos);
}
