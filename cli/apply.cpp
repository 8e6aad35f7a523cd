// `tessamire apply`: binds a rest mesh and corrects deformed meshes of the same topology through
// the real plug-in in a headless document (headless/batch/correction.h: the rest mesh's object with
// a bind tag bound by its button and the plug-in's deformer; each frame becomes the object's
// points). The frames come from OBJ files (a list, or a numbered sequence with
// --frames) or from every sample of one point cache; the results go to OBJ files written like
// their input (positions, normals and a material library's way change), to one point cache, or
// to one glTF on the rest OBJ's own vertices.
#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "cli/tag_settings.h"
#include "cli/view_page.h"
#include "headless/files/interruption.h"
#include "headless/geometry/mesh.h"
#include "headless/characters/gltf.h"
#include "headless/files/input_ranges.h"
#include "headless/io/obj.h"
#include "headless/io/obj_frame_scan.h"
#include "headless/files/output_file.h"
#include "headless/io/png.h"
#include "headless/io/point_cache.h"
#include "headless/files/printable.h"
#include "headless/io/weights_file.h"
#include "headless/batch/correction.h"
#include "headless/batch/frame_pipeline.h"
#include "headless/job/pair_measures.h"
#include "headless/job/tables.h"
#include "headless/picture/side_by_side.h"
#include "headless/platform/paths.h"
#include "headless/platform/streams.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// The options of one run; tag settings not given keep the tag's defaults.
struct ApplyOptions {
  const Options* options = nullptr;
  std::string rest;
  std::string out;
  std::vector<std::string> frames;
  bool hasRange = false;
  Int32 first = 0, last = 0;
  Float fps = 30.0;
  std::string vertexMap;
  std::string restriction;
  std::string region;
  std::string preview;
  bool showSmoothed = false;
  bool report = false;
  bool quiet = false;
};

// A failure of the run (bad file, plug-in refusal): message already names file and line.
struct ApplyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

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

// The frames of a run: OBJ files, or the samples of one point cache.
struct Frames {
  std::vector<std::string> files;                      // OBJ inputs; empty for a cache
  std::unique_ptr<headless::PointCacheSamples> cache;  // a cache input, read a sample at a time
  std::string cachePath;
  std::vector<Float> numbers;  // each frame's number (a sample's frame for a cache)

  size_t Count() const { return numbers.size(); }
  std::string Name(size_t i) const {
    return cache ? cachePath + " sample " + std::to_string(i) : files[i];
  }
};

// Whether the run's frames are the samples of one point cache.
bool FramesOfOneCache(const ApplyOptions& o) {
  return o.frames.size() == 1 && headless::PointCacheFormatOf(o.frames[0]).has_value();
}

