// The peer OBJ reader, tinyobjloader (Debian's header, compiled here at the bench's optimisation
// level, in double precision), through its callback interface: positions and faces only, kept in
// plain arrays as ours keeps them.
#include "bench/batch_bench.h"

#ifdef TESSAMIRE_HAVE_TINYOBJLOADER
#define TINYOBJLOADER_IMPLEMENTATION
#define TINYOBJLOADER_USE_DOUBLE
#include <tiny_obj_loader.h>

#include <fstream>

namespace bench {

namespace {

struct Kept {
  std::vector<double> points;
  std::vector<int> corners;
  std::vector<int> faceSizes;
};

}  // namespace

bool HaveTinyObjLoader() {
  return true;
}

size_t TinyObjRead(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Kept kept;
  tinyobj::callback_t callback;
  callback.vertex_cb = [](void* user, double x, double y, double z, double) {
    auto& points = static_cast<Kept*>(user)->points;
    points.insert(points.end(), {x, y, z});
  };
  callback.index_cb = [](void* user, tinyobj::index_t* indices, int count) {
    Kept& k = *static_cast<Kept*>(user);
    for (int c = 0; c < count; ++c) k.corners.push_back(indices[c].vertex_index);
    k.faceSizes.push_back(count);
  };
  std::string warn, err;
  if (!tinyobj::LoadObjWithCallback(in, callback, &kept, nullptr, &warn, &err)) return 0;
  return kept.points.size() / 3;
}

}  // namespace bench

#else

namespace bench {

bool HaveTinyObjLoader() {
  return false;
}

size_t TinyObjRead(const std::string&) {
  return 0;
}

}  // namespace bench

#endif
