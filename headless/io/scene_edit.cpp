#include "headless/io/scene_edit.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "headless/files/number_text.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/scene/parameters.h"

namespace headless {
namespace {

const ParameterDescription* FindParameter(const DescriptionData& description,
                                          const std::string& name) {
  const std::string wanted = LowerAscii(name);
  for (const ParameterDescription& p : description.parameters)
    if (wanted == std::to_string(p.id) || wanted == LowerAscii(p.ident) ||
        wanted == LowerAscii(p.label))
      return &p;
  return nullptr;
}

std::string Quote(const std::string& text) {
  return "\"" + Printable(text) + "\"";
}

std::string List(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : ", ") + Quote(items[i]);
  return text;
}

std::string What(const ParameterDescription& p) {
  return p.label + " (" + p.ident + ")";
}

std::optional<Int32> ParseBool(const std::string& text) {
  const std::string word = LowerAscii(text);
  for (const char* yes : {"1", "true", "on", "yes"})
    if (word == yes) return 1;
  for (const char* no : {"0", "false", "off", "no"})
    if (word == no) return 0;
  return std::nullopt;
}

std::string Range(const ParameterDescription& p) {
  return "from " + (p.min ? ShortestNumber(*p.min) : std::string("any")) + " to " +
         (p.max ? ShortestNumber(*p.max) : std::string("any"));
}

void CheckWithin(const ParameterDescription& p, Float x, const std::string& text) {
  if ((p.min && x < *p.min) || (p.max && x > *p.max))
    throw std::invalid_argument(What(p) + " runs " + Range(p) + ", not " + text);
}

// A whole number, or one of the choices by value or label.
Value WholeNumberValue(const ParameterDescription& p, const std::string& text) {
  Value value;
  value.type = ValueType::kInt32;
  Int64 n = 0;
  const auto label = std::find_if(p.cycle.begin(), p.cycle.end(), [&](const auto& choice) {
    return LowerAscii(text) == LowerAscii(choice.label);
  });
  if (label != p.cycle.end())
    n = label->value;
  else if (!ParseInteger(text, n) || n < std::numeric_limits<Int32>::min() ||
           n > std::numeric_limits<Int32>::max())
    throw std::invalid_argument(What(p) + " is a whole number, not " + Quote(text));
  CheckWithin(p, static_cast<Float>(n), text);
  value.int32 = static_cast<Int32>(n);
  if (p.cycle.empty()) return value;
  std::string choices;
  for (const CycleEntry& choice : p.cycle) {
    if (choice.value == value.int32) return value;
    choices +=
        (choices.empty() ? "" : ", ") + std::to_string(choice.value) + " " + Quote(choice.label);
  }
  throw std::invalid_argument(What(p) + " is one of " + choices + ", not " + Quote(text));
}

// The node at path `text`, of the type the link accepts; no node for an empty text.
Value LinkTo(const ParameterDescription& p, const std::string& text, const Document& doc) {
  Value value;
  value.type = ValueType::kLink;
  if (text.empty()) return value;
  std::vector<Node*> targets;
  for (Node* object : doc.Objects()) {
    if (NodePath(object) == text) targets.push_back(object);
    for (Node* tag : Document::Tags(object))
      if (NodePath(tag) == text) targets.push_back(tag);
  }
  if (targets.size() != 1)
    throw std::invalid_argument(
        What(p) + " links a node; " +
        (targets.empty() ? "no node is called " : "several nodes are called ") + Quote(text));
  if (p.accept && targets.front()->type != *p.accept)
    throw std::invalid_argument(What(p) + " links a node of type " + std::to_string(*p.accept) +
                                "; " + Quote(text) + " is of type " +
                                std::to_string(targets.front()->type));
  value.link.target = targets.front()->serial;
  return value;
}

}  // namespace

std::string NodePath(const Node* node) {
  std::string path = node->name;
  for (const Node* up = node->up; up != nullptr; up = up->up) path = up->name + "/" + path;
  return path;
}

