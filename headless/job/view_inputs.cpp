#include "headless/job/view_inputs.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "headless/batch/frame_sequence.h"
#include "headless/files/input_ranges.h"
#include "headless/files/printable.h"
#include "headless/io/obj_read.h"
#include "headless/io/scene_file.h"
#include "headless/platform/paths.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"

namespace headless {
namespace {

ObjFile ReadViewMeshFile(const std::string& path) {
  ObjFile file = ReadObjFile(path);
  CheckCoordinateRange(file.mesh.points, path);
  return file;
}

// Every frame has the first frame's faces.
void AddSequence(const ViewSource& source, const std::string& name, ViewPage& page,
                 ProgressObserver& progress) {
  std::optional<ObjFile> first;
  Int32 input = 0;
  for (Int64 f = source.range.first; f <= source.range.last; ++f) {
    const std::string file = FramePath(source.operand, f);
    const ObjFile frame = ReadViewMeshFile(file);
    if (!first) {
      first = frame;
      input =
          page.AddInput(name, static_cast<Int64>(frame.mesh.points.size()), frame.mesh.polygons);
    } else {
      CheckSameFaces(*first, frame);
    }
    page.AddFrame(input, static_cast<Float>(f), frame.mesh.points);
    progress.Step(file);
  }
}

// Frames at the times the file keys them; a mesh without frames shows at rest. The meshes share
// the panel of `group`.
void AddGlb(const ViewSource& source, const std::string& fileName, Int32 group, Float fps,
            ViewPage& page, ProgressObserver& progress) {
  for (const MorphedMesh& mesh : source.glb) {
    const std::string name = fileName + ": " + mesh.name;
    const Int32 input =
        page.AddInput(name, static_cast<Int64>(mesh.rest.points.size()), mesh.rest.polygons, group);
    if (mesh.frames.empty()) {
      page.AddFrame(input, 0.0, mesh.rest.points);
      progress.Step(name);
    }
    Float before = -HUGE_VAL;
    for (size_t k = 0; k < mesh.frames.size(); ++k) {
      before = ViewFrameLabel(mesh.seconds[k] * fps, before);
      page.AddFrame(input, before, mesh.frames[k]);
      progress.Step(name + " frame " + std::to_string(k + 1));
    }
  }
}

// Every polygon object an input, all in the panel of `group`.
void AddScene(const ViewSource& source, const std::string& fileName, Int32 group, ViewPage& page,
              ProgressObserver& progress,
              const std::function<void(const std::string& line)>& warning) {
  const std::string& operand = source.operand;
  std::vector<Int32> inputs;
  for (const Node* object : source.objects)
    inputs.push_back(page.AddInput(fileName + ": " + object->name,
                                   static_cast<Int64>(object->points.size()), object->polygons,
                                   group));
  for (Int64 f = source.range.first; f <= source.range.last; ++f) {
    const DeformReport report = EvaluateDocumentAtFrame(*source.scene, static_cast<Float>(f));
    for (const std::string& w : report.warnings)
      if (warning) warning(operand + ": frame " + std::to_string(f) + ": " + Printable(w));
    if (!report.Ok())
      throw std::runtime_error(operand + ": frame " + std::to_string(f) + ": " +
                               report.errors.front());
    for (size_t i = 0; i < source.objects.size(); ++i)
      page.AddFrame(inputs[i], static_cast<Float>(f), DeformedPoints(source.objects[i]));
    progress.Step(operand + " at frame " + std::to_string(f));
  }
}

// Adds the source's inputs and frames to the page, named `name`, a character's meshes in the
// panel of `group`.
void AddViewSource(const ViewSource& source, const std::string& name, Int32 group,
                   const ViewReading& reading, ViewPage& page, ProgressObserver& progress,
                   const std::function<void(const std::string& line)>& warning) {
  const std::string& operand = source.operand;
  switch (source.kind) {
    case ViewSourceKind::kMesh: {
      const Mesh mesh = ReadViewMesh(operand);
      page.AddFrame(page.AddInput(name, static_cast<Int64>(mesh.points.size()), mesh.polygons), 0.0,
                    mesh.points);
      progress.Step(operand);
      return;
    }
    case ViewSourceKind::kSequence:
      return AddSequence(source, name, page, progress);
    case ViewSourceKind::kCache: {
      const Int32 input = page.AddInput(name, source.cache->pointCount, reading.rest->polygons);
      Float before = -HUGE_VAL;
      for (Int64 s = 0; s < source.cache->SampleCount(); ++s) {
        before = ViewFrameLabel(source.cache->SampleFrame(s, reading.fps), before);
        page.AddFrame(input, before, source.cache->Sample(s));
        progress.Step(operand + " sample " + std::to_string(s));
      }
      return;
    }
    case ViewSourceKind::kGlb:
      return AddGlb(source, name, group, reading.fps, page, progress);
    case ViewSourceKind::kScene:
      return AddScene(source, name, group, page, progress, warning);
  }
}

}  // namespace

Float ViewFrameLabel(Float frame, Float before) {
  // float32 times make 58.75 frames 58.750001220703126: a thousandth is as fine as a frame's
  // label needs, unless two frames would then read the same.
  const Float whole = std::round(frame);
  if (std::fabs(frame - whole) < 1e-3 && whole > before) return whole;
  const Float thousandths = std::round(frame * 1e3) / 1e3;
  return thousandths > before ? thousandths : frame;
}

std::string ViewInputName(const std::string& path) {
  return path == "-" ? "standard input"
                     : platform::Utf8FromPath(platform::PathFromUtf8(path).filename());
}

std::vector<std::string> ViewInputNames(const std::vector<std::string>& paths) {
  std::vector<std::string> names;
  for (const std::string& path : paths) names.push_back(ViewInputName(path));
  std::vector<std::string> labelled(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    labelled[i] = names[i];
    if (std::count(names.begin(), names.end(), names[i]) < 2 || paths[i] == "-") continue;
    const std::filesystem::path folder = platform::PathFromUtf8(paths[i]).parent_path().filename();
    labelled[i] =
        (folder.empty() ? std::string(".") : platform::Utf8FromPath(folder)) + "/" + names[i];
  }
  return labelled;
}

Mesh ReadViewMesh(const std::string& path) {
  return ReadViewMeshFile(path).mesh;
}

ViewSourceKind ViewSourceKindOf(const std::string& operand) {
  if (PointCacheFormatOf(operand)) return ViewSourceKind::kCache;
  if (IsFramePattern(operand)) return ViewSourceKind::kSequence;
  if (IsGlbFile(operand)) return ViewSourceKind::kGlb;
  if (IsSceneFile(operand)) return ViewSourceKind::kScene;
  return ViewSourceKind::kMesh;
}

Int64 ViewSource::Inputs() const {
  if (kind == ViewSourceKind::kScene) return static_cast<Int64>(objects.size());
  return kind == ViewSourceKind::kGlb ? static_cast<Int64>(glb.size()) : 1;
}

Int64 ViewSource::Frames() const {
  switch (kind) {
    case ViewSourceKind::kMesh:
      return 1;
    case ViewSourceKind::kCache:
      return cache->SampleCount();
    case ViewSourceKind::kGlb: {
      Int64 frames = 0;
      for (const MorphedMesh& mesh : glb)
        frames += std::max<Int64>(1, static_cast<Int64>(mesh.frames.size()));
      return frames;
    }
    default:
      return static_cast<Int64>(range.last) - range.first + 1;
  }
}

ViewSource OpenViewSource(const std::string& operand, ViewSourceKind kind,
                          const ViewReading& reading) {
  ViewSource source;
  source.operand = operand;
  source.kind = kind;
  if (kind == ViewSourceKind::kCache) {
    source.cache = ReadPointCache(operand);
    if (static_cast<size_t>(source.cache->pointCount) != reading.rest->points.size())
      throw std::runtime_error(operand + ": " + std::to_string(source.cache->pointCount) +
                               " points per sample, but the rest mesh " + reading.restPath +
                               " has " + std::to_string(reading.rest->points.size()));
    if (source.cache->SampleCount() == 0) throw std::runtime_error(operand + ": no sample");
  } else if (kind == ViewSourceKind::kSequence) {
    source.range = *reading.frames;
  } else if (kind == ViewSourceKind::kGlb) {
    source.glb = ReadGlb(operand, reading.assetRoot);
    for (const MorphedMesh& mesh : source.glb) CheckCoordinateRange(mesh.rest.points, operand);
  } else if (kind == ViewSourceKind::kScene) {
    source.scene = LoadScene(operand);
    for (Node* node : source.scene->Objects())
      if (node->IsPolygonObject()) source.objects.push_back(node);
    if (source.objects.empty())
      throw std::runtime_error(operand + ": the scene holds no polygon object");
    source.range = reading.frames ? *reading.frames : KeyedRange(*source.scene);
    const Int64 count = source.Frames();
    if (!reading.frames && count > kMaxKeyedFrames)
      throw std::runtime_error(operand + ": the keys span " + std::to_string(count) +
                               " frames, more than " + std::to_string(kMaxKeyedFrames) +
                               "; give --frames A:B to show that many");
  }
  return source;
}

void AddViewSources(const std::vector<ViewSource>& sources, const ViewReading& reading,
                    ViewPage& page, ProgressObserver& progress,
                    const std::function<void(const std::string& line)>& warning) {
  Int64 total = 0;
  for (const ViewSource& source : sources) total += source.Frames();
  progress.Begin("frame", total);
  std::vector<std::string> operands;
  for (const ViewSource& source : sources) operands.push_back(source.operand);
  const std::vector<std::string> names = ViewInputNames(operands);
  for (size_t i = 0; i < sources.size(); ++i)
    AddViewSource(sources[i], names[i], static_cast<Int32>(page.Builder().InputCount()), reading,
                  page, progress, warning);
  progress.Finish();
}

}  // namespace headless
