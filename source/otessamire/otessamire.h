// The deformer: restores the bound detail of the polygon object above it at every evaluation.
#pragma once

#include "host/plugin_base.h"

class OTessamire : public ObjectData {
 public:
  // Allocation function handed to the host at registration; null when memory cannot be had.
  static NodeData* Create();
};
