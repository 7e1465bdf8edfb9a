// The per-user key store on POSIX: values round-trip under their key paths,
// any text survives the file's escapes, key names cannot leave the store's
// folder, and a writer that dies at any point leaves the old or the new value,
// never a torn one.
#include "platform/keystore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/text.h"
#include "test_support.h"

using namespace tarvion;
using tarvion::platform::keyValueFile;
using tarvion::platform::readKeyValue;
using tarvion::platform::writeKeyValue;
using text::cp;
namespace fs = std::filesystem;

namespace {

// The whole test program keeps its key store in a folder of its own: the FS
// Bematech drivers write "PEID" whenever an open port is closed, and a test run
// must never touch the user's real configuration.
class PrivateConfigHome : public ::testing::Environment {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/tarvion-config-XXXXXX";
    path_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }

 private:
  std::string path_;
};
[[maybe_unused]] ::testing::Environment* const kPrivateConfigHome =
    ::testing::AddGlobalTestEnvironment(new PrivateConfigHome);

// One test's own store: XDG_CONFIG_HOME (and HOME) pointed at a fresh folder.
class ConfigHome {
 public:
  ConfigHome() {
    char tmpl[] = "/tmp/tarvion-keys-XXXXXX";
    path = mkdtemp(tmpl);
    save("XDG_CONFIG_HOME", xdg_);
    save("HOME", home_);
    setenv("XDG_CONFIG_HOME", path.c_str(), 1);
  }
  ~ConfigHome() {
    restore("XDG_CONFIG_HOME", xdg_);
    restore("HOME", home_);
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string folder() const { return path + "/tarvion/Software/Norvex Dirazido/NorvexPOS/Bematech"; }
  std::string path;

 private:
  struct Saved {
    bool had = false;
    std::string value;
  };
  static void save(const char* name, Saved& s) {
    const char* v = std::getenv(name);
    s.had = v != nullptr;
    if (v) s.value = v;
  }
  static void restore(const char* name, const Saved& s) {
    if (s.had)
      setenv(name, s.value.c_str(), 1);
    else
      unsetenv(name);
  }
  Saved xdg_, home_;
};

const std::string kKey = "Software\\Norvex Dirazido\\NorvexPOS\\Bematech\\";

size_t tempFilesIn(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().rfind("@values.tmp.", 0) == 0) ++n;
  return n;
}

