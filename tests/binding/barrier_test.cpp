// The barrier at the boundary: every entry the host calls on a plug-in object, an allocation
// function or a thread answers its operation's result, and the operation's failure result when
// the operation throws, instead of letting the exception into the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/entries/entries_state.h"
#include "headless/scene/registry.h"
#include "host/abi/plugin_base.h"
#include "host/binding/thread.h"
#include "tests/support/in_process_host.h"

namespace {

// Every operation either throws (when `fail` is set) or answers a value other than its failure
// result, and counts the operations without one.
struct Probe {
  bool fail = false;
  int voidCalls = 0;
  void Enter() const {
    if (fail) throw std::runtime_error("operation failed");
  }
  void Ran() {
    Enter();
    ++voidCalls;
  }
};

class ProbeObject : public ObjectData {
 public:
  Probe probe;

 protected:
  Bool Initialise(BaseList2D*) override { return probe.Enter(), true; }
  void Free(BaseList2D*) override { probe.Ran(); }
  Bool ReadState(BaseList2D*, HyperFile*, Int32) override { return probe.Enter(), true; }
  Bool WriteState(BaseList2D*, HyperFile*) override { return probe.Enter(), true; }
  Bool CopyState(NodeData*, BaseList2D*, BaseList2D*, Int32, void*) override {
    return probe.Enter(), true;
  }
  Bool HandleMessage(BaseList2D*, Int32, void*) override { return probe.Enter(), true; }
  Bool DescribeParameters(BaseList2D*, Description*, Int32*) override {
    return probe.Enter(), true;
  }
  Bool IsParameterEnabled(BaseList2D*, Int32, const void*, Int32, const BaseContainer*) override {
    return probe.Enter(), true;
  }
  Int32 DrawOverlay(BaseObject*, Int32, BaseDraw*, BaseDrawHelp*) override {
    return probe.Enter(), DRAWRESULT_OK;
  }
  Bool JoinExecution(BaseObject*, PriorityList*) override { return probe.Enter(), true; }
  Int32 PrepareExecution(BaseObject*, BaseDocument*, BaseThread*, Int32, Int32) override {
    return probe.Enter(), EXECUTIONRESULT_OK;
  }
  Bool DeformObject(BaseObject*, BaseDocument*, BaseObject*, const Matrix&, const Matrix&, Float,
                    Int32, BaseThread*) override {
    return probe.Enter(), true;
  }
  void RefreshDirty(BaseObject*, BaseDocument*) override { probe.Ran(); }
  Int32 CountHandles(BaseObject*) override { return probe.Enter(), 3; }
  void ReadHandle(BaseObject*, Int32, HandleInfo&) override { probe.Ran(); }
  void WriteHandle(BaseObject*, Int32, const Vector3&, const HandleInfo&) override { probe.Ran(); }
};

class ProbeTag : public TagData {
 public:
  Probe probe;

 protected:
  Bool DrawTag(BaseTag*, BaseObject*, BaseDraw*, BaseDrawHelp*) override {
    return probe.Enter(), true;
  }
  Int32 ExecuteTag(BaseTag*, BaseDocument*, BaseObject*, BaseThread*, Int32, Int32) override {
    return probe.Enter(), EXECUTIONRESULT_USERBREAK;
  }
};

class ProbeCommand : public CommandData {
 public:
  Probe probe;

