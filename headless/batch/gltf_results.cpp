#include "headless/batch/gltf_results.h"
#include "headless/io/obj_file_vertices.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace headless {

GlbResults::GlbResults(std::string path, const ObjFile& rest, const FrameSource& frames, Float fps)
    : path_(std::move(path)),
      rest_(rest),
      frames_(frames),
      origin_(std::min(0.0, frames.Number(0))),
      fps_(fps) {}

void GlbResults::Begin() {
  vertices_ = std::make_shared<FileVertices>(ObjFileVertices(rest_));
  restFrames_ = FileVertexFrames(*vertices_, rest_.mesh.points);
  if (vertices_->VertexCount() == 0)
    throw std::runtime_error(rest_.name + ": no face, so a glTF of it would hold no vertex");
  writer_.AddMesh(vertices_, FileVertexPositions(*vertices_, rest_.mesh.points),
                  vertices_->normals);
}

void GlbResults::Write(size_t i, const InputFrame& /*frame*/, const std::vector<Vector3>& result) {
  const std::vector<Vector3> positions = FileVertexPositions(*vertices_, result);
  const std::vector<Vector3> normals =
      FileVertexNormals(*vertices_, restFrames_, FileVertexFrames(*vertices_, result));
  writer_.AddFrame((frames_.Number(i) - origin_) / fps_, {positions}, {normals});
}

void GlbResults::Commit(size_t /*count*/) {
  writer_.Write(path_);
}

}  // namespace headless
