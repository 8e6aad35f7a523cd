// The undo entries of the host table (documentStartUndo, documentAddUndo, documentEndUndo) over
// the documents' undo histories (headless/scene/undo.h); each answers false for no document.
#pragma once

#include "host/abi/table.h"

namespace headless {

void InstallUndoEntries(HostTable& table);

}  // namespace headless
