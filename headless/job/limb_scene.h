// The main job's scene: the limb (headless/limb.h) as a polygon object with one vertex map of
// skin weights per joint, its joints, and a skin deformer under it linked to both, the elbow
// (and wrist) keyed to bend about the elbow.
#pragma once

#include <vector>

#include "headless/deformers/skinning.h"
#include "headless/job/limb.h"
#include "headless/scene/scene.h"

namespace headless {

struct LimbSceneOptions {
  LimbOptions limb;
  Int32 frames = 30;          // frames 0 .. frames - 1; at least 2
  Float bendDegrees = 120.0;  // the bend reached at the last frame
  Vector3 bendAxis{0.0, 0.0, 1.0};
};

struct LimbScene {
  LimbMesh mesh;
  Node* object = nullptr;
  Node* skin = nullptr;
  std::vector<Node*> joints;  // shoulder, elbow (, wrist)
  std::vector<Node*> maps;    // one weight map per joint, on the object
};

// Builds the scene into `doc`: the object "limb" at top level, then the joints at top level
// (rest transform: a translation to the joint's position). Every joint after the shoulder is
// keyed to turn about the elbow from 0 degrees at frame 0 to bendDegrees at the last frame
// (linear), so the forearm and hand turn as one. Throws std::invalid_argument for bad options.
LimbScene BuildLimbScene(Document& doc, const LimbSceneOptions& options);

// The joints' rest and current transforms, in order, as the skin reads them.
std::vector<JointPose> CurrentPoses(const std::vector<Node*>& joints);

}  // namespace headless
