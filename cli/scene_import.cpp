// `tessamire scene import MESH.obj --out FILE [--tag] [--bind]`: a scene holding the mesh as a
// polygon object named after the file's stem; --tag adds a bind tag at its defaults, --bind
// (which implies --tag) also presses its bind button. Nothing is written on any error.
#include <filesystem>

#include "cli/output_folder.h"
#include "cli/subcommands.h"
#include "headless/host/parameters.h"
#include "headless/host/registry.h"
#include "headless/host/tessamire_ids.h"
#include "headless/io/obj.h"
#include "headless/io/scene_file.h"

namespace cli {

using tessamire_ids::kBindButton;
using tessamire_ids::kTagId;

namespace {

int RunSceneImport(const Options& options, std::ostream& out, std::ostream& err) {
  const std::string meshPath = options.Operands().front();
  const std::string outPath = options.Text("--out");
  const bool bind = options.Has("--bind");
  const bool tag = bind || options.Has("--tag");

  headless::Mesh mesh = headless::ReadObj(meshPath);
  auto doc = headless::NewDocument();
  const std::string name =
      meshPath == "-" ? "mesh" : std::filesystem::path(meshPath).stem().string();
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
  PrepareOutputFolder(outPath);
  headless::SaveScene(*doc, outPath);
  // The scene itself may be going to the standard output.
  (outPath == "-" ? err : out) << outPath << ": object \"" << name << "\" with "
                               << object->points.size() << " points and " << object->polygons.size()
                               << " polygons"
                               << (bind  ? ", bound tag"
                                   : tag ? ", tag"
                                         : "")
                               << "\n";
  return kExitOk;
}

const SubcommandRegistration kSceneImport(
    {[] {
       CommandSpec spec;
       spec.name = "scene import";
       spec.operands = "MESH.obj";
       spec.minOperands = 1;
       spec.maxOperands = 1;
       spec.summary =
           "make a scene file holding an OBJ mesh as a polygon object (MESH.obj may be - "
           "for the standard input)";
       spec.options = {
           Required(
               TextOption("--out", "FILE", "the scene file to write (- for the standard output)")),
           FlagOption("--tag", "put a bind tag at its defaults on the object"),
           FlagOption("--bind",
                      "put a bind tag on the object and bind it at once (implies --tag)")};
       return spec;
     }(),
     RunSceneImport});

}  // namespace
}  // namespace cli
