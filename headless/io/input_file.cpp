#include "headless/io/input_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>

#include "headless/platform/platform.h"

namespace headless {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw std::runtime_error(path + ": cannot read: " + reason);
}

}  // namespace

InputFile::InputFile(std::string path) : path_(std::move(path)) {
  if (path_ == "-") {
    file_ = stdin;
    platform::SetBinaryMode(stdin);
    return;
  }
  std::error_code ec;
  const std::filesystem::path name = platform::PathFromUtf8(path_);
  const auto status = std::filesystem::status(name, ec);
  if (std::filesystem::is_directory(status)) Fail(path_, "is a folder");
  std::string error;
  file_ = platform::OpenForReading(path_, error);
  if (file_ == nullptr) Fail(path_, error);
  if (std::filesystem::is_regular_file(status)) {
    const std::uintmax_t size = std::filesystem::file_size(name, ec);
    if (!ec) size_ = size;
  }
}

InputFile::~InputFile() {
  if (file_ != nullptr && file_ != stdin) std::fclose(file_);
}

std::uint64_t InputFile::Read(std::uint64_t count, std::string& out) {
  char buffer[1 << 16];
  std::uint64_t total = 0;
  while (total < count) {
    const size_t want = static_cast<size_t>(std::min<std::uint64_t>(sizeof buffer, count - total));
    errno = 0;
    const size_t got = std::fread(buffer, 1, want, file_);
    if (got > 0) {
      try {
        out.append(buffer, got);
      } catch (const std::bad_alloc&) {
        Fail(path_, "not enough memory to hold the file");
      } catch (const std::length_error&) {
        Fail(path_, "not enough memory to hold the file");
      }
      total += got;
    }
    if (got < want) {
      if (std::ferror(file_) != 0)
        Fail(path_, errno != 0 ? std::strerror(errno) : "reading failed");
      break;
    }
  }
  return total;
}

void InputFile::ReadRest(std::string& out) {
  while (Read(std::uint64_t{1} << 20, out) == std::uint64_t{1} << 20) {
  }
}

std::string ReadInputFile(const std::string& path) {
  InputFile in(path);
  std::string bytes;
  in.ReadRest(bytes);
  return bytes;
}

std::string ReadTextInput(const std::string& path, std::uint64_t maxLineBytes) {
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 16;
  InputFile in(path);
  std::string text;
  std::uint64_t line = 0;  // bytes of the last line so far
  for (;;) {
    const size_t start = text.size();
    const std::uint64_t got = in.Read(kPiece, text);
    for (size_t i = start; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '\0') return text;
      line = c == '\n' || c == '\r' ? 0 : line + 1;
      if (line > maxLineBytes) return text;
    }
    if (got < kPiece) return text;
  }
}

}  // namespace headless
