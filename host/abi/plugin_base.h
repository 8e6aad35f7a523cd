// The plug-in base classes: the host creates instances through the allocation function given at
// registration and calls them only through the public Call... entries. Each entry runs its
// protected virtual operation through the barrier (host/barrier.h) and turns an exception into
// the failure result named beside it, so nothing thrown reaches the host. Plug-in classes
// override the operations, never the entries: AllocateThroughBarrier and NewThroughBarrier
// refuse to compile for a class that overrides one, so no operation is reached around the
// barrier. The entries are virtual (and cannot be final, which would let the host's compiler
// bind the call to its own copy) so that the host's call lands in the plug-in's own code, where
// the barrier is. The operations' defaults keep the host base behaviour.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>

#include "host/abi/barrier.h"
#include "host/abi/table.h"

class BaseData {
 public:
  // Instances come from the host framework's allocator, so that the host's failure injection
  // reaches them: `new (std::nothrow)` answers null instead of throwing, and plain `new` does not
  // compile. Defined on the plug-in's side (the binding), where the framework is bound.
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* block) noexcept;
  static void operator delete(void* block, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t) = delete;
  // The host deletes instances through this; being noexcept, no destructor lets anything out.
  virtual ~BaseData();
};

class NodeData : public BaseData {
 public:
  // Failure results: false for every Bool entry; Free drops what it throws.
  virtual Bool CallInitialise(BaseList2D* node) noexcept;
  virtual void CallFree(BaseList2D* node) noexcept;
  virtual Bool CallReadState(BaseList2D* node, HyperFile* hf, Int32 level) noexcept;
  virtual Bool CallWriteState(BaseList2D* node, HyperFile* hf) noexcept;
  virtual Bool CallCopyState(NodeData* dest, BaseList2D* sourceNode, BaseList2D* destNode,
                             Int32 flags, void* translator) noexcept;
  virtual Bool CallHandleMessage(BaseList2D* node, Int32 type, void* data) noexcept;
  virtual Bool CallDescribeParameters(BaseList2D* node, Description* description,
                                      Int32* flags) noexcept;
  virtual Bool CallIsParameterEnabled(BaseList2D* node, Int32 id, const void* value, Int32 flags,
                                      const BaseContainer* itemDescription) noexcept;

 protected:
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
  // Failure results: DRAWRESULT_FAILURE, false, EXECUTIONRESULT_OUTOFMEMORY (what the plug-in
  // throws is a failed allocation), false, 0 handles; the others drop what they throw.
  virtual Int32 CallDrawOverlay(BaseObject* op, Int32 drawPass, BaseDraw* bd,
                                BaseDrawHelp* bh) noexcept;
  virtual Bool CallJoinExecution(BaseObject* op, PriorityList* list) noexcept;
  virtual Int32 CallPrepareExecution(BaseObject* op, BaseDocument* doc, BaseThread* bt,
                                     Int32 priority, Int32 flags) noexcept;
  virtual Bool CallDeformObject(BaseObject* mod, BaseDocument* doc, BaseObject* op,
                                const Matrix& opMg, const Matrix& modMg, Float lod, Int32 flags,
                                BaseThread* thread) noexcept;
  virtual void CallRefreshDirty(BaseObject* op, BaseDocument* doc) noexcept;
  virtual Int32 CallCountHandles(BaseObject* op) noexcept;
  virtual void CallReadHandle(BaseObject* op, Int32 index, HandleInfo& info) noexcept;
  virtual void CallWriteHandle(BaseObject* op, Int32 index, const Vector3& position,
                               const HandleInfo& info) noexcept;

 protected:
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
  // Failure results: false; EXECUTIONRESULT_OK, since an execution step that fails simply
  // returns.
  virtual Bool CallDrawTag(BaseTag* tag, BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh) noexcept;
  virtual Int32 CallExecuteTag(BaseTag* tag, BaseDocument* doc, BaseObject* op, BaseThread* bt,
                               Int32 priority, Int32 flags) noexcept;

