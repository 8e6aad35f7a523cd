// The skinned glTF: a player written from the format's rules (tests/support/gltf_player.h)
// reads back every file and must land each frame's corrected points and normals in world space,
// on a bent two-joint tube under a posed hierarchy, a mesh node with a transform of its own, and
// an unskinned mesh that rides a joint; every file passes the Khronos validator. Then the
// routines on their own: singular blends, the sparse threshold, influences, pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/characters/correctives.h"
#include "headless/characters/glb_images.h"
#include "headless/characters/glb_pose.h"
#include "headless/characters/glb_skin.h"
#include "headless/characters/rig_pose.h"
#include "headless/deformers/skinning.h"
#include "headless/geometry/file_vertices.h"
#include "headless/geometry/vector.h"
#include "headless/io/png.h"
#include "tests/support/gltf_check.h"
#if TESSAMIRE_HAVE_JSON_READER
#include "tests/support/gltf_player.h"
#endif
#include "tests/support/temp_folder.h"
#include "tests/support/thrown.h"

namespace {

using headless::Rig;
using namespace vector_math;

Matrix Rotation(const Vector3& axis, Float radians, const Vector3& at) {
  Matrix m = headless::RotationAbout({0, 0, 0}, axis, radians);
  m.off = at;
  return m;
}

Matrix Scaled(Matrix m, Float s) {
  m.v1 = {m.v1.x * s, m.v1.y * s, m.v1.z * s};
  m.v2 = {m.v2.x * s, m.v2.y * s, m.v2.z * s};
  m.v3 = {m.v3.x * s, m.v3.y * s, m.v3.z * s};
  return m;
}

constexpr int kRing = 8, kRings = 5;

// A tube along y from 0 to 2 in its own space: kRings rings of kRing vertices, quads between.
std::shared_ptr<headless::FileVertices> Tube(const std::string& name, bool material) {
  auto file = std::make_shared<headless::FileVertices>();
  file->object = name;
  file->mesh = name + " mesh";
  if (material) file->materials = {"skin"};
  for (int r = 0; r < kRings; ++r)
    for (int k = 0; k < kRing; ++k) {
      const Float a = 2 * std::numbers::pi * k / kRing;
      file->vertexPoint.push_back(r * kRing + k);
      file->normals.push_back({std::cos(a), 0.0, std::sin(a)});
      file->uvs.insert(file->uvs.end(),
                       {static_cast<Float32>(k) / kRing, static_cast<Float32>(r) / (kRings - 1)});
    }
  for (int r = 0; r + 1 < kRings; ++r)
    for (int k = 0; k < kRing; ++k) {
      const int a = r * kRing + k, b = r * kRing + (k + 1) % kRing;
      file->cornerVertex.insert(file->cornerVertex.end(), {a, a + kRing, b + kRing, b});
      file->faceFirst.push_back(file->faceFirst.back() + 4);
      file->faceMaterial.push_back(material && r < 2 ? 0 : -1);
    }
  return file;
}

std::vector<Vector3> TubePoints(Float radius) {
  std::vector<Vector3> points;
  for (int r = 0; r < kRings; ++r)
    for (int k = 0; k < kRing; ++k) {
      const Float a = 2 * std::numbers::pi * k / kRing;
      points.push_back({radius * std::cos(a), 0.5 * r, radius * std::sin(a)});
    }
  return points;
}

// root (turned, moved) > hip (joint) > knee (joint) > tip (joint) > prop (draws the unskinned
// mesh 1); root > body (draws the skinned tube, mesh 0, moved, turned and scaled). Clips: "walk"
// on frames 0-4 turns the knee and moves the hip; "wave" on 5-8 turns the hip.
Rig BentTubeRig() {
  Rig rig;
  rig.nodes = {{"root", -1, Rotation({0, 0, 1}, 0.3, {1, 0, 0}), -1},
               {"hip", 0, Rotation({1, 0, 0}, 0.1, {0, 0.2, 0}), -1},
               {"knee", 1, Rotation({1, 0, 0}, 0.0, {0, 1, 0}), -1},
               {"tip", 2, Rotation({1, 0, 0}, 0.0, {0, 0.8, 0}), -1},
               {"prop", 3, Scaled(Rotation({0, 1, 0}, 0.5, {0.3, 0.1, 0}), 0.5), 1},
               {"body", 0, Scaled(Rotation({0, 1, 0}, 0.4, {0, 0.1, 0.2}), 1.5), 0}};
  const std::vector<Matrix> global = headless::RigRestGlobals(rig);
  headless::RigSkin skin;
  skin.mesh = 0;
  skin.joints = {1, 2, 3, 0, 4};
  for (const Int32 j : skin.joints)
    skin.inverseBinds.push_back(headless::Multiply(headless::Inverse(global[j]), global[5]));
  for (int r = 0; r < kRings; ++r)
    for (int k = 0; k < kRing; ++k) {
      const Float32 knee = std::clamp((0.5f * r - 0.5f) / 1.0f, 0.0f, 1.0f);
      skin.joint.insert(skin.joint.end(), {0, 1});
      skin.weight.insert(skin.weight.end(), {1.0f - knee, knee});
      if (r == 2 && k < 3) {  // five joints on three vertices, the hip twice: more than four
        skin.joint.insert(skin.joint.end(), {2, 3, 4, 0});
        skin.weight.insert(skin.weight.end(), {0.2f, 0.1f + 0.05f * k, 0.05f, 0.05f});
      }
      skin.first.push_back(static_cast<Int64>(skin.joint.size()));
    }
  rig.skins = {skin};
  rig.materials = {{"skin", {0.9, 0.6, 0.5, 1.0}, false, 0.0, 0.7, ""}};
  headless::RigClip walk{"walk", {}, 0, 4};
  walk.channels.push_back({2,
                           headless::RigPath::kRotation,
                           {0.0, 4.0 / 24},
                           {0, 0, 0, 1, std::sin(0.6), 0, 0, std::cos(0.6)}});
  walk.channels.push_back({1,
                           headless::RigPath::kTranslation,
                           {0.0, 2.0 / 24, 4.0 / 24},
                           {0, 0.2, 0, 0, 0.3, 0.1, 0, 0.2, 0}});
  headless::RigClip wave{"wave", {}, 5, 8};
  wave.channels.push_back({1,
                           headless::RigPath::kRotation,
                           {0.0, 3.0 / 24},
                           {0, 0, 0, 1, 0, 0, std::sin(0.4), std::cos(0.4)}});
  wave.channels.push_back({3,
                           headless::RigPath::kScale,
                           {0.0, 3.0 / 24},
                           {
                               1,
                               1,
                               1,
                               1.2,
                               0.9,
                               1,
                           }});
  rig.clips = {walk, wave};
  return rig;
}

#if TESSAMIRE_HAVE_JSON_READER
// Frame f's corrected points of the tube (mesh space): bent, squeezed and bulged, nothing a
// skin alone makes; the prop's shrink and turn. Normals lean with f.
std::vector<Vector3> Corrected(int mesh, int f) {
  std::vector<Vector3> p = TubePoints(mesh == 0 ? 0.3 : 0.1);
  for (size_t v = 0; v < p.size(); ++v) {
    const Float t = 0.1 * f;
    p[v] = {p[v].x * (1 + 0.2 * std::sin(t + p[v].y)), p[v].y + 0.05 * t * p[v].y * p[v].y,
            p[v].z + 0.1 * t * std::sin(3 * p[v].y)};
  }
  return p;
}

std::vector<Vector3> CorrectedNormals(const headless::FileVertices& file, int f) {
  std::vector<Vector3> n = file.normals;
  for (Vector3& v : n) v = {v.x + 0.05 * f, v.y + 0.02 * f, v.z};
  return n;
}

struct Form {
  const char* name;
  int influences;
  bool quantised;
};

class SkinGlbForms : public ::testing::TestWithParam<Form> {};

// The test's own reading of where frame f sits: its clip's animation and the seconds in it.
std::pair<std::string, double> Placed(int f) {
  if (f <= 4) return {"walk", f / 24.0};
  if (f <= 8) return {"wave", (f - 5) / 24.0};
  return {"frames", (f - 9) / 24.0};
}

TEST_P(SkinGlbForms, APlayerSkinningBasePlusTargetsLandsOnEveryCorrectedPoint) {
  const Form form = GetParam();
  TempFolder folder;
  const auto rig = std::make_shared<Rig>(BentTubeRig());
  const headless::Image picture{4, 2, std::vector<std::uint8_t>(24, 200)};
  headless::WritePng((folder.path / "skin.png").string(), picture);
  rig->materials[0].texture = "skin.png";
  headless::SkinGlbWriter writer(rig,
                                 {form.influences, form.quantised, 24.0, folder.path.string(), {}});
  const auto tube = Tube("tube", true), prop = Tube("prop", false);
  writer.AddMesh(0, tube, headless::FileVertexPositions(*tube, TubePoints(0.3)), tube->normals);
  writer.AddMesh(1, prop, headless::FileVertexPositions(*prop, TubePoints(0.1)), prop->normals);
  constexpr int kFrames = 11;
  for (int f = 0; f < kFrames; ++f) {
    const auto a = Corrected(0, f), b = Corrected(1, f);
    const auto na = CorrectedNormals(*tube, f), nb = CorrectedNormals(*prop, f);
    writer.AddFrame(f, {a, b}, {na, nb});
  }
  const std::filesystem::path path = folder.path / (std::string(form.name) + ".glb");
  writer.Write(path.string());
  ExpectCleanGltf(path, {"UNUSED_OBJECT"});

  std::ifstream in(path, std::ios::binary);
  const gltf_player::Player player(std::string(std::istreambuf_iterator<char>(in), {}));
  const auto& json = player.json();
  std::vector<std::string> animations;
  for (const auto& a : json["animations"]) animations.push_back(a["name"]);
  EXPECT_EQ(animations, (std::vector<std::string>{"frames", "walk", "wave"}));
  EXPECT_EQ(json.contains("extensionsRequired"), form.quantised);
  // The skinned tube is drawn at the root without a transform; the prop at its own node.
  const auto& nodes = json["nodes"];
  const auto& tubeNode = nodes[nodes.size() - 1];
  EXPECT_TRUE(tubeNode.contains("skin"));
  EXPECT_FALSE(tubeNode.contains("translation") || tubeNode.contains("matrix"));
  EXPECT_EQ(nodes[4]["mesh"], 1);
  std::vector<std::string> materials;
  for (const auto& m : json["materials"]) materials.push_back(m["name"]);
  EXPECT_EQ(materials, (std::vector<std::string>{"default", "skin"}));
  EXPECT_EQ(json["materials"][1]["pbrMetallicRoughness"]["baseColorTexture"]["index"], 0);
  EXPECT_EQ(json["images"][0]["mimeType"], "image/png");
  const auto& pictureView = json["bufferViews"][json["images"][0]["bufferView"].get<int>()];
  const std::vector<std::uint8_t> png = headless::EncodePng(picture);
  EXPECT_EQ(player.bin().substr(pictureView["byteOffset"].get<size_t>(),
                                pictureView["byteLength"].get<size_t>()),
            std::string(png.begin(), png.end()));  // embedded as it was
  EXPECT_TRUE(json["meshes"][0]["primitives"][0]["attributes"].contains("JOINTS_1") ==
              (form.influences == 8));
  // Three tube vertices have five influences: four kept, the targets make up the rest.
  const std::vector<std::string> notes = writer.Notes();
  ASSERT_EQ(notes.size(), form.influences == 4 ? 1u : 0u);
  if (form.influences == 4) {
    EXPECT_NE(notes[0].find("3 vertices have more than 4 influences"), std::string::npos)
        << notes[0];
  }

  const std::vector<Matrix> rest = headless::RigRestGlobals(*rig);
  const Int32 meshNode[2] = {5, 4};
  for (int f = 0; f < kFrames; ++f) {
    const auto [clip, seconds] = Placed(f);
    int animation = 0;
    while (json["animations"][animation]["name"] != clip) ++animation;
    const std::vector<gltf_player::Played> played = player.Play(animation, seconds);
    ASSERT_EQ(played.size(), 2u);
    for (int m = 0; m < 2; ++m) {
      // Played in node order: the prop's node (4) comes before the tube's own root node.
      const gltf_player::Played& got = played[m == 0 ? 1 : 0];
      const auto& file = m == 0 ? *tube : *prop;
      const auto points = Corrected(m, f);
      const auto normals = CorrectedNormals(file, f);
      const Matrix inverse = headless::Inverse(rest[meshNode[m]]);
      const double tolerance = form.quantised ? 2e-3 : 1e-5 * 2.0;
      for (size_t v = 0; v < points.size(); ++v) {
        const Vector3 w = headless::TransformPoint(rest[meshNode[m]], points[v]);
        EXPECT_NEAR(got.positions[v][0], w.x, tolerance)
            << form.name << " frame " << f << " mesh " << m << " vertex " << v;
        EXPECT_NEAR(got.positions[v][1], w.y, tolerance)
            << form.name << " frame " << f << " mesh " << m << " vertex " << v;
        EXPECT_NEAR(got.positions[v][2], w.z, tolerance)
            << form.name << " frame " << f << " mesh " << m << " vertex " << v;
        Vector3 n{Dot(inverse.v1, normals[v]), Dot(inverse.v2, normals[v]),
                  Dot(inverse.v3, normals[v])};
        n = Divide(n, Length(n));
        // int8 normals: within the frame's scale / 254 per component before normalising.
        const double normalTolerance = form.quantised ? 1e-2 : 1e-5;
        EXPECT_NEAR(got.normals[v][0], n.x, normalTolerance)
            << form.name << " frame " << f << " vertex " << v;
        EXPECT_NEAR(got.normals[v][1], n.y, normalTolerance)
            << form.name << " frame " << f << " vertex " << v;
        EXPECT_NEAR(got.normals[v][2], n.z, normalTolerance)
            << form.name << " frame " << f << " vertex " << v;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, SkinGlbForms,
                         ::testing::Values(Form{"float4", 4, false}, Form{"float8", 8, false},
                                           Form{"quantised", 4, true}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

// A blend whose joints cancel (a joint and its point reflection, half each) has no inverse: that
// vertex's target is 0 and it is counted; its neighbours' targets still land.
TEST(Correctives, ASingularBlendGetsNoTargetAndIsCounted) {
  headless::RigSkin skin;
  skin.joints = {0, 1};
  skin.first = {0, 1, 3, 4};
  skin.joint = {0, 0, 1, 1};
  skin.weight = {1.0f, 0.5f, 0.5f, 1.0f};
  const headless::WrittenInfluences influences = headless::WriteInfluences(skin, 4);
  Matrix mirror;
  mirror.v1 = {-1, 0, 0};
  mirror.v2 = {0, -1, 0};
  mirror.v3 = {0, 0, -1};
  const std::vector<Matrix> joints = {Matrix{}, mirror};
  const std::vector<Float32> base = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const std::vector<Vector3> world = {{1.5, 0, 0}, {0, 2, 0}, {0, 0, -3}};
  const headless::CorrectiveTargets targets =
      headless::Correctives(&influences, joints, base, {}, world, {});
  EXPECT_EQ(targets.singular, 1);
  EXPECT_EQ(targets.positions,
            (std::vector<Float32>{0.5f, 0, 0, 0, 0, 0, 0, 0, 2.0f}));  // mirror^-1 (0,0,-3) - z
}

// Position targets below half a float32 step at the mesh's extent (4: a step of 2^-21) are left
// out; from the threshold on they are kept, and so is a vertex whose normal alone moved.
TEST(Correctives, TargetsBelowHalfAStepOfTheExtentAreLeftOut) {
  const Float32 step = std::ldexp(1.0f, -21);
  const std::vector<Float32> base = {4, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(headless::OmissionTolerance(base), step / 2);
  struct Case {
    Float32 offset;
    Float32 normal;
    bool kept;
  };
  const Case cases[] = {{0.0f, 0.0f, false},       {0.49f * step, 0.0f, false},
                        {0.5f * step, 0.0f, true}, {-3.0f * step, 0.0f, true},
                        {0.0f, 1e-3f, true},       {0.0f, std::ldexp(1.0f, -26), false}};
  headless::CorrectiveTargets targets;
  for (const Case& c : cases) {
    targets.positions.insert(targets.positions.end(), {0.0f, c.offset, 0.0f});
    targets.normals.insert(targets.normals.end(), {c.normal, 0.0f, 0.0f});
  }
  const std::vector<std::uint32_t> kept =
      headless::KeptVertices(targets, headless::OmissionTolerance(base));
  std::vector<std::uint32_t> expected;
  for (std::uint32_t v = 0; v < std::size(cases); ++v)
    if (cases[v].kept) expected.push_back(v);
  EXPECT_EQ(kept, expected);
}

// The largest influences are kept and renormalised; ties keep the earlier; a vertex without
// weight rides the first joint; bad influences are refused naming the vertex.
TEST(Correctives, InfluencesKeepTheLargestRenormalised) {
  headless::RigSkin skin;
  skin.joints = {0, 1, 2, 3, 4};
  skin.first = {0, 5, 5, 7};
  skin.joint = {0, 1, 2, 3, 4, 3, 1};
  skin.weight = {0.1f, 0.3f, 0.1f, 0.2f, 0.3f, 0.0f, 0.0f};
  const headless::WrittenInfluences four = headless::WriteInfluences(skin, 4);
  EXPECT_EQ(std::vector<std::uint16_t>(four.joints.begin(), four.joints.begin() + 4),
            (std::vector<std::uint16_t>{1, 4, 3, 0}));
  EXPECT_FLOAT_EQ(four.weights[0], 0.3f / 0.9f);
  EXPECT_FLOAT_EQ(four.weights[3], 0.1f / 0.9f);
  EXPECT_EQ(four.dropped, 1);
  EXPECT_EQ(four.unweighted, 2);
  EXPECT_EQ(four.weights[4], 1.0f);
  const headless::WrittenInfluences eight = headless::WriteInfluences(skin, 8);
  EXPECT_EQ(eight.dropped, 0);
  EXPECT_FLOAT_EQ(eight.weights[4], 0.1f / 1.0f);
  skin.joint[2] = 9;
  EXPECT_NE(ThrownMessage<std::invalid_argument>([&] {
              headless::WriteInfluences(skin, 4);
            }).find("vertex 0"),
            std::string::npos);
  EXPECT_NE(ThrownMessage<std::invalid_argument>([&] { headless::WriteInfluences(skin, 6); }), "");
}

// Every key of a weight animation holds every target's weight: past kMaxCorrectiveFrames frames
// the writer refuses the next one, keeping the ones it holds.
TEST(SkinGlbWriter, RefusesFramesPastTheWeightKeyBound) {
  const auto rig = std::make_shared<Rig>(BentTubeRig());
  rig->clips[0].lastFrame = static_cast<Int32>(headless::kMaxCorrectiveFrames) + 10;
  headless::SkinGlbWriter writer(rig, {});
  const auto prop = Tube("prop", false);
  const std::vector<Vector3> rest = headless::FileVertexPositions(*prop, TubePoints(0.1));
  writer.AddMesh(1, prop, rest, prop->normals);
  for (Int64 f = 0; f < headless::kMaxCorrectiveFrames; ++f)
    writer.AddFrame(f, {rest}, {prop->normals});
  const std::string message = ThrownMessage<std::invalid_argument>(
      [&] { writer.AddFrame(headless::kMaxCorrectiveFrames, {rest}, {prop->normals}); });
  EXPECT_NE(message.find("at most " + std::to_string(headless::kMaxCorrectiveFrames) + " frames"),
            std::string::npos)
      << message;
  EXPECT_EQ(writer.FrameCount(), headless::kMaxCorrectiveFrames);
}

// Unsound input is refused naming it, before anything is held.
TEST(SkinGlbWriter, RefusesUnsoundRigsAndMeshes) {
  const auto tube = Tube("tube", true);
  const std::vector<Vector3> rest = headless::FileVertexPositions(*tube, TubePoints(0.3));
  struct Case {
    const char* name;
    void (*spoil)(Rig&);
    const char* message;
  };
  const Case cases[] = {
      {"parent after child", [](Rig& r) { r.nodes[1].parent = 3; }, "not an earlier node"},
      {"joint of no node", [](Rig& r) { r.skins[0].joints[0] = 99; }, "joint node 99"},
      {"binds short", [](Rig& r) { r.skins[0].inverseBinds.pop_back(); }, "inverse binds"},
      {"keys unordered",
       [](Rig& r) {
         r.clips[0].channels[0].times = {0.1, 0.1};
       },
       "strictly increasing"},
      {"skin of other vertices", [](Rig& r) { r.skins[0].first.pop_back(); }, "its skin weighs"},
  };
  for (const Case& c : cases) {
    auto rig = std::make_shared<Rig>(BentTubeRig());
    if (std::string(c.name) == "skin of other vertices") {
      rig->skins[0].joint.resize(rig->skins[0].first[rig->skins[0].first.size() - 2]);
      rig->skins[0].weight.resize(rig->skins[0].joint.size());
    }
    c.spoil(*rig);
    const std::string message = ThrownMessage<std::invalid_argument>([&] {
      headless::SkinGlbWriter writer(rig, {});
      writer.AddMesh(0, tube, rest, tube->normals);
    });
    EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": " << message;
  }
}

// PNG and JPEG are embedded as they are; a BMP becomes a PNG of the same pixels; anything else is
// refused naming it.
TEST(GlbImages, KeepsPngAndJpegAndConvertsOthers) {
  const headless::Image picture{2, 1, {255, 0, 0, 0, 0, 255}};
  const std::vector<std::uint8_t> png = headless::EncodePng(picture);
  const std::string pngBytes(png.begin(), png.end());
  EXPECT_EQ(headless::GlbImageOf(pngBytes, "a.png").bytes, pngBytes);
  const std::string jpeg = "\xFF\xD8\xFF\xE0 not decoded";
  EXPECT_EQ(headless::GlbImageOf(jpeg, "a.jpg").mimeType, "image/jpeg");
  // A 2 x 1 24-bit BMP: file header, info header, one row (blue, green, red per pixel, padded).
  std::string bmp = "BM";
  const auto word = [&](std::uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) bmp += static_cast<char>((v >> (8 * k)) & 0xFF);
  };
  word(62, 4), word(0, 4), word(54, 4), word(40, 4), word(2, 4), word(1, 4), word(1, 2);
  word(24, 2), word(0, 4), word(8, 4), word(2835, 4), word(2835, 4), word(0, 4), word(0, 4);
  bmp += std::string("\x00\x00\xFF\xFF\x00\x00\x00\x00", 8);
  const headless::GlbImage converted = headless::GlbImageOf(bmp, "a.bmp");
  EXPECT_EQ(converted.mimeType, "image/png");
  EXPECT_EQ(converted.bytes.rfind("\x89PNG", 0), 0u);
  EXPECT_EQ(converted.bytes, pngBytes);  // the same pixels, encoded by the same library
  EXPECT_NE(
      ThrownMessage<std::runtime_error>([] { headless::GlbImageOf("GIF", "b.gif"); }).find("b.gif"),
      std::string::npos);
}

}  // namespace