Value ParameterValue(const ParameterDescription& p, const std::string& text, const Document& doc) {
  Value value;
  switch (p.type) {
    case ParameterType::kButton:
      throw std::invalid_argument(What(p) + " is a button: press it with --press " +
                                  Quote(p.label));
    case ParameterType::kInExclude:
      throw std::invalid_argument(What(p) + " is a list of nodes, which is not set from here");
    case ParameterType::kString:
      value.type = ValueType::kString;
      value.text = text;
      return value;
    case ParameterType::kBool: {
      const std::optional<Int32> on = ParseBool(text);
      if (!on)
        throw std::invalid_argument(What(p) + " is 0 or 1 (true or false), not " + Quote(text));
      value.type = ValueType::kInt32;
      value.int32 = *on;
      return value;
    }
    case ParameterType::kInt32:
      return WholeNumberValue(p, text);
    case ParameterType::kFloat:
      value.type = ValueType::kFloat;
      if (!ParseNumber(text, value.real))
        throw std::invalid_argument(What(p) + " is a finite number, not " + Quote(text));
      CheckWithin(p, value.real, text);
      return value;
    case ParameterType::kLink:
      return LinkTo(p, text, doc);
  }
  throw std::invalid_argument(What(p) + ": unknown parameter type");
}

SceneEditor::SceneEditor(Document& doc, std::optional<std::string> node)
    : doc_(doc), path_(std::move(node)) {
  auto add = [&](Node* n) {
    Described d{n, {}, NodePath(n)};
    if (DescribeNode(n, d.description)) nodes_.push_back(std::move(d));
  };
  for (Node* object : doc.Objects()) {
    add(object);
    for (Node* tag : Document::Tags(object)) add(tag);
  }
}

// The node that carries parameter `name`: the one at the path when given, else the only one.
SceneEditor::Found SceneEditor::NodeWith(const std::string& name) const {
  std::vector<const Described*> found;
  std::vector<std::string> elsewhere;
  for (const Described& d : nodes_) {
    if (FindParameter(d.description, name) == nullptr) continue;
    if (!path_ || d.path == *path_)
      found.push_back(&d);
    else
      elsewhere.push_back(d.path);
  }
  if (found.size() == 1) return {*found.front(), *FindParameter(found.front()->description, name)};
  if (found.empty()) {
    if (path_)
      throw std::invalid_argument(
          "no node " + Quote(*path_) + " has a parameter " + Quote(name) +
          (elsewhere.empty() ? "" : "; these have one: " + List(elsewhere)));
    throw std::invalid_argument("no node of the scene has a parameter " + Quote(name));
  }
  std::vector<std::string> paths;
  for (const Described* d : found) paths.push_back(d->path);
  if (path_)
    throw std::invalid_argument(std::to_string(found.size()) + " nodes are called " +
                                Quote(*path_) + "; rename one in the host to tell them apart");
  throw std::invalid_argument("several nodes have a parameter " + Quote(name) + ": " + List(paths) +
                              "; name one with --node PATH");
}

ParameterChange SceneEditor::Set(const std::string& name, const std::string& text) {
  const Found found = NodeWith(name);
  const ParameterDescription& p = found.parameter;
  Node* node = found.node.node;
  const Value value = ParameterValue(p, text, doc_);
  const Value* before = node->params.Find(p.id);
  const std::string was = before ? FormatValue(*before) : "-";
  if (!IsParameterEnabled(node, p.id))
    throw std::invalid_argument(What(p) + " of " + Quote(found.node.path) +
                                " is disabled and cannot be changed: the plug-in disables it "
                                "in the node's present state (a bound tag's settings, until "
                                "a run with --press Unbind)");
  SetParameter(node, p.id, value);
  return {found.node.path, p.label, p.ident, FormatValue(value), was};
}

ParameterChange SceneEditor::Press(const std::string& name) {
  const Found found = NodeWith(name);
  const ParameterDescription& p = found.parameter;
  if (p.type != ParameterType::kButton)
    throw std::invalid_argument(What(p) + " of " + Quote(found.node.path) +
                                " is no button; set it with " + p.label + "=VALUE");
  if (!PressButton(found.node.node, p.id))
    throw std::runtime_error(Quote(found.node.path) + ": the plug-in refused " + What(p) +
                             "; nothing written");
  return {found.node.path, p.label, p.ident, std::nullopt, std::nullopt};
}

}  // namespace headless
