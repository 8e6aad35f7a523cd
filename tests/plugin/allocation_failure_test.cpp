// Allocation failure through every entry that allocates from the host: the n-th allocation of
// the call fails, for every n until the call runs through. Each run must leave the host
// allocator's bytes in use where they were (besides what the call documents it keeps or drops),
// end without a crash with the documented result, and leave the document as it was where the
// call failed before changing it.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/entries/framework.h"
#include "headless/files/input_file.h"
#include "headless/files/output_file.h"
#include "headless/io/scene_file.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "tests/support/bind_record.h"
#include "tests/support/bind_tag_fixture.h"
#include "tests/support/temp_folder.h"

namespace {

using namespace bind_tag;
using headless::Node;

constexpr Int64 kVectorBytes = 24;

// For n = 1, 2, ...: `prepare`, then `call` with its n-th host allocation failing, then
// `check(n, fired)`, where `fired` says whether the failure was reached. Stops after the first
// run that made fewer than n allocations (the call ran through); answers the number of runs.
Int64 FailEachAllocationInTurn(const std::function<void()>& prepare,
                               const std::function<void()>& call,
                               const std::function<void(Int64 n, bool fired)>& check) {
  for (Int64 n = 1;; ++n) {
    prepare();
    const Int64 attempts = headless::AllocationAttempts();
    headless::FailNthAllocation(n);
    call();
    headless::FailNthAllocation(0);
    const bool fired = headless::AllocationAttempts() - attempts >= n;
    check(n, fired);
    if (!fired) return n;
    if (n == 100000) {
      ADD_FAILURE() << "the call never ran through";
      return n;
    }
  }
}

Int64 BytesInUse() {
  return headless::GetAllocationStats().bytesInUse;
}

// The bytes the tag's differences hold in the host allocator.
Int64 ArrayBytes(const Node* tag) {
  return Record(tag).differences.GetCapacity() * kVectorBytes;
}

// ---------------------------------------------------------------------------------------------
// The live tag's execution step

using LiveTagAllocation = BindTagFixture;

TEST_F(LiveTagAllocation, EachFailureKeepsOrRecomputesTheDifferencesAndLeaksNothing) {
  Node* object = AddGrid(9, 7);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  headless::RunExpressionTags(*doc);
  const std::vector<Vector3> before = Differences(tag);
  object->points[20].z += 0.3;
  headless::RunExpressionTags(*doc);
  const std::vector<Vector3> after = Differences(tag);
  ASSERT_FALSE(SameBits(before, after));

  Int64 bytes = 0;
  bool sawKept = false;
  const Int64 runs = FailEachAllocationInTurn(
      [&] {
        // The first mesh's differences, then the moved mesh is live again.
        object->points[20].z -= 0.3;
        headless::RunExpressionTags(*doc);
        object->points[20].z += 0.3;
        ASSERT_TRUE(SameBits(Differences(tag), before));
        tag->params.SetString(TTESSAMIRE_BINDINFO, "stale");
        bytes = BytesInUse() - ArrayBytes(tag);
      },
      [&] { EXPECT_EQ(headless::RunExpressionTags(*doc), 1); },
      [&](Int64 n, bool fired) {
        EXPECT_EQ(BytesInUse() - ArrayBytes(tag), bytes) << "allocation " << n;
        EXPECT_FALSE(Record(tag).bound) << "allocation " << n;
        EXPECT_EQ(Status(tag), ResourceString(1003)) << "allocation " << n;
        const std::vector<Vector3> now = Differences(tag);
        // Whichever allocation fails, the tag holds the old differences or the new, never none.
        if (!fired) {
          EXPECT_TRUE(SameBits(now, after));
        } else if (SameBits(now, before)) {
          sawKept = true;  // the run failed before its result replaced the old one
        } else {
          EXPECT_TRUE(SameBits(now, after)) << "allocation " << n;
        }
      });
  EXPECT_GT(runs, 2);
  EXPECT_TRUE(sawKept);
}

// ---------------------------------------------------------------------------------------------
// Scene load and save

class SceneAllocation : public BindTagFixture {
 protected:
  // A grid with a bound tag restricted to a vertex map, a live tag and the deformer, and a
  // second object below it.
  void Build() {
    Node* object = AddGrid(8, 6);
    Node* map = doc->AddVertexMap(object, std::vector<Float32>(48, 0.5f), "map");
    Node* bound = doc->AddTag(object, ID_TTESSAMIRE);
    bound->params.SetLink(TTESSAMIRE_VERTEXMAP, map->serial);
    ASSERT_TRUE(headless::PressButton(bound, TTESSAMIRE_BIND));
    doc->AddTag(object, ID_TTESSAMIRE);
    doc->AddObject(ID_OTESSAMIRE, "deformer", object);
    AddGridBelow(object);
    headless::EvaluateDocument(*doc);
  }

