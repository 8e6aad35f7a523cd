#include "cli/apply_outputs.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>
#include <unordered_map>

#include "cli/options.h"
#include "cli/output_folder.h"
#include "headless/batch/cache_results.h"
#include "headless/batch/frame_sequence.h"
#include "headless/batch/gltf_results.h"
#include "headless/batch/obj_results.h"
#include "headless/files/planned_outputs.h"
#include "headless/io/obj_read.h"
#include "headless/io/point_cache.h"
#include "headless/platform/paths.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& path, const std::string& extension) {
  if (path.size() < extension.size()) return false;
  std::string tail = path.substr(path.size() - extension.size());
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == extension;
}

bool EndsWithObj(const std::string& path) {
  return EndsWith(path, ".obj");
}

// One binary glTF of every frame, on the rest mesh's own vertices.
bool GlbOutput(const std::string& path) {
  return EndsWith(path, ".glb");
}

// A name's frame number: the frame when it is whole, else the sample's position.
Int64 FileNumber(const headless::FrameSource& frames, size_t i) {
  const Float n = frames.Number(i);
  return n == std::floor(n) && std::fabs(n) < 1e15 ? static_cast<Int64>(n) : static_cast<Int64>(i);
}

// The results of more than one frame, or of one not named as a file, in the folder `out`, each
// under its frame's name (a cache's samples as <cache>.<frame>.obj).
std::vector<fs::path> FolderOutputs(const std::string& out, const headless::FrameSource& frames,
                                    const std::string& cachePath) {
  std::error_code ec;
  if (fs::exists(out, ec) && !fs::is_directory(out, ec))
    throw std::runtime_error(out +
                             ": exists and is not a folder (a single frame's result needs a "
                             "name ending in .obj)");
  if (out == "-")
    throw UsageError("--out - (the standard output) takes the result of one frame only");
  std::vector<fs::path> outputs;
  for (size_t i = 0; i < frames.Count(); ++i) {
    if (!cachePath.empty()) {
      outputs.push_back(fs::path(out) / (fs::path(cachePath).stem().string() + "." +
                                         headless::PaddedFrame(FileNumber(frames, i)) + ".obj"));
      continue;
    }
    const std::string file = frames.Name(i);
    const fs::path name = fs::path(file).filename();
    if (file == "-")
      throw UsageError("a frame from the standard input needs --out FILE.obj or --out -");
    if (name.empty()) throw std::runtime_error(file + ": not a file name");
    outputs.push_back(fs::path(out) / name);
  }
  return outputs;
}

}  // namespace

std::string PreviewPagePath(const std::string& preview) {
  fs::path page = headless::platform::PathFromUtf8(preview);
  page.replace_extension(".html");
  return headless::platform::Utf8FromPath(page);
}

std::vector<fs::path> PlanOutputs(const std::string& out, const std::string& preview,
                                  const std::vector<std::string>& otherInputs,
                                  const headless::FrameSource& frames,
                                  const std::string& cachePath) {
  std::vector<std::string> names;
  if (!cachePath.empty()) names.push_back(cachePath);
  for (size_t i = 0; cachePath.empty() && i < frames.Count(); ++i) names.push_back(frames.Name(i));
  names.insert(names.end(), otherInputs.begin(), otherInputs.end());
  const InputFiles inputs(names);
  // Only frames can be missing here (the rest, the weights and a cache are read by now): the
  // reader names the first, as it would have when it reached it.
  if (!inputs.FirstMissing().empty()) headless::ReadObjFile(inputs.FirstMissing());
  // The results, then the preview and its page, checked against each other and the inputs.
  std::vector<headless::PlannedOutput> planned;
  const auto check = [&] {
    if (!preview.empty()) planned.push_back({preview, "the preview"});
    if (!preview.empty() && preview != "-")
      planned.push_back({PreviewPagePath(preview), "the preview's page"});
    headless::CheckOutputs(planned, names);
  };
  if (headless::PointCacheFormatOf(out) || GlbOutput(out)) {
    planned.push_back({out, "the result"});
    check();
    return {};
  }
  std::vector<fs::path> outputs;
  if (headless::IsFramePattern(out)) {
    for (size_t i = 0; i < frames.Count(); ++i)
      outputs.push_back(headless::FramePath(out, FileNumber(frames, i)));
  } else if (frames.Count() == 1 && (EndsWithObj(out) || out == "-")) {
    outputs.push_back(out);
  } else {
    outputs = FolderOutputs(out, frames, cachePath);
  }
  std::unordered_map<std::string, size_t> frameOf;  // result -> the frame it holds
  for (size_t i = 0; i < outputs.size(); ++i) {
    const auto [other, added] = frameOf.emplace(outputs[i].string(), i);
    if (!added)
      throw std::runtime_error(frames.Name(i) + " and " + frames.Name(other->second) +
                               " would both be written to " + outputs[i].string());
    planned.push_back({outputs[i].string(), "the result of " + frames.Name(i)});
  }
  check();
  return outputs;
}

std::unique_ptr<headless::ResultSink> OpenResults(const std::string& out,
                                                  const std::vector<fs::path>& outputs,
                                                  const headless::ObjFile& rest,
                                                  const headless::FrameSource& frames, Float fps) {
  // A cache's samples have no file of their own: their results are written like the rest.
  if (!outputs.empty())
    return std::make_unique<headless::ObjResults>(outputs, frames.CacheTiming() ? &rest : nullptr);
  if (GlbOutput(out)) return std::make_unique<headless::GlbResults>(out, rest, frames, fps);
  // The cache goes to its file a sample at a time, as each is corrected.
  return std::make_unique<headless::CacheResults>(out, frames, fps);
}

void PrepareOutputFolders(const std::string& out, const std::vector<fs::path>& outputs,
                          const std::string& preview) {
  const bool toFolder = !outputs.empty() && !headless::IsFramePattern(out) &&
                        (outputs.size() > 1 || (!EndsWithObj(out) && out != "-"));
  if (toFolder)
    PrepareFolder(out);
  else
    PrepareOutputFolder(outputs.empty() ? out : outputs[0].string());
  if (!preview.empty()) PrepareOutputFolder(preview);
}

}  // namespace cli
