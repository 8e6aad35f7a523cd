// tessamire.correct: a rigged character (or a scene) corrected in one call by the engine behind
// `tessamire correct` (headless/job/correct_character.h): into a folder, the same files byte for
// byte, or into arrays on the file's own vertices.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "headless/batch/keyed_range.h"
#include "headless/entries/framework.h"
#include "headless/files/output_file.h"
#include "headless/geometry/file_vertices.h"
#include "headless/io/results.h"
#include "headless/job/correct_character.h"
#include "headless/job/tune_character.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"
#include "python/arrays.h"
#include "python/calls.h"
#include "python/module.h"
#include "python/plugins.h"

namespace tessamire_python {

namespace {

// Thrown through the engine's frame loop when the progress callable raised (or Ctrl-C came): the
// Python error waits in the interpreter's error indicator, restored there with the GIL held.
struct ProgressStopped {};

// The engine's progress handed to a Python callable (done, total) with the GIL taken for it;
// signals are checked at every step so that Ctrl-C stops the run (its temporary files removed).
class PythonProgress : public headless::ProgressObserver {
 public:
  explicit PythonProgress(py::object callable) : callable_(std::move(callable)) {}
  void Begin(const std::string&, Int64 total) override { total_ = total; }
  void Step(const std::string&) override {
    ++done_;
    const py::gil_scoped_acquire gil;
    try {
      if (!callable_.is_none()) callable_(done_, total_);
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    } catch (py::error_already_set& e) {
      e.restore();
      throw ProgressStopped{};
    }
  }
  void Finish() override {}

