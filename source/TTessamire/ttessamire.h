// The bind tag: carries the rest state of a polygon object for the deformer. Live (not bound),
// its execution step recomputes the differences at every evaluation; bound, they stay frozen until
// an unbind or a change of the object's point count.
#pragma once

#include <atomic>

#include "host/abi/plugin_base.h"
#include "host/binding/host_array.h"
#include "source/tessamireThreads/kept_topology.h"

class TTessamire : public TagData {
 public:
  // Allocation function, handed to the host at registration through AllocateThroughBarrier;
  // null when memory cannot be had.
  static NodeData* Create();
  ~TTessamire() override;

  // The bind data record: one difference per point, in one block sized exactly (capacity equals
  // count after a bind, a read or a copy), and whether they are frozen.
  HostArray<Vector3> differences;
  Bool bound = false;

  // The topology the bind by the button built, handed on to the first deformer run on the object
  // (answered once, then null), which would otherwise build the same again; null when none.
  KeptTopology* TakeBoundTopology() { return boundTopology_.exchange(nullptr); }

 protected:
  Bool Initialise(BaseList2D* node) override;
  Bool ReadState(BaseList2D* node, HyperFile* hf, Int32 level) override;
  Bool WriteState(BaseList2D* node, HyperFile* hf) override;
  Bool CopyState(NodeData* dest, BaseList2D* sourceNode, BaseList2D* destNode, Int32 flags,
                 void* translator) override;
  Bool HandleMessage(BaseList2D* node, Int32 type, void* data) override;
  Bool IsParameterEnabled(BaseList2D* node, Int32 id, const void* value, Int32 flags,
                          const BaseContainer* itemDescription) override;
  Bool DrawTag(BaseTag* tag, BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh) override;
  Int32 ExecuteTag(BaseTag* tag, BaseDocument* doc, BaseObject* op, BaseThread* bt, Int32 priority,
                   Int32 flags) override;

 private:
  Bool PressBind(BaseList2D* node);
  Bool PressUnbind();
  void ReleaseKeptTopology();

  // The object's topology kept from one live bind to the next; null until a live execution
  // step first runs, and freed when the tag is bound by its button, unbound or freed.
  KeptTopology* kept_ = nullptr;
  // Held from the bind by the button until a deformer takes it, the tag is unbound or freed. More
  // than one deformer may run on the object at once, hence the exchange.
  std::atomic<KeptTopology*> boundTopology_{nullptr};
};
