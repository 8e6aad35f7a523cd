// Numbered file sequences: the names of a run's frames and results.
//
// A pattern names one file per frame through a run of '#' in its file name (`walk.####.obj`,
// the frame zero-padded to as many digits as there are '#') or a printf field (`walk.%04d.obj`,
// `walk.%d.obj`). A name the program numbers itself gets the frame zero-padded to 4 digits
// (`limb.0007.obj`, PaddedFrame); a negative frame keeps its sign before the digits
// (`limb.-0003.obj`), and larger frames simply take more digits.
#pragma once

#include <string>
#include <vector>

#include "headless/io/results.h"
#include "host/abi/types.h"

namespace headless {

// Whether the file name of `path` holds a frame placeholder. Throws std::invalid_argument for a
// name with more than one placeholder. Any '%' other than %d or %0Nd (N up to 18) is part of
// the name, and in a name with such a field "%%" stands for one '%', as printf writes it
// (`100%%.%04d.obj` names `100%.0007.obj`).
bool IsFramePattern(const std::string& path);
// `pattern` with its placeholder replaced by `frame`.
std::string FramePath(const std::string& pattern, Int64 frame);

// A numbered sequence longer than this is surely a mistyped range: it would name more files
// than any run reads.
inline constexpr Int64 kMaxSequenceFrames = 100000;

// The files a list of inputs names: a pattern expands to one file per frame of `first`..`last`
// (and needs a range: `hasRange`), every other entry stays as it is. `frames` gets each file's
// frame number (the pattern's frame, or the entry's position for a plain list). Throws
// std::invalid_argument for a pattern without a range, a range without a pattern, or a range
// that runs backwards or spans more than kMaxSequenceFrames frames.
std::vector<std::string> ExpandSequence(const std::vector<std::string>& inputs, bool hasRange,
                                        Int32 first, Int32 last, std::vector<Int64>& frames);

}  // namespace headless
