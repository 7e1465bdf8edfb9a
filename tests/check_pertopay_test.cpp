// CPertoPay through a stand-in for the maker's library: found in the shared
// folder under the user's data folder (the system's folder of common program
// files elsewhere), opened with the port's description, each command handed
// over unframed and each unframed answer read like a Perto printer's. And the
// check printer sharing the fiscal printer's port, through the control, with
// the virtual Perto on that port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "control/ctrl_state.h"
#include "core/text.h"
#include "drivers/check/CPertoPay.h"
#include "emulator/check/printer.h"
#include "emulator/printers.h"
#include "platform/dynamic_library.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;
using text::cp;

namespace {

struct StandIn {
  platform::DynamicLibrary lib;
  const char* (*calls)() = nullptr;
  void (*reset)() = nullptr;
  void (*setReply)(const char*) = nullptr;
  void (*setResults)(int, int) = nullptr;
  StandIn() {
    EXPECT_TRUE(lib.open(TARVION_PERTOPAY_STANDIN));
    calls = lib.function<const char* (*)()>("StandIn_Calls");
    reset = lib.function<void (*)()>("StandIn_Reset");
    setReply = lib.function<void (*)(const char*)>("StandIn_SetReply");
    setResults = lib.function<void (*)(int, int)>("StandIn_SetResults");
    reset();
  }
  std::string take() {
    std::string s = calls();
    reset();
    return s;
  }
};

// The user's data folder points at a folder of the test's own.
class DataHome {
 public:
  explicit DataHome(const std::string& path) {
    if (const char* old = std::getenv("XDG_DATA_HOME")) old_ = old, had_ = true;
    setenv("XDG_DATA_HOME", path.c_str(), 1);
  }
  ~DataHome() {
    if (had_)
      setenv("XDG_DATA_HOME", old_.c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
  }

 private:
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(PertoPay, CommandsGoThroughTheMakersLibrary) {
  StandIn s;
  CPertoPay d(TARVION_PERTOPAY_STANDIN);
  d.nPortNumber = 3;
  d.nBaudRate = 9600;
  d.nDataBits = 8;
  d.nStopBits = 1;
  ASSERT_TRUE(d.OpenComm(kTrue)) << d.strLastError;
  EXPECT_EQ(s.take(), "open(COM3:9600,n,8,1);");

  // The library's answer has neither STX nor ETX: the line sits after "000<".
  s.setReply("000<00100011<0180000015>500001234565:");
  std::string line;
  ASSERT_TRUE(d.ReadCheck(kTrue, line)) << d.strLastError;
  EXPECT_EQ(line, "00100011<0180000015>500001234565");
  s.setReply("000");
  ASSERT_TRUE(d.PrintCheck(123.45, "001")) << d.strLastError;
  EXPECT_EQ(s.take(), "send(P);send(;C000000012345001);");
  // The same status check as a framed reply, with or without the frame.
  for (const char* reply : {"099",
                            "\x02"
                            "099\x03"}) {
    s.setReply(reply);
    EXPECT_FALSE(d.ReleaseCheck());
    EXPECT_EQ(d.strLastError, "99 - Erro indefinido.");
    EXPECT_EQ(d.lastOutcome, exchange::Outcome::Refused);
  }
  s.reset();
  // The library says the command failed: it may have reached the printer.
  s.setResults(1, 0);
  EXPECT_FALSE(d.ReleaseCheck());
  EXPECT_EQ(d.strLastError, "Erro enviando comando para PertoPay.");
  EXPECT_EQ(d.lastOutcome, exchange::Outcome::MayHaveRun);
  EXPECT_EQ(s.take(), "send(>);");
  // A command longer than the library's buffer is refused before the call.
  std::string text;
  for (int i = 0; i < 14; ++i) text += std::string(30, 'x') + "\n";
  EXPECT_FALSE(d.PrintCheckText(text));
  EXPECT_NE(d.strLastError.find("254"), std::string::npos) << d.strLastError;
  EXPECT_EQ(s.take(), "");
  EXPECT_TRUE(d.CloseComm());
  EXPECT_EQ(s.take(), "close;");
  EXPECT_FALSE(d.LibraryLoaded());

  // The library refuses the port.
  s.setResults(0, 1);
  EXPECT_FALSE(d.OpenComm(kTrue));
  EXPECT_EQ(d.strLastError, "Erro inicializando PertoPay.");
  EXPECT_FALSE(d.bPortOpen);
}

TEST(PertoPay, TheLibraryIsLookedForInTheSharedFolder) {
  testsupport::TempDir tmp;
  DataHome home(tmp.path());
  EXPECT_EQ(CPertoPay::DefaultLibraryPath(), tmp.path() + "/Norvex Dirazido/Shared/libPertoPay.so");
  StandIn s;
  CTarvionCtrl c;
  // Not there yet: the open fails and says which file it looked for.
  EXPECT_EQ(c.InitializeCheckPrinter("PERTOPAY", 4, 19200, 0, 8, 1), 0);
  EXPECT_NE(c.UltimoErro().find("Norvex Dirazido/Shared/libPertoPay.so"), std::string::npos) << c.UltimoErro();

  std::filesystem::create_directories(tmp.path() + "/Norvex Dirazido/Shared");
  std::filesystem::create_symlink(TARVION_PERTOPAY_STANDIN, CPertoPay::DefaultLibraryPath());
  ASSERT_EQ(c.InitializeCheckPrinter("PERTOPAY", 4, 19200, 0, 8, 1), 1) << c.UltimoErro();
  EXPECT_STREQ(c.state().check->ClassName(), "CPertoPay");
  std::string line;
  s.setReply("000<00100011<0180000015>500001234565:");
  EXPECT_EQ(c.ReadCheck(1, line), 1) << c.UltimoErro();
  EXPECT_EQ(line, "00100011<0180000015>500001234565");
  EXPECT_EQ(s.take(), "open(COM4:19200,n,8,1);send(P);");

  // A library without the maker's functions: the open fails naming the first missing one.
  CPertoPay other(TARVION_EPSON_STANDIN);
  other.nPortNumber = 5;
  EXPECT_FALSE(other.OpenComm(kTrue));
  EXPECT_EQ(other.strLastError, cp("Não foi possível carregar a função IniciaPorta de PertoPay."));
  // No library at all: nothing is called through a null entry.
  EXPECT_FALSE(other.ReleaseCheck());
  EXPECT_EQ(other.strLastError, "Erro enviando comando para PertoPay.");
}

TEST(CheckPrinterSharesTheFiscalPort, TheVirtualPertoAnswersOnIt) {
  testsupport::TempDir tmp;
  std::string err;
  auto printer = std::dynamic_pointer_cast<emulator::CheckPrinter>(emulator::makePrinter("PERTOCHECK", "", "", &err));
  ASSERT_NE(printer, nullptr) << err;
  auto dev = emulator::makeVirtualDevice(printer);
  ports::attachVirtual(711, dev);
  {
    CTarvionCtrl c;
    // A plain fiscal driver holds the port open.
    c.InitializeECF(99, 711, 9600, 0, 8, 1, 0, 1, 0);
    ASSERT_TRUE(c.state().fiscal && c.state().fiscal->bPortOpen);
    ASSERT_EQ(c.InitializeCheckPrinter("PERTOCHECK", 711, 9600, 0, 8, 1), -1) << c.UltimoErro();
    EXPECT_EQ(dev->openAttempts(), 1);
    EXPECT_EQ(c.state().check->hPort, c.state().fiscal->hPort);
    printer->setDocumentInserted(true, "001000110180000015500001234565");
    std::string line;
    EXPECT_EQ(c.ReadAndPrintCheck(50, "001", line), 1) << c.UltimoErro();
    EXPECT_EQ(line, "00100011<0180000015>500001234565");
    EXPECT_EQ(printer->station().printed, 1);
    EXPECT_EQ(c.ReleaseCheck(), 1) << c.UltimoErro();
    c.state().fiscal->strLastError.clear();  // what the plain driver's set-up left
    EXPECT_EQ(c.ReadCheck(1, line), 0);
    EXPECT_EQ(c.UltimoErro(), "Documento não inserido na máquina.");
  }
  ports::detachVirtual(711);
}
