// Arbitrary host input through the C interface: shell lines run on a control
// whose port 7 holds a virtual Bematech MP-20 on the simulated clock, opened
// first, so the lines reach a live driver as well as the parser, the type
// conversions and the out parameters.
//
// Input: lines; a line's first byte names the entry (its index among the
// entries) and the rest are its arguments, except that a first byte of 0xF0 or
// more sends the rest as it is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/virtual_wire.h"
#include "emulator/printers.h"
#include "tarvion/tarvion.h"

using namespace tarvion;

// Settings the drivers keep (the PAF identification of the FS models) go to a
// folder of the run's own, never to the user's configuration.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/tarvion-fuzz-config-XXXXXX";
  if (mkdtemp(folder)) setenv("XDG_CONFIG_HOME", folder, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto printer = emulator::makePrinter(1, "", "");
  ports::attachVirtual(7, emulator::makeVirtualDevice(printer));
  tarvion_control* c = tarvion_create();
  char out[256];
  tarvion_call(c, "InitializeECF 1 7 115200 0 8 1 0 TRUE TRUE", 0, out, sizeof out);
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t from = 0;
  int lines = 0;
  while (from <= input.size() && lines++ < 64) {
    size_t end = input.find('\n', from);
    if (end == std::string::npos) end = input.size();
    std::string line = input.substr(from, end - from);
    if (!line.empty()) {
      const auto pick = static_cast<uint8_t>(line[0]);
      if (pick < 0xF0)
        line = std::string(tarvion_entry_name(pick % tarvion_entry_count())) + " " + line.substr(1);
      else
        line.erase(0, 1);
    }
    const int json = lines & 1;
    // A short buffer on purpose: answers are cut and fetched again whole.
    if (tarvion_call(c, line.c_str(), json, out, 16) >= 16) tarvion_last_output(c, out, sizeof out);
    (void)tarvion_last_status(c);
    from = end + 1;
  }
  tarvion_destroy(c);
  ports::detachVirtual(7);
  return 0;
}
