#include "headless/entries/selection_entries.h"

#include <new>
#include <vector>

#include "headless/entries/entry_guard.h"
#include "headless/entries/framework.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "headless/scene/selection.h"

namespace headless {

namespace {

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
  if (!InputStateAvailable() || device != BFM_INPUT_KEYBOARD || channel != BFM_INPUT_CHANNEL ||
      out == nullptr)
    return false;
  FromHandle(out)->SetInt32(BFM_INPUT_QUALIFIER, KeyboardQualifier());
  return true;
}

}  // namespace

void InstallSelectionEntries(HostTable& table) {
  table.atomArrayAlloc = Entry<AtomArrayAlloc>;
  table.atomArrayFree = Entry<AtomArrayFree>;
  table.atomArrayCount = Entry<AtomArrayCount>;
  table.atomArrayIndex = Entry<AtomArrayIndex>;
  table.documentGetActiveObjects = Entry<DocumentGetActiveObjects>;
  table.getInputState = Entry<GetInputState>;
}

}  // namespace headless
