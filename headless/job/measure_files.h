// `tessamire measure`'s work: a rest mesh and deformed copies of it read from their files, checked
// against it and measured (pair_measures.h), and the table made (tables.h); the command line
// checks its options and prints the table.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace headless {

struct MeasureFilesRequest {
  std::string rest;
  // Label and path of each copy: one alone is measured against the rest; with two, the second is
  // read against the first too (pose kept, detail kept).
  std::vector<std::pair<std::string, std::string>> inputs;
  std::string region;  // a weights file: only points not 0 are read; empty for every point
  bool quiet = false;  // no stages on the progress stream, whatever the mesh's size
};

// Above this many points the measure reports its stages.
inline constexpr size_t kMeasureLargeMesh = 200000;

// The table of `request`, its stages on `progress` for a mesh of more than kMeasureLargeMesh
// points. Throws std::runtime_error naming the file for a copy of another point count than the
// rest's, and what reading a mesh or the weights throws.
std::string MeasureFiles(const MeasureFilesRequest& request, std::ostream& progress);

}  // namespace headless
