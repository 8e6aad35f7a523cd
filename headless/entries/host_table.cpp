#include "headless/entries/host_table.h"

#include "headless/deformers/installation.h"
#include "headless/entries/adjacency.h"
#include "headless/entries/deform_entries.h"
#include "headless/entries/falloff_entries.h"
#include "headless/entries/mesh_entries.h"
#include "headless/entries/node_entries.h"
#include "headless/entries/parameter_entries.h"
#include "headless/entries/registration_entries.h"
#include "headless/entries/selection_entries.h"
#include "headless/entries/stream.h"
#include "headless/entries/thread_entries.h"
#include "headless/entries/undo_entries.h"

namespace headless {

namespace {

HostTable MakeTable() {
  // A plug-in's deformer may sit below the host's own (a skin): they run in the same pass.
  InstallNativeDeformers();
  HostTable t{};
  t.version = kHostInterfaceVersion;
  InstallNodeEntries(t);
  InstallSelectionEntries(t);
  InstallUndoEntries(t);
  InstallParameterEntries(t);
  InstallRegistrationEntries(t);
  InstallStreamEntries(t);
  InstallMeshEntries(t);
  InstallDeformEntries(t);
  InstallAdjacencyEntries(t);
  InstallFalloffEntries(t);
  InstallThreadEntries(t);
  return t;
}

}  // namespace

const HostTable& HostTableInstance() {
  static const HostTable table = MakeTable();
  return table;
}

}  // namespace headless
