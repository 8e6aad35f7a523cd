// Every file the headless host and the program write goes through here, so that no reader ever
// sees half a file: the bytes go to a temporary file with a unique name, created exclusively in
// the target's own folder, which is flushed, synced to disk and renamed over the target only
// when everything was written. On any failure, on an exception passing by, or when the program
// is interrupted, the temporary file is removed and an old target stays as it was; a program
// ended at once by a second Ctrl-C removes it too (platform::HoldForRemoval).
//
// The name "-" stands for the standard output: the bytes go there directly (there is nothing to
// rename), in binary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace headless {

class OutputFile {
 public:
  // Creates the temporary file beside `path` (the folder must exist). Throws std::runtime_error
  // "path: cannot write: reason".
  explicit OutputFile(std::string path);
  // Removes the temporary file unless Commit succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& Path() const { return path_; }
  // The temporary file's name (the target's for "-"), e.g. for a program that writes it itself.
  const std::string& TemporaryPath() const { return temporary_; }
  bool ToStandardOutput() const { return path_ == "-"; }

  // Appends bytes; throws std::runtime_error naming the path when the system refuses them.
  void Write(std::string_view bytes);
  void Write(std::span<const std::uint8_t> bytes);
  // The open stream, for writers that format straight into it (null for a file written by
  // another program after ReleaseStream). A failed write shows in Commit.
  std::FILE* Stream() { return file_; }
  // Closes the stream so another program may write the temporary file; Commit then renames
  // what that program left.
  void ReleaseStream();

  // Flushes, syncs and closes the temporary file, which waits under its own name for Commit (or
  // is removed by the destructor): a writer can finish many files and rename them all at once.
  // Throws std::runtime_error naming the path (the temporary file removed) when any step fails.
  void Finish();
  // Finishes the file if need be and renames it over the target. Throws std::runtime_error
  // naming the path (the temporary file removed, an old target untouched) when any step fails.
  void Commit();

 private:
  void Discard();

  std::string path_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
  std::uint64_t unhinted_ = 0;  // bytes written since the system was last told to put them on disk
};

// The whole of `bytes` written through an OutputFile.
void WriteFileAtomically(const std::string& path, std::string_view bytes);
void WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace headless
