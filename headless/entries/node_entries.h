// The node entries of the host table: the scene tree as the plug-in walks and edits it, node
// creation, messages, dirty marks and the deform state.
//
// Contracts beyond host/abi/table.h:
// - nodeAlloc makes a tag for a host tag type or a registered plug-in tag type, an object
//   otherwise, with its plug-in instance when the type is a registered plug-in type (scene.h
//   NewNode); null for the document type or when an allocation fails.
// - The insertion entries report a refused edit (a null or already inserted node, a reference
//   node outside the document) in HostErrors() and leave the tree as it was.
// - nodeMessage records the message id on the node (Node::DeliveredMessages()), then hands it to
//   the plug-in instance; a node without instance answers true.
#pragma once

#include "host/abi/table.h"

namespace headless {

void InstallNodeEntries(HostTable& table);

}  // namespace headless
