// The module's files: OBJ meshes, PC2 and MDD point caches and rigged characters, read into and
// written from numpy arrays by the headless host's own readers and writers.
#include <cmath>
#include <limits>
#include <memory>

#include "headless/characters/character.h"
#include "headless/deformers/skin.h"
#include "headless/files/shortest_number.h"
#include "headless/geometry/file_vertices.h"
#include "headless/io/character_reader.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "headless/io/point_cache.h"
#include "headless/platform/paths.h"
#include "headless/scene/evaluate.h"
#include "python/arrays.h"
#include "python/calls.h"
#include "python/module.h"

namespace tessamire_python {

namespace {

// An OBJ file as read: its points, its faces, and everything else the faithful writer keeps.
struct ObjMesh {
  std::shared_ptr<const headless::ObjFile> file;
  py::object points;
  py::object faces;      // the host's polygons, (M, 4) int32
  py::object fileFaces;  // the file's own: (counts, corners)
};

struct Cache {
  py::object frames;
  std::string format;
  py::object start;
  py::object rate;
  py::object times;
};

struct CharacterMesh {
  std::string name;
  py::object points, faces, joints, weights, frames;
  // The file's own vertices (the welded points where the file split none).
  py::object filePoints, fileToPoint, uvs, normals, fileFaces;
};

struct Character {
  py::list meshes;
  py::list notes;
  double fps = 0.0;
  py::object clip;
};

// Refuses coordinates a reader of `file` would refuse: NaN and infinity.
void CheckFinite(std::span<const Vector3> points, const char* what, const char* file) {
  for (size_t i = 0; i < points.size(); ++i)
    for (const Float c : {points[i].x, points[i].y, points[i].z})
      if (!std::isfinite(c))
        throw py::value_error(std::string(what) + ": point " + std::to_string(i) +
                              " has the coordinate " + headless::ShortestNumber(c) + "; " + file +
                              " holds finite numbers only");
}

py::array_t<double> CopiedPoints(std::span<const Vector3> points) {
  py::array_t<double> out = NewPointArray(-1, points.size());
  std::copy(points.begin(), points.end(), WritablePoints(out));
  return out;
}

ObjMesh ReadObj(py::handle pathValue) {
  const std::string path = PathArgument(pathValue, "path");
  CheckReadable(path);
  auto file = std::make_shared<headless::ObjFile>(
      FileWork([&] { return WithoutGil([&] { return headless::ReadObjFile(path); }); }));
  ObjMesh mesh;
  mesh.points = CopiedPoints(file->mesh.points);
  mesh.faces = PolygonArray(file->mesh.polygons);
  mesh.fileFaces = FaceArrays(file->faceFirst, file->cornerPoint);
  mesh.file = std::move(file);
  return mesh;
}

void WriteObj(py::handle pathValue, py::handle points, py::object like, py::object faces) {
  const std::string path = PathArgument(pathValue, "path");
  const py::array_t<double> p = PointArray(points, "points", 2);
  const std::span<const Vector3> at = FramePoints(p, 0);
  CheckFinite(at, "points", "an OBJ file");
  if (like.is_none() == faces.is_none())
    throw py::value_error("write_obj wants either like= (an ObjMesh) or faces=, not " +
                          std::string(like.is_none() ? "neither" : "both"));
  if (!like.is_none()) {
    if (!py::isinstance<ObjMesh>(like))
      throw py::type_error("like: an ObjMesh (read_obj's), not " + TypeName(like));
    const ObjMesh& mesh = like.cast<const ObjMesh&>();
    if (at.size() != mesh.file->mesh.points.size())
      throw py::value_error("points: " + std::to_string(at.size()) + " points, but the mesh " +
                            mesh.file->name + " has " +
                            std::to_string(mesh.file->mesh.points.size()));
    FileWork([&] { WithoutGil([&] { headless::WriteObjLike(path, *mesh.file, at); }); });
    return;
  }
  const std::vector<CPolygon> polygons = FacePolygons(faces, static_cast<Int64>(at.size()));
  FileWork([&] { WithoutGil([&] { headless::WriteObj(path, at, polygons); }); });
}

Cache ReadCache(py::handle pathValue) {
  const std::string path = PathArgument(pathValue, "path");
  CheckReadable(path);
  const headless::PointCache cache =
      FileWork([&] { return WithoutGil([&] { return headless::ReadPointCache(path); }); });
  const Int64 samples = cache.SampleCount();
  py::array_t<double> frames = NewPointArray(samples, static_cast<size_t>(cache.pointCount));
  double* to = frames.mutable_data();
  for (size_t i = 0; i < cache.coordinates.size(); ++i) to[i] = cache.coordinates[i];
  Cache out;
  out.frames = std::move(frames);
  const bool pc2 = cache.format == headless::PointCacheFormat::kPc2;
  out.format = pc2 ? "pc2" : "mdd";
  out.start = pc2 ? py::object(py::float_(cache.startFrame)) : py::none();
  out.rate = pc2 ? py::object(py::float_(cache.sampleRate)) : py::none();
  out.times =
      pc2 ? py::none() : py::object(py::array_t<Float32>(cache.times.size(), cache.times.data()));
  return out;
}

Float32 Narrowed(double value, const std::string& what) {
  if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<Float32>::max())
    throw py::value_error(what + " (" + py::repr(py::float_(value)).cast<std::string>() +
                          ") does not fit in float32");
  return static_cast<Float32>(value);
}

// A PC2's start and rate, refused where the reader would refuse them (in its words) or where
// their float32 values would put a sample at another frame.
void SetPc2Timing(headless::PointCache& cache, double start, double rate, Int64 count) {
  const Float32 start32 = Narrowed(start, "start");
  const Float32 rate32 = Narrowed(rate, "rate");
  if (!std::isfinite(start32) || !std::isfinite(rate32) || !(rate32 > 0.0f))
    throw py::value_error(
        "the start frame and the sample rate must be finite and the rate "
        "positive (" +
        headless::ShortestNumber(start) + ", " + headless::ShortestNumber(rate) + ")");
  headless::SetCacheTiming(
      cache, std::max<Int64>(count, 1),
      [&](Int64 s) { return start + static_cast<double>(s) * rate; }, 1.0);
}

// An MDD's times in seconds, one per frame, as the reader takes them (in its words).
void SetMddTimes(headless::PointCache& cache, const py::object& times, size_t count) {
  if (times.is_none()) {
    // Sample i at i / 30 seconds, the 30 frames per second MDD readers assume.
    for (size_t i = 0; i < count; ++i)
      cache.times.push_back(static_cast<Float32>(static_cast<double>(i) / 30.0));
    return;
  }
  const std::vector<Float32> given = WeightArray(times, "times");
  if (given.size() != count)
    throw py::value_error("times: " + std::to_string(given.size()) + " times for " +
                          std::to_string(count) + " frames");
  for (size_t i = 0; i < count; ++i) {
    const Float32 t = given[i];
    if (!std::isfinite(t))
      throw py::value_error("times: the time of frame " + std::to_string(i) + " is not finite");
    if (i > 0 && !(t > cache.times.back()))
      throw py::value_error("times: the time of frame " + std::to_string(i) + " (" +
                            headless::ShortestNumber(t) + " s) is not after the one before (" +
                            headless::ShortestNumber(cache.times.back()) + " s)");
    cache.times.push_back(t);
  }
}

void WriteCache(py::handle pathValue, py::handle framesValue, py::handle startValue,
                py::handle rateValue, py::object times) {
  const std::string path = PathArgument(pathValue, "path");
  const std::optional<headless::PointCacheFormat> format = headless::PointCacheFormatOf(path);
  if (!format) throw py::value_error(path + ": a point cache is named .pc2 or .mdd");
  const py::array_t<double> frames = PointArray(framesValue, "frames", 3);
  const bool pc2 = *format == headless::PointCacheFormat::kPc2;
  if (pc2 && !times.is_none())
    throw py::value_error("times are an MDD file's; a PC2 file has start and rate");
  headless::PointCache cache;
  cache.format = *format;
  if (frames.shape(1) > std::numeric_limits<Int32>::max())
    throw py::value_error("frames: more points than a point cache holds");
  if (frames.shape(1) == 0) throw py::value_error("frames: the cache holds no points");
  cache.pointCount = static_cast<Int32>(frames.shape(1));
  const auto count = static_cast<size_t>(frames.shape(0));
  if (pc2)
    SetPc2Timing(cache, Number(startValue, "start"), Number(rateValue, "rate"),
                 static_cast<Int64>(count));
  else
    SetMddTimes(cache, times, count);
  const double* from = frames.data();
  cache.coordinates.resize(static_cast<size_t>(frames.size()));
  const auto points = static_cast<size_t>(cache.pointCount);
  for (size_t i = 0; i < cache.coordinates.size(); ++i) {
    const std::string where = "frames: sample " + std::to_string(i / 3 / points) + ", point " +
                              std::to_string(i / 3 % points);
    if (!std::isfinite(from[i]))
      throw py::value_error(where + " has a coordinate that is not finite");
    cache.coordinates[i] = Narrowed(from[i], where);
  }
  FileWork([&] { WithoutGil([&] { headless::WritePointCache(path, cache); }); });
}

// A mesh's file vertices: where each sits (its point's position), its point, its texture
// coordinates and normals as the file gave them (None where it gave none), and the file's faces.
void SetFileVertices(const headless::Node& object, CharacterMesh& out) {
  const std::shared_ptr<const headless::FileVertices>& file = object.fileVertices;
  if (file == nullptr) {
    const auto count = static_cast<py::ssize_t>(object.points.size());
    out.filePoints = CopiedPoints(object.points);
    py::array_t<Int32> identity(count);
    for (py::ssize_t i = 0; i < count; ++i) identity.mutable_data()[i] = static_cast<Int32>(i);
    out.fileToPoint = identity;
    out.uvs = py::none();
    out.normals = py::none();
    out.fileFaces = py::none();
    return;
  }
  const auto count = static_cast<py::ssize_t>(file->vertexPoint.size());
  out.filePoints = CopiedPoints(headless::FileVertexPositions(*file, object.points));
  out.fileToPoint = py::array_t<Int32>(count, file->vertexPoint.data());
  out.uvs = file->uvs.empty()
                ? py::object(py::none())
                : py::object(py::array_t<Float32>({count, py::ssize_t{2}}, file->uvs.data()));
  out.normals =
      file->normals.empty() ? py::object(py::none()) : py::object(CopiedPoints(file->normals));
  out.fileFaces = FaceArrays(file->faceFirst, file->cornerVertex);
}

Character ImportCharacter(py::handle pathValue, py::object clip, py::object fps, bool allClips,
                          py::object progress, py::object assetRoot) {
  const std::string path = PathArgument(pathValue, "path");
  CheckProgress(progress);
  CheckReadable(path);
  const headless::CharacterOptions options =
      CharacterOptionsArgument(clip, fps, allClips, assetRoot);
  headless::ReadCharacter read = FileWork(
      [&] { return WithoutGil([&] { return headless::ReadCharacterApart(path, options); }); });
  const std::unique_ptr<headless::Document> doc = std::move(read.document);
  const headless::CharacterImport& imported = read.imported;
  Character character;
  character.fps = imported.fps;
  character.clip = imported.clip < 0 ? py::none() : py::object(py::str(imported.clipName));
  for (const std::string& note : imported.notes) {
    character.notes.append(note);
    Log("info", path + ": note: " + note);
  }
  const Int64 frameCount = imported.lastFrame + 1;
  std::vector<py::array_t<double>> frames;
  std::vector<Vector3*> to;
  for (const headless::ImportedMesh& mesh : imported.meshes) {
    frames.push_back(NewPointArray(frameCount, mesh.object->points.size()));
    to.push_back(WritablePoints(frames.back()));
  }
  // The skin alone, one of the host's own deformers: no plug-in needs to be loaded.
  FrameLoop(frameCount, progress, [&](Int64 f) {
    const headless::DeformReport report =
        headless::EvaluateDocumentAtFrame(*doc, static_cast<Float>(f));
    if (!report.Ok())
      throw std::runtime_error(path + ": frame " + std::to_string(f) + ": " +
                               report.errors.front());
    for (size_t m = 0; m < imported.meshes.size(); ++m) {
      const std::vector<Vector3>& skinned = headless::DeformedPoints(imported.meshes[m].object);
      std::copy(skinned.begin(), skinned.end(), to[m] + static_cast<size_t>(f) * skinned.size());
    }
  });
  for (size_t m = 0; m < imported.meshes.size(); ++m) {
    const headless::ImportedMesh& mesh = imported.meshes[m];
    CharacterMesh out;
    out.name = mesh.object->name;
    out.points = CopiedPoints(mesh.object->points);
    out.faces = PolygonArray(mesh.object->polygons);
    py::list joints;
    for (const headless::Node* joint : mesh.joints) joints.append(joint->name);
    out.joints = joints;
    const size_t points = mesh.object->points.size();
    py::array_t<Float32> weights(
        {static_cast<py::ssize_t>(mesh.maps.size()), static_cast<py::ssize_t>(points)});
    for (size_t j = 0; j < mesh.maps.size(); ++j)
      std::copy(mesh.maps[j]->weights.begin(), mesh.maps[j]->weights.end(),
                weights.mutable_data() + j * points);
    out.weights = weights;
    out.frames = frames[m];
    SetFileVertices(*mesh.object, out);
    character.meshes.append(py::cast(std::move(out)));
  }
  return character;
}

}  // namespace

