#include "headless/job/bake_character.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <stdexcept>

#include "headless/batch/keyed_range.h"
#include "headless/characters/glb_skin.h"
#include "headless/characters/rig_pose.h"
#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/files/output_folder.h"
#include "headless/files/shortest_number.h"
#include "headless/geometry/box.h"
#include "headless/job/main_job.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"

namespace headless {
namespace {

// One deformed mesh: its skin's joints and the problem its poses build.
struct MeshPoses {
  Node* object = nullptr;
  Int32 rigMesh = -1;
  std::vector<Node*> joints;
  BakeProblem problem;
  std::vector<Int64> frameOf;  // per pose: its frame, or -1 for a range-of-motion pose
};

std::vector<Node*> Listed(const Node* skin, Int32 id) {
  std::vector<Node*> nodes;
  if (const InExcludeValue* list = skin->params.GetInExclude(id))
    for (const UInt64 serial : list->targets) nodes.push_back(FindLiveNode(serial));
  return nodes;
}

// The rest points, the source's weights from the skin's maps and the edge neighbours.
MeshPoses StartMesh(const Rig& rig, Node* object) {
  MeshPoses mesh;
  mesh.object = object;
  mesh.rigMesh = RigMeshNamed(rig, object->name);
  const Node* skin = object->down;
  while (skin != nullptr && skin->type != Oskin) skin = skin->next;
  for (const RigSkin& s : rig.skins)
    if (s.mesh == mesh.rigMesh) mesh.problem.bakeJoints = static_cast<Int32>(s.joints.size());
  if (skin == nullptr || mesh.rigMesh < 0 || mesh.problem.bakeJoints == 0) return mesh;
  mesh.joints = Listed(skin, kSkinJoints);
  const std::vector<Node*> maps = Listed(skin, kSkinWeightMaps);
  BakeProblem& problem = mesh.problem;
  problem.rest = object->points;
  const size_t points = problem.rest.size();
  for (size_t p = 0; p < points; ++p) {
    for (size_t j = 0; j < maps.size(); ++j)
      if (maps[j] != nullptr && maps[j]->weights.size() == points && maps[j]->weights[p] != 0.0f) {
        problem.sourceJoint.push_back(static_cast<Int32>(j));
        problem.sourceWeight.push_back(maps[j]->weights[p]);
      }
    problem.sourceFirst.push_back(static_cast<Int64>(problem.sourceJoint.size()));
  }
  std::vector<std::vector<Int32>> around(points);
  for (const CPolygon& poly : object->polygons) {
    const Int32 corners[4] = {poly.a, poly.b, poly.c, poly.d};
    for (int k = 0; k < 4; ++k) {
      const Int32 u = corners[k], v = corners[(k + 1) % 4];
      if (u == v) continue;
      around[static_cast<size_t>(u)].push_back(v);
      around[static_cast<size_t>(v)].push_back(u);
    }
  }
  for (std::vector<Int32>& list : around) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    problem.neighbour.insert(problem.neighbour.end(), list.begin(), list.end());
    problem.neighbourFirst.push_back(static_cast<Int64>(problem.neighbour.size()));
  }
  return mesh;
}

// Each joint's rest-to-current matrix, and the mesh's points as the deformers leave them.
void TakePose(MeshPoses& mesh, Int64 frame) {
  std::vector<Matrix> matrices;
  for (const Node* joint : mesh.joints)
    matrices.push_back(Multiply(JointCurrent(joint), Inverse(JointRest(joint))));
  mesh.problem.poses.push_back(std::move(matrices));
  mesh.problem.targets.push_back(DeformedPoints(mesh.object));
  mesh.frameOf.push_back(frame);
}

void CheckEvaluated(const DeformReport& report, const std::string& source, const std::string& at) {
  if (!report.Ok()) throw std::runtime_error(source + ": " + at + ": " + report.errors.front());
}

void JointSubtree(Node* node, std::vector<Node*>& out) {
  if (IsJoint(node)) out.push_back(node);
  for (Node* child = node->down; child != nullptr; child = child->next) JointSubtree(child, out);
}

// Every joint of every mesh at rest, then `joint` and the joints below it turned about one of
// its axes through its origin.
void RangePoses(Document& doc, std::vector<MeshPoses>& meshes, Float degrees,
                const std::string& source) {
  std::vector<Node*> all;
  for (Node* node : doc.Objects())
    if (IsJoint(node)) all.push_back(node);
  for (MeshPoses& mesh : meshes)
    for (Int32 j = 0; j < mesh.problem.bakeJoints && j < static_cast<Int32>(mesh.joints.size());
         ++j) {
      Node* joint = mesh.joints[static_cast<size_t>(j)];
      std::vector<Node*> turned;
      JointSubtree(joint, turned);
      const Matrix rest = JointRest(joint);
      for (const Vector3& axis : {rest.v1, rest.v2, rest.v3})
        for (const Float sign : {1.0, -1.0}) {
          if (axis.x == 0.0 && axis.y == 0.0 && axis.z == 0.0) continue;
          const Matrix r = RotationAbout(rest.off, axis, sign * degrees * std::numbers::pi / 180.0);
          for (Node* node : all) SetJointCurrent(node, JointRest(node));
          for (Node* node : turned) SetJointCurrent(node, Multiply(r, JointRest(node)));
          CheckEvaluated(EvaluateDocument(doc), source, "--range-of-motion");
          TakePose(mesh, -1);
        }
    }
}

struct Sums {
  Float source = 0.0, baked = 0.0, sourceSquares = 0.0, bakedSquares = 0.0;
  Float sourceLargest = 0.0, bakedLargest = 0.0;
  Int64 count = 0;
};

Float Distance(const Vector3& a, const Vector3& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                   (a.z - b.z) * (a.z - b.z));
}

