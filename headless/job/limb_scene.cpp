#include "headless/job/limb_scene.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "headless/deformers/skin.h"

namespace headless {

LimbScene BuildLimbScene(Document& doc, const LimbSceneOptions& options) {
  if (options.frames < 2)
    throw std::invalid_argument("the animation needs at least 2 frames, not " +
                                std::to_string(options.frames));
  if (!std::isfinite(options.bendDegrees))
    throw std::invalid_argument("the bend angle is not finite");
  static const char* const kJointNames[] = {"shoulder", "elbow", "wrist"};
  LimbScene scene;
  scene.mesh = MakeLimb(options.limb);
  scene.object = doc.AddPolygonObject("limb", scene.mesh.points, scene.mesh.polygons);
  if (scene.object == nullptr) throw std::runtime_error("the limb object could not be created");
  const size_t jointCount = scene.mesh.jointPositions.size();
  for (size_t j = 0; j < jointCount; ++j) {
    Node* map = doc.AddVertexMap(scene.object, scene.mesh.weights[j],
                                 std::string(kJointNames[j]) + " weights");
    Matrix rest;
    rest.off = scene.mesh.jointPositions[j];
    Node* joint = AddJoint(doc, kJointNames[j], rest);
    if (map == nullptr || joint == nullptr)
      throw std::runtime_error("the joints could not be created");
    scene.maps.push_back(map);
    scene.joints.push_back(joint);
  }
  const Vector3 elbow = scene.mesh.jointPositions[1];
  const Float last = static_cast<Float>(options.frames - 1);
  for (size_t j = 1; j < jointCount; ++j)
    SetRotationKeys(scene.joints[j], elbow, options.bendAxis,
                    {{0.0, 0.0}, {last, options.bendDegrees}});
  scene.skin = doc.AddObject(Oskin, "skin", scene.object);
  if (scene.skin == nullptr) throw std::runtime_error("the skin deformer could not be created");
  LinkSkin(scene.skin, scene.joints, scene.maps);
  return scene;
}

std::vector<JointPose> CurrentPoses(const std::vector<Node*>& joints) {
  std::vector<JointPose> poses;
  for (const Node* joint : joints) poses.push_back({JointRest(joint), JointCurrent(joint)});
  return poses;
}

}  // namespace headless
