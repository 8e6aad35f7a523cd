// The host's point-cache deformer playing samples over frames: the sample at its frame,
// interpolation between samples, the first and last holding outside, and refusals that change
// nothing.
#include <gtest/gtest.h>

#include "headless/deformers/cache_deformer.h"
#include "headless/deformers/skin.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/scene.h"

namespace {

TEST(PointCachePlayback, PlaysTheSampleAtTheDocumentsFrame) {
  auto doc = headless::NewDocument();
  headless::Node* object =
      doc->AddPolygonObject("tri", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 2}});
  headless::Node* cache = doc->AddObject(headless::kPointCacheType, "cache", object);
  // Two samples at frames 10 and 14: every point moves up by 4 between them.
  std::vector<Vector3> points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 4}, {1, 0, 4}, {0, 1, 4}};
  headless::LoadPointCacheSamples(cache, 3, {10.0, 14.0}, points);
  EXPECT_EQ(headless::PointCacheFrames(cache), (std::vector<Float>{10.0, 14.0}));
  for (const auto& [frame, z] : std::vector<std::pair<Float, Float>>{
           {0.0, 0.0}, {10.0, 0.0}, {11.0, 1.0}, {13.5, 3.5}, {14.0, 4.0}, {99.0, 4.0}}) {
    ASSERT_TRUE(headless::EvaluateDocumentAtFrame(*doc, frame).Ok());
    EXPECT_EQ(headless::DeformedPoints(object)[1].z, z) << frame;
    EXPECT_EQ(headless::DeformedPoints(object)[1].x, 1.0) << frame;
  }
  // Refusals leave the samples as they were.
  EXPECT_THROW(headless::LoadPointCacheSamples(cache, 3, {1.0, 1.0}, points),
               std::invalid_argument);
  EXPECT_THROW(headless::LoadPointCacheSamples(cache, 2, {1.0, 2.0}, points),
               std::invalid_argument);
  EXPECT_EQ(headless::PointCacheFrames(cache).size(), 2u);
  // Samples of another point count are an error of the pass that keeps the points.
  headless::LoadPointCacheSamples(cache, 2, {1.0, 2.0, 3.0}, points);
  const headless::DeformReport report = headless::EvaluateDocumentAtFrame(*doc, 2.0);
  ASSERT_FALSE(report.Ok());
  EXPECT_NE(report.errors[0].find("3 samples of 2 points but the object has 3"), std::string::npos)
      << report.errors[0];
  EXPECT_EQ(headless::DeformedPoints(object)[1].z, 0.0);
  // One loaded frame plays at every frame and forgets the samples' frames.
  headless::LoadPointCacheFrame(cache, {{0, 0, 7}, {1, 0, 7}, {0, 1, 7}});
  EXPECT_TRUE(headless::PointCacheFrames(cache).empty());
  ASSERT_TRUE(headless::EvaluateDocumentAtFrame(*doc, 12.0).Ok());
  EXPECT_EQ(headless::DeformedPoints(object)[2].z, 7.0);
}

}  // namespace