 private:
  py::object callable_;
  Int64 done_ = 0;
  Int64 total_ = 0;
};

struct CorrectArguments {
  headless::CorrectRequest request;
  py::object progress;
  Int32 threads = 0;
};

std::optional<headless::FrameRange> FramesArgument(const py::object& frames) {
  if (frames.is_none()) return std::nullopt;
  headless::FrameRange range;
  if (py::isinstance<py::int_>(frames)) {
    range.first = range.last = frames.cast<Int32>();
  } else {
    const py::sequence pair = py::reinterpret_borrow<py::sequence>(frames);
    if (!py::isinstance<py::sequence>(frames) || py::isinstance<py::str>(frames) ||
        pair.size() != 2 || !py::isinstance<py::int_>(pair[0]) ||
        !py::isinstance<py::int_>(pair[1]))
      throw py::type_error("frames wants (first, last) whole numbers or one frame, not " +
                           py::repr(frames).cast<std::string>());
    range.first = pair[0].cast<Int32>();
    range.last = pair[1].cast<Int32>();
  }
  if (range.first > range.last)
    throw py::value_error("frames: the first frame (" + std::to_string(range.first) +
                          ") is after the last (" + std::to_string(range.last) + ")");
  return range;
}

void SetClips(const py::object& clip, bool allClips, headless::CorrectRequest& request) {
  request.allClips = allClips;
  if (py::isinstance<py::list>(clip) || py::isinstance<py::tuple>(clip)) {
    bool first = true;
    for (const py::handle one : clip) {
      const std::string name = py::str(one).cast<std::string>();
      if (first)
        request.clip = name;
      else
        request.clips.push_back(name);
      first = false;
    }
  } else if (!clip.is_none()) {
    request.clip = py::str(clip).cast<std::string>();
  }
}

// The polygon objects the results are written for and their stems, as EvaluateScene names them.
std::vector<headless::Node*> PolygonObjects(const headless::Document& doc) {
  std::vector<headless::Node*> objects;
  for (headless::Node* node : doc.Objects())
    if (node->IsPolygonObject()) objects.push_back(node);
  return objects;
}

headless::FrameRange RangeOf(const headless::Document& doc, const headless::EvalRequest& eval) {
  if (eval.frames) return *eval.frames;
  const headless::FrameRange range = headless::KeyedRange(doc);
  if (static_cast<Int64>(range.last) - range.first + 1 > headless::kMaxKeyedFrames)
    throw py::value_error(eval.source + ": the keys span more than " +
                          std::to_string(headless::kMaxKeyedFrames) +
                          " frames; give frames=(first, last)");
  return range;
}

// Every polygon object's corrected frames on the file's vertices (the welded points with
// `welded`, or where the file split none), keyed by the stem its files are named by.
py::dict CorrectedArrays(CorrectArguments& args, std::vector<std::string>& messages) {
  headless::CorrectObserver observer;
  observer.eval.message = [&messages](const std::string& line) { messages.push_back(line); };
  headless::PreparedCorrection prepared = WithoutGil([&] {
    const auto inUse = PluginsInUse();
    const headless::ThreadWorkers workers(args.threads);
    return headless::PrepareCorrection(args.request, observer);
  });
  headless::Document& doc = *prepared.doc;
  const headless::FrameRange range = RangeOf(doc, prepared.eval);
  const std::vector<headless::Node*> objects = PolygonObjects(doc);
  const std::vector<std::string> stems = headless::FileStems(objects);
  const bool welded = args.request.eval.welded;
  const Int64 count = static_cast<Int64>(range.last) - range.first + 1;
  std::vector<py::array_t<double>> arrays;
  std::vector<Vector3*> to;
  for (const headless::Node* object : objects) {
    const size_t vertices = object->fileVertices && !welded
                                ? object->fileVertices->vertexPoint.size()
                                : object->points.size();
    arrays.push_back(NewPointArray(count, vertices));
    to.push_back(WritablePoints(arrays.back()));
  }
  FrameLoop(count, args.progress, [&](Int64 f) {
    const auto inUse = PluginsInUse();
    const headless::ThreadWorkers workers(args.threads);
    const Int64 frame = range.first + f;
    const headless::DeformReport report =
        headless::EvaluateDocumentAtFrame(doc, static_cast<Float>(frame));
    if (!report.Ok())
      throw std::runtime_error(prepared.eval.source + ": frame " + std::to_string(frame) + ": " +
                               report.errors.front());
    for (const std::string& warning : report.warnings)
      messages.push_back("frame " + std::to_string(frame) + ": " + warning);
    for (size_t m = 0; m < objects.size(); ++m) {
      const std::vector<Vector3>& points = headless::DeformedPoints(objects[m]);
      const std::vector<Vector3> placed =
          objects[m]->fileVertices && !welded
              ? headless::FileVertexPositions(*objects[m]->fileVertices, points)
              : points;
      std::copy(placed.begin(), placed.end(), to[m] + static_cast<size_t>(f) * placed.size());
    }
  });
  py::dict out;
  for (size_t m = 0; m < objects.size(); ++m) out[py::str(stems[m])] = arrays[m];
  return out;
}

py::dict CorrectedFiles(CorrectArguments& args, std::vector<std::string>& messages) {
  PythonProgress progress(args.progress);
  headless::CorrectObserver observer;
  observer.eval.message = [&messages](const std::string& line) { messages.push_back(line); };
  observer.eval.progress = &progress;
  headless::EvalResult result;
  bool stopped = false;
  WithoutGil([&] {
    const auto inUse = PluginsInUse();
    const headless::ThreadWorkers workers(args.threads);
    try {
      result = headless::CorrectCharacter(args.request, observer);
    } catch (const ProgressStopped&) {
      stopped = true;
    }
  });
  if (stopped) throw py::error_already_set();
  py::dict out;
  out["written"] = result.written;
  out["points_kept"] = result.pointsKept;
  return out;
}

py::object Correct(py::handle pathValue, py::object out, const std::string& format, py::object clip,
                   bool allClips, py::object fps, py::object frames, py::object iterations,
                   py::object weighting, py::object pinBorder, py::object strength,
                   py::object settings, py::object bindFrame, bool welded, bool withSkinned,
                   py::object poseCheck, py::object assetRoot, py::object threads,
                   py::object progress) {
  CheckProgress(progress);
  EnsurePlugins();
  CorrectArguments args;
  args.progress = progress;
  args.threads = ThreadsArgument(threads);
  headless::CorrectRequest& request = args.request;
  headless::EvalRequest& eval = request.eval;
  eval.command = "tessamire.correct";
  eval.source = PathArgument(pathValue, "path");
  CheckReadable(eval.source);
  if (!headless::ResultFormatNamed(format))
    throw py::value_error("format wants obj, pc2, mdd or glb, not " + format);
  eval.format = format;
  eval.frames = FramesArgument(frames);
  if (!fps.is_none()) {
    eval.fps = Number(fps, "fps");
    if (!(*eval.fps > 0.0)) throw py::value_error("fps wants a number above 0");
  }
  eval.welded = welded;
  eval.poseCheck =
      poseCheck.is_none() ? std::nullopt : std::optional<Float>(Number(poseCheck, "pose_check"));
  if (eval.poseCheck && !(*eval.poseCheck > 0.0))
    throw py::value_error("pose_check wants a number of mean edge lengths above 0, or None");
  SetClips(clip, allClips, request);
  request.readerProgram = ReaderProgram();
  if (!assetRoot.is_none()) request.assetRoot = PathArgument(assetRoot, "asset_root");
  const headless::CorrectionSettings given =
      SettingsArgument(iterations, weighting, pinBorder, strength);
  if (given.iterations || given.weighting || given.pinBorder || given.strength)
    request.settings = given;
  if (!settings.is_none() &&
      (!py::isinstance<py::str>(settings) || settings.cast<std::string>() != "auto"))
    throw py::value_error("settings wants 'auto' or None, not " +
                          py::repr(settings).cast<std::string>());
  request.autoSettings = !settings.is_none();
  if (!bindFrame.is_none()) request.bindFrame = Number(bindFrame, "bind_frame");
  request.withSkinned = withSkinned;
  std::vector<std::string> messages;
  py::object result;
  if (out.is_none()) {
    if (withSkinned) throw py::value_error("with_skinned writes files: give out=");
    result = FileWork([&] { return CorrectedArrays(args, messages); });
  } else {
    eval.dir = PathArgument(out, "out");
    result = FileWork([&] { return CorrectedFiles(args, messages); });
  }
  for (const std::string& line : messages)
    Log(line.find(": warning: ") != std::string::npos ? "warning" : "info", line);
  return result;
}

// The frames `correct` evaluates when given none: the animation's, as the command line finds them.
py::tuple CorrectRange(py::handle pathValue, py::object clip, bool allClips, py::object fps,
                       py::object assetRoot) {
  headless::CorrectRequest request;
  request.eval.source = PathArgument(pathValue, "path");
  CheckReadable(request.eval.source);
  if (!fps.is_none()) request.eval.fps = Number(fps, "fps");
  SetClips(clip, allClips, request);
  request.readerProgram = ReaderProgram();
  if (!assetRoot.is_none()) request.assetRoot = PathArgument(assetRoot, "asset_root");
  headless::EvalRequest eval = request.eval;
  const headless::FrameRange range = FileWork([&] {
    const std::unique_ptr<headless::Document> doc =
        WithoutGil([&] { return headless::LoadCorrectInput(request, eval, {}); });
    return RangeOf(*doc, eval);
  });
  return py::make_tuple(range.first, range.last);
}

void WriteFile(py::handle pathValue, const py::bytes& bytes) {
  const std::string path = PathArgument(pathValue, "path");
  const std::string text = bytes;
  FileWork([&] { WithoutGil([&] { headless::WriteFileAtomically(path, text); }); });
}

}  // namespace

void BindCorrect(py::module_& m) {
  m.def("_correct_range", &CorrectRange, py::arg("path"), py::arg("clip"), py::arg("all_clips"),
        py::arg("fps"), py::arg("asset_root"),
        "The frames (first, last) correct() evaluates of `path` when given none.");
  m.def("_write_file", &WriteFile, py::arg("path"), py::arg("bytes"),
        "Write `bytes` as the file `path`, whole or not at all (the product's safe writer).");
  m.def("correct", &Correct, py::arg("path"), py::arg("out"), py::arg("format"), py::arg("clip"),
        py::arg("all_clips"), py::arg("fps"), py::arg("frames"), py::arg("iterations"),
        py::arg("weighting"), py::arg("pin_border"), py::arg("strength"), py::arg("settings"),
        py::arg("bind_frame"), py::arg("welded"), py::arg("with_skinned"), py::arg("pose_check"),
        py::arg("asset_root"), py::arg("threads"), py::arg("progress"),
        R"(Correct a rigged character (or a saved scene) in one step, as `tessamire correct` does.

The character is imported (`clip`, `all_clips`, `fps`, `asset_root` as import_character's),
every mesh a skin or point cache deforms is equipped by the plug-in's setup command, its bind
tags take the settings given (settings='auto': those not given from tune's recommendation) and
are bound at the bind pose (or on the pose at `bind_frame`), and the frames (first, last) are
evaluated (None: the animation's). out=DIR: the command line's files, byte for byte, in
`format` (obj, pc2, mdd or glb) with each mesh's rest OBJ, and under DIR/skinned plain
skinning with `with_skinned`; answers {'written': what, 'points_kept': n}. Without out: per
polygon object, by the stem its files are named by, the corrected frames (F, V, 3) float64 on
the file's own vertices (the welded points with `welded`). pose_check: the pose guard's
threshold in mean edge lengths (None: off). threads: the workers of the evaluation's loops, 1 to
1024 (None: one per hardware thread). progress: None or a callable (frames done, frames
in all); an exception it raises, or Ctrl-C, stops the run and no partial file is left.
Raises ValueError for bad arguments, OSError for a file that cannot be read or written or
holds nothing to correct, RuntimeError when the plug-in fails.)");
}

}  // namespace tessamire_python
