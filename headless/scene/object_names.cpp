#include "headless/scene/object_names.h"

#include "headless/scene/scene_state.h"

namespace headless {

Int64 ObjectNamesCompared() {
  return TheSceneState().objectNamesCompared.load(std::memory_order_relaxed);
}

void CountObjectNamesCompared(Int64 count) {
  TheSceneState().objectNamesCompared.fetch_add(count, std::memory_order_relaxed);
}

ObjectNames NamesOf(const Document& doc) {
  ObjectNames names;
  for (const Node* object : doc.Objects()) names.taken.insert(object->name);
  return names;
}

std::string UniqueObjectName(ObjectNames& names, std::string name, const std::string& fallback) {
  if (name.empty()) name = fallback;
  CountObjectNamesCompared(1);
  if (names.taken.insert(name).second) return name;
  // A hash lookup compares the name with the few that share its bucket: one comparison each.
  Int64& k = names.nextSuffix.try_emplace(name, 2).first->second;
  for (;; ++k) {
    std::string candidate = name + "-" + std::to_string(k);
    CountObjectNamesCompared(1);
    if (names.taken.insert(candidate).second) {
      ++k;
      return candidate;
    }
  }
}

}  // namespace headless
