// tessamire.Correction: a rest mesh bound by the plug-in's bind tag in a document of its own,
// correcting frames of points given as numpy arrays.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "headless/batch/correction.h"
#include "headless/entries/framework.h"
#include "headless/job/tune_character.h"
#include "headless/scene/description.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"
#include "python/arrays.h"
#include "python/calls.h"
#include "python/module.h"
#include "python/plugins.h"

namespace tessamire_python {

namespace {

// As the command line's --threads: beyond it, a pool would hold more threads than a machine runs.
constexpr Int32 kMostThreads = 1024;

// A setting checked against the bind tag's registered description: the same range the command
// line takes, in the same words ("iterations wants a whole number from 0 to 1000, not 5000").
template <typename T>
std::optional<T> Setting(const std::optional<T>& value, const char* name, Int32 id, bool whole) {
  if (!value) return value;
  headless::DescriptionData description;
  if (!headless::FindDescription(ID_TTESSAMIRE, description)) return value;
  const headless::ParameterDescription* p = description.Find(id);
  if (p == nullptr) return value;
  const headless::AcceptedRange range = headless::RangeOf(*p);
  const double x = static_cast<double>(*value);
  if (!std::isfinite(x) || (range.min && x < *range.min) || (range.max && x > *range.max))
    throw py::value_error(std::string(name) + " wants " + headless::AcceptedText(whole, range) +
                          ", not " + py::repr(py::cast(*value)).template cast<std::string>());
  return value;
}

// An optional whole number; Python's bool and int pass, a float with a fraction does not.
std::optional<Int32> WholeSetting(const py::object& value, const char* name, Int32 id) {
  if (value.is_none()) return std::nullopt;
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + " wants a whole number, not " +
                         py::repr(value).cast<std::string>());
  }
  const long long n = index.cast<long long>();
  if (n < INT32_MIN || n > INT32_MAX)
    throw py::value_error(std::string(name) +
                          " is beyond a 32-bit whole number: " + std::to_string(n));
  return Setting<Int32>(static_cast<Int32>(n), name, id, true);
}

// An optional real number.
std::optional<double> RealSetting(const py::object& value, const char* name) {
  if (value.is_none()) return std::nullopt;
  return Number(value, name);
}

// The workers of the loops, as the command line's --threads takes them; None: one per hardware
// thread (0 inside).
Int32 ThreadsSetting(const py::object& value) {
  if (value.is_none()) return 0;
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) {
    PyErr_Clear();
    throw py::type_error("threads wants a whole number, not " +
                         py::repr(value).cast<std::string>());
  }
  const long long n = index.cast<long long>();
  if (n < 1 || n > kMostThreads)
    throw py::value_error("threads wants a whole number from 1 to " + std::to_string(kMostThreads) +
                          ", not " + std::to_string(n));
  return static_cast<Int32>(n);
}

// settings="auto": the settings not given take tune's recommendation for the rest mesh and its
// skinned `frames` (F, N, 3), within the pose guard's default threshold.
void AutoSettings(const py::object& mode, const py::object& frames,
                  const std::span<const Vector3> rest, const std::vector<CPolygon>& polygons,
                  headless::CorrectionSettings& settings) {
  if (mode.is_none()) return;
  if (!py::isinstance<py::str>(mode) || mode.cast<std::string>() != "auto")
    throw py::value_error("settings wants 'auto' or None, not " +
                          py::repr(mode).cast<std::string>());
  if (frames.is_none())
    throw py::value_error("settings='auto' wants the skinned frames to tune on: frames=(F, N, 3)");
  const py::array_t<double> skinned = PointArray(frames, "frames", 3);
  if (PointsPerFrame(skinned) != rest.size())
    throw py::value_error("frames hold " + std::to_string(PointsPerFrame(skinned)) +
                          " points per frame, but the rest mesh has " +
                          std::to_string(rest.size()));
  std::vector<std::vector<Vector3>> posed;
  std::vector<std::string> names;
  for (size_t f = 0; f < static_cast<size_t>(skinned.shape(0)); ++f) {
    const std::span<const Vector3> points = FramePoints(skinned, f);
    posed.emplace_back(points.begin(), points.end());
    names.push_back("frame " + std::to_string(f));
  }
  if (posed.empty()) throw py::value_error("settings='auto' wants at least one frame");
  const headless::Mesh mesh{std::vector<Vector3>(rest.begin(), rest.end()), polygons};
  WithoutGil([&] {
    const auto inUse = PluginsInUse();
    settings = headless::AutoSettings(headless::TuneMesh("the rest mesh", mesh, {}, posed, names,
                                                         headless::kDefaultPoseThreshold),
                                      settings);
  });
}

