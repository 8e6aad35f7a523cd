#include "source/tessamireThreads/frames.h"

#include <array>
#include <cstring>
#include <utility>

#include "host/binding/parallel.h"
#include "source/tessamireThreads/frame_lanes.h"
#include "source/tessamireThreads/lane_kernels.h"
#include "source/tessamireThreads/neighbourhoods.h"
#include "source/tessamireThreads/vector_ops.h"

Vector3 FaceNormal(std::span<const Vector3> positions, const CPolygon& polygon) {
  const Vector3& a = positions[polygon.a];
  const Vector3& b = positions[polygon.b];
  const Vector3& c = positions[polygon.c];
  if (polygon.c != polygon.d) {
    const Vector3& d = positions[polygon.d];
    return vmath::Normalized(vmath::Cross(vmath::Sub(b, d), vmath::Sub(c, a)));
  }
  return vmath::Normalized(vmath::Cross(vmath::Sub(b, a), vmath::Sub(c, a)));
}

void ComputeOrigins(std::span<const Vector3> smoothed, std::span<Frame> frames) {
  ParallelFor(static_cast<Int64>(smoothed.size()),
              [&](Int64 i) { frames[i].origin = smoothed[i]; });
}

namespace {

struct NormalPass {
  std::span<const Vector3> positions;
  std::span<const CPolygon> polygons;
  std::span<Vector3> normals;
};

// Polygons [begin, end) in groups of the widest lanes in use, then of each narrower table, the
// rest one by one; each normal's bits are FaceNormal's, so how the range is cut changes nothing.
void NormalChunk(void* context, Int64 begin, Int64 end) noexcept {
  const NormalPass& pass = *static_cast<const NormalPass*>(context);
  const Vector3* positions = pass.positions.data();
  Int64 j = begin;
  for (const LaneKernels* lanes = &ActiveLanes(); lanes != nullptr; lanes = lanes->narrower) {
    if (lanes->faceNormals == nullptr) continue;
    for (; j + lanes->framePoints <= end; j += lanes->framePoints)
      lanes->faceNormals(positions, pass.polygons.data() + j, pass.normals.data() + j);
  }
  for (; j < end; ++j) pass.normals[j] = FaceNormal(pass.positions, pass.polygons[j]);
}

}  // namespace

void ComputeFaceNormals(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                        std::span<Vector3> normals) {
  const Int64 count = static_cast<Int64>(polygons.size());
  if (count <= 0) return;
  NormalPass pass{smoothed, polygons, normals};
  Framework().parallelFor(count, kFrameChunk, &pass, NormalChunk);
}

namespace {

// The frame axes of point i from its `n` polygons `around` (see ComputeVertexFrame).
inline void VertexFrame(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                        std::span<const Vector3> normals, const Int32* around, Int32 n, Int64 i,
                        Frame& frame) {
  const Int32 point = static_cast<Int32>(i);
  if (around == nullptr) n = 0;
  Vector3 sum{0.0, 0.0, 0.0};
  for (Int32 k = 0; k < n; ++k) sum = vmath::Add(sum, normals[around[k]]);
  Vector3 axis3 = vmath::Normalized(vmath::Scale(sum, n > 0 ? 1.0 / static_cast<Float>(n) : 1.0));
  Vector3 axis1{0.0, 0.0, 0.0};
  Vector3 axis2{0.0, 0.0, 0.0};
  if (n > 0) {
    const CornerPair pair = PolygonCorners(point, polygons[around[0]]);
    if (pair.first >= 0 && pair.second >= 0) {
      const Vector3& here = smoothed[i];
      const Vector3 tangent = vmath::Normalized(vmath::Add(vmath::Sub(here, smoothed[pair.second]),
                                                           vmath::Sub(smoothed[pair.first], here)));
      axis1 = vmath::Normalized(vmath::Cross(axis3, tangent));
      axis2 = vmath::Cross(axis3, axis1);
    }
  }
  axis1 = vmath::Normalized(axis1);
  axis2 = vmath::Normalized(axis2);
  axis3 = vmath::Normalized(axis3);
  frame.axis1 = axis1;
  frame.axis2 = axis2;
  frame.axis3 = axis3;
}

}  // namespace

void ComputeVertexFrame(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                        std::span<const Vector3> normals, const Neighbor& adjacency, Int64 i,
                        std::span<Frame> frames) {
  Int32 n = 0;
  const Int32* around = adjacency.GetPointPolys(static_cast<Int32>(i), n);
  VertexFrame(smoothed, polygons, normals, around, n, i, frames[i]);
}

