// New objects' names made unique in a document in constant time each: the names taken are held in
// a hash set seeded once, and each base name remembers the next "-k" to try, so importing N
// objects of one name costs about N lookups, not N^2 walks of the tree.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "headless/scene/scene.h"

namespace headless {

struct ObjectNames {
  std::unordered_set<std::string> taken;
  std::unordered_map<std::string, Int64> nextSuffix;  // per base name, the next "-k" to try
};

// The names of every object of `doc` (one walk of its tree).
ObjectNames NamesOf(const Document& doc);
// `name` (empty: `fallback`) when no object has it, else the first "name-k" (k = 2, 3, ...) free;
// the answer is taken in `names`.
std::string UniqueObjectName(ObjectNames& names, std::string name, const std::string& fallback);

// Names compared since the process started, by Document::FindObject and UniqueObjectName: the
// work naming costs, counted so that tests can check it grows linearly, not with time.
Int64 ObjectNamesCompared();
void CountObjectNamesCompared(Int64 count);

}  // namespace headless
