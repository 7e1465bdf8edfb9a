// The operator prompts: the host's handler answers in the kind asked, the
// control's handler sees UTF-8, the terminal dialogue understands the operator,
// without a terminal the answer is the safe one, and the shell's --answer
// answers for a script.
#include "platform/prompt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "core/text.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;
using platform::PromptAnswer;
using platform::PromptKind;
using platform::PromptRequest;
using text::cp;

namespace {

// No test may reach the operator's terminal: until a test scripts its own
// answers, a prompt fails the test and gets the safe answer.
class NoUnscriptedPrompts : public ::testing::Environment {
 public:
  void SetUp() override {
    platform::setPromptHandler([](const PromptRequest& r) {
      ADD_FAILURE() << "unscripted prompt: " << text::cp1252ToUtf8(r.title) << ": " << text::cp1252ToUtf8(r.message);
      return platform::safeAnswer(r.kind);
    });
  }
  void TearDown() override { platform::setPromptHandler(nullptr); }
};
[[maybe_unused]] ::testing::Environment* const kNoUnscriptedPrompts =
    ::testing::AddGlobalTestEnvironment(new NoUnscriptedPrompts);

// Puts a handler in place for one test and gives the previous one back.
class HandlerScope {
 public:
  explicit HandlerScope(platform::PromptHandler h) : previous_(platform::setPromptHandler(std::move(h))) {}
  ~HandlerScope() { platform::setPromptHandler(std::move(previous_)); }

