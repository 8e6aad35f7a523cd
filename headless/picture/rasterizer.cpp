#include "headless/picture/rasterizer.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <stdexcept>
#include <string>

#include "headless/geometry/mesh.h"
#include "headless/geometry/vector.h"

namespace headless {
namespace {

constexpr Float kPi = 3.14159265358979323846;

// The camera's orthonormal basis: right, up and forward (towards the target).
struct CameraBasis {
  Vector3 eye;
  Vector3 right;
  Vector3 up;
  Vector3 forward;
  Float focal = 1.0;  // 1 / tan(fovY / 2)
  Float nearDistance = 0.0;
};

CameraBasis MakeBasis(const Camera& camera) {
  const std::string where = "RenderMesh: ";
  if (!(camera.fovYDegrees > 0.0 && camera.fovYDegrees < 180.0))
    throw std::invalid_argument(where + "field of view must lie in (0, 180) degrees, got " +
                                std::to_string(camera.fovYDegrees));
  const Vector3 view = Sub(camera.target, camera.eye);
  const Float distance = Length(view);
  if (!(distance > 0.0) || !std::isfinite(distance))
    throw std::invalid_argument(where + "the camera's eye and target coincide");
  CameraBasis b;
  b.eye = camera.eye;
  b.forward = Scale(view, 1.0 / distance);
  const Vector3 right = Cross(b.forward, camera.up);
  if (!(Length(right) > 1e-9 * Length(camera.up)) || !std::isfinite(Length(right)))
    throw std::invalid_argument(where + "the camera's up is zero or parallel to its view");
  b.right = Normalized(right);
  b.up = Cross(b.right, b.forward);
  b.focal = 1.0 / std::tan(camera.fovYDegrees * kPi / 360.0);
  b.nearDistance = 1e-3 * distance;
  return b;
}

// The view's arrays as spans; valid once CheckMesh has passed the counts and pointers.
std::span<const Vector3> Points(const MeshView& mesh) {
  return {mesh.points, static_cast<size_t>(mesh.pointCount)};
}
std::span<const CPolygon> Polygons(const MeshView& mesh) {
  return {mesh.polygons, static_cast<size_t>(mesh.polygonCount)};
}

void CheckMesh(const MeshView& mesh, const char* where) {
  const std::string w = where;
  if (mesh.pointCount < 0 || mesh.polygonCount < 0)
    throw std::invalid_argument(w + "negative point or polygon count");
  if ((mesh.points == nullptr && mesh.pointCount > 0) ||
      (mesh.polygons == nullptr && mesh.polygonCount > 0))
    throw std::invalid_argument(w + "null point or polygon array");
  CheckPolygonCorners(Polygons(mesh), mesh.pointCount, w);
}

void CheckOptions(const RenderOptions& o) {
  if (o.supersample < 1 || o.supersample > 4)
    throw std::invalid_argument("RenderMesh: supersample must be 1 .. 4, got " +
                                std::to_string(o.supersample));
  if (o.captionScale < 1) throw std::invalid_argument("RenderMesh: caption scale must be >= 1");
  for (const Vector3* d : {&o.keyDirection, &o.fillDirection})
    if (!(Length(*d) > 0.0) || !std::isfinite(Length(*d)))
      throw std::invalid_argument("RenderMesh: a light direction is zero or not finite");
}

struct ColorF {
  Float r = 0.0;
  Float g = 0.0;
  Float b = 0.0;
};

ColorF ToF(Rgb c) {
  return {Float(c.r), Float(c.g), Float(c.b)};
}

std::uint8_t ToByte(Float v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

// Projected corner: screen position in samples, 1 / depth, and whether it lies before the near
// distance.
struct Projected {
  Float sx = 0.0;
  Float sy = 0.0;
  Float invZ = 0.0;
  bool visible = false;
};

struct Raster {
  Int32 width = 0;  // in samples
  Int32 height = 0;
  std::vector<Float> depth;  // 1 / z of the nearest surface so far; 0 = none
  std::vector<ColorF> color;
};

struct Shading {
  const MeshView* mesh;
  const std::vector<Vector3>* normals;
  const CameraBasis* camera;
  const RenderOptions* options;
  Vector3 keyLight;
  Vector3 fillLight;
};

ColorF Shade(const Shading& s, const Int32 corner[3], const Float weight[3]) {
  Vector3 position;
  Vector3 normal;
  ColorF base;
  for (int k = 0; k < 3; ++k) {
    position = Add(position, Scale(s.mesh->points[corner[k]], weight[k]));
    normal = Add(normal, Scale((*s.normals)[static_cast<size_t>(corner[k])], weight[k]));
    const ColorF c =
        s.mesh->pointColors != nullptr ? ToF(s.mesh->pointColors[corner[k]]) : ToF(s.mesh->color);
    base.r += c.r * weight[k];
    base.g += c.g * weight[k];
    base.b += c.b * weight[k];
  }
  normal = Normalized(normal);
  const Vector3 toEye = Normalized(Sub(s.camera->eye, position));
  if (Dot(normal, toEye) < 0.0) normal = Scale(normal, -1.0);
  const RenderOptions& o = *s.options;
  const Float diffuse = o.ambient + o.key * std::max(0.0, Dot(normal, s.keyLight)) +
                        o.fill * std::max(0.0, Dot(normal, s.fillLight));
  const Vector3 half = Normalized(Add(s.keyLight, toEye));
  const Float highlight = o.specular * std::pow(std::max(0.0, Dot(normal, half)), o.shininess);
  return {base.r * diffuse + 255.0 * highlight, base.g * diffuse + 255.0 * highlight,
          base.b * diffuse + 255.0 * highlight};
}

Float Edge(const Projected& a, const Projected& b, Float px, Float py) {
  return (b.sx - a.sx) * (py - a.sy) - (b.sy - a.sy) * (px - a.sx);
}

void DrawTriangle(Raster& raster, const Shading& shading, const std::vector<Projected>& projected,
                  const Int32 corner[3]) {
  const Projected& p0 = projected[static_cast<size_t>(corner[0])];
  const Projected& p1 = projected[static_cast<size_t>(corner[1])];
  const Projected& p2 = projected[static_cast<size_t>(corner[2])];
  if (!p0.visible || !p1.visible || !p2.visible) return;
  const Float area = Edge(p0, p1, p2.sx, p2.sy);
  if (area == 0.0 || !std::isfinite(area)) return;
  const Float minX = std::min({p0.sx, p1.sx, p2.sx});
  const Float maxX = std::max({p0.sx, p1.sx, p2.sx});
  const Float minY = std::min({p0.sy, p1.sy, p2.sy});
  const Float maxY = std::max({p0.sy, p1.sy, p2.sy});
  // Samples sit at pixel centres (i + 0.5, j + 0.5).
  const Int64 i0 = std::max<Int64>(0, static_cast<Int64>(std::ceil(minX - 0.5)));
  const Int64 i1 = std::min<Int64>(raster.width - 1, static_cast<Int64>(std::floor(maxX - 0.5)));
  const Int64 j0 = std::max<Int64>(0, static_cast<Int64>(std::ceil(minY - 0.5)));
  const Int64 j1 = std::min<Int64>(raster.height - 1, static_cast<Int64>(std::floor(maxY - 0.5)));
  for (Int64 j = j0; j <= j1; ++j) {
    const Float py = static_cast<Float>(j) + 0.5;
    for (Int64 i = i0; i <= i1; ++i) {
      const Float px = static_cast<Float>(i) + 0.5;
      const Float b0 = Edge(p1, p2, px, py) / area;
      const Float b1 = Edge(p2, p0, px, py) / area;
      const Float b2 = Edge(p0, p1, px, py) / area;
      if (b0 < 0.0 || b1 < 0.0 || b2 < 0.0) continue;
      const Float invZ = b0 * p0.invZ + b1 * p1.invZ + b2 * p2.invZ;
      const size_t at = static_cast<size_t>(j * raster.width + i);
      if (!(invZ > raster.depth[at])) continue;
      raster.depth[at] = invZ;
      // Perspective-correct weights for the surface attributes.
      const Float weight[3] = {b0 * p0.invZ / invZ, b1 * p1.invZ / invZ, b2 * p2.invZ / invZ};
      raster.color[at] = Shade(shading, corner, weight);
    }
  }
}

void CheckViewport(const Image& image, Int32 x, Int32 y, Int32 w, Int32 h) {
  if (w < 1 || h < 1 || x < 0 || y < 0 || static_cast<Int64>(x) + w > image.width ||
      static_cast<Int64>(y) + h > image.height ||
      image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3)
    throw std::invalid_argument(
        "RenderMesh: viewport " + std::to_string(w) + " x " + std::to_string(h) + " at (" +
        std::to_string(x) + ", " + std::to_string(y) + ") does not lie inside the " +
        std::to_string(image.width) + " x " + std::to_string(image.height) + " image");
}

}  // namespace

void RenderMesh(Image& image, Int32 x, Int32 y, Int32 w, Int32 h, const MeshView& mesh,
                const Camera& camera, const RenderOptions& options) {
  CheckViewport(image, x, y, w, h);
  CheckOptions(options);
  CheckMesh(mesh, "RenderMesh: ");
  const CameraBasis basis = MakeBasis(camera);

  const std::vector<Vector3> normals = PointNormals(Points(mesh), Polygons(mesh));

  const Int32 ss = options.supersample;
  Raster raster;
  raster.width = w * ss;
  raster.height = h * ss;
  const size_t samples = static_cast<size_t>(raster.width) * static_cast<size_t>(raster.height);
  raster.depth.assign(samples, 0.0);
  raster.color.resize(samples);
  const ColorF top = ToF(options.backgroundTop);
  const ColorF bottom = ToF(options.backgroundBottom);
  for (Int32 j = 0; j < raster.height; ++j) {
    const Float t = (j + 0.5) / raster.height;
    const ColorF c{top.r + (bottom.r - top.r) * t, top.g + (bottom.g - top.g) * t,
                   top.b + (bottom.b - top.b) * t};
    std::fill_n(raster.color.begin() + static_cast<std::ptrdiff_t>(j) * raster.width, raster.width,
                c);
  }

  // Screen: x to the right, y down, the vertical field of view spanning the viewport's height.
  const Float halfW = 0.5 * raster.width;
  const Float halfH = 0.5 * raster.height;
  const Float pixelsPerUnit = basis.focal * halfH;
  std::vector<Projected> projected(static_cast<size_t>(mesh.pointCount));
  for (Int64 i = 0; i < mesh.pointCount; ++i) {
    const Vector3 d = Sub(mesh.points[i], basis.eye);
    const Float z = Dot(d, basis.forward);
    Projected& p = projected[static_cast<size_t>(i)];
    p.visible = z > basis.nearDistance && std::isfinite(z);
    if (!p.visible) continue;
    p.invZ = 1.0 / z;
    p.sx = halfW + Dot(d, basis.right) * p.invZ * pixelsPerUnit;
    p.sy = halfH - Dot(d, basis.up) * p.invZ * pixelsPerUnit;
  }

  // Lights fixed to the camera.
  const Vector3 back = Scale(basis.forward, -1.0);
  auto fromCamera = [&](const Vector3& d) {
    return Normalized(Add(Add(Scale(basis.right, d.x), Scale(basis.up, d.y)), Scale(back, d.z)));
  };
  Shading shading{&mesh, &normals, &basis, &options, {}, {}};
  shading.keyLight = fromCamera(options.keyDirection);
  shading.fillLight = fromCamera(options.fillDirection);

  for (Int64 i = 0; i < mesh.polygonCount; ++i) {
    const CPolygon& p = mesh.polygons[i];
    const Int32 first[3] = {p.a, p.b, p.c};
    DrawTriangle(raster, shading, projected, first);
    if (p.c != p.d) {
      const Int32 second[3] = {p.a, p.c, p.d};
      DrawTriangle(raster, shading, projected, second);
    }
  }

  const Float norm = 1.0 / (ss * ss);
  for (Int32 j = 0; j < h; ++j) {
    for (Int32 i = 0; i < w; ++i) {
      ColorF sum;
      for (Int32 sj = 0; sj < ss; ++sj)
        for (Int32 si = 0; si < ss; ++si) {
          const ColorF& c = raster.color[static_cast<size_t>(j * ss + sj) * raster.width +
                                         static_cast<size_t>(i * ss + si)];
          sum.r += c.r;
          sum.g += c.g;
          sum.b += c.b;
        }
      SetPixel(image, x + i, y + j,
               {ToByte(sum.r * norm), ToByte(sum.g * norm), ToByte(sum.b * norm)});
    }
  }
}

MeshView ViewOf(std::span<const Vector3> points, std::span<const CPolygon> polygons,
                std::string caption) {
  MeshView v;
  v.points = points.data();
  v.pointCount = static_cast<Int64>(points.size());
  v.polygons = polygons.data();
  v.polygonCount = static_cast<Int64>(polygons.size());
  v.caption = std::move(caption);
  return v;
}

Image RenderPanels(const std::vector<MeshView>& meshes, const Camera& camera, Int32 panelWidth,
                   Int32 panelHeight, const RenderOptions& options) {
  if (meshes.empty()) throw std::invalid_argument("RenderPanels: no meshes to draw");
  if (panelWidth < 1 || panelHeight < 1 ||
      static_cast<Int64>(panelWidth) * static_cast<Int64>(meshes.size()) > kMaxImageSide ||
      panelHeight > kMaxImageSide)
    throw std::invalid_argument("RenderPanels: panel size " + std::to_string(panelWidth) + " x " +
                                std::to_string(panelHeight) + " for " +
                                std::to_string(meshes.size()) + " panels is out of range");
  CheckOptions(options);
  MakeBasis(camera);
  for (const MeshView& m : meshes) CheckMesh(m, "RenderPanels: ");
  Image image = MakeImage(panelWidth * static_cast<Int32>(meshes.size()), panelHeight, {});
  const Int32 margin = 4 * options.captionScale;
  for (size_t k = 0; k < meshes.size(); ++k) {
    const Int32 x = panelWidth * static_cast<Int32>(k);
    RenderMesh(image, x, 0, panelWidth, panelHeight, meshes[k], camera, options);
    if (k > 0) FillRect(image, x, 0, 1, panelHeight, options.backgroundTop);
    DrawText(image, x + margin, margin, meshes[k].caption, options.captionColor,
             options.captionScale);
  }
  return image;
}

Camera FitCamera(const std::vector<MeshView>& meshes, const Vector3& viewDirection,
                 const Vector3& up, Float fovYDegrees, Float aspect) {
  if (!(aspect > 0.0)) throw std::invalid_argument("FitCamera: aspect must be positive");
  if (!(Length(viewDirection) > 0.0))
    throw std::invalid_argument("FitCamera: the view direction is zero");
  if (!(fovYDegrees > 0.0 && fovYDegrees < 180.0))
    throw std::invalid_argument("FitCamera: field of view must lie in (0, 180) degrees");
  Vector3 lo{1e300, 1e300, 1e300};
  Vector3 hi{-1e300, -1e300, -1e300};
  Int64 count = 0;
  for (const MeshView& m : meshes) {
    CheckMesh(m, "FitCamera: ");
    for (Int64 i = 0; i < m.pointCount; ++i) {
      const Vector3& p = m.points[i];
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
      ++count;
    }
  }
  if (count == 0) throw std::invalid_argument("FitCamera: no points to frame");
  const Vector3 centre = Scale(Add(lo, hi), 0.5);
  const Float radius = std::max(0.5 * Length(Sub(hi, lo)), 1e-9);
  const Float halfY = fovYDegrees * kPi / 360.0;
  const Float halfX = std::atan(std::tan(halfY) * aspect);
  const Float distance = 1.05 * radius / std::sin(std::min(halfX, halfY));
  Camera camera;
  camera.target = centre;
  camera.eye = Sub(centre, Scale(Normalized(viewDirection), distance));
  camera.up = up;
  camera.fovYDegrees = fovYDegrees;
  return camera;
}

}  // namespace headless
