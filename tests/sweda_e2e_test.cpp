// Whole Sweda sales on a real pseudo-terminal: the control and the driver on
// one side, `tarvion emulate` with an ST and a classic model in its own
// process on the other; then the point of sale starts again (a new control
// whose ST sequence begins anew) against the same printer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "emulate_process.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;

TEST(SwedaEndToEnd, SalesOverAPseudoTerminalAndAPointOfSaleThatStartsAgain) {
  struct Case {
    const char* model;
    const char* alreadyOpen;  // the printer's refusal of a second receipt
  };
  const Case cases[] = {
      {"47", "Comando inválido. Não foram obedecidos os requisitos para execução do comando."},
      {"39", "(0058) CUPOM JA ABERTO"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.model);
    testsupport::TempDir tmp;
    testsupport::EmulateProcess emu(
        {k.model, "--state", tmp.file("state.txt"), "--paper", tmp.file("paper.txt"), "--baud", "115200"});
    ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
    setenv("TARVION_PORT_18", emu.path().c_str(), 1);
    const int model = std::atoi(k.model);
    {
      CTarvionCtrl c;
      ASSERT_NE(c.InitializeECF(model, 18, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
      EXPECT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
      EXPECT_EQ(c.AbreCupomFiscal(), 0);
      EXPECT_EQ(c.UltimoErro(), k.alreadyOpen);
      EXPECT_EQ(c.RegistraItemFiscal("1", "CAFÉ", "UN", 18, 3, 2.5, 0), 1) << c.UltimoErro();
      EXPECT_EQ(c.RegistraItemFiscal("2", "ARROZ", "UN", 17, 1, 5, 0), 0);
      EXPECT_EQ(c.RegistraPagamento("Dinheiro", 10), 1) << c.UltimoErro();
      EXPECT_EQ(c.FechaCupomFiscal("VOLTE SEMPRE", 0), 1) << c.UltimoErro();
      int open = -1;
      EXPECT_EQ(c.CupomFiscalAberto(open), 1) << c.UltimoErro();
      EXPECT_EQ(open, 0);
      EXPECT_EQ(c.CloseComm(), 1);
    }
    {
      CTarvionCtrl c;
      ASSERT_NE(c.InitializeECF(model, 18, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
      EXPECT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
      EXPECT_EQ(c.CancelaCupomFiscal(), 1) << c.UltimoErro();
      std::string x;
      EXPECT_EQ(c.LeituraXSerial(x), 1) << c.UltimoErro();
      EXPECT_FALSE(x.empty());
      EXPECT_EQ(c.CloseComm(), 1);
    }
    const std::string paper = testsupport::readFile(tmp.file("paper.txt"));
    EXPECT_NE(paper.find("CAF"), std::string::npos);
  }
}
