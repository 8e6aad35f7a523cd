#include "source/TTessamire/ttessamire.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "source/TTessamire/bind.h"
#include "source/TTessamire/tag_parameters.h"
#include "source/resources.h"

namespace {

// The status text of a bound tag: the prefix string followed by the differences' size in bytes.
void WriteBoundStatus(BaseList2D* node, Int64 bytes) {
  node->SetString(
      TTESSAMIRE_BINDINFO,
      LoadResourceString(PluginResources(), IDS_STATUS_BOUND_PREFIX) + FormatNumber(bytes));
}

}  // namespace

NodeData* TTessamire::Create() {
  return new (std::nothrow) TTessamire;
}

TTessamire::~TTessamire() {
  ReleaseKeptTopology();
  delete boundTopology_.exchange(nullptr);
}

void TTessamire::ReleaseKeptTopology() {
  delete kept_;
  kept_ = nullptr;
}

Bool TTessamire::Initialise(BaseList2D* node) {
  // A new tag's settings are those of a default SmoothingSettings; the float32 strength widens
  // exactly, so reading it back narrows to the same value.
  const SmoothingSettings defaults;
  node->SetInt32(TTESSAMIRE_ITERATIONS, defaults.iterations);
  node->SetInt32(TTESSAMIRE_WEIGHTING, defaults.weighting);
  node->SetInt32(TTESSAMIRE_PINBORDER, defaults.pinBorder ? 1 : 0);
  WriteBoundStatus(node, 0);
  node->SetFloat(TTESSAMIRE_STRENGTH, static_cast<Float>(defaults.strength));
  node->SetInt32(TTESSAMIRE_USEVERTEXMAP, defaults.useVertexMap ? 1 : 0);
  return true;
}

// Stored form: bound (bool); when bound, the count (int32) and one vector per element.
Bool TTessamire::WriteState(BaseList2D*, HyperFile* hf) {
  hf->WriteBool(bound);
  if (!bound) return true;
  hf->WriteInt32(static_cast<Int32>(differences.GetCount()));
  const Vector3* data = differences.GetData();
  for (Int64 i = 0; i < differences.GetCount(); ++i) hf->WriteVector(data[i]);
  return true;
}

Bool TTessamire::ReadState(BaseList2D*, HyperFile* hf, Int32 level) {
  if (level != 0) return true;
  hf->ReadBool(&bound);
  if (!bound) return true;
  Int32 count = 0;
  if (!hf->ReadInt32(&count) || count < 0) return false;
  // The array grows only as vectors arrive, so a damaged count cannot make us claim memory for
  // data that is not there.
  constexpr Int64 kFirstBlock = 4096;
  differences.Clear();
  Vector3 scratch;
  for (Int64 i = 0; i < count; ++i) {
    if (i == differences.GetCount() &&
        !differences.Resize(std::min<Int64>(count, std::max<Int64>(kFirstBlock, 2 * i)))) {
      differences.Release();
      bound = false;
      return false;
    }
    // A truncated or corrupt stream must not load as valid differences.
    if (!hf->ReadVector(&scratch)) {
      differences.Release();
      bound = false;
      return false;
    }
    differences.GetData()[i] = scratch;
  }
  if (count == 0) differences.Release();
  return true;
}

Bool TTessamire::CopyState(NodeData* dest, BaseList2D*, BaseList2D*, Int32, void*) {
  if (dest == nullptr) return true;
  auto* target = static_cast<TTessamire*>(dest);
  target->bound = bound;
  if (target == this) return true;
  target->differences.Clear();
  const Int64 count = differences.GetCount();
  if (count == 0) {
    target->differences.Release();
    return true;
  }
  // On lack of memory the target stays empty; its next execution step binds again.
  if (!target->differences.Resize(count)) return true;
  std::memcpy(target->differences.GetData(), differences.GetData(),
              static_cast<size_t>(count) * sizeof(Vector3));
  return true;
}

Bool TTessamire::HandleMessage(BaseList2D* node, Int32 type, void* data) {
  if (type != MSG_DESCRIPTION_COMMAND || data == nullptr) return true;
  switch (static_cast<const DescriptionCommand*>(data)->id) {
    case TTESSAMIRE_BIND:
      return PressBind(node);
    case TTESSAMIRE_UNBIND:
      return PressUnbind();
    default:
      return true;
  }
}

Bool TTessamire::PressBind(BaseList2D* node) {
  ConsolePrint("initial button prout");
  BaseObject* object = static_cast<BaseTag*>(node)->GetObject();
  if (object == nullptr) return false;
  const Int32 pointCount = object->GetPointCount();
  WriteBoundStatus(node, 0);
  // The topology is built into a record of its own, for the deformer; without memory for the
  // record the bind runs as a plain one.
  KeptTopology* built = new (std::nothrow) KeptTopology;
  if (!Bind(differences, object, node, built)) {
    delete built;
    return false;
  }
  WriteBoundStatus(node, static_cast<Int64>(pointCount) * static_cast<Int64>(sizeof(Vector3)));
  bound = true;
  // Bound, the tag runs the core no more until it is unbound.
  ReleaseKeptTopology();
  // Should the bind not have kept its topology, the deformer builds one into the record.
  delete boundTopology_.exchange(built);
  EventAdd(0);
  return true;
}

Bool TTessamire::PressUnbind() {
  differences.Release();
  bound = false;
  ReleaseKeptTopology();
  delete boundTopology_.exchange(nullptr);
  EventAdd(0);
  return true;
}

Bool TTessamire::IsParameterEnabled(BaseList2D* node, Int32 id, const void* value, Int32 flags,
                                    const BaseContainer* itemDescription) {
  if (bound) {
    for (const Int32 locked :
         {TTESSAMIRE_PINBORDER, TTESSAMIRE_WEIGHTING, TTESSAMIRE_ITERATIONS, TTESSAMIRE_VERTEXMAP,
          TTESSAMIRE_STRENGTH, TTESSAMIRE_USEVERTEXMAP}) {
      if (id == locked) return false;
    }
  }
  return TagData::IsParameterEnabled(node, id, value, flags, itemDescription);
}

Bool TTessamire::DrawTag(BaseTag*, BaseObject*, BaseDraw*, BaseDrawHelp*) {
  return true;
}

Int32 TTessamire::ExecuteTag(BaseTag* tag, BaseDocument*, BaseObject* op, BaseThread*, Int32,
                             Int32) {
  if (op->GetPointCount() != differences.GetCount()) bound = false;
  if (bound) return EXECUTIONRESULT_OK;
  // Live, the tag binds at every evaluation: the object's topology is kept between them. Without
  // memory for the record the bind runs as a plain one.
  if (kept_ == nullptr) kept_ = new (std::nothrow) KeptTopology;
  Bind(differences, op, tag, kept_);
  tag->SetString(TTESSAMIRE_BINDINFO, LoadResourceString(PluginResources(), IDS_STATUS_LIVE));
  return EXECUTIONRESULT_OK;
}
