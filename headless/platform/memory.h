// The machine's memory as the process sees it: how much there is, the page faults taken, pages
// given their memory ahead of their first write, and large blocks handed back at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace headless::platform {

// The machine's physical memory in bytes; 0 when the system does not say.
std::uint64_t PhysicalMemoryBytes();

// Page faults the process has taken so far (minor and major).
long long ProcessPageFaults();

// Has the system give the whole pages within [begin, begin + bytes) their memory now, as a first
// write to each would, without writing anything: for a thread to do ahead of the one that will
// write there. A hint: false where the system has no such call, and nothing happens.
bool FillInPages(void* begin, std::size_t bytes);

// Blocks of a MiB and more come from the system and go straight back to it when freed, rather
// than staying in the allocator's pools (glibc raises its threshold for that after the first such
// block is freed): a program whose threads take turns with frame-sized arrays otherwise keeps
// every pool's share of them. Nothing elsewhere.
void ReturnLargeBlocksAtOnce();

// Caps the memory this process may take at `bytes` (its address space on POSIX, its committed
// memory on Windows), so that a runaway allocation fails instead of taking the machine: for a
// process that runs a library on untrusted input. False where the system refuses.
bool LimitProcessMemory(std::uint64_t bytes);
// A crash of this process leaves no core file (a reader that dies on a hostile file would
// otherwise write one of its whole memory). Nothing on Windows.
void SkipCoreDumps();

}  // namespace headless::platform
