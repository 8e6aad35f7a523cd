#include "headless/platform/memory.h"

#ifdef _WIN32
#include <windows.h>
// The header below builds on the declarations of windows.h.
#include <psapi.h>
#else
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#endif

namespace headless::platform {

void ReturnLargeBlocksAtOnce() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

#ifdef _WIN32

bool LimitProcessMemory(std::uint64_t bytes) {
  // A job of its own whose limit holds this process (and whatever it starts).
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return false;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  limits.ProcessMemoryLimit = static_cast<SIZE_T>(bytes);
  return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
         AssignProcessToJobObject(job, GetCurrentProcess());
}

void SkipCoreDumps() {}

#else

bool LimitProcessMemory(std::uint64_t bytes) {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0) return false;
  // Only ever lowered: a limit this process was started under stays.
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= bytes) return true;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  return setrlimit(RLIMIT_AS, &limit) == 0;
}

void SkipCoreDumps() {
  const rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

#endif

#ifdef _WIN32

std::uint64_t PhysicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? static_cast<std::uint64_t>(status.ullTotalPhys) : 0;
}

long long ProcessPageFaults() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long long>(counters.PageFaultCount);
}

bool FillInPages(void*, std::size_t) {
  return false;
}

#else

std::uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

long long ProcessPageFaults() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<long long>(usage.ru_minflt) + static_cast<long long>(usage.ru_majflt);
}

bool FillInPages(void* begin, std::size_t bytes) {
  // Linux 5.14 on; an older system refuses the advice and nothing happens.
  constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE, which older headers lack
  const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t first = (start + page - 1) / page * page;
  const std::uintptr_t end = (start + bytes) / page * page;
  return first >= end || madvise(reinterpret_cast<void*>(first), end - first, kPopulateWrite) == 0;
}

#endif

}  // namespace headless::platform
