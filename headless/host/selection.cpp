#include "headless/host/selection.h"

#include <new>
#include <stdexcept>
#include <string>

#include "headless/host/framework.h"
#include "headless/host/host_state.h"
#include "headless/host/registry.h"
#include "host/plugin_base.h"

namespace headless {

namespace {

bool HasSelectedAncestor(const Node* op) {
  for (const Node* up = op->up; up != nullptr; up = up->up)
    if ((up->flags & BIT_ACTIVE) != 0) return true;
  return false;
}

CommandData* FindCommand(Int32 id, const char* what) {
  Registration registration;
  if (!FindRegistration(id, registration) || registration.kind != PluginKind::kCommand ||
      registration.command == nullptr)
    throw std::invalid_argument(std::string(what) + ": " + std::to_string(id) +
                                " is not a registered command");
  if (ActiveDocument() == nullptr)
    throw std::invalid_argument(std::string(what) + ": there is no active document");
  return registration.command;
}

// The object array handed to the plug-in: the record comes from the framework allocator.
struct HostAtomArray {
  std::vector<Node*> nodes;
};

HostAtomArray* AsArray(const AtomArray* array) {
  return reinterpret_cast<HostAtomArray*>(const_cast<AtomArray*>(array));
}

AtomArray* AtomArrayAlloc() {
  return reinterpret_cast<AtomArray*>(NewHostRecord<HostAtomArray>());
}

void AtomArrayFree(AtomArray* array) {
  DeleteHostRecord(AsArray(array));
}

Int32 AtomArrayCount(const AtomArray* array) {
  return array != nullptr ? static_cast<Int32>(AsArray(array)->nodes.size()) : 0;
}

BaseList2D* AtomArrayIndex(const AtomArray* array, Int32 index) {
  if (array == nullptr || index < 0) return nullptr;
  const std::vector<Node*>& nodes = AsArray(array)->nodes;
  return static_cast<size_t>(index) < nodes.size() ? ToList(nodes[static_cast<size_t>(index)])
                                                   : nullptr;
}

void DocumentGetActiveObjects(BaseDocument* doc, AtomArray* out, Bool children, Int32 type,
                              Int32 instanceOf) {
  if (out == nullptr) return;
  HostAtomArray* array = AsArray(out);
  array->nodes.clear();
  const Document* d = DocumentFromHandle(doc);
  if (d == nullptr) return;
  try {
    array->nodes = ActiveObjects(*d, children, type, instanceOf);
  } catch (const std::bad_alloc&) {
    ReportHostError("documentGetActiveObjects: out of memory");
  }
}

Bool GetInputState(Int32 device, Int32 channel, BaseContainer* out) {
  const HostState& state = TheHostState();
  if (!state.inputStateAvailable.load() || device != BFM_INPUT_KEYBOARD ||
      channel != BFM_INPUT_CHANNEL || out == nullptr)
    return false;
  FromHandle(out)->SetInt32(BFM_INPUT_QUALIFIER, state.keyboardQualifier.load());
  return true;
}

}  // namespace

void SetSelected(Node* node, bool selected) {
  if (node == nullptr) throw std::invalid_argument("select: no node given");
  if (node->type == kDocumentType)
    throw std::invalid_argument("select: a document cannot be selected");
  if (selected) {
    node->flags |= BIT_ACTIVE;
  } else {
    node->flags &= ~BIT_ACTIVE;
  }
}

bool IsSelected(const Node* node) {
  return node != nullptr && (node->flags & BIT_ACTIVE) != 0;
}

void ClearSelection(Document& doc) {
  for (Node* op : doc.Objects()) {
    op->flags &= ~BIT_ACTIVE;
    for (Node* tag = op->firstTag; tag != nullptr; tag = tag->next) tag->flags &= ~BIT_ACTIVE;
  }
}

std::vector<Node*> ActiveObjects(const Document& doc, bool children, Int32 type, Int32 instanceOf) {
  std::vector<Node*> out;
  for (Node* op : doc.Objects()) {
    if ((op->flags & BIT_ACTIVE) == 0) continue;
    if (type != -1 && op->type != type) continue;
    if (instanceOf != -1 && op->type != instanceOf) continue;
    if (!children && HasSelectedAncestor(op)) continue;
    out.push_back(op);
  }
  return out;
}

void SetKeyboardQualifier(Int32 qualifier) {
  TheHostState().keyboardQualifier.store(qualifier);
}

Int32 KeyboardQualifier() {
  return TheHostState().keyboardQualifier.load();
}

void SetInputStateAvailable(bool available) {
  TheHostState().inputStateAvailable.store(available);
}

void SetActiveDocument(Document* doc) {
  TheHostState().activeDocument.store(doc);
}

Document* ActiveDocument() {
  return TheHostState().activeDocument.load();
}

bool IsCommandEnabled(Int32 id) {
  CommandData* command = FindCommand(id, "command state");
  try {
    return (command->CallGetState(ToDocument(ActiveDocument())) & CMD_ENABLED) != 0;
  } catch (...) {
    return false;
  }
}

bool ExecuteCommand(Int32 id) {
  CommandData* command = FindCommand(id, "command");
  try {
    return command->CallExecute(ToDocument(ActiveDocument()));
  } catch (...) {
    return false;
  }
}

void InstallSelectionEntries(HostTable& table) {
  table.atomArrayAlloc = AtomArrayAlloc;
  table.atomArrayFree = AtomArrayFree;
  table.atomArrayCount = AtomArrayCount;
  table.atomArrayIndex = AtomArrayIndex;
  table.documentGetActiveObjects = DocumentGetActiveObjects;
  table.getInputState = GetInputState;
}

}  // namespace headless
