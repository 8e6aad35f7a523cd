#include "headless/io/scene_info.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "headless/deformers/skin.h"
#include "headless/entries/stream.h"
#include "headless/files/checksum.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/io/scene_file.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"

namespace headless {
namespace {

std::string TypeName(Int32 type) {
  Registration registration;
  if (FindRegistration(type, registration)) return registration.name;
  switch (type) {
    case Opolygon:
      return "polygon";
    case kNullObjectType:
      return "null";
    case Tvertexmap:
      return "vertex map";
    case Tpoint:
      return "point data";
    case Tpolygon:
      return "polygon data";
    case Oskin:
      return "skin";
    case kJointType:
      return "joint";
    default:
      return "type " + std::to_string(type);
  }
}

struct BindState {
  bool bound = false;
  Int64 count = 0;
  std::uint64_t checksum = kFnv1a64Offset;
};

// Decodes the tag's stored form: bound; when bound, the count and one vector per difference.
BindState DecodeBindState(const std::vector<std::uint8_t>& bytes) {
  MemoryStream stream = MemoryStream::ForReading(bytes);
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
      state.checksum = Fnv1a64(little, sizeof little, state.checksum);
    }
  }
  return state;
}

std::string NodeName(UInt64 serial) {
  const Node* node = FindLiveNode(serial);
  return node == nullptr ? std::string("<none>") : "\"" + Printable(node->name) + "\"";
}

std::string Position(const Vector3& v) {
  char text[96];
  std::snprintf(text, sizeof text, "(%g, %g, %g)", v.x, v.y, v.z);
  return text;
}

// A skin's joints and weight maps, a joint's transforms and keys.
void PrintRig(const Node* object, const std::string& indent, std::ostream& out) {
  if (object->type == Oskin) {
    for (const auto& [id, label] :
         {std::pair{kSkinJoints, "joints"}, std::pair{kSkinWeightMaps, "weight maps"}}) {
      out << indent << "  skin " << label << ":";
      if (const InExcludeValue* list = object->params.GetInExclude(id))
        for (UInt64 serial : list->targets) out << " " << NodeName(serial);
      out << "\n";
    }
  } else if (IsJoint(object)) {
    out << indent << "  joint rest at " << Position(JointRest(object).off) << ", current at "
        << Position(JointCurrent(object).off) << "\n";
    const JointKeys keys = ReadJointKeys(object);
    if (keys.kind == JointKeyKind::kRotation) {
      out << indent << "  keys: " << keys.rotations.size() << " rotations about "
          << Position(keys.pivot) << " along " << Position(keys.axis) << ":";
      for (const auto& k : keys.rotations) out << " " << k.frame << "=" << k.degrees << "deg";
      out << "\n";
    } else if (keys.kind == JointKeyKind::kTransform) {
      out << indent << "  keys: " << keys.transforms.size() << " transforms, frames";
      for (const auto& k : keys.transforms) out << " " << k.frame;
      out << "\n";
    }
  }
}

void PrintObject(Node* object, int depth, std::ostream& out) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out << indent << "object " << TypeName(object->type) << " \"" << Printable(object->name)
      << "\" points=" << object->points.size() << " polygons=" << object->polygons.size() << "\n";
  if (const FileVertices* file = object->fileVertices.get()) {
    out << indent << "  file vertices: " << file->VertexCount() << " of \""
        << Printable(file->object) << "\" (mesh \"" << Printable(file->mesh) << "\"), "
        << file->FaceCount() << " faces" << (file->normals.empty() ? "" : ", normals")
        << (file->uvs.empty() ? "" : ", texture coordinates");
    for (size_t m = 0; m < file->materials.size(); ++m)
      out << (m == 0 ? ", materials \"" : ", \"") << Printable(file->materials[m]) << "\"";
    out << "\n";
  }
  PrintRig(object, indent, out);
  for (Node* tag : Document::Tags(object)) {
    out << indent << "  tag " << TypeName(tag->type) << " (" << tag->type << ")";
    if (!tag->name.empty() && tag->name != TypeName(tag->type))
      out << " \"" << Printable(tag->name) << "\"";
    if (tag->type == Tvertexmap) out << " weights=" << tag->weights.size();
    out << "\n";
    for (const ParameterRow& row : ListParameters(tag)) {
      out << indent << "    " << row.id;
      if (!row.ident.empty()) out << " " << row.ident;
      if (!row.label.empty()) out << " \"" << row.label << "\"";
      out << " = " << (row.value ? Printable(FormatValue(*row.value)) : "-")
          << (row.enabled ? " (enabled)" : " (disabled)") << "\n";
    }
    if (tag->type == ID_TTESSAMIRE && tag->instance != nullptr) {
      const BindState state = DecodeBindState(WriteNodeState(tag));
      char checksum[24];
      std::snprintf(checksum, sizeof checksum, "%016llx",
                    static_cast<unsigned long long>(state.checksum));
      out << indent << "    bind: bound=" << (state.bound ? "yes" : "no")
          << " differences=" << state.count << " checksum=" << checksum << "\n";
    }
  }
  for (Node* child = object->down; child != nullptr; child = child->next)
    PrintObject(child, depth + 1, out);
}

// What the scene keeps of a character's file beyond its objects.
void PrintCharacter(const Rig& rig, std::ostream& out) {
  out << "character: " << rig.nodes.size() << " nodes, " << rig.materials.size() << " materials, "
      << rig.skins.size() << " skins, " << rig.meshObjects.size() << " meshes\n";
  for (const RigClip& clip : rig.clips)
    out << "  clip \"" << Printable(clip.name) << "\" frames " << clip.firstFrame << " to "
        << clip.lastFrame << ", " << clip.channels.size() << " channels\n";
  for (const std::string& note : rig.notes) out << "  note: " << Printable(note) << "\n";
}

}  // namespace

std::vector<std::string> SceneInfoLines(const Document& doc, const std::string& path) {
  std::ostringstream out;
  try {
    out << "scene " << path << ": " << doc.Objects().size() << " objects, "
        << ShortestNumber(doc.FrameRate()) << " frames per second\n";
    for (Node* object = doc.FirstObject(); object != nullptr; object = object->next)
      PrintObject(object, 0, out);
    if (doc.rig != nullptr) PrintCharacter(*doc.rig, out);
  } catch (const std::exception& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace headless
