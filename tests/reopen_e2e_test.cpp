// A port is opened again and again: one `tarvion emulate` serves host sessions
// that come and go, as a POS restarts, and every one of them opens the port and
// sells, whatever the first left behind on the terminal.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <string>

#include "emulate_process.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;

namespace {

struct FamilyCase {
  int model;
  const char* family;
};

// One model of every family that has a virtual printer.
constexpr FamilyCase kFamilies[] = {
    {1, "Bematech"},
    {23, "FiscNET (ELGIN X5)"},
    {52, "FiscNET (ZPM)"},
    {54, "2009 set (MP-4200)"},
};

// A whole receipt; the first step that fails, with the printer's message.
std::string sell(CTarvionCtrl& c) {
  if (!c.AbreCupomFiscal()) return "AbreCupomFiscal: " + c.UltimoErro();
  if (!c.RegistraItemFiscal("1", "CAFE", "UN", 18, 1, 3.5, 0)) return "RegistraItemFiscal: " + c.UltimoErro();
  if (!c.TotalizaCupomDesconto(0, 0)) return "TotalizaCupomDesconto: " + c.UltimoErro();
  if (!c.RegistraPagamento("Dinheiro", 5)) return "RegistraPagamento: " + c.UltimoErro();
  if (!c.FechaCupomFiscal("OBRIGADO", 0)) return "FechaCupomFiscal: " + c.UltimoErro();
  return "sold";
}

}  // namespace

TEST(Reopen, EverySessionOpensTheSameTerminalAndSells) {
  for (const FamilyCase& f : kFamilies) {
    SCOPED_TRACE(f.family);
    testsupport::TempDir tmp;
    testsupport::EmulateProcess emu({std::to_string(f.model), "--state", tmp.file("state.txt"), "--paper",
                                     tmp.file("paper.txt"), "--baud", "115200"});
    ASSERT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
    setenv("TARVION_PORT_21", emu.path().c_str(), 1);
    for (int session = 1; session <= 2; ++session) {
      SCOPED_TRACE(session);
      CTarvionCtrl c;
      ASSERT_NE(c.InitializeECF(f.model, 21, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
      EXPECT_EQ(sell(c), "sold");
      // Let go and take the port back within the session, as a POS does around
      // another program's use of it.
      EXPECT_EQ(c.CloseComm(), 1);
      EXPECT_EQ(c.OpenComm(1), 1) << c.UltimoErro();
      EXPECT_EQ(c.PauseComm(), 1);
      EXPECT_EQ(c.ContinueComm(), 1) << c.UltimoErro();
      EXPECT_EQ(sell(c), "sold");
      EXPECT_EQ(c.CloseComm(), 1);
    }
  }
}

// The printer goes away under an open port (a USB cable pulled, the printer
// restarted) and comes back at the same name: the call that found it gone
// fails, and the next one opens the port again by itself, without a new
// InitializeECF.
TEST(Reopen, APrinterThatComesBackIsReachedWithoutStartingOver) {
  for (const FamilyCase& f : kFamilies) {
    SCOPED_TRACE(f.family);
    testsupport::TempDir tmp;
    const std::string link = tmp.file("ttyECF");
    auto serve = [&] {
      return testsupport::EmulateProcess({std::to_string(f.model), "--state", tmp.file("state.txt"), "--paper",
                                          tmp.file("paper.txt"), "--baud", "115200", "--link", link});
    };
    setenv("TARVION_PORT_22", link.c_str(), 1);
    CTarvionCtrl c;
    {
      auto first = serve();
      ASSERT_NE(c.InitializeECF(f.model, 22, 115200, 0, 8, 1, 0, 1, 1), 0) << c.UltimoErro();
      EXPECT_EQ(sell(c), "sold");
      first.stop(SIGKILL);
    }
    EXPECT_EQ(c.LeituraX(), 0);  // nobody at the other end
    auto second = serve();
    EXPECT_EQ(sell(c), "sold");
    EXPECT_EQ(c.LeituraX(), 1) << c.UltimoErro();
    EXPECT_EQ(c.CloseComm(), 1);
  }
}
