// The tables the measures are printed in: the main job's, a row per frame (skinned against
// corrected, and the time of the corrected evaluation); `tessamire measure`'s, a row per mesh; and
// `tessamire apply --report`'s, a row per corrected frame. Columns are fixed-width text.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "headless/job/main_job.h"
#include "headless/job/pair_measures.h"

namespace headless {

// The main job's table of `rows` over a mesh of `points` points; `label` names the second column
// ("angle" or "time").
void PrintFrameTable(const std::vector<FrameRow>& rows, Int64 points, const char* label,
                     std::ostream& out);

// `tessamire measure`: what was measured, then the heading of the rows.
void PrintPairHeader(const PairReference& reference, std::ostream& out);
// The last three columns (pose kept in mean edge lengths and units, detail kept) read "-" unless
// the measures were taken against a skinned mesh.
void PrintPairRow(const std::string& mesh, const PairMeasures& measures, std::ostream& out);
// Where the pose moved most (the worst point, 1-based as OBJ numbers them, at `at` in the rest);
// nothing unless measured against a skinned mesh.
void PrintPoseWorst(const PairMeasures& measures, const Vector3& at, std::ostream& out);

// `tessamire apply --report`: the heading, then per frame the input's and the corrected mesh's
// measures and the seconds the correction took.
void PrintReportHeader(std::ostream& out);
void PrintReportRow(const std::string& frame, const PairMeasures& input,
                    const PairMeasures& corrected, Float seconds, std::ostream& out);

}  // namespace headless
