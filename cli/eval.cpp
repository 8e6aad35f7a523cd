// `tessamire eval`: loads a saved scene, evaluates it at each frame of a range (keyed joints
// first, then the expression and deform passes) and writes every polygon object's deformed mesh:
// per frame as `<object>.<frame>.obj` (the frame zero-padded to 4 digits), or all frames in one
// point cache per object, `<object>.pc2` or `<object>.mdd`.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "cli/subcommands.h"
#include "headless/host/deform.h"
#include "headless/host/evaluate.h"
#include "headless/host/platform.h"
#include "headless/host/point_cache.h"
#include "headless/host/skin.h"
#include "headless/io/obj.h"
#include "headless/io/point_cache.h"
#include "headless/io/printable.h"
#include "headless/io/scene_file.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

struct FrameRange {
  Int32 first = 0;
  Int32 last = 0;
};

// The frames the scene's keys and point caches span; frame 0 alone when nothing is keyed.
FrameRange KeyedRange(const headless::Document& doc) {
  bool any = false;
  Float lo = 0.0, hi = 0.0;
  for (const headless::Node* node : doc.Objects()) {
    std::vector<Float> frames;
    if (headless::IsJoint(node)) {
      const headless::JointKeys keys = headless::ReadJointKeys(node);
      for (const auto& k : keys.rotations) frames.push_back(k.frame);
      for (const auto& k : keys.transforms) frames.push_back(k.frame);
    } else if (node->type == headless::kPointCacheType) {
      frames = headless::PointCacheFrames(node);
    }
    if (frames.empty()) continue;
    lo = any ? std::min(lo, frames.front()) : frames.front();
    hi = any ? std::max(hi, frames.back()) : frames.back();
    any = true;
  }
  if (!any) return {};
  constexpr Float kLimit = 2147483647.0;
  if (std::ceil(lo) < -kLimit || std::floor(hi) > kLimit)
    throw std::runtime_error(
        "the keyed frames reach beyond the whole frame numbers; give --frames");
  const Int32 first = static_cast<Int32>(std::ceil(lo));
  const Int32 last = static_cast<Int32>(std::floor(hi));
  if (first > last)
    throw std::runtime_error("no whole frame lies in the keyed range; give --frames");
  return {first, last};
}

// A file-name stem for each polygon object: its name with anything but letters, digits, '-' and
// '_' replaced by '_'; objects whose stems collide get their position in tree order appended.
std::vector<std::string> FileStems(const std::vector<headless::Node*>& objects) {
  std::vector<std::string> stems;
  std::map<std::string, int> uses;
  for (const headless::Node* object : objects) {
    std::string stem = object->name.empty() ? "object" : object->name;
    for (char& c : stem)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    stems.push_back(stem);
    ++uses[stem];
  }
  for (size_t i = 0; i < stems.size(); ++i)
    if (uses[stems[i]] > 1) stems[i] += "-" + std::to_string(i);
  return stems;
}

// More frames than this a run evaluates only when --frames names them: keys spread over a huge
// span would otherwise quietly write files until the disk is full.
constexpr Int64 kMaxKeyedFrames = 100000;

// Stops before anything is written when the outputs would not fit in the free space of `dir`
// (less what the files they replace hold now). An OBJ is about as large as the scene's own mesh
// written out; a cache's size is exact.
void CheckFreeSpace(const std::string& dir, const std::vector<headless::Node*>& objects,
                    const std::function<std::string(size_t, Int64)>& file, FrameRange range,
                    bool cache) {
  const Int64 frames = static_cast<Int64>(range.last) - range.first + 1;
  std::uint64_t needed = 0, replaced = 0;
  for (size_t i = 0; i < objects.size(); ++i) {
    const std::uint64_t points = objects[i]->points.size();
    needed += cache ? 32 + static_cast<std::uint64_t>(frames) * (4 + 12 * points)
                    : static_cast<std::uint64_t>(frames) *
                          headless::ObjMeshText(objects[i]->points, objects[i]->polygons).size();
  }
  std::error_code ec;
  for (size_t i = 0; i < objects.size(); ++i)
    for (Int64 frame = range.first; frame <= (cache ? range.first : range.last); ++frame) {
      const std::uintmax_t size = fs::file_size(file(i, frame), ec);
      if (!ec) replaced += size;
    }
  const fs::space_info space = fs::space(dir, ec);
  if (ec) return;  // a file system that cannot say: the writes themselves will tell
  if (needed > space.available + replaced)
    throw std::runtime_error(dir + ": the outputs need about " + std::to_string(needed >> 20) +
                             " MiB, but only " + std::to_string(space.available >> 20) +
                             " MiB are free; nothing was written");
}

