#include "headless/host/host_table.h"

#include "headless/deformers/host_deformers.h"
#include "headless/host/adjacency.h"
#include "headless/host/deform_entries.h"
#include "headless/host/falloff_entries.h"
#include "headless/host/mesh_entries.h"
#include "headless/host/node_entries.h"
#include "headless/host/parameter_entries.h"
#include "headless/host/registration_entries.h"
#include "headless/host/selection_entries.h"
#include "headless/host/stream.h"
#include "headless/host/thread_entries.h"
#include "headless/host/undo_entries.h"

namespace headless {

namespace {

HostTable MakeTable() {
  // A plug-in's deformer may sit below the host's own (a skin): they run in the same pass.
  InstallHostDeformers();
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
