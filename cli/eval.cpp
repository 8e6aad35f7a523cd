// `tessamire eval`: loads a saved scene, evaluates it at each frame of a range (keyed joints
// first, then the expression and deform passes) and writes every polygon object's deformed mesh:
// per frame as `<object>.<frame>.obj` (the frame zero-padded to 4 digits), or all frames in one
// point cache per object, `<object>.pc2` or `<object>.mdd`.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

#include "cli/eval.h"
#include "cli/keyed_range.h"
#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "cli/subcommands.h"
#include "headless/deformers/point_cache.h"
#include "headless/io/obj.h"
#include "headless/io/point_cache.h"
#include "headless/io/printable.h"
#include "headless/io/scene_file.h"
#include "headless/platform/platform.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

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

// The files a run writes into `dir`: per polygon object its cache, or its mesh at each frame.
struct Outputs {
  std::string dir;
  std::vector<std::string> stems;
  std::string format;
  FrameRange range;

  bool Cache() const { return format != "obj"; }
  std::string File(size_t object, Int64 frame) const {
    const std::string name =
        Cache() ? stems[object] + "." + format : stems[object] + "." + PaddedFrame(frame) + ".obj";
    return headless::platform::Utf8FromPath(headless::platform::PathFromUtf8(dir) /
                                            headless::platform::PathFromUtf8(name));
  }
  // Whether the file called `name` in `dir` is one of them.
  bool Holds(const std::string& name) const {
    for (const std::string& stem : stems) {
      if (Cache()) {
        if (name == stem + "." + format) return true;
        continue;
      }
      const std::string prefix = stem + ".";
      if (name.size() <= prefix.size() + 4 || name.rfind(prefix, 0) != 0 ||
          name.substr(name.size() - 4) != ".obj")
        continue;
      const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
      Int64 frame = 0;
      if (ParseInteger(middle, frame) && frame >= range.first && frame <= range.last &&
          PaddedFrame(frame) == middle)
        return true;
    }
    return false;
  }
};

// Stops before anything is written when the outputs would not fit in the free space of their
// folder, counting the files they replace as free. An OBJ is about as large as the scene's own
// mesh written out; a cache's size is exact.
void CheckFreeSpace(const Outputs& outputs, const std::vector<headless::Node*>& objects) {
  const Float frames = static_cast<Float>(outputs.range.last) - outputs.range.first + 1;
  Float needed = 0.0;
  for (const headless::Node* object : objects) {
    const Float points = static_cast<Float>(object->points.size());
    needed += outputs.Cache()
                  ? 32.0 + frames * (4.0 + 12.0 * points)
                  : frames * static_cast<Float>(
                                 headless::PlainObjText(object->points, object->polygons).size());
  }
  std::error_code ec;
  const fs::path folder = headless::platform::PathFromUtf8(outputs.dir);
  const fs::space_info space = fs::space(folder, ec);
  if (ec) return;  // a file system that cannot say: the writes themselves will tell
  Float free = static_cast<Float>(space.available);
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file(ec) &&
        outputs.Holds(headless::platform::Utf8FromPath(entry.path().filename())))
      free += static_cast<Float>(entry.file_size(ec));
  if (needed > free)
    throw std::runtime_error(outputs.dir + ": the outputs need about " +
                             std::to_string(static_cast<Int64>(needed / 1048576.0)) +
                             " MiB, but only " +
                             std::to_string(static_cast<Int64>(free / 1048576.0)) +
                             " MiB are free; nothing was written");
}

}  // namespace

EvalRequest ParseEvalRequest(const Options& options, const std::string& command) {
  EvalRequest request;
  request.command = command;
  request.source = options.Operands().front();
  if (options.Has("--frames")) {
    FrameRange range;
    if (!ParseFrameRange(options.Text("--frames"), range.first, range.last))
      throw UsageError("--frames wants A:B with whole numbers A <= B (or one frame A), not \"" +
                       options.Text("--frames") + "\"");
    request.frames = range;
  }
  request.format = options.Text("--format", "obj");
  request.fps = options.Number("--fps");
  if (request.fps && !(*request.fps > 0.0)) throw UsageError("--fps wants a number above 0");
  request.quiet = options.Has("--quiet");
  request.dir = options.Text("--out");
  if (request.dir == "-") throw UsageError("--out wants a folder; a file is written per object");
  return request;
}

