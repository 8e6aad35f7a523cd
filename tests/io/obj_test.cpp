// OBJ meshes: what the reader keeps, how it names faults, and a bit-exact round trip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "headless/io/obj.h"

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

TEST_F(ObjFiles, FaultsNameTheFileAndTheLine) {
  const std::string path = (dir / "bad.obj").string();
  const std::string points = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 2 0\n";
  struct Case {
    std::string text;
    std::string line;
    std::string what;
  };
  const Case cases[] = {
      {points + "f 1 2 3 4 5\n", ":6:", "5 corners"},
      {points + "f 1 2 6\n", ":6:", "out of range"},
      {points + "f 1 2\n", ":6:", "at least 3"},
      {points + "f 0 1 2\n", ":6:", "malformed corner"},
      {points + "f 1 2 -6\n", ":6:", "before the first point"},
      {points + "f 1 2 x3\n", ":6:", "malformed corner"},
      {"v 0 0 0\nv 1.2.3 0 0\n", ":2:", "malformed coordinate"},
      {"v 1 2\n", ":1:", "three coordinates"},
      {"v 1 nan 0\n", ":1:", "malformed coordinate"},
      {"v 1 1e999 0\n", ":1:", "malformed coordinate"},
      {"f 1 2 3\nv 0 0 0\n", ":1:", "out of range"},
  };
  for (const Case& c : cases) {
    const std::string message = ErrorOf(c.text);
    EXPECT_NE(message.find(path + c.line), std::string::npos) << c.text << " -> " << message;
    EXPECT_NE(message.find(c.what), std::string::npos) << c.text << " -> " << message;
  }
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
  // Triangles go out with three corners.
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\nf 1 2 3\n"), std::string::npos);
  EXPECT_NE(text.find("\nf 1 2 3 4\n"), std::string::npos);
}

TEST_F(ObjFiles, AFailedWriteNamesThePathAndLeavesNoFile) {
  const std::string path = (dir / "no_such_folder" / "out.obj").string();
  try {
    headless::WriteObj(path, {{0, 0, 0}}, {});
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(dir / "no_such_folder"));
  // That a failure over an existing file keeps it whole is the writer's (output_file_test).
}

}  // namespace
