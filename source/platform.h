// The few platform calls of the plug-in. Everything else in source/ and host/ uses only the
// standard library.
#pragma once

#include <string>

// Marks the library's entry symbols. On Linux every other symbol is hidden; on Windows the
// module-definition file names the exports and the attribute changes nothing.
#define TESSAMIRE_EXPORT __attribute__((visibility("default")))

// The directory that holds this library, as UTF-8 without a trailing separator; empty when
// unknown.
std::string PluginDirectory();
