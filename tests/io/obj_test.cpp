// OBJ meshes: what the reader keeps, how it names faults, a bit-exact round trip, the write-back
// that changes nothing but positions, normals turned with the surface and the material library's
// way from another folder, an OBJ's own vertices and the OBJ of a file's own vertices, and a
// corpus of OBJ files made elsewhere.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "headless/files/shortest_number.h"
#include "headless/geometry/vector.h"
#include "headless/io/obj_file_vertices.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"

namespace {

namespace fs = std::filesystem;

class ObjFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("tessamire_obj_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  // The message ReadObj throws for `text`, or "" when it reads fine.
  std::string ErrorOf(const std::string& text) {
    const std::string path = Write("bad.obj", text);
    try {
      headless::ReadObj(path);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  }

  fs::path dir;
};

bool SameBits(Float a, Float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(ObjFiles, ReadsPointsAndFacesInEveryCornerFormAndIgnoresTheRest) {
  const std::string path = Write("mesh.obj",
                                 "# a comment\r\n"
                                 "o thing\n"
                                 "v 0 0 0\n"
                                 "vn 0 0 1\n"
                                 "vt 0.5 0.5\n"
                                 "v 1 0 0\r\n"
                                 "  v\t1 1 0.5e1\n"
                                 "v -1 1 0 1\n"
                                 "usemtl none\n"
                                 "f 1/1/1 2//1 3\n"
                                 "f -4/1 -3 -2 -1\n"
                                 "f 4 1 2 \n"
                                 "\n");
  const headless::Mesh mesh = headless::ReadObj(path);
  ASSERT_EQ(mesh.points.size(), 4u);
  EXPECT_EQ(mesh.points[2].z, 5.0);
  EXPECT_EQ(mesh.points[3].x, -1.0);
  ASSERT_EQ(mesh.polygons.size(), 3u);
  const CPolygon& tri = mesh.polygons[0];
  EXPECT_EQ((std::vector<Int32>{tri.a, tri.b, tri.c, tri.d}), (std::vector<Int32>{0, 1, 2, 2}));
  const CPolygon& quad = mesh.polygons[1];
  EXPECT_EQ((std::vector<Int32>{quad.a, quad.b, quad.c, quad.d}), (std::vector<Int32>{0, 1, 2, 3}));
  const CPolygon& last = mesh.polygons[2];
  EXPECT_EQ((std::vector<Int32>{last.a, last.b, last.c, last.d}), (std::vector<Int32>{3, 0, 1, 1}));
}

TEST_F(ObjFiles, FacesMayNamePointsThatComeLater) {
  const headless::Mesh mesh =
      headless::ReadObj(Write("late.obj", "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"));
  EXPECT_EQ(mesh.polygons.size(), 1u);
}

// Room expected for more or fewer points and faces than the text holds reads the same file, and
// refuses the same faults.
TEST_F(ObjFiles, ExpectedSizesChangeNothingRead) {
  const std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 4 3\nf 1 2 3\n";
  const headless::ObjFile plain = headless::ParseObj(text, "a.obj");
  for (const headless::ObjSizes expected :
       {headless::ObjSizes{1, 1, 1}, headless::ObjSizes{4, 2, 7},
        headless::ObjSizes{100, 50, 400}}) {
    const headless::ObjFile read = headless::ParseObj(text, "a.obj", expected);
    EXPECT_EQ(read.pointSpans.size(), plain.pointSpans.size());
    EXPECT_EQ(read.faceFirst, plain.faceFirst);
    EXPECT_EQ(read.cornerPoint, plain.cornerPoint);
    EXPECT_EQ(read.faceLine, plain.faceLine);
    EXPECT_EQ(headless::ObjText(read, read.mesh.points), text);
    try {
      headless::ParseObj(text + "f 1 2 9\n", "a.obj", expected);
      ADD_FAILURE() << "an index out of range was read";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "a.obj:7: corner index 9 is out of range (4 points)");
    }
  }
}

// Spans are held in 8 bytes each, near ones as a distance and a length; those far from the last
// one's end (beyond 32 bits), long ones, and the first far into a text come back as they went in.
TEST(SpanLists, GiveBackEverySpanInOrder) {
  // Distances of 2^32 - 2 and 2^32 - 1 sit on either side of what 32 bits hold beside the mark.
  const Int64 far = Int64{1} << 35, most = (Int64{1} << 32) - 1;
  const std::vector<headless::TextSpan> spans = {{2, 9},
                                                 {9, 9},
                                                 {12, 40},
                                                 {39 + most, 41 + most},
                                                 {41 + 2 * most, 43 + 2 * most},
                                                 {far, far + 7},
                                                 {far + 8, far + 8},
                                                 {far + 9, 3 * far},
                                                 {3 * far + 1, 3 * far + 5},
                                                 {4 * far, 4 * far + 2}};
  for (size_t first = 0; first < spans.size(); ++first) {
    headless::SpanList list;
    for (size_t i = first; i < spans.size(); ++i) list.push_back(spans[i]);
    ASSERT_EQ(list.size(), spans.size() - first);
    headless::SpanList::Reader reader(list);
    for (size_t i = first; i < spans.size(); ++i) {
      const headless::TextSpan span = reader.Next();
      EXPECT_EQ(span.begin, spans[i].begin) << first << " " << i;
      EXPECT_EQ(span.end, spans[i].end) << first << " " << i;
    }
  }
}

TEST_F(ObjFiles, FaultsNameTheFileAndTheLine) {
  const std::string path = (dir / "bad.obj").string();
  const std::string points = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 2 0\n";
  struct Case {
    std::string text;
    std::string line;
    std::string what;
  };
  const Case cases[] = {
      {points + "f 1 2 3 4 1\n", ":6:", "names point 1 twice"},
      {points + "f 1/1 2 3\n", ":6:", "texture coordinate index 1 is out of range"},
      {points + "vn 0 0 1\nf 1//2 2//1 3//1\n", ":7:", "normal index 2 is out of range"},
      {points + "f 1/2/3/4 2 3\n", ":6:", "malformed face corner"},
      {points + "f 1/ 2 3\n", ":6:", "malformed face corner"},
      {points + "f 1 2 3 x\n", ":6:", "malformed face corner"},
      {"v 0 0 0 extra\n", ":1:", "stray word 'extra'"},
      {"v 0 0 0 1 x 1 \n", ":1:", "stray word 'x'"},
      {"v 0 0 0 1 1\n", ":1:", "holds 5 numbers"},
      {"v 0 0 0\nvn 0 0\n", ":2:", "exactly three numbers"},
      {"v 0 0 0\nvn 0 0 1 2\n", ":2:", "exactly three numbers"},
      {"v 0 0 0\nvt 0 0 0 1\n", ":2:", "texture coordinate holds 1 to 3 numbers, not 4"},
      {"v 0 0 0\nvt\n", ":2:", "texture coordinate holds 1 to 3 numbers, not 0"},
      {"v 0 0 0\nvt 0.5 nan\n", ":2:", "malformed texture coordinate 'nan'"},
      {"v 0 0 0\nv 3.1+e2 0 0\n", ":2:", "malformed coordinate '3.1+e2'"},
      {"v 0x1p3 0 0\n", ":1:", "malformed coordinate"},
      {"v +-1 0 0\n", ":1:", "malformed coordinate"},
      {"# nothing\nf 1 2 3\n", ":0:", "no point"},
      {"", ":0:", "no point"},
      {"v 0 0 0\n" + std::string(headless::kMaxObjLineBytes + 1, '#') + "\n",
       ":2:", "longer than 1048576 bytes"},
      {std::string("Kaydara FBX Binary  \0\x1a\0", 23), ":0:", "not a text file"},
      {"\xFF\xFE"
       "v",
       ":0:", "UTF-16"},
      {points + "f 1 2 6\n", ":6:", "out of range"},
      {points + "f 1 2\n", ":6:", "at least 3"},
      {points + "f 0 1 2\n", ":6:", "malformed face corner"},
      {points + "f 1 2 -6\n", ":6:", "before the first point"},
      {points + "f 1 2 x3\n", ":6:", "malformed face corner"},
      {"v 0 0 0\nv 1.2.3 0 0\n", ":2:", "malformed coordinate"},
      {"v 1 2\n", ":1:", "three coordinates"},
      {"v 0 0 0\rv 1 0 0\rv 0 1 0\rf 1 2 4\r", ":4:", "out of range"},
      {"v 1 nan 0\n", ":1:", "malformed coordinate"},
      {"v 1 1e999 0\n", ":1:", "malformed coordinate"},
      {"v 1 1e-999 0\n", ":1:", "malformed coordinate"},  // below the least double, not 0
      {"f 1 2 3\nv 0 0 0\n", ":1:", "out of range"},
      // Indices beyond what a corner keeps are named whole.
      {points + "f 1 2 3000000000\n", ":6:", "corner index 3000000000 is out of range (5 points)"},
      {points + "vt 0 0\nf 1/1 2/1 3/2147483648\n",
       ":7:", "texture coordinate index 2147483648 is out of range (1 in the file)"},
      {points + "vn 0 0 1\nf 1//1 2//1 3//99999999999\n",
       ":7:", "normal index 99999999999 is out of range (1 in the file)"},
      // The length is refused before what the line holds.
      {"v 0 0 0\nf " + std::string(headless::kMaxObjLineBytes, 'x') + "\n",
       ":2:", "longer than 1048576 bytes"},
  };
  for (const Case& c : cases) {
    const std::string message = ErrorOf(c.text);
    EXPECT_NE(message.find(path + c.line), std::string::npos) << c.text << " -> " << message;
    EXPECT_NE(message.find(c.what), std::string::npos) << c.text << " -> " << message;
  }
}

TEST_F(ObjFiles, CornersHoldTextureCoordinatesAndNormalsOnlyOnceSomeCornerNamesOne) {
  const std::string text =
      "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\nvt 0.5 0.5\nf 1/1 3/1 4/1\n";
  const headless::ObjFile file = headless::ParseObj(text, "t.obj");
  const std::vector<Int32> texcoords = {-1, -1, -1, 0, 0, 0};
  EXPECT_EQ(file.cornerTexcoord, texcoords);
  EXPECT_TRUE(file.cornerNormal.empty());
  for (Int64 c = 0; c < 6; ++c) {
    EXPECT_EQ(file.CornerTexcoord(c), texcoords[static_cast<size_t>(c)]);
    EXPECT_EQ(file.CornerNormal(c), -1);
  }
  EXPECT_EQ(headless::ObjText(file, file.mesh.points), text);
}

// Megabytes of text go out in pieces, long unchanged runs as they stand: the same bytes as line
// for line.
TEST_F(ObjFiles, ALargeFileIsWrittenBackWholeThroughItsPieces) {
  const auto text = [](const std::string& x) {
    std::string out;
    for (int half = 0; half < 2; ++half) {
      for (int i = 0; i < 40000; ++i) out += "v " + x + " " + std::to_string(i) + " -3\r\n";
      if (half == 0) out += "# " + std::string(300000, '-') + "\n";
    }
    return out + "f 1 2 3\n";
  };
  const headless::ObjFile file = headless::ParseObj(text("0.25"), "large.obj");
  EXPECT_EQ(headless::ObjText(file, file.mesh.points), text("0.25"));
  std::vector<Vector3> moved = file.mesh.points;
  for (Vector3& p : moved) p.x = 0.125;
  size_t pieces = 0;
  std::string streamed;
  headless::StreamObjText(file, moved, "", [&](std::string_view piece) {
    ++pieces;
    streamed += piece;
  });
  EXPECT_EQ(streamed, text("0.125"));
  EXPECT_GE(pieces, 3u);
}

TEST_F(ObjFiles, AnUnreadableFileIsNamed) {
  const std::string path = (dir / "missing.obj").string();
  try {
    headless::ReadObj(path);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind(path + ":0:", 0), 0u) << e.what();
  }
  EXPECT_THROW(headless::ReadObj(dir.string()), std::runtime_error);  // a folder
}

TEST_F(ObjFiles, WritingThenReadingGivesTheSameBitsAndFaces) {
  const std::vector<Vector3> points = {
      {0.1, 1.0 / 3.0, -0.0},
      {1e-310, -1e300, std::numeric_limits<Float>::min()},
      {123456789.123456789, -2.5, std::nextafter(1.0, 2.0)},
      {0.0, 0.0, 0.0},
  };
  const std::vector<CPolygon> polygons = {{0, 1, 2, 2}, {0, 1, 2, 3}, {3, 2, 1, 1}};
  const std::string path = (dir / "round.obj").string();
  headless::WriteObj(path, points, polygons);
  EXPECT_FALSE(fs::exists(path + ".partial"));
  const headless::Mesh mesh = headless::ReadObj(path);
  ASSERT_EQ(mesh.points.size(), points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_TRUE(SameBits(mesh.points[i].x, points[i].x)) << i;
    EXPECT_TRUE(SameBits(mesh.points[i].y, points[i].y)) << i;
    EXPECT_TRUE(SameBits(mesh.points[i].z, points[i].z)) << i;
  }
  ASSERT_EQ(mesh.polygons.size(), polygons.size());
  for (size_t i = 0; i < polygons.size(); ++i) {
    EXPECT_EQ(std::memcmp(&mesh.polygons[i], &polygons[i], sizeof(CPolygon)), 0) << i;
  }
  // Triangles go out with three corners; numbers in their shortest form.
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\nf 1 2 3\n"), std::string::npos);
  EXPECT_NE(text.find("\nf 1 2 3 4\n"), std::string::npos);
  EXPECT_EQ(text.rfind("v 0.1 0.3333333333333333 -0\n", 0), 0u) << text;
}

TEST_F(ObjFiles, AFailedWriteNamesThePathAndLeavesNoFile) {
  const std::string path = (dir / "no_such_folder" / "out.obj").string();
  try {
    headless::WriteObj(path, std::vector<Vector3>{{0, 0, 0}}, {});
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(dir / "no_such_folder"));
  // That a failure over an existing file keeps it whole is the writer's (output_file_test).
}

// An OBJ written the way 3D applications write them.
const char* const kExported =
    "# exported\r\n"
    "mtllib scene.mtl\r\n"
    "o Hexagon Thing\r\n"
    "v 0 0 0\r\n"
    "v 1.0 0.0 0.0\r\n"
    "v 1.5 0.866 0.0 1.0\r\n"
    "v 1.0 1.732 0.0 0.5 0.25 0.125\r\n"
    "v 0.0 1.732 0.0\r\n"
    "v -0.5 0.866 0.0\r\n"
    "v 0.5 0.866 -1.0  # apex\r\n"
    "vt 0 0\r\n"
    "vt 1 0\r\n"
    "vt 1 1\r\n"
    "vn 0 0 1\r\n"
    "vn 0.5 0.5 0.5\r\n"
    "vn 9 9 9\r\n"
    "g cap\r\n"
    "usemtl red material\r\n"
    "s 1\r\n"
    "f 1/1/1 2/2/1 3/3/1 4/1/1 5/2/1 6/3/1\r\n"
    "g side\r\n"
    "s off\r\n"
    "f -7//2 -1//2 -6//2\r\n"
    "f 2/2 7/3 3/1\r\n"
    "l 1 7\r\n"
    "# end";  // no final line end

TEST_F(ObjFiles, ExportedFileComesBackWithOnlyPositionsAndNormalsChanged) {
  const headless::ObjFile file = headless::ReadObjFile(Write("exported.obj", kExported));
  ASSERT_EQ(file.mesh.points.size(), 7u);
  EXPECT_EQ(file.mesh.points[6].z, -1.0);
  // The hexagon reaches the host as a fan of 4 triangles from its first corner.
  ASSERT_EQ(file.mesh.polygons.size(), 6u);
  const CPolygon& fan = file.mesh.polygons[3];
  EXPECT_EQ((std::vector<Int32>{fan.a, fan.b, fan.c, fan.d}), (std::vector<Int32>{0, 4, 5, 5}));
  ASSERT_EQ(file.FaceCount(), 3);
  EXPECT_EQ(file.faceLine[1], 23);
  EXPECT_EQ(file.cornerPoint[6], 0);  // -7 from 7 points
  EXPECT_EQ(file.cornerNormal[6], 1);

  // Unchanged points: the same text but numbers in the shortest form, which read the same.
  std::vector<Vector3> moved = file.mesh.points;
  for (Vector3& p : moved) p = {p.x * 2.0, p.y * 2.0, p.z * 2.0 + 0.1};
  const std::string text = headless::ObjText(file, moved);
  const headless::ObjFile again = headless::ParseObj(text, "again");
  for (size_t i = 0; i < moved.size(); ++i) {
    EXPECT_TRUE(SameBits(again.mesh.points[i].x, moved[i].x)) << i;
    EXPECT_TRUE(SameBits(again.mesh.points[i].z, moved[i].z)) << i;
  }
  // Line by line: `v` lines keep their weight, colour and comment, `vn` lines get new numbers,
  // every other line is byte for byte the same, line ends included.
  auto lines = [](const std::string& t) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= t.size()) {
      const size_t end = t.find("\r\n", start);
      out.push_back(t.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 2;
    }
    return out;
  };
  const std::vector<std::string> before = lines(kExported), after = lines(text);
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i].rfind("v ", 0) == 0 || before[i].rfind("vn ", 0) == 0) continue;
    EXPECT_EQ(after[i], before[i]) << "line " << i + 1;
  }
  EXPECT_EQ(after[5], "v 3 1.732 0.1 1.0");
  EXPECT_EQ(after[6], "v 2 3.464 0.1 0.5 0.25 0.125");
  EXPECT_EQ(after[9], "v 1 1.732 -1.9  # apex");
  EXPECT_EQ(after[15], "vn 9 9 9");  // named by no face: left as it was
  EXPECT_EQ(after.back(), "# end");
}

