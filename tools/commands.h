// The tool's commands beyond the listings and the shell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvion::tool {

struct EmulateOptions {
  std::string model;  // a fiscal model number, or the model's name
  std::string linkPath, statePath, paperPath, fault;
  uint32_t baud = 9600;
};
// Serves a virtual printer on a new pseudo-terminal until interrupted.
int runEmulate(const EmulateOptions& options);

// A whole sale on an in-process virtual printer, then an X report: prints each
// call, its result and the paper. Non-zero when a call failed.
int runDemo(bool json);

// Lists the machine's serial devices, one line each or a JSON array.
int runPorts(bool json);

struct ServeCommandOptions {
  std::string configPath, listen, journalDir, tokenFile;
  bool journalDropDamaged = false;
  std::vector<std::string> printers, virtuals;  // ID=MODEL@PORT[,BAUD] and ID=MODEL[,state=F][,paper=F]
};
// Serves the printers over HTTP until interrupted (see tools/serve/service.h).
int runServe(const ServeCommandOptions& options);

}  // namespace tarvion::tool