 protected:
  virtual Bool DrawTag(BaseTag* tag, BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh);
  // Runs at each evaluation of the document for an expression tag; answers an
  // EXECUTIONRESULT_ value.
  virtual Int32 ExecuteTag(BaseTag* tag, BaseDocument* doc, BaseObject* op, BaseThread* bt,
                           Int32 priority, Int32 flags);
};

class CommandData : public BaseData {
 public:
  // Failure results: false; 0, the menu entry greyed out.
  virtual Bool CallExecute(BaseDocument* doc) noexcept;
  virtual Int32 CallGetState(BaseDocument* doc) noexcept;

 protected:
  virtual Bool Execute(BaseDocument* doc);
  // CMD_ENABLED to enable the menu entry, 0 to grey it out.
  virtual Int32 GetState(BaseDocument* doc);
};

// True when T, a plug-in class, overrides none of the entries of its base classes.
#define TESSAMIRE_KEEPS_ENTRY(Base, entry) \
  std::is_same_v<decltype(&T::entry), decltype(&Base::entry)>
template <class T>
constexpr bool KeepsNodeEntries() {
  return TESSAMIRE_KEEPS_ENTRY(NodeData, CallInitialise) &&
         TESSAMIRE_KEEPS_ENTRY(NodeData, CallFree) &&
         TESSAMIRE_KEEPS_ENTRY(NodeData, CallReadState) &&
         TESSAMIRE_KEEPS_ENTRY(NodeData, CallWriteState) &&
         TESSAMIRE_KEEPS_ENTRY(NodeData, CallCopyState) &&
         TESSAMIRE_KEEPS_ENTRY(NodeData, CallHandleMessage) &&
         TESSAMIRE_KEEPS_ENTRY(NodeData, CallDescribeParameters) &&
         TESSAMIRE_KEEPS_ENTRY(NodeData, CallIsParameterEnabled);
}
template <class T>
constexpr bool KeepsEntries() {
  if constexpr (std::is_base_of_v<ObjectData, T>) {
    return KeepsNodeEntries<T>() && TESSAMIRE_KEEPS_ENTRY(ObjectData, CallDrawOverlay) &&
           TESSAMIRE_KEEPS_ENTRY(ObjectData, CallJoinExecution) &&
           TESSAMIRE_KEEPS_ENTRY(ObjectData, CallPrepareExecution) &&
           TESSAMIRE_KEEPS_ENTRY(ObjectData, CallDeformObject) &&
           TESSAMIRE_KEEPS_ENTRY(ObjectData, CallRefreshDirty) &&
           TESSAMIRE_KEEPS_ENTRY(ObjectData, CallCountHandles) &&
           TESSAMIRE_KEEPS_ENTRY(ObjectData, CallReadHandle) &&
           TESSAMIRE_KEEPS_ENTRY(ObjectData, CallWriteHandle);
  } else if constexpr (std::is_base_of_v<TagData, T>) {
    return KeepsNodeEntries<T>() && TESSAMIRE_KEEPS_ENTRY(TagData, CallDrawTag) &&
           TESSAMIRE_KEEPS_ENTRY(TagData, CallExecuteTag);
  } else {
    static_assert(std::is_base_of_v<CommandData, T>);
    return TESSAMIRE_KEEPS_ENTRY(CommandData, CallExecute) &&
           TESSAMIRE_KEEPS_ENTRY(CommandData, CallGetState);
  }
}
#undef TESSAMIRE_KEEPS_ENTRY

// The allocation function handed to the host at registration for the node class T: runs
// T::Create through the barrier, so that a throw answers null (no instance).
template <class T>
NodeData* AllocateThroughBarrier() noexcept {
  static_assert(KeepsEntries<T>(), "a plug-in class overrides operations, never the entries");
  return Barrier<NodeData*>(nullptr, [] { return T::Create(); });
}

// A new command object of class T for its registration, or null when it cannot be made.
template <class T>
CommandData* NewThroughBarrier() noexcept {
  static_assert(KeepsEntries<T>(), "a plug-in class overrides operations, never the entries");
  return Barrier<CommandData*>(nullptr, [] { return new (std::nothrow) T; });
}