TEST_F(ObjFiles, NormalsFollowTheFacesThatNameThem) {
  // Two triangles folded along the x axis, normals per point (1..4) and one per face (5, 6).
  const headless::ObjFile file = headless::ParseObj(
      "v 0 0 0\nv 2 0 0\nv 1 1 0\nv 1 0 1\n"
      "vn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 1 0 0\nvn 1 0 0\n"
      "f 1//1 2//2 3//3\nf 2//2 1//1 4//4\n"
      "f 1//5 2//5 3//5\nf 2//6 1//6 4//6\n",
      "folded");
  const std::vector<std::optional<Vector3>> normals = headless::ObjNormals(file, file.mesh.points);
  ASSERT_EQ(normals.size(), 6u);
  for (const auto& n : normals) ASSERT_TRUE(n.has_value());
  auto near = [](const Vector3& a, const Vector3& b) {
    return std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z) < 1e-12;
  };
  const Float h = std::sqrt(0.5);
  EXPECT_TRUE(near(*normals[4], {0, 0, 1}));  // the first face's own normal
  EXPECT_TRUE(near(*normals[5], {0, 1, 0}));  // the second's
  // Points 1 and 2 lie on both faces (equal areas): the mean of the two; 3 and 4 on one each.
  EXPECT_TRUE(near(*normals[0], {0, h, h}));
  EXPECT_TRUE(near(*normals[1], {0, h, h}));
  EXPECT_TRUE(near(*normals[2], {0, 0, 1}));
  EXPECT_TRUE(near(*normals[3], {0, 1, 0}));
  // Area weighting: a larger second face pulls the shared normal towards its own.
  std::vector<Vector3> stretched = file.mesh.points;
  stretched[3] = {1, 0, 3};
  const auto weighted = headless::ObjNormals(file, stretched);
  EXPECT_TRUE(near(*weighted[0], headless::Normalized({0, 3, 1})));
}

