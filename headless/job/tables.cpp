#include "headless/job/tables.h"

#include <cstdio>

namespace headless {

void PrintFrameTable(const std::vector<FrameRow>& rows, Int64 points, const char* label,
                     std::ostream& out) {
  char head[16];
  std::snprintf(head, sizeof head, "%6s", label);
  out << "frame " << head
      << " | height error (%)   | edge change (%)    | hinge change (deg) | "
         "corrected eval\n"
         "             | skinned  corrected | skinned  corrected | skinned  corrected |    ms  "
         " Mpts/s\n";
  char line[160];
  for (const FrameRow& r : rows) {
    const Float rate =
        r.correctedSeconds > 0.0 ? static_cast<Float>(points) / r.correctedSeconds / 1.0e6 : 0.0;
    std::snprintf(line, sizeof line,
                  "%5d %6.1f | %7.2f %10.2f | %7.3f %10.3f | %7.3f %10.3f | %6.1f %8.2f\n",
                  static_cast<int>(r.frame), r.label, 100.0 * r.skinnedHeight,
                  100.0 * r.correctedHeight, 100.0 * r.skinned.edgeLengthChange,
                  100.0 * r.corrected.edgeLengthChange, r.skinned.normalAngleDegrees,
                  r.corrected.normalAngleDegrees, 1000.0 * r.correctedSeconds, rate);
    out << line;
  }
}

void PrintPairHeader(const PairReference& reference, std::ostream& out) {
  out << "points measured: " << reference.region.size() << " of " << reference.restHeights.size()
      << " (" << reference.detail.edges.size() << " edges, " << reference.detail.hinges.size()
      << " hinges)\n";
  out << "mesh       height error (%)  edge change (%)  hinge change (deg)  pose kept (edges)  "
         "pose kept (units)  detail kept (%)\n";
}

void PrintPairRow(const std::string& mesh, const PairMeasures& measures, std::ostream& out) {
  char line[160];
  std::snprintf(line, sizeof line, "%-10s %16.2f %16.3f %19.3f", mesh.c_str(),
                100.0 * measures.heightError, 100.0 * measures.detail.edgeLengthChange,
                measures.detail.normalAngleDegrees);
  out << line;
  if (measures.againstSkinned)
    std::snprintf(line, sizeof line, "  %17.4f  %17.4g  %15.2f\n", measures.pose.largestEdges,
                  measures.pose.largest, 100.0 * measures.detailKept);
  else
    std::snprintf(line, sizeof line, "  %17s  %17s  %15s\n", "-", "-", "-");
  out << line;
}

void PrintPoseWorst(const PairMeasures& measures, const Vector3& at, std::ostream& out) {
  if (!measures.againstSkinned || measures.pose.worstPoint < 0) return;
  char line[200];
  std::snprintf(line, sizeof line,
                "pose moved most around point %d (%.4g, %.4g, %.4g) of the rest: %.4g units, "
                "%.3f mean edge lengths (mean %.3f)\n",
                static_cast<int>(measures.pose.worstPoint + 1), at.x, at.y, at.z,
                measures.pose.largest, measures.pose.largestEdges, measures.pose.meanEdges);
  out << line;
}

void PrintReportHeader(std::ostream& out) {
  out << "frame                          | height error (%)  | edge change (%)   | hinge change "
         "(deg) |     ms\n"
         "                               |   input corrected |   input corrected |   input "
         "corrected |\n";
}

void PrintReportRow(const std::string& frame, const PairMeasures& input,
                    const PairMeasures& corrected, Float seconds, std::ostream& out) {
  char line[256];
  std::snprintf(line, sizeof line, "%-30s | %7.2f %9.2f | %7.3f %9.3f | %7.3f %9.3f | %6.1f\n",
                frame.c_str(), 100.0 * input.heightError, 100.0 * corrected.heightError,
                100.0 * input.detail.edgeLengthChange, 100.0 * corrected.detail.edgeLengthChange,
                input.detail.normalAngleDegrees, corrected.detail.normalAngleDegrees,
                1000.0 * seconds);
  out << line;
}

}  // namespace headless
