// A rig's transforms as a glTF written from it holds them and as a player computes them back:
// every node as translation, rotation and scale in float32, the clips' keys in float32, and the
// node and joint matrices worked out in float64 from those float32 numbers. The correctives are
// measured against exactly this, so a player that reads the file poses what they were made for.
//
// Keys between two times interpolate linearly, rotations spherically (the shorter way, plain
// linear and normalised where the two are within 1e-6 of equal); before the first key a channel
// holds the first value, after the last the last; a node without a channel keeps its rest TRS.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "headless/scene/rig.h"
#include "host/abi/types.h"

namespace headless {

struct NodeTrs {
  std::array<Float32, 3> translation{0.0f, 0.0f, 0.0f};
  std::array<Float32, 4> rotation{0.0f, 0.0f, 0.0f, 1.0f};  // x, y, z, w
  std::array<Float32, 3> scale{1.0f, 1.0f, 1.0f};
};

// `local` as TRS (the axes' lengths as the scale, negative on x where it mirrors; the rotation
// from the axes made orthonormal), narrowed to float32. `sheared` tells whether the TRS misses
// `local` by more than 1e-6 of its size (a shear, which TRS cannot hold). Throws
// std::invalid_argument when a number does not fit in float32.
NodeTrs DecomposeTrs(const Matrix& local, bool& sheared);
// T x R x S in float64 from the float32 numbers.
Matrix TrsMatrix(const NodeTrs& trs);

// A clip's channels as written: times and values narrowed to float32.
struct Channel32 {
  Int32 node = -1;
  RigPath path = RigPath::kTranslation;
  std::vector<Float32> times;
  std::vector<Float32> values;  // 3 per key, 4 for rotations
};
// Throws std::invalid_argument naming the clip and the node when a channel names no node, has no
// key, keys of the wrong count, values that do not fit in float32, or times that are not finite
// or no longer strictly increase once narrowed (two keys closer than float32 tells apart).
std::vector<Channel32> NarrowChannels(const RigClip& clip, std::span<const RigNode> nodes);

// Each node's TRS at `seconds`: `rest` where no channel moves it.
std::vector<NodeTrs> PoseAt(std::span<const NodeTrs> rest, std::span<const Channel32> channels,
                            Float32 seconds);
// Each node's global matrix: parent's x own (parents come before their children).
std::vector<Matrix> GlobalMatrices(std::span<const RigNode> nodes, std::span<const NodeTrs> pose);

// `m` with every number rounded to float32, as an inverse bind matrix is written.
Matrix NarrowMatrix(const Matrix& m);

}  // namespace headless