// The figures over the poses that are frames and that `take` selects (by their index among the
// frames).
template <typename Take>
BakeFigures Figures(const std::vector<MeshPoses>& meshes, const std::vector<BakedWeights>& baked,
                    Float extent, Take take) {
  // Below float32's step at the extent, a frame's difference is the weights' rounding, not worse.
  const Float step = 1e-7 * extent;
  BakeFigures figures;
  Sums all;
  std::vector<Vector3> source, solved;
  const size_t poses = meshes.empty() ? 0 : meshes.front().frameOf.size();
  for (size_t t = 0, frame = 0; t < poses; ++t) {
    if (meshes.front().frameOf[t] < 0) continue;
    if (!take(frame++)) continue;
    Sums here;
    for (size_t m = 0; m < meshes.size(); ++m) {
      const BakeProblem& problem = meshes[m].problem;
      SkinSource(problem, t, source);
      SkinBaked(problem, baked[m], t, solved);
      for (size_t p = 0; p < problem.rest.size(); ++p) {
        const Float s = Distance(source[p], problem.targets[t][p]);
        const Float b = Distance(solved[p], problem.targets[t][p]);
        here.source += s;
        here.baked += b;
        here.sourceSquares += s * s;
        here.bakedSquares += b * b;
        here.sourceLargest = std::max(here.sourceLargest, s);
        here.bakedLargest = std::max(here.bakedLargest, b);
        ++here.count;
      }
    }
    if (here.bakedSquares > here.sourceSquares + static_cast<Float>(here.count) * step * step)
      figures.worse.push_back(meshes.front().frameOf[t]);
    all.source += here.source;
    all.baked += here.baked;
    all.sourceSquares += here.sourceSquares;
    all.bakedSquares += here.bakedSquares;
    all.sourceLargest = std::max(all.sourceLargest, here.sourceLargest);
    all.bakedLargest = std::max(all.bakedLargest, here.bakedLargest);
    all.count += here.count;
    ++figures.frames;
  }
  if (all.count == 0) return figures;
  figures.sourceMean = all.source / static_cast<Float>(all.count);
  figures.bakedMean = all.baked / static_cast<Float>(all.count);
  figures.sourceLargest = all.sourceLargest;
  figures.bakedLargest = all.bakedLargest;
  figures.recovered = all.sourceSquares > 0.0 ? 1.0 - all.bakedSquares / all.sourceSquares : 0.0;
  return figures;
}

// The rig with each baked mesh's skin replaced: per file vertex its point's slots, or the file's
// own influences where the point's source names no joint of the rig.
std::shared_ptr<Rig> BakedRig(const Rig& rig, const std::vector<MeshPoses>& meshes,
                              const std::vector<BakedWeights>& baked) {
  auto out = std::make_shared<Rig>(rig);
  for (size_t m = 0; m < meshes.size(); ++m) {
    const FileVertices* file = meshes[m].object->fileVertices.get();
    for (RigSkin& skin : out->skins) {
      if (skin.mesh != meshes[m].rigMesh || file == nullptr) continue;
      const RigSkin old = skin;
      skin.first.assign(1, 0);
      skin.joint.clear();
      skin.weight.clear();
      const Int32 slots = baked[m].weights.slots;
      for (Int64 v = 0; v < file->VertexCount(); ++v) {
        const auto p = static_cast<size_t>(file->vertexPoint[static_cast<size_t>(v)]);
        if (baked[m].weights.joint[p * slots] < 0) {
          for (Int64 i = old.first[v]; i < old.first[v + 1]; ++i) {
            skin.joint.push_back(old.joint[i]);
            skin.weight.push_back(old.weight[i]);
          }
        }
        for (Int32 s = 0; s < slots; ++s)
          if (baked[m].weights.joint[p * slots + s] >= 0) {
            skin.joint.push_back(baked[m].weights.joint[p * slots + s]);
            skin.weight.push_back(baked[m].weights.weight[p * slots + s]);
          }
        skin.first.push_back(static_cast<Int64>(skin.joint.size()));
      }
    }
  }
  return out;
}

