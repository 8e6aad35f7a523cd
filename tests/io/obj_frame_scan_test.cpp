// The quick look at an OBJ frame of a rest mesh: sure only of frames the full read and the checks
// accept, sure of the plain frames applications write, and keeping what writing a result needs as
// the full read reads it, over files longer than the pieces it reads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "headless/files/input_ranges.h"
#include "headless/io/obj_frame_scan.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class ObjFrameScan : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    folder.Write(name, text);
    return (folder.path / name).string();
  }

  // Whether the full read and every check of a frame accept the file.
  static bool Accepted(const std::string& path, const headless::ObjFile& rest) {
    try {
      const headless::ObjFile frame = headless::ReadObjFile(path);
      headless::CheckCoordinateRange(frame.mesh.points, path);
      headless::CheckSameFaces(rest, frame);
      return frame.mesh.points.size() == rest.mesh.points.size();
    } catch (const std::exception&) {
      return false;
    }
  }

  TempFolder folder;
  const fs::path& dir = folder.path;
};

// Four points, two faces with texture coordinates, one of them relative.
constexpr const char* kRest =
    "mtllib m.mtl\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\n"
    "f 1/1 2/2 3/3\nf -4/-3 -2/-1 -1/-1\n";

TEST_F(ObjFrameScan, SureOnlyOfFramesTheFullReadAccepts) {
  const headless::ObjFile rest = headless::ReadObjFile(Write("rest.obj", kRest));
  const std::string faces = "vt 0 0\nvt 1 0\nvt 1 1\nf 1/1 2/2 3/3\nf -4/-3 -2/-1 -1/-1\n";
  const std::string points = "v 0.5 0 0\nv 1 0 -2.5e-3\nv 1 1 0\nv 0 1 0\n";
  // The frame's text, whether the look is sure of it.
  const std::vector<std::pair<std::string, bool>> cases = {
      {points + faces, true},
      {"\xEF\xBB\xBF# made elsewhere\r\no x\r\nmtllib m.mtl\r\nv +0.5 0 0 1\r\n"
       "v 1 0 0 0.1 0.2 0.3\r\nv 1 1 0 # a comment\r\nv 0 1 0 1 1 1 1\r\ng a\r\n"
       "usemtl red\r\n" +
           faces,
       true},
      {points + "vn 0 0 1\n" + faces + "f 1//1 2//1 4//1\n", false},  // a third face
      {points + "vn 0 0 1\nvt 0 0\nvt 1 0\nvt 1 1\nf 1/1/1 2/2/1 3/3/1\nf 1/1 3/2 4/3\n", true},
      {points + "vt 0 0\nf 1/1 2/1 3/1\nf 1/4 3/1 4/1\n", false},  // texture coordinate 4
      {points + "vt 0 0\nf 1 2 3\nf 1 3 2\n", false},              // the corners turned
      {points + "vt 0 0\nf 1 2 3\nf 1 3 4 2\n", false},            // a corner more
      {points + "vt 0 0\nf 1 2 3\n", false},                       // a face fewer
      {"v 0 0 0\nv 1 0 0\nv 1 1 0\n" + faces, false},              // a point fewer
      {points + "v 2 2 2\n" + faces, false},                       // a point more
      {"v 0 0 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n" + faces, false},
      {"v 0 0 1.5x\nv 1 0 0\nv 1 1 0\nv 0 1 0\n" + faces, false},
      {"v 0 0 1e400\nv 1 0 0\nv 1 1 0\nv 0 1 0\n" + faces, false},
      {"v 0 0 1e151\nv 1 0 0\nv 1 1 0\nv 0 1 0\n" + faces, false},  // beyond the plug-in's range
      {"v 0 0 -1e-151\nv 1 0 0\nv 1 1 0\nv 0 1 0\n" + faces, false},
      {"v 0 0 .5\nv 1 0 0\nv 1 1 0\nv 0 1 0\n" + faces, false},  // read, but not plain
      {points + "vn 0 1\n" + faces, false},
      {points + "vt 0 0\nvt 1 0\nvt 1 1\nf 1/1 2/2 3/3#\nf 1 3 4\n", false},
      {points + "vt 0 0\nf 0 2 3\nf 1 3 4\n", false},
      {points + "vt 0 0\nf -5 2 3\nf 1 3 4\n", false},
      {points + faces + std::string("# \0", 3), false},
      {"\xFF\xFEv 0 0 0\n", false},
      {points + "vt 0 0\nf 1/1/ 2 3\nf 1 3 4\n", false},
      {points + "vt 0 0\nf 1 2 3\nf 1 3 99999999999\n", false},
      // Lines that start as the common forms do but end otherwise.
      {"v 0.5 0 0 1\nv 1 0 -2.5e-3\nv 1 1 0\nv 0 1 0 \n" + faces, true},
      {"v 0 0 1e-999\nv 1 0 0\nv 1 1 0\nv 0 1 0\n" + faces, false},
      {points + "vt 0 0\nf 1 2 3 \nf 1 3 4", true},
      {points + "vt 0 0\nf 1 2 3\nf 1 3 4 # the last\n", true},
      {points + "vt 0 0\nf 1 2\nf 3 1 3 4\n", false},  // the same corners, split otherwise
      // Corners whose text is not the index plainly written, or only starts as it.
      {points + "vt 0 0\nf 001 2 03\nf 1 3 0000004\n", true},
      {points + "vt 0 0\nf 1 2 31\nf 1 3 4\n", false},
      {points + "vt 0 0\nf 1 2 3\nf 1 3 4x 4\n", false},
      {points + "vt 0 0\nf 1 2 3\nf 1 3 2\n# the corners turned, then more text\n", false},
      // The rest's face text after a texture coordinate fewer, which its corners reach past.
      {points + "vt 0 0\nvt 1 0\nf 1/1 2/2 3/3\nf -4/-3 -2/-1 -1/-1\n", false},
  };
  const std::optional<headless::RestFaceText> restFaces = headless::RestFaceTextOf(rest);
  ASSERT_TRUE(restFaces.has_value());
  for (size_t k = 0; k < cases.size(); ++k) {
    const std::string path = Write("frame" + std::to_string(k) + ".obj", cases[k].first);
    const bool sure = headless::SurelyFrameOf(path, rest, 4);
    EXPECT_EQ(sure, cases[k].second) << "case " << k;
    EXPECT_TRUE(!sure || Accepted(path, rest)) << "case " << k;
    // Keeping what writing needs, the look reads its coordinates as the reader does: it is sure
    // of what it was sure of (and of a number such as ".5"), but of no frame with normals.
    headless::ObjFile kept;
    const bool normals = cases[k].first.find("vn ") != std::string::npos;
    const bool keptSure = headless::SurelyFrameOf(path, rest, 4, &kept);
    EXPECT_TRUE(keptSure || !sure || normals) << "case " << k;
    EXPECT_TRUE(!keptSure || (Accepted(path, rest) && !normals)) << "case " << k;
    // Comparing the text from the first face on with the rest's decides as reading the faces.
    EXPECT_EQ(headless::SurelyFrameOf(path, rest, 4, &kept, &*restFaces), keptSure) << "case " << k;
  }
  // Nothing of the kind: a folder, a missing file, the standard input.
  EXPECT_FALSE(headless::SurelyFrameOf(dir.string(), rest, 4));
  EXPECT_FALSE(headless::SurelyFrameOf((dir / "missing.obj").string(), rest, 4));
  EXPECT_FALSE(headless::SurelyFrameOf("-", rest, 4));
}

