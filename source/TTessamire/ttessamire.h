// The bind tag: carries the rest state of a polygon object for the deformer.
#pragma once

#include "host/plugin_base.h"

class TTessamire : public TagData {
 public:
  // Allocation function handed to the host at registration; null when memory cannot be had.
  static NodeData* Alloc();
};
