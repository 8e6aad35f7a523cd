// The peer: OpenMesh's Jacobi Laplace smoother on the same mesh, with float64 points, on one
// thread, compiled at the same optimisation as the core. Built only when CMake found OpenMesh.
#include "bench/bench_support.h"
#include "bench/benchmarks.h"

#ifdef TESSAMIRE_HAVE_OPENMESH
#include <OpenMesh/Core/Mesh/PolyMesh_ArrayKernelT.hh>
#include <OpenMesh/Tools/Smoother/JacobiLaplaceSmootherT.hh>

#include <map>
#include <memory>

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
using Smoother = OpenMesh::Smoother::JacobiLaplaceSmootherT<PeerMesh>;

struct Peer {
  PeerMesh mesh;
  std::unique_ptr<Smoother> smoother;
};

Peer& PeerOf(const std::string& name) {
  static std::map<std::string, std::unique_ptr<Peer>> peers;
  std::unique_ptr<Peer>& peer = peers[name];
  if (peer) return *peer;
  peer = std::make_unique<Peer>();
  const Mesh& m = RestMesh(name);
  std::vector<PeerMesh::VertexHandle> vertices;
  vertices.reserve(m.points.size());
  for (const Vector3& p : m.points) vertices.push_back(peer->mesh.add_vertex({p.x, p.y, p.z}));
  for (const CPolygon& f : m.polygons) {
    if (f.c == f.d)
      peer->mesh.add_face(vertices[f.a], vertices[f.b], vertices[f.c]);
    else
      peer->mesh.add_face(vertices[f.a], vertices[f.b], vertices[f.c], vertices[f.d]);
  }
  peer->mesh.update_normals();
  peer->smoother = std::make_unique<Smoother>(peer->mesh);
  // Both components, no tangent projection and no error check: the plain umbrella step.
  peer->smoother->initialize(Smoother::Tangential_and_Normal, Smoother::C0);
  peer->smoother->smooth(1);  // warm
  return *peer;
}

}  // namespace

double OpenMeshPassSeconds(const std::string& name, int passes) {
  Peer& peer = PeerOf(name);
  const Clock::time_point t = Clock::now();
  peer.smoother->smooth(static_cast<unsigned int>(passes));
  return Seconds(t) / passes;
}

bool HaveOpenMesh() {
  return true;
}

}  // namespace bench

#else

namespace bench {
double OpenMeshPassSeconds(const std::string&, int) {
  return -1.0;
}
bool HaveOpenMesh() {
  return false;
}
}  // namespace bench

#endif
