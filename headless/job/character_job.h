// The main job's second act (`tessamire run --character FILE`) on a rigged character made
// elsewhere. The character comes in with its own bind pose, weights and animation (headless/io/
// character.h); its largest skinned mesh is equipped by the setup command and bound at rest,
// and every frame of its animation is evaluated with the deformer off and on and measured like
// the limb. A character has no detail-free twin, so the base the measures take the bend's share
// out with is its rest mesh smoothed (as many rounds of neighbour averaging as the detail height
// takes), skinned with the same weights and poses.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "headless/job/main_job.h"

namespace headless {

struct CharacterJobOptions {
  std::string file;  // the rigged character (.fbx, .gltf, .glb, .dae or .x)
  // The user's settings for the bind tag, over the tag's own defaults: a character's detail scale
  // is not known here.
  TagSettings tagSettings;
  // Receives each note of the import (what could not be carried over) as it is made. May be
  // empty.
  std::function<void(const std::string& note)> note;
  Float readerSeconds = 0.0;  // the character reader's time (0: its default)
  std::string assetRoot{};  // where the files the character names must lie (empty: its folder)
};

class CharacterJob {
 public:
  // Imports the character, equips its largest skinned mesh and binds it at rest. Throws
  // std::runtime_error naming the file when it cannot be read, holds no animation of two frames
  // or more, or the plug-in refuses a step.
  explicit CharacterJob(const CharacterJobOptions& options);

  const std::string& MeshName() const { return object_->name; }
  Int64 PointCount() const { return static_cast<Int64>(rest_.size()); }
  Int64 PolygonCount() const { return static_cast<Int64>(object_->polygons.size()); }
  Int64 JointCount() const { return jointCount_; }
  // Edges measured: those where the weights blend.
  Int64 EdgeCount() const { return measurer_->EdgeCount(); }
  Int32 LastFrame() const { return lastFrame_; }
  Float Fps() const { return fps_; }
  Int32 FrameCount() const { return lastFrame_ + 1; }

  // Evaluates and measures `frame` (0 .. LastFrame()) and adds its row, labelled with its time
  // in seconds.
  const FrameRow& MeasureFrame(Int32 frame);
  const std::vector<FrameRow>& Rows() const { return rows_; }
  // The frame the outputs show: of those measured, the one where skinning alone loses most detail.
  Int32 ShownFrame() const { return shown_.row.frame; }

  // Writes into `folder` (which exists) the shown frame: skinned.obj, corrected.obj, the scene
  // character.tsm, the pictures character.png and character-detail.png, the plot measures.png,
  // and the page of every frame view.html (`pageTemplate`, the viewer built into the program,
  // with the data).
  void WriteOutputs(const std::filesystem::path& folder, std::string_view pageTemplate) const;

 private:
  std::unique_ptr<Document> doc_;
  Node* object_ = nullptr;
  Node* deformer_ = nullptr;
  std::vector<Vector3> rest_;
  Int64 jointCount_ = 0;
  Int32 lastFrame_ = 0;
  Float fps_ = 0.0;
  std::optional<FrameMeasurer> measurer_;
  std::optional<RunPage> page_;
  std::vector<FrameRow> rows_;
  MeasuredFrame shown_;
};

}  // namespace headless
