// The software renderer: coverage of a known quad, the depth test in both drawing orders, shading
// that follows the surface normal, panels with captions, camera fitting, and refusal of bad input.
#include "headless/picture/rasterizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr Int32 kSide = 64;

bool Same(headless::Rgb a, headless::Rgb b) {
  return a.r == b.r && a.g == b.g && a.b == b.b;
}

headless::RenderOptions Plain() {
  headless::RenderOptions o;
  o.supersample = 1;
  return o;
}

// Looks down -z from z = 4 with a 90 degree field of view: at z = 0 the viewport spans [-4, 4],
// so 8 pixels per unit in a 64 x 64 viewport.
headless::Camera FrontCamera() {
  headless::Camera c;
  c.eye = {0.0, 0.0, 4.0};
  c.fovYDegrees = 90.0;
  return c;
}

headless::Image Background() {
  headless::Image image = headless::MakeImage(kSide, kSide, {});
  headless::RenderMesh(image, 0, 0, kSide, kSide, {}, FrontCamera(), Plain());
  return image;
}

TEST(Render, QuadCoversExactlyItsProjectedPixels) {
  // Quad [-1, 1] x [-1, 0.5] at z = 0: pixels 24 .. 39 across, 28 .. 39 down (y up on screen).
  const std::vector<Vector3> points{{-1, -1, 0}, {1, -1, 0}, {1, 0.5, 0}, {-1, 0.5, 0}};
  const std::vector<CPolygon> quad{{0, 1, 2, 3}};
  headless::MeshView mesh{points.data(), 4, quad.data(), 1, ""};
  const headless::Image empty = Background();
  for (const bool reversed : {false, true}) {
    std::vector<CPolygon> polys = quad;
    if (reversed) polys[0] = {3, 2, 1, 0};  // seen from behind: still drawn, both sides lit
    mesh.polygons = polys.data();
    headless::Image image = headless::MakeImage(kSide, kSide, {});
    headless::RenderMesh(image, 0, 0, kSide, kSide, mesh, FrontCamera(), Plain());
    Int32 covered = 0;
    for (Int32 y = 0; y < kSide; ++y)
      for (Int32 x = 0; x < kSide; ++x) {
        const bool inside = x >= 24 && x < 40 && y >= 28 && y < 40;
        const bool drawn = !Same(headless::PixelAt(image, x, y), headless::PixelAt(empty, x, y));
        EXPECT_EQ(drawn, inside) << x << ", " << y << (reversed ? " reversed" : "");
        covered += drawn;
      }
    EXPECT_EQ(covered, 16 * 12);
  }
}

TEST(Render, NearerTriangleWinsInEitherOrder) {
  // A red triangle at z = 0 and a blue one at z = 1 overlapping around the centre.
  const std::vector<Vector3> points{{-2, -2, 0}, {2, -2, 0}, {0, 2, 0},
                                    {-1, -1, 1}, {1, -1, 1}, {0, 1, 1}};
  const std::vector<headless::Rgb> colors{{220, 0, 0}, {220, 0, 0}, {220, 0, 0},
                                          {0, 0, 220}, {0, 0, 220}, {0, 0, 220}};
  for (const bool nearFirst : {false, true}) {
    std::vector<CPolygon> polys{{0, 1, 2, 2}, {3, 4, 5, 5}};
    if (nearFirst) std::swap(polys[0], polys[1]);
    headless::MeshView mesh{points.data(), 6, polys.data(), 2, ""};
    mesh.pointColors = colors.data();
    headless::Image image = headless::MakeImage(kSide, kSide, {});
    headless::RenderMesh(image, 0, 0, kSide, kSide, mesh, FrontCamera(), Plain());
    const headless::Rgb centre = headless::PixelAt(image, 32, 33);
    EXPECT_GT(centre.b, centre.r + 60) << nearFirst;
    // Near the far triangle's lower corner only the red one is there.
    const headless::Rgb corner = headless::PixelAt(image, 18, 44);
    EXPECT_GT(corner.r, corner.b + 60) << nearFirst;
  }
}

TEST(Render, ShadingFollowsTheNormal) {
  // The same square facing the camera and turned 70 degrees away: the turned one is darker.
  auto brightness = [](Float angle) {
    const Float c = std::cos(angle);
    const Float s = std::sin(angle);
    const std::vector<Vector3> points{{-c, -1, s}, {c, -1, -s}, {c, 1, -s}, {-c, 1, s}};
    const std::vector<CPolygon> quad{{0, 1, 2, 3}};
    headless::MeshView mesh{points.data(), 4, quad.data(), 1, ""};
    headless::Image image = headless::MakeImage(kSide, kSide, {});
    headless::RenderMesh(image, 0, 0, kSide, kSide, mesh, FrontCamera(), Plain());
    const headless::Rgb p = headless::PixelAt(image, 32, 32);
    return p.r + p.g + p.b;
  };
  EXPECT_GT(brightness(0.0), brightness(70.0 * 3.14159265358979 / 180.0) + 60);
}

