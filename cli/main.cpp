// The `tessamire` command line: Ctrl-C becomes a flag that long runs check, writes past the file
// size limit fail as writes rather than end the program, the host's own deformers join the
// deform pass, then the arguments go to the subcommands of cli/.
#include <iostream>
#include <string>
#include <vector>

#include "cli/subcommands.h"
#include "headless/deformers/installation.h"
#include "headless/platform/files.h"
#include "headless/platform/interrupts.h"
#include "headless/platform/memory.h"
#include "headless/platform/paths.h"

int main(int argc, char** argv) {
  headless::platform::InstallInterruptHandler();
  headless::platform::FailWritesPastSizeLimit();
  headless::platform::ReturnLargeBlocksAtOnce();
  headless::InstallNativeDeformers();
  const std::vector<std::string> args = headless::platform::ProgramArguments(argc, argv);
  return cli::RunProgram(args, std::cout, std::cerr);
}
