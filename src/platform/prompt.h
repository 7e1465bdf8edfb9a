// Operator prompts: the few questions a driver has to put to the person at the
// till ("insert the check", "keep waiting?"). Drivers call ask(); they never
// reach a window system or a terminal themselves.
//
// Who answers, in this order:
//   1. the handler the host installed (process-wide, setPromptHandler), for a
//      host with a user interface of its own or a script with its answers;
//   2. the system prompt: a message box on Windows; on POSIX a question on the
//      controlling terminal when standard input is a terminal;
//   3. with neither, the safe answer: Cancel or No, which makes the operation
//      that asked fail without touching the printer further.
//
// Titles and messages are Windows-1252, like every text inside the drivers.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>

namespace tarvion::platform {

enum class PromptKind {
  Ok,        // a notice: the only answer is Ok
  OkCancel,  // go on or give up
  YesNo,     // a yes-or-no question
};

enum class PromptAnswer { Ok, Cancel, Yes, No };

struct PromptRequest {
  PromptKind kind = PromptKind::Ok;
  std::string title;
  std::string message;
};

using PromptHandler = std::function<PromptAnswer(const PromptRequest&)>;

// The answer that lets the asking operation fail safely.
inline PromptAnswer safeAnswer(PromptKind kind) {
  switch (kind) {
    case PromptKind::OkCancel:
      return PromptAnswer::Cancel;
    case PromptKind::YesNo:
      return PromptAnswer::No;
    default:
      return PromptAnswer::Ok;
  }
}

// Brings an answer into the kind that was asked: a handler that says Yes to an
// OK/Cancel question means OK, No means Cancel, and the other way round.
inline PromptAnswer fitAnswer(PromptKind kind, PromptAnswer a) {
  const bool positive = a == PromptAnswer::Ok || a == PromptAnswer::Yes;
  switch (kind) {
    case PromptKind::OkCancel:
      return positive ? PromptAnswer::Ok : PromptAnswer::Cancel;
    case PromptKind::YesNo:
      return positive ? PromptAnswer::Yes : PromptAnswer::No;
    default:
      return PromptAnswer::Ok;
  }
}

// The system's own prompt (prompt_posix.cpp, prompt_win32.cpp). On POSIX it asks
// on /dev/tty only when standard input is a terminal, so a service or a test
// run never blocks on it.
PromptAnswer systemPrompt(const PromptRequest& request);

#ifndef _WIN32
// The terminal dialogue itself, on any pair of descriptors: writes the title,
// the message and the choices to out, reads lines from in until one is an
// answer (at most three tries); end of input gives the safe answer.
PromptAnswer terminalPrompt(int in, int out, const PromptRequest& request);
#endif

namespace detail {
struct PromptSlot {
  std::mutex mu;
  PromptHandler handler;
};
inline PromptSlot& promptSlot() {
  static PromptSlot slot;
  return slot;
}
}  // namespace detail

// Installs the process-wide handler and returns the one it replaces; an empty
// handler gives the system prompt back.
inline PromptHandler setPromptHandler(PromptHandler handler) {
  auto& slot = detail::promptSlot();
  std::lock_guard<std::mutex> lock(slot.mu);
  std::swap(slot.handler, handler);
  return handler;
}

// Puts the question to whoever answers (see above). A handler that throws is
// taken as the safe answer: a prompt never breaks the operation's own error path.
inline PromptAnswer ask(PromptKind kind, const std::string& title, const std::string& message) {
  PromptHandler handler;
  {
    auto& slot = detail::promptSlot();
    std::lock_guard<std::mutex> lock(slot.mu);
    handler = slot.handler;
  }
  const PromptRequest request{kind, title, message};
  try {
    return fitAnswer(kind, handler ? handler(request) : systemPrompt(request));
  } catch (...) {
    return safeAnswer(kind);
  }
}

}  // namespace tarvion::platform
