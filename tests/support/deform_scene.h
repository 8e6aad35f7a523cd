// Scenes for the tests of the deformer and `tessamire apply`: the real tessamire.xdl64 loaded by
// the headless host, test meshes (open and closed; quads, triangles and both) with a little
// surface detail, and conversions to the reference implementation's vectors.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "headless/deformers/cache_deformer.h"
#include "headless/deformers/falloff.h"
#include "headless/entries/framework.h"
#include "headless/entries/plugin_host.h"
#include "headless/geometry/primitives.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/plugin_ids.h"
#include "tests/support/reference_deformer.h"

namespace deform_scene {

using namespace plugin_ids;

enum class Faces { kQuads, kTriangles, kMixed };

// Splits quads into triangles: every one (kTriangles), every other one (kMixed) or none.
inline std::vector<CPolygon> Split(const std::vector<CPolygon>& quads, Faces faces) {
  std::vector<CPolygon> out;
  for (size_t i = 0; i < quads.size(); ++i) {
    const CPolygon& q = quads[i];
    if (faces == Faces::kQuads || (faces == Faces::kMixed && i % 2 == 0)) {
      out.push_back(q);
    } else {
      out.push_back({q.a, q.b, q.c, q.c});
      out.push_back({q.a, q.c, q.d, q.d});
    }
  }
  return out;
}

// An open nx by ny grid in the xy plane, spacing 1, with ripples in z as detail.
inline Mesh Sheet(Int32 nx, Int32 ny, Faces faces = Faces::kQuads) {
  Mesh mesh = headless::Grid(nx, ny);
  for (Int32 j = 0; j <= ny; ++j)
    for (Int32 i = 0; i <= nx; ++i)
      mesh.points[static_cast<size_t>(j * (nx + 1) + i)].z =
          0.15 * std::sin(1.7 * i) * std::cos(1.3 * j) + 0.05 * ((i + j) % 2);
  mesh.polygons = Split(mesh.polygons, faces);
  return mesh;
}

// A closed torus of u by v quads around the z axis, radii 3 and 1, with bumps as detail.
inline Mesh Ring(Int32 u, Int32 v, Faces faces = Faces::kQuads) {
  Mesh mesh = headless::Torus(u, v, {.bumpHeight = 0.08, .bumpsAround = 5.0, .bumpsAcross = 3.0});
  mesh.polygons = Split(mesh.polygons, faces);
  return mesh;
}

// Every point turned about the z axis by `perUnit` radians per unit of its x (the sheet) or of
// its z (the ring), then moved by `shift`.
inline std::vector<Vector3> Twist(const std::vector<Vector3>& points, Float perUnit, bool alongX,
                                  Vector3 shift = {}) {
  std::vector<Vector3> out;
  for (const Vector3& p : points) {
    const Float angle = perUnit * (alongX ? p.x : p.z);
    const Float c = std::cos(angle);
    const Float s = std::sin(angle);
    if (alongX) {
      out.push_back({p.x + shift.x, c * p.y - s * p.z + shift.y, s * p.y + c * p.z + shift.z});
    } else {
      out.push_back({c * p.x - s * p.y + shift.x, s * p.x + c * p.y + shift.y, p.z + shift.z});
    }
  }
  return out;
}

// A rigid motion: a rotation about the axis (1, 2, 2)/3 by `angle`, then a move by `shift`.
inline std::vector<Vector3> Rigid(const std::vector<Vector3>& points, Float angle, Vector3 shift) {
  const Float ux = 1.0 / 3.0, uy = 2.0 / 3.0, uz = 2.0 / 3.0;
  const Float c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
  const Float m[3][3] = {{t * ux * ux + c, t * ux * uy - s * uz, t * ux * uz + s * uy},
                         {t * ux * uy + s * uz, t * uy * uy + c, t * uy * uz - s * ux},
                         {t * ux * uz - s * uy, t * uy * uz + s * ux, t * uz * uz + c}};
  std::vector<Vector3> out;
  for (const Vector3& p : points)
    out.push_back({m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + shift.x,
                   m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + shift.y,
                   m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + shift.z});
  return out;
}

inline reference::Mesh ToRef(const std::vector<Vector3>& points) {
  reference::Mesh out;
  for (const Vector3& p : points) out.push_back({p.x, p.y, p.z});
  return out;
}

inline reference::Faces ToRef(const std::vector<CPolygon>& polygons) {
  reference::Faces out;
  for (const CPolygon& p : polygons) out.push_back({p.a, p.b, p.c, p.d});
  return out;
}

// The largest coordinate difference between two point lists of one size.
inline Float MaxDistance(const std::vector<Vector3>& a, const reference::Mesh& b) {
  EXPECT_EQ(a.size(), b.size());
  Float worst = 0.0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    worst = std::max(worst, std::fabs(a[i].x - b[i][0]));
    worst = std::max(worst, std::fabs(a[i].y - b[i][1]));
    worst = std::max(worst, std::fabs(a[i].z - b[i][2]));
  }
  return worst;
}

inline Float MaxDistance(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return MaxDistance(a, ToRef(b));
}

inline bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(Vector3)) != 0) return false;
  return true;
}

// The plug-in loaded and started like the host does, and one empty document.
class PluginScene : public LoadedPluginTest {
 protected:
  headless::Node* AddMesh(const Mesh& mesh, headless::Node* parent = nullptr) {
    return doc->AddPolygonObject("mesh", mesh.points, mesh.polygons, parent);
  }

  // A bind tag at the end of the object's tag list with these settings, bound by its button.
  headless::Node* AddBoundTag(headless::Node* object, const reference::Settings& s,
                              headless::Node* vertexMap = nullptr) {
    headless::Node* tag = AddTag(object, s, vertexMap);
    EXPECT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
    return tag;
  }

  headless::Node* AddTag(headless::Node* object, const reference::Settings& s,
                         headless::Node* vertexMap = nullptr) {
    headless::Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
    tag->params.SetInt32(TTESSAMIRE_ITERATIONS, s.iterations);
    tag->params.SetInt32(TTESSAMIRE_WEIGHTING, s.weighting);
    tag->params.SetInt32(TTESSAMIRE_PINBORDER, s.pinBorder ? 1 : 0);
    tag->params.SetFloat(TTESSAMIRE_STRENGTH, static_cast<Float>(s.strength));
    tag->params.SetInt32(TTESSAMIRE_SHOWSMOOTH, s.showSmoothed ? 1 : 0);
    if (vertexMap != nullptr) tag->params.SetLink(TTESSAMIRE_VERTEXMAP, vertexMap->serial);
    return tag;
  }

  headless::Node* AddPointCache(headless::Node* object, std::vector<Vector3> frame = {}) {
    headless::Node* cache = doc->AddObject(headless::kPointCacheType, "cache", object);
    headless::LoadPointCacheFrame(cache, std::move(frame));
    return cache;
  }

  headless::Node* AddDeformer(headless::Node* object) {
    return doc->AddObject(ID_OTESSAMIRE, "deformer", object);
  }

  static bool GotUpdate(const headless::Node* object) {
    for (Int32 m : object->DeliveredMessages())
      if (m == MSG_UPDATE) return true;
    return false;
  }
};

}  // namespace deform_scene
