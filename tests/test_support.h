// Helpers shared by the tests: a private temporary folder (so the operation log
// is under the test's control) and reading files back.
#pragma once

#include <unistd.h>

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

}  // namespace testsupport
