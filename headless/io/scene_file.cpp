#include "headless/io/scene_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "headless/deformers/cache_deformer.h"
#include "headless/deformers/skin.h"
#include "headless/entries/resources.h"
#include "headless/entries/stream.h"
#include "headless/files/checksum.h"
#include "headless/files/input_file.h"
#include "headless/files/output_file.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/io/rig_file.h"
#include "headless/io/scene_bytes.h"
#include "headless/scene/deform.h"
#include "headless/scene/registry.h"
#include "host/abi/plugin_base.h"

namespace headless {
namespace {

constexpr char kMagic[8] = {'T', 'S', 'M', 'S', 'C', 'E', 'N', 'E'};
constexpr std::size_t kHeaderSize = 8 + 4 + 8;
constexpr std::size_t kCheckSize = 8;

// Frees a node that never made it into the new document.
struct NodeDeleter {
  void operator()(Node* node) const { DestroyNode(node); }
};
using OwnedNode = std::unique_ptr<Node, NodeDeleter>;

std::string NodeLabel(const Node* node) {
  std::string label = node->isTag ? "tag" : "object";
  label += " of type " + std::to_string(node->type);
  if (!node->name.empty()) label += " '" + Printable(node->name) + "'";
  return label;
}

std::string ParameterLabel(Int32 id, const ParameterDescription* described) {
  std::string label = "parameter " + std::to_string(id);
  if (described != nullptr) label += " " + described->ident + " \"" + described->label + "\"";
  return label;
}

// ---------------------------------------------------------------------------------------------
// Writing

using IndexOf = std::unordered_map<UInt64, Int64>;  // node serial -> node index in the file

void WriteParameters(ByteWriter& w, const Container& params, const IndexOf& index) {
  w.Count(params.Entries().size(), "parameters");
  for (const auto& [id, value] : params.Entries()) {
    w.I32(id);
    w.U8(static_cast<std::uint8_t>(value.type));
    switch (value.type) {
      case ValueType::kInt32:
        w.I32(value.int32);
        break;
      case ValueType::kFloat:
        w.F64(value.real);
        break;
      case ValueType::kString:
        w.Text(value.text);
        break;
      case ValueType::kLink: {
        const auto it = index.find(value.link.target);
        w.I64(it == index.end() ? -1 : it->second);
        break;
      }
      case ValueType::kInExclude: {
        std::vector<Int64> entries;
        for (UInt64 serial : value.list.targets) {
          const auto it = index.find(serial);
          if (it != index.end()) entries.push_back(it->second);
        }
        w.Count(entries.size(), "list entries");
        for (Int64 e : entries) w.I64(e);
        break;
      }
    }
  }
}

void WritePluginState(ByteWriter& w, Node* node) {
  if (node->instance == nullptr) {
    w.U8(0);
    return;
  }
  Registration registration;
  if (!FindRegistration(node->type, registration))
    throw std::runtime_error(NodeLabel(node) + ": its plug-in is not registered");
  const std::vector<std::uint8_t> state = WriteNodeState(node);
  w.U8(1);
  w.I32(node->type);
  w.I32(registration.diskLevel);
  w.U64(state.size());
  w.Bytes(state.data(), state.size());
}

void WriteBody(ByteWriter& w, Node* node, const IndexOf& index) {
  w.Text(node->name);
  w.I32(node->flags);
  w.U8(node->deformMode ? 1 : 0);
  WriteParameters(w, node->params, index);
  w.Count(node->points.size(), "points");
  for (const Vector3& p : node->points) {
    w.F64(p.x);
    w.F64(p.y);
    w.F64(p.z);
  }
  w.Count(node->polygons.size(), "polygons");
  for (const CPolygon& f : node->polygons) {
    w.I32(f.a);
    w.I32(f.b);
    w.I32(f.c);
    w.I32(f.d);
  }
  w.Count(node->weights.size(), "weights");
  for (Float32 weight : node->weights) w.F32(weight);
  WritePluginState(w, node);
}

void WriteFileVertices(ByteWriter& w, const FileVertices& file) {
  w.Text(file.object);
  w.Text(file.mesh);
  w.Count(file.materials.size(), "materials");
  for (const std::string& material : file.materials) w.Text(material);
  w.Count(file.vertexPoint.size(), "file vertices");
  for (Int32 point : file.vertexPoint) w.I32(point);
  w.U8(file.normals.empty() ? 0 : 1);
  for (const Vector3& n : file.normals) {
    w.F64(n.x);
    w.F64(n.y);
    w.F64(n.z);
  }
  w.U8(file.uvs.empty() ? 0 : 1);
  for (Float32 uv : file.uvs) w.F32(uv);
  w.Count(static_cast<std::size_t>(file.FaceCount()), "faces");
  for (Int64 f = 0; f < file.FaceCount(); ++f) {
    w.Count(static_cast<std::size_t>(file.faceFirst[f + 1] - file.faceFirst[f]), "face corners");
    w.I32(file.faceMaterial[f]);
    for (Int64 c = file.faceFirst[f]; c < file.faceFirst[f + 1]; ++c) w.I32(file.cornerVertex[c]);
  }
}

// ---------------------------------------------------------------------------------------------
// Reading

struct PendingLink {
  Node* node;
  Int32 id;
  std::vector<Int64> targets;  // node indices; -1 for an empty link
  bool isList;
};

struct PendingState {
  Node* node;
  Int32 level;
  std::vector<std::uint8_t> bytes;
};

struct LoadContext {
  std::vector<Node*> nodes;  // by node index
  std::vector<PendingLink> links;
  std::vector<PendingState> states;
};

void ReadParameters(ByteReader& r, Node* node, LoadContext& ctx) {
  const std::size_t count = r.Count(5, "parameters");
  node->params.Clear();
  for (std::size_t i = 0; i < count; ++i) {
    const Int32 id = r.I32();
    const std::uint8_t type = r.U8();
    switch (static_cast<ValueType>(type)) {
      case ValueType::kInt32:
        node->params.SetInt32(id, r.I32());
        break;
      case ValueType::kFloat:
        node->params.SetFloat(id, r.F64());
        break;
      case ValueType::kString:
        node->params.SetString(id, r.Text());
        break;
      case ValueType::kLink:
        ctx.links.push_back({node, id, {r.I64()}, false});
        break;
      case ValueType::kInExclude: {
        const std::size_t n = r.Count(8, "list entries");
        PendingLink link{node, id, {}, true};
        for (std::size_t k = 0; k < n; ++k) link.targets.push_back(r.I64());
        ctx.links.push_back(std::move(link));
        break;
      }
      default:
        r.Fail("parameter " + std::to_string(id) + " of " + NodeLabel(node) +
               " has an unknown value type " + std::to_string(type));
    }
  }
}

// The typed values of a plug-in's state: every vector finite, since no plug-in can make sense of
// a position or offset that is not a number.
void CheckStateVectors(ByteReader& r, const Node* node, const std::vector<std::uint8_t>& state) {
  MemoryStream stream = MemoryStream::ForReading(state);
  Int64 vectors = 0;
  while (!stream.AtEnd() && !stream.Failed()) {
    const std::uint8_t marker = state[stream.Position()];
    bool flag = false;
    Int32 number = 0;
    Vector3 v;
    if (marker == kStreamBool) {
      stream.ReadBool(flag);
    } else if (marker == kStreamInt32) {
      stream.ReadInt32(number);
    } else if (marker == kStreamVector) {
      if (stream.ReadVector(v) && !(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)))
        r.Fail(NodeLabel(node) + ": vector " + std::to_string(vectors) +
               " of its stored plug-in state is not finite");
      ++vectors;
    } else {
      r.Fail(NodeLabel(node) + ": its stored plug-in state holds an unknown value type " +
             std::to_string(marker));
    }
  }
  if (stream.Failed()) r.Fail(NodeLabel(node) + ": its stored plug-in state is damaged");
}

void ReadBody(ByteReader& r, Node* node, LoadContext& ctx) {
  node->name = r.Text();
  node->flags = r.I32();
  const std::uint8_t deformMode = r.U8();
  if (deformMode > 1) r.Fail("corrupt deform mode of " + NodeLabel(node));
  node->deformMode = deformMode != 0;
  ReadParameters(r, node, ctx);

  std::vector<Vector3> points(r.Count(24, "points"));
  for (Vector3& p : points) {
    p.x = r.F64();
    p.y = r.F64();
    p.z = r.F64();
  }
  std::vector<CPolygon> polygons(r.Count(16, "polygons"));
  for (CPolygon& f : polygons) {
    f.a = r.I32();
    f.b = r.I32();
    f.c = r.I32();
    f.d = r.I32();
  }
  if (node->type == kPointCacheType && !node->isTag && polygons.empty()) {
    // A point cache keeps its samples as points; its parameters say how they play.
    for (const Vector3& p : points)
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
        r.Fail(NodeLabel(node) + ": a cached point is not finite");
    node->points = std::move(points);
  } else if (!points.empty() || !polygons.empty()) {
    if (!node->IsPolygonObject())
      r.Fail(NodeLabel(node) + " holds a mesh but is no polygon object");
    try {
      ValidateMesh(points, polygons);
    } catch (const std::invalid_argument& e) {
      r.Fail(NodeLabel(node) + ": " + e.what());
    }
    node->points = std::move(points);
    node->polygons = std::move(polygons);
  }
  std::vector<Float32> weights(r.Count(4, "weights"));
  for (Float32& w : weights) w = r.F32();
  if (!weights.empty() && !(node->isTag && node->type == Tvertexmap))
    r.Fail(NodeLabel(node) + " holds weights but is no vertex map");
  node->weights = std::move(weights);

  const std::uint8_t present = r.U8();
  if (present > 1) r.Fail("corrupt plug-in state marker of " + NodeLabel(node));
  if (present == 0) return;
  const Int32 pluginId = r.I32();
  const Int32 level = r.I32();
  const std::uint64_t size = r.U64();
  if (size > r.Remaining()) r.Fail("the plug-in state of " + NodeLabel(node) + " is cut short");
  const std::uint8_t* bytes = r.Take(static_cast<std::size_t>(size));
  if (pluginId != node->type)
    r.Fail(NodeLabel(node) + " carries the state of plug-in " + std::to_string(pluginId));
  if (node->instance == nullptr)
    r.Fail(NodeLabel(node) + ": plug-in " + std::to_string(pluginId) +
           " is not registered (load its library before the scene)");
  std::vector<std::uint8_t> state(bytes, bytes + size);
  CheckStateVectors(r, node, state);
  ctx.states.push_back({node, level, std::move(state)});
}

// A registered plug-in type must be made with the kind it was registered as.
void CheckKind(ByteReader& r, Int32 type, bool isTag) {
  Registration registration;
  if (!FindRegistration(type, registration)) {
    if (!isTag && IsHostTagType(type)) r.Fail("type " + std::to_string(type) + " is a tag type");
    if (type == kDocumentType) r.Fail("a document cannot be an object");
    return;
  }
  const PluginKind want = isTag ? PluginKind::kTag : PluginKind::kObject;
  if (registration.kind != want)
    r.Fail("type " + std::to_string(type) + " is registered as a " +
           PluginKindName(registration.kind) + ", stored as " + (isTag ? "tag" : "object"));
}

OwnedNode MakeNode(ByteReader& r, Int32 type, bool isTag) {
  CheckKind(r, type, isTag);
  OwnedNode node(NewNode(type, isTag));
  if (!node) r.Fail("cannot create a node of type " + std::to_string(type));
  return node;
}

Node* ResolveIndex(ByteReader& r, const LoadContext& ctx, Int64 index) {
  if (index == -1) return nullptr;
  if (index < 0 || index >= static_cast<Int64>(ctx.nodes.size()))
    r.Fail("a link refers to node " + std::to_string(index) + " of " +
           std::to_string(ctx.nodes.size()));
  return ctx.nodes[static_cast<std::size_t>(index)];
}

// Values a node's parameters may hold: every float finite; a described number within its
// described range and an int32 with choices one of them. Joints' keys and transforms and point
// caches' frames as their readers take them; vertex-map weights finite and in [0, 1] (0 keeps a
// point, 1 moves it fully).
void CheckValues(ByteReader& r, const Node* node) {
  DescriptionData description;
  const bool described = FindDescription(node->type, description);
  for (const auto& [id, value] : node->params.Entries()) {
    if (value.type != ValueType::kFloat && value.type != ValueType::kInt32) continue;
    const ParameterDescription* d = described ? description.Find(id) : nullptr;
    const bool real = value.type == ValueType::kFloat;
    const std::string shown = real ? ShortestNumber(value.real) : std::to_string(value.int32);
    const std::string label = NodeLabel(node) + ": " + ParameterLabel(id, d);
    const auto refuse = [&](const std::string& why) {
      r.Fail(label + " is " + shown + ", " + why);
    };
    if (real && !std::isfinite(value.real)) refuse("not a finite number");
    if (d == nullptr || (d->type != ParameterType::kFloat && d->type != ParameterType::kInt32))
      continue;
    const Float number = real ? value.real : value.int32;
    if ((d->min && number < *d->min) || (d->max && number > *d->max))
      refuse("outside its range " + (d->min ? ShortestNumber(*d->min) : "") + " to " +
             (d->max ? ShortestNumber(*d->max) : ""));
    if (!real && !d->cycle.empty()) {
      bool listed = false;
      for (const CycleEntry& choice : d->cycle) listed = listed || choice.value == value.int32;
      if (!listed) refuse("none of its choices");
    }
  }
  for (size_t i = 0; i < node->weights.size(); ++i)
    if (!(node->weights[i] >= 0.0f && node->weights[i] <= 1.0f))
      r.Fail(NodeLabel(node) + ": weight " + std::to_string(i) + " is " +
             ShortestNumber(static_cast<Float>(node->weights[i])) + ", not a number from 0 to 1");
  try {
    if (IsJoint(node)) {
      JointRest(node);
      JointCurrent(node);
      ReadJointKeys(node);
    } else if (node->type == kPointCacheType && !node->isTag) {
      PointCacheFrames(node);
    }
  } catch (const std::invalid_argument& e) {
    r.Fail(e.what());
  }
}

FileVertices ReadFileVertices(ByteReader& r) {
  FileVertices file;
  file.object = r.Text();
  file.mesh = r.Text();
  file.materials.resize(r.Count(4, "materials"));
  for (std::string& material : file.materials) material = r.Text();
  file.vertexPoint.resize(r.Count(4, "file vertices"));
  for (Int32& point : file.vertexPoint) point = r.I32();
  const std::size_t vertices = file.vertexPoint.size();
  const auto present = [&](std::size_t bytesEach, const char* what) {
    const std::uint8_t marker = r.U8();
    if (marker > 1) r.Fail(std::string("corrupt marker of the file vertices' ") + what);
    if (marker == 1 && vertices > r.Remaining() / bytesEach)
      r.Fail(std::string("the file vertices' ") + what + " exceed the data that follows");
    return marker == 1;
  };
  if (present(24, "normals")) {
    file.normals.resize(vertices);
    for (Vector3& n : file.normals) {
      n.x = r.F64();
      n.y = r.F64();
      n.z = r.F64();
    }
  }
  if (present(8, "texture coordinates")) {
    file.uvs.resize(2 * vertices);
    for (Float32& uv : file.uvs) uv = r.F32();
  }
  const std::size_t faces = r.Count(8, "faces");
  file.faceFirst.reserve(faces + 1);
  file.faceMaterial.reserve(faces);
  for (std::size_t f = 0; f < faces; ++f) {
    const std::size_t corners = r.Count(4, "face corners");
    file.faceMaterial.push_back(r.I32());
    for (std::size_t c = 0; c < corners; ++c) file.cornerVertex.push_back(r.I32());
    file.faceFirst.push_back(static_cast<Int64>(file.cornerVertex.size()));
  }
  return file;
}

// After the objects, the file vertices of the objects that have them.
void ReadAllFileVertices(ByteReader& r, const LoadContext& ctx) {
  const std::size_t count = r.Count(9, "objects with file vertices");
  for (std::size_t i = 0; i < count; ++i) {
    const Int64 index = r.I64();
    Node* object = index >= 0 && index < static_cast<Int64>(ctx.nodes.size())
                       ? ctx.nodes[static_cast<std::size_t>(index)]
                       : nullptr;
    if (object == nullptr || !object->IsPolygonObject())
      r.Fail("file vertices for node " + std::to_string(index) + ", which is no polygon object");
    if (object->fileVertices != nullptr) r.Fail(NodeLabel(object) + " has its file vertices twice");
    auto file = std::make_shared<FileVertices>(ReadFileVertices(r));
    try {
      CheckFileVertices(*file, static_cast<Int64>(object->points.size()));
    } catch (const std::invalid_argument& e) {
      r.Fail(NodeLabel(object) + ": its file vertices: " + e.what());
    }
    object->fileVertices = std::move(file);
  }
}

std::unique_ptr<Document> ReadContent(ByteReader& r, std::uint32_t version) {
  auto doc = NewDocument();
  LoadContext ctx;
  // Per node index: an object's depth in the tree and its last child so far, so that appending
  // a child takes constant time and no walk over the tree can run out of stack.
  std::vector<std::uint32_t> depth;
  std::vector<Node*> lastChild;
  Node* lastTopLevel = nullptr;
  const std::size_t objectCount = r.Count(1, "objects");
  for (std::size_t i = 0; i < objectCount; ++i) {
    const Int32 type = r.I32();
    const Int32 parentIndex = r.I32();
    OwnedNode object = MakeNode(r, type, false);
    const Int64 ownIndex = static_cast<Int64>(ctx.nodes.size());
    Node* parent = nullptr;
    std::uint32_t level = 0;
    if (parentIndex != -1) {
      if (parentIndex < 0 || parentIndex >= ownIndex || ctx.nodes[parentIndex]->isTag)
        r.Fail("object " + std::to_string(i) + " has no valid parent (" +
               std::to_string(parentIndex) + ")");
      parent = ctx.nodes[static_cast<std::size_t>(parentIndex)];
      level = depth[static_cast<std::size_t>(parentIndex)] + 1;
      if (level >= kMaxSceneDepth)
        r.Fail("object " + std::to_string(i) + " lies deeper than " +
               std::to_string(kMaxSceneDepth) + " levels in the object tree");
    }
    ReadBody(r, object.get(), ctx);
    CheckValues(r, object.get());

    // The tags hang on the object before it goes into the document, one after the other.
    std::vector<OwnedNode> tags;
    const std::size_t tagCount = r.Count(1, "tags");
    for (std::size_t k = 0; k < tagCount; ++k) {
      OwnedNode tag = MakeNode(r, r.I32(), true);
      ReadBody(r, tag.get(), ctx);
      CheckValues(r, tag.get());
      tags.push_back(std::move(tag));
    }
    Node* previousTag = nullptr;
    for (OwnedNode& owned : tags) {
      Node* tag = owned.release();
      tag->up = object.get();
      tag->prev = previousTag;
      (previousTag != nullptr ? previousTag->next : object->firstTag) = tag;
      previousTag = tag;
    }

    Node*& last =
        parent != nullptr ? lastChild[static_cast<std::size_t>(parentIndex)] : lastTopLevel;
    if (last != nullptr) {
      doc->InsertAfter(object.get(), last);
    } else {
      doc->InsertLast(object.get(), parent);
    }
    Node* placed = object.release();
    last = placed;
    ctx.nodes.push_back(placed);
    depth.push_back(level);
    lastChild.push_back(nullptr);
    for (Node* tag = placed->firstTag; tag != nullptr; tag = tag->next) {
      ctx.nodes.push_back(tag);
      depth.push_back(0);
      lastChild.push_back(nullptr);
    }
  }
  if (version >= kSceneFormatWithFileVertices) ReadAllFileVertices(r, ctx);
  if (version >= kSceneFormatWithFrameRate) {
    const Float fps = r.F64();
    if (!std::isfinite(fps) || !(fps > 0.0))
      r.Fail("the frame rate " + ShortestNumber(fps) + " is not a finite number above 0");
    doc->SetFrameRate(fps);
  }
  if (version >= kSceneFormatWithRig && r.U8() != 0)
    doc->rig = std::make_shared<const Rig>(ReadRig(r));
  if (r.Remaining() != 0) r.Fail("unexpected data after the last object");

  for (const PendingLink& link : ctx.links) {
    std::vector<UInt64> serials;
    for (Int64 index : link.targets) {
      Node* target = ResolveIndex(r, ctx, index);
      if (link.isList && target == nullptr) r.Fail("an include/exclude entry is empty");
      serials.push_back(target != nullptr ? target->serial : 0);
    }
    if (link.isList) {
      link.node->params.SetInExclude(link.id, std::move(serials));
    } else {
      link.node->params.SetLink(link.id, serials.front());
    }
  }

  // Plug-in states last, so that each instance finds its node complete and in its document.
  for (PendingState& state : ctx.states) {
    MemoryStream stream = MemoryStream::ForReading(std::move(state.bytes));
    bool read = false;
    try {
      read = state.node->instance->CallReadState(ToList(state.node), ToHyperFile(&stream),
                                                 state.level);
    } catch (...) {
      read = false;
    }
    if (!read)
      throw std::runtime_error("plug-in " + std::to_string(state.node->type) +
                               " could not read the state of " + NodeLabel(state.node));
  }
  return doc;
}

}  // namespace

