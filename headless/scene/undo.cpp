#include "headless/scene/undo.h"

#include <vector>

#include "headless/scene/registry.h"

namespace headless {

// One recorded new node. While its group is undone, `held` owns the node and `parent`/`prev`
// say where it left: serial numbers, so that a node freed meanwhile reads as gone.
struct UndoStep {
  UInt64 node = 0;
  Node* held = nullptr;
  UInt64 parent = 0;  // the object carrying a tag, or an object's parent (0: top level)
  UInt64 prev = 0;    // the tag or sibling before it (0: first)
};

struct UndoGroup {
  std::vector<UndoStep> steps;
};

class UndoHistory {
 public:
  UndoHistory() = default;
  UndoHistory(const UndoHistory&) = delete;
  UndoHistory& operator=(const UndoHistory&) = delete;
  ~UndoHistory() { DropRedo(); }

  void DropRedo() {
    for (UndoGroup& group : undone)
      for (UndoStep& step : group.steps) {
        DestroyNode(step.held);
        step.held = nullptr;
      }
    undone.clear();
  }

  std::vector<UndoGroup> done;    // oldest first
  std::vector<UndoGroup> undone;  // most recently undone last
  UndoGroup open;
  Int32 depth = 0;  // nesting of StartUndo
};

namespace {

UndoHistory& HistoryOf(Document& doc) {
  if (doc.undo == nullptr) doc.undo = std::make_shared<UndoHistory>();
  return *doc.undo;
}

bool IsIn(const Node* node, const Document& doc) {
  return node != nullptr && node->document == &doc;
}

// Takes one recorded node out of the document and keeps it with where it was.
void TakeOut(Document& doc, UndoStep& step) {
  Node* node = FindLiveNode(step.node);
  if (!IsIn(node, doc) || node == doc.Root()) return;
  step.parent = node->up != nullptr ? node->up->serial : 0;
  step.prev = node->prev != nullptr ? node->prev->serial : 0;
  doc.Remove(node);
  step.held = node;
}

void InsertTagAfter(Document& doc, Node* object, Node* tag, Node* prev) {
  if (prev == nullptr || prev->up != object || !prev->isTag) {
    doc.InsertTagFirst(object, tag);
    return;
  }
  tag->next = prev->next;
  if (prev->next != nullptr) prev->next->prev = tag;
  prev->next = tag;
  tag->prev = prev;
  tag->up = object;
  tag->document = &doc;
}

// Puts a held node back where it left; frees it when its parent is gone.
void PutBack(Document& doc, UndoStep& step) {
  Node* node = step.held;
  if (node == nullptr) return;
  step.held = nullptr;
  Node* parent = step.parent != 0 ? FindLiveNode(step.parent) : nullptr;
  Node* prev = step.prev != 0 ? FindLiveNode(step.prev) : nullptr;
  const bool parentPresent = step.parent == 0 ? !node->isTag : IsIn(parent, doc);
  if (!parentPresent) {
    ReportHostError("redo: the place of a node of type " + std::to_string(node->type) +
                    " is gone; the node is dropped");
    DestroyNode(node);
    return;
  }
  if (node->isTag) {
    InsertTagAfter(doc, parent, node, prev);
  } else if (IsIn(prev, doc) && !prev->isTag && prev->up == parent) {
    doc.InsertAfter(node, prev);
  } else {
    doc.InsertFirst(node, parent);
  }
}

}  // namespace

bool StartUndo(Document& doc) {
  ++HistoryOf(doc).depth;
  return true;
}

bool AddUndo(Document& doc, Int32 type, Node* node) {
  UndoHistory& history = HistoryOf(doc);
  if (history.depth == 0 || type != UNDOTYPE_NEWOBJ || !IsIn(node, doc) || node == doc.Root())
    return false;
  history.open.steps.push_back(UndoStep{node->serial, nullptr, 0, 0});
  return true;
}

bool EndUndo(Document& doc) {
  UndoHistory& history = HistoryOf(doc);
  if (history.depth == 0) return false;
  if (--history.depth > 0) return true;
  if (history.open.steps.empty()) return true;
  history.DropRedo();
  history.done.push_back(std::move(history.open));
  history.open = UndoGroup{};
  return true;
}

bool Undo(Document& doc) {
  UndoHistory& history = HistoryOf(doc);
  if (history.depth > 0 || history.done.empty()) return false;
  UndoGroup group = std::move(history.done.back());
  history.done.pop_back();
  for (auto step = group.steps.rbegin(); step != group.steps.rend(); ++step) TakeOut(doc, *step);
  history.undone.push_back(std::move(group));
  return true;
}

bool Redo(Document& doc) {
  UndoHistory& history = HistoryOf(doc);
  if (history.depth > 0 || history.undone.empty()) return false;
  UndoGroup group = std::move(history.undone.back());
  history.undone.pop_back();
  for (UndoStep& step : group.steps) PutBack(doc, step);
  history.done.push_back(std::move(group));
  return true;
}

Int32 UndoCount(const Document& doc) {
  return doc.undo != nullptr ? static_cast<Int32>(doc.undo->done.size()) : 0;
}

Int32 RedoCount(const Document& doc) {
  return doc.undo != nullptr ? static_cast<Int32>(doc.undo->undone.size()) : 0;
}

bool IsUndoGroupOpen(const Document& doc) {
  return doc.undo != nullptr && doc.undo->depth > 0;
}
}  // namespace headless
