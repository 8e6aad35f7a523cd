// The memory of frames a batch run is done with. Fresh pages cost more than reading fills them
// with, so frames are read into the room of frames done with: the points a correction takes back,
// and where a written frame's `v` lines stood. Storage no one will read into is let go at once.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "headless/io/obj.h"

namespace headless {

// Lets go of `c`'s storage (`c = {}` assigns an empty list and keeps it).
template <typename Container>
void Release(Container& c) {
  Container().swap(c);
}

// Arrays put aside by one stage of a run and taken by another, on other threads.
template <typename Array>
class Rooms {
 public:
  void Put(Array&& room) {
    const std::lock_guard<std::mutex> lock(mutex_);
    rooms_.push_back(std::move(room));
  }
  // A room, or an empty array when there is none.
  Array Take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (rooms_.empty()) return {};
    Array room = std::move(rooms_.back());
    rooms_.pop_back();
    return room;
  }

 private:
  std::mutex mutex_;
  std::vector<Array> rooms_;
};

// The rooms frames are read into: points, and the places of an OBJ file's `v` lines.
struct FrameRooms {
  Rooms<std::vector<Vector3>> points;
  Rooms<SpanList> spans;
};

}  // namespace headless
