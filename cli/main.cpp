// The `tessamire` command line: dispatches to the subcommands of cli/.
#include <iostream>
#include <string>
#include <vector>

#include "cli/subcommands.h"
#include "headless/host/platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = headless::platform::ProgramArguments(argc, argv);
  if (args.empty()) {
    std::cerr << "tessamire: no command given\n";
    cli::PrintUsage(std::cerr);
    return cli::kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    cli::PrintUsage(std::cout);
    return cli::kExitOk;
  }
  for (const cli::Subcommand& command : cli::Subcommands()) {
    if (args[0] != command.name) continue;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& a : rest) {
      if (a == "--help") {
        std::cout << "usage: tessamire " << command.synopsis << "\n    " << command.summary << "\n";
        return cli::kExitOk;
      }
    }
    int code = cli::kExitFailure;
    try {
      code = command.run(rest, std::cout, std::cerr);
    } catch (const std::exception& e) {
      std::cerr << "tessamire " << command.name << ": " << e.what() << "\n";
      return cli::kExitFailure;
    }
    if (code == cli::kExitUsage) cli::PrintUsage(std::cerr);
    return code;
  }
  std::cerr << "tessamire: unknown command \"" << args[0] << "\"\n";
  cli::PrintUsage(std::cerr);
  return cli::kExitUsage;
}
