// Numbered file sequences on the command line.
//
// A pattern names one file per frame through a run of '#' in its file name (`walk.####.obj`,
// the frame zero-padded to as many digits as there are '#') or a printf field (`walk.%04d.obj`,
// `walk.%d.obj`). A name the tool numbers itself gets the frame zero-padded to 4 digits
// (`limb.0007.obj`); a negative frame keeps its sign before the digits (`limb.-0003.obj`), and
// larger frames simply take more digits.
#pragma once

#include <string>
#include <vector>

#include "headless/io/results.h"
#include "host/abi/types.h"

namespace cli {

// Whether the file name of `path` holds a frame placeholder. Throws std::invalid_argument for a
// name with more than one placeholder. Any '%' other than %d or %0Nd (N up to 18) is part of
// the name, and in a name with such a field "%%" stands for one '%', as printf writes it
// (`100%%.%04d.obj` names `100%.0007.obj`).
bool IsFramePattern(const std::string& path);
// `pattern` with its placeholder replaced by `frame`.
std::string FramePath(const std::string& pattern, Int64 frame);
// `frame` zero-padded to `width` digits after an optional '-'.
using headless::PaddedFrame;

// A frame rate: a finite number above 0; false on anything else.
bool ParseFps(const std::string& text, Float& fps);

// "A:B" (A <= B) or "A" in whole frames; false on anything else.
bool ParseFrameRange(const std::string& text, Int32& first, Int32& last);

// A numbered sequence longer than this is surely a mistyped range: it would name more files
// than any run reads.
inline constexpr Int64 kMaxSequenceFrames = 100000;
// The frames of a numbered sequence: ParseFrameRange of at most kMaxSequenceFrames frames. Throws
// std::invalid_argument naming --frames, the form and the limit otherwise.
void ParseSequenceRange(const std::string& text, Int32& first, Int32& last);

// The files a list of inputs names: a pattern expands to one file per frame of `first`..`last`
// (and needs a range: `hasRange`), every other entry stays as it is. `frames` gets each file's
// frame number (the pattern's frame, or the entry's position for a plain list). Throws
// std::invalid_argument for a pattern without a range, or a range without a pattern.
std::vector<std::string> ExpandSequence(const std::vector<std::string>& inputs, bool hasRange,
                                        Int32 first, Int32 last, std::vector<Int64>& frames);

}  // namespace cli
