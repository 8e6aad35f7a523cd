// `tessamire apply`: binds a rest mesh and corrects deformed meshes of the same topology through
// the real plug-in in a headless document: a polygon object from the rest mesh with a bind tag
// (bound by its button), then as its children a point cache that holds each frame in turn and
// the plug-in's deformer.
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
                  "--vertex-map", "--restriction", "--out", "--plugins"},
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

// Where each frame's result goes; checks that no two frames share a result and that no result
// would overwrite an input.
std::vector<fs::path> PlanOutputs(const ApplyOptions& o) {
  std::vector<fs::path> outputs;
  if (o.frames.size() == 1 && EndsWithObj(o.out)) {
    outputs.push_back(o.out);
  } else {
    std::error_code ec;
    if (fs::exists(o.out, ec) && !fs::is_directory(o.out, ec))
      throw ApplyError(o.out +
                       ": exists and is not a folder (a single frame's result needs a "
                       "name ending in .obj)");
    for (const std::string& frame : o.frames) {
      const fs::path name = fs::path(frame).filename();
      if (name.empty()) throw ApplyError(frame + ": not a file name");
      outputs.push_back(fs::path(o.out) / name);
    }
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    for (size_t j = 0; j < i; ++j)
      if (outputs[i] == outputs[j])
        throw ApplyError(o.frames[i] + " and " + o.frames[j] + " would both be written to " +
                         outputs[i].string());
    std::vector<std::string> inputs = o.frames;
    inputs.push_back(o.rest);
    for (const std::string& input : inputs)
      if (SameFile(outputs[i], input))
        throw ApplyError(outputs[i].string() + ": the result would overwrite the input " + input);
  }
  return outputs;
}

// The frame's points, checked against the rest mesh's point count.
std::vector<Vector3> ReadFrame(const std::string& path, size_t pointCount,
                               const std::string& restPath) {
  headless::Mesh mesh = headless::ReadObj(path);
  if (mesh.points.size() != pointCount)
    throw ApplyError(path + ": " + std::to_string(mesh.points.size()) + " points, but the rest " +
                     "mesh " + restPath + " has " + std::to_string(pointCount));
  return std::move(mesh.points);
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
  const headless::Mesh rest = headless::ReadObj(o.rest);
  const size_t count = rest.points.size();
  const std::string restName = "the rest mesh " + o.rest;
  std::vector<Float32> vertexMap, restriction;
  if (!o.vertexMap.empty()) vertexMap = headless::ReadWeightsFile(o.vertexMap, count, restName);
  if (!o.restriction.empty())
    restriction = headless::ReadWeightsFile(o.restriction, count, restName);
  const std::vector<fs::path> outputs = PlanOutputs(o);
  // Every input is checked before anything is written.
  for (const std::string& frame : o.frames) ReadFrame(frame, count, o.rest);

  headless::PluginFolder folder;
  if (!StartPlugins(o.plugins, folder, err)) return kExitFailure;
  ApplyScene scene = BuildScene(o, rest, std::move(vertexMap), std::move(restriction));

  if (outputs.size() > 1 || !EndsWithObj(o.out)) {
    fs::create_directories(o.out);
  } else if (outputs[0].has_parent_path()) {
    fs::create_directories(outputs[0].parent_path());
  }
  // One frame needs no progress report.
  headless::Progress progress(err,
                              headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(),
                                                            o.quiet || o.frames.size() < 2),
                              "tessamire apply", "frame", static_cast<Int64>(o.frames.size()));
  for (size_t i = 0; i < o.frames.size(); ++i) {
    headless::LoadPointCacheFrame(scene.cache, ReadFrame(o.frames[i], count, o.rest));
    const headless::DeformReport report = headless::EvaluateDocument(*scene.doc);
    for (const std::string& warning : report.warnings)
      err << "tessamire apply: warning: " << warning << "\n";
    if (!report.Ok()) throw ApplyError(o.frames[i] + ": " + report.errors.front());
    headless::WriteObj(outputs[i].string(), headless::DeformedPoints(scene.object), rest.polygons);
    progress.Step(o.frames[i] + " -> " + outputs[i].string());
  }
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
     "--out OUT FRAME.obj...",
     "bind REST.obj with the plug-in's bind tag and correct each FRAME.obj (same points and "
     "polygons) with its deformer; one frame and OUT ending in .obj write that file, otherwise "
     "OUT is a folder receiving each frame under its own name",
     RunApply});

}  // namespace
}  // namespace cli
