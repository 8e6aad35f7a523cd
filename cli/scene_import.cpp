// `tessamire scene import MESH.obj --out FILE [--tag] [--bind]`: a scene holding the mesh as a
// polygon object named after the file's stem; --tag adds a bind tag at its defaults, --bind
// (which implies --tag) also presses its bind button. Nothing is written on any error.
#include <filesystem>

#include "cli/scene_commands.h"
#include "cli/subcommands.h"
#include "headless/host/parameters.h"
#include "headless/host/registry.h"
#include "headless/io/obj.h"
#include "headless/io/scene_file.h"

namespace cli {

int RunSceneImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--out", "--plugins"}, {"--tag", "--bind"}, parsed, error)) {
    err << "tessamire scene import: " << error << "\n";
    return kExitUsage;
  }
  if (parsed.positional.size() != 1 || parsed.values.count("--out") == 0) {
    err << "tessamire scene import: needs one MESH.obj and --out FILE\n";
    return kExitUsage;
  }
  const std::string meshPath = parsed.positional.front();
  const std::string outPath = parsed.values.at("--out");
  const bool bind = parsed.flags.count("--bind") != 0;
  const bool tag = bind || parsed.flags.count("--tag") != 0;

  headless::PluginFolder folder;
  const auto dir = parsed.values.find("--plugins");
  if (!StartPlugins(dir == parsed.values.end() ? "" : dir->second, folder, err))
    return kExitFailure;

  int code = kExitOk;
  try {
    headless::Mesh mesh = headless::ReadObj(meshPath);
    auto doc = headless::NewDocument();
    const std::string name = std::filesystem::path(meshPath).stem().string();
    headless::Node* object = nullptr;
    try {
      object = doc->AddPolygonObject(name, std::move(mesh.points), std::move(mesh.polygons));
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error(meshPath + ": " + e.what());
    }
    if (object == nullptr) throw std::runtime_error(meshPath + ": out of memory");
    if (tag) {
      headless::Node* bindTag = doc->AddTag(object, kTagId);
      if (bindTag == nullptr)
        throw std::runtime_error("the bind tag (plug-in " + std::to_string(kTagId) +
                                 ") could not be created");
      if (bind && !headless::PressButton(bindTag, kBindButton))
        throw std::runtime_error(meshPath + ": binding the tag failed");
    }
    headless::SaveScene(*doc, outPath);
    out << outPath << ": object \"" << name << "\" with " << object->points.size() << " points and "
        << object->polygons.size() << " polygons"
        << (bind  ? ", bound tag"
            : tag ? ", tag"
                  : "")
        << "\n";
  } catch (const std::exception& e) {
    err << "tessamire scene import: " << e.what() << "\n";
    code = kExitFailure;
  }
  folder.Close();
  return code;
}

}  // namespace cli
