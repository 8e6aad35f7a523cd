#include "headless/batch/keyed_range.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "headless/deformers/cache_deformer.h"
#include "headless/deformers/skin.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"

namespace headless {

FrameRange KeyedRange(const Document& doc) {
  bool any = false;
  Float lo = 0.0, hi = 0.0;
  for (const Node* node : doc.Objects()) {
    std::vector<Float> frames;
    if (IsJoint(node)) {
      const JointKeys keys = ReadJointKeys(node);
      for (const auto& k : keys.rotations) frames.push_back(k.frame);
      for (const auto& k : keys.transforms) frames.push_back(k.frame);
    } else if (node->type == kPointCacheType) {
      frames = PointCacheFrames(node);
    }
    if (frames.empty()) continue;
    lo = any ? std::min(lo, frames.front()) : frames.front();
    hi = any ? std::max(hi, frames.back()) : frames.back();
    any = true;
  }
  if (!any) return {};
  constexpr Float kLimit = 2147483647.0;
  if (std::ceil(lo) < -kLimit || std::floor(hi) > kLimit)
    throw std::runtime_error(
        "the keyed frames reach beyond the whole frame numbers; give --frames");
  const Int32 first = static_cast<Int32>(std::ceil(lo));
  const Int32 last = static_cast<Int32>(std::floor(hi));
  if (first > last)
    throw std::runtime_error("no whole frame lies in the keyed range; give --frames");
  return {first, last};
}

std::string SampleSpacingNote(const std::vector<Float>& frames) {
  if (frames.size() < 2) return {};
  const Float whole = std::floor(frames.back()) - std::ceil(frames.front()) + 1.0;
  if (!(whole < static_cast<Float>(frames.size()))) return {};
  return std::to_string(frames.size()) + " samples from frame " + ShortestNumber(frames.front()) +
         " to " + ShortestNumber(frames.back()) + " hold " +
         std::to_string(static_cast<Int64>(std::max(whole, 0.0))) +
         " whole frames; a scene plays whole frames only, so the samples between them are "
         "not shown on their own";
}

std::vector<std::string> SampleSpacingNotes(const Document& doc) {
  std::vector<std::string> notes;
  for (const Node* node : doc.Objects())
    if (node->type == kPointCacheType) {
      const std::string note = SampleSpacingNote(PointCacheFrames(node));
      if (!note.empty()) notes.push_back("point cache '" + Printable(node->name) + "': " + note);
    }
  return notes;
}

}  // namespace headless
