// Opening, configuring, releasing and re-taking the port, and the answer wait,
// on the virtual wire (simulated clock: no test waits in real time).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "core/ecf_base.h"
#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"
#include "test_support.h"

using namespace tarvion;
using text::cp;

namespace {

class CommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = std::make_shared<ScriptedPeer>();
    dev = std::make_shared<VirtualDevice>(peer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
  }
  void TearDown() override { ports::detachVirtual(kPort); }
  std::string log() { return testsupport::readFile(tmp.logPath()); }

  static constexpr int kPort = 9;
  testsupport::TempDir tmp;
  std::shared_ptr<ScriptedPeer> peer;
  std::shared_ptr<VirtualDevice> dev;
  // The log is decided when a driver is made, so it is switched on before d exists.
  bool logOn = (tmp.enableLog(), true);
  CECFBase d;
};

}  // namespace

TEST_F(CommTest, OpenCommAppliesTheSettingsAndTimeouts) {
  ASSERT_EQ(d.OpenComm(1), 1);
  EXPECT_TRUE(d.bPortOpen);
  const PortSettings& s = dev->settings();
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.StopBits, kOneStopBit);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.fParity, 0);
  EXPECT_EQ(s.fBinary, 1);
  EXPECT_EQ(s.fDsrSensitivity, 1);
  EXPECT_EQ(s.fOutxCtsFlow, 1);
  EXPECT_EQ(s.fOutxDsrFlow, 1);
  EXPECT_EQ(s.fDtrControl, kDtrHandshake);
  EXPECT_EQ(s.fRtsControl, kRtsHandshake);
  EXPECT_EQ(s.fAbortOnError, 1);
  EXPECT_EQ(s.XonLim, 2048);
  EXPECT_EQ(s.XoffLim, 512);
  EXPECT_EQ(s.XonChar, 0x11);
  EXPECT_EQ(s.XoffChar, 0x13);
  const PortTimeouts& t = dev->timeouts();
  EXPECT_EQ(t.ReadIntervalTimeout, 200u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 200u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 30000u);
  EXPECT_EQ(dev->purges(), 1);
  std::string l = log();
  EXPECT_NE(l.find("CECFBase::OpenComm - COM9\r\n"), std::string::npos);
  EXPECT_NE(l.find("CECFBase::OpenComm{CreateFile - COM9, Handle = "), std::string::npos);
  EXPECT_NE(l.find("CECFBase::GetCommState - BoundRate=9600, DataBits=8, StopBits=1, Paridade=0"), std::string::npos);
  EXPECT_NE(l.find("CECFBase::SetCommState - Paridade=0"), std::string::npos);
  EXPECT_NE(l.find("CECFBase::OpenComm{intTesteRet=1 wPacketLength="), std::string::npos);
}

TEST_F(CommTest, OpenCommOnAnOpenDriverLogsOnlyItsFirstLine) {
  ASSERT_EQ(d.OpenComm(0), 1);
  size_t before = log().size();
  EXPECT_EQ(d.OpenComm(0), 1);
  std::string added = log().substr(before);
  EXPECT_EQ(testsupport::countOf(added, "\r\n"), 1u);
  EXPECT_NE(added.find("CECFBase::OpenComm - COM9"), std::string::npos);
  EXPECT_EQ(dev->openAttempts(), 1);
}

TEST_F(CommTest, StopBitsAndParityRules) {
  d.nStopBits = 2;
  ASSERT_EQ(d.OpenComm(0), 1);
  EXPECT_EQ(dev->settings().StopBits, kTwoStopBits);
  for (int odd : {0, 3}) {
    d.nStopBits = odd;
    d.nParity = 2;
    ASSERT_EQ(d.GetCommState(), 1);
    ASSERT_EQ(d.SetCommState(), 1);
    EXPECT_EQ(dev->settings().StopBits, kTwoStopBits) << odd;  // left as the port had it
    EXPECT_EQ(dev->settings().fParity, 1);
  }
  d.nParity = 0;
  d.GetCommState();
  d.SetCommState();
  EXPECT_EQ(dev->settings().fParity, 0);
}

TEST_F(CommTest, CloseAndPauseReleaseThePort) {
  ASSERT_EQ(d.OpenComm(0), 1);
  EXPECT_EQ(d.PauseComm(), 1);
  EXPECT_FALSE(d.bPortOpen);
  EXPECT_FALSE(dev->isOpen());
  EXPECT_EQ(d.ContinueComm(), 1);
  EXPECT_TRUE(dev->isOpen());
  EXPECT_EQ(dev->settings().BaudRate, 9600u);
  EXPECT_EQ(d.ContinueComm(), 1);  // already open: nothing to do
  EXPECT_EQ(dev->openAttempts(), 2);
  EXPECT_EQ(d.CloseComm(), 1);
  EXPECT_FALSE(dev->isOpen());
  EXPECT_EQ(d.hPort, nullptr);
  EXPECT_NE(log().find("CECFBase::ContinueComm{CreateFile - COM9, Handle = "), std::string::npos);
}