 protected:
  Bool Execute(BaseDocument*) override { return probe.Enter(), true; }
  Int32 GetState(BaseDocument*) override { return probe.Enter(), CMD_ENABLED; }
};

// One entry as the host calls it, through the base class it knows, with what the operation
// behind it answers and the failure result the entry gives when the operation throws.
struct Entry {
  const char* name;
  std::function<Int32()> call;
  Int32 operation;
  Int32 failure;
};

std::vector<Entry> Entries(ProbeObject& object, ProbeTag& tag, ProbeCommand& command) {
  NodeData* node = &object;
  ObjectData* deformer = &object;
  TagData* tagData = &tag;
  CommandData* commandData = &command;
  return {
      {"Initialise", [=] { return node->CallInitialise(nullptr); }, true, false},
      {"ReadState", [=] { return node->CallReadState(nullptr, nullptr, 0); }, true, false},
      {"WriteState", [=] { return node->CallWriteState(nullptr, nullptr); }, true, false},
      {"CopyState", [=] { return node->CallCopyState(nullptr, nullptr, nullptr, 0, nullptr); },
       true, false},
      {"HandleMessage", [=] { return node->CallHandleMessage(nullptr, 0, nullptr); }, true, false},
      {"DescribeParameters",
       [=] { return node->CallDescribeParameters(nullptr, nullptr, nullptr); }, true, false},
      {"IsParameterEnabled",
       [=] { return node->CallIsParameterEnabled(nullptr, 0, nullptr, 0, nullptr); }, true, false},
      {"DrawOverlay", [=] { return deformer->CallDrawOverlay(nullptr, 0, nullptr, nullptr); },
       DRAWRESULT_OK, DRAWRESULT_FAILURE},
      {"JoinExecution", [=] { return deformer->CallJoinExecution(nullptr, nullptr); }, true, false},
      {"PrepareExecution",
       [=] { return deformer->CallPrepareExecution(nullptr, nullptr, nullptr, 0, 0); },
       EXECUTIONRESULT_OK, EXECUTIONRESULT_OUTOFMEMORY},
      {"DeformObject",
       [=] {
         return deformer->CallDeformObject(nullptr, nullptr, nullptr, Matrix{}, Matrix{}, 0.0, 0,
                                           nullptr);
       },
       true, false},
      {"CountHandles", [=] { return deformer->CallCountHandles(nullptr); }, 3, 0},
      {"DrawTag", [=] { return tagData->CallDrawTag(nullptr, nullptr, nullptr, nullptr); }, true,
       false},
      {"ExecuteTag",
       [=] { return tagData->CallExecuteTag(nullptr, nullptr, nullptr, nullptr, 0, 0); },
       EXECUTIONRESULT_USERBREAK, EXECUTIONRESULT_OK},
      {"Execute", [=] { return commandData->CallExecute(nullptr); }, true, false},
      {"GetState", [=] { return commandData->CallGetState(nullptr); }, CMD_ENABLED, 0},
  };
}

// The entries without a result; answers how many of their operations ran to the end.
int CallEntriesWithoutResult(ProbeObject& object) {
  ObjectData* deformer = &object;
  HandleInfo info;
  object.probe.voidCalls = 0;
  static_cast<NodeData*>(deformer)->CallFree(nullptr);
  deformer->CallRefreshDirty(nullptr, nullptr);
  deformer->CallReadHandle(nullptr, 0, info);
  deformer->CallWriteHandle(nullptr, 0, Vector3{}, info);
  return object.probe.voidCalls;
}

TEST(Barrier, EveryEntryAnswersItsOperationOrItsFailureResult) {
  ProbeObject object;
  ProbeTag tag;
  ProbeCommand command;
  for (const Entry& entry : Entries(object, tag, command))
    EXPECT_EQ(entry.call(), entry.operation) << entry.name;
  EXPECT_EQ(CallEntriesWithoutResult(object), 4);

  object.probe.fail = tag.probe.fail = command.probe.fail = true;
  for (const Entry& entry : Entries(object, tag, command))
    EXPECT_EQ(entry.call(), entry.failure) << entry.name << " threw";
  EXPECT_EQ(CallEntriesWithoutResult(object), 0);
}

// Node classes whose allocation function makes an instance, or throws.
class MadeObject : public ProbeObject {
 public:
  static NodeData* Create() { return new (std::nothrow) MadeObject; }
};
class UnmadeTag : public ProbeTag {
 public:
  static NodeData* Create() { throw std::bad_alloc(); }
};
class UnmadeCommand : public ProbeCommand {
 public:
  UnmadeCommand() { throw std::runtime_error("cannot be made"); }
};

TEST(Barrier, AllocationThatThrowsAnswersNull) {
  BindInProcessHost();
  EXPECT_EQ(AllocateThroughBarrier<UnmadeTag>(), nullptr);
  EXPECT_EQ(NewThroughBarrier<UnmadeCommand>(), nullptr);
  NodeData* made = AllocateThroughBarrier<MadeObject>();
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->CallInitialise(nullptr));
  delete made;
  CommandData* command = NewThroughBarrier<ProbeCommand>();
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->CallGetState(nullptr), CMD_ENABLED);
  delete command;
}

// A thread whose routine and name throw: the host's thread ends normally and shows no name.
class ThrowingThread : public C4DThread {
 public:
  void Main() override {
    reached = true;
    throw std::runtime_error("routine failed");
  }
  const char* GetThreadName() override { throw std::runtime_error("no name"); }
  bool reached = false;
};

TEST(Barrier, ThreadRoutineThatThrowsEndsTheThread) {
  BindInProcessHost();
  headless::ResetHostState();
  ThrowingThread thread;
  ASSERT_TRUE(thread.Start());
  thread.Wait();
  EXPECT_TRUE(thread.reached);
  const std::vector<std::string> names = headless::ThreadNames();
  EXPECT_NE(std::find(names.begin(), names.end(), ""), names.end());
}

}  // namespace
