// The options that choose frames: a frame rate, a range of frames, and the range of a numbered
// sequence (whose naming is headless/batch/frame_sequence.h).
#pragma once

#include <string>

#include "host/abi/types.h"

namespace cli {

// A frame rate: a finite number above 0; false on anything else.
bool ParseFps(const std::string& text, Float& fps);

// "A:B" (A <= B) or "A" in whole frames; false on anything else.
bool ParseFrameRange(const std::string& text, Int32& first, Int32& last);

// The frames of a numbered sequence: ParseFrameRange of at most headless::kMaxSequenceFrames
// frames. Throws std::invalid_argument naming --frames, the form and the limit otherwise.
void ParseSequenceRange(const std::string& text, Int32& first, Int32& last);

}  // namespace cli
