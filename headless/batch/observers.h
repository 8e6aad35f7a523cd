// Observers of a batch run that need nothing above the batch layer: the progress (a
// ProgressObserver stepped per frame), the correction's warnings as lines, and the preview
// picture of the last frame. (The report's rows and the preview page need the main job's measures
// and the page's viewer: the program provides them.)
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "headless/batch/frame_observer.h"
#include "headless/batch/progress_observer.h"
#include "headless/geometry/mesh.h"

namespace headless {

// Steps `progress` once per frame written, with "FRAME -> TARGET" (or the frame's name alone when
// every result goes into one file), and finishes it at the end. The caller has begun it, counting
// the frames and any steps of its own.
class ProgressSteps final : public FrameObserver {
 public:
  explicit ProgressSteps(ProgressObserver& progress) : progress_(progress) {}
  void Written(const WrittenFrame& frame) override;
  void End() override { progress_.Finish(); }

 private:
  ProgressObserver& progress_;
};

// Prints each warning of a frame's correction as "LABEL: warning: TEXT" (the text made printable)
// on a line of its own.
class WarningLines final : public FrameObserver {
 public:
  WarningLines(std::ostream& out, std::string label) : out_(out), label_(std::move(label)) {}
  void Written(const WrittenFrame& frame) override;

 private:
  std::ostream& out_;
  std::string label_;
};

// Rest, input and corrected mesh of the last frame side by side, from three-quarter view, as a
// PNG at `path` ("-": the standard output) once the run is done. `rest` must outlive it.
class PreviewPicture final : public FrameObserver {
 public:
  PreviewPicture(std::string path, const Mesh& rest) : path_(std::move(path)), rest_(rest) {}
  bool WantsPoints() const override { return true; }
  void Written(const WrittenFrame& frame) override;
  void End() override;

 private:
  std::string path_;
  const Mesh& rest_;
  std::string lastName_;
  std::vector<Vector3> lastInput_, lastCorrected_;
};

}  // namespace headless
