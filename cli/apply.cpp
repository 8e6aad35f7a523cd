// `tessamire apply`: binds a rest mesh and corrects deformed meshes of the same topology through
// the real plug-in in a headless document: a polygon object from the rest mesh with a bind tag
// (bound by its button), then as its children a point cache that holds each frame in turn and
// the plug-in's deformer. The frames come from OBJ files (a list, or a numbered sequence with
// --frames) or from every sample of one point cache; the results go to OBJ files written like
// their input (only positions and normals change) or to one point cache.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/progress.h"
#include "cli/sequence.h"
#include "cli/subcommands.h"
#include "headless/host/deform.h"
#include "headless/host/evaluate.h"
#include "headless/host/parameters.h"
#include "headless/host/platform.h"
#include "headless/host/point_cache.h"
#include "headless/host/registry.h"
#include "headless/host/scene.h"
#include "headless/host/tessamire_ids.h"
#include "headless/io/obj.h"
#include "headless/io/point_cache.h"
#include "headless/io/weights_file.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

using namespace tessamire_ids;

// The options of one run; unset tag settings keep the tag's defaults.
struct ApplyOptions {
  std::string rest;
  std::string out;
  std::vector<std::string> frames;
  bool hasRange = false;
  Int32 first = 0, last = 0;
  Float fps = 30.0;
  std::optional<Int32> iterations;
  std::optional<Int32> weighting;
  std::optional<Int32> pinBorder;
  std::optional<Float> strength;
  std::string vertexMap;
  std::string restriction;
  bool showSmoothed = false;
  bool quiet = false;
  std::string plugins;
};

// A failure of the run (bad file, plug-in refusal): message already names file and line.
struct ApplyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool ParseInt(const std::string& text, Int32& out) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, out);
  return error == std::errc() && stop == end && !text.empty();
}

bool ParseFloat(const std::string& text, Float& out) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, out);
  return error == std::errc() && stop == end && !text.empty() && std::isfinite(out);
}

// False with `error` set on a usage fault.
bool ParseOptions(const std::vector<std::string>& args, ApplyOptions& o, std::string& error) {
  ParsedArgs parsed;
  if (!ParseArgs(args,
                 {"--rest", "--iterations", "--weighting", "--pin-border", "--strength",
                  "--vertex-map", "--restriction", "--out", "--plugins", "--frames", "--fps"},
                 {"--show-smoothed", "--quiet"}, parsed, error))
    return false;
  auto value = [&](const char* name) -> std::string {
    const auto it = parsed.values.find(name);
    return it == parsed.values.end() ? "" : it->second;
  };
  auto has = [&](const char* name) { return parsed.values.count(name) != 0; };
  auto fail = [&](const std::string& message) {
    error = message;
    return false;
  };
  o.rest = value("--rest");
  o.out = value("--out");
  o.frames = parsed.positional;
  o.vertexMap = value("--vertex-map");
  o.restriction = value("--restriction");
  o.plugins = value("--plugins");
  o.showSmoothed = parsed.flags.count("--show-smoothed") != 0;
  o.quiet = parsed.flags.count("--quiet") != 0;
  if (o.rest.empty()) return fail("--rest REST.obj is required");
  if (o.out.empty()) return fail("--out OUT is required");
  if (o.frames.empty()) return fail("no FRAME.obj given");
  if (has("--frames")) {
    if (!ParseFrameRange(value("--frames"), o.first, o.last))
      return fail("--frames wants A:B with whole numbers A <= B (or one frame A), not \"" +
                  value("--frames") + "\"");
    o.hasRange = true;
  }
  if (has("--fps") && !ParseFps(value("--fps"), o.fps))
    return fail("--fps wants a positive number, not \"" + value("--fps") + "\"");
  Int32 n = 0;
  if (has("--iterations")) {
    if (!ParseInt(value("--iterations"), n) || n < 0)
      return fail("--iterations wants a whole number >= 0, not \"" + value("--iterations") + "\"");
    o.iterations = n;
  }
  for (const auto& [name, slot] :
       {std::pair{"--weighting", &o.weighting}, std::pair{"--pin-border", &o.pinBorder}}) {
    if (!has(name)) continue;
    if (!ParseInt(value(name), n) || (n != 0 && n != 1))
      return fail(std::string(name) + " wants 0 or 1, not \"" + value(name) + "\"");
    *slot = n;
  }
  if (has("--strength")) {
    Float s = 0.0;
    if (!ParseFloat(value("--strength"), s))
      return fail("--strength wants a finite number, not \"" + value("--strength") + "\"");
    o.strength = s;
  }
  return true;
}

