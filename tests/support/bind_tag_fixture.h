// The bind tag through the real tessamire.xdl64 loaded by the headless host: a fixture with the
// library started, a document, grid meshes with a little surface detail, and a tag's bind as its
// plug-in stores it (the record itself, read in place, is in bind_record.h).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "headless/entries/plugin_host.h"
#include "headless/entries/resources.h"
#include "headless/entries/stream.h"
#include "headless/geometry/primitives.h"
#include "headless/io/scene_file.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "tests/support/build_paths.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/plugin_ids.h"

namespace bind_tag {

using namespace plugin_ids;

// A columns x rows grid of points in the xy plane, quads between them, with a deterministic bump
// in z so that smoothing moves every point.
inline Mesh Grid(Int32 columns, Int32 rows) {
  Mesh mesh = headless::Grid(columns - 1, rows - 1, 0.1);
  for (Int32 j = 0; j < rows; ++j)
    for (Int32 i = 0; i < columns; ++i)
      mesh.points[static_cast<size_t>(j * columns + i)].z = 0.01 * ((i * 7 + j * 3) % 5);
  return mesh;
}

// A tag's bind as its plug-in writes it to a scene file: the bound flag, then, when bound, the
// count and the differences.
struct StoredBind {
  bool bound = false;
  std::vector<Vector3> differences;
};

inline StoredBind StoredBindOf(headless::Node* tag) {
  headless::MemoryStream stream = headless::MemoryStream::ForReading(headless::WriteNodeState(tag));
  StoredBind bind;
  EXPECT_TRUE(stream.ReadBool(bind.bound));
  Int32 count = 0;
  if (bind.bound) {
    EXPECT_TRUE(stream.ReadInt32(count));
  }
  bind.differences.resize(static_cast<size_t>(std::max(count, 0)));
  for (Vector3& difference : bind.differences) EXPECT_TRUE(stream.ReadVector(difference));
  return bind;
}

inline bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0);
}

inline std::string ResourceString(Int32 id) {
  const std::map<Int32, std::string> strings = headless::ParseStringTable(
      headless::ReadFile(std::string(TESSAMIRE_SOURCE_DIR) + "/res/strings/strings.txt"),
      "strings.txt");
  return strings.count(id) != 0 ? strings.at(id) : std::string();
}

inline std::string Status(const headless::Node* tag) {
  return tag->params.GetString(TTESSAMIRE_BINDINFO).value_or("<no status>");
}

class BindTagFixture : public LoadedPluginTest {
 protected:
  headless::Node* AddGrid(Int32 columns, Int32 rows, const std::string& name = "grid") {
    Mesh mesh = Grid(columns, rows);
    return doc->AddPolygonObject(name, std::move(mesh.points), std::move(mesh.polygons));
  }
};

}  // namespace bind_tag
