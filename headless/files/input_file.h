// Reading input files, where the name "-" stands for the standard input (read in binary), so
// every reader of the headless host takes either.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace headless {

// An open input that a reader takes in pieces, so that it can check what a header announces
// before it reads (and holds) the rest. Messages are "path: cannot read: reason", with the
// system's reason.
class InputFile {
 public:
  // Throws std::runtime_error when `path` is a folder or cannot be opened.
  explicit InputFile(std::string path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& Path() const { return path_; }
  // The size of a regular file; empty for the standard input, a pipe or a device.
  std::optional<std::uint64_t> Size() const { return size_; }
  // Appends up to `count` bytes to `out` (fewer at the end of the input) and answers how many.
  // `out` grows only as bytes arrive, never by what `count` claims. Throws std::runtime_error
  // on a read error or when memory runs out.
  std::uint64_t Read(std::uint64_t count, std::string& out);
  // Goes on reading from `offset` bytes into a regular file; false where the input cannot.
  bool Seek(std::uint64_t offset);
  // Everything up to the end of the input, appended to `out`.
  void ReadRest(std::string& out);

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  std::optional<std::uint64_t> size_;
};

// The bytes of `path` (or of the standard input for "-"). Throws std::runtime_error
// "path: cannot read: reason" when it cannot be opened or read.
std::string ReadInputFile(const std::string& path);

// The text of `path` for a reader of lines, read with a bound: reading stops once the bytes read
// hold a zero byte or a line (the bytes between line ends, LF or CR) longer than `maxLineBytes`,
// so that a device or an endless stream (/dev/zero) costs no more than one such line. Such text
// is no text file: the reader's own parse finds the fault in what was read and names it. Throws
// as ReadInputFile.
std::string ReadTextInput(const std::string& path, std::uint64_t maxLineBytes);

// The first line end (LF or CR) in [p, end), or end; eight bytes at a time.
const char* FindLineEnd(const char* p, const char* end);

}  // namespace headless