  void AddGridBelow(Node* parent) {
    Mesh mesh = Grid(3, 3);
    doc->AddPolygonObject("below", std::move(mesh.points), std::move(mesh.polygons), parent);
  }

  TempFolder dir;
};

TEST_F(SceneAllocation, LoadEitherFailsWithAMessageOrGivesTheSavedDocument) {
  Build();
  const std::vector<std::uint8_t> saved = headless::SerializeDocument(*doc);
  const std::string path = (dir.path / "scene.tsm").string();
  headless::SaveScene(*doc, path);
  // The document the failed loads must not touch.
  std::vector<std::uint8_t> held = headless::SerializeDocument(*doc);
  Node* heldFirst = doc->FirstObject();

  Int64 bytes = 0;
  bool sawFailure = false;
  bool sawSuccess = false;
  std::string message;
  bool loaded = false;
  const Int64 runs = FailEachAllocationInTurn(
      [&] { bytes = BytesInUse(); },
      [&] {
        loaded = false;
        message.clear();
        try {
          headless::LoadSceneInto(path, doc);
          loaded = true;
        } catch (const std::runtime_error& e) {
          message = e.what();
        }
      },
      [&](Int64 n, bool fired) {
        if (loaded) {
          // Also where the failure fired: a deformer made without its falloff evaluator works
          // without one, as when the host has no falloff library.
          EXPECT_EQ(headless::SerializeDocument(*doc), saved) << "allocation " << n;
          held = saved;
          heldFirst = doc->FirstObject();
          sawSuccess = true;
          return;
        }
        sawFailure = true;
        EXPECT_TRUE(fired) << "the load failed on its own: " << message;
        EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
        EXPECT_EQ(doc->FirstObject(), heldFirst) << "allocation " << n;
        EXPECT_EQ(headless::SerializeDocument(*doc), held) << "allocation " << n;
        EXPECT_EQ(BytesInUse(), bytes) << "allocation " << n;
      });
  EXPECT_GT(runs, 5);
  EXPECT_TRUE(sawFailure);
  EXPECT_TRUE(sawSuccess);
}

TEST_F(SceneAllocation, SaveEitherFailsKeepingTheOldFileOrWritesTheDocument) {
  Build();
  const std::vector<std::uint8_t> expected = headless::SerializeDocument(*doc);
  const std::string path = (dir.path / "scene.tsm").string();
  const std::string old = "an older file";
  bool saved = false;
  Int64 bytes = 0;
  FailEachAllocationInTurn(
      [&] {
        headless::WriteFileAtomically(path, old);
        bytes = BytesInUse();
      },
      [&] {
        saved = false;
        try {
          headless::SaveScene(*doc, path);
          saved = true;
        } catch (const std::runtime_error&) {
        }
      },
      [&](Int64 n, bool) {
        EXPECT_EQ(BytesInUse(), bytes) << "allocation " << n;
        if (saved) {
          EXPECT_EQ(headless::SerializeDocument(*headless::LoadScene(path)), expected)
              << "allocation " << n;
        } else {
          EXPECT_EQ(headless::ReadInputFile(path), old) << "allocation " << n;
        }
        EXPECT_EQ(headless::SerializeDocument(*doc), expected) << "the document is unchanged";
      });
}

}  // namespace
