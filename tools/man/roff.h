// The manual page of the tarvion tool, written from its command line.
#pragma once

#include <string>

#include "tools/cli.h"

namespace tarvion::tool {

// The page in roff with man(7) macros: every subcommand with its arguments and
// options as the command line declares them, then the environment.
std::string manPage(const CommandLine& cli, const std::string& version);

// Text made safe for roff: backslashes and hyphens escaped, a leading dot or
// quote neutralised so that it is never read as a request.
std::string roffText(const std::string& text);

}  // namespace tarvion::tool
