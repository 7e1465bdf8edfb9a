// The operator prompt without a host handler on POSIX: a question on the
// controlling terminal, asked only when standard input is a terminal too (an
// operator is there to answer); otherwise the safe answer at once.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <string>

#include "core/text.h"
#include "platform/platform.h"
#include "platform/posix/fd_io.h"
#include "platform/prompt.h"

namespace tarvion::platform {

namespace {

// One line from fd, without its line end; false at end of input before any byte.
bool readLine(int fd, std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return any;
    any = true;
    if (c == '\n') return true;
    if (c != '\r') line += c;
    // A line nobody would type is not an answer; stop collecting it.
    if (line.size() > 256) line.erase(256);
  }
}

// The words an operator may type (UTF-8, compared in lower case).
bool answerOf(PromptKind kind, const std::string& typed, PromptAnswer& out) {
  std::string w;
  for (char c : text::trim(typed)) w += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (kind == PromptKind::Ok) {
    out = PromptAnswer::Ok;
    return true;
  }
  auto is = [&w](std::initializer_list<const char*> words) {
    for (const char* word : words)
      if (w == word) return true;
    return false;
  };
  const bool yes = kind == PromptKind::OkCancel ? is({"o", "ok"}) : is({"s", "sim", "y", "yes"});
  const bool no = kind == PromptKind::OkCancel ? is({"c", "cancel", "cancelar"}) : is({"n", "nao", "n\xC3\xA3o", "no"});
  if (!yes && !no) return false;
  out = fitAnswer(kind, yes ? PromptAnswer::Yes : PromptAnswer::No);
  return true;
}

const char* choicesOf(PromptKind kind) {
  switch (kind) {
    case PromptKind::OkCancel:
      return "[ok/cancelar] ";
    case PromptKind::YesNo:
      return "[s/n] ";
    default:
      return "[Enter] ";
  }
}

}  // namespace

PromptAnswer terminalPrompt(int in, int out, const PromptRequest& request) {
  std::string question = "\n";
  if (!request.title.empty()) question += toSystemText(request.title) + "\n";
  question += toSystemText(request.message) + "\n";
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!posix::writeAll(out, question + choicesOf(request.kind))) return safeAnswer(request.kind);
    std::string line;
    if (!readLine(in, line)) return safeAnswer(request.kind);
    PromptAnswer a{};
    if (answerOf(request.kind, line, a)) return a;
    question.clear();
  }
  return safeAnswer(request.kind);
}

PromptAnswer systemPrompt(const PromptRequest& request) {
  if (!::isatty(STDIN_FILENO)) return safeAnswer(request.kind);
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return safeAnswer(request.kind);
  const PromptAnswer a = terminalPrompt(fd, fd, request);
  ::close(fd);
  return a;
}

}  // namespace tarvion::platform
