// A grid's rest OBJ and frames of it, each bent further, written to a folder of their own as a
// numbered sequence (walk.0001.obj, ...): the files a batch run reads.
#pragma once

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "headless/geometry/primitives.h"
#include "headless/io/obj_write.h"
#include "tests/support/temp_folder.h"

struct GridFiles {
  TempFolder folder;
  headless::Mesh grid = headless::Grid(12, 9, 0.1);
  std::string rest;
  std::vector<std::string> frames;
  std::vector<Int64> numbers;
  std::vector<std::vector<Vector3>> points;  // each frame's

  explicit GridFiles(int count) {
    rest = Path("rest.obj");
    headless::WriteObj(rest, Bent(0), grid.polygons);
    for (int k = 1; k <= count; ++k) {
      points.push_back(Bent(k));
      frames.push_back(Path("walk.000" + std::to_string(k) + ".obj"));
      numbers.push_back(k);
      headless::WriteObj(frames.back(), points.back(), grid.polygons);
    }
  }
  std::string Path(const std::string& name) const { return (folder.path / name).string(); }
  // The grid rippled, and bent about the y axis by `step` tenths of a radian per unit of x.
  std::vector<Vector3> Bent(int step) const {
    std::vector<Vector3> out = grid.points;
    for (Vector3& p : out) {
      const Float z = 0.02 * std::sin(9.0 * p.x) * std::cos(7.0 * p.y);
      const Float a = 0.1 * step * p.x;
      p = {p.x * std::cos(a) - z * std::sin(a), p.y, p.x * std::sin(a) + z * std::cos(a)};
    }
    return out;
  }
};

inline bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
}
