// The pose guard (pose_guard.h) over a scene's evaluation, as `eval` and `correct` run it: on
// every kPoseCheckEvery-th frame each polygon object under the plug-in's deformer is evaluated
// again with that deformer off, and its corrected points are read against those skinned ones.
// Once the run is through, one note per object whose pose moved past the threshold, with the
// largest rounds that keep its worst frame within it (found by correcting that frame alone).
#pragma once

#include <string>
#include <vector>

#include "headless/batch/pose_guard.h"
#include "headless/scene/scene.h"

namespace headless {

class ScenePoseGuard {
 public:
  // Watches every polygon object of `doc` with the plug-in's deformer beneath it and its bind tag
  // on it; the object's own stored points are the rest. `doc` must outlive the guard.
  ScenePoseGuard(Document& doc, Float threshold);

  // After frame `frame` (the run's `index`-th, from 0) was evaluated and written: checks it when
  // its turn has come. Evaluates the document again, so the deform caches hold the skinned
  // points afterwards.
  void Check(Float frame, Int64 index);

  // The notes, one per object past the threshold, each "NAME: <PoseNote>".
  std::vector<std::string> Notes() const;

 private:
  struct Watched {
    Node* object = nullptr;
    Node* deformer = nullptr;
    Node* tag = nullptr;
    Mesh rest;
    PoseReference reference;
    PoseFinding finding;
  };
  Document& doc_;
  Float threshold_;
  std::vector<Watched> watched_;
  PoseRoom room_;
};

}  // namespace headless
