// Runs the command-line program's dispatcher inside the test process (RunInProcess), beside
// starting the built program (RunCli, program_runner.h): for the tests of the program itself.
#pragma once

#include <sstream>
#include <string>

#include "cli/subcommands.h"
#include "tests/support/program_runner.h"

// The same arguments given to the program's own dispatcher inside the test process: for tests of
// what a command does, which need no separate process (standard streams and environment are the
// test's own, so runs that read the standard input or set variables use RunCli).
inline CliRun RunInProcess(const std::string& arguments) {
  std::ostringstream out, err;
  CliRun run;
  run.status = cli::RunProgram(SplitArguments(arguments), out, err);
  run.out = out.str();
  run.outBytes = run.out;
  run.err = err.str();
  run.output = run.out + run.err;
  return run;
}
