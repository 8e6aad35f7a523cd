// `tessamire scene info FILE`: what a scene file holds, as headless/io/scene_info.h lists it.
#include "headless/io/scene_info.h"
#include "cli/command_table.h"
#include "headless/io/scene_file.h"

namespace cli {
namespace {

int RunSceneInfo(const Options& options, std::ostream& out, std::ostream&) {
  const std::string path = options.Operands().front();
  const std::unique_ptr<headless::Document> doc = headless::LoadScene(path);
  for (const std::string& line : headless::SceneInfoLines(*doc, path)) out << line << "\n";
  return kExitOk;
}

}  // namespace
Subcommand SceneInfoSubcommand() {
  CommandSpec declaration;
  declaration.name = "scene info";
  declaration.operands = "FILE";
  declaration.minOperands = 1;
  declaration.maxOperands = 1;
  declaration.summary = "list what a scene file holds (FILE may be - for the standard input)";
  declaration.details =
      "The frame rate, objects in tree order with their point and polygon counts, tags with "
      "every parameter, the bind state of bind tags, a skin deformer's joints and weight maps, "
      "each joint's rest and current position and keys, and a character's node tree, "
      "materials, skins and clips as counts.";
  return {declaration, RunSceneInfo};
}

}  // namespace cli
