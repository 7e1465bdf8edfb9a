// The PAF-ECF identification of the FS models: what goes to the printer (62 "@"),
// what is kept in the user's key store ("PEID": serial number, then the
// identification), the daylight-saving rule that skips a needless send, and a
// crash in the middle of the store's write.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "bematech_fake_printer.h"
#include "core/text.h"
#include "drivers/bematech/CBematech2000.h"
#include "drivers/bematech/CBematechMP6000.h"
#include "platform/keystore.h"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;
using text::cp;

namespace {

// This test's own key store.
class ConfigHome {
 public:
  ConfigHome() {
    char tmpl[] = "/tmp/tarvion-paf-XXXXXX";
    path_ = mkdtemp(tmpl);
    const char* old = std::getenv("XDG_CONFIG_HOME");
    had_ = old != nullptr;
    if (old) old_ = old;
    setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
  }
  ~ConfigHome() {
    if (had_)
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

 private:
  std::string path_, old_;
  bool had_ = false;
};

const std::string kSerial = "BE0123456789ABCDEFGH";

std::string peid() {
  std::string v;
  return platform::readKeyValue(CBematech2000::kPafKey, CBematech2000::kPafValue, v) ? v : std::string("(none)");
}

ByteArray identification(const std::string& line1, const std::string& line2) {
  return body(62, "@" + pad(line1, 48) + pad(line2, 36));
}

}  // namespace

TEST(BematechPaf, TheIdentificationGoesToThePrinterAndTheKeyStore) {
  ConfigHome home;
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<CBematechMP6000> r(340, true);
  ASSERT_TRUE(r.open());
  r.printer->data[{35, 40}] = bytes(kSerial);
  ASSERT_EQ(r.d.SetPAFECFIdentification("  MD5: 0123abcd  ", " PDV Tarvion 1.0 "), 1) << r.d.strLastError;
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 40}, identification("MD5: 0123abcd", "PDV Tarvion 1.0")}));
  EXPECT_EQ(peid(), kSerial + pad("MD5: 0123abcd", 48) + pad("PDV Tarvion 1.0", 36));
  EXPECT_TRUE(r.d.bIdentificacaoEnviada);
  EXPECT_EQ(r.d.strIdentificacao1, "MD5: 0123abcd");
  std::string l1, l2;
  ASSERT_EQ(r.d.GetPAFECFIdentification(l1, l2), 1);
  EXPECT_EQ(l1, "MD5: 0123abcd");
  EXPECT_EQ(l2, "PDV Tarvion 1.0");
  std::string serial, id;
  ASSERT_EQ(r.d.ObtemRegPAFECFIdentification(serial, id), 1);
  EXPECT_EQ(serial, kSerial);
  EXPECT_EQ(id, pad("MD5: 0123abcd", 48) + pad("PDV Tarvion 1.0", 36));

  // The receipt's closing text carries the lines.
  ASSERT_EQ(r.d.FechaCupomFiscal("", 0), 1);
  const auto close = r.printer->take();
  ASSERT_EQ(close.size(), 1u);
  EXPECT_EQ(str(close[0]).substr(4, 48), pad("MD5: 0123abcd", 48));

  // A refused identification is not recorded.
  r.printer->hook = [](const ByteArray& b, ByteArray& reply) {
    if (b.size() < 2 || b[0] != 62 || b[1] != '@') return false;
    reply = {0, bematech::st2::NotExecuted, 0, 0};
    return true;
  };
  EXPECT_EQ(r.d.SetPAFECFIdentification("outra", "linha"), 0);
  EXPECT_EQ(peid(), kSerial + pad("MD5: 0123abcd", 48) + pad("PDV Tarvion 1.0", 36));
  EXPECT_EQ(r.d.strIdentificacao1, "MD5: 0123abcd");
  r.printer->hook = nullptr;

  // Blank lines on a reset, and in the store.
  r.printer->take();
  ASSERT_EQ(r.d.ResetPAFECFIdentification(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 40}, identification("", "")}));
  EXPECT_EQ(peid(), kSerial + std::string(84, ' '));
  EXPECT_FALSE(r.d.bIdentificacaoEnviada);
  ASSERT_EQ(r.d.GetPAFECFIdentification(l1, l2), 1);
  EXPECT_EQ(l1, "");

  const std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech2000::SetPAFECFIdentification{strIdentificacao=MD5: 0123abcd"), std::string::npos);
  EXPECT_NE(log.find("CBematech2000::ObtemRegPAFECFIdentification{" + kSerial), std::string::npos);
  EXPECT_NE(log.find("(nf=" + kSerial + ")(id=MD5: 0123abcd"), std::string::npos);
}