std::vector<std::uint8_t> WriteNodeState(Node* node) {
  if (node == nullptr || node->instance == nullptr)
    throw std::runtime_error("the node has no plug-in instance");
  MemoryStream stream;
  bool written = false;
  try {
    written = node->instance->CallWriteState(ToList(node), ToHyperFile(&stream));
  } catch (...) {
    written = false;
  }
  if (!written || stream.Failed())
    throw std::runtime_error("plug-in " + std::to_string(node->type) +
                             " could not write the state of " + NodeLabel(node));
  return stream.Bytes();
}

std::vector<std::uint8_t> SerializeDocument(const Document& doc) {
  const std::vector<Node*> objects = doc.Objects();
  IndexOf index;
  Int64 next = 0;
  // A file the loader would refuse is not written: its depth is checked here as there.
  std::unordered_map<UInt64, std::uint32_t> depth;
  for (Node* object : objects) {
    const std::uint32_t level = object->up != nullptr ? depth.at(object->up->serial) + 1 : 0;
    if (level >= kMaxSceneDepth)
      throw std::runtime_error(NodeLabel(object) + " lies deeper than " +
                               std::to_string(kMaxSceneDepth) +
                               " levels in the object tree, too deep to be loaded again");
    depth[object->serial] = level;
    index[object->serial] = next++;
    for (Node* tag : Document::Tags(object)) index[tag->serial] = next++;
  }

  ByteWriter content;
  content.Count(objects.size(), "objects");
  std::vector<const Node*> withFileVertices;
  for (Node* object : objects) {
    if (object->fileVertices != nullptr) withFileVertices.push_back(object);
    content.I32(object->type);
    content.I32(object->up != nullptr ? static_cast<Int32>(index.at(object->up->serial)) : -1);
    WriteBody(content, object, index);
    const std::vector<Node*> tags = Document::Tags(object);
    content.Count(tags.size(), "tags");
    for (Node* tag : tags) {
      content.I32(tag->type);
      WriteBody(content, tag, index);
    }
  }
  content.Count(withFileVertices.size(), "objects with file vertices");
  for (const Node* object : withFileVertices) {
    content.I64(index.at(object->serial));
    WriteFileVertices(content, *object->fileVertices);
  }
  content.F64(doc.FrameRate());
  content.U8(doc.rig != nullptr ? 1 : 0);
  if (doc.rig != nullptr) WriteRig(content, *doc.rig);

  return SceneFileImage(content.Buffer());
}

