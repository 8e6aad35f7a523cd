// A small software renderer for the headless host's pictures: polygon meshes rasterised with a
// z-buffer and smooth shading (per-point normals, a key light, a fill light and a little
// specular), so that fine surface detail reads clearly; several meshes as panels side by side.
//
// Conventions: the camera looks from `eye` at `target` with `up` pointing up on screen and a
// vertical field of view in degrees; lights are fixed relative to the camera (by default key from
// the upper left, fill from the right). Quads are split into the triangles (a, b, c) and (a, c, d);
// a triangle (c == d) is drawn once. Both sides of a polygon are lit (the normal is turned towards
// the viewer). Triangles with a corner at or behind the camera's near distance are not drawn.
// Point normals are the sums of the adjacent polygons' diagonal cross products (area weighted).
// Drawing is a plain loop in polygon order with a strict nearer-wins depth test, so the picture
// depends on nothing but the inputs.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "headless/picture/image.h"
#include "host/abi/types.h"

namespace headless {

struct Camera {
  Vector3 eye{0.0, 0.0, 10.0};
  Vector3 target;
  Vector3 up{0.0, 1.0, 0.0};
  Float fovYDegrees = 30.0;
};

// One mesh to draw: borrowed arrays, valid for the call.
struct MeshView {
  const Vector3* points = nullptr;
  Int64 pointCount = 0;
  const CPolygon* polygons = nullptr;
  Int64 polygonCount = 0;
  std::string caption;               // drawn at the panel's top left by RenderPanels; may be empty
  Rgb color{196, 170, 150};          // surface colour
  const Rgb* pointColors = nullptr;  // optional, one per point, replaces `color`
};

// A view of points and polygons held elsewhere (they must outlive the view).
MeshView ViewOf(std::span<const Vector3> points, std::span<const CPolygon> polygons,
                std::string caption = "");

struct RenderOptions {
  Rgb backgroundTop{58, 64, 76};
  Rgb backgroundBottom{22, 24, 30};
  Rgb captionColor{235, 235, 235};
  Int32 supersample = 2;   // samples per pixel along each axis (1 .. 4), box-filtered
  Int32 captionScale = 2;  // font cell size in pixels
  Float ambient = 0.12;
  Float key = 0.80;
  Float fill = 0.28;
  Float specular = 0.22;
  Float shininess = 48.0;
  // Directions towards the lights in the camera's frame (right, up, back towards the viewer);
  // need not be unit length. A key nearly in the image plane grazes the surface, so relief shows.
  Vector3 keyDirection{-0.45, 0.55, 0.70};
  Vector3 fillDirection{0.75, -0.15, 0.55};
};

// Draws `mesh` into the w x h viewport of `image` whose top-left pixel is (x, y), over the
// background gradient, the viewport's aspect ratio widening or narrowing the horizontal view.
// Throws std::invalid_argument naming the fault for a viewport outside the image, a camera whose
// eye equals its target or whose up is parallel to the view, a field of view outside (0, 180),
// options out of range, or a mesh with a null array, a negative count or a polygon index outside
// [0, pointCount); the image is untouched then.
void RenderMesh(Image& image, Int32 x, Int32 y, Int32 w, Int32 h, const MeshView& mesh,
                const Camera& camera, const RenderOptions& options = {});

// One picture with the meshes side by side, each in its own panelWidth x panelHeight viewport,
// all from the same camera, each with its caption; a thin line separates the panels. Throws as
// RenderMesh does, and for an empty list.
Image RenderPanels(const std::vector<MeshView>& meshes, const Camera& camera, Int32 panelWidth,
                   Int32 panelHeight, const RenderOptions& options = {});

// A camera looking along `viewDirection` at the centre of the meshes' common bounding box, far
// enough that the box's bounding sphere fits a viewport of the given aspect (width / height)
// with a small margin; `up` as given. Throws std::invalid_argument for no points, a zero
// direction, or an aspect that is not positive.
Camera FitCamera(const std::vector<MeshView>& meshes, const Vector3& viewDirection,
                 const Vector3& up, Float fovYDegrees, Float aspect);

}  // namespace headless
