// tarvion: the command-line face of the control. Lists the model tables and the
// dispatch entries, and runs the line language in a shell (see control/script.h).
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

#include "control/script.h"

namespace {

struct ShellCommand {
  bool json = false;
  std::string file;  // empty or "-" for standard input

  // Everything that prepares the control before the first line (a simulated
  // printer, a saved state, ...) is gathered here from the options.
  tarvion::script::ShellOptions options() const {
    tarvion::script::ShellOptions o;
    o.json = json;
    return o;
  }

  int run() const {
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

  CLI11_PARSE(app, argc, argv);

  if (*models) {
    std::cout << tarvion::script::modelsText(modelsJson);
    return 0;
  }
  if (*entries) {
    std::cout << tarvion::script::entriesText(entriesJson);
    return 0;
  }
  return shellCmd.run();
}
