// `tessamire bake` as one call: a character corrected the way `correct` does it
// (correct_character.h), its poses gathered (every frame of the clips asked for, corrected, and
// with a range of motion each joint turned from the bind pose about its own three axes by +-DEG,
// with its joints below it), new skin weights solved per welded point so that linear blend skinning
// alone comes as close as it can to the corrected points over all those poses (bake_solve.h), and
// the character written as a skinned binary glTF (glb_skin.h) with the new weights copied to every
// file vertex of a point (seams do not crack) and no morph targets.
//
// The report: the written weights against the corrected result over every frame of the clips,
// and, unless `holdout` is 0, a second solve without every holdout-th frame judged on those
// frames alone: mean and largest distance for the source's weights and the baked ones, and the
// share of the correction the bake recovers, 1 - sum baked d^2 / sum source d^2.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "headless/job/bake_solve.h"
#include "headless/job/correct_character.h"

namespace headless {

struct BakeRequest {
  // The input, its clips, the correction's settings, the frames and their rate, as `correct`
  // takes them (`correct.eval.dir` and `format` unused).
  CorrectRequest correct;
  std::optional<Float> rangeOfMotion;  // degrees, above 0 and at most 180
  BakeOptions solve;
  Int32 holdout = 4;  // every holdout-th frame held out for the report's second solve; 0: none
  bool report = false;
  std::string out;  // the glb written
};

// Distances of skinning to the corrected points over some frames, in the meshes' own units.
struct BakeFigures {
  Int64 frames = 0;
  Float sourceMean = 0.0, sourceLargest = 0.0;  // with the source's weights
  Float bakedMean = 0.0, bakedLargest = 0.0;    // with the baked weights
  Float recovered = 0.0;                        // 1 - sum baked d^2 / sum source d^2
  // Frames where the bake's sum of d^2 is larger, by more than (1e-7 x extent)^2 per point: below
  // that it is the float32 weights' rounding.
  std::vector<Int64> worse;
};

struct BakedMesh {
  std::string name;
  BakedWeights weights;  // per welded point
};

struct BakeResult {
  std::vector<BakedMesh> meshes;
  Int64 frames = 0, rangePoses = 0;
  Float extent = 0.0;  // the largest diagonal of a mesh's rest bounding box
  BakeFigures fit;     // the written weights over every frame
  std::optional<BakeFigures> heldOut;
  std::vector<std::string> notes;
};

// Throws std::invalid_argument for a request at fault (a range of motion out of range, a clip
// asked of a scene), std::runtime_error naming the fault (no rig, nothing to correct, a file
// that cannot be read or written) and what CorrectCharacter throws.
BakeResult BakeCharacter(const BakeRequest& request, const CorrectObserver& observer);

// The report as lines without their ends.
std::vector<std::string> BakeReportLines(const BakeResult& result);

}  // namespace headless
