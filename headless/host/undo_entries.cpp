#include "headless/host/undo_entries.h"

#include "headless/scene/scene.h"
#include "headless/scene/undo.h"

namespace headless {

void InstallUndoEntries(HostTable& table) {
  table.documentStartUndo = [](BaseDocument* doc) -> Bool {
    Document* d = DocumentFromHandle(doc);
    return d != nullptr && StartUndo(*d);
  };
  table.documentAddUndo = [](BaseDocument* doc, Int32 type, BaseList2D* node) -> Bool {
    Document* d = DocumentFromHandle(doc);
    return d != nullptr && AddUndo(*d, type, FromHandle(node));
  };
  table.documentEndUndo = [](BaseDocument* doc) -> Bool {
    Document* d = DocumentFromHandle(doc);
    return d != nullptr && EndUndo(*d);
  };
}

}  // namespace headless
