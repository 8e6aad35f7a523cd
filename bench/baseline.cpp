#include "bench/baseline.h"

#include <cmath>
#include <map>
#include <utility>

namespace baseline {

namespace {

Vec Sub(const Vec& a, const Vec& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec Add(const Vec& a, const Vec& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
Vec Mul(const Vec& a, double s) {
  return {a[0] * s, a[1] * s, a[2] * s};
}
Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec& a, const Vec& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vec Unit(const Vec& v) {
  const double l = std::sqrt(Dot(v, v));
  return Mul(v, l == 0.0 ? 0.0 : 1.0 / l);
}

struct Topology {
  std::vector<std::vector<int>> neighbours;  // per point, in walk order
  std::vector<char> border;
  std::vector<std::vector<int>> polygonsAround;  // per point, ascending
};

Topology Build(int pointCount, const std::vector<Quad>& faces) {
  // Every use of every edge, keyed by its point pair, in (polygon, side) order.
  std::map<std::pair<int, int>, std::vector<std::pair<int, int>>> edges;
  for (int i = 0; i < static_cast<int>(faces.size()); ++i) {
    for (int j = 0; j < 4; ++j) {
      const int p = faces[i][j];
      const int q = faces[i][(j + 1) % 4];
      if (p == q) continue;
      edges[{std::min(p, q), std::max(p, q)}].push_back({i, j});
    }
  }
  Topology t;
  t.neighbours.resize(pointCount);
  t.border.assign(pointCount, 0);
  t.polygonsAround.resize(pointCount);
  for (int i = 0; i < static_cast<int>(faces.size()); ++i) {
    const Quad& f = faces[i];
    for (int j = 0; j < 4; ++j) {
      const int p = f[j];
      const int q = f[(j + 1) % 4];
      if (p == q) continue;
      const std::vector<std::pair<int, int>>& users = edges[{std::min(p, q), std::max(p, q)}];
      if (users.front() != std::make_pair(i, j)) continue;  // reported by an earlier side
      bool shared = false;
      for (const auto& u : users) shared = shared || u.first != i;
      if (!shared) t.border[p] = t.border[q] = 1;
      t.neighbours[p].push_back(q);
      t.neighbours[q].push_back(p);
    }
    for (int k = 0; k < 4; ++k) {
      std::vector<int>& around = t.polygonsAround[f[k]];
      if (around.empty() || around.back() != i) around.push_back(i);
    }
  }
  return t;
}

std::vector<Vec> Smooth(std::vector<Vec> p, const Topology& t, const Settings& s) {
  std::vector<Vec> next(p.size());
  for (int pass = 0; pass < s.iterations; ++pass) {
    for (size_t i = 0; i < p.size(); ++i) {
      const std::vector<int>& list = t.neighbours[i];
      const int n = static_cast<int>(list.size());
      if ((s.pinBorder && t.border[i]) || (s.lengthWeighted && n == 0)) {
        next[i] = p[i];
        continue;
      }
      Vec sum{0, 0, 0};
      double divisor;
      if (s.lengthWeighted) {
        double total = 0;
        for (int k : list) {
          const Vec e = Sub(p[k], p[i]);
          const double l = std::sqrt(Dot(e, e));
          sum = Add(sum, Mul(e, l));
          total += l;
        }
        divisor = static_cast<double>(n) * total;
        if (divisor == 0.0) divisor = 1.0;
      } else {
        for (int k : list) sum = Add(sum, Sub(p[k], p[i]));
        divisor = n > 0 ? n : 1;
      }
      next[i] = Add(p[i], Mul(Mul(sum, 1.0 / divisor), static_cast<double>(s.strength)));
    }
    std::swap(p, next);
  }
  return p;
}

std::pair<int, int> Corners(int i, const Quad& f) {
  if (f[2] != f[3])
    return (i == f[0] || i == f[2]) ? std::make_pair(f[1], f[3]) : std::make_pair(f[0], f[2]);
  std::vector<int> other;
  for (int k = 0; k < 3; ++k)
    if (f[k] != i) other.push_back(f[k]);
  if (other.size() != 2) return {-1, -1};
  return {other[0], other[1]};
}

}  // namespace

std::vector<Frame> Frames(const std::vector<Vec>& points, const std::vector<Quad>& faces,
                          const Settings& settings) {
  const Topology t = Build(static_cast<int>(points.size()), faces);
  const std::vector<Vec> p = Smooth(points, t, settings);
  std::vector<Vec> normals;
  for (const Quad& f : faces) {
    normals.push_back(f[2] != f[3] ? Unit(Cross(Sub(p[f[1]], p[f[3]]), Sub(p[f[2]], p[f[0]])))
                                   : Unit(Cross(Sub(p[f[1]], p[f[0]]), Sub(p[f[2]], p[f[0]]))));
  }
  std::vector<Frame> frames(p.size());
  for (size_t i = 0; i < p.size(); ++i) {
    Frame& fr = frames[i];
    fr.origin = p[i];
    const std::vector<int>& around = t.polygonsAround[i];
    Vec sum{0, 0, 0};
    for (int j : around) sum = Add(sum, normals[j]);
    fr.axis3 = Unit(Mul(sum, around.empty() ? 1.0 : 1.0 / static_cast<double>(around.size())));
    fr.axis1 = fr.axis2 = Vec{0, 0, 0};
    if (!around.empty()) {
      const auto [o1, o2] = Corners(static_cast<int>(i), faces[around.front()]);
      if (o1 >= 0 && o2 >= 0) {
        const Vec tangent = Unit(Add(Sub(p[i], p[o2]), Sub(p[o1], p[i])));
        fr.axis1 = Unit(Cross(fr.axis3, tangent));
        fr.axis2 = Cross(fr.axis3, fr.axis1);
      }
    }
    fr.axis1 = Unit(fr.axis1);
    fr.axis2 = Unit(fr.axis2);
    fr.axis3 = Unit(fr.axis3);
  }
  return frames;
}

std::vector<Vec> Encode(const std::vector<Vec>& rest, const std::vector<Quad>& faces,
                        const Settings& settings) {
  const std::vector<Frame> frames = Frames(rest, faces, settings);
  std::vector<Vec> out(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) {
    const Frame& f = frames[i];
    const double det = Dot(f.axis1, Cross(f.axis2, f.axis3));
    if (det == 0.0) {
      out[i] = Sub(rest[i], f.origin);
      continue;
    }
    // Rows of the inverse rotation part; the difference is R^-1 (P - origin).
    const double inv = 1.0 / det;
    const Vec r1 = Mul(Cross(f.axis2, f.axis3), inv);
    const Vec r2 = Mul(Cross(f.axis3, f.axis1), inv);
    const Vec r3 = Mul(Cross(f.axis1, f.axis2), inv);
    const Vec d = Sub(rest[i], f.origin);
    out[i] = {Dot(r1, d), Dot(r2, d), Dot(r3, d)};
  }
  return out;
}

std::vector<Vec> Evaluate(const std::vector<Vec>& posed, const std::vector<Quad>& faces,
                          const std::vector<Vec>& differences, const Settings& settings) {
  const std::vector<Frame> frames = Frames(posed, faces, settings);
  std::vector<Vec> out(posed.size());
  for (size_t i = 0; i < posed.size(); ++i) {
    const Frame& f = frames[i];
    const Vec& d = differences[i];
    out[i] = Add(Add(Add(f.origin, Mul(f.axis1, d[0])), Mul(f.axis2, d[1])), Mul(f.axis3, d[2]));
  }
  return out;
}

std::vector<Vec> ToVecs(const std::vector<Vector3>& points) {
  std::vector<Vec> out;
  out.reserve(points.size());
  for (const Vector3& p : points) out.push_back({p.x, p.y, p.z});
  return out;
}

std::vector<Quad> ToQuads(const std::vector<CPolygon>& polygons) {
  std::vector<Quad> out;
  out.reserve(polygons.size());
  for (const CPolygon& p : polygons) out.push_back({p.a, p.b, p.c, p.d});
  return out;
}

}  // namespace baseline
