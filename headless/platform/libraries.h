// Shared libraries (the plug-ins) loaded, their symbols found, and closed.
#pragma once

#include <string>

namespace headless::platform {

// Opens a shared library; null with `error` set when it cannot be loaded.
void* OpenLibrary(const std::string& path, std::string& error);
// The address of an exported symbol, or null.
void* FindSymbol(void* library, const char* name);
// Closes a library from OpenLibrary; null is ignored.
void CloseLibrary(void* library);

}  // namespace headless::platform
