// tarvion: the command-line face of the control. Lists the model tables and the
// dispatch entries, and runs the line language in a shell (see control/script.h).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include "control/script.h"
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

struct ShellCommand {
  std::vector<std::string> answers;
  bool json = false;
  std::string file;  // empty or "-" for standard input
  // Virtual printers: the i-th --state and --paper go with the i-th --virtual.
  std::vector<std::string> virtuals, states, papers;
  std::shared_ptr<tarvion::tool::VirtualPrinters> printers = std::make_shared<tarvion::tool::VirtualPrinters>();

  // Everything that prepares the control before the first line (a simulated
  // printer, a saved state, ...) is gathered here from the options.
  tarvion::script::ShellOptions options() const {
    tarvion::script::ShellOptions o;
    o.json = json;
    if (states.size() > virtuals.size() || papers.size() > virtuals.size()) {
      // A state or paper file without its printer would be silently ignored.
      o.prepare = [this](tarvion::CTarvionCtrl&, std::ostream& err) {
        err << "tarvion: each --state and --paper goes with a --virtual (" << virtuals.size() << " --virtual, "
            << states.size() << " --state, " << papers.size() << " --paper)\n";
        return false;
      };
    } else if (!virtuals.empty()) {
      o.prepare = [this](tarvion::CTarvionCtrl&, std::ostream& err) {
        for (size_t i = 0; i < virtuals.size(); ++i) {
          int model = 0, port = 0;
          std::string error;
          if (!tarvion::tool::parseVirtual(virtuals[i], model, port, error)) {
            err << "tarvion: --virtual: " << error << "\n";
            return false;
          }
          if (!printers->add(model, port, i < states.size() ? states[i] : "", i < papers.size() ? papers[i] : "", err))
            return false;
        }
        return true;
      };
    }
    return o;
  }

  int run() const {
    if (!answers.empty()) answerPrompts(answers);
    const tarvion::script::ShellOptions o = options();
    if (file.empty() || file == "-") return tarvion::script::runShell(std::cin, std::cout, std::cerr, o);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::cerr << "tarvion: cannot open " << file << "\n";
      return 1;
    }
    return tarvion::script::runShell(in, std::cout, std::cerr, o);
  }
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"tarvion: drive Brazilian fiscal printers and check printers through one control"};
  app.require_subcommand(1);

  bool modelsJson = false;
  CLI::App* models = app.add_subcommand("models", "List the fiscal and check printer models");
  models->add_flag("--json", modelsJson, "Print JSON");

  bool entriesJson = false;
  CLI::App* entries = app.add_subcommand("entries", "List the control's dispatch entries");
  entries->add_flag("--json", entriesJson, "Print JSON");

  ShellCommand shellCmd;
  CLI::App* shell = app.add_subcommand("shell", "Run one call per line from FILE or standard input");
  shell->add_flag("--json", shellCmd.json, "Answer each call with a JSON object");
  shell->add_option("FILE", shellCmd.file, "Script to run (default: standard input)");
  shell
      ->add_option("--virtual", shellCmd.virtuals,
                   "Attach an in-process virtual printer of fiscal model MODEL to port number PORT (MODEL@PORT; "
                   "repeatable)")
      ->allow_extra_args(false);
  shell->add_option("--state", shellCmd.states, "Fiscal state file of the matching --virtual printer")
      ->allow_extra_args(false);
  shell->add_option("--paper", shellCmd.papers, "File that receives the paper of the matching --virtual printer")
      ->allow_extra_args(false);
  shell
      ->add_option("--answer", shellCmd.answers,
                   "Answer the operator prompts in order: ok, cancel, yes or no (repeatable; the last one repeats)")
      ->check(CLI::IsMember({"ok", "cancel", "yes", "no"}))
      ->allow_extra_args(false);

  tarvion::tool::EmulateOptions emu;
  CLI::App* emulate = app.add_subcommand("emulate", "Run a virtual printer on a new pseudo-terminal");
  emulate
      ->add_option("MODEL", emu.model,
                   "Fiscal model number, or the model's name as `tarvion models` lists it (a model without a "
                   "virtual printer lists the ones that have one)")
      ->required();
  emulate->add_option("--link", emu.linkPath, "Also make a symbolic link to the terminal at PATH");
  emulate->add_option("--state", emu.statePath, "Fiscal state file (kept across restarts)");
  emulate->add_option("--paper", emu.paperPath, "File that receives the printed paper");
  emulate->add_option("--baud", emu.baud, "Line speed the answers are paced to (0: no pacing)");
  emulate->add_option("--fault", emu.fault,
                      "Faults to inject: noanswer, nak, garbage, short, slow=MS, cut=N, once, always, none "
                      "(comma-separated)");

  bool demoJson = false;
  CLI::App* demo = app.add_subcommand("demo", "A whole sale and an X report on an in-process virtual printer");
  demo->add_flag("--json", demoJson, "Answer each call with a JSON object");

  bool portsJson = false;
  CLI::App* portsCmd = app.add_subcommand(
      "ports", "List the serial devices, the port number each opens as and whether this user may open it");
  portsCmd->add_flag("--json", portsJson, "Print a JSON array, one object per device");

  tarvion::tool::ServeCommandOptions serveOpts;
  CLI::App* serveCmd = app.add_subcommand("serve", "Serve printers over HTTP/JSON, with idempotent retries and a page");
  serveCmd->add_option("--config", serveOpts.configPath, "JSON configuration file (see the README)");
  serveCmd->add_option("--listen", serveOpts.listen, "Address to listen on, HOST:PORT (default 127.0.0.1:8787)");
  serveCmd->add_option("--journal", serveOpts.journalDir, "Folder of the idempotency journal (kept across restarts)");
  serveCmd
      ->add_option("--printer", serveOpts.printers,
                   "A printer on a port: ID=MODEL@PORT[,BAUD], MODEL a number or name (repeatable)")
      ->allow_extra_args(false);
  serveCmd
      ->add_option("--virtual", serveOpts.virtuals,
                   "An in-process virtual printer: ID=MODEL[,state=FILE][,paper=FILE] (repeatable)")
      ->allow_extra_args(false);
  serveCmd->add_option("--token-file", serveOpts.tokenFile,
                       "File whose first line is the token clients send (Authorization: Bearer TOKEN)");

  CLI11_PARSE(app, argc, argv);

  if (*models) {
    std::cout << tarvion::script::modelsText(modelsJson);
    return 0;
  }
  if (*entries) {
    std::cout << tarvion::script::entriesText(entriesJson);
    return 0;
  }
  if (*emulate) {
#ifdef _WIN32
    std::cerr << "tarvion emulate: pseudo-terminals are not available on this system\n";
    return 1;
#else
    return tarvion::tool::runEmulate(emu);
#endif
  }
  if (*portsCmd) return tarvion::tool::runPorts(portsJson);
  if (*demo) return tarvion::tool::runDemo(demoJson);
  if (*serveCmd) return tarvion::tool::runServe(serveOpts);
  return shellCmd.run();
}