std::vector<std::uint8_t> SceneFileImage(std::span<const std::uint8_t> content) {
  ByteWriter file;
  file.Bytes(kMagic, sizeof kMagic);
  file.U32(kSceneFormatVersion);
  file.U64(content.size());
  file.Bytes(content.data(), content.size());
  file.U64(Fnv1a64(file.Buffer().data(), file.Buffer().size()));
  return std::move(file.Buffer());
}

namespace {

struct Header {
  std::uint32_t version = 0;
  std::uint64_t size = 0;  // of the content
};

// Checks magic, version and the content size the header announces against the size of the
// whole file, when that is known, before any content is read.
Header CheckHeader(std::string_view head, const std::string& source,
                   std::optional<std::uint64_t> fileSize) {
  const auto fail = [&](const std::string& what) {
    throw std::runtime_error(source + ": " + what);
  };
  if (head.size() < sizeof kMagic || std::memcmp(head.data(), kMagic, sizeof kMagic) != 0)
    fail("not a scene file (no scene file magic)");
  if (head.size() < kHeaderSize || (fileSize && *fileSize < kHeaderSize + kCheckSize))
    fail("truncated scene file (" + std::to_string(fileSize.value_or(head.size())) + " bytes)");
  ByteReader header(reinterpret_cast<const std::uint8_t*>(head.data()), kHeaderSize);
  header.Take(sizeof kMagic);
  const std::uint32_t version = header.U32();
  const std::uint64_t size = header.U64();
  if (version < kOldestSceneFormatVersion || version > kSceneFormatVersion)
    fail("scene format version " + std::to_string(version) + " is not supported (this host reads " +
         std::to_string(kOldestSceneFormatVersion) + " to " + std::to_string(kSceneFormatVersion) +
         ")");
  if (fileSize) {
    const std::uint64_t available = *fileSize - kHeaderSize - kCheckSize;
    if (size > available)
      fail("truncated scene file: " + std::to_string(size) + " content bytes announced, " +
           std::to_string(available) + " present");
    if (size < available) fail("corrupt scene file: data after the check value");
  }
  return {version, size};
}

}  // namespace