// A frame's text from its first face on is compared with the rest's file only while that file is
// as it was read, and only a rest that adds no vertex after its first face has such text.
TEST_F(ObjFrameScan, ComparesFaceTextOnlyWithTheRestAsRead) {
  const std::string head = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n";
  const std::string tail = "f 1/1 2/2 3/3\nmtllib more.mtl\nusemtl velvet\nf -4/-3 -2/-1 -1/-1\n";
  const std::string restPath = Write("rest.obj", head + tail);
  const headless::ObjFile rest = headless::ReadObjFile(restPath);
  const std::optional<headless::RestFaceText> faces = headless::RestFaceTextOf(rest);
  ASSERT_TRUE(faces.has_value());
  EXPECT_EQ(faces->begin, static_cast<Int64>(head.size()));
  const std::string points = "v 0.5 0 0\nv 1 0 -2.5e-3\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n";
  const auto at = static_cast<Int64>(points.size());
  const std::string good = Write("good.obj", points + tail);
  headless::ObjFile byText, byReading;
  ASSERT_TRUE(headless::SurelyFrameOf(good, rest, 4, &byText, &*faces));
  ASSERT_TRUE(headless::SurelyFrameOf(good, rest, 4, &byReading));
  ASSERT_EQ(byText.mtllibSpans.size(), 1u);
  EXPECT_EQ(byText.mtllibSpans[0].begin, byReading.mtllibSpans[0].begin);
  EXPECT_EQ(byText.mtllibSpans[0].end, byReading.mtllibSpans[0].end);
  EXPECT_TRUE(headless::EndsInRestFaces(good, at, *faces));
  EXPECT_FALSE(headless::EndsInRestFaces(good, at - 1, *faces));
  // As long, the second face's corners turned.
  const std::string badTail =
      "f 1/1 2/2 3/3\nmtllib more.mtl\nusemtl velvet\nf -4/-3 -1/-1 -2/-1\n";
  const std::string bad = Write("bad.obj", points + badTail);
  EXPECT_FALSE(headless::EndsInRestFaces(bad, at, *faces));
  // The rest's file written since to end as the bad frame does, as long as before and its
  // modification time set back: its faces are still those read.
  const fs::file_time_type was = fs::last_write_time(restPath);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the change time's ticks
  Write("rest.obj", head + badTail);
  fs::last_write_time(restPath, was);
  EXPECT_FALSE(headless::EndsInRestFaces(bad, at, *faces));
  EXPECT_FALSE(headless::SurelyFrameOf(bad, rest, 4, nullptr, &*faces));
  EXPECT_TRUE(headless::SurelyFrameOf(good, rest, 4, nullptr, &*faces));
  // No face text where a vertex follows the first face, the first face does not start its line,
  // or the rest has normals (whose frames are not kept).
  for (const std::string& text : {head + tail + "vt 0 1\n", head + tail + " \tv 0 0 0\n",
                                  head + " " + tail, head + "vn 0 0 1\n" + tail}) {
    Write("other.obj", text);
    EXPECT_FALSE(headless::RestFaceTextOf(headless::ReadObjFile((dir / "other.obj").string())))
        << text;
  }
}

