// tessamire.apply: frames of one rest mesh corrected file to file by the engine's pipelined batch
// (headless/batch/apply_frames.h), as `tessamire apply` runs it: a point cache or OBJ frames in,
// a cache, a glTF or a numbered OBJ sequence out.
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "headless/batch/apply_frames.h"
#include "headless/batch/cache_frames.h"
#include "headless/batch/cache_results.h"
#include "headless/batch/frame_sequence.h"
#include "headless/batch/gltf_results.h"
#include "headless/batch/obj_frames.h"
#include "headless/batch/obj_results.h"
#include "headless/batch/rest_file.h"
#include "headless/entries/framework.h"
#include "headless/files/output_folder.h"
#include "headless/files/planned_outputs.h"
#include "headless/io/point_cache.h"
#include "python/calls.h"
#include "python/module.h"
#include "python/plugins.h"

namespace tessamire_python {

namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Each frame's progress handed to a Python callable, with the GIL taken for it; an exception it
// raises (or Ctrl-C) waits in the interpreter's error indicator while the run unwinds.
struct Stopped {};
class PythonSteps : public headless::FrameObserver {
 public:
  explicit PythonSteps(py::object callable) : callable_(std::move(callable)) {}
  void Written(const headless::WrittenFrame& frame) override {
    for (const std::string& warning : frame.report.warnings)
      warnings.push_back(frame.name + ": " + warning);
    const py::gil_scoped_acquire gil;
    try {
      if (!callable_.is_none()) callable_(frame.index + 1, frame.count);
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    } catch (py::error_already_set& e) {
      e.restore();
      throw Stopped{};
    }
  }
  std::vector<std::string> warnings;

