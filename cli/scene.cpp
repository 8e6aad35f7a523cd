// `tessamire scene import|info`: dispatches to the scene actions.
#include "cli/scene_commands.h"
#include "cli/subcommands.h"

namespace cli {
namespace {

int RunScene(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << "tessamire scene: no action given (import or info)\n";
    return kExitUsage;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "import") return RunSceneImport(rest, out, err);
  if (args[0] == "info") return RunSceneInfo(rest, out, err);
  err << "tessamire scene: unknown action \"" << args[0] << "\" (import or info)\n";
  return kExitUsage;
}

const SubcommandRegistration kScene(
    {"scene",
     "scene import MESH.obj|CHARACTER --out FILE [--tag] [--bind] [--cache CACHE.pc2|.mdd] "
     "[--fps F] [--plugins DIR] | scene info FILE [--plugins DIR]",
     "import an OBJ mesh into a new scene file (with a bind tag, bound on --bind, and a point "
     "cache playing CACHE), or a rigged character (.fbx, .gltf, .glb, .dae, .x: joints, weights, "
     "skin and keys sampled at the file's rate or F per second); or list what a scene file holds",
     RunScene});

}  // namespace
}  // namespace cli
