// tessamire.Scene: a scene file loaded into a document of its own, evaluated at any frame.
#include <memory>
#include <mutex>

#include "headless/io/scene_file.h"
#include "headless/scene/evaluate.h"
#include "python/arrays.h"
#include "python/calls.h"
#include "python/module.h"
#include "python/plugins.h"

namespace tessamire_python {

namespace {

class Scene {
 public:
  explicit Scene(std::unique_ptr<headless::Document> doc) : doc_(std::move(doc)) {}
  ~Scene() {
    const auto inUse = PluginsInUse();
    doc_.reset();
  }

  static std::unique_ptr<Scene> Load(const std::string& path) {
    CheckReadable(path);
    EnsurePlugins();
    return std::make_unique<Scene>(FileWork([&] {
      return WithoutGil([&] {
        const auto inUse = PluginsInUse();
        return headless::LoadScene(path);
      });
    }));
  }

  void Save(const std::string& path) {
    FileWork([&] {
      WithoutGil([&] {
        const std::lock_guard<std::mutex> serial(mutex_);
        const auto inUse = PluginsInUse();
        headless::SaveScene(*doc_, path);
      });
    });
  }

  std::vector<std::string> Objects() const {
    std::vector<std::string> names;
    for (const headless::Node* object : doc_->Objects())
      if (object->IsPolygonObject()) names.push_back(object->name);
    return names;
  }

  // Every polygon object's deformed points at `frame`, by name (the first of a repeated name).
  py::dict Evaluate(double frame) {
    std::vector<const headless::Node*> objects;
    WithoutGil([&] {
      const std::lock_guard<std::mutex> serial(mutex_);
      const auto inUse = PluginsInUse();
      const headless::DeformReport report = headless::EvaluateDocumentAtFrame(*doc_, frame);
      if (!report.Ok())
        throw std::runtime_error("frame " + std::to_string(frame) + ": " + report.errors.front());
    });
    py::dict result;
    for (const headless::Node* object : doc_->Objects()) {
      if (!object->IsPolygonObject()) continue;
      const py::str name(object->name);
      if (result.contains(name)) continue;
      const std::vector<Vector3>& points = headless::DeformedPoints(object);
      py::array_t<double> out = NewPointArray(-1, points.size());
      std::copy(points.begin(), points.end(), WritablePoints(out));
      result[name] = out;
    }
    return result;
  }

 private:
  std::mutex mutex_;  // one evaluation or save of the document at a time
  std::unique_ptr<headless::Document> doc_;
};

}  // namespace

void BindScene(py::module_& m) {
  py::class_<Scene>(m, "Scene", R"(A scene file's document, evaluated the way the host does.

Calls on one Scene from several threads are serialised; different scenes evaluate at once.)")
      .def_static("load", &Scene::Load, py::arg("path"),
                  "Load a scene file. Raises OSError when it cannot be read or is not sound.")
      .def("save", &Scene::Save, py::arg("path"),
           "Save the scene; the file is replaced as a whole or not at all. Raises OSError.")
      .def_property_readonly("objects", &Scene::Objects,
                             "The names of the scene's polygon objects, in tree order.")
      .def("evaluate", &Scene::Evaluate, py::arg("frame"),
           R"(Evaluate the scene at `frame`: a dict of each polygon object's name to its deformed
points, (N, 3) float64. Raises ValueError for a frame that is not finite, RuntimeError when
the evaluation fails.)");
}

}  // namespace tessamire_python
