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
  explicit Scene(std::unique_ptr<headless::Document> doc) : doc_(std::move(doc)) {
    // The nodes the plug-ins gave an instance: closing or reloading the plug-ins takes it away,
    // and such a node would evaluate as nothing (the raw points, no error).
    for (headless::Node* object : doc_->Objects()) {
      if (object->instance != nullptr) withInstance_.push_back(object);
      for (headless::Node* tag : headless::Document::Tags(object))
        if (tag->instance != nullptr) withInstance_.push_back(tag);
    }
  }
  ~Scene() {
    const auto inUse = PluginsInUse();
    doc_.reset();
  }

  static std::unique_ptr<Scene> Load(py::handle pathValue) {
    const std::string path = PathArgument(pathValue, "path");
    CheckReadable(path);
    EnsurePlugins();
    return FileWork([&] {
      return WithoutGil([&] {
        // Made while the plug-ins that gave the nodes their instances cannot go.
        const auto inUse = PluginsInUse();
        return std::make_unique<Scene>(headless::LoadScene(path));
      });
    });
  }

  void Save(py::handle pathValue) {
    const std::string path = PathArgument(pathValue, "path");
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
  py::dict Evaluate(py::handle frameValue) {
    const double frame = Number(frameValue, "frame");
    std::vector<std::pair<std::string, std::vector<Vector3>>> results;
    std::vector<std::string> warnings;
    WithoutGil([&] {
      const std::lock_guard<std::mutex> serial(mutex_);
      const auto inUse = PluginsInUse();
      for (const headless::Node* node : withInstance_)
        if (node->instance == nullptr)
          throw std::runtime_error(
              "the plug-ins this scene was loaded with have been closed or "
              "loaded again since: load the scene again");
      const headless::DeformReport report = headless::EvaluateDocumentAtFrame(*doc_, frame);
      if (!report.Ok())
        throw std::runtime_error("frame " + std::to_string(frame) + ": " + report.errors.front());
      warnings = report.warnings;
      // Copied while the document is this call's: another thread's evaluation waits till then.
      for (const headless::Node* object : doc_->Objects())
        if (object->IsPolygonObject())
          results.emplace_back(object->name, headless::DeformedPoints(object));
    });
    for (const std::string& warning : warnings) Log("warning", warning);
    py::dict result;
    for (const auto& [name, points] : results) {
      const py::str key(name);
      if (result.contains(key)) continue;
      py::array_t<double> out = NewPointArray(-1, points.size());
      std::copy(points.begin(), points.end(), WritablePoints(out));
      result[key] = out;
    }
    return result;
  }

 private:
  std::mutex mutex_;  // one evaluation or save of the document at a time
  std::unique_ptr<headless::Document> doc_;
  std::vector<const headless::Node*> withInstance_;
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
