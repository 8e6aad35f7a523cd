// Runs the built program the way a hostile or huge input reaches it, and measures what the run
// cost: its peak resident memory, from the kernel's account of the child (wait4). The child's
// address space is limited too (outside the sanitizers, which reserve terabytes of it), so that a
// run that grows without bound fails within a gigabyte instead of taking the machine's memory.
// POSIX only.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/build_paths.h"
#include "tests/support/cli_runner.h"
#include "tests/support/sanitized.h"

extern char** environ;

namespace limited_run {

// The address space a limited run may take.
constexpr rlim_t kAddressLimit = rlim_t{1} << 30;

struct Run {
  int status = -1;        // exit status; -1 when ended by a signal
  long long peakKib = 0;  // peak resident memory
  std::string err;        // standard error
};

// Runs the program with `arguments` (each one word), its standard input from `input` (a file,
// a device or a fifo; /dev/null when empty), and answers how it ended and what it cost. A
// `fileBytes` above 0 limits the size of every file it writes (ulimit -f).
inline Run RunProgram(const std::vector<std::string>& arguments, const std::string& input = "",
                      rlim_t fileBytes = 0) {
  const std::string errPath =
      (std::filesystem::temp_directory_path() /
       ("tessamire_limited_" + std::to_string(getpid()) + "_" + std::to_string(rand()) + ".err"))
          .string();
  std::vector<std::string> words = {TESSAMIRE_CLI};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const std::string in = input.empty() ? "/dev/null" : input;
  // Everything the child needs is made before the fork: between fork and exec it may only make
  // system calls.
  const pid_t child = fork();
  if (child == 0) {
#ifndef TESSAMIRE_TESTS_SANITIZED
    const rlimit limit{kAddressLimit, kAddressLimit};
    setrlimit(RLIMIT_AS, &limit);
#endif
    if (fileBytes > 0) {
      const rlimit files{fileBytes, fileBytes};
      setrlimit(RLIMIT_FSIZE, &files);
    }
    const int inFd = open(in.c_str(), O_RDONLY);
    const int outFd = open("/dev/null", O_WRONLY);
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (inFd < 0 || outFd < 0 || errFd < 0) _exit(126);
    dup2(inFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execve(argv[0], argv.data(), environ);
    _exit(127);
  }
  Run run;
  if (child < 0) return run;
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0)
    if (errno != EINTR) return run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.peakKib = usage.ru_maxrss;
  run.err = ReadText(errPath);
  std::filesystem::remove(errPath);
  return run;
}

// Another program started with `/bin/sh -c script` (to feed a fifo); answers its process id.
inline pid_t StartShell(const std::string& script) {
  std::string sh = "/bin/sh", c = "-c", text = script;
  char* argv[] = {sh.data(), c.data(), text.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return -1;
  return pid;
}

// Ends a program from StartShell (a feeder whose reader has gone may be waiting still).
inline void EndShell(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace limited_run

#endif  // _WIN32
