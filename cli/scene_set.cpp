// `tessamire scene set SCENE --out FILE [--node PATH] NAME=VALUE... [--press BUTTON]...`: changes
// described parameters of a saved scene the way a user does in the host's attribute view, and
// saves the result.
// - NAME is a parameter's id, identifier or label, in any case (1004, TTESSAMIRE_ITERATIONS,
//   iterations); VALUE is checked against the node's description: a whole number within its
//   range (or one of its choices, by value or label), a number within its range, 0 or 1 (also
//   true/false, on/off, yes/no), a text, or a link given as a node's PATH (empty: none).
// - PATH names a node by its objects' names from the top, joined by '/', and a tag's name last
//   ("Wuson/Tessamire Bind"). Without --node, the one node whose description has the parameter is
//   meant; when several have it, the run is refused naming them.
// - Values are set first, in the order given, through the host's parameter path (which asks the
//   plug-in whether the parameter is enabled); then each --press presses a button in order, as a
//   click does. Any refusal stops the run before anything is written.
#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "headless/files/printable.h"
#include "headless/io/scene_file.h"
#include "headless/files/shortest_number.h"
#include "headless/scene/parameters.h"

namespace cli {
namespace {

// A node's path: its objects' names from the top, a tag's name last.
std::string PathOf(const headless::Node* node) {
  std::string path = node->name;
  for (const headless::Node* up = node->up; up != nullptr; up = up->up)
    path = up->name + "/" + path;
  return path;
}

// A described node of the scene with its description.
struct Candidate {
  headless::Node* node = nullptr;
  headless::DescriptionData description;
  std::string path;
};

std::vector<Candidate> DescribedNodes(const headless::Document& doc) {
  std::vector<Candidate> nodes;
  auto add = [&](headless::Node* node) {
    Candidate c{node, {}, PathOf(node)};
    if (headless::DescribeNode(node, c.description)) nodes.push_back(std::move(c));
  };
  for (headless::Node* object : doc.Objects()) {
    add(object);
    for (headless::Node* tag : headless::Document::Tags(object)) add(tag);
  }
  return nodes;
}

const headless::ParameterDescription* FindParameter(const headless::DescriptionData& description,
                                                    const std::string& name) {
  const std::string wanted = headless::LowerAscii(name);
  for (const headless::ParameterDescription& p : description.parameters)
    if (wanted == std::to_string(p.id) || wanted == headless::LowerAscii(p.ident) ||
        wanted == headless::LowerAscii(p.label))
      return &p;
  return nullptr;
}

std::string Quote(const std::string& text) {
  return "\"" + headless::Printable(text) + "\"";
}

std::string List(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : ", ") + Quote(items[i]);
  return text;
}

// The node that carries parameter `name`: the one at `path` when given, else the only one.
const Candidate& NodeWith(const std::vector<Candidate>& nodes, const std::string& name,
                          const std::optional<std::string>& path) {
  std::vector<const Candidate*> found;
  std::vector<std::string> elsewhere;
  for (const Candidate& c : nodes) {
    if (FindParameter(c.description, name) == nullptr) continue;
    if (!path || c.path == *path)
      found.push_back(&c);
    else
      elsewhere.push_back(c.path);
  }
  if (found.size() == 1) return *found.front();
  if (found.empty()) {
    if (path)
      throw std::invalid_argument(
          "no node " + Quote(*path) + " has a parameter " + Quote(name) +
          (elsewhere.empty() ? "" : "; these have one: " + List(elsewhere)));
    throw std::invalid_argument("no node of the scene has a parameter " + Quote(name));
  }
  std::vector<std::string> paths;
  for (const Candidate* c : found) paths.push_back(c->path);
  if (path)
    throw std::invalid_argument(std::to_string(found.size()) + " nodes are called " + Quote(*path) +
                                "; rename one in the host to tell them apart");
  throw std::invalid_argument("several nodes have a parameter " + Quote(name) + ": " + List(paths) +
                              "; name one with --node PATH");
}

std::optional<Int32> ParseBool(const std::string& text) {
  const std::string word = headless::LowerAscii(text);
  for (const char* yes : {"1", "true", "on", "yes"})
    if (word == yes) return 1;
  for (const char* no : {"0", "false", "off", "no"})
    if (word == no) return 0;
  return std::nullopt;
}

std::string Range(const headless::ParameterDescription& p) {
  return "from " + (p.min ? headless::ShortestNumber(*p.min) : std::string("any")) + " to " +
         (p.max ? headless::ShortestNumber(*p.max) : std::string("any"));
}

// The value `text` means for parameter `p`, checked against its description.
headless::Value ParseValue(const headless::ParameterDescription& p, const std::string& text,
                           const headless::Document& doc) {
  const std::string what = p.label + " (" + p.ident + ")";
  headless::Value value;
  auto within = [&](Float x) {
    if ((p.min && x < *p.min) || (p.max && x > *p.max))
      throw std::invalid_argument(what + " runs " + Range(p) + ", not " + text);
  };
  switch (p.type) {
    case headless::ParameterType::kButton:
      throw std::invalid_argument(what + " is a button: press it with --press " + Quote(p.label));
    case headless::ParameterType::kInExclude:
      throw std::invalid_argument(what + " is a list of nodes, which is not set from here");
    case headless::ParameterType::kString:
      value.type = headless::ValueType::kString;
      value.text = text;
      return value;
    case headless::ParameterType::kBool: {
      const std::optional<Int32> on = ParseBool(text);
      if (!on) throw std::invalid_argument(what + " is 0 or 1 (true or false), not " + Quote(text));
      value.type = headless::ValueType::kInt32;
      value.int32 = *on;
      return value;
    }
    case headless::ParameterType::kInt32: {
      value.type = headless::ValueType::kInt32;
      Int64 n = 0;
      const auto label = std::find_if(p.cycle.begin(), p.cycle.end(), [&](const auto& choice) {
        return headless::LowerAscii(text) == headless::LowerAscii(choice.label);
      });
      if (label != p.cycle.end())
        n = label->value;
      else if (!ParseInteger(text, n) || n < std::numeric_limits<Int32>::min() ||
               n > std::numeric_limits<Int32>::max())
        throw std::invalid_argument(what + " is a whole number, not " + Quote(text));
      within(static_cast<Float>(n));
      value.int32 = static_cast<Int32>(n);
      if (p.cycle.empty()) return value;
      std::string choices;
      for (const headless::CycleEntry& choice : p.cycle) {
        if (choice.value == value.int32) return value;
        choices += (choices.empty() ? "" : ", ") + std::to_string(choice.value) + " " +
                   Quote(choice.label);
      }
      throw std::invalid_argument(what + " is one of " + choices + ", not " + Quote(text));
    }
    case headless::ParameterType::kFloat:
      value.type = headless::ValueType::kFloat;
      if (!ParseNumber(text, value.real))
        throw std::invalid_argument(what + " is a finite number, not " + Quote(text));
      within(value.real);
      return value;
    case headless::ParameterType::kLink: {
      value.type = headless::ValueType::kLink;
      if (text.empty()) return value;
      std::vector<headless::Node*> targets;
      for (headless::Node* object : doc.Objects()) {
        if (PathOf(object) == text) targets.push_back(object);
        for (headless::Node* tag : headless::Document::Tags(object))
          if (PathOf(tag) == text) targets.push_back(tag);
      }
      if (targets.size() != 1)
        throw std::invalid_argument(
            what + " links a node; " +
            (targets.empty() ? "no node is called " : "several nodes are called ") + Quote(text));
      if (p.accept && targets.front()->type != *p.accept)
        throw std::invalid_argument(what + " links a node of type " + std::to_string(*p.accept) +
                                    "; " + Quote(text) + " is of type " +
                                    std::to_string(targets.front()->type));
      value.link.target = targets.front()->serial;
      return value;
    }
  }
  throw std::invalid_argument(what + ": unknown parameter type");
}

int RunSceneSet(const Options& options, std::ostream& out, std::ostream& err) {
  const std::string scenePath = options.Operands().front();
  const std::vector<std::string> assignments(options.Operands().begin() + 1,
                                             options.Operands().end());
  const std::vector<std::string> presses = options.Texts("--press");
  if (assignments.empty() && presses.empty())
    throw UsageError("give NAME=VALUE or --press BUTTON: there is nothing to change");
  for (const std::string& a : assignments)
    if (a.find('=') == std::string::npos || a.front() == '=')
      throw UsageError("\"" + a + "\" is not NAME=VALUE");
  std::optional<std::string> path;
  if (options.Has("--node")) path = options.Text("--node");
  const std::string outPath = options.Text("--out");
  RefuseOverwritingInputs(outPath, {scenePath});
  PrepareOutputFolder(outPath);
  std::ostream& report = outPath == "-" ? err : out;

  const std::unique_ptr<headless::Document> doc = headless::LoadScene(scenePath);
  const std::vector<Candidate> nodes = DescribedNodes(*doc);
  try {
    for (const std::string& a : assignments) {
      const size_t equals = a.find('=');
      const std::string name = a.substr(0, equals);
      const Candidate& c = NodeWith(nodes, name, path);
      const headless::ParameterDescription& p = *FindParameter(c.description, name);
      const headless::Value value = ParseValue(p, a.substr(equals + 1), *doc);
      const headless::Value* before = c.node->params.Find(p.id);
      const std::string was = before ? headless::FormatValue(*before) : "-";
      if (!headless::IsParameterEnabled(c.node, p.id))
        throw std::invalid_argument(p.label + " (" + p.ident + ") of " + Quote(c.path) +
                                    " is disabled and cannot be changed: the plug-in disables it "
                                    "in the node's present state (a bound tag's settings, until "
                                    "a run with --press Unbind)");
      headless::SetParameter(c.node, p.id, value);
      report << Quote(c.path) << ": " << p.label << " (" << p.ident
             << ") = " << headless::Printable(headless::FormatValue(value)) << ", was "
             << headless::Printable(was) << "\n";
    }
    for (const std::string& button : presses) {
      const Candidate& c = NodeWith(nodes, button, path);
      const headless::ParameterDescription& p = *FindParameter(c.description, button);
      if (p.type != headless::ParameterType::kButton)
        throw std::invalid_argument(p.label + " (" + p.ident + ") of " + Quote(c.path) +
                                    " is no button; set it with " + p.label + "=VALUE");
      if (!headless::PressButton(c.node, p.id))
        throw std::runtime_error(Quote(c.path) + ": the plug-in refused " + p.label + " (" +
                                 p.ident + "); nothing written");
      report << Quote(c.path) << ": pressed " << p.label << " (" << p.ident << ")\n";
    }
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(scenePath + ": " + e.what() + "; nothing written");
  }
  headless::SaveScene(*doc, outPath);
  report << outPath << ": saved\n";
  return kExitOk;
}

}  // namespace

