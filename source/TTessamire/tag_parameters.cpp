#include "source/TTessamire/tag_parameters.h"

Int32 ReadIterations(const BaseList2D* tag) {
  Int32 iterations = 0;
  tag->GetInt32(TTESSAMIRE_ITERATIONS, iterations);
  return iterations;
}

SmoothingSettings ReadSmoothingSettings(const BaseList2D* tag, Int32 iterations) {
  Int32 weighting = 0;
  Int32 pinBorder = 0;
  Float strength = 0.0;
  Int32 useVertexMap = 0;
  tag->GetInt32(TTESSAMIRE_WEIGHTING, weighting);
  tag->GetInt32(TTESSAMIRE_PINBORDER, pinBorder);
  tag->GetFloat(TTESSAMIRE_STRENGTH, strength);
  tag->GetInt32(TTESSAMIRE_USEVERTEXMAP, useVertexMap);
  SmoothingSettings settings;
  settings.iterations = iterations;
  settings.weighting = weighting;
  settings.pinBorder = pinBorder != 0;
  settings.strength = static_cast<Float32>(strength);
  settings.useVertexMap = useVertexMap != 0;
  return settings;
}

BaseTag* LinkedVertexMap(const BaseList2D* tag, const BaseDocument* doc) {
  const BaseLink* link = nullptr;
  if (!tag->GetLink(TTESSAMIRE_VERTEXMAP, link) || link == nullptr) return nullptr;
  return static_cast<BaseTag*>(link->GetLink(doc, Tvertexmap));
}