TEST(Render, PanelsSitSideBySideWithTheirCaptions) {
  const std::vector<Vector3> points{{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  const std::vector<CPolygon> quad{{0, 1, 2, 3}};
  headless::MeshView left{points.data(), 4, quad.data(), 1, "rest"};
  headless::MeshView right = left;
  right.caption = "";
  right.color = {40, 200, 40};
  headless::RenderOptions o = Plain();
  const headless::Image image =
      headless::RenderPanels({left, right}, FrontCamera(), kSide, kSide, o);
  ASSERT_EQ(image.width, 2 * kSide);
  ASSERT_EQ(image.height, kSide);
  // Each panel has its own copy of the quad in its own colour.
  const headless::Rgb a = headless::PixelAt(image, 32, 32);
  const headless::Rgb b = headless::PixelAt(image, kSide + 32, 32);
  EXPECT_GT(a.r, a.g);
  EXPECT_GT(b.g, b.r);
  // The caption is drawn in the first panel's top-left corner and nowhere in the second.
  auto captionPixels = [&](Int32 x0) {
    Int32 count = 0;
    for (Int32 y = 0; y < 8 + headless::kGlyphHeight * o.captionScale; ++y)
      for (Int32 x = x0 + 1; x < x0 + 8 + 4 * 6 * o.captionScale; ++x)
        count += Same(headless::PixelAt(image, x, y), o.captionColor);
    return count;
  };
  EXPECT_GT(captionPixels(0), 20);
  EXPECT_EQ(captionPixels(kSide), 0);
  EXPECT_THROW(headless::RenderPanels({}, FrontCamera(), kSide, kSide), std::invalid_argument);
}

TEST(Render, FitCameraKeepsEveryPointInView) {
  std::vector<Vector3> points;
  for (Int32 i = 0; i < 50; ++i)
    points.push_back({std::sin(i * 0.7) * 3.0 + 10.0, i * 0.2 - 4.0, std::cos(i * 1.3) * 0.5});
  std::vector<CPolygon> polys;
  for (Int32 i = 0; i + 2 < 50; ++i) polys.push_back({i, i + 1, i + 2, i + 2});
  const headless::MeshView mesh{points.data(), 50, polys.data(), static_cast<Int64>(polys.size()),
                                ""};
  for (const Float aspect : {0.5, 1.0, 2.5}) {
    const headless::Camera camera =
        headless::FitCamera({mesh}, {0.2, -0.3, -1.0}, {0, 1, 0}, 35.0, aspect);
    const Int32 h = 60;
    const Int32 w = static_cast<Int32>(h * aspect);
    headless::Image image = headless::MakeImage(w, h, {});
    headless::RenderMesh(image, 0, 0, w, h, mesh, camera, Plain());
    headless::Image empty = headless::MakeImage(w, h, {});
    headless::RenderMesh(empty, 0, 0, w, h, {}, camera, Plain());
    // Nothing drawn on the border: the mesh lies wholly inside, and something is drawn.
    Int32 drawn = 0;
    for (Int32 y = 0; y < h; ++y)
      for (Int32 x = 0; x < w; ++x) {
        const bool differs = !Same(headless::PixelAt(image, x, y), headless::PixelAt(empty, x, y));
        drawn += differs;
        if (x == 0 || y == 0 || x == w - 1 || y == h - 1) {
          EXPECT_FALSE(differs) << x << ", " << y;
        }
      }
    EXPECT_GT(drawn, 20) << aspect;
  }
  EXPECT_THROW(headless::FitCamera({}, {0, 0, -1}, {0, 1, 0}, 30, 1), std::invalid_argument);
}

TEST(Render, BadInputIsRefusedAndTheImageKept) {
  const std::vector<Vector3> points{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const std::vector<CPolygon> bad{{0, 1, 3, 3}};
  headless::Image image = headless::MakeImage(8, 8, {1, 2, 3});
  const headless::Image before = image;
  auto message = [&](auto&& call) -> std::string {
    try {
      call();
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "no error";
  };
  const headless::MeshView badMesh{points.data(), 3, bad.data(), 1, ""};
  EXPECT_NE(message([&] {
              headless::RenderMesh(image, 0, 0, 8, 8, badMesh, FrontCamera());
            }).find("names point 3"),
            std::string::npos);
  EXPECT_NE(
      message([&] { headless::RenderMesh(image, 4, 0, 8, 8, {}, FrontCamera()); }).find("viewport"),
      std::string::npos);
  headless::Camera blind = FrontCamera();
  blind.target = blind.eye;
  EXPECT_NE(message([&] { headless::RenderMesh(image, 0, 0, 8, 8, {}, blind); }).find("coincide"),
            std::string::npos);
  headless::Camera tilted = FrontCamera();
  tilted.up = {0, 0, 1};
  EXPECT_NE(message([&] { headless::RenderMesh(image, 0, 0, 8, 8, {}, tilted); }).find("parallel"),
            std::string::npos);
  headless::RenderOptions o;
  o.supersample = 9;
  EXPECT_NE(message([&] {
              headless::RenderMesh(image, 0, 0, 8, 8, {}, FrontCamera(), o);
            }).find("supersample"),
            std::string::npos);
  o = {};
  o.keyDirection = {0.0, 0.0, 0.0};
  EXPECT_NE(message([&] {
              headless::RenderMesh(image, 0, 0, 8, 8, {}, FrontCamera(), o);
            }).find("light direction"),
            std::string::npos);
  EXPECT_TRUE(image.rgb == before.rgb);
}

}  // namespace
