// The `tessamire` command line: Ctrl-C becomes a flag that long runs check, then the arguments
// go to the subcommands of cli/.
#include <iostream>
#include <string>
#include <vector>

#include "cli/subcommands.h"
#include "headless/host/platform.h"

int main(int argc, char** argv) {
  headless::platform::InstallInterruptHandler();
  const std::vector<std::string> args = headless::platform::ProgramArguments(argc, argv);
  return cli::RunProgram(args, std::cout, std::cerr);
}
