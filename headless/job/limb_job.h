// The main job on the built-in limb (`tessamire run`). The limb is skinned to its joints by the
// host's skin deformer, equipped by the plug-in's setup command (Shift held, so its deformer lands
// right after the skin), bound at rest, and evaluated over an animation that bends the elbow.
// Every frame is evaluated twice: with the plug-in's deformer off (what skinning alone gives) and
// on (the corrected result); both are measured against the rest detail, with the same tube
// without detail, skinned alike, taking out the bend's own share.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "headless/job/limb_scene.h"
#include "headless/job/main_job.h"

namespace headless {

struct LimbJobOptions {
  Int64 points = 50000;  // about how many points the limb has
  Int32 frames = 30;     // from straight to `angle`; at least 2
  Float angle = 120.0;   // the elbow's bend at the last frame, in degrees
  TagSettings tagSettings;
};

// The bind tag's smoothing rounds in the main job at 50,000 points and beyond (fewer below, see
// LimbJobIterations).
inline constexpr Int32 kLimbJobIterations = 64;
// The rounds the main job gives the bind tag on a limb of about `points` points.
Int32 LimbJobIterations(Int64 points);

// About how many bytes of memory the main job takes on a limb of about `points` points over
// `frames` frames: some 1,000 per point (the limb, its rig, the plug-in's arrays, the measures and
// pictures) and 100 per point and frame (the page of every frame), as measured at 50,000 and
// 200,000 points.
Float LimbJobBytes(Int64 points, Int32 frames);

class LimbJob {
 public:
  // Builds the limb's scene, equips it, sets the bind tag's rounds (LimbJobIterations, then the
  // user's settings) and binds it at rest. Throws std::runtime_error when the plug-in lacks a part
  // or refuses a step, std::invalid_argument for bad options.
  explicit LimbJob(const LimbJobOptions& options);

  Int64 PointCount() const { return static_cast<Int64>(scene_.mesh.points.size()); }
  Int64 PolygonCount() const { return static_cast<Int64>(scene_.mesh.polygons.size()); }
  Int64 JointCount() const { return static_cast<Int64>(scene_.joints.size()); }
  // Edges measured: those where the weights blend.
  Int64 EdgeCount() const { return measurer_->EdgeCount(); }
  Int32 FrameCount() const { return options_.frames; }

  // Evaluates and measures `frame` (0 .. FrameCount() - 1) and adds its row, labelled with the
  // bend angle.
  const FrameRow& MeasureFrame(Int32 frame);
  const std::vector<FrameRow>& Rows() const { return rows_; }

  // Writes into `folder` (which exists) the last frame measured: skinned.obj, corrected.obj, the
  // scene limb.tsm, the pictures limb.png and detail.png, the plot measures.png, and the page of
  // every frame view.html (`pageTemplate`, the viewer built into the program, with the data).
  void WriteOutputs(const std::filesystem::path& folder, std::string_view pageTemplate);

 private:
  LimbJobOptions options_;
  std::unique_ptr<Document> doc_;
  LimbScene scene_;
  std::vector<std::vector<Float32>> baseWeights_;  // the measurer's, per joint
  std::optional<FrameMeasurer> measurer_;
  std::optional<RunPage> page_;
  Node* deformer_ = nullptr;
  std::vector<FrameRow> rows_;
  MeasuredFrame last_;
};

}  // namespace headless