bool EndsWithObj(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".obj";
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

// The frames of a run: OBJ files, or the samples of one point cache.
struct Frames {
  std::vector<std::string> files;             // OBJ inputs; empty for a cache
  std::optional<headless::PointCache> cache;  // a cache input
  std::string cachePath;
  std::vector<Float> numbers;  // each frame's number (a sample's frame for a cache)

  size_t Count() const { return numbers.size(); }
  std::string Name(size_t i) const {
    return cache ? cachePath + " sample " + std::to_string(i) : files[i];
  }
};

Frames GatherFrames(const ApplyOptions& o, size_t pointCount) {
  Frames frames;
  if (o.frames.size() == 1 && headless::PointCacheFormatOf(o.frames[0])) {
    if (o.hasRange) throw ApplyError("--frames applies to a numbered OBJ sequence, not a cache");
    frames.cachePath = o.frames[0];
    frames.cache = headless::ReadPointCache(o.frames[0]);
    if (static_cast<size_t>(frames.cache->pointCount) != pointCount)
      throw ApplyError(o.frames[0] + ": " + std::to_string(frames.cache->pointCount) +
                       " points per sample, but the rest mesh " + o.rest + " has " +
                       std::to_string(pointCount));
    for (Int64 s = 0; s < frames.cache->SampleCount(); ++s)
      frames.numbers.push_back(frames.cache->SampleFrame(s, o.fps));
    if (frames.numbers.empty()) throw ApplyError(o.frames[0] + ": the cache holds no sample");
    return frames;
  }
  std::vector<Int64> numbers;
  try {
    frames.files = ExpandSequence(o.frames, o.hasRange, o.first, o.last, numbers);
  } catch (const std::invalid_argument& e) {
    throw ApplyError(e.what());
  }
  for (const std::string& file : frames.files)
    if (headless::PointCacheFormatOf(file))
      throw ApplyError(file + ": a point cache is corrected on its own, not among other frames");
  for (Int64 n : numbers) frames.numbers.push_back(static_cast<Float>(n));
  return frames;
}

// A name's frame number: the frame when it is whole, else the sample's position.
Int64 FileNumber(const Frames& frames, size_t i) {
  const Float n = frames.numbers[i];
  return n == std::floor(n) && std::fabs(n) < 1e15 ? static_cast<Int64>(n) : static_cast<Int64>(i);
}

// Where each frame's result goes (empty when it goes into one cache, `o.out`); checks that no
// two frames share a result and that no result would overwrite an input.
std::vector<fs::path> PlanOutputs(const ApplyOptions& o, const Frames& frames) {
  std::vector<fs::path> outputs;
  std::vector<std::string> inputs =
      frames.cache ? std::vector<std::string>{frames.cachePath} : frames.files;
  inputs.push_back(o.rest);
  if (headless::PointCacheFormatOf(o.out)) {
    for (const std::string& input : inputs)
      if (SameFile(o.out, input))
        throw ApplyError(o.out + ": the result would overwrite the input " + input);
    return outputs;
  }
  if (IsFramePattern(o.out)) {
    for (size_t i = 0; i < frames.Count(); ++i)
      outputs.push_back(FramePath(o.out, FileNumber(frames, i)));
  } else if (frames.Count() == 1 && EndsWithObj(o.out)) {
    outputs.push_back(o.out);
  } else {
    std::error_code ec;
    if (fs::exists(o.out, ec) && !fs::is_directory(o.out, ec))
      throw ApplyError(o.out +
                       ": exists and is not a folder (a single frame's result needs a "
                       "name ending in .obj)");
    for (size_t i = 0; i < frames.Count(); ++i) {
      if (frames.cache) {
        outputs.push_back(fs::path(o.out) / (fs::path(frames.cachePath).stem().string() + "." +
                                             PaddedFrame(FileNumber(frames, i)) + ".obj"));
        continue;
      }
      const fs::path name = fs::path(frames.files[i]).filename();
      if (name.empty()) throw ApplyError(frames.files[i] + ": not a file name");
      outputs.push_back(fs::path(o.out) / name);
    }
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    for (size_t j = 0; j < i; ++j)
      if (outputs[i] == outputs[j])
        throw ApplyError(frames.Name(i) + " and " + frames.Name(j) + " would both be written to " +
                         outputs[i].string());
    for (const std::string& input : inputs)
      if (SameFile(outputs[i], input))
        throw ApplyError(outputs[i].string() + ": the result would overwrite the input " + input);
  }
  return outputs;
}

// The frame's OBJ file, checked against the rest mesh's points and faces.
headless::ObjFile ReadFrame(const std::string& path, const headless::ObjFile& rest) {
  headless::ObjFile frame = headless::ReadObjFile(path);
  if (frame.mesh.points.size() != rest.mesh.points.size())
    throw ApplyError(path + ": " + std::to_string(frame.mesh.points.size()) + " points, but the " +
                     "rest mesh " + rest.name + " has " + std::to_string(rest.mesh.points.size()));
  headless::CheckSameFaces(rest, frame);
  return frame;
}

// The cache the results go into: the input cache's timing when it is of the same format,
// else the frames' numbers (PC2: the first and the mean step; MDD: frame / fps seconds).
headless::PointCache OutputCache(const ApplyOptions& o, const Frames& frames) {
  headless::PointCache out;
  out.format = *headless::PointCacheFormatOf(o.out);
  if (frames.cache && frames.cache->format == out.format) {
    out.startFrame = frames.cache->startFrame;
    out.sampleRate = frames.cache->sampleRate;
    out.times = frames.cache->times;
    return out;
  }
  const size_t n = frames.Count();
  out.startFrame = static_cast<Float32>(frames.numbers.front());
  out.sampleRate = n > 1 ? static_cast<Float32>((frames.numbers.back() - frames.numbers.front()) /
                                                static_cast<Float>(n - 1))
                         : 1.0f;
  if (!(out.sampleRate > 0.0f)) out.sampleRate = 1.0f;
  if (out.format == headless::PointCacheFormat::kMdd)
    for (Float frame : frames.numbers) out.times.push_back(static_cast<Float32>(frame / o.fps));
  return out;
}

headless::Value IntValue(Int32 v) {
  headless::Value value;
  value.type = headless::ValueType::kInt32;
  value.int32 = v;
  return value;
}

// The scene: the rest object with its bind tag, maps, point cache and deformer.
struct ApplyScene {
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
  headless::Node* object = nullptr;
  headless::Node* cache = nullptr;
};

ApplyScene BuildScene(const ApplyOptions& o, const headless::Mesh& rest,
                      std::vector<Float32> vertexMap, std::vector<Float32> restriction) {
  headless::Registration registration;
  if (!headless::FindRegistration(kTagId, registration) ||
      !headless::FindRegistration(kDeformerId, registration))
    throw ApplyError("the plug-in did not register its bind tag and deformer");
  ApplyScene scene;
  scene.object =
      scene.doc->AddPolygonObject(fs::path(o.rest).stem().string(), rest.points, rest.polygons);
  headless::Node* tag = scene.object ? scene.doc->AddTag(scene.object, kTagId) : nullptr;
  if (tag == nullptr) throw ApplyError("the bind tag could not be created");

  if (o.iterations) headless::SetParameter(tag, kIterations, IntValue(*o.iterations));
  if (o.weighting) headless::SetParameter(tag, kWeighting, IntValue(*o.weighting));
  if (o.pinBorder) headless::SetParameter(tag, kPinBorder, IntValue(*o.pinBorder));
  if (o.showSmoothed) headless::SetParameter(tag, kShowSmooth, IntValue(1));
  if (o.strength) {
    headless::Value value;
    value.type = headless::ValueType::kFloat;
    value.real = *o.strength;
    headless::SetParameter(tag, kStrength, value);
  }
  if (!o.vertexMap.empty()) {
    headless::Node* map = scene.doc->AddVertexMap(scene.object, std::move(vertexMap), "vertex map");
    headless::Value link;
    link.type = headless::ValueType::kLink;
    link.link.target = map->serial;
    headless::SetParameter(tag, kVertexMapLink, link);
  }
  if (!headless::PressButton(tag, kBindButton))
    throw ApplyError(o.rest + ": the bind tag refused to bind the rest mesh");

  scene.cache = scene.doc->AddObject(headless::kPointCacheType, "point cache", scene.object);
  headless::Node* deformer = scene.doc->AddObject(kDeformerId, "deformer", scene.object);
  if (scene.cache == nullptr || deformer == nullptr)
    throw ApplyError("the point cache or the deformer could not be created");
  if (!o.restriction.empty()) {
    headless::Node* map =
        scene.doc->AddVertexMap(scene.object, std::move(restriction), "restriction");
    headless::RestrictDeformer(deformer, map);
  }
  return scene;
}

int Apply(const ApplyOptions& o, std::ostream& err) {
  const headless::ObjFile rest = headless::ReadObjFile(o.rest);
  const size_t count = rest.mesh.points.size();
  const std::string restName = "the rest mesh " + o.rest;
  std::vector<Float32> vertexMap, restriction;
  if (!o.vertexMap.empty()) vertexMap = headless::ReadWeightsFile(o.vertexMap, count, restName);
  if (!o.restriction.empty())
    restriction = headless::ReadWeightsFile(o.restriction, count, restName);
  const Frames frames = GatherFrames(o, count);
  const std::vector<fs::path> outputs = PlanOutputs(o, frames);
  // Every input is checked before anything is written.
  for (const std::string& file : frames.files) ReadFrame(file, rest);

  headless::PluginFolder folder;
  if (!StartPlugins(o.plugins, folder, err)) return kExitFailure;
  ApplyScene scene = BuildScene(o, rest.mesh, std::move(vertexMap), std::move(restriction));

  std::optional<headless::PointCache> cacheOut;
  if (outputs.empty()) {
    cacheOut = OutputCache(o, frames);
    if (fs::path(o.out).has_parent_path()) fs::create_directories(fs::path(o.out).parent_path());
  } else {
    for (const fs::path& output : outputs)
      if (output.has_parent_path()) fs::create_directories(output.parent_path());
  }
  // One frame needs no progress report.
  const size_t total = frames.Count();
  headless::Progress progress(
      err,
      headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), o.quiet || total < 2),
      "tessamire apply", "frame", static_cast<Int64>(total));
  for (size_t i = 0; i < total; ++i) {
    std::optional<headless::ObjFile> input;
    if (frames.cache) {
      headless::LoadPointCacheFrame(scene.cache, frames.cache->Sample(static_cast<Int64>(i)));
    } else {
      input = ReadFrame(frames.files[i], rest);
      headless::LoadPointCacheFrame(scene.cache, input->mesh.points);
    }
    const headless::DeformReport report = headless::EvaluateDocument(*scene.doc);
    for (const std::string& warning : report.warnings)
      err << "tessamire apply: warning: " << warning << "\n";
    if (!report.Ok()) throw ApplyError(frames.Name(i) + ": " + report.errors.front());
    const std::vector<Vector3>& corrected = headless::DeformedPoints(scene.object);
    if (cacheOut) {
      headless::AppendSample(*cacheOut, corrected);
      progress.Step(frames.Name(i));
    } else {
      headless::WriteObjLike(outputs[i].string(), input ? *input : rest, corrected);
      progress.Step(frames.Name(i) + " -> " + outputs[i].string());
    }
  }
  if (cacheOut) headless::WritePointCache(o.out, *cacheOut);
  progress.Finish();
  scene.doc.reset();
  folder.Close();
  return kExitOk;
}