Subcommand SceneSetSubcommand() {
  CommandSpec declaration;
  declaration.name = "scene set";
  declaration.operands = "SCENE [NAME=VALUE...]";
  declaration.minOperands = 1;
  declaration.maxOperands = -1;
  declaration.summary =
      "change parameters of a scene's tags and objects and press their buttons, as a user "
      "does, and save the result";
  declaration.details =
      "NAME is a parameter's id, identifier or label in any case (1004, "
      "TTESSAMIRE_ITERATIONS, iterations); VALUE is checked against the parameter's "
      "description: its range, its choices (by value or label), 0 or 1 for a switch, a "
      "node's PATH for a link. PATH names a node by its objects' names from the top joined "
      "by '/', a tag's name last (\"Wuson/Tessamire Bind\"); without --node the one node "
      "with such a parameter is meant, and a name several nodes have is refused naming "
      "them. Values are set in the order given, then the buttons pressed; a parameter the "
      "plug-in disables (a bound tag's settings) is refused: press Unbind first. `scene "
      "info` lists every node's parameters.";
  declaration.options = {
      Required(TextOption("--out", "FILE", "the scene file to write (- for the standard output)")),
      TextOption("--node", "PATH", "the node whose parameters change",
                 "the one node with each parameter"),
      Repeatable(TextOption("--press", "BUTTON",
                            "press a button (by id, identifier or label) after the values "
                            "are set"))};
  return {declaration, RunSceneSet};
}

}  // namespace cli
