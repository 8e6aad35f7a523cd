#include "headless/platform/interrupts.h"

#include <atomic>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include "headless/platform/paths.h"
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace headless::platform {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag is set from a handler");

// The files held for removal, in fixed slots that a signal handler may read: a slot is free (0),
// being filled or emptied (1) or holds a name (2).
struct HeldFile {
  std::atomic<int> state{0};
  char path[4096];
};
HeldFile g_held[32];
static_assert(std::atomic<int>::is_always_lock_free, "the slots are read from a handler");

// Removes every held file; safe in a signal handler (POSIX: unlink only).
void RemoveHeldFiles() {
  for (HeldFile& slot : g_held) {
    if (slot.state.load() != 2) continue;
#ifdef _WIN32
    DeleteFileW(WideFromUtf8(slot.path).c_str());
#else
    unlink(slot.path);
#endif
  }
}

}  // namespace

bool InterruptRequested() {
  return g_interrupted.load();
}

void SetInterruptRequested(bool requested) {
  g_interrupted.store(requested);
}

void HoldForRemoval(const std::string& path) {
  if (path.size() >= sizeof HeldFile::path) return;
  for (HeldFile& slot : g_held) {
    int free = 0;
    if (!slot.state.compare_exchange_strong(free, 1)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.state.store(2);
    return;
  }
}

void Release(const std::string& path) {
  for (HeldFile& slot : g_held) {
    int held = 2;
    if (!slot.state.compare_exchange_strong(held, 1)) continue;
    const bool same = path == slot.path;
    slot.state.store(same ? 0 : 2);
    if (same) return;
  }
}

#ifdef _WIN32

namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (!g_interrupted.exchange(true)) return TRUE;
  // The second press: the held files go, then the default handler ends the program.
  RemoveHeldFiles();
  return FALSE;
}

}  // namespace

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

#else

namespace {

// The program a pipe feeds, ended with this one by a second signal.
std::atomic<pid_t> g_pipeChild{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "the child is read from a handler");

// The first signal asks the program to stop; a second ends it at once, leaving nothing behind.
void OnInterrupt(int) {
  if (!g_interrupted.exchange(true)) return;
  RemoveHeldFiles();
  const pid_t child = g_pipeChild.load();
  if (child > 0) kill(child, SIGKILL);
  _exit(130);
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait for a child or a pipe returns, so the program notices at once.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void KillOnSecondInterrupt(pid_t child) {
  pid_t none = 0;
  g_pipeChild.compare_exchange_strong(none, child);
}

void SpareOnSecondInterrupt(pid_t child) {
  g_pipeChild.compare_exchange_strong(child, 0);
}

#endif

}  // namespace headless::platform
