// File names and the program's own place and arguments. File names and texts travel through the
// headless host as UTF-8 in std::string on every platform; PathFromUtf8 and Utf8FromPath convert
// at the file system's door.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace headless::platform {

// A file name in UTF-8 as a path; throws std::filesystem::filesystem_error on bytes that are
// not UTF-8 where the file system wants another encoding.
std::filesystem::path PathFromUtf8(const std::string& name);
// A path as UTF-8.
std::string Utf8FromPath(const std::filesystem::path& path);

// The program's arguments after its own name, in UTF-8 (`argc` and `argv` as main received
// them).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The running program's own file, absolute (Linux: /proc/self/exe; Windows: the module's file
// name, as UTF-8). Empty when it cannot be found.
std::string ExecutablePath();

#ifdef _WIN32
// Windows takes and gives names and texts in UTF-16 through its wide-character calls; the
// narrow ones would go through the ANSI code page and lose what it cannot hold. The platform's
// units convert with these at every such call.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& wide);
#endif

}  // namespace headless::platform
