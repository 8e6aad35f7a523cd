// Ctrl-C and SIGTERM: the flag long loops check so that the program can stop cleanly, and what a
// second one removes or ends on the program's way out.
#pragma once

#include <string>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace headless::platform {

// Ctrl-C and SIGTERM (on Windows the console's Ctrl-C and Ctrl-Break) from now on only set the
// flag InterruptRequested answers, which long loops check so that the program can stop cleanly.
// A second one ends the program at once with exit code 130, after removing the files held for
// removal (HoldForRemoval) and ending the program a pipe feeds (OpenPipeTo, processes.h). Safe to
// call more than once.
void InstallInterruptHandler();
bool InterruptRequested();
// Sets or clears the flag as the handler would (tests, and a program that handled it).
void SetInterruptRequested(bool requested);

// A file (a temporary output) that a program ended at once by a second Ctrl-C removes on its way
// out, until Release: so that not even then is anything half-written left. At most a few dozen
// are held at a time (beyond, a name is not held), each name at most 4095 bytes.
void HoldForRemoval(const std::string& path);
void Release(const std::string& path);

#ifndef _WIN32
// The child process a second signal kills on the program's way out: the first one named, until
// SpareOnSecondInterrupt names it again (pipes may be open on several threads; the first one's
// child is the one killed).
void KillOnSecondInterrupt(pid_t child);
void SpareOnSecondInterrupt(pid_t child);
#endif

}  // namespace headless::platform
