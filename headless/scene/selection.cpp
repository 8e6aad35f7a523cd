#include "headless/scene/selection.h"

#include <stdexcept>
#include <string>

#include "headless/scene/registry.h"
#include "headless/scene/scene_state.h"
#include "host/abi/plugin_base.h"

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
  TheSceneState().keyboardQualifier.store(qualifier);
}

Int32 KeyboardQualifier() {
  return TheSceneState().keyboardQualifier.load();
}

void SetInputStateAvailable(bool available) {
  TheSceneState().inputStateAvailable.store(available);
}

bool InputStateAvailable() {
  return TheSceneState().inputStateAvailable.load();
}

void SetActiveDocument(Document* doc) {
  TheSceneState().activeDocument.store(doc);
}

Document* ActiveDocument() {
  return TheSceneState().activeDocument.load();
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
}  // namespace headless