TEST_F(CommTest, ContinueCommTriesFiveTimesHalfASecondApart) {
  ASSERT_EQ(d.OpenComm(0), 1);
  d.PauseComm();
  dev->refuseOpens(100);
  int64_t start = dev->clock().nowUs();
  EXPECT_EQ(d.ContinueComm(), 0);
  EXPECT_EQ(dev->clock().nowUs() - start, 4 * 500'000);
  EXPECT_EQ(dev->openAttempts(), 1 + 5);
  EXPECT_EQ(d.strLastError.rfind("(5)", 0), 0u);  // the system's message of the last attempt
  std::string l = log();
  EXPECT_NE(l.find("Tentativa=5"), std::string::npos);
  EXPECT_EQ(l.find("Tentativa=6"), std::string::npos);
  EXPECT_NE(l.find("CECFBase::ContinueComm{CreateFile - Erro = (5)"), std::string::npos);
  EXPECT_NE(l.find(", Porta = COM9}"), std::string::npos);
  EXPECT_NE(l.find("CECFBase::ContinueComm{Retorno=FALSE}"), std::string::npos);
  // The third attempt succeeds when the port frees up in time.
  dev->refuseOpens(2);
  EXPECT_EQ(d.ContinueComm(), 1);
}

TEST_F(CommTest, WaitCommEventTimesOutOnTheSimulatedClock) {
  ASSERT_EQ(d.OpenComm(0), 1);
  int64_t start = dev->clock().nowUs();
  EXPECT_EQ(d.WaitCommEvent(), 0);
  EXPECT_EQ(dev->clock().nowUs() - start, 120'000'000);
  EXPECT_EQ(d.strLastError, "Timeout aguardando resposta da impressora.");
  EXPECT_NE(log().find("CECFBase::WaitCommEvent{(WaitForSingleObject)Retorno=FALSE,strLastError=Timeout aguardando"),
            std::string::npos);
}

TEST_F(CommTest, WaitCommEventSeesAnAnswerThatComesLater) {
  peer = std::make_shared<ScriptedPeer>([](const ByteArray&, VirtualLink& link) { link.send("\x06", 700); });
  dev = std::make_shared<VirtualDevice>(peer);
  ports::attachVirtual(kPort, dev);
  ASSERT_EQ(d.OpenComm(0), 1);
  size_t written = 0;
  uint8_t req = 5;
  d.hPort->write(&req, 1, written);
  int64_t start = dev->clock().nowUs();
  EXPECT_EQ(d.WaitCommEvent(1000), 1);
  EXPECT_EQ(dev->clock().nowUs() - start, 700'000);
  uint8_t buf[4];
  size_t got = 0;
  d.hPort->read(buf, sizeof buf, got);
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buf[0], 6);
  // With the answer later than the limit the wait fails at the limit.
  d.hPort->write(&req, 1, written);
  start = dev->clock().nowUs();
  EXPECT_EQ(d.WaitCommEvent(500), 0);
  EXPECT_EQ(dev->clock().nowUs() - start, 500'000);
}

TEST_F(CommTest, DsrAndCtsRulesOfTheWait) {
  ASSERT_EQ(d.OpenComm(0), 1);
  VirtualLink link(*dev);
  link.setHolds(false, true);
  d.bCheckDSR = 1;
  EXPECT_EQ(d.WaitCommEvent(1000), 0);
  EXPECT_EQ(d.strLastError, cp("Timeout aguardando resposta da impressora. Verifique se a impressora está ligada e "
                               "pronta comunicação."));
  // Queued bytes do not count while CTS holds.
  link.setHolds(true, false);
  link.send("A");
  EXPECT_EQ(d.WaitCommEvent(300), 0);
  d.bCheckCTS = 0;
  EXPECT_EQ(d.WaitCommEvent(300), 1);
  // Without the DSR check a failing status read ends the wait as a success.
  d.bCheckDSR = 0;
  dev->cut();
  EXPECT_EQ(d.WaitCommEvent(300), 1);
}

TEST_F(CommTest, MissingPortAndUsbWithoutInterfaceClass) {
  CECFBase usb;
  usb.nPortNumber = 999;
  ports::attachVirtual(999, std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>()));
  EXPECT_EQ(usb.OpenComm(1), 0);
  EXPECT_EQ(usb.strLastError, cp("Impressora não encontrada via conexão USB."));
  usb.usbInterfaceClass = InterfaceClass::parse("{325DDF96-938C-11D3-9E34-0080C82727F4}");
  EXPECT_EQ(usb.usbInterfaceClass.bytes[0], 0x96);
  EXPECT_EQ(usb.usbInterfaceClass.bytes[15], 0xF4);
  EXPECT_EQ(usb.OpenComm(1), 1);  // found and opened; no online check on USB
  ports::detachVirtual(999);

  setenv("TARVION_PORT_77", "/nonexistent/tarvion-port", 1);
  CECFBase missing;
  missing.nPortNumber = 77;
  EXPECT_EQ(missing.OpenComm(1), 0);
  EXPECT_EQ(missing.strLastError, cp("(2)Falha na comunicação com o ECF."));
  unsetenv("TARVION_PORT_77");
  // The log line names the device, so that a system message can be traced to it.
  EXPECT_NE(log().find("CECFBase::OpenComm{CreateFile - Erro = (2)Falha na comunicação com o ECF., Porta = "
                       "/nonexistent/tarvion-port}"),
            std::string::npos);
}

TEST_F(CommTest, PrinterThatDoesNotAnswerTheOnlineCheck) {
  struct Offline : CECFBase {
    BOOL ECFOnline() override { return 0; }
  } off;
  off.nPortNumber = kPort;
  EXPECT_EQ(off.OpenComm(1), 0);
  EXPECT_EQ(off.strLastError, cp("A impressora selecionada não pôde ser encontrada na porta serial."));
  EXPECT_FALSE(off.bPortOpen);
  EXPECT_FALSE(dev->isOpen());
  // Without information reading the check is skipped.
  EXPECT_EQ(off.OpenComm(0), 1);
}

TEST_F(CommTest, CutCableTurnsIntoSystemErrors) {
  ASSERT_EQ(d.OpenComm(0), 1);
  dev->cut();
  EXPECT_EQ(d.GetCommState(), 0);
  EXPECT_EQ(d.strLastError.rfind("(1167)", 0), 0u);
}

TEST_F(CommTest, LogCommStateWritesFiveLines) {
  ASSERT_EQ(d.OpenComm(0), 1);
  size_t before = log().size();
  d.LogCommState("CECFCV2009::OpenComm");
  std::string added = log().substr(before);
  EXPECT_EQ(testsupport::countOf(added, "\r\n"), 5u);
  EXPECT_NE(added.find("CECFCV2009::OpenComm{BaudRate=9600, ByteSize=8, DCBlength=28,"), std::string::npos);
  EXPECT_NE(added.find("CECFCV2009::OpenComm{bCheckCTS=TRUE, bCheckDSR=FALSE}"), std::string::npos);
}

namespace {

// Sets environment variables for one scope and puts the old values back.
class ScopedEnv {
 public:
  void set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    for (auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace

TEST(SystemErrorText, SpeaksTheLanguageOfTheEnvironment) {
  constexpr int kPermissionDenied = 13;  // EACCES
  ScopedEnv env;
  env.set("LANGUAGE", nullptr);
  env.set("LC_MESSAGES", nullptr);
  env.set("LC_ALL", "C");
  EXPECT_EQ(platform::systemErrorText(kPermissionDenied), "Permission denied");
  // A locale the machine does not have: the untranslated text.
  env.set("LC_ALL", "xx_YY.UTF-8");
  EXPECT_EQ(platform::systemErrorText(kPermissionDenied), "Permission denied");
  // Portuguese, with a locale built for this test only (the machine may have
  // no other locale installed, but it has the sources and the catalogue).
  testsupport::TempDir dir;
  const auto built =
      testsupport::runCommand("localedef -i pt_BR -f UTF-8 " + dir.path() + "/pt_BR.UTF-8 >/dev/null 2>&1; echo $?");
  if (built.out != "0\n") GTEST_SKIP() << "no pt_BR locale can be built here";
  env.set("LOCPATH", dir.path().c_str());
  env.set("LC_ALL", "pt_BR.UTF-8");
  EXPECT_EQ(platform::systemErrorText(kPermissionDenied), cp("Permissão negada"));
  // The driver's message keeps its form, with the text in 1252.
  CECFBase d;
  platform::setLastError(kPermissionDenied);
  d.SetSystemError();
  EXPECT_EQ(d.strLastError, cp("(13)Permissão negada"));
  // The codes that mean "no device" keep their own text in any language.
  platform::setLastError(platform::kErrFileNotFound);
  d.SetSystemError();
  EXPECT_EQ(d.strLastError, cp("(2)Falha na comunicação com o ECF."));
}