TEST_F(ObjFiles, LineEndsOfEveryKindReadTheSame) {
  const std::string body = "v 0 0 0|v 1 0 0|v 1 1 0|v 0 1 0|# c|f 1 2 3 4|";
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    std::string text;
    for (char c : body) text += c == '|' ? end : std::string(1, c);
    text.pop_back();  // the last line may end without a line end
    if (end == "\r\n") text.pop_back();
    const headless::ObjFile file = headless::ParseObj(text, "ends");
    EXPECT_EQ(file.mesh.points.size(), 4u) << end.size();
    ASSERT_EQ(file.mesh.polygons.size(), 1u);
    EXPECT_EQ(file.faceLine[0], 6);
    EXPECT_EQ(headless::ObjText(file, file.mesh.points), text);
  }
}

TEST_F(ObjFiles, FramesWhoseFacesDifferAreRefusedAtTheFirstDifference) {
  const std::string points = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";
  const headless::ObjFile rest = headless::ParseObj(points + "f 1 2 3\nf 1 3 4\n", "rest.obj");
  EXPECT_NO_THROW(headless::CheckSameFaces(
      rest,
      headless::ParseObj(points + "# other text\nf 1/1 2 3\nf -4 -2 -1\nvt 0 0\n", "same.obj")));
  auto message = [&](const std::string& faces) {
    try {
      headless::CheckSameFaces(rest, headless::ParseObj(points + faces, "frame.obj"));
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(message("f 1 2 3\nf 1 4 3\n"),
            "frame.obj: face 2 is 'f 1 4 3' (line 6) but 'f 1 3 4' (line 6) in the rest rest.obj");
  EXPECT_NE(message("f 1 2 3\nf 1 3 4 2\n").find("face 2 is 'f 1 3 4 2'"), std::string::npos);
  EXPECT_NE(message("f 1 2 3\n").find("1 faces but the rest rest.obj has 2; face 2 'f 1 3 4'"),
            std::string::npos);
  EXPECT_NE(message("f 1 2 3\nf 1 3 4\nf 2 3 4\n").find("is only in frame.obj"), std::string::npos);
}

// Every OBJ file of Assimp's test models, a corpus made by others: each reads and comes back
// as it was, or is refused naming the file and a line.
TEST_F(ObjFiles, AssimpCorpusReadsOrIsRefusedWithFileAndLine) {
  const fs::path corpus = "/usr/share/assimp/models/OBJ";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "assimp-testmodels is not installed";
  std::map<std::string, std::string> outcome;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() != ".obj") continue;
    const std::string path = entry.path().string();
    try {
      const headless::ObjFile file = headless::ReadObjFile(path);
      // Passing the points through unchanged gives back every line that is not a position.
      const headless::ObjFile again =
          headless::ParseObj(headless::ObjText(file, file.mesh.points), path);
      ASSERT_EQ(again.mesh.points.size(), file.mesh.points.size()) << path;
      for (size_t i = 0; i < file.mesh.points.size(); ++i)
        ASSERT_EQ(std::memcmp(&again.mesh.points[i], &file.mesh.points[i], sizeof(Vector3)), 0);
      ASSERT_EQ(again.mesh.polygons.size(), file.mesh.polygons.size()) << path;
      outcome[entry.path().filename().string()] = "read";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(path + ":", 0), 0u) << message;
      outcome[entry.path().filename().string()] = message.substr(path.size());
    }
  }
  ASSERT_GE(outcome.size(), 20u);
  // What a few of them hold, checked by eye against the files.
  EXPECT_EQ(outcome["box.obj"], "read");
  EXPECT_EQ(outcome["box_without_lineending.obj"], "read");
  // A face running round a hole through a bridge passes one point twice.
  EXPECT_EQ(outcome["concave_polygon.obj"], ":77: the face names point 32 twice");
  EXPECT_EQ(outcome["point_cloud.obj"], "read");
  EXPECT_EQ(outcome["cube_with_vertexcolors.obj"], "read");
  EXPECT_EQ(outcome["box_mat_with_spaces.obj"], "read");
  EXPECT_EQ(outcome["testline.obj"], "read");  // lines only: points, no polygon
  EXPECT_EQ(outcome["box_UTF16BE.obj"], ":0: UTF-16 text: save the file as UTF-8 or ASCII");
  EXPECT_EQ(outcome["number_formats.obj"], ":11: malformed coordinate '3.1+e2'");
  EXPECT_EQ(outcome["box_longline.obj"], ":24: the face names point 1 twice");
  for (const auto& [name, result] : outcome)
    std::printf("  %-32s %s\n", name.c_str(), result.c_str());
}

