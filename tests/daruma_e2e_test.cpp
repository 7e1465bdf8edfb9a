// Whole Daruma sales on a real pseudo-terminal: the control and the driver on
// one side, `tarvion emulate` in its own process on the other, the FS600 (with
// noise before every reply) and the classic FS-345. The POS closes and opens
// the port again, and the printer restarts from its state file between
// sessions; every session sells.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <string>

#include "emulate_process.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;

namespace {

std::string sell(CTarvionCtrl& c, const char* item) {
  if (!c.AbreCupomFiscal()) return "AbreCupomFiscal: " + c.UltimoErro();
  if (!c.RegistraItemFiscal("1", item, "UN", 18, 3, 2.5, 0.5)) return "RegistraItemFiscal: " + c.UltimoErro();
  if (!c.TotalizaCupomDesconto(0.5, 0)) return "TotalizaCupomDesconto: " + c.UltimoErro();
  if (!c.RegistraPagamento("Dinheiro", 10)) return "RegistraPagamento: " + c.UltimoErro();
  if (!c.FechaCupomFiscal("VOLTE SEMPRE", 0)) return "FechaCupomFiscal: " + c.UltimoErro();
  return "sold";
}

}  // namespace

TEST(DarumaEndToEnd, SalesOverAPseudoTerminalAcrossReopensAndRestarts) {
  struct Case {
    int model;
    const char* noise;
  } cases[] = {{13, "6"}, {11, "0"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.model);
    testsupport::TempDir tmp;
    const std::vector<std::string> args = {std::to_string(k.model),
                                           "--state",
                                           tmp.file("state.txt"),
                                           "--paper",
                                           tmp.file("paper.txt"),
                                           "--baud",
                                           "115200"};
    for (int restart = 0; restart < 2; ++restart) {
      SCOPED_TRACE(restart);
      testsupport::EmulateProcess emu(args, {{"TARVION_DARUMA_NOISE", k.noise}});
      ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
      setenv("TARVION_PORT_19", emu.path().c_str(), 1);
      CTarvionCtrl c;
      ASSERT_NE(c.InitializeECF(k.model, 19, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
      EXPECT_EQ(sell(c, "CAFE"), "sold");
      EXPECT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
      EXPECT_EQ(c.AbreCupomFiscal(), 0);
      EXPECT_EQ(c.UltimoErro(), k.model == 11 ? "Documento sendo emitido." : "CF aberto.");
      EXPECT_EQ(c.CancelaCupomFiscal(), 1) << c.UltimoErro();
      // The port is let go and taken back, as a POS does around another program.
      EXPECT_EQ(c.CloseComm(), 1);
      EXPECT_EQ(c.OpenComm(1), 1) << c.UltimoErro();
      EXPECT_EQ(sell(c, "ARROZ"), "sold");
      std::string number;
      EXPECT_EQ(c.RetornaNumeroCupom(number), 1) << c.UltimoErro();
      // Three receipts a session, the cancelled one included, and the X report
      // that ended the session before.
      EXPECT_EQ(number, std::to_string(3 + 4 * restart));
      EXPECT_EQ(c.LeituraX(), 1) << c.UltimoErro();
      EXPECT_EQ(c.CloseComm(), 1);
    }
    const std::string paper = testsupport::readFile(tmp.file("paper.txt"));
    EXPECT_NE(paper.find("CAFE"), std::string::npos);
    EXPECT_NE(paper.find("VOLTE SEMPRE"), std::string::npos);
    EXPECT_NE(paper.find("LEITURA X"), std::string::npos);
  }
}
