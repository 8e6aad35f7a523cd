// Where this build's program, plug-in folder and source tree lie. The paths are compiled into one
// generated object (tests/CMakeLists.txt), not into every test's command line, so that the tests'
// objects do not depend on where the tree or the build is, and a compiler cache serves them to
// another clone.
#pragma once

namespace test_paths {
extern const char* const kCli;
extern const char* const kSourceDir;
extern const char* const kPluginDir;
}  // namespace test_paths

#define TESSAMIRE_CLI (::test_paths::kCli)
#define TESSAMIRE_SOURCE_DIR (::test_paths::kSourceDir)
#define TESSAMIRE_DEFAULT_PLUGIN_DIR (::test_paths::kPluginDir)
