// `tessamire view`: one self-contained HTML page of any meshes and animations, to orbit, zoom,
// scrub and compare in a browser: OBJ meshes, numbered sequences, point caches on a rest mesh,
// saved scenes evaluated over their frames and binary glTF files of moving meshes, side by side or
// overlaid, shaded or coloured by the detail kept, the distance between inputs or weights (web/
// holds the viewer, headless/io/page.h the page's data).
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "headless/batch/frame_sequence.h"
#include "headless/batch/keyed_range.h"
#include "headless/characters/gltf_reader.h"
#include "headless/files/input_ranges.h"
#include "headless/files/interruption.h"
#include "headless/files/printable.h"
#include "headless/io/obj_read.h"
#include "headless/io/point_cache.h"
#include "headless/io/scene_file.h"
#include "headless/job/view_page.h"
#include "headless/platform/platform.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"
#include "web/page_template.h"

namespace cli {
namespace {

std::string FileName(const std::string& path) {
  return path == "-"
             ? "standard input"
             : headless::platform::Utf8FromPath(headless::platform::PathFromUtf8(path).filename());
}

// One operand and what it holds, opened before anything is converted so that the progress knows
// the frames to come and every operand is checked first.
struct Source {
  enum class Kind { kMesh, kSequence, kCache, kScene, kGlb } kind = Kind::kMesh;
  std::string operand;
  std::optional<headless::PointCache> cache;
  std::unique_ptr<headless::Document> scene;
  std::vector<headless::Node*> objects;  // a scene's polygon objects
  headless::FrameRange range;            // a sequence's or a scene's frames
  std::vector<headless::MorphedMesh> glb;

  // A scene gives an input per polygon object, a glTF one per mesh, any other operand one.
  Int64 Inputs() const {
    if (kind == Kind::kScene) return static_cast<Int64>(objects.size());
    return kind == Kind::kGlb ? static_cast<Int64>(glb.size()) : 1;
  }

