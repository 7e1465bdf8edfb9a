// Helpers shared by the tests: a private temporary folder (so the operation log
// is under the test's control), reading files back, and running a command.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/tarvion-test-XXXXXX";
    path_ = mkdtemp(tmpl);
    const char* old = std::getenv("TMPDIR");
    if (old) oldTmp_ = old, hadTmp_ = true;
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~TempDir() {
    if (hadTmp_)
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    else
      unsetenv("TMPDIR");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string logPath() const { return file("KTTarvionLog.txt"); }
  void enableLog() const { std::ofstream(logPath()).flush(); }

 private:
  std::string path_, oldTmp_;
  bool hadTmp_ = false;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline size_t countOf(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + needle.size())) ++n;
  return n;
}

// What a command printed on its standard output, and its exit status (-1 when
// it did not exit normally or could not start).
struct CommandRun {
  std::string out;
  int status = -1;
};

inline CommandRun runCommand(const std::string& command) {
  CommandRun r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace testsupport
