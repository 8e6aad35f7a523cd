// The plug-in base classes: the host creates instances through the allocation function given at
// registration and calls these virtual operations. Defaults keep the host base behaviour. No
// operation may let an exception escape.
#pragma once

#include "host/memory.h"
#include "host/nodes.h"

class BaseData {
 public:
  TESSAMIRE_HOST_ALLOCATED
  virtual ~BaseData();
};

class NodeData : public BaseData {
 public:
  virtual Bool Initialise(BaseList2D* node);
  virtual void Free(BaseList2D* node);
  virtual Bool ReadState(BaseList2D* node, HyperFile* hf, Int32 level);
  virtual Bool WriteState(BaseList2D* node, HyperFile* hf);
  // `flags` and `translator` are the host's copy flags and alias translator.
  virtual Bool CopyState(NodeData* dest, BaseList2D* sourceNode, BaseList2D* destNode, Int32 flags,
                         void* translator);
  virtual Bool HandleMessage(BaseList2D* node, Int32 type, void* data);
  // Fills `description` with the node's parameters and sets DESCFLAGS_DESC_LOADED in `flags`
  // when it did; otherwise the host loads the registered description itself.
  virtual Bool DescribeParameters(BaseList2D* node, Description* description, Int32* flags);
  // False shows parameter `id` disabled. `value` and `itemDescription` may be null.
  virtual Bool IsParameterEnabled(BaseList2D* node, Int32 id, const void* value, Int32 flags,
                                  const BaseContainer* itemDescription);
};

class ObjectData : public NodeData {
 public:
  virtual Int32 DrawOverlay(BaseObject* op, Int32 drawPass, BaseDraw* bd, BaseDrawHelp* bh);
  virtual Bool JoinExecution(BaseObject* op, PriorityList* list);
  virtual Int32 PrepareExecution(BaseObject* op, BaseDocument* doc, BaseThread* bt, Int32 priority,
                                 Int32 flags);
  // Modifies the points of `op` (a polygon object beneath the deformer `mod`); answers success.
  virtual Bool DeformObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                            const Matrix& modMg, Float lod, Int32 flags, BaseThread* thread);
  virtual void RefreshDirty(BaseObject* op, BaseDocument* doc);
  virtual Int32 CountHandles(BaseObject* op);
  virtual void ReadHandle(BaseObject* op, Int32 index, HandleInfo& info);
  virtual void WriteHandle(BaseObject* op, Int32 index, const Vector3& position,
                           const HandleInfo& info);
};

class TagData : public NodeData {
 public:
  virtual Bool DrawTag(BaseTag* tag, BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh);
  // Runs at each evaluation of the document for an expression tag; answers an
  // EXECUTIONRESULT_ value.
  virtual Int32 ExecuteTag(BaseTag* tag, BaseDocument* doc, BaseObject* op, BaseThread* bt,
                           Int32 priority, Int32 flags);
};

class CommandData : public BaseData {
 public:
  virtual Bool Execute(BaseDocument* doc);
  // CMD_ENABLED to enable the menu entry, 0 to grey it out.
  virtual Int32 GetState(BaseDocument* doc);
};
