// `tessamire scene info FILE`: what a scene file holds. Its frame rate; objects in tree order
// (children indented beneath their parent) with type, name, point and polygon counts; their tags
// with every parameter (id, identifier, label, value, enabled or disabled as the plug-in answers);
// for each bind tag its stored state: bound, difference count and the FNV-1a 64 of the differences'
// bytes (three little-endian float64 per difference, in point order).
#include <cstdio>
#include <cstring>

#include "cli/command_table.h"
#include "headless/deformers/skin.h"
#include "headless/entries/stream.h"
#include "headless/files/checksum.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/io/scene_file.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"

namespace cli {
namespace {

std::string TypeName(Int32 type) {
  headless::Registration registration;
  if (headless::FindRegistration(type, registration)) return registration.name;
  switch (type) {
    case Opolygon:
      return "polygon";
    case headless::kNullObjectType:
      return "null";
    case Tvertexmap:
      return "vertex map";
    case Tpoint:
      return "point data";
    case Tpolygon:
      return "polygon data";
    case Oskin:
      return "skin";
    case headless::kJointType:
      return "joint";
    default:
      return "type " + std::to_string(type);
  }
}

struct BindState {
  bool bound = false;
  Int64 count = 0;
  std::uint64_t checksum = headless::kFnv1a64Offset;
};

// Decodes the tag's stored form: bound; when bound, the count and one vector per difference.
BindState DecodeBindState(const std::vector<std::uint8_t>& bytes) {
  headless::MemoryStream stream = headless::MemoryStream::ForReading(bytes);
  BindState state;
  if (!stream.ReadBool(state.bound)) throw std::runtime_error("bind state: no bound flag");
  if (!state.bound) return state;
  Int32 count = 0;
  if (!stream.ReadInt32(count) || count < 0)
    throw std::runtime_error("bind state: no valid difference count");
  state.count = count;
  for (Int32 i = 0; i < count; ++i) {
    Vector3 v;
    if (!stream.ReadVector(v))
      throw std::runtime_error("bind state: difference " + std::to_string(i) + " missing");
    for (Float c : {v.x, v.y, v.z}) {
      std::uint64_t bits = 0;
      std::memcpy(&bits, &c, sizeof bits);
      std::uint8_t little[8];
      for (int k = 0; k < 8; ++k) little[k] = static_cast<std::uint8_t>(bits >> (8 * k));
      state.checksum = headless::Fnv1a64(little, sizeof little, state.checksum);
    }
  }
  return state;
}

std::string NodeName(UInt64 serial) {
  const headless::Node* node = headless::FindLiveNode(serial);
  return node == nullptr ? std::string("<none>") : "\"" + headless::Printable(node->name) + "\"";
}

std::string Position(const Vector3& v) {
  char text[96];
  std::snprintf(text, sizeof text, "(%g, %g, %g)", v.x, v.y, v.z);
  return text;
}

// A skin's joints and weight maps, a joint's transforms and keys.
void PrintRig(const headless::Node* object, const std::string& indent, std::ostream& out) {
  if (object->type == Oskin) {
    for (const auto& [id, label] : {std::pair{headless::kSkinJoints, "joints"},
                                    std::pair{headless::kSkinWeightMaps, "weight maps"}}) {
      out << indent << "  skin " << label << ":";
      if (const headless::InExcludeValue* list = object->params.GetInExclude(id))
        for (UInt64 serial : list->targets) out << " " << NodeName(serial);
      out << "\n";
    }
  } else if (headless::IsJoint(object)) {
    out << indent << "  joint rest at " << Position(headless::JointRest(object).off)
        << ", current at " << Position(headless::JointCurrent(object).off) << "\n";
    const headless::JointKeys keys = headless::ReadJointKeys(object);
    if (keys.kind == headless::JointKeyKind::kRotation) {
      out << indent << "  keys: " << keys.rotations.size() << " rotations about "
          << Position(keys.pivot) << " along " << Position(keys.axis) << ":";
      for (const auto& k : keys.rotations) out << " " << k.frame << "=" << k.degrees << "deg";
      out << "\n";
    } else if (keys.kind == headless::JointKeyKind::kTransform) {
      out << indent << "  keys: " << keys.transforms.size() << " transforms, frames";
      for (const auto& k : keys.transforms) out << " " << k.frame;
      out << "\n";
    }
  }
}

void PrintObject(headless::Node* object, int depth, std::ostream& out) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out << indent << "object " << TypeName(object->type) << " \"" << headless::Printable(object->name)
      << "\" points=" << object->points.size() << " polygons=" << object->polygons.size() << "\n";
  if (const headless::FileVertices* file = object->fileVertices.get()) {
    out << indent << "  file vertices: " << file->VertexCount() << " of \""
        << headless::Printable(file->object) << "\" (mesh \"" << headless::Printable(file->mesh)
        << "\"), " << file->FaceCount() << " faces" << (file->normals.empty() ? "" : ", normals")
        << (file->uvs.empty() ? "" : ", texture coordinates");
    for (size_t m = 0; m < file->materials.size(); ++m)
      out << (m == 0 ? ", materials \"" : ", \"") << headless::Printable(file->materials[m])
          << "\"";
    out << "\n";
  }
  PrintRig(object, indent, out);
  for (headless::Node* tag : headless::Document::Tags(object)) {
    out << indent << "  tag " << TypeName(tag->type) << " (" << tag->type << ")";
    if (!tag->name.empty() && tag->name != TypeName(tag->type))
      out << " \"" << headless::Printable(tag->name) << "\"";
    if (tag->type == Tvertexmap) out << " weights=" << tag->weights.size();
    out << "\n";
    for (const headless::ParameterRow& row : headless::ListParameters(tag)) {
      out << indent << "    " << row.id;
      if (!row.ident.empty()) out << " " << row.ident;
      if (!row.label.empty()) out << " \"" << row.label << "\"";
      out << " = " << (row.value ? headless::Printable(headless::FormatValue(*row.value)) : "-")
          << (row.enabled ? " (enabled)" : " (disabled)") << "\n";
    }
    if (tag->type == ID_TTESSAMIRE && tag->instance != nullptr) {
      const BindState state = DecodeBindState(headless::WriteNodeState(tag));
      char checksum[24];
      std::snprintf(checksum, sizeof checksum, "%016llx",
                    static_cast<unsigned long long>(state.checksum));
      out << indent << "    bind: bound=" << (state.bound ? "yes" : "no")
          << " differences=" << state.count << " checksum=" << checksum << "\n";
    }
  }
  for (headless::Node* child = object->down; child != nullptr; child = child->next)
    PrintObject(child, depth + 1, out);
}

// What the scene keeps of a character's file beyond its objects.
void PrintCharacter(const headless::Rig& rig, std::ostream& out) {
  out << "character: " << rig.nodes.size() << " nodes, " << rig.materials.size() << " materials, "
      << rig.skins.size() << " skins, " << rig.meshObjects.size() << " meshes\n";
  for (const headless::RigClip& clip : rig.clips)
    out << "  clip \"" << headless::Printable(clip.name) << "\" frames " << clip.firstFrame
        << " to " << clip.lastFrame << ", " << clip.channels.size() << " channels\n";
  for (const std::string& note : rig.notes) out << "  note: " << headless::Printable(note) << "\n";
}

int RunSceneInfo(const Options& options, std::ostream& out, std::ostream&) {
  const std::string path = options.Operands().front();
  std::unique_ptr<headless::Document> doc = headless::LoadScene(path);
  try {
    out << "scene " << path << ": " << doc->Objects().size() << " objects, "
        << headless::ShortestNumber(doc->FrameRate()) << " frames per second\n";
    for (headless::Node* object = doc->FirstObject(); object != nullptr; object = object->next)
      PrintObject(object, 0, out);
    if (doc->rig != nullptr) PrintCharacter(*doc->rig, out);
  } catch (const std::exception& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
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