headless::CharacterOptions CharacterOptionsArgument(const py::object& clip, const py::object& fps,
                                                    bool allClips, const py::object& assetRoot) {
  headless::CharacterOptions options;
  options.readerProgram = ReaderProgram();
  if (!fps.is_none()) options.fps = Number(fps, "fps");
  options.allClips = allClips;
  if (!assetRoot.is_none()) options.assetRoot = PathArgument(assetRoot, "asset_root");
  // A clip by its name, or by its index in the file; a list of them for several.
  if (py::isinstance<py::list>(clip) || py::isinstance<py::tuple>(clip)) {
    for (const py::handle one : clip) options.clips.push_back(py::str(one).cast<std::string>());
  } else if (!clip.is_none()) {
    options.clip = py::str(clip).cast<std::string>();
  }
  return options;
}

std::string ReaderProgram() {
  // The reader the package carries beside the compiled module (a crash reading the file ends that
  // process, not the interpreter).
  const py::object module = py::module_::import("tessamire._tessamire");
  if (!py::hasattr(module, "__file__")) return {};
  return headless::platform::Utf8FromPath(
      headless::platform::PathFromUtf8(py::str(module.attr("__file__")).cast<std::string>())
          .parent_path() /
      headless::platform::PathFromUtf8(headless::kReaderProgramName));
}

