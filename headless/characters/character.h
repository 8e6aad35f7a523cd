// Rigged, animated characters from the files 3D tools exchange (FBX, glTF 2.0, Collada and X),
// made into what the headless host carries: per mesh a polygon object, its joints with
// their bind transforms, one weight map per joint, a skin deformer under the object linked to
// both, and the animation as transform keys of the joints.
//
// - Formats. Only those documented and tested are read (CharacterFormats): a file is taken when
//   its extension names one of them and its first bytes are of that format, and Assimp reads it
//   with that format's reader alone, never with one of its many others (some of which grow to
//   gigabytes on a forged file). A file of any other name or content is refused naming the
//   formats taken.
// - Points. The file's mesh splits a point along texture and normal seams; the object gets one
//   point per distinct position (bit-equal coordinates, in order of first use), so its surface
//   is connected. The object keeps the file's own vertices (`Node::fileVertices`: per vertex its
//   point, normal and texture coordinates, the faces over the vertices, the material's and the
//   names), so results can be written on them. The vertices are those Assimp delivers: a glTF
//   file's as they stand, in its order; other formats' one per face corner, joined where every
//   attribute agrees, in order of first use. Where copies of one point carry different weights,
//   the first copy's are used and a note says how many differ.
// - Space. Everything is in the mesh's own space (the file's vertex coordinates): joint j's rest
//   transform is the inverse of the bone's offset matrix, and its transform at a frame is the
//   inverse of the mesh node's transform times the bone node's global transform at that time.
//   Skinning then gives M_mesh^-1 * sum_j w_j * G_j(t) * offset_j * v, the file's skinning
//   brought back into the mesh's space, so the detail the deformer restores keeps its size.
// - Keys. Each animation imported, a clip, is sampled at whole frames, its frame k at k / fps
//   seconds (at the file's key time where one falls there, headless/characters/clip_timing.h),
//   from 0 to the animation's end: position and scale keys interpolated linearly, rotations by
//   spherical interpolation, a node without a channel keeping its own transform. `fps` is the
//   first clip's file rate (its ticks per second) unless given; a file without a rate (ticks per
//   second 0 or above 240, as glTF's millisecond ticks are) is sampled at the whole rate its keys
//   are evenly spaced at (keys 1/24 s apart: 24; 12 a second at least), else at 30 with a note.
//   The document takes that rate, and every clip is sampled at it. Key times that are not finite
//   or do not increase are refused, naming the animation, channel and key.
// - Clips. `clip` and `clips` name animations by name (exactly, else case-insensitively when
//   that is unique) or by 0-based index in the file, `allClips` takes them all; without any the
//   first is taken, and when the first does not move (its keys all hold one pose) while others
//   do, a note names those. Clips sit end to end on the timeline in the order asked, the first
//   from frame 0, each the frame after the one before ends.
// - Rigid meshes. A mesh without bones moves with the node that draws it: its object gets one
//   joint (named after that node) weighing every point 1, keyed like any joint.
// - Rig. `doc.rig` receives what the objects do not carry (headless/scene/rig.h): every node of
//   the file, every material, per skinned mesh its skin with every file vertex's own
//   influences, every imported clip's keys as the file gives them. A document that holds a rig
//   already keeps it (a note says the new one is not kept).
// - Refused or skipped, never silently: content the host cannot carry (morph targets, morph and
//   mesh animations, a mesh of lines or points, faces of fewer than 3 corners, the animations
//   not imported, bones without a node) is named in `notes`; a file without any mesh of
//   polygons, or one Assimp cannot read, or a clip it does not hold or that is named twice,
//   throws std::runtime_error naming it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "headless/scene/scene.h"