// Everything a reading keeps, numbers by their bits, or the fault it names.
std::string ReadingOf(const std::string& text, size_t partsFrom) {
  std::string out;
  const auto add = [&out](const auto& values) {
    for (const auto& v : values) out += std::to_string(v) + " ";
    out += "|\n";
  };
  const auto addSpan = [&out](const headless::TextSpan& span) {
    out += std::to_string(span.begin) + "-" + std::to_string(span.end) + " ";
  };
  const auto addNumbers = [&out](const auto& vectors) {
    for (const Vector3& v : vectors)
      for (const Float c : {v.x, v.y, v.z}) out += headless::ShortestNumber(c) + " ";
    out += "|\n";
  };
  try {
    const headless::ObjFile file = headless::ParseObj(text, "parts.obj", {}, partsFrom);
    addNumbers(file.mesh.points);
    for (const CPolygon& q : file.mesh.polygons) add(std::vector<Int32>{q.a, q.b, q.c, q.d});
    add(file.faceFirst);
    add(file.cornerPoint);
    add(file.cornerTexcoord);
    add(file.cornerNormal);
    add(file.faceLine);
    add(file.faceMaterial);
    headless::SpanList::Reader spans(file.pointSpans);
    for (size_t k = 0; k < file.pointSpans.size(); ++k) addSpan(spans.Next());
    for (const auto& list : {file.normalSpans, file.mtllibSpans})
      for (const headless::TextSpan& span : list) addSpan(span);
    addNumbers(file.normals);
    for (const Float uv : file.texcoords) out += headless::ShortestNumber(uv) + " ";
    for (const std::string& m : file.materials) out += m + "|";
    out += "\n" + file.objectName + "\n" + std::to_string(file.textBytes);
  } catch (const std::runtime_error& e) {
    out = e.what();
  }
  return out;
}

