#include "headless/job/scan_character.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>

#include "headless/characters/glb_skin.h"
#include "headless/job/ground_truth.h"

namespace headless {
namespace {

Matrix Translation(const Vector3& v) {
  Matrix m;
  m.off = v;
  return m;
}

// The elbow (and wrist) turning about X from 0 at the first frame to their angles at the last.
RigClip BendClip(const ScanCharacterOptions& options) {
  RigClip clip;
  clip.name = "bend";
  clip.lastFrame = options.frames - 1;
  for (Int32 joint = 1; joint < options.joints; ++joint) {
    RigChannel channel;
    channel.node = joint;
    channel.path = RigPath::kRotation;
    const Float share = joint == 1 ? 1.0 : 0.5;
    for (Int32 f = 0; f < options.frames; ++f) {
      const Float radians = share * options.bendDegrees * std::numbers::pi / 180.0 * f /
                            static_cast<Float>(options.frames - 1);
      channel.times.push_back(f / 30.0);
      channel.values.insert(channel.values.end(),
                            {std::sin(radians / 2.0), 0.0, 0.0, std::cos(radians / 2.0)});
    }
    clip.channels.push_back(std::move(channel));
  }
  return clip;
}

}  // namespace

void WriteScanCharacter(const ScanCharacterOptions& options, const std::string& path) {
  if (options.joints != 2 && options.joints != 3)
    throw std::invalid_argument("a scan character has 2 or 3 joints, not " +
                                std::to_string(options.joints));
  if (options.frames < 2 || !(options.bendDegrees > 0.0 && options.bendDegrees <= 120.0))
    throw std::invalid_argument(
        "a scan character bends above 0 and at most 120 degrees over 2 "
        "or more frames");
  const ScanLikeMesh scan =
      MakeScanLikeMesh(options.approximatePoints, options.seed, options.joints);
  auto rig = std::make_shared<Rig>();
  const char* names[3] = {"shoulder", "elbow", "wrist"};
  RigSkin skin;
  skin.mesh = 0;
  for (Int32 j = 0; j < options.joints; ++j) {
    const Vector3& at = scan.jointPositions[static_cast<size_t>(j)];
    const Vector3 above = j == 0 ? Vector3{} : scan.jointPositions[static_cast<size_t>(j - 1)];
    rig->nodes.push_back(
        {names[j], j - 1, Translation({at.x - above.x, at.y - above.y, at.z - above.z}), -1});
    skin.joints.push_back(j);
    skin.inverseBinds.push_back(Translation({-at.x, -at.y, -at.z}));
  }
  rig->nodes.push_back({"scan", -1, Matrix{}, 0});
  auto file = std::make_shared<FileVertices>();
  file->object = file->mesh = "scan";
  const auto points = static_cast<Int32>(scan.detailed.points.size());
  for (Int32 p = 0; p < points; ++p) {
    file->vertexPoint.push_back(p);
    for (Int32 j = 0; j < options.joints; ++j)
      if (const Float32 w = scan.weights[static_cast<size_t>(j)][static_cast<size_t>(p)];
          w != 0.0f) {
        skin.joint.push_back(j);
        skin.weight.push_back(w);
      }
    skin.first.push_back(static_cast<Int64>(skin.joint.size()));
  }
  for (const CPolygon& poly : scan.detailed.polygons) {
    for (const Int32 corner : {poly.a, poly.b, poly.c}) file->cornerVertex.push_back(corner);
    if (poly.d != poly.c) file->cornerVertex.push_back(poly.d);
    file->faceFirst.push_back(static_cast<Int64>(file->cornerVertex.size()));
    file->faceMaterial.push_back(-1);
  }
  rig->skins.push_back(std::move(skin));
  rig->clips.push_back(BendClip(options));
  rig->meshObjects.push_back("scan");
  rig->meshMaterials.push_back(-1);
  SkinGlbWriter writer(rig, {4, false, 30.0, "", {}});
  writer.AddMesh(0, file, scan.detailed.points, {});
  writer.Write(path);
}

}  // namespace headless
