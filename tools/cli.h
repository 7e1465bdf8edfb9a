// The tool's command line: every subcommand with its options, their help texts
// and the environment the tool reads, described once. main() parses with it,
// `--help` prints from it and the man page generator walks it, so a new option
// reaches all three.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/commands.h"

namespace tarvion::tool {

// `tarvion shell`'s settings.
struct ShellArgs {
  std::vector<std::string> answers;
  bool json = false;
  std::string file;  // empty or "-" for standard input
  // Virtual printers: the i-th --state and --paper go with the i-th --virtual.
  std::vector<std::string> virtuals, states, papers;
};

struct EnvironmentVariable {
  const char* name;
  const char* meaning;
};
// The variables the tool and the library read, in the order the help lists them.
const std::vector<EnvironmentVariable>& environmentVariables();

// The parsed values land in the members; the subcommand pointers tell which
// one was given (`if (*cli.ports)`).
class CommandLine {
 public:
  CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  CLI::App app;
  CLI::App *models, *entries, *shell, *emulate, *demo, *ports, *serve;
  bool modelsJson = false, entriesJson = false, demoJson = false, portsJson = false;
  ShellArgs shellArgs;
  EmulateOptions emulateOptions;
  ServeCommandOptions serveOptions;
};

}  // namespace tarvion::tool
