// The deformer: at every evaluation of the polygon object above it, runs the core on the current
// points for each of the object's bind tags that its filter keeps, and rebuilds the points from
// the tags' differences. It owns a falloff evaluator whose parameters, drawing, handles and dirty
// state it passes through to the host.
#pragma once

#include "host/abi/ids.h"
#include "host/abi/plugin_base.h"
#include "host/binding/services.h"
#include "source/otessamire/object_topologies.h"

class OTessamire : public ObjectData {
 public:
  // Allocation function, handed to the host at registration through AllocateThroughBarrier;
  // null when memory cannot be had.
  static NodeData* Create();
  ~OTessamire() override;

 protected:
  Bool Initialise(BaseList2D* node) override;
  Bool CopyState(NodeData* dest, BaseList2D* sourceNode, BaseList2D* destNode, Int32 flags,
                 void* translator) override;
  Bool HandleMessage(BaseList2D* node, Int32 type, void* data) override;
  Bool DescribeParameters(BaseList2D* node, Description* description, Int32* flags) override;
  Int32 DrawOverlay(BaseObject* op, Int32 drawPass, BaseDraw* bd, BaseDrawHelp* bh) override;
  Bool JoinExecution(BaseObject* op, PriorityList* list) override;
  Int32 PrepareExecution(BaseObject* op, BaseDocument* doc, BaseThread* bt, Int32 priority,
                         Int32 flags) override;
  Bool DeformObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Float lod, Int32 flags, BaseThread* thread) override;
  void RefreshDirty(BaseObject* op, BaseDocument* doc) override;
  Int32 CountHandles(BaseObject* op) override;
  void ReadHandle(BaseObject* op, Int32 index, HandleInfo& info) override;
  void WriteHandle(BaseObject* op, Int32 index, const Vector3& position,
                   const HandleInfo& info) override;

 private:
  Falloff* falloff_ = nullptr;
  Int32 lastFalloffDirty_ = 0;
  ObjectTopologies topologies_;  // one kept topology per deformed object
};
