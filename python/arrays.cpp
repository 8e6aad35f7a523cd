#include "python/arrays.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "headless/geometry/mesh.h"

namespace tessamire_python {

namespace {

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < a.ndim(); ++d)
    text += (d == 0 ? "" : ", ") + std::to_string(a.shape(d));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

// `value` as a numpy array of real numbers, as numpy reads it; TypeError for other values.
py::array RealArray(py::handle value, const std::string& what) {
  py::array a = py::module_::import("numpy").attr("asarray")(value);
  const char kind = a.dtype().kind();
  const bool real = kind == 'i' || kind == 'u' || (kind == 'f' && a.dtype().itemsize() <= 8);
  if (!real)
    throw py::type_error(what + ": an array of real numbers (float64 or narrower, or integers), " +
                         "not of " + py::str(a.dtype()).cast<std::string>());
  return a;
}

// A C-ordered, aligned copy of `a` in `dtype`, or `a` itself when it is one.
py::array Required(const py::array& a, const char* dtype) {
  return py::module_::import("numpy").attr("require")(a, dtype, "CA");
}

}  // namespace

py::array_t<double> PointArray(py::handle value, const std::string& what, int ndim) {
  const py::array a = RealArray(value, what);
  const bool shaped = (a.ndim() == 2 || a.ndim() == 3) && (ndim == 0 || a.ndim() == ndim) &&
                      a.shape(a.ndim() - 1) == 3;
  if (!shaped)
    throw py::value_error(what + ": an array of shape " +
                          (ndim == 2   ? std::string("(N, 3)")
                           : ndim == 3 ? std::string("(F, N, 3)")
                                       : std::string("(N, 3) or (F, N, 3)")) +
                          ", not " + ShapeText(a));
  return Required(a, "float64").cast<py::array_t<double>>();
}

size_t PointsPerFrame(const py::array_t<double>& points) {
  return static_cast<size_t>(points.shape(points.ndim() - 2));
}

std::span<const Vector3> FramePoints(const py::array_t<double>& points, size_t f) {
  const size_t count = PointsPerFrame(points);
  return {reinterpret_cast<const Vector3*>(points.data()) + f * count, count};
}

py::array_t<double> NewPointArray(Int64 frames, size_t count) {
  const auto n = static_cast<py::ssize_t>(count);
  return frames < 0 ? py::array_t<double>({n, py::ssize_t{3}})
                    : py::array_t<double>({static_cast<py::ssize_t>(frames), n, py::ssize_t{3}});
}

Vector3* WritablePoints(py::array_t<double>& points) {
  return reinterpret_cast<Vector3*>(points.mutable_data());
}

py::array_t<double> PointView(const std::vector<Vector3>& points, py::handle owner) {
  py::array_t<double> view({static_cast<py::ssize_t>(points.size()), py::ssize_t{3}},
                           reinterpret_cast<const double*>(points.data()), owner);
  view.attr("setflags")(py::arg("write") = false);
  return view;
}

std::vector<Float32> WeightArray(py::handle value, const std::string& what) {
  const py::array a = RealArray(value, what);
  if (a.ndim() != 1) throw py::value_error(what + ": an array of shape (N,), not " + ShapeText(a));
  const auto weights = Required(a, "float64").cast<py::array_t<double>>();
  std::vector<Float32> out(static_cast<size_t>(weights.size()));
  for (size_t i = 0; i < out.size(); ++i) {
    const double w = weights.data()[i];
    if (std::isfinite(w) && std::fabs(w) > std::numeric_limits<Float32>::max())
      throw py::value_error(what + ": weight " + std::to_string(i) + " (" +
                            py::repr(py::float_(w)).cast<std::string>() +
                            ") does not fit in float32");
    out[i] = static_cast<Float32>(w);
  }
  return out;
}

std::vector<CPolygon> FacePolygons(py::handle faces, Int64 pointCount) {
  std::vector<Int64> faceFirst{0};
  std::vector<Int64> corners;
  if (py::isinstance<py::array>(faces)) {
    const auto a = py::reinterpret_borrow<py::array>(faces);
    const char kind = a.dtype().kind();
    if (kind != 'i' && kind != 'u')
      throw py::type_error("faces: an array of integers, not of " +
                           py::str(a.dtype()).cast<std::string>());
    if (a.ndim() != 2 || (a.shape(1) != 3 && a.shape(1) != 4))
      throw py::value_error("faces: an array of shape (M, 3) or (M, 4), not " + ShapeText(a));
    const auto indices = Required(a, "int64").cast<py::array_t<Int64>>();
    const auto width = static_cast<size_t>(a.shape(1));
    for (size_t f = 0; f < static_cast<size_t>(a.shape(0)); ++f) {
      const Int64* row = indices.data() + f * width;
      // The host's layout: a triangle repeats its third index.
      const size_t n = width == 4 && row[3] == row[2] ? 3 : width;
      corners.insert(corners.end(), row, row + n);
      faceFirst.push_back(static_cast<Int64>(corners.size()));
    }
  } else {
    for (const py::handle face : py::iter(faces)) {
      for (const py::handle corner : py::iter(face)) {
        const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(corner.ptr()));
        if (!index) throw py::error_already_set();
        corners.push_back(index.cast<Int64>());
      }
      faceFirst.push_back(static_cast<Int64>(corners.size()));
    }
  }
  return headless::FacePolygons(faceFirst, corners, pointCount);
}

namespace {

template <typename Array>
Array ReadOnly(Array a) {
  a.attr("setflags")(py::arg("write") = false);
  return a;
}

}  // namespace

py::array_t<Int32> PolygonArray(std::span<const CPolygon> polygons) {
  static_assert(sizeof(CPolygon) == 4 * sizeof(Int32));
  py::array_t<Int32> out({static_cast<py::ssize_t>(polygons.size()), py::ssize_t{4}});
  if (!polygons.empty()) std::memcpy(out.mutable_data(), polygons.data(), polygons.size_bytes());
  return ReadOnly(out);
}

py::tuple FaceArrays(std::span<const Int64> faceFirst, std::span<const Int32> corners) {
  const size_t faces = faceFirst.empty() ? 0 : faceFirst.size() - 1;
  py::array_t<Int32> counts(static_cast<py::ssize_t>(faces));
  for (size_t f = 0; f < faces; ++f)
    counts.mutable_data()[f] = static_cast<Int32>(faceFirst[f + 1] - faceFirst[f]);
  py::array_t<Int32> indices(static_cast<py::ssize_t>(corners.size()));
  if (!corners.empty()) std::memcpy(indices.mutable_data(), corners.data(), corners.size_bytes());
  return py::make_tuple(ReadOnly(counts), ReadOnly(indices));
}

}  // namespace tessamire_python
