// A slow, plain reading of the detail-restoring rules, written apart from the plug-in's core:
// vectors of vectors and a map of edges. The deformer and `tessamire apply` are checked against
// it. It follows the same arithmetic rules (float32 strength and weights widened where used,
// 1/m then weight then strength, the decode order) but not the plug-in's code or data layout.
#pragma once

#include <array>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "host/abi/types.h"

namespace reference {

using Vec = std::array<double, 3>;
using Mesh = std::vector<Vec>;
using Faces = std::vector<std::array<int, 4>>;  // a triangle repeats its third corner

struct Settings {
  int iterations = 2;
  int weighting = 1;  // 0 uniform, 1 length-weighted
  bool pinBorder = false;
  float strength = 1.0f;
  bool showSmoothed = false;
  std::vector<float> vertexMap;    // empty: none
  std::vector<float> restriction;  // empty: none
};

inline Vec Add(const Vec& a, const Vec& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
inline Vec Sub(const Vec& a, const Vec& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline Vec Mul(const Vec& a, double s) {
  return {a[0] * s, a[1] * s, a[2] * s};
}
inline Vec CrossOf(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double Length(const Vec& a) {
  return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}
inline Vec Unit(const Vec& a) {
  const double l = Length(a);
  return l == 0.0 ? Vec{0.0, 0.0, 0.0} : Mul(a, 1.0 / l);
}

inline bool IsTriangle(const std::array<int, 4>& f) {
  return f[2] == f[3];
}

// Edge neighbours of every point (each edge once, met in face then side order) and which points
// lie on an edge that only one face uses.
struct Topology {
  std::vector<std::vector<int>> neighbours;
  std::vector<bool> border;
  std::vector<std::vector<int>> facesAround;  // ascending face index
};

inline Topology BuildTopology(size_t pointCount, const Faces& faces) {
  std::map<std::pair<int, int>, int> uses;
  auto key = [](int p, int q) { return std::make_pair(std::min(p, q), std::max(p, q)); };
  auto sides = [](const std::array<int, 4>& f) {
    std::vector<std::pair<int, int>> out;
    for (int s = 0; s < 4; ++s) {
      if (s == 2 && IsTriangle(f)) continue;
      const int p = f[s];
      const int q = f[(s + 1) % 4];
      if (p != q) out.push_back({p, q});
    }
    return out;
  };
  for (const auto& f : faces)
    for (const auto& [p, q] : sides(f)) ++uses[key(p, q)];
  Topology t;
  t.neighbours.resize(pointCount);
  t.border.assign(pointCount, false);
  t.facesAround.resize(pointCount);
  std::map<std::pair<int, int>, bool> met;
  for (size_t fi = 0; fi < faces.size(); ++fi) {
    for (const auto& [p, q] : sides(faces[fi])) {
      if (met[key(p, q)]) continue;
      met[key(p, q)] = true;
      if (uses[key(p, q)] == 1) t.border[p] = t.border[q] = true;
      t.neighbours[p].push_back(q);
      t.neighbours[q].push_back(p);
    }
    for (int c = 0; c < 4; ++c) {
      auto& around = t.facesAround[faces[fi][c]];
      if (around.empty() || around.back() != static_cast<int>(fi))
        around.push_back(static_cast<int>(fi));
    }
  }
  return t;
}

inline Mesh Smooth(const Mesh& points, const Topology& t, const Settings& s) {
  Mesh current = points;
  const bool useMap = !s.vertexMap.empty();
  for (int pass = 0; pass < s.iterations; ++pass) {
    Mesh next(current.size());
    for (size_t i = 0; i < current.size(); ++i) {
      const Vec& p = current[i];
      const auto& list = t.neighbours[i];
      const int n = static_cast<int>(list.size());
      if ((s.pinBorder && t.border[i]) || (s.weighting == 1 && n == 0)) {
        next[i] = p;
        continue;
      }
      Vec sum{0.0, 0.0, 0.0};
      double divisor = 0.0;
      if (s.weighting == 0) {
        for (int k : list) sum = Add(sum, Sub(current[k], p));
        divisor = n > 0 ? n : 1;
      } else {
        double lengths = 0.0;
        for (int k : list) {
          const Vec e = Sub(current[k], p);
          const double l = Length(e);
          sum = Add(sum, Mul(e, l));
          lengths += l;
        }
        divisor = n * lengths;
        if (divisor == 0.0) divisor = 1.0;
      }
      Vec step = Mul(sum, 1.0 / divisor);
      if (useMap) step = Mul(step, static_cast<double>(s.vertexMap[i]));
      step = Mul(step, static_cast<double>(s.strength));
      next[i] = Add(p, step);
    }
    current = next;
  }
  return current;
}

// origin, then the three axes.
using RefFrame = std::array<Vec, 4>;

inline std::vector<RefFrame> Frames(const Mesh& smoothed, const Faces& faces, const Topology& t) {
  std::vector<Vec> faceNormals;
  for (const auto& f : faces) {
    const Vec& a = smoothed[f[0]];
    const Vec& b = smoothed[f[1]];
    const Vec& c = smoothed[f[2]];
    const Vec& d = smoothed[f[3]];
    faceNormals.push_back(IsTriangle(f) ? Unit(CrossOf(Sub(b, a), Sub(c, a)))
                                        : Unit(CrossOf(Sub(b, d), Sub(c, a))));
  }
  std::vector<RefFrame> frames(smoothed.size());
  for (size_t i = 0; i < smoothed.size(); ++i) {
    const auto& around = t.facesAround[i];
    Vec normal{0.0, 0.0, 0.0};
    for (int fi : around) normal = Add(normal, faceNormals[fi]);
    const double n = static_cast<double>(around.size());
    Vec z = Unit(Mul(normal, n > 0 ? 1.0 / n : 1.0));
    Vec x{0.0, 0.0, 0.0};
    Vec y{0.0, 0.0, 0.0};
    if (!around.empty()) {
      const auto& f = faces[around.front()];
      int first = -1;
      int second = -1;
      const int me = static_cast<int>(i);
      if (!IsTriangle(f)) {
        if (me == f[0] || me == f[2]) {
          first = f[1];
          second = f[3];
        } else {
          first = f[0];
          second = f[2];
        }
      } else {
        std::vector<int> others;
        for (int c = 0; c < 3; ++c)
          if (f[c] != me) others.push_back(f[c]);
        if (others.size() == 2) {
          first = others[0];
          second = others[1];
        }
      }
      if (first >= 0 && second >= 0) {
        const Vec hint = Unit(Sub(smoothed[first], smoothed[second]));
        x = Unit(CrossOf(z, hint));
        y = CrossOf(z, x);
      }
    }
    frames[i] = {smoothed[i], Unit(x), Unit(y), Unit(z)};
  }
  return frames;
}

// The determinant of the frame's axes.
inline double Determinant(const RefFrame& f) {
  const Vec c = CrossOf(f[2], f[3]);
  return f[1][0] * c[0] + f[1][1] * c[1] + f[1][2] * c[2];
}

// p in the frame's coordinates; a frame of determinant exactly 0 gives p's offset from its origin.
inline Vec Encode(const RefFrame& f, const Vec& p) {
  const Vec& a = f[1];
  const Vec& b = f[2];
  const Vec& c = f[3];
  // m[r][k]: row r, column k, with the axes as columns.
  const double m[3][3] = {{a[0], b[0], c[0]}, {a[1], b[1], c[1]}, {a[2], b[2], c[2]}};
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  const Vec v = Sub(p, f[0]);
  if (det == 0.0) return v;
  double inv[3][3];
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 3; ++k) {
      // Cofactor of m[k][r] (transposed) over the determinant.
      const int r1 = (k + 1) % 3;
      const int r2 = (k + 2) % 3;
      const int c1 = (r + 1) % 3;
      const int c2 = (r + 2) % 3;
      inv[r][k] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
  }
  return {inv[0][0] * v[0] + inv[0][1] * v[1] + inv[0][2] * v[2],
          inv[1][0] * v[0] + inv[1][1] * v[1] + inv[1][2] * v[2],
          inv[2][0] * v[0] + inv[2][1] * v[1] + inv[2][2] * v[2]};
}

inline Vec Decode(const RefFrame& f, const Vec& d) {
  return Add(Add(Add(f[0], Mul(f[1], d[0])), Mul(f[2], d[1])), Mul(f[3], d[2]));
}

// The differences a bind of `rest` stores.
inline Mesh Bind(const Mesh& rest, const Faces& faces, const Settings& s) {
  const Topology t = BuildTopology(rest.size(), faces);
  const auto frames = Frames(Smooth(rest, t, s), faces, t);
  Mesh differences(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) differences[i] = Encode(frames[i], rest[i]);
  return differences;
}

// One tag's correction of `current`; `falloff` holds a weight per point or is empty (all 1). A
// point whose frame is singular, or whose result is not finite, keeps its current position.
inline Mesh Correct(const Mesh& current, const Faces& faces, const Mesh& differences,
                    const Settings& s, const std::vector<double>& falloff = {}) {
  const Topology t = BuildTopology(current.size(), faces);
  const auto frames = Frames(Smooth(current, t, s), faces, t);
  Mesh out(current.size());
  for (size_t i = 0; i < current.size(); ++i) {
    const Vec target = s.showSmoothed ? frames[i][0] : Decode(frames[i], differences[i]);
    const double w = falloff.empty() ? 1.0 : falloff[i];
    const Vec& p = current[i];
    out[i] = p;
    if (!s.showSmoothed && Determinant(frames[i]) == 0.0) continue;
    for (int c = 0; c < 3; ++c) {
      if (s.restriction.empty()) {
        out[i][c] = w * target[c] + (1.0 - w) * p[c];
      } else {
        const double r = static_cast<double>(s.restriction[i]);
        out[i][c] = (r * target[c] + (1.0 - r) * p[c]) * w + (1.0 - w) * p[c];
      }
    }
    if (!std::isfinite(out[i][0]) || !std::isfinite(out[i][1]) || !std::isfinite(out[i][2]))
      out[i] = p;
  }
  return out;
}

// Bind on `rest`, then correct `current`.
inline Mesh BindAndCorrect(const Mesh& rest, const Mesh& current, const Faces& faces,
                           const Settings& s) {
  return Correct(current, faces, Bind(rest, faces, s), s);
}

}  // namespace reference
