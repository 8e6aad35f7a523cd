// `tessamire scene set SCENE --out FILE [--node PATH] NAME=VALUE... [--press BUTTON]...`: changes
// described parameters of a saved scene the way a user does in the host's attribute view, and
// saves the result.
// NAME, VALUE and PATH are read as headless/io/scene_edit.h says (a parameter by id, identifier or
// label; a value checked against the node's description; a node by its objects' names joined by
// '/'). Values are set first, in the order given, then each --press presses a button in order. Any
// refusal stops the run before anything is written.
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "headless/files/printable.h"
#include "headless/io/scene_edit.h"
#include "headless/io/scene_file.h"

namespace cli {
namespace {

void PrintChange(const headless::ParameterChange& change, std::ostream& report) {
  report << "\"" << headless::Printable(change.path) << "\": ";
  if (!change.value) {
    report << "pressed " << change.label << " (" << change.ident << ")\n";
    return;
  }
  report << change.label << " (" << change.ident << ") = " << headless::Printable(*change.value)
         << ", was " << headless::Printable(change.was.value_or("-")) << "\n";
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
  headless::SceneEditor editor(*doc, path);
  try {
    for (const std::string& a : assignments) {
      const size_t equals = a.find('=');
      PrintChange(editor.Set(a.substr(0, equals), a.substr(equals + 1)), report);
    }
    for (const std::string& button : presses) PrintChange(editor.Press(button), report);
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
