// Writes the tarvion(1) manual page, at build time, from the tool's command line.
// Usage: tarvion_man OUTPUT VERSION
#include <fstream>
#include <iostream>

#include "tools/cli.h"
#include "tools/man/roff.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: tarvion_man OUTPUT VERSION\n";
    return 2;
  }
  const tarvion::tool::CommandLine cli;
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << tarvion::tool::manPage(cli, argv[2]);
  out.close();
  if (!out) {
    std::cerr << "tarvion_man: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