namespace {

struct VertexFramePass {
  std::span<const Vector3> smoothed;
  std::span<const CPolygon> polygons;
  std::span<const Vector3> normals;
  const Int64* start;   // the adjacency's offsets, pointCount + 1
  const Int32* around;  // the adjacency's polygons around each point
  Frame* frames;        // one per point, or null when the frames go to a sink
};

// 1/n for the polygon counts a point usually has, each divided once when the core is built: the
// same correctly rounded quotients as dividing, without a division per point.
constexpr Int32 kInverseCounts = 16;
constexpr std::array<Float, kInverseCounts> InverseCounts() {
  std::array<Float, kInverseCounts> inverse{};
  inverse[0] = 1.0;  // no polygon: the sum is zero and stays unscaled
  for (Int32 n = 1; n < kInverseCounts; ++n) inverse[n] = 1.0 / static_cast<Float>(n);
  return inverse;
}
constexpr std::array<Float, kInverseCounts> kInverseCount = InverseCounts();

inline Float InverseCount(Int32 n) {
  return n < kInverseCounts ? kInverseCount[n] : 1.0 / static_cast<Float>(n);
}

// What point i's axes need, in the one-point rule's order: the normals summed in list order.
inline FrameInput Gather(const VertexFramePass& pass, Int64 i) {
  // A point lies on at most polygonCount polygons, so the count fits in 32 bits.
  const Int32 n = static_cast<Int32>(pass.start[i + 1] - pass.start[i]);
  const Int32* list = pass.around + pass.start[i];
  FrameInput in;
  Vector3 sum{0.0, 0.0, 0.0};
  for (Int32 k = 0; k < n; ++k) sum = vmath::Add(sum, pass.normals[list[k]]);
  in.normalSum = sum;
  in.inverseCount = InverseCount(n);
  in.here = pass.smoothed[i];
  in.first = in.here;
  in.second = in.here;
  if (n > 0) {
    const CornerPair pair = PolygonCorners(static_cast<Int32>(i), pass.polygons[list[0]]);
    if (pair.first >= 0 && pair.second >= 0) {
      in.first = pass.smoothed[pair.first];
      in.second = pass.smoothed[pair.second];
      in.hasPair = true;
    }
  }
  return in;
}

inline void Store(const FrameAxes& axes, Frame& frame) {
  frame.axis1 = axes.axis1;
  frame.axis2 = axes.axis2;
  frame.axis3 = axes.axis3;
}

// The inputs of points i .. i + N - 1, built in place: a default-constructed array would be
// cleared first, a visible cost here.
template <std::size_t... K>
inline std::array<FrameInput, sizeof...(K)> GatherGroup(const VertexFramePass& pass, Int64 i,
                                                        std::index_sequence<K...>) {
  return {Gather(pass, i + static_cast<Int64>(K))...};
}

// Groups of N points from i while they fit before `end`; answers where they stopped.
template <std::size_t N, typename Out>
inline Int64 Groups(const VertexFramePass& pass, const LaneKernels& lanes, Int64 i, Int64 end,
                    Out& out) {
  for (; i + static_cast<Int64>(N) <= end; i += static_cast<Int64>(N))
    out.Group(lanes, GatherGroup(pass, i, std::make_index_sequence<N>()).data(), i);
  return i;
}

// Points [begin, end) in groups of the widest lanes in use, then of each narrower table, then two
// at a time and one: the points of a group share the latency of their square roots and divisions;
// each point's bits are those of the one-point rule, so how the range is cut changes nothing.
// `out` takes the groups (with the table that runs them) and the single points' axes.
template <typename Out>
void EachAxes(const VertexFramePass& pass, Int64 begin, Int64 end, Out& out) {
  Int64 i = begin;
  for (const LaneKernels* lanes = &ActiveLanes(); lanes != nullptr; lanes = lanes->narrower) {
    if (lanes->framePoints == 8)
      i = Groups<8>(pass, *lanes, i, end, out);
    else if (lanes->framePoints == 4)
      i = Groups<4>(pass, *lanes, i, end, out);
  }
  for (; i + 1 < end; i += 2) {
    FrameAxes a;
    FrameAxes b;
    FrameAxesOfPair(Gather(pass, i), Gather(pass, i + 1), a, b);
    out.One(a, i);
    out.One(b, i + 1);
  }
  if (i < end) out.One(FrameAxesOf(Gather(pass, i)), i);
}

// The widest group a table takes.
inline constexpr Int32 kWidestGroup = 8;

// The axes into frames[0, end - begin).
struct StoredAxes {
  Frame* frames;
  Int64 begin;
  void Group(const LaneKernels& lanes, const FrameInput* in, Int64 i) {
    FrameAxes axes[kWidestGroup];
    lanes.frameAxes(in, axes);
    for (Int64 k = 0; k < lanes.framePoints; ++k) Store(axes[k], frames[i - begin + k]);
  }
  void One(const FrameAxes& axes, Int64 i) { Store(axes, frames[i - begin]); }
};

void FillAxes(const VertexFramePass& pass, Int64 begin, Int64 end, Frame* out) {
  StoredAxes stored{out, begin};
  EachAxes(pass, begin, end, stored);
}

// Each point's difference decoded in place in its frame (see FrameSink), counting the results not
// finite.
struct DecodedAxes {
  const VertexFramePass& pass;
  Vector3* points;
  const Vector3* differences;
  Int64 notFinite = 0;
  void Group(const LaneKernels& lanes, const FrameInput* in, Int64 i) {
    if (lanes.decodedAxes != nullptr) {
      notFinite += lanes.decodedAxes(in, points + i, differences + i);
      return;
    }
    FrameAxes axes[kWidestGroup];
    lanes.frameAxes(in, axes);
    for (Int64 k = 0; k < lanes.framePoints; ++k) One(axes[k], i + k);
  }
  void One(const FrameAxes& axes, Int64 i) {
    const Frame frame{pass.smoothed[i], axes.axis1, axes.axis2, axes.axis3};
    if (DecodeInPlace(frame, differences[i], points[i])) ++notFinite;
  }
};

void VertexFrameChunk(void* context, Int64 begin, Int64 end) noexcept {
  const VertexFramePass& pass = *static_cast<const VertexFramePass*>(context);
  FillAxes(pass, begin, end, pass.frames + begin);
}

struct FrameBlockPass {
  VertexFramePass axes;
  const Neighbor* adjacency;  // asked point by point when the host has no whole lists
  FrameSink sink;
};

void FrameBlockChunk(void* context, Int64 begin, Int64 end) noexcept {
  const FrameBlockPass& pass = *static_cast<const FrameBlockPass*>(context);
  if (pass.sink.decodePoints != nullptr && pass.axes.start != nullptr) {
    DecodedAxes decoded{pass.axes, pass.sink.decodePoints, pass.sink.decodeDifferences};
    EachAxes(pass.axes, begin, end, decoded);
    if (decoded.notFinite > 0 && pass.sink.decodeNotFinite != nullptr)
      pass.sink.decodeNotFinite->fetch_add(decoded.notFinite, std::memory_order_relaxed);
    return;
  }
  Frame block[kFrameBlock];
  for (Int64 from = begin; from < end; from += kFrameBlock) {
    const Int64 to = from + kFrameBlock < end ? from + kFrameBlock : end;
    for (Int64 i = from; i < to; ++i) block[i - from].origin = pass.axes.smoothed[i];
    if (pass.axes.start != nullptr) {
      FillAxes(pass.axes, from, to, block);
    } else {
      for (Int64 i = from; i < to; ++i) {
        Int32 n = 0;
        const Int32* around = pass.adjacency->GetPointPolys(static_cast<Int32>(i), n);
        VertexFrame(pass.axes.smoothed, pass.axes.polygons, pass.axes.normals, around, n, i,
                    block[i - from]);
      }
    }
    pass.sink.consume(pass.sink.context, from, std::span<const Frame>(block, to - from));
  }
}

}  // namespace

