// Scene files of the headless host: whole documents saved and loaded, and objects copied with
// their tags, each node's plug-in state going through its WriteState/ReadState/CopyState.
//
// File layout (all integers little-endian, floats as IEEE float64 bit patterns):
//   magic    8 bytes "TSMSCENE"
//   version  u32 (kSceneFormatVersion)
//   size     u64, bytes of content that follow
//   content  size bytes
//   check    u64, 64-bit FNV-1a of every byte before it (magic to the end of the content)
// Content:
//   u32 object count, then per object in depth-first order (parent before children):
//     i32 type, i32 parent (node index of an earlier object, -1 at top level), body,
//     u32 tag count, then per tag in list order: i32 type, body
//   body: name (u32 length + UTF-8 bytes), i32 flags, u8 deform mode,
//         parameters: u32 count, per entry in id order: i32 id, u8 value type, payload
//           (int32: i32; float: f64; string: u32 length + bytes;
//            link: i64 node index, -1 when empty or outside the document;
//            include/exclude: u32 count + i64 node index per entry, entries outside the
//            document dropped),
//         mesh: u32 point count + 3 f64 per point, u32 polygon count + 4 i32 per polygon,
//         weights: u32 count + f32 per weight (vertex maps),
//         plug-in state: u8 present; when 1: i32 plug-in id, i32 disk level of its
//           registration at saving, u64 size, the bytes its WriteState put in a fresh typed
//           stream (headless/stream.h).
//   From version 2 on, after the objects: u32 count of polygon objects with file vertices, then
//   per such object: i64 its node index, its name and its mesh's name in the file (texts),
//   u32 material count + a text per material, u32 vertex count + i32 point per vertex, u8 normals
//   present; when 1: 3 f64 per vertex, u8 texture coordinates present; when 1: 2 f32 per vertex,
//   u32 face count, per face: u32 corner count, i32 material (-1: none), i32 vertex per corner.
//   (Version 1 files end after the objects; their objects have no file vertices.)
//   From version 3 on: f64 the document's frames per second. (Files of versions 1 and 2
//   are read at kDefaultFrameRate, the rate every time in seconds was reckoned at before.)
//   From version 4 on, last: u8 a character's rig present (headless/scene/rig.h); when 1:
//     u32 material count, per material: name, 4 f64 base colour, u8 metallic given,
//       f64 metallic, f64 roughness, texture (text);
//     u32 character mesh count, per mesh: its object's name, i32 material (-1: none);
//     u32 node count, per node: name, i32 parent (an earlier node, -1 at the root), local
//       transform (12 f64: offset, then the three axes), i32 mesh (-1: none);
//     u32 skin count, per skin: i32 mesh, u32 joint count, per joint: i32 node and its inverse
//       bind (12 f64), u32 vertex count, per vertex: u32 influence count, per influence: i32 joint
//       (into the skin's joints) and f32 weight;
//     u32 clip count, per clip: name, i32 first and i32 last frame on the timeline, u32 channel
//       count, per channel: i32 node, u8 path (0 translation, 1 rotation, 2 scale), u32 key
//       count, f64 time per key, then 3 f64 per key (rotations 4: x, y, z, w);
//     u32 note count, a text per note; the folder its pictures are named from (a text).
//   (Files of versions 1 to 3 hold no rig.)
// Nodes are indexed in file order: each object, then its tags, then the next object.
//
// Loading builds a new document; every fault (unreadable, truncated, corrupt, a newer version,
// a plug-in that is not registered, ReadState answering false, a broken mesh) throws
// std::runtime_error "path: what" and nothing the caller holds changes. Loading bounds its work
// before doing it: the header's magic, version and size are checked against the file's size
// before the content is read, every count against the bytes that follow before anything is
// allocated, objects nested kMaxSceneDepth levels deep or more are refused, and each object and
// tag is placed in constant time; a rig's nodes kMaxRigDepth deep or more are refused too. Values
// no reader could use are refused with the node and the
// parameter named: a float parameter that is not finite, a described parameter outside its
// described range or choices, a vertex-map weight outside [0, 1] or not finite, a joint's or a
// point cache's damaged transforms, keys or frames, a vector of a plug-in state that is not
// finite, file vertices CheckFileVertices refuses, and what ReadRig (rig_file.h) refuses of a
// rig: indices outside what they refer to, transforms, colours, weights and keys that are not
// finite, key times that do not increase.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace headless {

// Files are written in kSceneFormatVersion; every version from kOldestSceneFormatVersion on loads.
inline constexpr std::uint32_t kSceneFormatVersion = 4;
inline constexpr std::uint32_t kOldestSceneFormatVersion = 1;
// The first version that keeps the file vertices of imported objects.
inline constexpr std::uint32_t kSceneFormatWithFileVertices = 2;
// The first version that keeps the document's frame rate.
inline constexpr std::uint32_t kSceneFormatWithFrameRate = 3;
// The first version that keeps a character's rig.
inline constexpr std::uint32_t kSceneFormatWithRig = 4;
// Deeper than any scene is built by hand, shallow enough for every walk over the tree.
inline constexpr std::uint32_t kMaxSceneDepth = 1000;

// The file image holding `content`: magic, version, size, the content, its check value.
std::vector<std::uint8_t> SceneFileImage(std::span<const std::uint8_t> content);
// The file image of `doc`. Throws std::runtime_error when a plug-in's WriteState answers false.
std::vector<std::uint8_t> SerializeDocument(const Document& doc);

// What loading learnt of the file besides the document.
struct SceneFileInfo {
  std::uint32_t version = 0;  // the format version the file was written in
};

// A new document from a file image; `source` names it in error messages. `info`, when given,
// receives what loading learnt of the file.
std::unique_ptr<Document> DeserializeDocument(const std::vector<std::uint8_t>& bytes,
                                              const std::string& source,
                                              SceneFileInfo* info = nullptr);

// Whether `path` begins as a scene file does (its magic), so that a command taking a scene or
// another kind of file can tell them apart. False for the standard input ("-"), which cannot be
// looked at first, and for a file that cannot be read (its reader will say why).
bool IsSceneFile(const std::string& path);

// Writes to a temporary file renamed over `path` at the end, so a failure leaves no partial
// file. Throws std::runtime_error naming the path.
void SaveScene(const Document& doc, const std::string& path);
std::unique_ptr<Document> LoadScene(const std::string& path, SceneFileInfo* info = nullptr);
// Loads `path` and, only when that succeeded, replaces `doc` with it.
void LoadSceneInto(const std::string& path, std::unique_ptr<Document>& doc);

// The bytes a node's plug-in instance writes through WriteState into a fresh typed stream.
// Throws std::runtime_error when the node has no instance or WriteState answers false.
std::vector<std::uint8_t> WriteNodeState(Node* node);

// A copy of `source` (an object) with its tags and children, not inserted anywhere: new nodes
// with names, flags, parameters, meshes and weights copied; each plug-in instance is made by
// the registration and filled by CopyState from the source's instance. Links within the copied
// subtree point at the copies; other links keep their targets. Null when an allocation fails or
// a CopyState answers false (nothing is left behind).
Node* CopyObject(const Node* source);

}  // namespace headless
