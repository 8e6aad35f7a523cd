#include "headless/host/platform.h"

#ifdef _WIN32
#include <io.h>
#include <psapi.h>
#include <stdio.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace headless::platform {

#ifdef _WIN32

long long ProcessPageFaults() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long long>(counters.PageFaultCount);
}

void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr)
    error = path + ": LoadLibrary failed with error " +
            std::to_string(static_cast<unsigned long>(GetLastError()));
  return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

#else

void* OpenLibrary(const std::string& path, std::string& error) {
  // RTLD_LOCAL keeps the plug-in's symbols out of the global scope; RTLD_NOW reports missing
  // symbols at load rather than at the first call.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* message = dlerror();
    error = message != nullptr ? message : path + ": cannot be loaded";
  }
  return library;
}

void* FindSymbol(void* library, const char* name) {
  return dlsym(library, name);
}

void CloseLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

bool StderrIsTerminal() {
  return isatty(fileno(stderr)) != 0;
}

long long ProcessPageFaults() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<long long>(usage.ru_minflt) + static_cast<long long>(usage.ru_majflt);
}

#endif

}  // namespace headless::platform
