#include "headless/batch/frame_sequence.h"

#include <stdexcept>

namespace headless {
namespace {

// The placeholder in the file name of `path`: [begin, end) and the digits it pads to; begin ==
// npos when there is none.
struct Placeholder {
  size_t begin = std::string::npos;
  size_t end = std::string::npos;
  int width = 0;
};

Placeholder FindPlaceholder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  Placeholder found;
  int count = 0;
  for (size_t i = nameStart; i < path.size(); ++i) {
    if (path[i] == '#') {
      size_t j = i;
      while (j < path.size() && path[j] == '#') ++j;
      found = {i, j, static_cast<int>(j - i)};
      ++count;
      i = j - 1;
    } else if (path[i] == '%') {
      // "%%" is a '%' of the name, as printf writes it; so is any '%' other than %d or %0Nd.
      if (i + 1 < path.size() && path[i + 1] == '%') {
        ++i;
        continue;
      }
      size_t j = i + 1;
      int width = 0;
      if (j < path.size() && path[j] == '0') {
        ++j;
        if (j >= path.size() || path[j] < '1' || path[j] > '9') continue;
        while (j < path.size() && path[j] >= '0' && path[j] <= '9' && width < 100)
          width = width * 10 + (path[j++] - '0');
      }
      if (j >= path.size() || path[j] != 'd' || width > 18) continue;
      found = {i, j + 1, width};
      ++count;
      i = j;
    }
  }
  if (count > 1) throw std::invalid_argument(path + ": more than one frame placeholder");
  return found;
}

// `text` with each "%%" as one '%'.
std::string SingleEscapedPercents(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    out.push_back(text[i]);
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
  }
  return out;
}

}  // namespace

bool IsFramePattern(const std::string& path) {
  return FindPlaceholder(path).begin != std::string::npos;
}

std::string FramePath(const std::string& pattern, Int64 frame) {
  const Placeholder p = FindPlaceholder(pattern);
  if (p.begin == std::string::npos) throw std::invalid_argument(pattern + ": no frame placeholder");
  std::string before = pattern.substr(0, p.begin), after = pattern.substr(p.end);
  if (pattern[p.begin] == '%') {
    // A printf field: each "%%" of the file name stands for one '%'.
    const size_t slash = before.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    before = before.substr(0, nameStart) + SingleEscapedPercents(before.substr(nameStart));
    after = SingleEscapedPercents(after);
  }
  return before + PaddedFrame(frame, p.width) + after;
}

std::vector<std::string> ExpandSequence(const std::vector<std::string>& inputs, bool hasRange,
                                        Int32 first, Int32 last, std::vector<Int64>& frames) {
  std::vector<std::string> files;
  frames.clear();
  bool anyPattern = false;
  if (hasRange && (first > last || static_cast<Int64>(last) - first >= kMaxSequenceFrames))
    throw std::invalid_argument("frames " + std::to_string(first) + " to " + std::to_string(last) +
                                ": not a range of 1 to " + std::to_string(kMaxSequenceFrames) +
                                " frames");
  for (const std::string& input : inputs) {
    if (!IsFramePattern(input)) {
      frames.push_back(static_cast<Int64>(files.size()));
      files.push_back(input);
      continue;
    }
    if (!hasRange)
      throw std::invalid_argument(input +
                                  " names a numbered sequence: give its frames with "
                                  "--frames A:B");
    anyPattern = true;
    for (Int64 frame = first; frame <= last; ++frame) {
      frames.push_back(frame);
      files.push_back(FramePath(input, frame));
    }
  }
  if (hasRange && !anyPattern)
    throw std::invalid_argument("--frames applies to a numbered sequence such as walk.####.obj");
  return files;
}

}  // namespace headless