// A large text is read in parts side by side: a part's counts, lines and materials follow on from
// the parts before, a part that counts back or holds a fault is read again in turn, and the
// result, or the fault with its line, is that of a reading in one go.
TEST_F(ObjFiles, ReadingInPartsGivesWhatReadingInOneGoGives) {
  std::string grid = "\xEF\xBB\xBFmtllib a b.mtl\n# a grid\n";
  for (int j = 0; j < 12; ++j)
    for (int i = 0; i < 12; ++i)
      grid += "v " + std::to_string(i * 0.25) + " " + std::to_string(j) + " 0.5\n";
  grid += "vt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 1\n";
  for (int f = 0; f < 121; ++f) {
    const int a = f / 11 * 12 + f % 11 + 1;
    if (f == 30) grid += "usemtl skin\n";
    if (f == 60) grid += "o later\nusemtl cloth\r\n";
    if (f == 90) grid += "usemtl skin\n";
    const std::string corner = f > 100 ? "/1" : f > 80 ? "//1" : "";
    grid += "f " + std::to_string(a) + corner + " " + std::to_string(a + 1) + corner + " " +
            std::to_string(a + 13) + " " + std::to_string(a + 12) + (f % 7 == 0 ? "\r\n" : "\n");
  }
  const std::vector<std::string> texts = {
      grid,
      grid + "f -1 -2 -3\nf 1/-1 2 3\n",      // counted back at the end
      "v 1 2 3\nf -1 -1 -1\n" + grid,         // at the start
      grid + "v 1 2 three\n",                 // a fault at the end
      "v 1 2\n" + grid + "v 1 2 three\n",     // the first fault wins
      grid + "f 1 2 99999999999\nv 0 0 0\n",  // a fault found once every part is in
      grid + "f 1/4 2 3\n",                   // a texture coordinate out of range
      grid + "f 5 6 5\n",                     // a point twice
      grid.substr(0, grid.size() / 2) + "\n\n\n" + grid.substr(grid.size() / 2),
      "v 0 0 0\rv 1 0 0\rv 0 1 0\rf 1 2 3\r",  // no line feed to split at
      // Lines that start as the common forms do but end otherwise, or are faulty.
      "v 1 2 3#c\nv 1 +2 3\nv 4 5 6 7\nv .5 1e-3 -0\nv 1 2 3 \n" + grid + "f 1 2 3",
      "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2\n" + grid,
      "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 0 1 2\n" + grid,
      "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 1234567890\n" + grid,
      grid + "v 1 2 1e999\n",
  };
  // The same text with a tab after every `v` and `f` keyword: each line read the general way.
  const auto tabbed = [](std::string text) {
    for (size_t i = 0; i + 1 < text.size(); ++i)
      if ((i == 0 || text[i - 1] == '\n' || text[i - 1] == '\r') &&
          (text[i] == 'v' || text[i] == 'f') && text[i + 1] == ' ')
        text[i + 1] = '\t';
    return text;
  };
  for (const std::string& text : texts) {
    const std::string inOneGo = ReadingOf(text, std::numeric_limits<size_t>::max());
    EXPECT_EQ(ReadingOf(text, 0), inOneGo);
    EXPECT_EQ(ReadingOf(text, text.size()), inOneGo);
    EXPECT_EQ(ReadingOf(tabbed(text), std::numeric_limits<size_t>::max()), inOneGo);
  }
  EXPECT_NE(ReadingOf(texts[0], 0).find("cloth"), std::string::npos);
  EXPECT_EQ(ReadingOf(texts[3], 0), "parts.obj:276: malformed coordinate 'three'");
  const fs::path corpus = "/usr/share/assimp/models/OBJ";
  if (!fs::is_directory(corpus)) return;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() != ".obj") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(ReadingOf(text, 0), ReadingOf(text, std::numeric_limits<size_t>::max()))
        << entry.path();
  }
}