py::object SettingOrNone(const std::optional<Int32>& value) {
  return value ? py::object(py::int_(*value)) : py::object(py::none());
}

py::dict SettingsDict(const headless::CorrectionSettings& settings) {
  py::dict d;
  d["iterations"] = SettingOrNone(settings.iterations);
  d["weighting"] = SettingOrNone(settings.weighting);
  d["pin_border"] = SettingOrNone(settings.pinBorder);
  d["strength"] =
      settings.strength ? py::object(py::float_(*settings.strength)) : py::object(py::none());
  return d;
}

// The pickled form's version: a state of another version is refused rather than misread.
constexpr int kStateVersion = 1;

py::object StateItem(const py::dict& state, const char* key) {
  if (!state.contains(key))
    throw py::value_error(std::string("a pickled Correction lacks its ") + key);
  return state[key];
}

}  // namespace

Int32 ThreadsArgument(const py::object& threads) {
  return ThreadsSetting(threads);
}

headless::CorrectionSettings SettingsArgument(const py::object& iterations,
                                              const py::object& weighting,
                                              const py::object& pinBorder,
                                              const py::object& strength) {
  headless::CorrectionSettings settings;
  settings.iterations = WholeSetting(iterations, "iterations", TTESSAMIRE_ITERATIONS);
  settings.weighting = WholeSetting(weighting, "weighting", TTESSAMIRE_WEIGHTING);
  settings.pinBorder = WholeSetting(pinBorder, "pin_border", TTESSAMIRE_PINBORDER);
  settings.strength =
      Setting(RealSetting(strength, "strength"), "strength", TTESSAMIRE_STRENGTH, false);
  return settings;
}

PyCorrection::PyCorrection(py::handle restPoints, py::handle faces, py::object iterations,
                           py::object weighting, py::object pinBorder, py::object strength,
                           py::object vertexMap, py::object restriction, py::object threads,
                           py::object autoSettings, py::object frames) {
  // The settings are checked against the description the plug-in registers.
  EnsurePlugins();
  const py::array_t<double> rest = PointArray(restPoints, "rest points", 2);
  const size_t count = PointsPerFrame(rest);
  std::vector<CPolygon> polygons = FacePolygons(faces, static_cast<Int64>(count));
  headless::CorrectionSettings settings =
      SettingsArgument(iterations, weighting, pinBorder, strength);
  threads_ = ThreadsSetting(threads);
  std::vector<Float32> map, restricted;
  if (!vertexMap.is_none()) map = WeightArray(vertexMap, "vertex map");
  if (!restriction.is_none()) restricted = WeightArray(restriction, "restriction");
  const std::span<const Vector3> points = FramePoints(rest, 0);
  AutoSettings(autoSettings, frames, points, polygons, settings);
  settings_ = settings;
  rest_ = NewPointArray(-1, points.size());
  std::copy(points.begin(), points.end(), WritablePoints(rest_));
  WithoutGil([&] {
    const auto inUse = PluginsInUse();
    const headless::ThreadWorkers workers(threads_);
    correction_ = std::make_unique<headless::Correction>(
        "", std::vector<Vector3>(points.begin(), points.end()), std::move(polygons), settings,
        std::move(map), std::move(restricted), 0);
  });
}

PyCorrection::~PyCorrection() {
  // The document's nodes call into the plug-in as they go.
  const auto inUse = PluginsInUse();
  correction_.reset();
}

size_t PyCorrection::PointCount() const {
  return correction_->PointCount();
}

py::object PyCorrection::Faces() {
  if (faces_.is_none()) faces_ = PolygonArray(correction_->Polygons());
  return faces_;
}