void WriteBaked(const Document& doc, const BakeRequest& request, const EvalRequest& eval,
                std::shared_ptr<const Rig> rig, BakeResult& result) {
  SkinGlbWriter writer(rig, {request.solve.influences, false, eval.fps.value_or(doc.FrameRate()),
                             rig->pictureFolder, eval.frameSeconds});
  Int32 fileMeshes = 0;
  for (const Node* object : doc.Objects()) {
    if (!object->IsPolygonObject() || object->fileVertices == nullptr) continue;
    const FileVertices& file = *object->fileVertices;
    writer.AddMesh(fileMeshes++, object->fileVertices, FileVertexPositions(file, object->points),
                   file.normals);
  }
  // The writer's notes speak of correctives, which a baked file has none of.
  for (std::string note : writer.Notes()) {
    for (const char* aside : {" (the correctives still reach every corrected point)",
                              " (the targets make up the difference at every frame written)"})
      if (const size_t at = note.find(aside); at != std::string::npos)
        note.erase(at, std::string(aside).size());
    result.notes.push_back(note);
  }
  PrepareOutputFolder(request.out);
  writer.Write(request.out);
}

void CheckRequest(const BakeRequest& request) {
  if (request.rangeOfMotion && !(std::isfinite(*request.rangeOfMotion) &&
                                 *request.rangeOfMotion > 0.0 && *request.rangeOfMotion <= 180.0))
    throw std::invalid_argument("--range-of-motion must be above 0 and at most 180 degrees, not " +
                                ShortestNumber(*request.rangeOfMotion));
  if (request.holdout < 0)
    throw std::invalid_argument("--holdout must be 0 or more, not " +
                                std::to_string(request.holdout));
  if (request.solve.influences != 4 && request.solve.influences != 8)
    throw std::invalid_argument("--influences must be 4 or 8, not " +
                                std::to_string(request.solve.influences));
  if (request.out.empty()) throw std::invalid_argument("bake needs the glTF file to write");
}

std::vector<MeshPoses> GatherPoses(Document& doc, const BakeRequest& request, EvalRequest& eval,
                                   const CorrectObserver& observer, BakeResult& result) {
  std::vector<MeshPoses> meshes;
  for (Node* object : BindCorrection(doc, request.correct, eval, observer)) {
    MeshPoses mesh = StartMesh(*doc.rig, object);
    if (mesh.joints.empty())
      result.notes.push_back("mesh \"" + object->name +
                             "\" has no skin of the character's joints: left as it is");
    else
      meshes.push_back(std::move(mesh));
  }
  if (meshes.empty())
    throw std::runtime_error(eval.source +
                             ": no mesh is skinned by the character's joints; "
                             "nothing to bake");
  const FrameRange range = eval.frames ? *eval.frames : KeyedRange(doc);
  for (Int64 frame = range.first; frame <= range.last; ++frame) {
    CheckEvaluated(EvaluateDocumentAtFrame(doc, static_cast<Float>(frame)), eval.source,
                   "frame " + std::to_string(frame));
    for (MeshPoses& mesh : meshes) TakePose(mesh, frame);
    ++result.frames;
  }
  if (request.rangeOfMotion) {
    RangePoses(doc, meshes, *request.rangeOfMotion, eval.source);
    // Each mesh has its own joints and range poses, after the frames every mesh shares.
    for (const MeshPoses& mesh : meshes)
      result.rangePoses += static_cast<Int64>(mesh.frameOf.size()) - result.frames;
  }
  return meshes;
}

