// Runs the built command-line program `tessamire` with arguments and captures what it printed.
#pragma once

#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

struct CliRun {
  int status = -1;     // exit status; -1 when the program did not exit normally
  std::string out;     // standard output
  std::string err;     // standard error
  std::string output;  // standard output followed by standard error
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A path as one shell word.
inline std::string Quoted(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

// What a run gets besides its arguments.
struct CliSetting {
  std::string input = "/dev/null";  // the file on the standard input
  std::string environment;          // "NAME=value ..." set for the run (shell-quoted)
};

// `arguments` go to the shell as they are: quote paths in them.
inline CliRun RunCli(const std::string& arguments, const CliSetting& setting = {}) {
  static std::atomic<int> counter{0};
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() /
      ("tessamire_cli_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
  const std::string outPath = base.string() + ".out";
  const std::string errPath = base.string() + ".err";
  const std::string command =
      (setting.environment.empty() ? "" : "env " + setting.environment + " ") + "'" +
      TESSAMIRE_CLI + "' " + arguments + " >'" + outPath + "' 2>'" + errPath + "' <'" +
      setting.input + "'";
  const int status = std::system(command.c_str());
  CliRun run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadWholeFile(outPath);
  run.err = ReadWholeFile(errPath);
  run.output = run.out + run.err;
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return run;
}
