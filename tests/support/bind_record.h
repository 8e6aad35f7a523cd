// The bind tag's record as the plug-in holds it, read in place, for the plug-in's own tests. The
// instance was made by the loaded library from the same class definition; only inline accessors
// are used, never code of this binary's copy.
#pragma once

#include <vector>

#include "headless/scene/scene.h"
#include "source/TTessamire/ttessamire.h"

namespace bind_tag {

inline const TTessamire& Record(const headless::Node* tag) {
  return *static_cast<const TTessamire*>(tag->instance);
}

inline std::vector<Vector3> Differences(const headless::Node* tag) {
  const TTessamire& record = Record(tag);
  const Vector3* data = record.differences.GetData();
  return std::vector<Vector3>(data, data + record.differences.GetCount());
}

}  // namespace bind_tag
