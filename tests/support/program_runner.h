// Runs the built command-line program `tessamire` with arguments and captures what it printed
// (no shell is involved, so the same runs work on every platform). It starts the program, so any
// test may use it; calling the dispatcher in process is cli_runner.h's, for the program's tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "headless/platform/paths.h"
#include "headless/platform/processes.h"
#include "tests/support/build_paths.h"

struct CliRun {
  int status = -1;       // exit status; -1 when the program did not exit normally
  std::string out;       // standard output, as text
  std::string outBytes;  // standard output byte for byte (binary output such as "--out -")
  std::string err;       // standard error
  std::string output;    // standard output followed by standard error
};

// Splits `arguments` at blanks; a part in single quotes is one argument (or part of one) as it
// stands, blanks and backslashes included, the way a shell reads it.
inline std::vector<std::string> SplitArguments(const std::string& arguments) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const char c = arguments[i];
    if (c == ' ') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '\'') {
      const size_t close = arguments.find('\'', i + 1);
      if (close == std::string::npos) {
        ADD_FAILURE() << "unclosed quote in: " << arguments;
        break;
      }
      word += arguments.substr(i + 1, close - i - 1);
      inWord = true;
      i = close;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// The program's text output as the test reads it: a program on Windows ends its lines with
// "\r\n" on the standard streams, which a text-mode read gives back as "\n".
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A path as one word of RunCli's arguments.
inline std::string Quoted(const std::filesystem::path& path) {
  return "'" + headless::platform::Utf8FromPath(path) + "'";
}

// A file's bytes as they are.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// What a run gets besides its arguments.
struct CliSetting {
  std::string input;                     // the file on the standard input; empty: none
  std::vector<std::string> environment;  // "NAME=value" entries set for the run
};

// `arguments` as a shell would take them: quote paths in them with Quoted.
inline CliRun RunCli(const std::string& arguments, const CliSetting& setting = {}) {
  static std::atomic<int> counter{0};
  static const std::string session = std::to_string(std::random_device{}());
  const std::filesystem::path base = std::filesystem::temp_directory_path() /
                                     ("tessamire_cli_" + session + "_" + std::to_string(counter++));
  const std::filesystem::path outPath = std::filesystem::path(base) += ".out";
  const std::filesystem::path errPath = std::filesystem::path(base) += ".err";
  CliRun run;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    run.status = headless::platform::RunProgram(
        TESSAMIRE_CLI, SplitArguments(arguments), headless::platform::Utf8FromPath(outPath),
        headless::platform::Utf8FromPath(errPath), setting.input, setting.environment);
    run.out = ReadText(outPath);
    run.outBytes = ReadWholeFile(outPath);
    run.err = ReadText(errPath);
#if defined(_WIN32)
    // Under wine a program now and then fails to start on a busy machine: it ends abnormally
    // without a byte written, which the program itself never does, so it is started again.
    if (run.status == -1 && run.outBytes.empty() && run.err.empty()) continue;
#endif
    break;
  }
  run.output = run.out + run.err;
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return run;
}
