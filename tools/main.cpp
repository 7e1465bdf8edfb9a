// tarvion: the command-line face of the control. Lists the model tables and the
// dispatch entries, and runs the line language in a shell (see control/script.h).
#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include "control/script.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/virtual_printers.h"

namespace {

// --answer: the operator's answers to the drivers' prompts, in order; the last
// one keeps answering once the list is used up, and yes/ok, no/cancel stand for
// each other. Notices take no answer. Each prompt goes to standard error.
void answerPrompts(const std::vector<std::string>& given) {
  using Ctrl = tarvion::CTarvionCtrl;
  auto next = std::make_shared<size_t>(0);
  Ctrl::SetPromptHandler([given, next](Ctrl::PromptKind kind, const std::string& title, const std::string& message) {
    std::string word = "ok";
    if (kind != Ctrl::PromptKind::Ok) word = given[std::min((*next)++, given.size() - 1)];
    std::string shown = message;
    for (char& c : shown)
      if (c == '\n' || c == '\r') c = ' ';
    std::cerr << "tarvion: " << title << ": " << shown << " -> " << word << "\n";
    const bool positive = word == "ok" || word == "yes";
    if (kind == Ctrl::PromptKind::YesNo) return positive ? Ctrl::PromptAnswer::Yes : Ctrl::PromptAnswer::No;
    return positive ? Ctrl::PromptAnswer::Ok : Ctrl::PromptAnswer::Cancel;
  });
}

// Runs `tarvion shell` with the virtual printers its options attach.
struct ShellCommand {
  const tarvion::tool::ShellArgs& args;
  std::shared_ptr<tarvion::tool::VirtualPrinters> printers = std::make_shared<tarvion::tool::VirtualPrinters>();

  // Everything that prepares the control before the first line (a simulated
  // printer, a saved state, ...) is gathered here from the options.
  tarvion::script::ShellOptions options() const {
    tarvion::script::ShellOptions o;
    o.json = args.json;
    const auto& virtuals = args.virtuals;
    const auto& states = args.states;
    const auto& papers = args.papers;
    if (states.size() > virtuals.size() || papers.size() > virtuals.size()) {
      // A state or paper file without its printer would be silently ignored.
      o.prepare = [this](tarvion::CTarvionCtrl&, std::ostream& err) {
        err << "tarvion: each --state and --paper goes with a --virtual (" << args.virtuals.size() << " --virtual, "
            << args.states.size() << " --state, " << args.papers.size() << " --paper)\n";
        return false;
      };
    } else if (!virtuals.empty()) {
      o.prepare = [this](tarvion::CTarvionCtrl&, std::ostream& err) {
        const auto& a = args;
        for (size_t i = 0; i < a.virtuals.size(); ++i) {
          int model = 0, port = 0;
          std::string error;
          if (!tarvion::tool::parseVirtual(a.virtuals[i], model, port, error)) {
            err << "tarvion: --virtual: " << error << "\n";
            return false;
          }
          if (!printers->add(model, port, i < a.states.size() ? a.states[i] : "",
                             i < a.papers.size() ? a.papers[i] : "", err))
            return false;
        }
        return true;
      };
    }
    return o;
  }

  int run() const {
    if (!args.answers.empty()) answerPrompts(args.answers);
    const tarvion::script::ShellOptions o = options();
    if (args.file.empty() || args.file == "-") return tarvion::script::runShell(std::cin, std::cout, std::cerr, o);
    std::ifstream in(args.file, std::ios::binary);
    if (!in) {
      std::cerr << "tarvion: cannot open " << args.file << "\n";
      return 1;
    }
    return tarvion::script::runShell(in, std::cout, std::cerr, o);
  }
};

}  // namespace

int main(int argc, char** argv) {
  tarvion::tool::CommandLine cli;
  CLI11_PARSE(cli.app, argc, argv);

  if (*cli.models) {
    std::cout << tarvion::script::modelsText(cli.modelsJson);
    return 0;
  }
  if (*cli.entries) {
    std::cout << tarvion::script::entriesText(cli.entriesJson);
    return 0;
  }
  if (*cli.emulate) {
#ifdef _WIN32
    std::cerr << "tarvion emulate: pseudo-terminals are not available on this system\n";
    return 1;
#else
    return tarvion::tool::runEmulate(cli.emulateOptions);
#endif
  }
  if (*cli.ports) return tarvion::tool::runPorts(cli.portsJson);
  if (*cli.demo) return tarvion::tool::runDemo(cli.demoJson);
  if (*cli.serve) return tarvion::tool::runServe(cli.serveOptions);
  return ShellCommand{cli.shellArgs}.run();
}