int RunEval(const Options& options, std::ostream& out, std::ostream& err) {
  FrameRange range;
  const bool hasRange = options.Has("--frames");
  if (hasRange && !ParseFrameRange(options.Text("--frames"), range.first, range.last))
    throw UsageError("--frames wants A:B with whole numbers A <= B (or one frame A), not \"" +
                     options.Text("--frames") + "\"");
  const std::string format = options.Text("--format", "obj");
  const Float fps = options.Number("--fps").value_or(30.0);
  if (!(fps > 0.0)) throw UsageError("--fps wants a number above 0");
  const std::string path = options.Operands().front();
  const bool quiet = options.Has("--quiet");
  const std::string dir = options.Text("--out");
  if (dir == "-") throw UsageError("--out wants a folder; eval writes a file per object");

  std::unique_ptr<headless::Document> doc = headless::LoadScene(path);
  if (!hasRange) range = KeyedRange(*doc);
  const Int64 total = static_cast<Int64>(range.last) - range.first + 1;
  if (!hasRange && total > kMaxKeyedFrames)
    throw std::runtime_error(path + ": the keys span " + std::to_string(total) + " frames (" +
                             std::to_string(range.first) + " to " + std::to_string(range.last) +
                             "), more than " + std::to_string(kMaxKeyedFrames) +
                             "; give --frames A:B to evaluate that many");
  std::vector<headless::Node*> objects;
  for (headless::Node* node : doc->Objects())
    if (node->IsPolygonObject()) objects.push_back(node);
  if (objects.empty()) throw std::runtime_error(path + ": the scene holds no polygon object");
  const std::vector<std::string> stems = FileStems(objects);
  PrepareFolder(dir);

  const bool cache = format != "obj";
  // Object i's output: its cache, or its mesh at `frame`.
  const auto file = [&](size_t i, Int64 frame) {
    return (fs::path(dir) /
            (cache ? stems[i] + "." + format : stems[i] + "." + PaddedFrame(frame) + ".obj"))
        .string();
  };
  // The scene itself may lie among the outputs.
  const fs::path scene(path);
  if (SameFile(scene.parent_path().empty() ? "." : scene.parent_path().string(), dir)) {
    const std::string name = scene.filename().string();
    for (size_t i = 0; i < objects.size(); ++i) {
      if (name.rfind(stems[i] + ".", 0) != 0) continue;
      for (Int64 frame = range.first; frame <= (cache ? range.first : range.last); ++frame)
        if (fs::path(file(i, frame)).filename() == name)
          throw std::runtime_error(file(i, frame) + ": the result would overwrite the input " +
                                   path);
    }
  }
  CheckFreeSpace(dir, objects, file, range, cache);
  std::vector<headless::PointCache> caches(objects.size());
  for (headless::PointCache& c : caches) {
    c.format =
        format == "pc2" ? headless::PointCacheFormat::kPc2 : headless::PointCacheFormat::kMdd;
    c.startFrame = static_cast<Float32>(range.first);
  }
  headless::Progress progress(
      err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), quiet),
      "tessamire eval", "frame", total);
  for (Int64 frame = range.first; frame <= range.last; ++frame) {
    headless::StopIfInterrupted();
    const headless::DeformReport report =
        headless::EvaluateDocumentAtFrame(*doc, static_cast<Float>(frame));
    for (const std::string& warning : report.warnings)
      err << "tessamire eval: warning: frame " << frame << ": " << headless::Printable(warning)
          << "\n";
    if (!report.Ok())
      throw std::runtime_error(path + ": frame " + std::to_string(frame) + ": " +
                               report.errors.front());
    for (size_t i = 0; i < objects.size(); ++i) {
      const std::vector<Vector3>& points = headless::DeformedPoints(objects[i]);
      if (cache) {
        headless::AppendSample(caches[i], points);
        if (caches[i].format == headless::PointCacheFormat::kMdd)
          caches[i].times.push_back(static_cast<Float32>(static_cast<Float>(frame) / fps));
      } else {
        headless::WriteObj(file(i, frame), points, objects[i]->polygons);
      }
    }
    progress.Step("at frame " + std::to_string(frame));
  }
  for (size_t i = 0; cache && i < objects.size(); ++i)
    headless::WritePointCache(file(i, range.first), caches[i]);
  progress.Finish();
  if (!quiet)
    out << "wrote "
        << (cache
                ? std::to_string(objects.size()) + " caches of " + std::to_string(total) + " frames"
                : std::to_string(total * static_cast<Int64>(objects.size())) + " meshes")
        << " to " << dir << "\n";
  return kExitOk;
}

const SubcommandRegistration kEval(
    {[] {
       CommandSpec spec;
       spec.name = "eval";
       spec.operands = "SCENE";
       spec.minOperands = 1;
       spec.maxOperands = 1;
       spec.summary =
           "evaluate a saved scene over a range of frames and write each polygon object's "
           "deformed mesh per frame, or all frames as one point cache per object";
       spec.details =
           "Loads SCENE (- for the standard input), evaluates it at every frame from A to "
           "B (keyed joints first, then expression tags, then deformers in tree order) and "
           "writes each polygon object's deformed mesh as DIR/<object>.<frame>.obj (the frame "
           "zero-padded to 4 digits), or with --format pc2 or mdd all frames as one cache "
           "DIR/<object>.pc2 or .mdd. A range with A > B, a missing or damaged scene, or a DIR "
           "that is a file is refused before anything is written.";
       spec.options = {
           TextOption("--frames", "A:B", "the frames to evaluate, or one frame A",
                      "the frames the scene's joints are keyed over and its point caches span"),
           Required(TextOption("--out", "DIR",
                               "the folder receiving the meshes or caches (created when its "
                               "parent exists)")),
           ChoiceOption("--format", "FORMAT", "what to write per polygon object",
                        {"obj", "pc2", "mdd"}, "obj"),
           NumberOption("--fps", "F", "frames per second of an MDD cache's times (seconds)",
                        std::nullopt, std::nullopt, "30"),
           FlagOption("--quiet", "print no progress and no summary")};
       return spec;
     }(),
     RunEval});

}  // namespace
}  // namespace cli