// A face corner's index read from a word of 8 bytes at a time or digit by digit, whatever follows
// it and wherever the text ends.
TEST(PlainIndices, ReadAsTheirDigitsSayWhereverTheTextEnds) {
  for (const std::string number : {"9876543210", "1000000001", "0000000070"}) {
    for (size_t length = 0; length <= number.size(); ++length) {
      for (const std::string after : {"", " ", "\n", "/", ":", "\x80", "\xff", "\x7f", ".",
                                      "/2 3 4 5 6 7\n", ":2 3 4 5 6 7\n", "\xba\x80 3 4 5 6\n"}) {
        const std::string text = number.substr(0, length) + after;
        const std::string digits = number.substr(0, std::min<size_t>(length, 9));
        const bool taken = !digits.empty() && std::stoi(digits) != 0;
        Int32 index = -1;
        const char* const end =
            headless::ParsePlainIndex(text.data(), text.data() + text.size(), index);
        SCOPED_TRACE("'" + text + "'");
        EXPECT_EQ(end, taken ? text.data() + digits.size() : nullptr);
        if (taken) {
          EXPECT_EQ(index, std::stoi(digits));
        }
      }
    }
  }
}

// Normals authored as the exporter wished (not the ones the faces give), a degenerate face with
// a normal of its own, and a normal no face names.
const char* const kAuthored =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 3 0 0\n"
    "vn 0.1 0 0.99\nvn -0.2 0.3 0.9\nvn 0 0 1\nvn 0.6 0 0.8\nvn 0 1 0\nvn 7 7 7\n"
    "f 1//1 2//2 3//3 4//4\nf 1//5 5//5 6//5\n";

