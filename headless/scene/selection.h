// What the user holds in the host: the selection of objects and tags (the active bit of their
// flags), the keyboard qualifier, and the active document. Also the host's side of a registered
// command: its menu state and running it.
//
// The selection lives in the nodes (BIT_ACTIVE) and so belongs to their document; the qualifier
// and the active document are process-wide, like the host's own input state (kept in
// scene_state.h, and back to their start values when it is reset), and meant to be set from one
// thread.
#pragma once

#include <vector>

#include "headless/scene/scene.h"

namespace headless {

// Sets or clears the active bit of an object or tag. Throws std::invalid_argument for a null node
// or a document root.
void SetSelected(Node* node, bool selected);
bool IsSelected(const Node* node);
// Clears the active bit of every object and tag of `doc`.
void ClearSelection(Document& doc);

// The selected objects of `doc` in tree order (parent before children, siblings in order), as
// the host's active-object query gives them: of type `type` only (-1: any), of type `instanceOf`
// only (-1: any; the headless host has no type hierarchy), and, unless `children`, without those
// that have a selected ancestor (of any type).
std::vector<Node*> ActiveObjects(const Document& doc, bool children, Int32 type, Int32 instanceOf);

// Keyboard qualifier word (QSHIFT | QCTRL ...) answered by the input-state query; 0 at start.
void SetKeyboardQualifier(Int32 qualifier);
Int32 KeyboardQualifier();
// While false, the input-state query fails for every device (a host without input state).
void SetInputStateAvailable(bool available);
bool InputStateAvailable();

// The document the host hands to commands; null at start. The host does not own it.
void SetActiveDocument(Document* doc);
Document* ActiveDocument();

// Asks the registered command `id` for its menu state with the active document: true when the
// answer has CMD_ENABLED set. Throws std::invalid_argument when `id` is not a registered command
// or there is no active document.
bool IsCommandEnabled(Int32 id);
// Runs the registered command `id` on the active document and answers its result (false also
// when it throws). Throws std::invalid_argument like IsCommandEnabled.
bool ExecuteCommand(Int32 id);
}  // namespace headless