std::unique_ptr<Document> DeserializeDocument(const std::vector<std::uint8_t>& bytes,
                                              const std::string& source, SceneFileInfo* info) {
  const auto [version, size] =
      CheckHeader(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                  source, bytes.size());
  ByteReader check(bytes.data() + kHeaderSize + size, kCheckSize);
  if (check.U64() != Fnv1a64(bytes.data(), kHeaderSize + static_cast<std::size_t>(size)))
    throw std::runtime_error(source +
                             ": corrupt scene file: the check value does not match the content");
  try {
    ByteReader content(bytes.data() + kHeaderSize, static_cast<std::size_t>(size));
    std::unique_ptr<Document> doc = ReadContent(content, version);
    if (info != nullptr) info->version = version;
    return doc;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw std::runtime_error(source + ": " + e.what());
  }
}

void SaveScene(const Document& doc, const std::string& path) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = SerializeDocument(doc);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
  WriteFileAtomically(path, std::span<const std::uint8_t>(bytes));
}

std::unique_ptr<Document> LoadScene(const std::string& path, SceneFileInfo* info) {
  InputFile in(path);
  std::string bytes;
  in.Read(kHeaderSize, bytes);
  // The standard input has no size to check against: it is read only as far as announced (and
  // held only as far as it delivers), then must end there.
  const std::uint64_t size = CheckHeader(bytes, path, in.Size()).size;
  if (in.Read(size + kCheckSize, bytes) != size + kCheckSize)
    throw std::runtime_error(
        path + ": truncated scene file: " + std::to_string(size) + " content bytes announced, " +
        std::to_string(bytes.size() -
                       std::min<std::size_t>(bytes.size(), kHeaderSize + kCheckSize)) +
        " present");
  std::string beyond;
  if (in.Read(1, beyond) != 0)
    throw std::runtime_error(path + ": corrupt scene file: data after the check value");
  return DeserializeDocument(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), path, info);
}