TEST_F(ObjFiles, AuthoredNormalsTurnWithTheSurfaceAndComeBackAsWrittenAtRest) {
  const headless::ObjFile file = headless::ParseObj(kAuthored, "authored");
  ASSERT_EQ(file.normals.size(), 6u);
  // At rest, every byte as it was.
  EXPECT_EQ(headless::ObjText(file, file.mesh.points), kAuthored);
  // Turned a quarter about z and moved: each normal turns the same quarter; the degenerate
  // face's (it has no area, so no direction to follow) and the unnamed one stay as written.
  std::vector<Vector3> turned;
  for (const Vector3& p : file.mesh.points) turned.push_back({5.0 - p.y, p.x, p.z + 1.0});
  const headless::ObjFile again = headless::ParseObj(headless::ObjText(file, turned), "turned");
  for (size_t n = 0; n < 4; ++n) {
    const Vector3& was = file.normals[n];
    const Vector3& is = again.normals[n];
    EXPECT_NEAR(is.x, -was.y, 1e-12) << n;
    EXPECT_NEAR(is.y, was.x, 1e-12) << n;
    EXPECT_NEAR(is.z, was.z, 1e-12) << n;
  }
  for (size_t n : {size_t{4}, size_t{5}}) {
    EXPECT_EQ(again.normals[n].x, file.normals[n].x) << n;
    EXPECT_EQ(again.normals[n].y, file.normals[n].y) << n;
  }
  // Bent: the quad folds up along its diagonal; point 3's normal follows its faces.
  std::vector<Vector3> bent = file.mesh.points;
  bent[2].z = 0.5;
  const headless::ObjFile folded = headless::ParseObj(headless::ObjText(file, bent), "bent");
  EXPECT_LT(folded.normals[2].x, -0.1);
  EXPECT_NEAR(headless::Length(folded.normals[2]), 1.0, 1e-12);
}

// A file that has let its text go is written back from the file it was read from, a piece at a
// time, to the same bytes as from its text: libraries moved, normals turned, long unchanged runs
// across the pieces. A file that is no longer as long as it was is refused and nothing written.
TEST_F(ObjFiles, AFileThatLetItsTextGoIsWrittenBackFromItsFile) {
  std::string text = "mtllib a.mtl\r\n";
  for (int i = 0; i < 60000; ++i) text += "v " + std::to_string(i) + " 0.5 -3\r\n";
  text += "vn 0 0 1\n";
  for (int i = 0; i < 6; ++i) text += "# " + std::string(500000, '-') + "\n";
  for (int i = 1; i + 2 <= 60000; i += 2)
    text += "f " + std::to_string(i) + "//1 " + std::to_string(i + 1) + "//1 " +
            std::to_string(i + 2) + "//1\n";
  fs::create_directories(dir / "in");
  fs::create_directories(dir / "out");
  const std::string source = (dir / "in" / "big.obj").string();
  std::ofstream(source, std::ios::binary) << text;
  headless::ObjFile file = headless::ReadObjFile(source);
  std::vector<Vector3> moved = file.mesh.points;
  for (Vector3& p : moved) p = {p.x, 0.5 * p.x, 0.125};
  const std::string output = (dir / "out" / "big.obj").string();
  const std::string expected = headless::ObjText(file, moved, output);
  std::string().swap(file.text);
  EXPECT_EQ(headless::ObjText(file, moved, output), expected);
  headless::WriteObjLike(output, file, moved);
  std::ifstream written(output, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), expected);

  for (const std::string& changed : {text + "# more\n", text.substr(0, text.size() / 2)}) {
    std::ofstream(source, std::ios::binary | std::ios::trunc) << changed;
    const std::string other = (dir / "out" / "other.obj").string();
    try {
      headless::WriteObjLike(other, file, moved);
      ADD_FAILURE() << "a file changed after it was read was written back";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()),
                source + ": cannot read: the file changed after it was read");
    }
    EXPECT_FALSE(fs::exists(other));
  }
}

