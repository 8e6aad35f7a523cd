#include "headless/io/character_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "headless/files/interruption.h"
#include "headless/files/printable.h"
#include "headless/platform/memory.h"
#include "headless/platform/paths.h"
#include "headless/platform/processes.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSAMIRE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESSAMIRE_SANITIZED 1
#endif
#endif

namespace headless {

namespace {

enum ReaderExit : int {
  kAnswered = 0,
  kRefused = 1,
  kBadOptions = 2,
  kNoMemory = 3,
  kWrongCall = 4
};

std::string NumberText(double v) {
  // Hexadecimal: the rate goes over exactly.
  char text[64];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

std::vector<std::string> ReaderArguments(const char* mode, const std::string& path,
                                         const CharacterOptions& options) {
  std::vector<std::string> arguments = {mode,
                                        path,
                                        NumberText(options.fps),
                                        options.allClips ? "1" : "0",
                                        std::to_string(CharacterReaderMemory()),
                                        options.assetRoot,
                                        options.clip};
  arguments.insert(arguments.end(), options.clips.begin(), options.clips.end());
  return arguments;
}

// The reader's message, one line, safe for a terminal.
std::string Message(const std::string& err) {
  std::string text = err;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return Printable(text);
}

// Runs the reader on `path`; answers its output, or throws what its end means.
std::vector<std::uint8_t> RunReader(const char* mode, const std::string& path,
                                    const CharacterOptions& options) {
  if (!std::isfinite(options.readerSeconds) || options.readerSeconds < 0.0)
    throw std::invalid_argument("the reader's time must be positive and finite, not " +
                                std::to_string(options.readerSeconds));
  const Float seconds = options.readerSeconds > 0.0 ? options.readerSeconds : kDefaultReaderSeconds;
  const std::string program = CharacterReaderProgram(options);
  const std::uint64_t memory = CharacterReaderMemory();
  const std::uint64_t answerBytes = memory > 0 ? memory : platform::PhysicalMemoryBytes();
  const platform::CapturedRun run =
      platform::RunCaptured(program, ReaderArguments(mode, path, options), seconds,
                            answerBytes > 0 ? answerBytes : std::uint64_t{1} << 34);
  const std::string stopped = "the character reader stopped on " + path + ": ";
  switch (run.end) {
    case platform::RunEnd::kNotStarted:
      throw std::runtime_error(path + ": the character reader " + program + " cannot be started (" +
                               run.reason + ")");
    case platform::RunEnd::kInterrupted:
      throw Interrupted();
    case platform::RunEnd::kTimedOut:
      throw std::runtime_error(stopped + "no answer within " + std::to_string(seconds) +
                               " seconds (--reader-timeout gives it more)");
    case platform::RunEnd::kTooMuchOutput:
      throw std::runtime_error(stopped + "its answer grew past " + std::to_string(answerBytes) +
                               " bytes");
    case platform::RunEnd::kSignalled:
      throw std::runtime_error(stopped + "signal " + std::to_string(run.code));
    case platform::RunEnd::kExited:
      break;
  }
  switch (run.code) {
    case kAnswered:
      return std::vector<std::uint8_t>(run.out.begin(), run.out.end());
    case kRefused:
      throw std::runtime_error(Message(run.err));
    case kBadOptions:
      throw std::invalid_argument(Message(run.err));
    case kNoMemory:
      throw std::runtime_error(stopped + "out of memory (the reader may take " +
                               std::to_string(memory) + " bytes)");
    default:
      throw std::runtime_error(stopped + "exit code " + std::to_string(run.code) +
                               (run.err.empty() ? "" : " (" + Message(run.err) + ")"));
  }
}

bool ReadNumber(const std::string& text, double& v) {
  char* end = nullptr;
  v = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size();
}

}  // namespace

std::string CharacterReaderProgram(const CharacterOptions& options) {
  if (!options.readerProgram.empty()) return options.readerProgram;
  std::string name = kReaderProgramName;
#ifdef _WIN32
  name += ".exe";
#endif
  return platform::Utf8FromPath(platform::PathFromUtf8(platform::ExecutablePath()).parent_path() /
                                platform::PathFromUtf8(name));
}

std::uint64_t CharacterReaderMemory() {
#ifdef TESSAMIRE_SANITIZED
  return 0;
#else
  return std::max<std::uint64_t>(platform::PhysicalMemoryBytes() / 2, std::uint64_t{2} << 30);
#endif
}

ReadCharacter ReadCharacterApart(const std::string& path, const CharacterOptions& options) {
  if (!CharacterImportAvailable()) {
    ReadCharacter read{NewDocument(), {}};
    read.imported = ImportCharacter(path, *read.document, options);
    return read;
  }
  return CharacterImportFromBytes(RunReader("import", path, options), path);
}

CharacterListing ListCharacterApart(const std::string& path, const CharacterOptions& options) {
  if (!CharacterImportAvailable()) return ListCharacter(path, options);
  return CharacterListingFromBytes(RunReader("list", path, options), path);
}

int CharacterReaderMain(const std::vector<std::string>& arguments, std::ostream& out,
                        std::ostream& err) {
  double fps = 0.0, memory = 0.0;
  if (arguments.size() < 7 || (arguments[0] != "import" && arguments[0] != "list") ||
      !ReadNumber(arguments[2], fps) || !ReadNumber(arguments[4], memory)) {
    err << "usage: " << kReaderProgramName
        << " import|list FILE FPS ALL-CLIPS MEMORY ASSET-ROOT CLIP [CLIP...]: it reads a character "
           "file for "
           "tessamire, which starts it\n";
    return kWrongCall;
  }
  platform::SkipCoreDumps();
  if (memory > 0.0 && !platform::LimitProcessMemory(static_cast<std::uint64_t>(memory)))
    err << kReaderProgramName << ": note: the memory limit could not be set\n";
  CharacterOptions options;
  options.fps = fps;
  options.allClips = arguments[3] == "1";
  options.assetRoot = arguments[5];
  options.clip = arguments[6];
  options.clips.assign(arguments.begin() + 7, arguments.end());
  const std::string& path = arguments[1];
  try {
    std::vector<std::uint8_t> answer;
    if (arguments[0] == "list") {
      answer = CharacterListingBytes(ListCharacter(path, options));
    } else {
      auto doc = NewDocument();
      const CharacterImport imported = ImportCharacter(path, *doc, options);
      answer = CharacterImportBytes(*doc, imported);
    }
    out.write(reinterpret_cast<const char*>(answer.data()),
              static_cast<std::streamsize>(answer.size()));
    out.flush();
    return out ? kAnswered : kRefused;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  } catch (const std::invalid_argument& e) {
    err << e.what() << "\n";
    return kBadOptions;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kRefused;
  }
}

}  // namespace headless
