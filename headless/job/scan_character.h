// The scan-like tube (ground_truth.h) as a rigged character that any program can read: a binary
// glTF with a chain of joints along the tube (shoulder, elbow and, with three joints, wrist), the
// tube's smooth weights as its skin, and one clip bending the elbow from 0 to `bendDegrees` (the
// wrist, when there is one, to half of that) about X over `frames` frames at 30 per second. For
// the bake's figures and bench on a large detailed mesh, and its tests on a small one.
#pragma once

#include <string>

#include "host/abi/types.h"

namespace headless {

struct ScanCharacterOptions {
  Int64 approximatePoints = 30000;
  Int32 joints = 3;  // 2 or 3
  Float bendDegrees = 90.0;
  Int32 frames = 24;  // at least 2
  UInt64 seed = 1;
};

// Writes the character to `path`. Throws std::invalid_argument for options at fault,
// std::runtime_error naming `path` when it cannot be written.
void WriteScanCharacter(const ScanCharacterOptions& options, const std::string& path);

}  // namespace headless
