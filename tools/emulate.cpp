#include "tools/commands.h"

#ifndef _WIN32
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <iostream>

#include "emulator/printers.h"
#include "emulator/pty_host.h"

namespace tarvion::tool {
namespace {
std::atomic<bool> gStop{false};
extern "C" void onSignal(int) {
  gStop = true;
}

}  // namespace

int runEmulate(const EmulateOptions& o) {
  std::string error;
  auto printer = emulator::makePrinter(o.model, o.statePath, o.paperPath, &error);
  if (!printer) {
    std::cerr << "tarvion emulate: " << error << "\n";
    return 1;
  }
  if (!o.fault.empty() && !printer->setFaults(o.fault, &error)) {
    std::cerr << "tarvion emulate: --fault: " << error << "\n";
    return 1;
  }
  // The check station's document: out (default), in, or auto (a check is fed
  // whenever the printer looks for one).
  if (const char* mode = std::getenv(emulator::kCheckDocumentVariable);
      mode && !printer->setCheckDocument(mode, &error)) {
    std::cerr << "tarvion emulate: " << emulator::kCheckDocumentVariable << ": " << error << "\n";
    return 1;
  }
  emulator::PtyHost host(printer, {o.linkPath, o.baud});
  if (!host.start(&error)) {
    std::cerr << "tarvion emulate: " << error << "\n";
    return 1;
  }
  // The first line is the device to open; scripts read it and go on.
  std::cout << host.path() << std::endl;
  struct sigaction sa {};
  sa.sa_handler = onSignal;  // no SA_RESTART: the wait wakes up at once
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  host.runUntil(gStop);
  std::cerr << "tarvion emulate: " << printer->modelName() << " stopped (" << host.bytesIn() << " bytes in, "
            << host.bytesOut() << " out)\n";
  return 0;
}

}  // namespace tarvion::tool
#endif
