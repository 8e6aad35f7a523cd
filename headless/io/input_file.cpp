#include "headless/io/input_file.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "headless/host/platform.h"

namespace headless {

std::string ReadInputFile(const std::string& path) {
  const bool standardInput = path == "-";
  std::error_code ec;
  if (!standardInput && std::filesystem::is_directory(platform::PathFromUtf8(path), ec))
    throw std::runtime_error(path + ": cannot read: is a folder");
  std::string error;
  std::FILE* in = standardInput ? stdin : platform::OpenForReading(path, error);
  if (in == nullptr) throw std::runtime_error(path + ": cannot read: " + error);
  if (standardInput) platform::SetBinaryMode(stdin);
  std::string bytes;
  char buffer[1 << 16];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, got);
  const bool failed = std::ferror(in) != 0;
  if (!standardInput) std::fclose(in);
  if (failed) throw std::runtime_error(path + ": cannot read: reading failed");
  return bytes;
}

}  // namespace headless