  Int64 Frames() const {
    switch (kind) {
      case Kind::kMesh:
        return 1;
      case Kind::kCache:
        return cache->SampleCount();
      case Kind::kGlb: {
        Int64 frames = 0;
        for (const headless::MorphedMesh& mesh : glb)
          frames += std::max<Int64>(1, static_cast<Int64>(mesh.frames.size()));
        return frames;
      }
      default:
        return static_cast<Int64>(range.last) - range.first + 1;
    }
  }
};

struct ViewRun {
  const Options& options;
  std::ostream& err;
  std::optional<headless::Mesh> rest;
  std::optional<headless::FrameRange> frames;  // --frames
  Float fps = 30.0;
};

Source Open(const ViewRun& run, const std::string& operand) {
  Source source;
  source.operand = operand;
  if (headless::PointCacheFormatOf(operand)) {
    if (!run.rest)
      throw UsageError(operand + " holds only points: give the mesh they move with --rest");
    source.kind = Source::Kind::kCache;
    source.cache = headless::ReadPointCache(operand);
    if (static_cast<size_t>(source.cache->pointCount) != run.rest->points.size())
      throw std::runtime_error(operand + ": " + std::to_string(source.cache->pointCount) +
                               " points per sample, but the rest mesh " +
                               run.options.Text("--rest") + " has " +
                               std::to_string(run.rest->points.size()));
    if (source.cache->SampleCount() == 0) throw std::runtime_error(operand + ": no sample");
  } else if (headless::IsFramePattern(operand)) {
    if (!run.frames) throw UsageError(operand + " names a numbered sequence: give --frames A:B");
    source.kind = Source::Kind::kSequence;
    source.range = *run.frames;
  } else if (headless::IsGlbFile(operand)) {
    source.kind = Source::Kind::kGlb;
    source.glb = headless::ReadGlb(operand);
    for (const headless::MorphedMesh& mesh : source.glb)
      headless::CheckCoordinateRange(mesh.rest.points, operand);
  } else if (headless::IsSceneFile(operand)) {
    source.kind = Source::Kind::kScene;
    source.scene = headless::LoadScene(operand);
    for (headless::Node* node : source.scene->Objects())
      if (node->IsPolygonObject()) source.objects.push_back(node);
    if (source.objects.empty())
      throw std::runtime_error(operand + ": the scene holds no polygon object");
    source.range = run.frames ? *run.frames : headless::KeyedRange(*source.scene);
    const Int64 count = source.Frames();
    if (!run.frames && count > headless::kMaxKeyedFrames)
      throw std::runtime_error(operand + ": the keys span " + std::to_string(count) +
                               " frames, more than " + std::to_string(headless::kMaxKeyedFrames) +
                               "; give --frames A:B to show that many");
  }
  return source;
}

headless::ObjFile ReadMeshFile(const std::string& path) {
  headless::ObjFile file = headless::ReadObjFile(path);
  headless::CheckCoordinateRange(file.mesh.points, path);
  return file;
}

headless::Mesh ReadMesh(const std::string& path) {
  return ReadMeshFile(path).mesh;
}

// Adds the source's inputs and frames to the page.
void Convert(const ViewRun& run, Source& source, headless::ViewPage& page, Progress& progress) {
  const std::string& operand = source.operand;
  switch (source.kind) {
    case Source::Kind::kMesh: {
      const headless::Mesh mesh = ReadMesh(operand);
      page.AddFrame(
          page.AddInput(FileName(operand), static_cast<Int64>(mesh.points.size()), mesh.polygons),
          0.0, mesh.points);
      progress.Step(operand);
      return;
    }
    case Source::Kind::kSequence: {
      // Every frame has the first frame's faces.
      std::optional<headless::ObjFile> first;
      Int32 input = 0;
      for (Int64 f = source.range.first; f <= source.range.last; ++f) {
        const std::string file = headless::FramePath(operand, f);
        const headless::ObjFile frame = ReadMeshFile(file);
        if (!first) {
          first = frame;
          input = page.AddInput(FileName(operand), static_cast<Int64>(frame.mesh.points.size()),
                                frame.mesh.polygons);
        } else {
          headless::CheckSameFaces(*first, frame);
        }
        page.AddFrame(input, static_cast<Float>(f), frame.mesh.points);
        progress.Step(file);
      }
      return;
    }
    case Source::Kind::kCache: {
      const Int32 input =
          page.AddInput(FileName(operand), source.cache->pointCount, run.rest->polygons);
      for (Int64 s = 0; s < source.cache->SampleCount(); ++s) {
        page.AddFrame(input, source.cache->SampleFrame(s, run.fps), source.cache->Sample(s));
        progress.Step(operand + " sample " + std::to_string(s));
      }
      return;
    }
    case Source::Kind::kGlb: {
      // Frames at the times the file keys them; a mesh without frames shows at rest.
      for (const headless::MorphedMesh& mesh : source.glb) {
        const std::string name = FileName(operand) + ": " + mesh.name;
        const Int32 input =
            page.AddInput(name, static_cast<Int64>(mesh.rest.points.size()), mesh.rest.polygons);
        if (mesh.frames.empty()) {
          page.AddFrame(input, 0.0, mesh.rest.points);
          progress.Step(name);
        }
        for (size_t k = 0; k < mesh.frames.size(); ++k) {
          // glTF keeps times in float32: a frame within a thousandth of a whole one is that one.
          const Float frame = mesh.seconds[k] * run.fps;
          page.AddFrame(input,
                        std::fabs(frame - std::round(frame)) < 1e-3 ? std::round(frame) : frame,
                        mesh.frames[k]);
          progress.Step(name + " frame " + std::to_string(k + 1));
        }
      }
      return;
    }
    case Source::Kind::kScene: {
      std::vector<Int32> inputs;
      for (const headless::Node* object : source.objects)
        inputs.push_back(page.AddInput(FileName(operand) + ": " + object->name,
                                       static_cast<Int64>(object->points.size()),
                                       object->polygons));
      for (Int64 f = source.range.first; f <= source.range.last; ++f) {
        const headless::DeformReport report =
            headless::EvaluateDocumentAtFrame(*source.scene, static_cast<Float>(f));
        for (const std::string& warning : report.warnings)
          run.err << "tessamire view: warning: " << operand << ": frame " << f << ": "
                  << headless::Printable(warning) << "\n";
        if (!report.Ok())
          throw std::runtime_error(operand + ": frame " + std::to_string(f) + ": " +
                                   report.errors.front());
        for (size_t i = 0; i < source.objects.size(); ++i)
          page.AddFrame(inputs[i], static_cast<Float>(f),
                        headless::DeformedPoints(source.objects[i]));
        progress.Step(operand + " at frame " + std::to_string(f));
      }
      return;
    }
  }
}

int RunView(const Options& options, std::ostream&, std::ostream& err) {
  const std::string out = options.Text("--out");
  ViewRun run{options, err, {}, {}, options.Number("--fps").value_or(30.0)};
  if (options.Has("--frames")) {
    headless::FrameRange range;
    try {
      ParseSequenceRange(options.Text("--frames"), range.first, range.last);
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
    run.frames = range;
  }
  std::vector<std::string> inputs = options.Operands();
  Int32 fromStandardInput = 0;
  for (const char* option : {"--rest", "--weights", "--focus"}) {
    inputs.push_back(options.Text(option));
    fromStandardInput += options.Text(option) == "-";
  }
  for (const std::string& operand : options.Operands()) fromStandardInput += operand == "-";
  if (fromStandardInput > 1) throw UsageError("only one input can come from the standard input");
  RefuseOverwritingInputs(out, inputs);

  if (options.Has("--rest")) run.rest = ReadMesh(options.Text("--rest"));
  std::vector<Source> sources;
  Int64 total = 0;
  for (const std::string& operand : options.Operands()) {
    headless::StopIfInterrupted();
    sources.push_back(Open(run, operand));
    total += sources.back().Frames();
  }
  if (run.frames && std::none_of(sources.begin(), sources.end(), [](const Source& s) {
        return s.kind == Source::Kind::kSequence || s.kind == Source::Kind::kScene;
      }))
    throw UsageError("--frames applies to a numbered sequence such as walk.####.obj or a scene");
  Int64 inputCount = 0;
  for (const Source& s : sources) inputCount += s.Inputs();
  const Int64 reference = options.Integer("--distance-to").value_or(1);
  if (reference > inputCount)
    throw UsageError("--distance-to " + std::to_string(reference) + ": the page has " +
                     std::to_string(inputCount) + " inputs");

  std::string title = "tessamire view:";
  for (const std::string& operand : options.Operands()) title += " " + FileName(operand);
  headless::ViewPage page(title);
  page.Builder().SetUp(options.Text("--up", "y")[0]);
  page.Builder().SetFps(run.fps);
  if (run.rest) page.SetRest(*run.rest, FileName(options.Text("--rest")));
  page.SetWeightsFile(options.Text("--weights"));
  page.SetFocusFile(options.Text("--focus"));

  Progress progress(err,
                    ChooseProgressStyle(headless::platform::StderrIsTerminal(),
                                        options.Has("--quiet") || total < 2),
                    "tessamire view", "frame", total);
  for (Source& source : sources) Convert(run, source, page, progress);
  progress.Finish();
  page.Builder().SetDistanceReference(static_cast<Int32>(reference - 1));
  PrepareOutputFolder(out);
  page.Write(out, web::PageTemplate());
  return kExitOk;
}

}  // namespace

Subcommand ViewSubcommand() {
  CommandSpec declaration;
  declaration.name = "view";
  declaration.operands = "INPUT...";
  declaration.minOperands = 1;
  declaration.maxOperands = -1;
  declaration.summary =
      "write one HTML page of meshes, sequences, caches, scenes and glTF files to orbit, "
      "scrub and "
      "compare in any browser";
  declaration.details =
      "Each INPUT is an OBJ mesh (- for the standard input), a numbered sequence "
      "(walk.####.obj or walk.%04d.obj) over --frames A:B, a point cache (.pc2, .mdd) of "
      "the --rest mesh's points, or a saved scene, evaluated at every frame its keys span "
      "(or over --frames), each polygon object an input of its own, or a binary glTF (.glb) "
      "such as apply and eval write, each mesh an input whose morph targets are its frames, "
      "at the times its animation gives them. The page holds "
      "everything, the viewer (three.js) included, so it opens from a file with nothing "
      "fetched. In it: the inputs side by side or overlaid (keys 1..9), one camera for all, "
      "a frame slider with play, wireframe, the up axis, and colours: shaded, the detail "
      "kept against --rest, the distance per point between two inputs, or --weights. "
      "Positions are stored as 16-bit codes within each frame's bounds: each coordinate is "
      "within 1/131070 of that frame's extent along its axis.";
  declaration.options = {
      Required(TextOption("--out", "PAGE.html", "the page to write (- for the standard output)")),
      TextOption("--frames", "A:B", "the frames of sequences, or of scenes instead of their keys"),
      TextOption("--rest", "REST.obj",
                 "the rest mesh: the polygons of point caches, and what the detail-kept "
                 "colours compare with (inputs of its point count)"),
      TextOption("--weights", "W.txt",
                 "per-point weights (one number per line) of the first input's points, "
                 "shown by the weights colours on every input of that point count"),
      TextOption("--focus", "W.txt",
                 "frame the camera first on the points whose weight is not 0 (the first "
                 "input's points, one number per line)"),
      ChoiceOption("--up", "AXIS", "the axis pointing up at first (the page can switch)",
                   {"y", "z"}, "y"),
      IntegerOption("--distance-to", "N",
                    "the input (1 for the first) the distance colours compare the others "
                    "with at first",
                    1, 2147483647.0, "1"),
      NumberOption("--fps", "F",
                   "frames per second of playback, and of an MDD cache's and a glTF's times", 1e-3,
                   1000, "30"),
      FlagOption("--quiet", "print no progress")};
  return {declaration, RunView};
}

}  // namespace cli
