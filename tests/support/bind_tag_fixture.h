// The bind tag through the real tessamire.xdl64 loaded by the headless host: a fixture with the
// library started, a document, grid meshes with a little surface detail, and a read-only view of
// a tag's bind record.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "headless/geometry/primitives.h"
#include "headless/host/plugin_host.h"
#include "headless/host/resources.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "source/TTessamire/ttessamire.h"
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

// The plug-in's record of a tag, read in place. The instance was made by the loaded library from
// the same class definition; only inline accessors are used, never code of this binary's copy.
inline const TTessamire& Record(const headless::Node* tag) {
  return *static_cast<const TTessamire*>(tag->instance);
}

inline std::vector<Vector3> Differences(const headless::Node* tag) {
  const TTessamire& record = Record(tag);
  const Vector3* data = record.differences.GetData();
  return std::vector<Vector3>(data, data + record.differences.GetCount());
}

inline bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0);
}

inline std::string ResourceString(Int32 id) {
  std::string text, error;
  std::map<Int32, std::string> strings;
  EXPECT_TRUE(
      headless::ReadFile(std::string(TESSAMIRE_SOURCE_DIR) + "/res/strings/strings.txt", text));
  EXPECT_TRUE(headless::ParseStringTable(text, "strings.txt", strings, error)) << error;
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
