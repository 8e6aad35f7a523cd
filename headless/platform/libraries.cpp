#include "headless/platform/libraries.h"

#ifdef _WIN32
#include <windows.h>

#include "headless/platform/paths.h"
#else
#include <dlfcn.h>
#endif

namespace headless::platform {

#ifdef _WIN32

void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryW(WideFromUtf8(path).c_str());
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

#endif

}  // namespace headless::platform