namespace headless {

// Whether this build can read characters (it was built with Assimp).
bool CharacterImportAvailable();

// The formats taken, for messages and help: "FBX (.fbx), glTF 2.0 (.gltf, .glb), ...".
std::string CharacterFormats();

struct CharacterOptions {
  Float fps = 0.0;   // 0: the file's rate
  std::string clip;  // the animation by name or index; empty: the first
  // Further animations, each by name or index, imported after `clip` in this order.
  std::vector<std::string> clips{};
  bool allClips = false;  // every animation of the file, in its order (no clip may be named)
  // Where the file is read apart from this process (headless/io/character_reader.h): the time
  // the reader is given (0: kDefaultReaderSeconds there) and the reader program (empty: the one
  // next to this program).
  Float readerSeconds = 0.0;
  std::string readerProgram{};
  // Where the files the character names (a glTF's buffers, pictures) must lie: this folder's
  // tree (headless/files/asset_root.h). Empty: the file's own folder; for bytes in memory, none.
  std::string assetRoot{};
};

struct ImportedMesh {
  Node* object = nullptr;
  Node* skin = nullptr;
  std::vector<Node*> joints;
  std::vector<Node*> maps;
  Int64 fileVertices = 0;  // vertices of the file's mesh (object->fileVertices holds them)
  Float size = 0.0;        // the diagonal of the points' bounding box
  bool rigid = false;      // the file gives it no skin: one joint, its node, weighs it all
};

struct CharacterImport {
  std::vector<ImportedMesh> meshes;
  std::vector<std::string> notes;
  Float fps = 0.0;
  Int32 lastFrame = -1;  // keys at frames 0 .. lastFrame; -1 without animation
  // The file's time of each frame 0 .. lastFrame in seconds on the timeline: a clip's key time
  // where one falls on its k / fps (within KeyTimeTolerance), else k / fps, each later clip from
  // its first frame's time.
  std::vector<Float> frameSeconds;
  Int32 clip = -1;  // the first imported animation's index in the file; -1 without any
  std::string clipName;
  struct Clip {
    Int32 index = 0;  // in the file
    std::string name;
    Int32 firstFrame = 0, lastFrame = 0;  // its frames on the document's timeline
  };
  std::vector<Clip> clips;  // every imported animation, end to end on the timeline
};

// Imports `path` into `doc` (objects appended at top level). Throws std::runtime_error "path:
// what" when the file cannot be read, holds no mesh of polygons, or this build has no
// Assimp; std::invalid_argument for an fps that is not finite and positive.
CharacterImport ImportCharacter(const std::string& path, Document& doc,
                                const CharacterOptions& options = {});
// The same from a file's bytes in memory, of the format its content shows (`name` names it in
// messages); a glTF's buffers and pictures in other files cannot be reached from there. The
// fuzzer's way in.
CharacterImport ImportCharacterBytes(std::string_view bytes, const std::string& name, Document& doc,
                                     const CharacterOptions& options = {});

// What a character file holds, read without importing it.
struct CharacterListing {
  struct Mesh {
    std::string name;
    Int64 vertices = 0;  // as the file has them
    Int64 points = 0;    // after welding by position
    Int64 joints = 0;  // bones that weigh its vertices; 0: not skinned, moves rigidly with its node
  };
  struct Joint {
    std::string name;
    std::string parent;  // the nearest ancestor that is a joint too; empty at the root
  };
  struct Clip {
    Int32 index = 0;
    std::string name;
    Int32 frames = 0;  // the frames the import samples, 0 .. frames - 1
    Float fps = 0.0;   // the rate the import samples it at (--fps, the file's, its keys' or 30)
    bool fileRate = false;  // the rate is the file's own
    bool moves = false;     // its keys hold more than one pose
    bool keyRate = false;   // the rate is its keys' spacing (the file gives none)
  };
  std::vector<Mesh> meshes;
  std::vector<Joint> joints;  // every mesh's bones, each once, in order of first use
  std::vector<Clip> clips;
};

// Lists `path`; `options.fps` gives the rate clips are counted at (0: each clip's file rate).
// Throws std::runtime_error as ImportCharacter does when the file cannot be read.
CharacterListing ListCharacter(const std::string& path, const CharacterOptions& options = {});

}  // namespace headless
