// tessamire.Scene: a scene file loaded, or a character imported, into a document of its own;
// changed by commands and parameters as a user does, saved, and evaluated at any frame.
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "headless/batch/scene_import.h"
#include "headless/files/printable.h"
#include "headless/io/scene_edit.h"
#include "headless/io/scene_file.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/registry.h"
#include "headless/scene/user_command.h"
#include "python/arrays.h"
#include "python/calls.h"
#include "python/module.h"
#include "python/plugins.h"

namespace tessamire_python {

namespace {

// The registered command `text` names: its id, or its menu name in any case (as `tessamire
// command` takes it).
Int32 CommandId(const py::object& text) {
  std::string known;
  const bool byId = py::isinstance<py::int_>(text);
  const std::string name = byId ? std::string() : py::str(text).cast<std::string>();
  for (const headless::Registration& r : headless::Registrations()) {
    if (r.kind != headless::PluginKind::kCommand) continue;
    if (byId ? r.id == text.cast<Int32>()
             : headless::LowerAscii(r.name) == headless::LowerAscii(name))
      return r.id;
    known += (known.empty() ? "" : ", ") + std::to_string(r.id) + " '" + r.name + "'";
  }
  throw py::value_error("no registered command is " + py::repr(text).cast<std::string>() +
                        "; the commands are " + (known.empty() ? "none" : known));
}

py::dict ChangeDict(const headless::ParameterChange& change) {
  py::dict out;
  out["node"] = change.path;
  out["parameter"] = change.ident;
  out["value"] = change.value ? py::object(py::str(*change.value)) : py::object(py::none());
  out["was"] = change.was ? py::object(py::str(*change.was)) : py::object(py::none());
  return out;
}

// A parameter's value as the text the scene editor reads: a bool as 1 or 0, a number in its
// shortest digits, a text as it is.
std::string ValueText(const py::object& value) {
  if (py::isinstance<py::bool_>(value)) return value.cast<bool>() ? "1" : "0";
  if (py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value) ||
      py::isinstance<py::str>(value))
    return py::str(value).cast<std::string>();
  throw py::type_error("value wants a number, a bool or a text, not " + TypeName(value));
}

class Scene {
 public:
  explicit Scene(std::unique_ptr<headless::Document> doc) : doc_(std::move(doc)) {
    NoteInstances();
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

  static std::unique_ptr<Scene> ImportCharacter(py::handle pathValue, py::object clip,
                                                py::object fps, bool allClips,
                                                py::object assetRoot) {
    const std::string path = PathArgument(pathValue, "path");
    CheckReadable(path);
    EnsurePlugins();
    const headless::CharacterOptions options =
        CharacterOptionsArgument(clip, fps, allClips, assetRoot);
    return FileWork([&] {
      return WithoutGil([&] {
        const auto inUse = PluginsInUse();
        return std::make_unique<Scene>(headless::ImportCharacterScene(path, options).document);
      });
    });
  }

  // Runs a registered command on the objects named, with the modifier keys held.
  py::dict Command(const py::object& name, const std::vector<std::string>& objects,
                   const std::vector<std::string>& keys) {
    headless::UserCommand command{.id = CommandId(name), .objects = objects, .tags = {}};
    for (const std::string& key : keys) {
      if (key == "shift")
        command.shift = true;
      else if (key == "ctrl")
        command.ctrl = true;
      else
        throw py::value_error("keys: 'shift' or 'ctrl', not '" + key + "'");
    }
    const headless::CommandOutcome outcome = WithoutGil([&] {
      const std::lock_guard<std::mutex> serial(mutex_);
      const auto inUse = PluginsInUse();
      CheckInstances();
      // A command refused leaves the selection it found: the run selects before it checks.
      std::vector<std::pair<headless::Node*, Int32>> flags;
      for (headless::Node* object : doc_->Objects()) {
        flags.emplace_back(object, object->flags);
        for (headless::Node* tag : headless::Document::Tags(object))
          flags.emplace_back(tag, tag->flags);
      }
      try {
        headless::CommandOutcome done = headless::RunUserCommand(*doc_, command);
        NoteInstances();
        return done;
      } catch (const std::invalid_argument&) {
        for (const auto& [node, kept] : flags) node->flags = kept;
        throw;
      }
    });
    py::dict out;
    out["command"] = outcome.label;
    out["objects_added"] = outcome.objectsAdded;
    out["tags_added"] = outcome.tagsAdded;
    return out;
  }

  // Sets a parameter (with `press`, presses a button) as the attribute view does.
  py::dict Edit(const std::string& name, const py::object& value, const py::object& node,
                bool press) {
    const std::optional<std::string> path =
        node.is_none() ? std::nullopt : std::optional<std::string>(py::str(node));
    const std::string text = press ? std::string() : ValueText(value);
    const headless::ParameterChange change = WithoutGil([&] {
      const std::lock_guard<std::mutex> serial(mutex_);
      const auto inUse = PluginsInUse();
      CheckInstances();
      headless::SceneEditor editor(*doc_, path);
      return press ? editor.Press(name) : editor.Set(name, text);
    });
    return ChangeDict(change);
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
      CheckInstances();
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
  // The nodes the plug-ins gave an instance: closing or reloading the plug-ins takes it away,
  // and such a node would evaluate as nothing (the raw points, no error).
  void NoteInstances() {
    withInstance_.clear();
    for (headless::Node* object : doc_->Objects()) {
      if (object->instance != nullptr) withInstance_.push_back(object);
      for (headless::Node* tag : headless::Document::Tags(object))
        if (tag->instance != nullptr) withInstance_.push_back(tag);
    }
  }
  void CheckInstances() const {
    for (const headless::Node* node : withInstance_)
      if (node->instance == nullptr)
        throw std::runtime_error(
            "the plug-ins this scene was loaded with have been closed or "
            "loaded again since: load the scene again");
  }

  std::mutex mutex_;  // one evaluation, change or save of the document at a time
  std::unique_ptr<headless::Document> doc_;
  std::vector<const headless::Node*> withInstance_;
};

}  // namespace

void BindScene(py::module_& m) {
  py::class_<Scene>(m, "Scene", R"(A scene file's document, evaluated the way the host does.

Calls on one Scene from several threads are serialised; different scenes evaluate at once.)")
      .def_static("load", &Scene::Load, py::arg("path"),
                  "Load a scene file. Raises OSError when it cannot be read or is not sound.")
      .def_static("import_character", &Scene::ImportCharacter, py::arg("path"),
                  py::arg("clip") = py::none(), py::kw_only(), py::arg("fps") = py::none(),
                  py::arg("all_clips") = false, py::arg("asset_root") = py::none(),
                  R"(A rigged character as a scene, as `tessamire scene import` makes it: its
meshes, skins, joints and keys, to equip, change, save and evaluate. clip, fps, all_clips and
asset_root as import_character's. Raises OSError when the file cannot be read.)")
      .def("command", &Scene::Command, py::arg("name"),
           py::arg("objects") = std::vector<std::string>(),
           py::arg("keys") = std::vector<std::string>(),
           R"(Run a registered command (by its id or its menu name in any case) as a user picks it
from the menu: the objects named are the selection, `keys` ('shift', 'ctrl') are held. Answers
{'command', 'objects_added', 'tags_added'}. Raises ValueError for an unknown command, object or
key, RuntimeError when the command is disabled for the selection or fails.)")
      .def(
          "set",
          [](Scene& scene, const std::string& name, const py::object& value,
             const py::object& node) { return scene.Edit(name, value, node, false); },
          py::arg("name"), py::arg("value"), py::kw_only(), py::arg("node") = py::none(),
          R"(Set parameter `name` (its id, identifier or label, in any case) to `value` (a number,
a bool or a text, checked against the node's description; a link as a node's path) on the node
at path `node` ('Object/Child/Tag name'; None: the one node that has such a parameter), as the
attribute view does. Answers {'node', 'parameter', 'value', 'was'}. Raises ValueError naming the
fault, changing nothing.)")
      .def(
          "press",
          [](Scene& scene, const std::string& button, const py::object& node) {
            return scene.Edit(button, py::none(), node, true);
          },
          py::arg("button"), py::kw_only(), py::arg("node") = py::none(),
          R"(Press button `button` (id, identifier or label) of the node at path `node` (None:
the one node with such a button), as a click does. Raises ValueError naming the fault,
RuntimeError when the plug-in refuses.)")
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
