#include "source/platform.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// The folder part of the library's path, as UTF-8 (the library's name alone means the current
// folder).
std::string FolderOf(const std::filesystem::path& library) {
  const std::u8string folder = library.parent_path().u8string();
  return folder.empty() ? std::string(".") : std::string(folder.begin(), folder.end());
}

}  // namespace

#ifdef _WIN32

// The wide-character calls, so that a folder name outside the ANSI code page comes through.
std::string PluginDirectory() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&PluginDirectory), &module))
    return {};
  // Long paths reach 32767 characters; a full buffer means the name was cut.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() > 32768) return {};
    path.resize(path.size() * 2);
  }
  try {
    return FolderOf(path);
  } catch (const std::exception&) {
    return {};  // not convertible to UTF-8 (an unpaired surrogate)
  }
}

#else

std::string PluginDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PluginDirectory), &info) == 0 || info.dli_fname == nullptr)
    return {};
  return FolderOf(info.dli_fname);
}

#endif