// A cache's opening, which checks every coordinate, started on a thread of its own beside the
// reading of the rest. Its outcome (the samples, or what it threw) is taken where the cache is
// needed, so that its error still comes after the rest's and the weights'. A run that ends before
// stops it at its next piece.
class CacheOpening {
 public:
  explicit CacheOpening(const ApplyOptions& o) {
    if (!FramesOfOneCache(o) || o.hasRange) return;
    try {
      thread_ = std::jthread([this, path = o.frames[0]](std::stop_token stop) {
        try {
          samples_ = std::make_unique<headless::PointCacheSamples>(path, stop);
        } catch (...) {
          error_ = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: the cache is opened where it is taken.
    }
  }
  // The samples of `path`: those opened on the thread when it was started, else opened here.
  std::unique_ptr<headless::PointCacheSamples> Take(const std::string& path) {
    if (!thread_.joinable()) return std::make_unique<headless::PointCacheSamples>(path);
    thread_.join();
    if (error_) std::rethrow_exception(error_);
    return std::move(samples_);
  }

 private:
  std::unique_ptr<headless::PointCacheSamples> samples_;
  std::exception_ptr error_;
  std::jthread thread_;  // last: stopped and joined before the members it writes go
};

Frames GatherFrames(const ApplyOptions& o, size_t pointCount, CacheOpening& opening) {
  Frames frames;
  if (FramesOfOneCache(o)) {
    if (o.hasRange) throw UsageError("--frames applies to a numbered OBJ sequence, not a cache");
    frames.cachePath = o.frames[0];
    frames.cache = opening.Take(o.frames[0]);
    const Int32 cachePoints = frames.cache->Timing().pointCount;
    if (static_cast<size_t>(cachePoints) != pointCount)
      throw ApplyError(o.frames[0] + ": " + std::to_string(cachePoints) +
                       " points per sample, but the rest mesh " + o.rest + " has " +
                       std::to_string(pointCount));
    for (Int64 s = 0; s < frames.cache->SampleCount(); ++s)
      frames.numbers.push_back(frames.cache->Timing().SampleFrame(s, o.fps));
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

// The page beside the preview picture: PIC.png -> PIC.html.
std::string PreviewPagePath(const std::string& preview) {
  fs::path page = headless::platform::PathFromUtf8(preview);
  page.replace_extension(".html");
  return headless::platform::Utf8FromPath(page);
}

// Where each frame's result goes (empty when it goes into one cache or glTF, `o.out`); checks
// that every input exists, that no two frames share a result and that no result would
// overwrite an input. Each input and each result is looked at once, so a long sequence costs
// time in proportion to its length.
std::vector<fs::path> PlanOutputs(const ApplyOptions& o, const Frames& frames) {
  std::vector<fs::path> outputs;
  std::vector<std::string> names =
      frames.cache ? std::vector<std::string>{frames.cachePath} : frames.files;
  for (const std::string* input : {&o.rest, &o.vertexMap, &o.restriction, &o.region})
    names.push_back(*input);
  const InputFiles inputs(names);
  // Only frames can be missing here (the rest, the weights and a cache are read by now): the
  // reader names the first, as it would have when it reached it.
  if (!inputs.FirstMissing().empty()) headless::ReadObjFile(inputs.FirstMissing());
  if (!o.preview.empty()) inputs.RefuseOverwriting(o.preview);
  if (!o.preview.empty() && o.preview != "-") inputs.RefuseOverwriting(PreviewPagePath(o.preview));
  if (headless::PointCacheFormatOf(o.out) || GlbOutput(o.out)) {
    inputs.RefuseOverwriting(o.out);
    return outputs;
  }
  if (IsFramePattern(o.out)) {
    for (size_t i = 0; i < frames.Count(); ++i)
      outputs.push_back(FramePath(o.out, FileNumber(frames, i)));
  } else if (frames.Count() == 1 && (EndsWithObj(o.out) || o.out == "-")) {
    outputs.push_back(o.out);
  } else {
    std::error_code ec;
    if (fs::exists(o.out, ec) && !fs::is_directory(o.out, ec))
      throw ApplyError(o.out +
                       ": exists and is not a folder (a single frame's result needs a "
                       "name ending in .obj)");
    if (o.out == "-")
      throw UsageError("--out - (the standard output) takes the result of one frame only");
    for (size_t i = 0; i < frames.Count(); ++i) {
      if (frames.cache) {
        outputs.push_back(fs::path(o.out) / (fs::path(frames.cachePath).stem().string() + "." +
                                             PaddedFrame(FileNumber(frames, i)) + ".obj"));
        continue;
      }
      const fs::path name = fs::path(frames.files[i]).filename();
      if (frames.files[i] == "-")
        throw UsageError("a frame from the standard input needs --out FILE.obj or --out -");
      if (name.empty()) throw ApplyError(frames.files[i] + ": not a file name");
      outputs.push_back(fs::path(o.out) / name);
    }
  }
  std::unordered_map<std::string, size_t> frameOf;  // result -> the frame it holds
  for (size_t i = 0; i < outputs.size(); ++i) {
    const auto [other, added] = frameOf.emplace(outputs[i].string(), i);
    if (!added)
      throw ApplyError(frames.Name(i) + " and " + frames.Name(other->second) +
                       " would both be written to " + outputs[i].string());
    inputs.RefuseOverwriting(outputs[i].string());
  }
  return outputs;
}

// Lets go of `c`'s storage (`c = {}` assigns an empty list and keeps it).
template <typename Container>
void Release(Container& c) {
  Container().swap(c);
}

// Lets go of an OBJ file's faces (as a file without faces has them).
void ReleaseFaces(headless::ObjFile& file) {
  file.faceFirst = {0};
  file.faceFirst.shrink_to_fit();
  Release(file.cornerPoint);
  Release(file.cornerTexcoord);
  Release(file.cornerNormal);
  Release(file.faceLine);
  Release(file.faceMaterial);
}

// The frame's OBJ file, checked against the rest mesh's points and faces.
// `restPoints` is the rest's point count (its points may have gone to the correction).
headless::ObjFile ReadFrame(const std::string& path, const headless::ObjFile& rest,
                            size_t restPoints) {
  headless::ObjFile frame = headless::ReadObjFile(
      path, {restPoints, static_cast<size_t>(rest.FaceCount()), rest.cornerPoint.size()});
  headless::CheckCoordinateRange(frame.mesh.points, path);
  headless::CheckPointCount(frame.mesh.points.size(), restPoints, rest.name, path);
  headless::CheckSameFaces(rest, frame);
  // Writing back needs the faces only to turn normals; the polygons are the rest's.
  Release(frame.mesh.polygons);
  if (frame.normals.empty()) ReleaseFaces(frame);
  return frame;
}

// Arrays frames are done with, for later frames to be read into without fresh memory.
template <typename Array>
class Rooms {
 public:
  void Put(Array&& room) {
    const std::lock_guard<std::mutex> lock(mutex_);
    rooms_.push_back(std::move(room));
  }
  // A room, or an empty array when there is none.
  Array Take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (rooms_.empty()) return {};
    Array room = std::move(rooms_.back());
    rooms_.pop_back();
    return room;
  }

 private:
  std::mutex mutex_;
  std::vector<Array> rooms_;
};

// When the file at `path` was last written (the least time when that cannot be known).
fs::file_time_type LastWritten(const std::string& path) {
  std::error_code ec;
  return fs::last_write_time(headless::platform::PathFromUtf8(path), ec);
}

// The frame's OBJ file as writing its result needs it: read by a quick look that keeps only that
// where the look is sure the file is a frame of the rest (without normals), else by ReadFrame,
// which names the fault. The look reads into the room of `points` and `spans`.
headless::ObjFile ReadFrameToWrite(const std::string& path, const headless::ObjFile& rest,
                                   size_t restPoints,
                                   const std::optional<headless::RestFaceText>& restFaces,
                                   std::vector<Vector3> points = {},
                                   headless::SpanList spans = {}) {
  headless::ObjFile frame;
  frame.mesh.points = std::move(points);
  frame.pointSpans = std::move(spans);
  if (headless::SurelyFrameOf(path, rest, restPoints, &frame, restFaces ? &*restFaces : nullptr))
    return frame;
  return ReadFrame(path, rest, restPoints);
}

// A frame's text is let go once the frame is parsed; writing the result reads it again from the
// file as it goes (the system's cache makes that cheap), so a frame's text is held only while it
// is parsed. The standard input cannot be read twice, so its frame keeps its text.
struct SetAsideText {
  fs::file_time_type modified;

  // Lets go of `frame`'s text; nothing for the standard input.
  void Take(headless::ObjFile& frame) {
    if (frame.name == "-") return;
    modified = LastWritten(frame.name);
    Release(frame.text);
  }
  // Throws when the file was written to since it was read (writing back checks its length).
  void CheckUnchanged(const headless::ObjFile& frame) const {
    if (frame.name != "-" && LastWritten(frame.name) != modified)
      throw ApplyError(frame.name +
                       ": changed while it was being corrected; nothing of it written");
  }
};

// The cache the results go into: the input cache's timing when it is of the same format,
// else the frames' numbers (PC2: the first and the step, which must be even; MDD: frame / fps
// seconds). Refused, before anything is written, when the format cannot hold them.
headless::PointCache OutputCache(const ApplyOptions& o, const Frames& frames) {
  headless::PointCache out;
  out.format = *headless::PointCacheFormatOf(o.out);
  if (frames.cache && frames.cache->Timing().format == out.format) {
    out.startFrame = frames.cache->Timing().startFrame;
    out.sampleRate = frames.cache->Timing().sampleRate;
    out.times = frames.cache->Timing().times;
    return out;
  }
  try {
    headless::SetCacheTiming(
        out, static_cast<Int64>(frames.Count()),
        [&](Int64 s) { return frames.numbers[static_cast<size_t>(s)]; }, o.fps);
  } catch (const std::invalid_argument& e) {
    throw ApplyError(o.out + ": " + e.what());
  }
  return out;
}

// The glTF the results go into: the rest mesh's own vertices (ObjFileVertices) at rest, then a
// frame per result at its number / fps seconds, shifted to start at 0 when numbers run below 0;
// normals turn with the surface from the rest mesh's.
struct GlbOut {
  std::shared_ptr<const headless::FileVertices> vertices;
  std::vector<headless::SurfaceFrame> restFrames;  // per point
  const std::vector<CPolygon>* polygons;
  Float origin = 0.0;  // the frame at 0 seconds
  Float fps = 30.0;
  headless::GlbWriter writer;

  GlbOut(const headless::ObjFile& rest, const Frames& frames, Float framesPerSecond)
      : vertices(std::make_shared<headless::FileVertices>(headless::ObjFileVertices(rest))),
        restFrames(headless::PointFrames(rest.mesh.points, rest.mesh.polygons)),
        polygons(&rest.mesh.polygons),
        origin(std::min(0.0, frames.numbers.front())),
        fps(framesPerSecond) {
    if (vertices->VertexCount() == 0)
      throw ApplyError(rest.name + ": no face, so a glTF of it would hold no vertex");
    writer.AddMesh(vertices, headless::FileVertexPositions(*vertices, rest.mesh.points),
                   vertices->normals);
  }
  void Add(Float frame, const std::vector<Vector3>& points) {
    const std::vector<Vector3> positions = headless::FileVertexPositions(*vertices, points);
    const std::vector<Vector3> normals = headless::FileVertexNormals(
        *vertices, restFrames, headless::PointFrames(points, *polygons));
    writer.AddFrame((frame - origin) / fps, {positions}, {normals});
  }
};

// Above this many point-rounds (points times smoothing rounds) one evaluation takes about a second
// or more on a small machine, so even one frame reports its stages.
constexpr Float kLongEvaluation = 5.0e7;

// Rest, input and corrected side by side, from three-quarter view.
void WritePreview(const std::string& path, const headless::Mesh& rest,
                  const std::vector<Vector3>& input, const std::vector<Vector3>& corrected,
                  const std::string& frameName) {
  auto view = [&](const std::vector<Vector3>& points, const std::string& caption) {
    return headless::ViewOf(points, rest.polygons, caption);
  };
  const std::string name = frameName == "-" ? "input" : fs::path(frameName).filename().string();
  headless::WritePng(
      path, headless::RenderSideBySide(
                {view(rest.points, "rest"), view(input, name), view(corrected, "corrected")},
                headless::NamedView("three-quarter"), 420, 420));
}

// The preview's page: the rest mesh, and the frames as given and corrected, coloured by the
// detail kept against the rest; frames past what a page holds are left out, with a note.
class PreviewPage {
 public:
  PreviewPage(const ApplyOptions& o, const headless::Mesh& rest, const Frames& frames,
              std::ostream& err)
      : page_("tessamire apply: " + o.rest), frames_(frames) {
    const Int64 count = static_cast<Int64>(rest.points.size());
    const std::string restName =
        o.rest == "-" ? "the rest mesh" : fs::path(o.rest).filename().string();
    page_.SetRest(rest, restName);
    page_.AddFrame(page_.AddInput("rest", count, rest.polygons), 0.0, rest.points);
    std::string inputName = "input";
    if (frames.cache)
      inputName = fs::path(frames.cachePath).filename().string();
    else if (o.frames.size() == 1 && o.frames[0] != "-")
      inputName = fs::path(o.frames[0]).filename().string();
    input_ = page_.AddInput(inputName, count, rest.polygons);
    corrected_ = page_.AddInput("corrected", count, rest.polygons);
    page_.Builder().SetDistanceReference(input_);
    // About 9 bytes per point and frame of each of the two inputs.
    maxFrames_ =
        static_cast<size_t>(std::max<Int64>(1, headless::kMaxPageDataBytes / (18 * count + 1)));
    if (frames.Count() > maxFrames_)
      err << "tessamire apply: note: the preview page shows the first " << maxFrames_ << " of "
          << frames.Count() << " frames\n";
    for (size_t i = 1; i < frames.numbers.size(); ++i)
      if (!(frames.numbers[i] > frames.numbers[i - 1])) increasing_ = false;
  }

  void Add(size_t i, const std::vector<Vector3>& input, const std::vector<Vector3>& corrected) {
    if (i >= maxFrames_) return;
    // Frames numbered out of order (a list of files) show in their order.
    const Float frame = increasing_ ? frames_.numbers[i] : static_cast<Float>(i);
    page_.AddFrame(input_, frame, input);
    page_.AddFrame(corrected_, frame, corrected);
  }

  void Write(const std::string& path) { page_.Write(path); }

 private:
  ViewPage page_;
  const Frames& frames_;
  Int32 input_ = 0, corrected_ = 0;
  size_t maxFrames_ = 0;
  bool increasing_ = true;
};

int Apply(const ApplyOptions& o, std::ostream& out, std::ostream& err) {
  CacheOpening opening(o);
  headless::ObjFile rest = headless::ReadObjFile(o.rest);
  // The rest's faces stay for checking every frame's against them: without the room they grew by.
  rest.faceFirst.shrink_to_fit();
  rest.cornerPoint.shrink_to_fit();
  rest.faceLine.shrink_to_fit();
  rest.faceMaterial.shrink_to_fit();
  headless::CheckCoordinateRange(rest.mesh.points, o.rest);
  const size_t count = rest.mesh.points.size();
  const std::string restName = "the rest mesh " + o.rest;
  std::vector<Float32> vertexMap, restriction, region;
  // Smoothing weights run from 0 (the point keeps still) to 1 (it moves fully); restriction
  // weights extrapolate beyond them.
  if (!o.vertexMap.empty())
    vertexMap = headless::ReadWeightsFile(o.vertexMap, count, restName, true);
  if (!o.restriction.empty())
    restriction = headless::ReadWeightsFile(o.restriction, count, restName);
  if (!o.region.empty()) region = headless::ReadWeightsFile(o.region, count, restName);
  Frames frames = GatherFrames(o, count, opening);
  const std::vector<fs::path> outputs = PlanOutputs(o, frames);
  // Frames of OBJ files compare their faces' text with the rest's, read while the rest's is held.
  std::optional<headless::RestFaceText> restFaces;
  if (!frames.cache && frames.files.size() > 1) restFaces = headless::RestFaceTextOf(rest);
  // The rest's text is written again only as the OBJ result of a cache's sample (frames of OBJ
  // files are written like themselves).
  if (!frames.cache || outputs.empty()) {
    Release(rest.text);
    Release(rest.pointSpans);
  }
  // The output cache goes to its file a sample at a time, as each is corrected.
  std::optional<headless::PointCacheWriter> cacheOut;
  if (outputs.empty() && !GlbOutput(o.out))
    cacheOut.emplace(o.out, OutputCache(o, frames), static_cast<Int64>(frames.Count()));
  // The first two frames are read for writing and kept, without their text, two at a time: read
  // before the bind, their reading and the bound plug-in's arrays are never held at once. The
  // standard input can be read once only, so a frame from it is read here too. Later frames are
  // read in their turn, and nothing is written before every frame has been read (below). Each
  // frame kept is written by one thread only.
  std::array<std::optional<headless::ObjFile>, 2> early;
  std::array<SetAsideText, 2> earlyText;
  std::optional<headless::ObjFile> standardInputFrame;
  std::vector<size_t> readNow;
  for (size_t i = 0; i < frames.files.size(); ++i)
    if (i < early.size() || frames.files[i] == "-") readNow.push_back(i);
  headless::RunInPairs(readNow.size(), [&](size_t k) {
    headless::StopIfInterrupted();
    const size_t i = readNow[k];
    headless::ObjFile frame = i < early.size()
                                  ? ReadFrameToWrite(frames.files[i], rest, count, restFaces)
                                  : ReadFrame(frames.files[i], rest, count);
    if (i < early.size()) {
      earlyText[i].Take(frame);
      early[i] = std::move(frame);
    } else if (frames.files[i] == "-") {
      standardInputFrame = std::move(frame);
    }
  });
  // With every frame kept from the check, or a cache's samples, no frame is read again: the rest's
  // faces, kept to check frames against, can go (a glTF and a rest with normals still need them).
  if ((frames.cache || frames.files.size() <= early.size()) && !GlbOutput(o.out) &&
      rest.normals.empty())
    ReleaseFaces(rest);
  const bool toFolder = !outputs.empty() && !IsFramePattern(o.out) &&
                        (outputs.size() > 1 || (!EndsWithObj(o.out) && o.out != "-"));
  if (toFolder)
    PrepareFolder(o.out);
  else
    PrepareOutputFolder(outputs.empty() ? o.out : outputs[0].string());
  if (!o.preview.empty()) PrepareOutputFolder(o.preview);

  // A long single evaluation reports its stages; many frames report each frame. The rounds not
  // given are the tag's default, which the plug-in's description states; without it the run counts
  // as long.
  const size_t total = frames.Count();
  const std::optional<Int64> iterations = o.options->IntegerOrDefault("--iterations");
  const bool longRun =
      total > 1 || !iterations ||
      static_cast<Float>(count) * static_cast<Float>(*iterations) > kLongEvaluation;
  Progress progress(
      err,
      ChooseProgressStyle(headless::platform::StderrIsTerminal(), o.quiet || !longRun),
      "tessamire apply", "step", static_cast<Int64>(total) + 1);
  // The rest's points and polygons go to the correction's document unless the preview, the
  // report, a glTF or turning the rest's normals needs them again.
  const bool restMeshAgain =
      o.report || !o.preview.empty() || GlbOutput(o.out) || !rest.normals.empty();
  headless::Correction correction(
      o.rest, restMeshAgain ? rest.mesh.points : std::move(rest.mesh.points),
      restMeshAgain ? rest.mesh.polygons : std::move(rest.mesh.polygons), TagSettingsOf(*o.options),
      std::move(vertexMap), std::move(restriction));
  progress.Step("bound " + o.rest);

  std::optional<GlbOut> glbOut;
  if (outputs.empty() && GlbOutput(o.out)) glbOut.emplace(rest, frames, o.fps);
  std::optional<headless::PairReference> reference;
  // The report shares the standard output with nothing but itself.
  std::ostream& reportStream = o.out == "-" ? err : out;
  if (o.report) {
    reference = headless::PreparePairReference(rest.mesh, region);
    if (!region.empty())
      reportStream << "measured over " << reference->region.size() << " of " << count
                   << " points, those of nonzero weight in " << o.region << "\n";
    headless::PrintReportHeader(reportStream);
  }
  std::vector<Vector3> lastInput, lastCorrected;
  std::optional<PreviewPage> page;
  if (!o.preview.empty() && o.preview != "-") page.emplace(o, rest.mesh, frames, err);
  Int64 pointsKept = 0;
  // Frame i lives in slot i % kPipelineSlots from its reading to its writing.
  struct Slot {
    std::optional<headless::ObjFile> frame;
    SetAsideText text;
    std::vector<Vector3> sample;  // a cache's sample, until corrected or, looked at again, written
    std::vector<Vector3> corrected;
    const std::vector<Vector3>* result = nullptr;  // `corrected`, or the correction's own
    headless::DeformReport report;
    Float seconds = 0.0;
    const std::vector<Vector3>& Input() const { return frame ? frame->mesh.points : sample; }
    const std::vector<Vector3>& Result() const { return *result; }
  };
  std::array<Slot, headless::kPipelineSlots> slots;
  const auto slotOf = [&slots](size_t i) -> Slot& { return slots[i % slots.size()]; };
  // Each OBJ result is finished under a temporary name as it is written, and renamed over its
  // target once every frame has been read (beside the last frames' correction and writing): a
  // frame at fault as input leaves nothing written, as though every frame had been checked first,
  // while a result that cannot be written, or an interruption, keeps the results before it, as a
  // run of one frame after another writes them. A result that cannot be renamed stops the run
  // and keeps the results before it.
  std::vector<std::unique_ptr<headless::OutputFile>> finished(total);
  bool inputFault = false, commitFault = false;
  const auto commitFinished = [&finished, &commitFault](size_t before) {
    for (size_t i = 0; i < before; ++i) {
      if (!finished[i]) continue;
      try {
        finished[i]->Commit();
      } catch (...) {
        commitFault = true;
        throw;
      }
    }
  };
  // The measures, the preview and its page look at a frame's input and result once it is written.
  const bool resultAgain = reference || page || !o.preview.empty();
  // Fresh pages cost more than reading fills them with, so frames are read into the room of
  // frames done with: the points each correction takes back, and where a written frame's `v`
  // lines stood. A room is put aside only for a frame still to be read, which takes it in the
  // next step, when its holder would have let it go: no more is held than without them.
  Rooms<std::vector<Vector3>> pointRooms;
  Rooms<headless::SpanList> spanRooms;
  headless::FrameStages stages;
  stages.read = [&](size_t i) {
    headless::StopIfInterrupted();
    Slot& slot = slotOf(i);
    slot.frame.reset();
    if (frames.cache) {
      slot.sample = pointRooms.Take();
      frames.cache->Read(static_cast<Int64>(i), slot.sample);
      return;
    }
    if (i < early.size()) {
      slot.frame = std::move(early[i]);
      slot.text = earlyText[i];
    } else if (frames.files[i] == "-") {
      slot.frame = std::move(standardInputFrame);
    } else {
      try {
        slot.frame = ReadFrameToWrite(frames.files[i], rest, count, restFaces, pointRooms.Take(),
                                      spanRooms.Take());
      } catch (...) {
        inputFault = true;
        throw;
      }
      slot.text.Take(*slot.frame);
    }
  };
  stages.correct = [&](size_t i) {
    Slot& slot = slotOf(i);
    const auto start = std::chrono::steady_clock::now();
    // The input again only for the report, the preview or turning normals; else the correction
    // takes its array, and gives it back as room for the frame read in the next step.
    std::vector<Vector3>* own = slot.frame ? &slot.frame->mesh.points : &slot.sample;
    if (resultAgain || (slot.frame && !slot.frame->normals.empty())) own = nullptr;
    slot.report = own ? correction.Correct(std::move(*own), frames.Name(i), o.showSmoothed)
                      : correction.Correct(slot.Input(), frames.Name(i), o.showSmoothed);
    slot.seconds = std::chrono::duration<Float>(std::chrono::steady_clock::now() - start).count();
    if (own && i + 2 < total) pointRooms.Put(correction.TakeInput());
    // Results are taken from the correction but for the last frame's: the next frame's correction
    // builds its own while this one is written.
    if (i + 1 == total) {
      slot.result = &correction.Result();
    } else {
      slot.corrected = correction.TakeResult();
      slot.result = &slot.corrected;
    }
  };
  stages.write = [&](size_t i) {
    const Slot& slot = slotOf(i);
    if (cacheOut) {
      try {
        cacheOut->Append(slot.Result());
      } catch (const std::invalid_argument& e) {
        throw ApplyError(o.out + ": " + e.what() + " (the result of " + frames.Name(i) + ")");
      }
    } else if (glbOut) {
      glbOut->Add(frames.numbers[i], slot.Result());
    } else {
      if (slot.frame) slot.text.CheckUnchanged(*slot.frame);
      auto file = std::make_unique<headless::OutputFile>(outputs[i].string());
      headless::WriteObjLike(*file, slot.frame ? *slot.frame : rest, slot.Result());
      file->Finish();
      finished[i] = std::move(file);
    }
  };
  // Everything printed, on the calling thread, once the frame is written.
  size_t framesWritten = 0;
  stages.written = [&](size_t i) {
    framesWritten = i + 1;
    Slot& slot = slotOf(i);
    for (const std::string& warning : slot.report.warnings)
      err << "tessamire apply: warning: " << headless::Printable(warning) << "\n";
    pointsKept += slot.report.PointsKept();
    progress.Step(outputs.empty() ? frames.Name(i) : frames.Name(i) + " -> " + outputs[i].string());
    if (reference)
      headless::PrintReportRow(frames.Name(i), headless::MeasurePair(*reference, slot.Input()),
                               headless::MeasurePair(*reference, slot.Result()), slot.seconds,
                               reportStream);
    if (page) page->Add(i, slot.Input(), slot.Result());
    if (i + 1 == total && !o.preview.empty()) {
      lastInput = slot.Input();
      lastCorrected = slot.Result();
    }
    // A frame's arrays go as soon as it is written, not when its slot is taken again; its
    // result's goes back to the correction for the next result.
    if (slot.frame && i + 3 < total) spanRooms.Put(std::move(slot.frame->pointSpans));
    slot.frame.reset();
    correction.GiveBackRoom(std::move(slot.corrected));
    Release(slot.sample);
  };
  stages.onceAllRead = commitFinished;
  // Frames written to files of their own: the last may be written beside the one before it, so
  // after a failure only the frames reported written are committed.
  stages.writesApart = !cacheOut && !glbOut;
  try {
    headless::RunFrames(total, stages);
  } catch (...) {
    if (!inputFault && !commitFault) commitFinished(framesWritten);
    throw;
  }
  commitFinished(total);
  if (cacheOut) cacheOut->Commit();
  if (glbOut) glbOut->writer.Write(o.out);
  progress.Finish();
  if (!o.preview.empty())
    WritePreview(o.preview, rest.mesh, lastInput, lastCorrected, frames.Name(total - 1));
  if (page) page->Write(PreviewPagePath(o.preview));
  return KeptPointsExit(pointsKept, "tessamire apply", err);
}

int RunApply(const Options& options, std::ostream& out, std::ostream& err) {
  ApplyOptions o;
  o.options = &options;
  o.rest = options.Text("--rest");
  o.out = options.Text("--out");
  o.frames = options.Operands();
  o.vertexMap = options.Text("--vertex-map");
  o.restriction = options.Text("--restriction");
  o.region = options.Text("--region");
  o.preview = options.Text("--preview");
  o.showSmoothed = options.Has("--show-smoothed");
  o.report = options.Has("--report");
  o.quiet = options.Has("--quiet");
  if (options.Has("--frames")) {
    try {
      ParseSequenceRange(options.Text("--frames"), o.first, o.last);
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
    o.hasRange = true;
  }
  o.fps = options.Number("--fps").value_or(30.0);
  if (!(o.fps > 0.0)) throw UsageError("--fps wants a number above 0");
  Int32 fromStandardInput = 0;
  for (const std::string* input : {&o.rest, &o.vertexMap, &o.restriction, &o.region})
    fromStandardInput += *input == "-";
  for (const std::string& frame : o.frames) fromStandardInput += frame == "-";
  if (fromStandardInput > 1) throw UsageError("only one input can come from the standard input");
  if (!o.region.empty() && !o.report)
    throw UsageError("--region chooses the points --report measures; give --report too");
  if (o.preview == "-" && o.out == "-")
    throw UsageError("--out and --preview cannot both go to the standard output");
  return Apply(o, out, err);
}

std::vector<OptionSpec> ApplyOptionSpecs() {
  std::vector<OptionSpec> declarations = {
      Required(TextOption("--rest", "REST.obj",
                          "the rest mesh the bind tag binds; every frame has its points and "
                          "polygons")),
      Required(TextOption("--out", "OUT",
                          "where the corrected frames go: OUT ending in .pc2 or .mdd gets one "
                          "cache of all frames, OUT ending in .glb one binary glTF of the rest "
                          "mesh's own vertices with every frame as a morph target keyed at its "
                          "frame / F seconds; a pattern (####) one OBJ per frame; one frame "
                          "and OUT ending in .obj (or -, the standard output) write that file; "
                          "otherwise OUT is a folder (created when its parent exists) receiving "
                          "each frame under its own name (a cache's samples as "
                          "<cache>.<frame>.obj)"))};
  for (OptionSpec& o : TagSettingOptions(true)) declarations.push_back(o);
  declarations.push_back(
      TextOption("--vertex-map", "W.txt",
                 "per-point smoothing weights (one number per line, from 0 to 1): a "
                 "point of weight 0 is not smoothed, so its detail is not restored"));
  declarations.push_back(
      TextOption("--restriction", "R.txt",
                 "per-point weights (one number per line) blending the corrected "
                 "result with the input: 0 keeps the input, 1 the correction"));
  declarations.push_back(
      FlagOption("--show-smoothed",
                 "write the smoothed mesh the correction is built on instead of the "
                 "corrected one"));
  declarations.push_back(
      FlagOption("--report",
                 "print per frame the detail height error, edge change and hinge "
                 "change of the input and of the corrected mesh against the rest, "
                 "and the time the frame took"));
  declarations.push_back(TextOption("--region", "W.txt",
                                    "with --report, measure only the points whose weight (one "
                                    "number per line) is not 0",
                                    "every point"));
  declarations.push_back(TextOption("--preview", "PIC.png",
                                    "draw rest, input and corrected mesh of the last frame side by "
                                    "side, and write PIC.html beside it: the page of `tessamire "
                                    "view` with every frame as given and corrected"));
  declarations.push_back(TextOption(
      "--frames", "A:B", "the frames of a numbered sequence (walk.####.obj or walk.%04d.obj)"));
  declarations.push_back(
      NumberOption("--fps", "F",
                   "frames per second of an MDD cache's times, which are in seconds, and of a "
                   "glTF's",
                   std::nullopt, std::nullopt, "30"));
  declarations.push_back(FlagOption("--quiet", "print no progress"));
  return declarations;
}

}  // namespace

Subcommand ApplySubcommand() {
  CommandSpec declaration;
  declaration.name = "apply";
  declaration.operands = "FRAME.obj...|SEQ.####.obj|CACHE.pc2|CACHE.mdd";
  declaration.minOperands = 1;
  declaration.maxOperands = -1;
  declaration.summary =
      "correct deformed meshes of one rest mesh with the plug-in's bind tag and "
      "deformer";
  declaration.details =
      "Binds REST.obj once with the plug-in's bind tag and corrects each frame (the "
      "rest mesh's points moved, the same faces) with the deformer: OBJ files, a "
      "numbered sequence over --frames A:B, or every sample of one point cache. OBJ "
      "results keep every line of their input but the positions, the normals (turned "
      "with the surface) and a relative material library's name (rewritten to reach it "
      "from the result's folder). One input may be - (the standard input).";
  declaration.options = ApplyOptionSpecs();
  return {declaration, RunApply};
}

}  // namespace cli
