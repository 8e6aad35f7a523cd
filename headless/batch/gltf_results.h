// Results as one binary glTF on the rest OBJ's own vertices (ObjFileVertices): the rest, then a
// frame per result at its number / fps seconds, shifted to start at 0 when numbers run below 0;
// normals turn with the surface from the rest mesh's. The file is written once every frame is in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "headless/batch/result_sink.h"
#include "headless/characters/gltf.h"
#include "headless/geometry/mesh.h"
#include "headless/io/obj.h"

namespace headless {

class GlbResults final : public ResultSink {
 public:
  // The glTF `path` of `frames`' results on `rest`'s own vertices; `rest` (its points, polygons
  // and faces as written) and `frames` must outlive the sink.
  GlbResults(std::string path, const ObjFile& rest, const FrameSource& frames, Float fps);

  bool NeedsRestMesh() const override { return true; }

  // Throws std::runtime_error "REST: no face, so a glTF of it would hold no vertex".
  void Begin() override;
  void Write(size_t i, const InputFrame& frame, const std::vector<Vector3>& result) override;
  void Commit(size_t count) override;

 private:
  std::string path_;
  const ObjFile& rest_;
  const FrameSource& frames_;
  Float origin_ = 0.0;  // the frame at 0 seconds
  Float fps_ = 30.0;
  std::shared_ptr<const FileVertices> vertices_;
  std::vector<SurfaceFrame> restFrames_;  // per file vertex
  GlbWriter writer_;
};

}  // namespace headless
