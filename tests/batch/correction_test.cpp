// The correction behind `tessamire apply` and the Python module, through the real plug-in: two
// corrections on two threads are inside their evaluations at once and give what each gives alone.
#include "headless/batch/correction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "headless/batch/correction_rooms.h"
#include "headless/geometry/primitives.h"
#include "tests/support/loaded_plugin.h"

namespace {

bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
}

class CorrectionTest : public LoadedPluginTest {};

std::vector<Vector3> Bent(const std::vector<Vector3>& points, Float angle) {
  std::vector<Vector3> out = points;
  for (Vector3& p : out) {
    const Float turn = angle * p.y / 40.0;
    p = {p.x * std::cos(turn) - p.z * std::sin(turn), p.y,
         p.x * std::sin(turn) + p.z * std::cos(turn)};
  }
  return out;
}

TEST_F(CorrectionTest, TwoCorrectionsOnTwoThreadsEvaluateAtOnceAndAsAlone) {
  const headless::Mesh torus = headless::Torus(120, 40);
  std::vector<std::unique_ptr<headless::Correction>> corrections;
  std::vector<std::vector<Vector3>> frames, alone(2), together(2);
  for (Int32 c = 0; c < 2; ++c) {
    headless::CorrectionSettings settings;
    settings.iterations = 4 + c;
    corrections.push_back(
        std::make_unique<headless::Correction>("torus", torus.points, torus.polygons, settings));
    frames.push_back(Bent(torus.points, 0.5 + c));
    corrections[c]->Correct(frames[c], "frame");
    alone[c] = corrections[c]->Result();
  }
  headless::MeetAtLoops(2, 60.0);
  std::thread threads[2];
  for (Int32 c = 0; c < 2; ++c)
    threads[c] = std::thread([&, c] {
      const headless::ThreadWorkers workers(1 + c);
      corrections[c]->Correct(frames[c], "frame");
      together[c] = corrections[c]->Result();
    });
  for (std::thread& t : threads) t.join();
  const bool met = headless::LoopsMet();
  headless::MeetAtLoops(0, 0.0);
  EXPECT_TRUE(met) << "both evaluations were under way at once";
  for (Int32 c = 0; c < 2; ++c) EXPECT_TRUE(SameBits(together[c], alone[c])) << "correction " << c;
  EXPECT_FALSE(SameBits(alone[0], frames[0]));
}

// A frame whose array the correction takes gives the bits of one it copies, frame after frame,
// whether or not its array is taken back after; a frame it refuses is not taken.
TEST_F(CorrectionTest, TakingAFramesArrayGivesTheSameBitsAsCopyingIt) {
  const headless::Mesh torus = headless::Torus(60, 24);
  headless::Correction copying("torus", torus.points, torus.polygons, {});
  headless::Correction taking("torus", torus.points, torus.polygons, {});
  for (Float angle : {0.5, 1.5}) {
    const std::vector<Vector3> frame = Bent(torus.points, angle);
    copying.Correct(frame, "frame");
    std::vector<Vector3> own = frame;
    taking.Correct(std::move(own), "frame");
    EXPECT_TRUE(own.empty());
    if (angle > 1.0) {
      const std::vector<Vector3> room = headless::CorrectionRooms::TakeInput(taking);
      EXPECT_TRUE(room.empty());
      EXPECT_GE(room.capacity(), torus.points.size()) << "the room of the frame's points";
    }
    EXPECT_TRUE(SameBits(taking.Result(), copying.Result())) << "bent by " << angle;
    // A result taken is the result; handed back, its stale values do not reach the next one's.
    std::vector<Vector3> taken = headless::CorrectionRooms::TakeResult(taking);
    EXPECT_TRUE(SameBits(taken, copying.Result())) << "bent by " << angle;
    headless::CorrectionRooms::GiveBackRoom(taking, std::move(taken));
    EXPECT_TRUE(taken.empty());
    copying.Correct(Bent(torus.points, angle + 0.25), "next");
    taking.Correct(Bent(torus.points, angle + 0.25), "next");
    EXPECT_TRUE(SameBits(taking.Result(), copying.Result())) << "bent by " << angle + 0.25;
  }
  std::vector<Vector3> shorter(torus.points.begin(), torus.points.end() - 1);
  EXPECT_THROW(taking.Correct(std::move(shorter), "short"), std::invalid_argument);
  EXPECT_EQ(shorter.size(), torus.points.size() - 1);
}

TEST_F(CorrectionTest, RefusesFramesItCannotCorrectAndAClosedPlugin) {
  const headless::Mesh torus = headless::Torus(12, 8);
  headless::Correction correction("torus", torus.points, torus.polygons, {});
  std::vector<Vector3> frame = torus.points;
  frame.pop_back();
  EXPECT_THROW(correction.Correct(frame, "short"), std::invalid_argument);
  frame = torus.points;
  frame[3].y = INFINITY;
  EXPECT_THROW(correction.Correct(frame, "inf"), std::invalid_argument);
  plugin.Close();
  EXPECT_THROW(correction.Correct(torus.points, "closed"), std::runtime_error);
}

}  // namespace