py::array_t<double> PyCorrection::Run(py::handle points, bool smoothed,
                                      const py::object& progress) {
  CheckProgress(progress);
  const py::array_t<double> in = PointArray(points, "points", 0);
  const bool frames = in.ndim() == 3;
  const Int64 frameCount = frames ? static_cast<Int64>(in.shape(0)) : 1;
  py::array_t<double> out = NewPointArray(frames ? frameCount : -1, PointsPerFrame(in));
  Vector3* to = WritablePoints(out);
  const size_t count = PointsPerFrame(in);
  Int64 kept = 0;
  std::vector<std::string> warnings;
  FrameLoop(frameCount, progress, [&](Int64 f) {
    // One document, one evaluation at a time: a second thread waits for the first. Taken per
    // frame, so that between frames (progress, Ctrl-C) nothing is held while the GIL is.
    const std::lock_guard<std::mutex> serial(mutex_);
    const auto inUse = PluginsInUse();
    const headless::ThreadWorkers workers(threads_);
    const std::string source = frames ? "frame " + std::to_string(f) : std::string("points");
    const headless::DeformReport report =
        correction_->Correct(FramePoints(in, static_cast<size_t>(f)), source, smoothed);
    kept += report.PointsKept();
    for (const std::string& warning : report.warnings) warnings.push_back(source + ": " + warning);
    const std::vector<Vector3>& result = correction_->Result();
    std::copy(result.begin(), result.end(), to + static_cast<size_t>(f) * count);
  });
  for (const std::string& warning : warnings) Log("warning", warning);
  pointsKept_ = kept;
  return out;
}

py::dict PyCorrection::State() const {
  std::vector<std::uint8_t> record;
  {
    const py::gil_scoped_release released;
    const std::lock_guard<std::mutex> serial(mutex_);
    const auto inUse = PluginsInUse();
    record = correction_->Record();
  }
  py::dict state;
  state["version"] = kStateVersion;
  state["rest"] = rest_;
  state["faces"] = PolygonArray(correction_->Polygons());
  state["settings"] = SettingsDict(settings_);
  state["threads"] = threads_;
  state["record"] = py::bytes(reinterpret_cast<const char*>(record.data()), record.size());
  return state;
}

std::unique_ptr<PyCorrection> PyCorrection::FromState(const py::dict& state) {
  const py::object version = StateItem(state, "version");
  if (!py::isinstance<py::int_>(version) || version.cast<int>() != kStateVersion)
    throw py::value_error("a pickled Correction of another version (" +
                          py::repr(version).cast<std::string>() + "; this module reads " +
                          std::to_string(kStateVersion) + ")");
  EnsurePlugins();
  std::unique_ptr<PyCorrection> c(new PyCorrection());
  const py::array_t<double> rest = PointArray(StateItem(state, "rest"), "rest points", 2);
  const py::object record = StateItem(state, "record");
  if (!py::isinstance<py::bytes>(record))
    throw py::type_error("a pickled Correction's record is bytes, not " +
                         py::repr(py::type::of(record)).cast<std::string>());
  const std::string bytes = record.cast<std::string>();
  const py::dict settings = StateItem(state, "settings");
  c->settings_.iterations =
      WholeSetting(StateItem(settings, "iterations"), "iterations", TTESSAMIRE_ITERATIONS);
  c->settings_.weighting =
      WholeSetting(StateItem(settings, "weighting"), "weighting", TTESSAMIRE_WEIGHTING);
  c->settings_.pinBorder =
      WholeSetting(StateItem(settings, "pin_border"), "pin_border", TTESSAMIRE_PINBORDER);
  c->settings_.strength = RealSetting(StateItem(settings, "strength"), "strength");
  const py::object threads = StateItem(state, "threads");
  const bool hardware = py::isinstance<py::int_>(threads) && threads.cast<long long>() == 0;
  c->threads_ = hardware ? 0 : ThreadsSetting(threads);
  std::string fault;
  WithoutGil([&] {
    const auto inUse = PluginsInUse();
    try {
      c->correction_ = headless::Correction::FromRecord(
          std::vector<std::uint8_t>(bytes.begin(), bytes.end()), "", 0);
    } catch (const std::runtime_error& e) {
      fault = e.what();
    }
  });
  if (!fault.empty()) throw py::value_error("a pickled Correction: " + fault);
  if (c->correction_->PointCount() != PointsPerFrame(rest))
    throw py::value_error("a pickled Correction: its record holds " +
                          std::to_string(c->correction_->PointCount()) +
                          " points, but its rest mesh " + std::to_string(PointsPerFrame(rest)));
  const std::vector<CPolygon> faces =
      FacePolygons(StateItem(state, "faces"), static_cast<Int64>(PointsPerFrame(rest)));
  const std::vector<CPolygon>& bound = c->correction_->Polygons();
  const auto same = [](const CPolygon& x, const CPolygon& y) {
    return x.a == y.a && x.b == y.b && x.c == y.c && x.d == y.d;
  };
  if (!std::equal(faces.begin(), faces.end(), bound.begin(), bound.end(), same))
    throw py::value_error("a pickled Correction: its faces are not those of its record");
  c->rest_ = NewPointArray(-1, PointsPerFrame(rest));
  const std::span<const Vector3> points = FramePoints(rest, 0);
  std::copy(points.begin(), points.end(), WritablePoints(c->rest_));
  return c;
}

