// Undo groups of a document, kept the way the host keeps them: the plug-in opens a group, records
// a step after each change, and closes the group; the user undoes and redoes whole groups.
//
// Steps: only new-node steps (UNDOTYPE_NEWOBJ) are kept. Undoing a group takes every node it
// recorded out of the document, last recorded first (an object with its subtree, a tag alone);
// the history keeps those nodes so that redo puts them back, first recorded first, at the place
// they left (the same parent or object, right after the same predecessor). A node that is no
// longer in the document when its group is undone is skipped; one whose parent is gone by the
// time of redo cannot be put back and is freed. Nodes still held when the history goes (a new
// group closes after an undo, or the document is freed) are freed.
//
// Groups: StartUndo opens a group, or nests inside the open one; the matching outermost EndUndo
// closes it. A closed group without steps records nothing. Closing a group with steps drops
// everything that could have been redone.
#pragma once

#include "headless/scene/scene.h"

namespace headless {

// What the plug-in records through the host table. StartUndo opens a group or nests inside the
// open one; AddUndo answers false, recording nothing, outside an open group, for a step type
// other than UNDOTYPE_NEWOBJ, or for a node that is not in the document; EndUndo closes the
// innermost group (false when none is open).
bool StartUndo(Document& doc);
bool AddUndo(Document& doc, Int32 type, Node* node);
bool EndUndo(Document& doc);

// What the user does. Undo and Redo answer false, changing nothing, when there is no group to undo
// or redo or a group is still open.
bool Undo(Document& doc);
bool Redo(Document& doc);
// Groups that Undo and Redo can still take back or put back.
Int32 UndoCount(const Document& doc);
Int32 RedoCount(const Document& doc);
bool IsUndoGroupOpen(const Document& doc);
}  // namespace headless
