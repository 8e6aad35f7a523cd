#include "headless/batch/evaluate_scene.h"

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "headless/batch/scene_pose_guard.h"
#include "headless/characters/rig_pose.h"
#include "headless/files/interruption.h"
#include "headless/files/output_folder.h"
#include "headless/files/planned_outputs.h"
#include "headless/files/printable.h"
#include "headless/io/results.h"
#include "headless/platform/paths.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"

namespace headless {
namespace {

namespace fs = std::filesystem;

// The range given, or the keys' when it fits in kMaxKeyedFrames.
FrameRange RangeOf(const Document& doc, const EvalRequest& request) {
  if (request.frames) return *request.frames;
  const FrameRange range = KeyedRange(doc);
  const Int64 total = static_cast<Int64>(range.last) - range.first + 1;
  if (total > kMaxKeyedFrames)
    throw std::runtime_error(
        request.source + ": the keys span " + std::to_string(total) + " frames (" +
        std::to_string(range.first) + " to " + std::to_string(range.last) + "), more than " +
        std::to_string(kMaxKeyedFrames) + "; give --frames A:B to evaluate that many");
  return range;
}

std::vector<Node*> PolygonObjects(const Document& doc, const std::string& source) {
  std::vector<Node*> objects;
  for (Node* node : doc.Objects())
    if (node->IsPolygonObject()) objects.push_back(node);
  if (objects.empty()) throw std::runtime_error(source + ": the scene holds no polygon object");
  return objects;
}

ResultOptions ResultOptionsOf(const Document& doc, const EvalRequest& request,
                              const std::vector<Node*>& objects) {
  ResultOptions results;
  const std::optional<ResultFormat> format = ResultFormatNamed(request.format);
  if (!format) throw std::invalid_argument("no result format is called " + request.format);
  if (request.worldSpace) {
    if (*format == ResultFormat::kGlb)
      throw std::invalid_argument(
          "world space applies to OBJ files and point caches; a glTF places its meshes itself");
    results.placements = WorldPlacements(doc, objects);
  }
  results.format = *format;
  results.folder = request.dir;
  if (request.source != "-")
    results.name = platform::Utf8FromPath(platform::PathFromUtf8(request.source).stem());
  results.fps = request.fps.value_or(doc.FrameRate());
  results.frameSeconds = request.frameSeconds;
  results.welded = request.welded;
  results.sceneVersion = request.sceneVersion;
  if (!request.glbForm.empty()) {
    const std::optional<GlbForm> form = GlbFormNamed(request.glbForm);
    if (!form) throw std::invalid_argument("no glTF form is called " + request.glbForm);
    results.glbForm = *form;
  }
  results.rig = doc.rig;
  results.influences = request.influences;
  results.quantised = request.quantised;
  results.restMeshes = request.restMeshes;
  return results;
}

// The results in the folder, the command's other outputs, and what it read.
void CheckPlannedOutputs(const ResultWriter& writer, const EvalRequest& request) {
  std::vector<PlannedOutput> planned{
      {request.dir, "the result", [&](const std::string& name) { return writer.Holds(name); }}};
  planned.insert(planned.end(), request.alsoWritten.begin(), request.alsoWritten.end());
  std::vector<std::string> read{request.source};
  read.insert(read.end(), request.alsoRead.begin(), request.alsoRead.end());
  CheckOutputs(planned, read);
}

// Evaluates and writes frames first .. last; answers the points kept.
Int64 WriteFrames(Document& doc, const EvalRequest& request, const EvalObserver& observer,
                  FrameRange range, ResultWriter& writer) {
  Int64 pointsKept = 0;
  std::optional<ScenePoseGuard> guard;
  if (request.poseCheck) guard.emplace(doc, *request.poseCheck);
  for (Int64 frame = range.first; frame <= range.last; ++frame) {
    StopIfInterrupted();
    const DeformReport report = EvaluateDocumentAtFrame(doc, static_cast<Float>(frame));
    if (observer.message)
      for (const std::string& warning : report.warnings)
        observer.message(request.command + ": warning: frame " + std::to_string(frame) + ": " +
                         Printable(warning));
    if (!report.Ok())
      throw std::runtime_error(request.source + ": frame " + std::to_string(frame) + ": " +
                               report.errors.front());
    pointsKept += report.PointsKept();
    writer.AddFrame(frame);
    if (guard) guard->Check(static_cast<Float>(frame), frame - range.first);
    if (observer.progress != nullptr) observer.progress->Step("at frame " + std::to_string(frame));
  }
  writer.Finish();
  if (observer.message && guard)
    for (const std::string& note : guard->Notes())
      observer.message(request.command + ": note: " + request.source + ": " + Printable(note));
  if (observer.message)
    for (const std::string& note : writer.FinishNotes())
      observer.message(request.command + ": note: " + request.source + ": " + Printable(note));
  return pointsKept;
}

void WriteRestMeshes(const EvalRequest& request, const std::vector<Node*>& objects,
                     ResultWriter& writer) {
  if (!request.restMeshes) return;
  for (size_t i = 0; i < objects.size(); ++i) {
    const auto posed = request.restPoints.find(objects[i]);
    writer.WriteRest(i, posed != request.restPoints.end() ? posed->second : objects[i]->points);
  }
}

}  // namespace

std::vector<std::string> PlannedOutputs(const Document& doc, const EvalRequest& request) {
  const FrameRange range = RangeOf(doc, request);
  const std::vector<Node*> objects = PolygonObjects(doc, request.source);
  ResultOptions options = ResultOptionsOf(doc, request, objects);
  if (options.format != ResultFormat::kGlb)
    return ResultWriter(objects, options, range.first, range.last).Planned();
  // A glTF writer would be begun only to name its one file: the names come from an OBJ writer.
  options.format = ResultFormat::kObj;
  const ResultWriter names(objects, options, range.first, range.first);
  std::vector<std::string> files{platform::Utf8FromPath(
      platform::PathFromUtf8(request.dir) / platform::PathFromUtf8(options.name + ".glb"))};
  if (request.restMeshes)
    for (size_t i = 0; i < objects.size(); ++i) files.push_back(names.RestFile(i));
  return files;
}

EvalResult EvaluateScene(Document& doc, const EvalRequest& request, const EvalObserver& observer) {
  return EvaluateScene(doc, request, observer, {});
}

EvalResult EvaluateScene(Document& doc, const EvalRequest& request, const EvalObserver& observer,
                         const std::function<void()>& beforeFrames) {
  const FrameRange range = RangeOf(doc, request);
  const std::vector<Node*> objects = PolygonObjects(doc, request.source);
  ResultWriter writer(objects, ResultOptionsOf(doc, request, objects), range.first, range.last);
  if (observer.message) {
    if (request.worldSpace && doc.rig == nullptr)
      observer.message(request.command + ": note: " + request.source +
                       ": the scene holds no character's node tree: each mesh is written as it "
                       "lies");
    for (const std::string& note : writer.Notes())
      observer.message(request.command + ": note: " + request.source + ": " + note);
    for (const std::string& note : SampleSpacingNotes(doc))
      observer.message(request.command + ": note: " + request.source + ": " + note);
  }
  PrepareFolder(request.dir);
  CheckPlannedOutputs(writer, request);
  writer.CheckFreeSpace();
  if (beforeFrames) beforeFrames();
  WriteRestMeshes(request, objects, writer);

  ProgressObserver* progress = observer.progress;
  if (progress != nullptr)
    progress->Begin("frame", static_cast<Int64>(range.last) - range.first + 1);
  EvalResult result;
  try {
    result.pointsKept = WriteFrames(doc, request, observer, range, writer);
  } catch (...) {
    if (progress != nullptr) progress->Finish();
    throw;
  }
  if (progress != nullptr) progress->Finish();
  result.written = writer.Written();
  return result;
}

}  // namespace headless
