// The correction of deformed frames of one rest mesh through the plug-in's bind tag and deformer,
// as `tessamire apply` and the Python module run it.
//
// A document of its own holds a polygon object made from the rest mesh, with a bind tag (the
// settings given, the others at the tag's defaults; the smoothing vertex map linked when there is
// one) bound by its button, and under the object the plug-in's deformer (restricted to the
// restriction map when there is one). A frame becomes the object's points and the document is
// evaluated; the deformer's result is the object's deform cache. Nothing else holds the points:
// the object's points and its deform cache are the host's own copies.
//
// Each Correction has its own document, so corrections on several threads evaluate at once (the
// framework's loops of one thread take the workers that thread asks for, ThreadWorkers); one
// Correction is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "headless/scene/deform.h"
#include "headless/scene/scene.h"

namespace headless {

// The bind tag's settings; one not given keeps the tag's default (the plug-in's description's).
struct CorrectionSettings {
  std::optional<Int32> iterations;
  std::optional<Int32> weighting;
  std::optional<Int32> pinBorder;
  std::optional<Float> strength;
};

// Sets on the bind tag `tag` the settings given, as a user does.
void SetTagSettings(Node* tag, const CorrectionSettings& settings);

// Throws std::invalid_argument "source: N points, but the rest mesh NAME has M" (without NAME when
// it is empty) when `count` differs from `restCount`.
void CheckPointCount(size_t count, size_t restCount, const std::string& restName,
                     const std::string& source);

class Correction {
 public:
  // Binds the rest mesh; `name` names it in messages and names the object (empty: "the rest mesh"
  // in messages, "rest" for the object and the faults of its points). `vertexMap` (smoothing
  // weights from 0 to 1: a point of weight 0 keeps still) and `restriction` (per point, 0 keeps the
  // input, 1 the correction) are empty or hold one weight per point. Throws std::invalid_argument
  // naming the fault for coordinates out of range (numbered from `firstPoint`), polygons naming
  // points outside the mesh, weights of another count or not finite, or vertex-map weights outside
  // 0 to 1; std::runtime_error when the plug-in has not registered its bind tag and deformer or
  // refuses to bind.
  Correction(std::string name, std::vector<Vector3> points, std::vector<CPolygon> polygons,
             const CorrectionSettings& settings, std::vector<Float32> vertexMap = {},
             std::vector<Float32> restriction = {}, Int64 firstPoint = 1);
  Correction(const Correction&) = delete;
  Correction& operator=(const Correction&) = delete;
  ~Correction();

  const std::string& Name() const { return name_; }
  size_t PointCount() const { return restPoints_; }
  const std::vector<CPolygon>& Polygons() const;
  // The bind tag, which holds the settings in force.
  const Node* Tag() const { return tag_; }

  // Evaluates the document with `frame` as the object's points; with `smoothed`, the deformer
  // gives the smoothed mesh the correction is built on. The result is Result() until the next
  // call. Throws std::invalid_argument "source: ..." for another point count or a coordinate out
  // of range, and std::runtime_error when the plug-in has been closed since the bind or the
  // evaluation reports an error. Points whose correction is not finite keep their input
  // position; the report counts them (PointsKept) and warns.
  DeformReport Correct(std::span<const Vector3> frame, const std::string& source,
                       bool smoothed = false);
  // The same, taking `frame`'s array as the object's points rather than copying it: a caller done
  // with its frame holds one array of points the fewer while it is corrected. `frame` is left
  // empty, and the points it replaced are let go before the evaluation.
  DeformReport Correct(std::vector<Vector3>&& frame, const std::string& source,
                       bool smoothed = false);
  // The last frame's result, the object's deform cache.
  const std::vector<Vector3>& Result() const;

  // The document as a scene file image (headless/io/scene_file.h): the mesh, the tag's settings,
  // its maps and its bind, from which another process corrects frames to the same bits without
  // binding again. Throws std::runtime_error when the plug-in cannot write its state.
  std::vector<std::uint8_t> Record() const;
  // A correction from Record()'s bytes, named and numbered as the constructor's. Throws
  // std::runtime_error naming the fault: bytes that are not a scene file image, or a document
  // without a bound tag's mesh and its deformer beneath it (or their plug-in not loaded).
  static std::unique_ptr<Correction> FromRecord(const std::vector<std::uint8_t>& record,
                                                std::string name, Int64 firstPoint = 1);

 private:
  // The arrays a batch run lends out and hands back (correction_rooms.h), so that frames are read
  // and results built in memory already paged in.
  friend class CorrectionRooms;

  Correction() = default;

  // The last frame's points taken back once it is corrected, emptied, for a later frame to be read
  // into without new memory: fresh pages cost more than the reading fills them with. The object
  // holds no points until the next Correct. Called before TakeResult; empty when the points are
  // the result.
  std::vector<Vector3> TakeInput();
  // The last frame's result taken rather than copied, for a caller that keeps it while the next
  // frame is corrected: that frame's result goes into an array of its own. Result() is not the
  // result again until the next Correct.
  std::vector<Vector3> TakeResult();
  // A result taken earlier handed back once its caller is done with it, for the next frame's
  // result to be built in without new memory (its values do not matter). Let go unless the last
  // result was taken and `room` holds as many points as the mesh.
  void GiveBackRoom(std::vector<Vector3>&& room);

  void CheckFrame(std::span<const Vector3> frame, const std::string& source, bool smoothed);
  DeformReport Evaluate(const std::string& source);

  std::string name_;
  size_t restPoints_ = 0;
  Int64 firstPoint_ = 1;
  bool smoothed_ = false;
  std::unique_ptr<Document> doc_;
  Node* object_ = nullptr;
  Node* tag_ = nullptr;
  Node* deformer_ = nullptr;
};

}  // namespace headless