// Runs body in a child process and returns its exit status (-1 when it did not exit).
template <class F>
int inChild(F body) {
  const pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(KeyStore, ValuesRoundTripUnderTheirKeys) {
  ConfigHome home;
  std::string v;
  EXPECT_FALSE(readKeyValue(kKey, "PEID", v));  // nothing yet
  ASSERT_TRUE(writeKeyValue(kKey, "PEID", "BE0123456789ABCDEFGH" + std::string(84, 'x')));
  ASSERT_TRUE(readKeyValue(kKey, "PEID", v));
  EXPECT_EQ(v, "BE0123456789ABCDEFGH" + std::string(84, 'x'));
  EXPECT_EQ(keyValueFile(kKey), home.folder() + "/@values");
  EXPECT_TRUE(fs::exists(home.folder() + "/@values"));

  // A second value under the same key, and an update of the first: both kept.
  ASSERT_TRUE(writeKeyValue(kKey, "Outro", "2"));
  ASSERT_TRUE(writeKeyValue(kKey, "PEID", "novo"));
  ASSERT_TRUE(readKeyValue(kKey, "PEID", v));
  EXPECT_EQ(v, "novo");
  ASSERT_TRUE(readKeyValue(kKey, "OUTRO", v));  // value names ignore case, as the registry does
  EXPECT_EQ(v, "2");
  EXPECT_FALSE(readKeyValue(kKey, "Falta", v));
  // The trailing backslash does not make another key; another path does.
  ASSERT_TRUE(readKeyValue("Software\\Norvex Dirazido\\NorvexPOS\\Bematech", "PEID", v));
  EXPECT_EQ(v, "novo");
  EXPECT_FALSE(readKeyValue("Software\\Norvex Dirazido\\NorvexPOS\\Daruma\\", "PEID", v));
  // No temporary file stays behind after a good write.
  EXPECT_EQ(tempFilesIn(home.folder()), 0u);
}

TEST(KeyStore, AnyTextSurvivesAndTheFileStaysReadable) {
  ConfigHome home;
  const std::string tricky = cp("Ação = \\ linha\nfim\r") + std::string("\x01\x7F\x81\x9D", 4) + "=";
  ASSERT_TRUE(writeKeyValue(kKey, "a=b\\c", tricky));
  ASSERT_TRUE(writeKeyValue(kKey, "vazio", ""));
  std::string v;
  ASSERT_TRUE(readKeyValue(kKey, "a=b\\c", v));
  EXPECT_EQ(v, tricky);
  ASSERT_TRUE(readKeyValue(kKey, "vazio", v));
  EXPECT_EQ(v, "");
  // One line per value, UTF-8 for people, escapes for what a line cannot hold.
  const std::string file = testsupport::readFile(home.folder() + "/@values");
  EXPECT_NE(file.find("a\\=b\\\\c=Ação = \\\\ linha\\x0Afim\\x0D\\x01\\x7F"), std::string::npos) << file;
  EXPECT_EQ(testsupport::countOf(file, "\n"), 3u);  // header and two values
  // A hand-edited escape of a 1252 byte reads as that byte; junk lines are skipped.
  {
    std::ofstream out(home.folder() + "/@values", std::ios::app);
    out << "manual=R\\xE9gua\nlinha sem igual\n";
  }
  ASSERT_TRUE(readKeyValue(kKey, "manual", v));
  EXPECT_EQ(v, cp("Régua"));
}

TEST(KeyStore, KeyNamesStayInsideTheStore) {
  ConfigHome home;
  const std::string root = home.path + "/tarvion/";
  EXPECT_EQ(keyValueFile("..\\..\\etc\\"), root + "%2E./%2E./etc/@values");
  EXPECT_EQ(keyValueFile("a/b\\@values\\.x"), root + "a%2Fb/%40values/%2Ex/@values");
  EXPECT_EQ(keyValueFile("\\\\"), "");  // no key at all
  ASSERT_TRUE(writeKeyValue("..\\..\\etc\\", "x", "1"));
  EXPECT_TRUE(fs::exists(root + "%2E./%2E./etc/@values"));
  EXPECT_FALSE(fs::exists(home.path + "/etc"));
  // A key named like the values file is a folder of its own, not the file.
  ASSERT_TRUE(writeKeyValue("k", "v", "pai"));
  ASSERT_TRUE(writeKeyValue("k\\@values", "v", "filho"));
  std::string v;
  ASSERT_TRUE(readKeyValue("k", "v", v));
  EXPECT_EQ(v, "pai");
}

TEST(KeyStore, TheConfigFolderFollowsXdgThenHome) {
  ConfigHome home;
  const std::string fakeHome = home.path + "/home";
  setenv("HOME", fakeHome.c_str(), 1);
  // A relative XDG_CONFIG_HOME is not a place: the home's .config is used.
  setenv("XDG_CONFIG_HOME", "relativo", 1);
  EXPECT_EQ(keyValueFile("K"), fakeHome + "/.config/tarvion/K/@values");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(keyValueFile("K"), fakeHome + "/.config/tarvion/K/@values");
  ASSERT_TRUE(writeKeyValue("K", "v", "1"));
  EXPECT_TRUE(fs::exists(fakeHome + "/.config/tarvion/K/@values"));
}

TEST(KeyStore, AWriterDyingBeforeTheRenameLeavesTheOldValue) {
  ConfigHome home;
  ASSERT_TRUE(writeKeyValue(kKey, "PEID", "antigo"));
  ASSERT_TRUE(writeKeyValue(kKey, "Outro", "fica"));
  // The child's write stops dead between the flushed temporary file and the rename.
  const int status = inChild([] {
    platform::testing::setKeyStoreBeforeRenameHook([] { _exit(42); });
    writeKeyValue(kKey, "PEID", std::string(100000, 'n'));
  });
  EXPECT_EQ(status, 42);
  std::string v;
  ASSERT_TRUE(readKeyValue(kKey, "PEID", v));
  EXPECT_EQ(v, "antigo");
  ASSERT_TRUE(readKeyValue(kKey, "Outro", v));
  EXPECT_EQ(v, "fica");
  EXPECT_EQ(tempFilesIn(home.folder()), 1u);  // the dead writer's leftover
  // The next writer clears it away and publishes its own value.
  ASSERT_TRUE(writeKeyValue(kKey, "PEID", "novo"));
  EXPECT_EQ(tempFilesIn(home.folder()), 0u);
  ASSERT_TRUE(readKeyValue(kKey, "PEID", v));
  EXPECT_EQ(v, "novo");
  ASSERT_TRUE(readKeyValue(kKey, "Outro", v));
  EXPECT_EQ(v, "fica");
}

TEST(KeyStore, AKilledWriterNeverLeavesATornValue) {
  ConfigHome home;
  // Every value the child writes is one letter repeated; a torn file would mix
  // two of them or cut one short.
  const size_t kSize = 256 * 1024;
  ASSERT_TRUE(writeKeyValue(kKey, "PEID", std::string(kSize, 'a')));
  for (int round = 0; round < 4; ++round) {
    int progress[2];
    ASSERT_EQ(pipe(progress), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      close(progress[0]);
      for (int i = 0;; ++i) {
        writeKeyValue(kKey, "PEID", std::string(kSize, static_cast<char>('b' + i % 20)));
        const char done = 1;
        if (write(progress[1], &done, 1) != 1) _exit(1);
      }
    }
    close(progress[1]);
    // Let it finish a few writes (and be in the middle of the next), then kill it.
    char c = 0;
    for (int i = 0; i < 2 + round; ++i) ASSERT_EQ(read(progress[0], &c, 1), 1);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(progress[0]);
    std::string v;
    ASSERT_TRUE(readKeyValue(kKey, "PEID", v));
    ASSERT_EQ(v.size(), kSize);
    EXPECT_EQ(v.find_first_not_of(v[0]), std::string::npos) << "round " << round;
  }
  // A later write still works and clears whatever the killed writers left.
  ASSERT_TRUE(writeKeyValue(kKey, "PEID", "fim"));
  EXPECT_EQ(tempFilesIn(home.folder()), 0u);
}
