#include "source/TTessamire/tag_parameters.h"

SmoothingSettings ReadSmoothingSettings(const BaseList2D* tag) {
  SmoothingSettings s;
  Int32 pinBorder = 0;
  Float strength = 0.0;
  Int32 useVertexMap = 0;
  tag->GetInt32(TTESSAMIRE_ITERATIONS, s.iterations);
  tag->GetInt32(TTESSAMIRE_WEIGHTING, s.weighting);
  tag->GetInt32(TTESSAMIRE_PINBORDER, pinBorder);
  tag->GetFloat(TTESSAMIRE_STRENGTH, strength);
  tag->GetInt32(TTESSAMIRE_USEVERTEXMAP, useVertexMap);
  s.pinBorder = pinBorder != 0;
  s.strength = static_cast<Float32>(strength);
  s.useVertexMap = useVertexMap != 0;
  return s;
}

BaseTag* LinkedVertexMap(const BaseList2D* tag, const BaseDocument* doc) {
  const BaseLink* link = nullptr;
  if (!tag->GetLink(TTESSAMIRE_VERTEXMAP, link) || link == nullptr) return nullptr;
  return static_cast<BaseTag*>(link->GetLink(doc, Tvertexmap));
}
