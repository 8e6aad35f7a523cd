#include "headless/picture/side_by_side.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace headless {

namespace {

constexpr Float kFieldOfView = 30.0;

}  // namespace

const std::vector<std::string>& ViewNames() {
  static const std::vector<std::string> names = {"front", "back", "left",
                                                 "right", "top",  "three-quarter"};
  return names;
}

std::pair<Float, Float> ViewAngles(const std::string& name) {
  if (name == "front") return {0.0, 0.0};
  if (name == "back") return {180.0, 0.0};
  if (name == "left") return {-90.0, 0.0};
  if (name == "right") return {90.0, 0.0};
  if (name == "top") return {0.0, 89.0};
  if (name == "three-quarter") return {35.0, 25.0};
  throw std::invalid_argument("unknown view \"" + name + "\"");
}

View NamedView(const std::string& name) {
  // Straight down, with the back of the meshes at the top of the picture.
  if (name == "top") return {{0.0, 1.0, 0.0}, {0.0, 0.0, -1.0}};
  const auto [azimuth, elevation] = ViewAngles(name);
  return AngleView(azimuth, elevation);
}

View AngleView(Float azimuth, Float elevation) {
  const Float a = azimuth * std::numbers::pi / 180.0;
  const Float e = elevation * std::numbers::pi / 180.0;
  return {{std::sin(a) * std::cos(e), std::sin(e), std::cos(a) * std::cos(e)}, {0.0, 1.0, 0.0}};
}

View ZUp(const View& view) {
  auto turn = [](const Vector3& v) { return Vector3{v.x, -v.z, v.y}; };
  return {turn(view.towardsCamera), turn(view.up)};
}

RenderOptions GrazingLight() {
  RenderOptions options;
  options.keyDirection = {-0.92, 0.25, 0.30};
  options.key = 0.95;
  options.fill = 0.26;
  options.ambient = 0.10;
  return options;
}

Camera FramingCamera(const std::vector<MeshView>& framing, const View& view, Int32 panelWidth,
                     Int32 panelHeight) {
  const Vector3 direction{-view.towardsCamera.x, -view.towardsCamera.y, -view.towardsCamera.z};
  return FitCamera(framing, direction, view.up, kFieldOfView,
                   static_cast<Float>(panelWidth) / static_cast<Float>(panelHeight));
}

Image RenderWithCamera(const std::vector<MeshView>& meshes, const Camera& camera, Int32 panelWidth,
                       Int32 panelHeight, Int32 legendHeight, Int32 captionScale) {
  RenderOptions light = GrazingLight();
  light.captionScale = captionScale;
  Image panels = RenderPanels(meshes, camera, panelWidth, panelHeight, light);
  if (legendHeight == 0) return panels;
  Image image = MakeImage(panels.width, panels.height + legendHeight, light.backgroundBottom);
  std::copy(panels.rgb.begin(), panels.rgb.end(), image.rgb.begin());
  return image;
}

Image RenderSideBySide(const std::vector<MeshView>& meshes, const View& view, Int32 panelWidth,
                       Int32 panelHeight, Int32 legendHeight) {
  return RenderWithCamera(meshes, FramingCamera(meshes, view, panelWidth, panelHeight), panelWidth,
                          panelHeight, legendHeight);
}

}  // namespace headless