// A grid of more than 4 MiB of text, so that lines are cut where the pieces end, every other
// point written as applications commonly write them.
TEST_F(ObjFrameScan, KeepsWhatWritingNeedsAsTheFullReadReadsIt) {
  constexpr int kSide = 300;
  std::string rest = "mtllib looks.mtl\n", frame = "mtllib looks.mtl\r\n";
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      rest += "v " + std::to_string(x) + " " + std::to_string(y) + " 0\n";
      const std::string xy = std::to_string(x * 0.123456789012345) + (x % 2 == 0 ? "\t+" : " ") +
                             std::to_string(y * 1.000000000000001e-3) + " -" +
                             std::to_string(x * y) + "e-7";
      frame += x % 2 == 0 ? "v  " + xy + " # moved\r\n" : "v " + xy + "\n";
    }
  std::string faces;
  for (int y = 0; y + 1 < kSide; ++y)
    for (int x = 0; x + 1 < kSide; ++x) {
      const int a = y * kSide + x + 1;
      faces += "f " + std::to_string(a) + " " + std::to_string(a + 1) + " " +
               std::to_string(a + kSide + 1) + " " + std::to_string(a + kSide) + "\n";
    }
  ASSERT_GT(frame.size() + faces.size(), size_t{4} << 20);
  const std::string restPath = Write("rest.obj", rest + faces);
  const headless::ObjFile restFile = headless::ReadObjFile(restPath);
  const std::string path = Write("frame.obj", frame + faces);
  // Looked at after another file, whose points and places it reads over.
  headless::ObjFile kept;
  ASSERT_TRUE(headless::SurelyFrameOf(restPath, restFile, kSide * kSide, &kept));
  ASSERT_TRUE(headless::SurelyFrameOf(path, restFile, kSide * kSide, &kept));
  const headless::ObjFile full = headless::ReadObjFile(path);
  EXPECT_EQ(kept.name, path);
  EXPECT_TRUE(kept.text.empty());
  EXPECT_EQ(kept.textBytes, full.textBytes);
  ASSERT_EQ(kept.mesh.points.size(), full.mesh.points.size());
  EXPECT_EQ(std::memcmp(kept.mesh.points.data(), full.mesh.points.data(),
                        full.mesh.points.size() * sizeof(Vector3)),
            0);
  ASSERT_EQ(kept.pointSpans.size(), full.pointSpans.size());
  headless::SpanList::Reader keptSpans(kept.pointSpans), fullSpans(full.pointSpans);
  for (size_t i = 0; i < full.pointSpans.size(); ++i) {
    const headless::TextSpan a = keptSpans.Next(), b = fullSpans.Next();
    ASSERT_TRUE(a.begin == b.begin && a.end == b.end) << "point " << i;
  }
  ASSERT_EQ(kept.mtllibSpans.size(), 1u);
  EXPECT_EQ(kept.mtllibSpans[0].begin, full.mtllibSpans[0].begin);
  EXPECT_EQ(kept.mtllibSpans[0].end, full.mtllibSpans[0].end);
  // Its faces' text is the rest's, found where the reader read the first face (in a part of the
  // text other than the first).
  const std::optional<headless::RestFaceText> faceText = headless::RestFaceTextOf(restFile);
  ASSERT_TRUE(faceText.has_value());
  EXPECT_EQ(faceText->begin, static_cast<Int64>(rest.size()));
  EXPECT_TRUE(headless::EndsInRestFaces(path, static_cast<Int64>(frame.size()), *faceText));
  // Written elsewhere, the result is the full read's, its material library reached from there.
  std::vector<Vector3> moved = full.mesh.points;
  for (Vector3& p : moved) p.z += 0.25;
  fs::create_directories(dir / "out");
  const std::string out = (dir / "out" / "frame.obj").string();
  EXPECT_EQ(headless::ObjText(kept, moved, out), headless::ObjText(full, moved, out));
}

}  // namespace