void BindFiles(py::module_& m) {
  py::class_<ObjMesh>(m, "ObjMesh", "An OBJ file as read: points, faces and the rest of the file.")
      .def_readonly("points", &ObjMesh::points, "The points, (N, 3) float64, in `v` order.")
      .def_readonly("faces", &ObjMesh::faces,
                    "The polygons handed to the host, (M, 4) int32 (a triangle repeats its third "
                    "index; faces of more than 4 corners fanned into triangles).")
      .def_readonly("file_faces", &ObjMesh::fileFaces,
                    "The file's own faces as (counts, corners) int32 arrays: the corners of each "
                    "face, and the 0-based point of every corner, in file order.")
      .def_property_readonly(
          "name", [](const ObjMesh& mesh) { return mesh.file->name; }, "The file's name.");
  m.def("read_obj", &ReadObj, py::arg("path"),
        "Read an OBJ file. Raises OSError when it cannot be read or is not a sound OBJ.");
  m.def("write_obj", &WriteObj, py::arg("path"), py::arg("points"), py::arg("like"),
        py::arg("faces"),
        R"(Write `points` (N, 3) as an OBJ file.

like: an ObjMesh of the same points, written as it was read with only the positions (and the
normals they turn) changed. faces: instead, the faces of a plain OBJ file. Raises ValueError
for coordinates that are not finite, OSError when the file cannot be written.)");

  py::class_<Cache>(m, "PointCache", "The samples of a PC2 or MDD point cache.")
      .def_readonly("frames", &Cache::frames, "The samples, (F, N, 3) float64.")
      .def_readonly("format", &Cache::format, "'pc2' or 'mdd'.")
      .def_readonly("start", &Cache::start, "A PC2 file's first frame; None for MDD.")
      .def_readonly("rate", &Cache::rate, "A PC2 file's frames between samples; None for MDD.")
      .def_readonly("times", &Cache::times,
                    "An MDD file's time of each sample in seconds (float32); None for PC2.");
  m.def("read_cache", &ReadCache, py::arg("path"),
        "Read a PC2 or MDD point cache (by its extension). Raises OSError when it cannot be "
        "read or is not sound.");
  m.def("write_cache", &WriteCache, py::arg("path"), py::arg("frames"), py::arg("start"),
        py::arg("rate"), py::arg("times"),
        R"(Write `frames` (F, N, 3) as a PC2 or MDD point cache (by the extension of `path`).

A PC2 file has `start` and `rate`; an MDD file `times` in seconds, one per frame (by default
frame i at i / 30). What the readers refuse is refused here in their words, with ValueError:
coordinates that are not finite or beyond float32, no points, a start or rate not finite, a
rate not positive, a start or rate whose float32 value moves a sample to another frame, MDD
times not finite or not increasing. The file is replaced as a whole or not at all.)");

  py::class_<CharacterMesh>(m, "CharacterMesh", "One skinned mesh of an imported character.")
      .def_readonly("name", &CharacterMesh::name, "The mesh's name.")
      .def_readonly("points", &CharacterMesh::points, "The rest points, (N, 3) float64.")
      .def_readonly("faces", &CharacterMesh::faces,
                    "The polygons, (M, 4) int32 in the host's layout (a triangle repeats its "
                    "third index).")
      .def_readonly("joints", &CharacterMesh::joints, "The names of the joints that bend it.")
      .def_readonly("weights", &CharacterMesh::weights,
                    "Per joint, per point: the skin weights, (J, N) float32.")
      .def_readonly("frames", &CharacterMesh::frames,
                    "The skinned points of every frame of the animation, (F, N, 3) float64.")
      .def_readonly("file_points", &CharacterMesh::filePoints,
                    "The file's own vertices at rest, (V, 3) float64: a point split along "
                    "texture or normal seams is a vertex per side, in the file's order (what "
                    "`tessamire correct` writes).")
      .def_readonly("file_to_point", &CharacterMesh::fileToPoint,
                    "Per file vertex, the point it sits on, (V,) int32: frames[:, file_to_point] "
                    "puts frames on the file's vertices.")
      .def_readonly("uvs", &CharacterMesh::uvs,
                    "The file's texture coordinates (u, v up) per vertex, (V, 2) float32; None "
                    "when it gave none.")
      .def_readonly("normals", &CharacterMesh::normals,
                    "The file's normals per vertex at rest, (V, 3) float64; None when it gave "
                    "none.")
      .def_readonly("file_faces", &CharacterMesh::fileFaces,
                    "The file's faces over its vertices as (counts, corners) int32 arrays; None "
                    "when the mesh has no file vertices.");
  py::class_<Character>(m, "Character", "A rigged character as imported.")
      .def_readonly("meshes", &Character::meshes, "The skinned meshes (CharacterMesh).")
      .def_readonly("notes", &Character::notes, "What could not be carried over, in words.")
      .def_readonly("fps", &Character::fps, "The frames per second the animation was sampled at.")
      .def_readonly("clip", &Character::clip,
                    "The name of the animation imported; None when the file has none.");
  m.def("import_character", &ImportCharacter, py::arg("path"), py::arg("clip"), py::arg("fps"),
        py::arg("all_clips"), py::arg("progress"), py::arg("asset_root"),
        R"(Import a rigged, animated character (FBX, glTF, Collada and the rest Assimp reads).

Each skinned mesh comes with its joints, weights and its points skinned at every whole frame
of one animation, `clip` (its name or index in the file; None: the first), or of several end
to end (a list of names or indices, or `all_clips`), sampled at the file's rate or `fps`. A
mesh without a skin moves with its node (one joint). progress: None or a callable (frames done,
frames in all), called between frames; an exception it raises, or Ctrl-C's KeyboardInterrupt,
stops the import. The files the character names (a glTF's buffers, pictures) are read only from
`asset_root`'s tree (None: the file's own folder), and only regular files. Raises OSError when
the file cannot be read, holds no mesh or not the clip, or names a file outside that tree.)");
}

}  // namespace tessamire_python