bool IsSceneFile(const std::string& path) {
  if (path == "-") return false;
  std::string head;
  try {
    InputFile(path).Read(sizeof kMagic, head);
  } catch (const std::runtime_error&) {
    return false;
  }
  return head.size() == sizeof kMagic && std::memcmp(head.data(), kMagic, sizeof kMagic) == 0;
}

void LoadSceneInto(const std::string& path, std::unique_ptr<Document>& doc) {
  std::unique_ptr<Document> loaded = LoadScene(path);
  doc.swap(loaded);
}

// ---------------------------------------------------------------------------------------------
// Copying

namespace {

using CopyMap = std::unordered_map<UInt64, UInt64>;  // source serial -> copy serial

// Copies one node's own data (not its tags or children); null on failure.
OwnedNode CopyOne(const Node* source) {
  OwnedNode copy(NewNode(source->type, source->isTag));
  if (!copy) return nullptr;
  copy->name = source->name;
  copy->flags = source->flags;
  copy->deformMode = source->deformMode;
  copy->params = source->params;
  copy->points = source->points;
  copy->polygons = source->polygons;
  copy->fileVertices = source->fileVertices;
  copy->weights = source->weights;
  if (source->instance != nullptr && copy->instance != nullptr) {
    bool copied = false;
    try {
      copied = source->instance->CallCopyState(copy->instance, ToList(const_cast<Node*>(source)),
                                               ToList(copy.get()), 0, nullptr);
    } catch (...) {
      copied = false;
    }
    if (!copied) return nullptr;
  }
  return copy;
}

OwnedNode CopyTree(const Node* source, CopyMap& map, std::vector<Node*>& made) {
  OwnedNode copy = CopyOne(source);
  if (!copy) return nullptr;
  map[source->serial] = copy->serial;
  made.push_back(copy.get());
  Node* lastTag = nullptr;
  for (const Node* tag = source->firstTag; tag != nullptr; tag = tag->next) {
    OwnedNode tagCopy = CopyOne(tag);
    if (!tagCopy) return nullptr;
    map[tag->serial] = tagCopy->serial;
    made.push_back(tagCopy.get());
    Node* t = tagCopy.release();
    t->up = copy.get();
    t->prev = lastTag;
    (lastTag != nullptr ? lastTag->next : copy->firstTag) = t;
    lastTag = t;
  }
  Node* lastChild = nullptr;
  for (const Node* child = source->down; child != nullptr; child = child->next) {
    OwnedNode childCopy = CopyTree(child, map, made);
    if (!childCopy) return nullptr;
    Node* c = childCopy.release();
    c->up = copy.get();
    c->prev = lastChild;
    (lastChild != nullptr ? lastChild->next : copy->down) = c;
    lastChild = c;
  }
  return copy;
}

}  // namespace

Node* CopyObject(const Node* source) {
  if (source == nullptr || source->isTag || source->type == kDocumentType) return nullptr;
  CopyMap map;
  std::vector<Node*> made;
  OwnedNode copy = CopyTree(source, map, made);
  if (!copy) return nullptr;
  for (Node* node : made) {
    for (const auto& [id, value] : node->params.Entries()) {
      if (value.type == ValueType::kLink) {
        const auto it = map.find(value.link.target);
        if (it != map.end()) node->params.SetLink(id, it->second);
      } else if (value.type == ValueType::kInExclude) {
        std::vector<UInt64> targets = value.list.targets;
        for (UInt64& t : targets) {
          const auto it = map.find(t);
          if (it != map.end()) t = it->second;
        }
        node->params.SetInExclude(id, std::move(targets));
      }
    }
  }
  return copy.release();
}

}  // namespace headless