int EvaluateScene(headless::Document& doc, const EvalRequest& request, std::ostream& out,
                  std::ostream& err) {
  const std::string& path = request.source;
  const std::string& format = request.format;
  const std::string& dir = request.dir;
  const bool quiet = request.quiet;
  const bool hasRange = request.frames.has_value();
  const Float fps = request.fps.value_or(doc.FrameRate());
  const std::string command = request.command;
  FrameRange range = request.frames.value_or(FrameRange{});
  if (!hasRange) range = KeyedRange(doc);
  const Int64 total = static_cast<Int64>(range.last) - range.first + 1;
  if (!hasRange && total > kMaxKeyedFrames)
    throw std::runtime_error(path + ": the keys span " + std::to_string(total) + " frames (" +
                             std::to_string(range.first) + " to " + std::to_string(range.last) +
                             "), more than " + std::to_string(kMaxKeyedFrames) +
                             "; give --frames A:B to evaluate that many");
  std::vector<headless::Node*> objects;
  for (headless::Node* node : doc.Objects())
    if (node->IsPolygonObject()) objects.push_back(node);
  if (objects.empty()) throw std::runtime_error(path + ": the scene holds no polygon object");
  const std::vector<std::string> stems = FileStems(objects);
  PrepareFolder(dir);

  const bool cache = format != "obj";
  const Outputs outputs{dir, stems, format, range};
  // The scene itself may lie among the outputs.
  const fs::path scene = headless::platform::PathFromUtf8(path);
  const std::string sceneName = headless::platform::Utf8FromPath(scene.filename());
  if (SameFile(
          scene.parent_path().empty() ? "." : headless::platform::Utf8FromPath(scene.parent_path()),
          dir) &&
      outputs.Holds(sceneName))
    throw std::runtime_error(
        headless::platform::Utf8FromPath(headless::platform::PathFromUtf8(dir) / scene.filename()) +
        ": the result would overwrite the input " + path);
  CheckFreeSpace(outputs, objects);

  std::vector<headless::PointCache> caches(objects.size());
  for (headless::PointCache& c : caches) {
    c.format =
        format == "pc2" ? headless::PointCacheFormat::kPc2 : headless::PointCacheFormat::kMdd;
    c.startFrame = static_cast<Float32>(range.first);
  }
  headless::Progress progress(
      err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), quiet), command,
      "frame", total);
  Int64 pointsKept = 0;
  for (Int64 frame = range.first; frame <= range.last; ++frame) {
    headless::StopIfInterrupted();
    const headless::DeformReport report =
        headless::EvaluateDocumentAtFrame(doc, static_cast<Float>(frame));
    for (const std::string& warning : report.warnings)
      err << command << ": warning: frame " << frame << ": " << headless::Printable(warning)
          << "\n";
    if (!report.Ok())
      throw std::runtime_error(path + ": frame " + std::to_string(frame) + ": " +
                               report.errors.front());
    pointsKept += report.PointsKept();
    for (size_t i = 0; i < objects.size(); ++i) {
      const std::vector<Vector3>& points = headless::DeformedPoints(objects[i]);
      if (cache) {
        headless::AppendSample(caches[i], points);
        if (caches[i].format == headless::PointCacheFormat::kMdd)
          caches[i].times.push_back(static_cast<Float32>(static_cast<Float>(frame) / fps));
      } else {
        headless::WriteObj(outputs.File(i, frame), points, objects[i]->polygons);
      }
    }
    progress.Step("at frame " + std::to_string(frame));
  }
  for (size_t i = 0; cache && i < objects.size(); ++i)
    headless::WritePointCache(outputs.File(i, range.first), caches[i]);
  progress.Finish();
  if (!quiet)
    out << "wrote "
        << (cache ? std::to_string(objects.size()) + (objects.size() == 1 ? " cache" : " caches") +
                        " of " + std::to_string(total) + " frames"
                  : std::to_string(total * static_cast<Int64>(objects.size())) + " meshes")
        << " to " << dir << "\n";
  return KeptPointsExit(pointsKept, command, err);
}

namespace {

int RunEval(const Options& options, std::ostream& out, std::ostream& err) {
  const EvalRequest request = ParseEvalRequest(options, "tessamire eval");
  const std::unique_ptr<headless::Document> doc = headless::LoadScene(request.source);
  return EvaluateScene(*doc, request, out, err);
}

const SubcommandRegistration kEval(
    {[] {
       CommandSpec declaration;
       declaration.name = "eval";
       declaration.operands = "SCENE";
       declaration.minOperands = 1;
       declaration.maxOperands = 1;
       declaration.summary =
           "evaluate a saved scene over a range of frames and write each polygon object's "
           "deformed mesh per frame, or all frames as one point cache per object";
       declaration.details =
           "Loads SCENE (- for the standard input), evaluates it at every frame from A to "
           "B (keyed joints first, then expression tags, then deformers in tree order) and "
           "writes each polygon object's deformed mesh as DIR/<object>.<frame>.obj (the frame "
           "zero-padded to 4 digits), or with --format pc2 or mdd all frames as one cache "
           "DIR/<object>.pc2 or .mdd. A range with A > B, a missing or damaged scene, or a DIR "
           "that is a file is refused before anything is written.";
       declaration.options = {
           TextOption("--frames", "A:B", "the frames to evaluate, or one frame A",
                      "the frames the scene's joints are keyed over and its point caches span"),
           Required(TextOption("--out", "DIR",
                               "the folder receiving the meshes or caches (created when its "
                               "parent exists)")),
           ChoiceOption("--format", "FORMAT", "what to write per polygon object",
                        {"obj", "pc2", "mdd"}, "obj"),
           NumberOption("--fps", "F", "frames per second of an MDD cache's times (seconds)",
                        std::nullopt, std::nullopt, "the scene's own rate"),
           FlagOption("--quiet", "print no progress and no summary")};
       return declaration;
     }(),
     RunEval});

}  // namespace
}  // namespace cli
