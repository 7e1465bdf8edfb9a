// `tarvion emulate` in a child process, as a POS developer runs it: the first
// line it prints is the pseudo-terminal to open.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class EmulateProcess {
 public:
  // args follow "tarvion emulate"; env is set in the child only.
  explicit EmulateProcess(const std::vector<std::string>& args,
                          const std::vector<std::pair<std::string, std::string>>& env = {}) {
    std::vector<std::string> all = {"tarvion", "emulate"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      execv(TARVION_TOOL_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    char line[256] = {};
    if (f && fgets(line, sizeof line, f)) path_ = line;
    while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r')) path_.pop_back();
    if (f) fclose(f);
  }
  ~EmulateProcess() { stop(SIGTERM); }
  EmulateProcess(const EmulateProcess&) = delete;
  EmulateProcess& operator=(const EmulateProcess&) = delete;

  void stop(int sig) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    waitpid(pid_, &status_, 0);
    pid_ = -1;
  }
  // Waits for the program to end by itself; its exit status (-1 when killed).
  int finish() {
    if (pid_ > 0) waitpid(pid_, &status_, 0);
    pid_ = -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  const std::string& path() const { return path_; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  std::string path_;
};

}  // namespace testsupport