py::array_t<double> PyCorrection::RestPoints() const {
  py::array_t<double> copy = NewPointArray(-1, PointCount());
  std::copy_n(rest_.data(), rest_.size(), copy.mutable_data());
  return copy;
}

double PyCorrection::NativeSeconds(py::handle points, Int32 repeats) {
  const py::array_t<double> in = PointArray(points, "points", 2);
  double best = std::numeric_limits<double>::infinity();
  WithoutGil([&] {
    const std::lock_guard<std::mutex> serial(mutex_);
    const auto inUse = PluginsInUse();
    const headless::ThreadWorkers workers(threads_);
    for (Int32 r = 0; r < repeats; ++r) {
      const auto start = std::chrono::steady_clock::now();
      correction_->Correct(FramePoints(in, 0), "points");
      best = std::min(
          best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
  });
  return best;
}

void BindCorrection(py::module_& m) {
  py::class_<PyCorrection>(m, "Correction", R"(A rest mesh bound for correction by the plug-in.

The rest points (N, 3) and faces are bound once by the plug-in's bind tag with the settings
given (None keeps the plug-in's default, the same as the command line's); apply() then corrects
deformed points of the same mesh. Each Correction holds a document of its own, so corrections
on different threads run at the same time; calls on one Correction from several threads are
serialised.)")
      .def(py::init<py::handle, py::handle, py::object, py::object, py::object, py::object,
                    py::object, py::object, py::object, py::object, py::object>(),
           py::arg("rest_points"), py::arg("faces"), py::arg("iterations"), py::arg("weighting"),
           py::arg("pin_border"), py::arg("strength"), py::arg("vertex_map"),
           py::arg("restriction"), py::arg("threads"), py::arg("settings"), py::arg("frames"),
           R"(Bind `rest_points` with `faces`.

faces: an integer array of shape (M, 4) in the host's layout (a triangle repeats its third
index), or (M, 3), or a sequence of index sequences (3 or more corners; larger faces are
fanned into triangles as the OBJ reader does).
iterations, weighting, pin_border, strength: the bind tag's settings, checked against the
plug-in's description. vertex_map: smoothing weights from 0 to 1, one per point.
restriction: per point, 0 keeps the input and 1 takes the correction. threads: workers of
this correction's evaluations, 1 to 1024 (None: one per hardware thread).
settings: 'auto' gives the settings not given what `tessamire tune` recommends for this mesh
on its skinned `frames` (F, N, 3), a character mesh's own frames for instance.

Raises ValueError for bad input, RuntimeError when the plug-in cannot be found or refuses
to bind.)")
      .def("apply", &PyCorrection::Apply, py::arg("points"), py::arg("progress"),
           R"(The corrected points of `points`: (N, 3) gives (N, 3), (F, N, 3) gives (F, N, 3), the
frames evaluated in order. A new float64 array; the input is converted once when it is not
C-ordered float64 already.

progress: None or a callable (frames done, frames in all), called on this thread between
frames; an exception it raises stops the call. Ctrl-C stops it between frames with
KeyboardInterrupt.)")
      .def("smoothed", &PyCorrection::Smoothed, py::arg("points"), py::arg("progress"),
           "The smoothed mesh the correction of `points` is built on, shaped as apply()'s result.")
      .def(py::pickle([](const PyCorrection& c) { return c.State(); },
                      [](const py::dict& state) { return PyCorrection::FromState(state); }),
           "A Correction pickles with its bind: the copy corrects to the same bits.")
      .def_property_readonly("rest_points", &PyCorrection::RestPoints,
                             "A copy of the rest points, (N, 3) float64.")
      .def_property_readonly(
          "threads", [](const PyCorrection& c) { return c.Threads(); },
          "The workers of this correction's evaluations (0: one per hardware thread).")
      .def_property_readonly("point_count", &PyCorrection::PointCount,
                             "The number of points of the rest mesh.")
      .def_property_readonly("faces", &PyCorrection::Faces,
                             "The bound polygons, (M, 4) int32 in the host's layout (a triangle "
                             "repeats its third index).")
      .def_property_readonly(
          "settings", [](const PyCorrection& c) { return SettingsDict(c.settings_); },
          "The settings set on the bind tag, given or chosen by settings='auto' (None: the "
          "plug-in's default).")
      .def_property_readonly(
          "points_kept", [](const PyCorrection& c) { return c.pointsKept_; },
          "How many points of the last call kept their input position because their "
          "correction was not finite.");
}

}  // namespace tessamire_python
