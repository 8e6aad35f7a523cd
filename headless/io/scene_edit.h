// A scene's parameters changed by name the way a user changes them in the host's attribute view:
// behind `tessamire scene set`.
// - A parameter is named by its id, identifier or label, in any case (1004, TTESSAMIRE_ITERATIONS,
//   iterations); a value is text checked against the node's description: a whole number within
//   its range (or one of its choices, by value or label), a number within its range, 0 or 1 (also
//   true/false, on/off, yes/no), a text, or a link given as a node's path (empty: none).
// - A node's path is its objects' names from the top, joined by '/', and a tag's name last
//   ("Wuson/Tessamire Bind"). Without a path, the one node whose description has the parameter is
//   meant; when several have it, the change is refused naming them.
// - Values go through the host's parameter path, which asks the plug-in whether the parameter is
//   enabled; a button is pressed as a click does.
// Only described nodes (objects and tags) can be named; their descriptions are taken once, when
// the editor is made.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "headless/scene/description.h"
#include "headless/scene/scene.h"

namespace headless {

// A node's path: its objects' names from the top, joined by '/', a tag's name last.
std::string NodePath(const Node* node);

// The value `text` means for parameter `p` of a node of `doc` (a link's target is looked up in
// `doc`), checked against the description. Throws std::invalid_argument naming the parameter and
// the fault: a value of the wrong kind or out of range, a button, a list of nodes.
Value ParameterValue(const ParameterDescription& p, const std::string& text, const Document& doc);

// One change made: a value set (`value` and what the parameter held before, both as
// FormatValue writes them, "-" for no value) or a button pressed (neither).
struct ParameterChange {
  std::string path;  // the node's
  std::string label;
  std::string ident;
  std::optional<std::string> value;
  std::optional<std::string> was;
};

class SceneEditor {
 public:
  // `node`, when set, is the path of the node every change goes to.
  SceneEditor(Document& doc, std::optional<std::string> node);

  // Sets parameter `name` to the value `text` means. Throws std::invalid_argument naming the fault
  // (no node or several with such a parameter, a value of the wrong kind or out of range, a
  // button, a list, a disabled parameter), changing nothing.
  ParameterChange Set(const std::string& name, const std::string& text);
  // Presses button `name`. Throws std::invalid_argument naming the fault (as Set, or no button),
  // std::runtime_error when the plug-in refuses.
  ParameterChange Press(const std::string& name);

 private:
  struct Described {
    Node* node = nullptr;
    DescriptionData description;
    std::string path;
  };
  struct Found {
    const Described& node;
    const ParameterDescription& parameter;
  };
  Found NodeWith(const std::string& name) const;

  Document& doc_;
  std::optional<std::string> path_;
  std::vector<Described> nodes_;
};

}  // namespace headless
