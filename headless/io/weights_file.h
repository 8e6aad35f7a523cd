// Per-point weight files: one number per line, one line per point, read as float32 and used as
// they are (no clamping). Spaces, tabs and a carriage return around a number are allowed, and
// blank lines after the last number; nothing else. A file holding a zero byte or a line longer
// than kMaxWeightLineBytes is no weight file, and is read no further than that.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/abi/types.h"

namespace headless {

// Room for any number and the blanks around it.
inline constexpr size_t kMaxWeightLineBytes = 4096;

// Reads the weights of `path` for a mesh of `pointCount` points (`meshName` names that mesh in
// messages). Throws std::runtime_error "path:line: what" (line 0 when the file cannot be read)
// for an unreadable file, a file that is not text (a zero byte, an overlong line), a line that is
// not a finite float32 number (or, with `unitRange`, not
// one from 0 to 1), or a count other than `pointCount`.
std::vector<Float32> ReadWeightsFile(const std::string& path, size_t pointCount,
                                     const std::string& meshName, bool unitRange = false);
// The same over text already read; `path` names it in messages.
std::vector<Float32> ParseWeights(std::string_view text, const std::string& path, size_t pointCount,
                                  const std::string& meshName, bool unitRange = false);

}  // namespace headless