void ComputeVertexFrames(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                         std::span<const Vector3> normals, const Neighbor& adjacency,
                         std::span<Frame> frames) {
  const Int64 pointCount = static_cast<Int64>(smoothed.size());
  if (pointCount <= 0) return;
  // The host's whole lists, taken once, keep the loop from calling the host per point; a host
  // without them is asked point by point.
  VertexFramePass pass{smoothed, polygons, normals, nullptr, nullptr, frames.data()};
  if (adjacency.GetPointPolyArrays(pass.start, pass.around)) {
    Framework().parallelFor(pointCount, kParallelGranularity, &pass, VertexFrameChunk);
    return;
  }
  ParallelFor(pointCount, [&](Int64 i) {
    ComputeVertexFrame(smoothed, polygons, normals, adjacency, i, frames);
  });
}

void BuildFrameBlocks(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                      std::span<const Vector3> normals, const Neighbor& adjacency, FrameSink sink) {
  const Int64 pointCount = static_cast<Int64>(smoothed.size());
  if (pointCount <= 0) return;
  FrameBlockPass pass{{smoothed, polygons, normals, nullptr, nullptr, nullptr}, &adjacency, sink};
  adjacency.GetPointPolyArrays(pass.axes.start, pass.axes.around);
  Framework().parallelFor(pointCount, kFrameChunk, &pass, FrameBlockChunk);
}

FrameSink FrameBufferSink(std::span<Frame> frames) {
  return {frames.data(), [](void* context, Int64 begin, std::span<const Frame> block) {
            std::memcpy(static_cast<Frame*>(context) + begin, block.data(), block.size_bytes());
          }};
}
