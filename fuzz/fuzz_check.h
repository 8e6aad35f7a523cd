// What the fuzz targets share: a failed round trip stops the run as a crash does, with the
// target's own message, so that libFuzzer keeps the input that caused it.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>

namespace fuzz {

inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "round trip broken: %s\n", what);
  std::abort();
}

// A file of this process's own under the temporary folder, `name` ending it, for readers and
// writers that take a path. The files are removed when the process exits.
inline std::string ProcessFile(const std::string& name) {
  struct Made {
    std::set<std::string> paths;
    ~Made() {
      std::error_code ec;
      for (const std::string& path : paths) std::filesystem::remove(path, ec);
    }
  };
  static Made made;
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("tessamire_fuzz_" + std::to_string(getpid()) + "_" + name))
                               .string();
  made.paths.insert(path);
  return path;
}

// ProcessFile(name), holding the input's bytes.
inline std::string WrittenInput(const std::uint8_t* data, std::size_t size,
                                const std::string& name) {
  const std::string path = ProcessFile(name);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

}  // namespace fuzz
