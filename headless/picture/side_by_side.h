// Pictures of meshes side by side, as `tessamire render`, `apply --preview` and the main job draw
// them: every mesh in its own panel with its label, all from one camera, under a light that
// grazes the surface so that relief casts shade.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "headless/picture/rasterizer.h"

namespace headless {

// Where the camera looks from, as a direction from the meshes towards the camera, and which
// way is up on screen. Views are made for Y-up meshes, the way OBJ files are mostly written;
// ZUp turns one for meshes whose up is +Z (scans, some applications' exports).
struct View {
  Vector3 towardsCamera{0.0, 0.0, 1.0};
  Vector3 up{0.0, 1.0, 0.0};
};

// The names --view takes, and the view of each.
const std::vector<std::string>& ViewNames();
View NamedView(const std::string& name);
// A named view's azimuth and elevation (see AngleView); top is taken as 89 degrees up.
std::pair<Float, Float> ViewAngles(const std::string& name);
// The camera at `azimuth` degrees around the vertical axis (0 in front, on +Z; 90 on the right,
// +X) and `elevation` degrees above the horizon (-89.9 to 89.9).
View AngleView(Float azimuth, Float elevation);

// `view` for Z-up meshes: the meshes' +Z where a Y-up view has +Y, their +Y where it has -Z
// (away from a camera in front), as `tessamire view` turns them.
View ZUp(const View& view);

// The light of these pictures: a key from the left, just off the picture's plane.
RenderOptions GrazingLight();

// One picture, `panelWidth` x `panelHeight` per mesh side by side, every mesh from one camera
// framing them all, with `legendHeight` pixels left empty below for a legend.
Image RenderSideBySide(const std::vector<MeshView>& meshes, const View& view, Int32 panelWidth,
                       Int32 panelHeight, Int32 legendHeight = 0);

// The camera RenderSideBySide uses for `framing` (meshes, or only their bounds).
Camera FramingCamera(const std::vector<MeshView>& framing, const View& view, Int32 panelWidth,
                     Int32 panelHeight);
// The picture with a given camera.
// `captionScale` 1 suits small panels (a contact sheet's).
Image RenderWithCamera(const std::vector<MeshView>& meshes, const Camera& camera, Int32 panelWidth,
                       Int32 panelHeight, Int32 legendHeight = 0, Int32 captionScale = 2);

}  // namespace headless
