// Where `tessamire apply` puts its results: --out read as one point cache, one glTF, a numbered
// pattern, one OBJ file or a folder; the sink that writes them (headless/batch); and the folders
// they need.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "headless/batch/frame_source.h"
#include "headless/batch/result_sink.h"

namespace cli {

// The page written beside a preview picture: PIC.png -> PIC.html.
std::string PreviewPagePath(const std::string& preview);

// Where each frame's result goes (empty when every result goes into one cache or glTF, `out`);
// checks that every input exists (`frames`, or the cache `cachePath` when not empty, and
// `otherInputs`), that no two frames share a result and that no result, nor the preview and its
// page, would overwrite an input. Each input and each result is looked at once, so a long
// sequence costs time in proportion to its length. Throws UsageError for an --out that cannot
// take the frames, std::runtime_error naming the fault otherwise.
std::vector<std::filesystem::path> PlanOutputs(const std::string& out, const std::string& preview,
                                               const std::vector<std::string>& otherInputs,
                                               const headless::FrameSource& frames,
                                               const std::string& cachePath);

// The sink of the results planned: `outputs`, or the cache or glTF `out`. `rest` and `frames`
// must outlive it.
std::unique_ptr<headless::ResultSink> OpenResults(const std::string& out,
                                                  const std::vector<std::filesystem::path>& outputs,
                                                  const headless::ObjFile& rest,
                                                  const headless::FrameSource& frames, Float fps);

// Creates the folders the results and the preview go to (output_folder.h).
void PrepareOutputFolders(const std::string& out, const std::vector<std::filesystem::path>& outputs,
                          const std::string& preview);

}  // namespace cli
