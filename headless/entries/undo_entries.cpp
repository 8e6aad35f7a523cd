#include "headless/entries/undo_entries.h"

#include "headless/entries/entry_guard.h"
#include "headless/scene/scene.h"
#include "headless/scene/undo.h"

namespace headless {

namespace {

Bool DocumentStartUndo(BaseDocument* doc) {
  Document* d = DocumentFromHandle(doc);
  return d != nullptr && StartUndo(*d);
}

Bool DocumentAddUndo(BaseDocument* doc, Int32 type, BaseList2D* node) {
  Document* d = DocumentFromHandle(doc);
  return d != nullptr && AddUndo(*d, type, FromHandle(node));
}

Bool DocumentEndUndo(BaseDocument* doc) {
  Document* d = DocumentFromHandle(doc);
  return d != nullptr && EndUndo(*d);
}

}  // namespace

void InstallUndoEntries(HostTable& table) {
  table.documentStartUndo = Entry<DocumentStartUndo>;
  table.documentAddUndo = Entry<DocumentAddUndo>;
  table.documentEndUndo = Entry<DocumentEndUndo>;
}

}  // namespace headless
