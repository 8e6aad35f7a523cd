#include "headless/files/input_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <stdexcept>

#include "headless/files/pages_ahead.h"
#include "headless/platform/files.h"
#include "headless/platform/paths.h"
#include "headless/platform/streams.h"

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
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 16;
  std::uint64_t total = 0;
  while (total < count) {
    const size_t held = out.size();
    // Into the room reserved, when there is some: reading up to the end of a file of known size
    // then costs no growth.
    const std::uint64_t room = out.capacity() - held > 0 ? out.capacity() - held : kPiece;
    const size_t want = static_cast<size_t>(std::min({kPiece, room, count - total}));
    // Straight into the string: it grows by at most one piece beyond what arrived.
    try {
      out.resize(held + want);
    } catch (const std::bad_alloc&) {
      Fail(path_, "not enough memory to hold the file");
    } catch (const std::length_error&) {
      Fail(path_, "not enough memory to hold the file");
    }
    errno = 0;
    const size_t got = std::fread(out.data() + held, 1, want, file_);
    out.resize(held + got);
    total += got;
    if (got < want) {
      if (std::ferror(file_) != 0)
        Fail(path_, errno != 0 ? std::strerror(errno) : "reading failed");
      break;
    }
  }
  return total;
}

bool InputFile::Seek(std::uint64_t offset) {
  return size_ && platform::SeekTo(file_, offset);
}

void InputFile::ReadRest(std::string& out) {
  while (Read(std::uint64_t{1} << 20, out) == std::uint64_t{1} << 20) {
  }
}

namespace {

// Room for the whole of a regular file (and a byte to find its end), so that it is held in one
// allocation of its size with no copies on the way. Reserving touches no memory, so a file
// refused at its first bytes costs no more.
void ReserveWhole(const InputFile& in, std::string& out) {
  if (!in.Size() || *in.Size() >= std::numeric_limits<size_t>::max() / 2) return;
  try {
    out.reserve(static_cast<size_t>(*in.Size()) + 1);
  } catch (const std::exception&) {
    Fail(in.Path(), "not enough memory to hold the file");
  }
}

}  // namespace

std::string ReadInputFile(const std::string& path) {
  InputFile in(path);
  std::string bytes;
  ReserveWhole(in, bytes);
  in.ReadRest(bytes);
  return bytes;
}

std::string ReadTextInput(const std::string& path, std::uint64_t maxLineBytes) {
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 20;
  InputFile in(path);
  std::string text;
  ReserveWhole(in, text);
  const PagesAhead ahead({RoomOf(text)});
  std::uint64_t line = 0;  // bytes of the last line so far
  for (;;) {
    const size_t start = text.size();
    const std::uint64_t got = in.Read(kPiece, text);
    const char* p = text.data() + start;
    const char* end = text.data() + text.size();
    const char* zero = static_cast<const char*>(std::memchr(p, '\0', static_cast<size_t>(end - p)));
    const char* stop = zero != nullptr ? zero : end;
    for (;;) {
      const char* lineEnd = FindLineEnd(p, stop);
      line += static_cast<std::uint64_t>(lineEnd - p);
      if (line > maxLineBytes) return text;
      if (lineEnd == stop) break;
      line = 0;
      p = lineEnd + 1;
    }
    if (zero != nullptr || got < kPiece) return text;
  }
}

const char* FindLineEnd(const char* p, const char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      const std::uint64_t lf = word ^ (kOnes * '\n'), cr = word ^ (kOnes * '\r');
      // The lowest high bit set marks the first byte that is LF or CR (borrows run upwards only).
      const std::uint64_t found = ((lf - kOnes) & ~lf & kHigh) | ((cr - kOnes) & ~cr & kHigh);
      if (found != 0) return p + std::countr_zero(found) / 8;
      p += 8;
    }
  }
  while (p < end && *p != '\n' && *p != '\r') ++p;
  return p;
}

}  // namespace headless
