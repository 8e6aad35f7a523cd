// What crosses between numpy and the headless host: point arrays, weights and faces in, point
// arrays and faces out, each converted at most once on the way.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <span>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace tessamire_python {

namespace py = pybind11;

// The points of an array travel as Vector3 records over the array's float64 memory.
static_assert(sizeof(Vector3) == 3 * sizeof(double) && alignof(Vector3) == alignof(double));

// `value` as a C-ordered, aligned float64 array of `ndim` dimensions (2: (N, 3), 3: (F, N, 3);
// either when `ndim` is 0), the array itself when it is one already, else converted once. Raises
// TypeError naming `what` for values that are not real numbers or would lose digits as float64
// (complex, object, text, longer floats), ValueError for another shape.
py::array_t<double> PointArray(py::handle value, const std::string& what, int ndim = 2);

// Number of points per frame of a PointArray, and the points of frame `f`.
size_t PointsPerFrame(const py::array_t<double>& points);
std::span<const Vector3> FramePoints(const py::array_t<double>& points, size_t f);

// A new float64 array of `frames` frames of `count` points ((count, 3) when `frames` is
// negative), and where its points go.
py::array_t<double> NewPointArray(Int64 frames, size_t count);
Vector3* WritablePoints(py::array_t<double>& points);

// A read-only (N, 3) view of `points`, which `owner` keeps alive.
py::array_t<double> PointView(const std::vector<Vector3>& points, py::handle owner);

// One weight per point from a 1-D array of real numbers, narrowed to float32. Raises TypeError or
// ValueError naming `what` as PointArray does, and ValueError for a value beyond float32.
std::vector<Float32> WeightArray(py::handle value, const std::string& what);

// The host polygons of `faces`: an integer array of shape (M, 4) in the host's layout (a row
// whose last index repeats its third is a triangle) or (M, 3), or a sequence of index sequences
// (a face of 3 or 4 corners one polygon, a larger one a fan of triangles, as the OBJ reader
// makes them). Raises ValueError naming the face for fewer than 3 corners, an index outside
// [0, pointCount) or a point named twice, TypeError for indices that are not integers.
std::vector<CPolygon> FacePolygons(py::handle faces, Int64 pointCount);

// Host polygons as a read-only (M, 4) int32 array, in their own layout.
py::array_t<Int32> PolygonArray(std::span<const CPolygon> polygons);
// A file's own faces as two read-only int32 arrays: the corner count of each face, and the point
// index of every corner, face after face (faceFirst[f] .. faceFirst[f + 1] - 1 of `corners`).
py::tuple FaceArrays(std::span<const Int64> faceFirst, std::span<const Int32> corners);

}  // namespace tessamire_python
