#include "source/platform.h"

#include <dlfcn.h>

std::string PluginDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PluginDirectory), &info) == 0 || info.dli_fname == nullptr)
    return {};
  const std::string path = info.dli_fname;
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}
