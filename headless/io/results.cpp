#include "headless/io/results.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "headless/characters/rig_pose.h"
#include "headless/files/output_file.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/geometry/mesh.h"
#include "headless/io/obj_file_vertices.h"
#include "headless/io/obj_write.h"
#include "headless/platform/paths.h"
#include "headless/scene/deform.h"

namespace headless {

// File-name stems: the object's name with anything but letters, digits, '-' and '_' replaced by
// '_'; objects whose stems collide get their position appended.
std::vector<std::string> FileStems(const std::vector<Node*>& objects) {
  std::vector<std::string> stems;
  std::map<std::string, int> uses;
  for (const Node* object : objects) {
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

namespace {

namespace fs = std::filesystem;

bool Skinned(const Node* object) {
  for (const Node* child = object->down; child != nullptr; child = child->next)
    if (child->type == Oskin) return true;
  return false;
}

// The welded points as vertices of their own: one per point, the polygons as faces.
std::shared_ptr<const FileVertices> WeldedVertices(const Node* object) {
  auto file = std::make_shared<FileVertices>();
  file->object = object->name;
  file->mesh = object->name;
  file->vertexPoint.resize(object->points.size());
  for (size_t p = 0; p < object->points.size(); ++p) file->vertexPoint[p] = static_cast<Int32>(p);
  for (const CPolygon& polygon : object->polygons) {
    file->cornerVertex.insert(file->cornerVertex.end(), {polygon.a, polygon.b, polygon.c});
    if (polygon.d != polygon.c) file->cornerVertex.push_back(polygon.d);
    file->faceFirst.push_back(static_cast<Int64>(file->cornerVertex.size()));
    file->faceMaterial.push_back(-1);
  }
  return file;
}

const char* Extension(ResultFormat format) {
  switch (format) {
    case ResultFormat::kObj:
      return "obj";
    case ResultFormat::kPc2:
      return "pc2";
    case ResultFormat::kMdd:
      return "mdd";
    case ResultFormat::kGlb:
      return "glb";
  }
  return "";
}

}  // namespace

std::optional<GlbForm> GlbFormNamed(const std::string& name) {
  if (name == "skin") return GlbForm::kSkin;
  if (name == "frames") return GlbForm::kFrames;
  return std::nullopt;
}

std::optional<ResultFormat> ResultFormatNamed(const std::string& name) {
  for (ResultFormat format :
       {ResultFormat::kObj, ResultFormat::kPc2, ResultFormat::kMdd, ResultFormat::kGlb})
    if (name == Extension(format)) return format;
  return std::nullopt;
}

std::string PaddedFrame(Int64 frame, int width) {
  std::string digits = std::to_string(frame < 0 ? -frame : frame);
  if (static_cast<int>(digits.size()) < width)
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return (frame < 0 ? "-" : "") + digits;
}

ResultWriter::ResultWriter(std::vector<Node*> objects, ResultOptions options, Int64 first,
                           Int64 last)
    : options_(std::move(options)), first_(first), last_(last), next_(first) {
  if (!options_.placements.empty() && options_.placements.size() != objects.size())
    throw std::invalid_argument("a placement per object, not " +
                                std::to_string(options_.placements.size()) + " for " +
                                std::to_string(objects.size()));
  if (!std::isfinite(options_.fps) || !(options_.fps > 0.0))
    throw std::invalid_argument("the frame rate must be positive and finite, not " +
                                ShortestNumber(options_.fps));
  if (first > last)
    throw std::invalid_argument("no frame from " + std::to_string(first) + " to " +
                                std::to_string(last));
  const std::vector<std::string> stems = FileStems(objects);
  for (size_t i = 0; i < objects.size(); ++i) {
    Target target;
    target.object = objects[i];
    target.stem = stems[i];
    const std::string label = "object \"" + Printable(target.object->name) + "\"";
    const Int64 points = static_cast<Int64>(target.object->points.size());
    if (target.object->fileVertices != nullptr && !options_.welded) {
      try {
        CheckFileVertices(*target.object->fileVertices, points);
        target.file = target.object->fileVertices;
      } catch (const std::invalid_argument& e) {
        notes_.push_back(label + " is written on its " + std::to_string(points) +
                         " welded points: the file's vertices it keeps no longer fit them (" +
                         e.what() + ")");
      }
    } else if (target.object->fileVertices == nullptr && !options_.welded &&
               options_.sceneVersion < kSceneFormatWithFileVertices && Skinned(target.object)) {
      notes_.push_back(label + " is written on its " + std::to_string(points) +
                       " welded points: the scene was saved in format version " +
                       std::to_string(options_.sceneVersion) +
                       ", which kept no vertices of the file a character came from; import "
                       "the file again to write on its own vertices");
    }
    if (target.file != nullptr && !target.file->normals.empty())
      target.restFrames = FileVertexFrames(*target.file, target.object->points);
    target.cache.format =
        options_.format == ResultFormat::kMdd ? PointCacheFormat::kMdd : PointCacheFormat::kPc2;
    targets_.push_back(std::move(target));
  }
  if (options_.format == ResultFormat::kPc2 || options_.format == ResultFormat::kMdd) {
    // Refused here, before anything is written, when the cache cannot keep every frame's time.
    for (size_t i = 0; i < targets_.size(); ++i) {
      try {
        SetWholeFrameTiming(targets_[i].cache, first, last - first + 1, options_.fps);
        if (options_.format == ResultFormat::kMdd) TakeFrameSeconds(targets_[i].cache, first);
      } catch (const std::invalid_argument& e) {
        throw std::runtime_error(File(i, first) + ": " + e.what());
      }
    }
  }
  if (options_.format == ResultFormat::kGlb) StartGlb(first);
}

void ResultWriter::StartGlb(Int64 first) {
  for (const Target& target : targets_)
    if (target.object->points.empty())
      throw std::runtime_error("object \"" + Printable(target.object->name) +
                               "\" has no points, and a glTF mesh needs vertices; write it as "
                               "OBJ or a point cache");
  const bool skin = options_.glbForm == GlbForm::kSkin ||
                    (options_.glbForm == GlbForm::kAuto && options_.rig != nullptr);
  if (skin && options_.rig == nullptr)
    throw std::runtime_error(
        "--glb-form skin needs a character's rig, and this scene has none; "
        "write --glb-form frames");
  try {
    if (skin) {
      skinGlb_ = std::make_unique<SkinGlbWriter>(
          options_.rig, SkinGlbOptions{options_.influences, options_.quantised, options_.fps,
                                       options_.pictureFolder.empty() ? options_.rig->pictureFolder
                                                                      : options_.pictureFolder,
                                       options_.frameSeconds});
      for (const std::string& note : skinGlb_->Notes()) notes_.push_back(note);
    } else {
      glb_ = std::make_unique<GlbWriter>();
    }
    // The rig's mesh m is the m-th object holding a file's vertices; any other object is a mesh
    // of no rig node (a number below -1, which no node names).
    Int32 fileMeshes = 0, others = 0;
    for (const Target& target : targets_) {
      const Int32 rigMesh = target.object->fileVertices != nullptr ? fileMeshes++ : -2 - others++;
      const std::shared_ptr<const FileVertices> file =
          target.file != nullptr ? target.file : WeldedVertices(target.object);
      const std::vector<Vector3> rest =
          target.file != nullptr ? FileVertexPositions(*target.file, target.object->points)
                                 : target.object->points;
      const std::vector<Vector3> normals =
          target.file != nullptr ? target.file->normals : std::vector<Vector3>{};
      if (skin)
        skinGlb_->AddMesh(rigMesh, file, rest, normals);
      else
        glb_->AddMesh(file, rest, normals);
    }
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(File(0, first) + ": " + e.what() +
                             (skin ? "; --glb-form frames writes every frame whole" : ""));
  }
}

std::string ResultWriter::File(size_t object, Int64 frame) const {
  const std::string& stem = targets_[object].stem;
  std::string name;
  switch (options_.format) {
    case ResultFormat::kObj:
      name = stem + "." + PaddedFrame(frame) + ".obj";
      break;
    case ResultFormat::kPc2:
    case ResultFormat::kMdd:
      name = stem + "." + Extension(options_.format);
      break;
    case ResultFormat::kGlb:
      name = options_.name + ".glb";
      break;
  }
  return platform::Utf8FromPath(platform::PathFromUtf8(options_.folder) /
                                platform::PathFromUtf8(name));
}

std::string ResultWriter::RestFile(size_t object) const {
  return platform::Utf8FromPath(platform::PathFromUtf8(options_.folder) /
                                platform::PathFromUtf8(targets_[object].stem + ".rest.obj"));
}

std::vector<std::string> ResultWriter::Planned() const {
  std::vector<std::string> files;
  if (options_.format == ResultFormat::kGlb) files.push_back(File(0, first_));
  for (size_t i = 0; i < targets_.size(); ++i) {
    if (options_.format == ResultFormat::kObj)
      for (Int64 frame = first_; frame <= last_; ++frame) files.push_back(File(i, frame));
    else if (options_.format != ResultFormat::kGlb)
      files.push_back(File(i, first_));
    if (options_.restMeshes) files.push_back(RestFile(i));
  }
  return files;
}

bool ResultWriter::Holds(const std::string& name) const {
  if (options_.restMeshes)
    for (const Target& target : targets_)
      if (name == target.stem + ".rest.obj") return true;
  if (options_.format == ResultFormat::kGlb) return name == options_.name + ".glb";
  for (const Target& target : targets_) {
    if (options_.format != ResultFormat::kObj) {
      if (name == target.stem + "." + Extension(options_.format)) return true;
      continue;
    }
    const std::string prefix = target.stem + ".";
    if (name.size() <= prefix.size() + 4 || name.rfind(prefix, 0) != 0 ||
        name.substr(name.size() - 4) != ".obj")
      continue;
    const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    Int64 frame = 0;
    const auto [end, error] = std::from_chars(middle.data(), middle.data() + middle.size(), frame);
    if (error == std::errc() && end == middle.data() + middle.size() && frame >= first_ &&
        frame <= last_ && PaddedFrame(frame) == middle)
      return true;
  }
  return false;
}

Float ResultWriter::ObjBytes(const Target& target) {
  const Node* object = target.object;
  if (target.file == nullptr)
    return static_cast<Float>(PlainObjText(object->points, object->polygons).size());
  return static_cast<Float>(FileVerticesObjText(*target.file,
                                                FileVertexPositions(*target.file, object->points),
                                                target.file->normals)
                                .size());
}

Float ResultWriter::EstimatedBytes() const {
  const Float frames = static_cast<Float>(last_ - first_ + 1);
  Float bytes = 0.0;
  for (const Target& target : targets_) {
    const Node* object = target.object;
    const Float vertices = static_cast<Float>(
        target.file ? target.file->VertexCount() : static_cast<Int64>(object->points.size()));
    switch (options_.format) {
      case ResultFormat::kObj:
        bytes += frames * ObjBytes(target);
        break;
      case ResultFormat::kPc2:
      case ResultFormat::kMdd:
        bytes += 32.0 + frames * (4.0 + 12.0 * vertices);
        break;
      case ResultFormat::kGlb:
        break;
    }
    if (options_.restMeshes) bytes += ObjBytes(target);
  }
  if (glb_ != nullptr || skinGlb_ != nullptr) {
    // The file at rest, then per frame every target's offsets, weights and JSON.
    Float perFrame = 0.0;
    for (const Target& target : targets_) {
      const bool normals = target.file != nullptr && !target.file->normals.empty();
      const Float vertices =
          static_cast<Float>(target.file ? target.file->VertexCount()
                                         : static_cast<Int64>(target.object->points.size()));
      perFrame += (normals ? 24.0 : 12.0) * vertices + 4.0 * frames + 200.0;
    }
    // The skinned form's rest is about the size of the plain one's; its targets at most as large.
    const Float restBytes = glb_ != nullptr ? static_cast<Float>(glb_->Bytes()) : 0.0;
    bytes += restBytes + frames * perFrame;
  }
  return bytes;
}

void ResultWriter::CheckFreeSpace() const {
  std::error_code ec;
  const fs::path folder = platform::PathFromUtf8(options_.folder);
  const fs::space_info space = fs::space(folder, ec);
  if (ec) return;  // a file system that cannot say: the writes themselves will tell
  Float free = static_cast<Float>(space.available);
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file(ec) && Holds(platform::Utf8FromPath(entry.path().filename())))
      free += static_cast<Float>(entry.file_size(ec));
  const Float needed = EstimatedBytes();
  if (needed > free)
    throw std::runtime_error(options_.folder + ": the outputs need about " +
                             std::to_string(static_cast<Int64>(needed / 1048576.0)) +
                             " MiB, but only " +
                             std::to_string(static_cast<Int64>(free / 1048576.0)) +
                             " MiB are free; nothing was written");
}

std::vector<Vector3> ResultWriter::Normals(const Target& target,
                                           std::span<const Vector3> points) const {
  if (target.restFrames.empty()) return {};
  return FileVertexNormals(*target.file, target.restFrames, FileVertexFrames(*target.file, points));
}

void ResultWriter::WriteRest(size_t object, std::span<const Vector3> points) {
  const Target& target = targets_.at(object);
  if (points.size() != target.object->points.size())
    throw std::invalid_argument(RestFile(object) + ": " + std::to_string(points.size()) +
                                " rest points for an object of " +
                                std::to_string(target.object->points.size()));
  const bool placed = !options_.placements.empty();
  const std::vector<Vector3> moved = placed ? PlacedPoints(options_.placements[object], points)
                                            : std::vector<Vector3>(points.begin(), points.end());
  if (target.file == nullptr) {
    WriteFileAtomically(RestFile(object), PlainObjText(moved, target.object->polygons));
    return;
  }
  std::vector<Vector3> normals = Normals(target, points);
  if (placed) normals = PlacedNormals(options_.placements[object], normals);
  WriteFileAtomically(
      RestFile(object),
      FileVerticesObjText(*target.file, FileVertexPositions(*target.file, moved), normals));
}

void ResultWriter::AddFrame(Int64 frame) {
  if (frame != next_ || frame > last_)
    throw std::invalid_argument("frame " + std::to_string(frame) + " is not the next, " +
                                std::to_string(next_));
  std::vector<std::vector<Vector3>> positions(targets_.size()), normals(targets_.size());
  for (size_t i = 0; i < targets_.size(); ++i) {
    Target& target = targets_[i];
    const std::vector<Vector3>& deformed = DeformedPoints(target.object);
    const bool placed = !options_.placements.empty() && options_.format != ResultFormat::kGlb;
    const std::vector<Vector3> moved =
        placed ? PlacedPoints(options_.placements[i], deformed) : std::vector<Vector3>();
    const std::vector<Vector3>& points = placed ? moved : deformed;
    if (target.file == nullptr) {
      positions[i] = points;
    } else {
      positions[i] = FileVertexPositions(*target.file, points);
      normals[i] = Normals(target, deformed);
      if (placed) normals[i] = PlacedNormals(options_.placements[i], normals[i]);
    }
    switch (options_.format) {
      case ResultFormat::kObj:
        WriteFileAtomically(File(i, frame),
                            target.file
                                ? FileVerticesObjText(*target.file, positions[i], normals[i])
                                : PlainObjText(points, target.object->polygons));
        break;
      case ResultFormat::kMdd:
      case ResultFormat::kPc2:
        try {
          AppendSample(target.cache, positions[i]);
        } catch (const std::invalid_argument& e) {
          throw std::runtime_error(File(i, frame) + ": frame " + std::to_string(frame) + ", " +
                                   e.what());
        }
        break;
      case ResultFormat::kGlb:
        break;
    }
  }
  if (glb_ != nullptr || skinGlb_ != nullptr) {
    std::vector<std::span<const Vector3>> p(positions.begin(), positions.end());
    std::vector<std::span<const Vector3>> n(normals.begin(), normals.end());
    try {
      if (skinGlb_ != nullptr)
        skinGlb_->AddFrame(frame, p, n);
      else
        glb_->AddFrame(Seconds(frame), p, n);
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error(File(0, frame) + ": frame " + std::to_string(frame) + ": " +
                               e.what());
    }
  }
  ++next_;
}

Float ResultWriter::Seconds(Int64 frame) const {
  const Int64 origin = first_ < 0 ? first_ : 0;
  if (origin == 0 && frame < static_cast<Int64>(options_.frameSeconds.size()))
    return options_.frameSeconds[static_cast<size_t>(frame)];
  return static_cast<Float>(frame - origin) / options_.fps;
}

void ResultWriter::TakeFrameSeconds(PointCache& cache, Int64 first) const {
  for (size_t s = 0; s < cache.times.size(); ++s) {
    cache.times[s] = static_cast<Float32>(Seconds(first + static_cast<Int64>(s)));
    if (s > 0 && !(cache.times[s] > cache.times[s - 1]))
      throw std::invalid_argument("sample " + std::to_string(s) + " at frame " +
                                  std::to_string(first + static_cast<Int64>(s)) +
                                  ": its time in float32 (" + ShortestNumber(cache.times[s]) +
                                  " s) is not after the one before");
  }
}

void ResultWriter::Finish() {
  if (next_ != last_ + 1)
    throw std::logic_error("the results end at frame " + std::to_string(next_ - 1) + ", not " +
                           std::to_string(last_));
  if (skinGlb_ != nullptr) {
    skinGlb_->Write(File(0, first_));
    return;
  }
  if (glb_ != nullptr) {
    glb_->Write(File(0, first_));
    return;
  }
  if (options_.format == ResultFormat::kObj) return;
  for (size_t i = 0; i < targets_.size(); ++i) WritePointCache(File(i, first_), targets_[i].cache);
}

std::vector<std::string> ResultWriter::FinishNotes() const {
  std::vector<std::string> late;
  if (skinGlb_ == nullptr) return late;
  for (const std::string& note : skinGlb_->Notes())
    if (std::find(notes_.begin(), notes_.end(), note) == notes_.end()) late.push_back(note);
  return late;
}

std::string ResultWriter::Written() const {
  const Int64 frames = last_ - first_ + 1;
  const Int64 objects = static_cast<Int64>(targets_.size());
  switch (options_.format) {
    case ResultFormat::kObj:
      return std::to_string(frames * objects) + (frames * objects == 1 ? " mesh" : " meshes");
    case ResultFormat::kPc2:
    case ResultFormat::kMdd:
      return std::to_string(objects) + (objects == 1 ? " cache" : " caches") + " of " +
             std::to_string(frames) + " frames";
    case ResultFormat::kGlb:
      return std::string(skinGlb_ != nullptr ? "a skinned glTF of " : "a glTF of ") +
             std::to_string(objects) + (objects == 1 ? " mesh" : " meshes") + " and " +
             std::to_string(frames) + " frames";
  }
  return "";
}

}  // namespace headless
