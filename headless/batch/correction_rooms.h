// The correction's arrays as the batch engine (apply_frames) lends them out and hands them back:
// a frame's points taken back once corrected, for a later frame to be read into, and a result
// taken while the next frame is corrected, then given back for a later result to be built in.
// Internal to the batch layer: only the engine knows when a frame is done with; the Correction's
// own callers see a frame in, its result out.
#pragma once

#include <utility>
#include <vector>

#include "headless/batch/correction.h"

namespace headless {

class CorrectionRooms {
 public:
  static std::vector<Vector3> TakeInput(Correction& correction) { return correction.TakeInput(); }
  static std::vector<Vector3> TakeResult(Correction& correction) { return correction.TakeResult(); }
  static void GiveBackRoom(Correction& correction, std::vector<Vector3>&& room) {
    correction.GiveBackRoom(std::move(room));
  }
};

}  // namespace headless