TEST(BematechPaf, AScheduledDaylightSavingChangeSkipsARepeatedIdentification) {
  ConfigHome home;
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<CBematech2000> r(341, true);
  ASSERT_TRUE(r.open());
  r.printer->data[{35, 40}] = bytes(kSerial);
  ASSERT_EQ(r.d.SetPAFECFIdentification("MD5: 1", "PDV"), 1);
  r.printer->take();
  // Without a scheduled change the identification always goes.
  ASSERT_EQ(r.d.SetPAFECFIdentification("MD5: 1", "PDV"), 1);
  EXPECT_EQ(r.printer->take().size(), 2u);
  // With one, the printer that already has these lines gets nothing...
  r.d.AlterarHVAgendado = 1;
  ASSERT_EQ(r.d.SetPAFECFIdentification("MD5: 1", "PDV"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 40}}));
  EXPECT_EQ(r.d.strPAFIdent1, "MD5: 1");  // still printed under the receipts
  // ...new lines, or the same lines on another printer, do go.
  ASSERT_EQ(r.d.SetPAFECFIdentification("MD5: 2", "PDV"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 40}, identification("MD5: 2", "PDV")}));
  r.printer->data[{35, 40}] = bytes("BE9999999999ABCDEFGH");
  ASSERT_EQ(r.d.SetPAFECFIdentification("MD5: 2", "PDV"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 40}, identification("MD5: 2", "PDV")}));
  EXPECT_EQ(peid().substr(0, 20), "BE9999999999ABCDEFGH");
  const std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_EQ(testsupport::countOf(log, "Não alterar identificação - alteração no horário de verão agendada."), 1u);
  EXPECT_EQ(
      testsupport::countOf(log, "Mesmo com alteração no horário de verão agendada, precisa ajustar a identificação."),
      2u);
}

TEST(BematechPaf, ClosingThePortBlanksTheIdentification) {
  ConfigHome home;
  Rig<CBematech2000> r(342, true);
  ASSERT_TRUE(r.open());
  r.printer->data[{35, 40}] = bytes(kSerial);
  ASSERT_EQ(r.d.SetPAFECFIdentification("MD5: 1", "PDV"), 1);
  r.printer->take();
  ASSERT_EQ(r.d.CloseComm(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 40}, identification("", "")}));
  EXPECT_EQ(peid(), kSerial + std::string(84, ' '));
  // A closed port has nothing to blank.
  ASSERT_EQ(r.d.ResetPAFECFIdentification(), 1);
  EXPECT_TRUE(r.printer->take().empty());
}

TEST(BematechPaf, TheStoredIdentificationSurvivesACrashDuringItsWrite) {
  ConfigHome home;
  Rig<CBematech2000> r(343, true);
  ASSERT_TRUE(r.open());
  r.printer->data[{35, 40}] = bytes(kSerial);
  ASSERT_EQ(r.d.SetPAFECFIdentification("MD5: antigo", "PDV"), 1);
  const std::string before = peid();
  ASSERT_EQ(before, kSerial + pad("MD5: antigo", 48) + pad("PDV", 36));
  // The driver's process dies after the new value is flushed and before it is published.
  const pid_t pid = fork();
  if (pid == 0) {
    platform::testing::setKeyStoreBeforeRenameHook([] { _exit(7); });
    r.d.SetPAFECFIdentification("MD5: novo", "PDV");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);  // it did die inside the write
  EXPECT_EQ(peid(), before);
  std::string serial, id;
  ASSERT_EQ(r.d.ObtemRegPAFECFIdentification(serial, id), 1);
  EXPECT_EQ(id, pad("MD5: antigo", 48) + pad("PDV", 36));
  // The next identification is written whole.
  ASSERT_EQ(r.d.SetPAFECFIdentification("MD5: novo", "PDV"), 1);
  EXPECT_EQ(peid(), kSerial + pad("MD5: novo", 48) + pad("PDV", 36));
}