 private:
  platform::PromptHandler previous_;
};

// The terminal dialogue over pipes: what the operator types, what they saw.
struct Dialogue {
  PromptAnswer answer{};
  std::string shown;
};
Dialogue talk(PromptKind kind, const std::string& typed) {
  int in[2], out[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(write(in[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  close(in[1]);  // after the typed text: end of input
  Dialogue d;
  d.answer = platform::terminalPrompt(in[0], out[1], PromptRequest{kind, cp("Atenção"), cp("Insira o cheque.")});
  close(out[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) d.shown.append(buf, static_cast<size_t>(n));
  close(in[0]);
  close(out[0]);
  return d;
}

}  // namespace

TEST(Prompt, TheHandlerAnswersInTheKindAsked) {
  std::vector<PromptRequest> asked;
  PromptAnswer reply = PromptAnswer::Yes;
  HandlerScope scope([&](const PromptRequest& r) {
    asked.push_back(r);
    return reply;
  });
  EXPECT_EQ(platform::ask(PromptKind::YesNo, "T", "M"), PromptAnswer::Yes);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].kind, PromptKind::YesNo);
  EXPECT_EQ(asked[0].title, "T");
  EXPECT_EQ(asked[0].message, "M");
  // A Yes to an OK/Cancel question is OK, a No is Cancel; and the other way round.
  EXPECT_EQ(platform::ask(PromptKind::OkCancel, "T", "M"), PromptAnswer::Ok);
  reply = PromptAnswer::No;
  EXPECT_EQ(platform::ask(PromptKind::OkCancel, "T", "M"), PromptAnswer::Cancel);
  reply = PromptAnswer::Cancel;
  EXPECT_EQ(platform::ask(PromptKind::YesNo, "T", "M"), PromptAnswer::No);
  reply = PromptAnswer::Ok;
  EXPECT_EQ(platform::ask(PromptKind::YesNo, "T", "M"), PromptAnswer::Yes);
  // A notice has one answer whatever the handler says.
  reply = PromptAnswer::Cancel;
  EXPECT_EQ(platform::ask(PromptKind::Ok, "T", "M"), PromptAnswer::Ok);
  EXPECT_EQ(asked.size(), 6u);
}

TEST(Prompt, AFailingHandlerGivesTheSafeAnswer) {
  HandlerScope scope([](const PromptRequest&) -> PromptAnswer { throw std::runtime_error("host crashed"); });
  EXPECT_EQ(platform::ask(PromptKind::OkCancel, "T", "M"), PromptAnswer::Cancel);
  EXPECT_EQ(platform::ask(PromptKind::YesNo, "T", "M"), PromptAnswer::No);
}

TEST(Prompt, TheControlsHandlerSpeaksUtf8) {
  HandlerScope keep(nullptr);  // given back at the end, whatever the control sets
  std::string title, message;
  CTarvionCtrl::PromptKind kind = CTarvionCtrl::PromptKind::Ok;
  CTarvionCtrl::SetPromptHandler([&](CTarvionCtrl::PromptKind k, const std::string& t, const std::string& m) {
    kind = k;
    title = t;
    message = m;
    return CTarvionCtrl::PromptAnswer::Yes;
  });
  EXPECT_EQ(platform::ask(PromptKind::YesNo, cp("Atenção"), cp("Deseja continuar esperando?")), PromptAnswer::Yes);
  EXPECT_EQ(kind, CTarvionCtrl::PromptKind::YesNo);
  EXPECT_EQ(title, "Atenção");
  EXPECT_EQ(message, "Deseja continuar esperando?");
  CTarvionCtrl::SetPromptHandler([](CTarvionCtrl::PromptKind, const std::string&, const std::string&) {
    return CTarvionCtrl::PromptAnswer::Cancel;
  });
  EXPECT_EQ(platform::ask(PromptKind::OkCancel, "T", "M"), PromptAnswer::Cancel);
}

TEST(Prompt, TheTerminalDialogue) {
  // Words in either language and case; a word that is no answer asks again.
  Dialogue d = talk(PromptKind::YesNo, "talvez\nSIM\n");
  EXPECT_EQ(d.answer, PromptAnswer::Yes);
  EXPECT_NE(d.shown.find("Atenção\nInsira o cheque.\n"), std::string::npos) << d.shown;
  size_t asks = 0;
  for (size_t p = d.shown.find("[s/n]"); p != std::string::npos; p = d.shown.find("[s/n]", p + 1)) ++asks;
  EXPECT_EQ(asks, 2u);
  EXPECT_EQ(talk(PromptKind::YesNo, "não\n").answer, PromptAnswer::No);
  EXPECT_EQ(talk(PromptKind::YesNo, "yes\r\n").answer, PromptAnswer::Yes);
  EXPECT_EQ(talk(PromptKind::OkCancel, " ok \n").answer, PromptAnswer::Ok);
  EXPECT_EQ(talk(PromptKind::OkCancel, "Cancelar\n").answer, PromptAnswer::Cancel);
  EXPECT_NE(talk(PromptKind::OkCancel, "ok\n").shown.find("[ok/cancelar]"), std::string::npos);
  // The end of input, or three answers that are none, give the safe answer.
  EXPECT_EQ(talk(PromptKind::OkCancel, "").answer, PromptAnswer::Cancel);
  EXPECT_EQ(talk(PromptKind::YesNo, "a\nb\nc\nsim\n").answer, PromptAnswer::No);
  // A notice only waits for Enter.
  EXPECT_EQ(talk(PromptKind::Ok, "\n").answer, PromptAnswer::Ok);
}

TEST(Prompt, WithoutATerminalTheOperationFailsSafely) {
  // In a child without a controlling terminal and with standard input from
  // /dev/null: nobody to ask, so Cancel and No at once (never a wait).
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    platform::setPromptHandler(nullptr);
    int code = 0;
    if (platform::systemPrompt({PromptKind::OkCancel, "T", "M"}) != PromptAnswer::Cancel) code |= 1;
    if (platform::systemPrompt({PromptKind::YesNo, "T", "M"}) != PromptAnswer::No) code |= 2;
    if (platform::systemPrompt({PromptKind::Ok, "T", "M"}) != PromptAnswer::Ok) code |= 4;
    if (platform::ask(PromptKind::OkCancel, "T", "M") != PromptAnswer::Cancel) code |= 8;
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Prompt, TheShellAnswersForAScript) {
  // A virtual MP-7000 with an empty check slot: PrintCheck asks for the check.
  const std::string script = ::testing::TempDir() + "tarvion_prompt_test_script.txt";
  {
    std::ofstream f(script);
    f << "InitializeECF 10 5 9600 0 8 1 0 TRUE FALSE\n"
         "InitializeCheckPrinter \"BEMATECH MP-7000 TH FI\" 5 9600 0 8 1\n"
         "PrintCheck 10.5 \"001\"\n"
         "UltimoErro\n";
  }
  for (const char* answer : {"cancel", "no"}) {
    SCOPED_TRACE(answer);
    const std::string errors = ::testing::TempDir() + "tarvion_prompt_test_errors.txt";
    const std::string command = std::string(TARVION_TOOL_PATH) + " shell --virtual 10@5 --answer " + answer + " '" +
                                script + "' 2>'" + errors + "'";
    const testsupport::CommandRun run = testsupport::runCommand(command);
    const std::string& out = run.out;
    EXPECT_EQ(run.status, 0) << out;
    EXPECT_NE(out.find("PrintCheck -> 0"), std::string::npos) << out;
    EXPECT_NE(out.find("Operação cancelada pelo usuário."), std::string::npos) << out;
    std::ifstream e(errors);
    const std::string err((std::istreambuf_iterator<char>(e)), std::istreambuf_iterator<char>());
    EXPECT_NE(err.find(std::string("tarvion: Atenção: Insira o cheque na impressora. -> ") + answer), std::string::npos)
        << err;
    std::remove(errors.c_str());
  }
  // An answer that is none is refused before anything runs.
  const std::string bad = std::string(TARVION_TOOL_PATH) + " shell --answer talvez '" + script + "' >/dev/null 2>&1";
  const int st = std::system(bad.c_str());
  EXPECT_NE(WEXITSTATUS(st), 0);
  std::remove(script.c_str());
}