TEST_F(ObjFiles, MaterialLibrariesAreReachedFromTheOutputsFolder) {
  using headless::RelocatedLibrary;
  const std::string source = (dir / "in" / "walk.obj").string();
  EXPECT_EQ(RelocatedLibrary("walk.mtl", source, (dir / "in" / "out.obj").string()), "walk.mtl");
  EXPECT_EQ(RelocatedLibrary("walk.mtl", source, (dir / "out" / "w.obj").string()),
            "../in/walk.mtl");
  EXPECT_EQ(RelocatedLibrary("lib/a.mtl", source, (dir / "in" / "deep" / "w.obj").string()),
            "../lib/a.mtl");
  EXPECT_EQ(RelocatedLibrary("/abs/a.mtl", source, (dir / "out" / "w.obj").string()), "/abs/a.mtl");
  EXPECT_EQ(RelocatedLibrary("walk.mtl", "-", (dir / "out" / "w.obj").string()), "walk.mtl");
  EXPECT_EQ(RelocatedLibrary("walk.mtl", source, "-"), "walk.mtl");
  // Several libraries on one line, unless a file is called by the whole name.
  EXPECT_EQ(RelocatedLibrary("a.mtl  b.mtl", source, (dir / "out" / "w.obj").string()),
            "../in/a.mtl  ../in/b.mtl");
  fs::create_directories(dir / "in");
  std::ofstream(dir / "in" / "my skin.mtl") << "newmtl skin\n";
  EXPECT_EQ(RelocatedLibrary("my skin.mtl", source, (dir / "out" / "w.obj").string()),
            "../in/my skin.mtl");

  // Written elsewhere, the line names the library from there; nothing else moves.
  const headless::ObjFile file = headless::ParseObj(
      "mtllib my skin.mtl # the skin\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", source);
  fs::create_directories(dir / "out");
  headless::WriteObjLike((dir / "out" / "w.obj").string(), file, file.mesh.points);
  std::ifstream written(dir / "out" / "w.obj");
  std::string first;
  std::getline(written, first);
  EXPECT_EQ(first, "mtllib ../in/my skin.mtl # the skin");
}

TEST_F(ObjFiles, AnObjsOwnVerticesAreItsDistinctCornersAndWriteBackAsAnObj) {
  const headless::ObjFile file = headless::ReadObjFile(Write("exported.obj", kExported));
  const headless::FileVertices vertices = headless::ObjFileVertices(file);
  EXPECT_NO_THROW(headless::CheckFileVertices(vertices, 7));
  EXPECT_EQ(vertices.object, "Hexagon Thing");
  EXPECT_EQ(vertices.materials, std::vector<std::string>{"red material"});
  EXPECT_EQ(vertices.faceMaterial, (std::vector<Int32>{0, 0, 0}));
  // The hexagon's six corners, the side triangle's three (v//n), the last face's three (v/t).
  ASSERT_EQ(vertices.VertexCount(), 12);
  ASSERT_EQ(vertices.normals.size(), 12u);
  ASSERT_EQ(vertices.uvs.size(), 24u);
  EXPECT_EQ(vertices.vertexPoint[6], 0);
  EXPECT_EQ(vertices.normals[6].x, 0.5);
  EXPECT_EQ(vertices.uvs[2 * 6], 0.0f);  // names no texture coordinate
  EXPECT_EQ(vertices.uvs[2 * 9 + 1], 0.0f);
  EXPECT_EQ(vertices.uvs[2 * 10], 1.0f);
  EXPECT_EQ(vertices.normals[9].z, 0.0);  // names no normal

  // Its OBJ: a `v`, `vt` and `vn` per vertex, the faces on them after their material.
  const std::vector<Vector3> positions = headless::FileVertexPositions(vertices, file.mesh.points);
  const std::string text = headless::FileVerticesObjText(vertices, positions, vertices.normals);
  const headless::ObjFile back = headless::ParseObj(text, "back");
  EXPECT_EQ(back.objectName, "Hexagon Thing");
  EXPECT_EQ(back.materials, vertices.materials);
  ASSERT_EQ(back.mesh.points.size(), 12u);
  ASSERT_EQ(back.FaceCount(), 3);
  EXPECT_EQ(back.faceFirst, vertices.faceFirst);
  for (size_t c = 0; c < back.cornerPoint.size(); ++c) {
    EXPECT_EQ(back.cornerPoint[c], vertices.cornerVertex[c]);
    EXPECT_EQ(back.cornerTexcoord[c], vertices.cornerVertex[c]);
    EXPECT_EQ(back.cornerNormal[c], vertices.cornerVertex[c]);
  }
  for (size_t v = 0; v < 12; ++v) {
    EXPECT_TRUE(SameBits(back.mesh.points[v].y, positions[v].y)) << v;
    EXPECT_EQ(static_cast<Float32>(back.texcoords[2 * v + 1]), vertices.uvs[2 * v + 1]) << v;
  }
  EXPECT_EQ(text.find("usemtl red material\nf 1/1/1 2/2/2 3/3/3 4/4/4 5/5/5 6/6/6\n"),
            text.find("usemtl"));
}

}  // namespace
