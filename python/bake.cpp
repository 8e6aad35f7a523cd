// tessamire.bake: `tessamire bake` from Python (headless/job/bake_character.h), the solved weights
// handed back as numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "headless/io/character_reader.h"
#include "headless/job/bake_character.h"
#include "headless/platform/paths.h"
#include "python/calls.h"
#include "python/module.h"
#include "python/plugins.h"

namespace tessamire_python {
namespace {

// The clip argument as the character import takes it: a name or index, or a list of them.
void SetClips(py::handle clip, headless::CorrectRequest& request) {
  if (clip.is_none()) return;
  const auto one = [](py::handle value) {
    return py::isinstance<py::int_>(value) ? std::to_string(value.cast<long long>())
                                           : value.cast<std::string>();
  };
  if (py::isinstance<py::str>(clip) || py::isinstance<py::int_>(clip)) {
    request.clip = one(clip);
    return;
  }
  bool first = true;
  for (py::handle value : clip) {
    if (first)
      request.clip = one(value);
    else
      request.clips.push_back(one(value));
    first = false;
  }
}

py::dict Bake(py::handle path, py::handle out, py::handle clip, bool allClips,
              std::optional<double> rangeOfMotion, int influences, int holdout, bool report,
              std::optional<double> smoothness) {
  headless::BakeRequest request;
  request.correct.eval.source = PathArgument(path, "path");
  request.correct.eval.command = "tessamire.bake";
  request.out = PathArgument(out, "out");
  CheckReadable(request.correct.eval.source);
  // The reader the package carries beside the compiled module, as import_character starts it.
  const py::object module = py::module_::import("tessamire._tessamire");
  if (py::hasattr(module, "__file__"))
    request.correct.readerProgram = headless::platform::Utf8FromPath(
        headless::platform::PathFromUtf8(py::str(module.attr("__file__")).cast<std::string>())
            .parent_path() /
        headless::platform::PathFromUtf8(headless::kReaderProgramName));
  SetClips(clip, request.correct);
  request.correct.allClips = allClips;
  request.rangeOfMotion = rangeOfMotion;
  request.solve.influences = influences;
  request.solve.smoothness = smoothness.value_or(0.0);
  request.solve.sweeps = request.solve.smoothness > 0.0 ? 4 : 0;
  request.holdout = holdout;
  request.report = report;
  EnsurePlugins();
  const headless::BakeResult result = FileWork([&] {
    return WithoutGil([&] {
      const auto inUse = PluginsInUse();
      return headless::BakeCharacter(request, {});
    });
  });
  for (const std::string& note : result.notes) Log("info", "tessamire.bake: " + note);
  py::dict meshes;
  for (const headless::BakedMesh& mesh : result.meshes) {
    const headless::PointWeights& w = mesh.weights.weights;
    const auto points = static_cast<py::ssize_t>(mesh.weights.keptSource.size());
    py::array_t<std::int32_t> joints({points, static_cast<py::ssize_t>(w.slots)});
    py::array_t<float> weights({points, static_cast<py::ssize_t>(w.slots)});
    py::array_t<bool> kept(points);
    std::copy(w.joint.begin(), w.joint.end(), joints.mutable_data());
    std::copy(w.weight.begin(), w.weight.end(), weights.mutable_data());
    std::copy(mesh.weights.keptSource.begin(), mesh.weights.keptSource.end(), kept.mutable_data());
    py::dict entry;
    entry["joints"] = joints;
    entry["weights"] = weights;
    entry["kept_source"] = kept;
    meshes[py::str(mesh.name)] = entry;
  }
  py::dict answer;
  answer["meshes"] = meshes;
  answer["report"] = report ? headless::BakeReportLines(result) : std::vector<std::string>{};
  return answer;
}

}  // namespace

void BindBake(py::module_& m) {
  m.def("bake", &Bake, py::arg("path"), py::arg("out"), py::arg("clip"), py::arg("all_clips"),
        py::arg("range_of_motion"), py::arg("influences"), py::arg("holdout"), py::arg("report"),
        py::arg("smoothness"),
        R"(Solve skin weights that play the correction by plain skinning, as `tessamire bake`.

The character at `path` is corrected at every frame of `clip` (a name or index, or a list;
None: the first) or of all its clips, and with `range_of_motion` (degrees) at poses turning each
joint about its axes; per welded point at most `influences` (4 or 8) weights are solved and the
character is written to `out` as a skinned glTF with them. Returns {"meshes": {name: {"joints":
int32 (points, influences) with -1 for an empty slot, "weights": float32 (points, influences),
"kept_source": bool (points,)}}, "report": the report's lines when `report`, with a second solve
without every `holdout`-th frame (0: none)}. Raises ValueError for an argument out of range,
OSError for a file that cannot be read or written.)");
}

}  // namespace tessamire_python
