// Host services beyond the scene: the mesh adjacency, the falloff evaluator and bitmaps.
#pragma once

#include "host/binding/binding.h"

// The host's mesh adjacency: polygons across each side and polygons around each point.
class Neighbor {
 public:
  Neighbor() = delete;
  static Neighbor* Alloc() { return Host().neighborAlloc(); }
  static void Free(Neighbor*& nb) {
    if (nb != nullptr) Host().neighborFree(nb);
    nb = nullptr;
  }
  Bool Init(Int32 pointCount, const CPolygon* polys, Int32 polyCount) {
    return Host().neighborInit(this, pointCount, polys, polyCount);
  }
  Bool GetPolyInfo(Int32 poly, PolyInfo& out) const {
    return Host().neighborPolyInfo(this, poly, &out);
  }
  const Int32* GetPointPolys(Int32 point, Int32& count) const {
    return Host().neighborPointPolys(this, point, &count);
  }
  // The whole point-to-polygon lists at once (see HostTable::neighborPointPolyArrays); false when
  // the host offers no such arrays.
  Bool GetPointPolyArrays(const Int64*& start, const Int32*& polys) const {
    start = nullptr;
    polys = nullptr;
    return Host().neighborPointPolyArrays != nullptr &&
           Host().neighborPointPolyArrays(this, &start, &polys);
  }
  // Every polygon's side information at once, or null when the host offers no such array.
  const PolyInfo* GetPolyInfoArray() const {
    return Host().neighborPolyInfoArray != nullptr ? Host().neighborPolyInfoArray(this) : nullptr;
  }
};

// The host's falloff evaluator (host library 1019541).
class Falloff {
 public:
  Falloff() = delete;
  static Falloff* Alloc(Int32 type) { return Host().falloffAlloc(type); }
  static void Free(Falloff*& fo) {
    if (fo != nullptr) Host().falloffFree(fo);
    fo = nullptr;
  }
  Bool InitFalloff(const BaseContainer* bc, BaseDocument* doc, BaseList2D* node) {
    return Host().falloffInit(this, bc, doc, node);
  }
  Bool SetMode(Int32 mode, BaseContainer* bc) { return Host().falloffSetMode(this, mode, bc); }
  Bool AddFalloffToDescription(Description* desc, BaseContainer* bc, Int32 flags, Bool a, Bool b,
                               Bool c, Bool d) {
    return Host().falloffAddDescription(this, desc, bc, flags, a, b, c, d);
  }
  void Draw(BaseDraw* bd, BaseDrawHelp* bh, Int32 drawPass, const BaseContainer* bc) {
    Host().falloffDraw(this, bd, bh, drawPass, bc);
  }
  Bool CopyTo(Falloff* dest) const { return Host().falloffCopyTo(this, dest); }
  Int32 GetDirty(BaseDocument* doc, const BaseContainer* bc) const {
    return Host().falloffDirty(this, doc, bc);
  }
  Int32 GetHandleCount(const BaseContainer* bc) const {
    return Host().falloffHandleCount(this, bc);
  }
  void GetHandle(Int32 index, const BaseContainer* bc, HandleInfo& info) const {
    Host().falloffGetHandle(this, index, bc, &info);
  }
  void SetHandle(Int32 index, Vector3 position, const BaseContainer* bc, const HandleInfo& info) {
    Host().falloffSetHandle(this, index, position, bc, &info);
  }
  Bool PreSample(BaseDocument* doc, BaseList2D* node, const FalloffInput& input, Int32 flags) {
    return Host().falloffPreSample(this, doc, node, &input, flags);
  }
  Float Sample(const Vector3& position, Float* weightOut, Bool option, Float weight, void* block,
               Int32 index) const {
    return Host().falloffSample(this, &position, weightOut, option, weight, block, index);
  }
};

class BaseBitmap {
 public:
  BaseBitmap() = delete;
  static BaseBitmap* Alloc() { return Host().bitmapAlloc(); }
  static void Free(BaseBitmap*& bmp) {
    if (bmp != nullptr) Host().bitmapFree(bmp);
    bmp = nullptr;
  }
  Int32 Load(const char* path, Int32 frame = -1) { return Host().bitmapLoad(this, path, frame); }
};