 private:
  py::object callable_;
};

struct ApplyRun {
  std::string rest, out;
  std::vector<std::string> inputs;
  std::optional<std::pair<Int32, Int32>> frames;
  headless::CorrectionSettings settings;
  Float fps = 30.0;
  bool smoothed = false;
  Int32 threads = 0;
};

std::unique_ptr<headless::FrameSource> OpenFrames(const ApplyRun& run,
                                                  const headless::ObjFile& rest,
                                                  headless::CacheOpening& opening, bool cache) {
  if (cache)
    return std::make_unique<headless::CacheFrames>(run.inputs[0], opening.Take(run.inputs[0]),
                                                   run.rest, rest.mesh.points.size(), run.fps);
  std::vector<Int64> numbers;
  std::vector<std::string> files = headless::ExpandSequence(
      run.inputs, run.frames.has_value(), run.frames ? run.frames->first : 0,
      run.frames ? run.frames->second : 0, numbers);
  return std::make_unique<headless::ObjFrames>(std::move(files), numbers, rest);
}

// Each frame's OBJ result, numbered as its frame (a sample's position where its frame is not
// whole), when `out` is a pattern; none when every result goes into one cache or glTF.
std::vector<fs::path> Outputs(const std::string& out, const headless::FrameSource& frames) {
  std::vector<fs::path> outputs;
  if (!headless::IsFramePattern(out)) return outputs;
  for (size_t i = 0; i < frames.Count(); ++i) {
    const Float n = frames.Number(i);
    const Int64 number =
        n == std::floor(n) && std::fabs(n) < 1e15 ? static_cast<Int64>(n) : static_cast<Int64>(i);
    outputs.emplace_back(headless::FramePath(out, number));
  }
  return outputs;
}

Int64 RunApply(const ApplyRun& run, PythonSteps& steps) {
  const bool cache = run.inputs.size() == 1 && headless::PointCacheFormatOf(run.inputs[0]);
  if (cache && run.frames)
    throw std::invalid_argument("frames applies to a numbered OBJ sequence, not a cache");
  headless::CacheOpening opening(cache ? run.inputs[0] : "");
  headless::ObjFile rest = headless::ReadRestFile(run.rest);
  const std::unique_ptr<headless::FrameSource> frames = OpenFrames(run, rest, opening, cache);
  const std::vector<fs::path> outputs = Outputs(run.out, *frames);
  std::vector<headless::PlannedOutput> planned;
  if (outputs.empty()) planned.push_back({run.out, "the result"});
  for (const fs::path& output : outputs) planned.push_back({output.string(), "a result"});
  std::vector<std::string> read{run.rest};
  for (size_t i = 0; i < frames->Count(); ++i)
    read.push_back(cache ? run.inputs[0] : frames->Name(i));
  headless::CheckOutputs(planned, read);
  std::unique_ptr<headless::ResultSink> sink;
  if (!outputs.empty())
    sink = std::make_unique<headless::ObjResults>(outputs, cache ? &rest : nullptr);
  else if (EndsWith(run.out, ".glb"))
    sink = std::make_unique<headless::GlbResults>(run.out, rest, *frames, run.fps);
  else
    sink = std::make_unique<headless::CacheResults>(run.out, *frames, run.fps);
  headless::ReadBeforeBind(rest, *frames, *sink);
  headless::PrepareOutputFolder(outputs.empty() ? run.out : outputs[0].string());
  const bool restAgain = sink->NeedsRestMesh() || !rest.normals.empty();
  headless::Correction correction(
      run.rest, restAgain ? rest.mesh.points : std::move(rest.mesh.points),
      restAgain ? rest.mesh.polygons : std::move(rest.mesh.polygons), run.settings);
  headless::FrameObserver* observers[] = {&steps};
  return headless::ApplyFrames(*frames, *sink, correction, observers, {.smoothed = run.smoothed})
      .pointsKept;
}

py::dict Apply(py::handle restValue, py::object inputs, py::handle outValue, py::object frames,
               py::object iterations, py::object weighting, py::object pinBorder,
               py::object strength, py::object fps, bool smoothed, py::object threads,
               py::object progress) {
  CheckProgress(progress);
  EnsurePlugins();
  ApplyRun run;
  run.rest = PathArgument(restValue, "rest");
  run.out = PathArgument(outValue, "out");
  if (py::isinstance<py::list>(inputs) || py::isinstance<py::tuple>(inputs)) {
    for (const py::handle one : inputs) run.inputs.push_back(PathArgument(one, "inputs"));
  } else {
    run.inputs.push_back(PathArgument(inputs, "inputs"));
  }
  if (run.inputs.empty()) throw py::value_error("inputs: give a cache, OBJ files or a pattern");
  if (!frames.is_none()) {
    const auto pair = frames.cast<std::pair<Int32, Int32>>();
    run.frames = pair;
  }
  run.settings = SettingsArgument(iterations, weighting, pinBorder, strength);
  if (!fps.is_none()) run.fps = Number(fps, "fps");
  if (!(run.fps > 0.0)) throw py::value_error("fps wants a number above 0");
  run.smoothed = smoothed;
  run.threads = ThreadsArgument(threads);
  PythonSteps steps(progress);
  Int64 kept = 0;
  bool stopped = false;
  FileWork([&] {
    WithoutGil([&] {
      const auto inUse = PluginsInUse();
      const headless::ThreadWorkers workers(run.threads);
      try {
        kept = RunApply(run, steps);
      } catch (const Stopped&) {
        stopped = true;
      }
    });
  });
  if (stopped) throw py::error_already_set();
  for (const std::string& warning : steps.warnings) Log("warning", warning);
  py::dict out;
  out["points_kept"] = kept;
  return out;
}

}  // namespace

void BindApply(py::module_& m) {
  m.def("apply", &Apply, py::arg("rest"), py::arg("inputs"), py::arg("out"), py::arg("frames"),
        py::arg("iterations"), py::arg("weighting"), py::arg("pin_border"), py::arg("strength"),
        py::arg("fps"), py::arg("smoothed"), py::arg("threads"), py::arg("progress"),
        R"(Correct frames of the rest mesh `rest` (an OBJ file) file to file, as `tessamire apply`
does, through the engine's pipelined batch: frames are read, corrected and written at once.

inputs: one PC2 or MDD cache, OBJ files, or a numbered pattern (walk.####.obj) with frames=
(first, last). out: a .pc2 or .mdd cache, a .glb of every frame, or a numbered pattern (one OBJ
per frame, numbered as its input). fps: an MDD's and a glTF's frames per second (30). smoothed:
the smoothed mesh instead of the correction. Answers {'points_kept': n}. Raises ValueError for
bad arguments, OSError for files that cannot be read or written (nothing partial is left).)");
}

}  // namespace tessamire_python
