// `tessamire tune`: the settings sweep (settings_sweep.h) run on a few frames of one's own mesh,
// the most deformed by the skinning's own change, and what it shows: a table, the recommended
// setting, a plot of the sweep and a page with the candidates side by side.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "headless/geometry/mesh.h"
#include "headless/job/settings_sweep.h"

namespace headless {

// Frames tune evaluates unless told otherwise: the most deformed few carry the decision, and each
// costs a whole sweep.
inline constexpr size_t kTuneSampleFrames = 3;

// How much a frame changes the rest's shape: mean edge-length change plus mean hinge change (in
// radians) over the reference's region; rigid motions read 0.
Float SkinningChange(const PairReference& reference, const std::vector<Vector3>& frame);

// The indices of the `count` frames of largest SkinningChange, in frame order (every frame when
// there are no more).
std::vector<size_t> MostDeformedFrames(const PairReference& reference,
                                       const std::vector<std::vector<Vector3>>& frames,
                                       size_t count);

struct TuneResult {
  std::string name;            // the mesh's, in the table and on the page
  std::vector<size_t> sample;  // the frames evaluated (indices into the frames given)
  std::vector<std::string> frameNames;
  std::vector<SweepScore> scores;   // one per SweepSettings entry
  size_t recommended = 0;           // Recommend's
  Float threshold = 0.0;            // mean edge lengths
  Float restDetail = 0.0;           // the rest's mean detail at the fixed scale, units
  std::vector<Vector3> worstInput;  // the most deformed frame, and each setting's result of it
  std::vector<std::vector<Vector3>> worstResults;
};

// Sweeps every setting of SweepSettings on the most deformed `sampleCount` frames of `frames`
// (each one point per rest point; `names` one per frame) and recommends one within `threshold`.
// `region`: empty, or one weight per point (points of weight 0 are not read). Throws
// std::invalid_argument for no frames or frames of another point count, and what Correction
// throws.
TuneResult TuneMesh(std::string name, const Mesh& rest, const std::vector<Float32>& region,
                    const std::vector<std::vector<Vector3>>& frames,
                    const std::vector<std::string>& names, Float threshold,
                    size_t sampleCount = kTuneSampleFrames);

// The table: per setting pose kept (mean edge lengths), detail kept (%), the estimated error
// (units and share of the rest's detail) and milliseconds per evaluation, the recommended row
// marked; then the line "recommended for NAME: R rounds, weighting W, pin P".
void PrintTuneTable(const TuneResult& result, std::ostream& out);

// The sweep as a picture (PNG): pose kept, detail kept and the estimate against the rounds, one
// line per weighting and pin setting, the threshold drawn in the pose panel.
void WriteTunePlot(const TuneResult& result, const std::string& path);

// A page (the viewer `pageTemplate`) with the most deformed frame skinned and corrected by the
// recommended setting, the default, and the settings of a quarter and four times its rounds.
void WriteTunePage(const TuneResult& result, const Mesh& rest, const std::string& path,
                   std::string_view pageTemplate);

}  // namespace headless
