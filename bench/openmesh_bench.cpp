// The peer: one uniform pass of OpenMesh's Jacobi Laplace smoother on the same 1M-point torus,
// with float64 points, on one thread. Built only when CMake found OpenMesh.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "bench/benchmarks.h"

#ifdef TESSAMIRE_HAVE_OPENMESH
#include <OpenMesh/Core/Mesh/PolyMesh_ArrayKernelT.hh>
#include <OpenMesh/Tools/Smoother/JacobiLaplaceSmootherT.hh>

namespace bench {

namespace {

struct DoubleTraits : public OpenMesh::DefaultTraits {
  typedef OpenMesh::Vec3d Point;
  typedef OpenMesh::Vec3d Normal;
  VertexAttributes(OpenMesh::Attributes::Status | OpenMesh::Attributes::Normal);
  FaceAttributes(OpenMesh::Attributes::Status | OpenMesh::Attributes::Normal);
  EdgeAttributes(OpenMesh::Attributes::Status);
};
using PeerMesh = OpenMesh::PolyMesh_ArrayKernelT<DoubleTraits>;

void OpenMeshPass(benchmark::State& state, const std::string& name) {
  const Mesh& m = RestMesh(name);
  PeerMesh mesh;
  std::vector<PeerMesh::VertexHandle> vertices;
  vertices.reserve(m.points.size());
  for (const Vector3& p : m.points) vertices.push_back(mesh.add_vertex({p.x, p.y, p.z}));
  for (const CPolygon& f : m.polygons) {
    if (f.c == f.d)
      mesh.add_face(vertices[f.a], vertices[f.b], vertices[f.c]);
    else
      mesh.add_face(vertices[f.a], vertices[f.b], vertices[f.c], vertices[f.d]);
  }
  mesh.update_normals();
  OpenMesh::Smoother::JacobiLaplaceSmootherT<PeerMesh> smoother(mesh);
  // Both components, no tangent projection and no error check: the plain umbrella step.
  smoother.initialize(OpenMesh::Smoother::JacobiLaplaceSmootherT<PeerMesh>::Tangential_and_Normal,
                      OpenMesh::Smoother::JacobiLaplaceSmootherT<PeerMesh>::C0);
  smoother.smooth(1);  // warm
  for (auto _ : state) {
    const Clock::time_point t = Clock::now();
    smoother.smooth(1);
    const double s = Seconds(t);
    Record("openmesh:" + name, s);
    state.SetIterationTime(s);
  }
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(m.points.size()),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

bool RegisterOpenMeshBenchmarks() {
  benchmark::RegisterBenchmark("OpenMeshUniformPass/torus1M",
                               [](benchmark::State& s) { OpenMeshPass(s, "torus1M"); })
      ->Iterations(10)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  return true;
}

}  // namespace bench

#else

namespace bench {
bool RegisterOpenMeshBenchmarks() {
  return false;
}
}  // namespace bench

#endif