std::string Digits(Float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

std::string Share(Float value, Float extent) {
  return extent > 0.0 ? " (" + Digits(100.0 * value / extent) + "% of it)" : "";
}

void FigureLines(const BakeFigures& f, Float extent, std::vector<std::string>& lines) {
  lines.push_back("  source weights: mean " + Digits(f.sourceMean) + Share(f.sourceMean, extent) +
                  ", largest " + Digits(f.sourceLargest) + Share(f.sourceLargest, extent));
  lines.push_back("  baked weights:  mean " + Digits(f.bakedMean) + Share(f.bakedMean, extent) +
                  ", largest " + Digits(f.bakedLargest) + Share(f.bakedLargest, extent));
  lines.push_back("  share of the correction recovered: " + Digits(100.0 * f.recovered) + "%");
  std::string worse;
  for (const Int64 frame : f.worse) worse += (worse.empty() ? "" : ", ") + std::to_string(frame);
  lines.push_back("  frames where the bake does worse: " + (worse.empty() ? "none" : worse));
}

}  // namespace

std::vector<std::string> BakeReportLines(const BakeResult& result) {
  std::vector<std::string> lines;
  Int64 points = 0, kept = 0;
  for (const BakedMesh& mesh : result.meshes) {
    points += static_cast<Int64>(mesh.weights.keptSource.size());
    kept += mesh.weights.keptSourceCount;
  }
  lines.push_back("baked " + std::to_string(points) + " points of " +
                  std::to_string(result.meshes.size()) + " meshes over " +
                  std::to_string(result.frames) + " frames and " +
                  std::to_string(result.rangePoses) + " range-of-motion poses; " +
                  std::to_string(kept) + " points keep their source weights");
  lines.push_back("distance to the corrected points (extent " + Digits(result.extent) +
                  "), written weights over all " + std::to_string(result.fit.frames) + " frames:");
  FigureLines(result.fit, result.extent, lines);
  if (!result.heldOut) return lines;
  if (result.heldOut->frames == 0) {
    lines.push_back("held out: no frame (fewer frames than --holdout)");
    return lines;
  }
  lines.push_back("held out: " + std::to_string(result.heldOut->frames) +
                  " frames, solved without them:");
  FigureLines(*result.heldOut, result.extent, lines);
  return lines;
}

BakeResult BakeCharacter(const BakeRequest& request, const CorrectObserver& observer) {
  CheckRequest(request);
  RequirePluginParts();
  EvalRequest eval = request.correct.eval;
  const std::unique_ptr<Document> doc = LoadCorrectInput(request.correct, eval, observer);
  if (doc->rig == nullptr)
    throw std::runtime_error(eval.source +
                             ": holds no character's rig, and a baked glTF is written over one; "
                             "bake the character file it came from");
  RefuseOverwritingInputs(request.out, {eval.source});
  BakeResult result;
  std::vector<MeshPoses> meshes = GatherPoses(*doc, request, eval, observer, result);
  std::vector<BakedWeights> baked;
  Int64 crowded = 0;
  for (const MeshPoses& mesh : meshes)
    for (size_t p = 0; p + 1 < mesh.problem.sourceFirst.size(); ++p)
      crowded +=
          mesh.problem.sourceFirst[p + 1] - mesh.problem.sourceFirst[p] > request.solve.influences;
  if (crowded > 0)
    result.notes.push_back(std::to_string(crowded) + " points carry more than " +
                           std::to_string(request.solve.influences) +
                           " source influences, which the baked weights cannot hold all of; "
                           "--influences 8 holds more");
  for (const MeshPoses& mesh : meshes) {
    baked.push_back(SolveBake(mesh.problem, request.solve));
    result.meshes.push_back({mesh.object->name, baked.back()});
    if (!mesh.problem.rest.empty()) {
      const auto [low, high] = Bounds(mesh.problem.rest);
      result.extent = std::max(result.extent, Distance(low, high));
    }
  }
  result.fit = Figures(meshes, baked, result.extent, [](size_t) { return true; });
  const Int32 every = request.holdout;
  if (request.report && every > 0) {
    const auto held = [every](size_t frame) { return (frame + 1) % every == 0; };
    std::vector<BakedWeights> trained;
    for (const MeshPoses& mesh : meshes) {
      std::vector<std::uint8_t> training;
      for (size_t t = 0, frame = 0; t < mesh.frameOf.size(); ++t)
        training.push_back(mesh.frameOf[t] < 0 || !held(frame++) ? 1 : 0);
      trained.push_back(SolveBake(mesh.problem, request.solve, training));
    }
    result.heldOut = Figures(meshes, trained, result.extent, held);
  }
  WriteBaked(*doc, request, eval, BakedRig(*doc->rig, meshes, baked), result);
  return result;
}

}  // namespace headless