int RunApply(const std::vector<std::string>& args, std::ostream&, std::ostream& err) {
  ApplyOptions options;
  std::string error;
  if (!ParseOptions(args, options, error)) {
    err << "tessamire apply: " << error << "\n";
    return kExitUsage;
  }
  try {
    return Apply(options, err);
  } catch (const std::exception& e) {
    err << "tessamire apply: " << e.what() << "\n";
    return kExitFailure;
  }
}

const SubcommandRegistration kApply(
    {"apply",
     "apply --rest REST.obj [--iterations N] [--weighting 0|1] [--pin-border 0|1] [--strength S] "
     "[--vertex-map W.txt] [--restriction R.txt] [--show-smoothed] [--quiet] [--plugins DIR] "
     "[--frames A:B] [--fps F] --out OUT FRAME.obj...|SEQ.####.obj|CACHE.pc2|CACHE.mdd",
     "bind REST.obj with the plug-in's bind tag and correct each frame (same points and faces) "
     "with its deformer: OBJ files, a numbered sequence (#### or %04d) over --frames A:B, or "
     "every sample of a point cache (MDD times at F per second, default 30). OUT ending in .pc2 "
     "or .mdd gets one cache of all frames; a pattern gets one OBJ per frame; one frame and OUT "
     "ending in .obj write that file; otherwise OUT is a folder receiving each frame under its "
     "own name (a cache's samples as <cache>.<frame>.obj). OBJ results keep every line of their "
     "input but the positions and normals",
     RunApply});

}  // namespace
}  // namespace cli
