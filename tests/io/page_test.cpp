// The page's data (headless/io/page.h): quantised positions within their stated bound, the
// encodings the page decodes, and the checks on what a page is given.
#include "headless/io/page.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using headless::PageBuilder;

constexpr std::string_view kTemplate = "<p>before</p><script>/*tessamire:data*/</script>after";

// The data a page holds: what the builder put into the template's marker.
std::string Data(const PageBuilder& page) {
  const std::string text = page.Text(kTemplate);
  const size_t start = text.find("<script>") + 8;
  return text.substr(start, text.find("</script>") - start);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(PagePositions, DecodeWithinHalfAStepOfTheirFramesBoundsAtAnyScale) {
  std::mt19937_64 random(7);
  for (const double scale : {1e-8, 1.0, 1e8}) {
    std::uniform_real_distribution<double> coordinate(-3.0 * scale, 5.0 * scale);
    std::vector<Vector3> points(500);
    for (Vector3& p : points) p = {coordinate(random), coordinate(random), 0.25 * scale};
    const headless::QuantisedPoints q = headless::QuantisePoints(points);
    const std::vector<Vector3> back = headless::DecodePoints(q);
    ASSERT_EQ(back.size(), points.size());
    EXPECT_EQ(q.step.z, 0.0);  // a flat axis is exact
    for (size_t i = 0; i < points.size(); ++i) {
      const double slack = 4 * std::numeric_limits<double>::epsilon() * 5.0 * scale;
      EXPECT_LE(std::fabs(back[i].x - points[i].x), q.step.x / 2 + slack);
      EXPECT_LE(std::fabs(back[i].y - points[i].y), q.step.y / 2 + slack);
      EXPECT_EQ(back[i].z, points[i].z);
    }
    // The extremes are exact codes 0 and 65535, and the step spans the bounds.
    EXPECT_LE(q.step.x * 65535, 8.0 * scale);
    EXPECT_GT(q.step.x * 65535, 7.9 * scale);
  }
  EXPECT_THROW(headless::QuantisePoints(std::vector<Vector3>{{0, std::nan(""), 0}}),
               std::invalid_argument);
  EXPECT_TRUE(headless::QuantisePoints({}).codes.empty());
}

TEST(PageEncoding, Base64AndJsonStringsAsThePageReadsThem) {
  auto b64 = [](std::string_view s) {
    return headless::Base64(std::vector<std::uint8_t>(s.begin(), s.end()));
  };
  EXPECT_EQ(b64(""), "");
  EXPECT_EQ(b64("f"), "Zg==");
  EXPECT_EQ(b64("fo"), "Zm8=");
  EXPECT_EQ(b64("foo"), "Zm9v");
  EXPECT_EQ(b64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(b64("\xff\xfe\x00"), "//4=");
  // Nothing in a name can end the page's script element.
  EXPECT_EQ(headless::JsonString("a\"b\\</script>&\n"),
            "\"a\\\"b\\\\\\u003c/script\\u003e\\u0026\\u000a\"");
}

TEST(PageBuilder, InputsShareTheirPolygonsAndFramesGoInOrder) {
  const std::vector<CPolygon> quad = {{0, 1, 2, 3}};
  const std::vector<Vector3> points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  PageBuilder page("t");
  const Int32 a = page.AddInput("a", 4, quad);
  const Int32 b = page.AddInput("b", 4, quad);
  const Int32 c = page.AddInput("c", 4, std::vector<CPolygon>{{0, 1, 2, 2}});
  page.AddFrame(a, 1.0, points);
  page.AddFrame(a, 2.5, points);
  EXPECT_THROW(page.AddFrame(a, 2.5, points), std::invalid_argument);
  EXPECT_THROW(page.AddFrame(a, 3.0, std::vector<Vector3>(3)), std::invalid_argument);
  page.AddFrame(b, 0.0, points, std::vector<Float>{1.0, 0.0, 2.0, std::nan("")});
  EXPECT_THROW(page.AddFrame(b, 1.0, points), std::invalid_argument);  // kept for some frames only
  EXPECT_THROW(page.AddFrame(c, 0.0, points, std::vector<Float>{1.0}), std::invalid_argument);
  EXPECT_THROW(page.Text(kTemplate), std::invalid_argument);  // c has no frame yet
  page.AddFrame(c, 0.0, points);
  page.SetWeights(c, std::vector<Float32>{0.f, 1.f, 0.5f, 2.f});
  EXPECT_THROW(page.SetWeights(c, std::vector<Float32>{0.f}), std::invalid_argument);
  EXPECT_THROW(page.AddInput("d", 2, quad), std::invalid_argument);  // index 3 of 2 points

  const std::string data = Data(page);
  EXPECT_EQ(Count(data, "\"polygons\":"), 2u);  // a and b share one topology
  EXPECT_NE(data.find("\"name\":\"b\",\"topology\":0"), std::string::npos);
  EXPECT_NE(data.find("\"name\":\"c\",\"topology\":1"), std::string::npos);
  EXPECT_NE(data.find("\"frames\":[1,2.5]"), std::string::npos);
  // Kept 1, 0, 2 (clamped to 1.5) and NaN as codes 170, 0, 255, 255.
  EXPECT_NE(data.find("\"kept\":[\"" +
                      headless::Base64(std::vector<std::uint8_t>{170, 0, 255, 255}) + "\"]"),
            std::string::npos);
  EXPECT_EQ(page.Text(kTemplate).rfind("<p>before</p><script>{", 0), 0u);
  EXPECT_THROW(page.Text("no marker"), std::invalid_argument);
}

}  // namespace
