#include "source/otessamire/otessamire.h"

#include "source/TTessamire/tag_parameters.h"
#include "source/TTessamire/tag_run.h"
#include "source/TTessamire/ttessamire.h"
#include "source/otessamire/apply.h"
#include "source/otessamire/object_topologies.h"
#include "source/registration.h"

namespace {

// How one tag of a DeformObject call ended.
enum class TagOutcome { kApplied, kSkipped, kEndSuccess, kEndFailure };

}  // namespace

NodeData* OTessamire::Create() {
  auto* deformer = new (std::nothrow) OTessamire;
  if (deformer == nullptr) return nullptr;
  deformer->falloff_ = Falloff::Alloc(0);
  deformer->lastFalloffDirty_ = 0;
  return deformer;
}

OTessamire::~OTessamire() {
  Falloff::Free(falloff_);
}

Bool OTessamire::Initialise(BaseList2D* node) {
  node->SetInt32(OTESSAMIRE_FILTERMODE, OTESSAMIRE_FILTER_EXCLUDE);
  if (falloff_ == nullptr) return true;
  return falloff_->InitFalloff(node->GetDataInstance(), nullptr, node);
}

Bool OTessamire::CopyState(NodeData* dest, BaseList2D*, BaseList2D*, Int32, void*) {
  if (dest == nullptr) return false;
  auto* target = static_cast<OTessamire*>(dest);
  if (falloff_ != nullptr && target->falloff_ != nullptr && !falloff_->CopyTo(target->falloff_))
    return false;
  return true;
}

Bool OTessamire::HandleMessage(BaseList2D* node, Int32 type, void*) {
  if (type == MSG_MENUPREPARE) static_cast<BaseObject*>(node)->SetDeformMode(true);
  return true;
}

Bool OTessamire::DescribeParameters(BaseList2D* node, Description* description, Int32* flags) {
  if (node == nullptr) return false;
  BaseContainer* bc = node->GetDataInstance();
  if (bc == nullptr) return false;
  if (!Host().descriptionLoad(description, node->GetType())) return false;
  if (falloff_ != nullptr) {
    if (!falloff_->SetMode(bc->GetInt32(FALLOFF_MODE, FALLOFF_MODE_DEFAULT), bc)) return false;
    if (!falloff_->AddFalloffToDescription(description, bc, 0, true, false, false, false))
      return false;
  }
  if (flags != nullptr) *flags |= DESCFLAGS_DESC_LOADED;
  return true;
}

Int32 OTessamire::DrawOverlay(BaseObject* op, Int32 drawPass, BaseDraw* bd, BaseDrawHelp* bh) {
  if (!op->GetDeformMode()) return DRAWRESULT_SKIP;
  BaseContainer* bc = op->GetDataInstance();
  if (bc == nullptr) return DRAWRESULT_FAILURE;
  if (falloff_ != nullptr) falloff_->Draw(bd, bh, drawPass, bc);
  return ObjectData::DrawOverlay(op, drawPass, bd, bh);
}

Bool OTessamire::JoinExecution(BaseObject* op, PriorityList* list) {
  Host().priorityListAdd(list, op, 1000, 0);
  return true;
}

Int32 OTessamire::PrepareExecution(BaseObject* op, BaseDocument* doc, BaseThread*, Int32, Int32) {
  BaseContainer* bc = op->GetDataInstance();
  if (bc == nullptr) return EXECUTIONRESULT_USERBREAK;
  if (falloff_ != nullptr && !falloff_->InitFalloff(bc, doc, op))
    return EXECUTIONRESULT_OUTOFMEMORY;
  return EXECUTIONRESULT_OK;
}

void OTessamire::RefreshDirty(BaseObject* op, BaseDocument* doc) {
  BaseContainer* bc = op->GetDataInstance();
  if (falloff_ == nullptr || bc == nullptr) return;
  const Int32 dirty = falloff_->GetDirty(doc, bc);
  if (dirty == lastFalloffDirty_) return;
  op->SetDirty(DIRTYFLAGS_DATA);
  lastFalloffDirty_ = dirty;
}

Int32 OTessamire::CountHandles(BaseObject* op) {
  BaseContainer* bc = op->GetDataInstance();
  return falloff_ != nullptr && bc != nullptr ? falloff_->GetHandleCount(bc) : 0;
}

void OTessamire::ReadHandle(BaseObject* op, Int32 index, HandleInfo& info) {
  BaseContainer* bc = op->GetDataInstance();
  if (falloff_ != nullptr && bc != nullptr) falloff_->GetHandle(index, bc, info);
}

void OTessamire::WriteHandle(BaseObject* op, Int32 index, const Vector3& position,
                             const HandleInfo& info) {
  BaseContainer* bc = op->GetDataInstance();
  if (falloff_ != nullptr && bc != nullptr) falloff_->SetHandle(index, position, bc, info);
}

Bool OTessamire::DeformObject(BaseObject* mod, BaseDocument* doc, BaseObject* op,
                              const Matrix& opMg, const Matrix&, Float, Int32, BaseThread*) {
  if (op->GetType() != Opolygon || falloff_ == nullptr) return true;

  Int32 filterMode = 0;
  mod->GetInt32(OTESSAMIRE_FILTERMODE, filterMode);
  const InExcludeData* list = nullptr;
  if (!mod->GetInExclude(OTESSAMIRE_OBJECTLIST, list)) list = nullptr;

  BaseTag* tag = op->GetFirstTag();
  if (tag == nullptr) return true;
  // The bind tags in tag order; a tag that cannot be appended for lack of memory is left out.
  HostArray<BaseTag*> bindTags;
  for (; tag != nullptr; tag = tag->GetNext()) {
    if (tag->GetType() == ID_TTESSAMIRE) bindTags.Append(tag);
  }

  // One per point, or none; the points keep their count through the call.
  HostArray<Float32> hostWeights;
  hostWeights.Adopt(Host().restrictionWeights(op, mod), op->GetPointCount());

  // The object's kept topology, taken when a tag first runs the core, shared by its tags (they
  // all see the same polygons) and put back on every path. A topology a tag's bind handed on is
  // taken instead the first time, and dropped by a later tag.
  struct TakenTopology {
    ObjectTopologies& from;
    const BaseObject* object;
    KeptTopology* kept = nullptr;
    Bool taken = false;
    KeptTopology* Get(KeptTopology* handedOn) {
      if (taken) {
        delete handedOn;
        return kept;
      }
      kept = from.Take(object, handedOn);
      taken = true;
      return kept;
    }
    ~TakenTopology() { from.Return(object, kept); }
  } topology{topologies_, op};

  // Points whose corrected position was not finite and which kept their input, over all tags;
  // the object is told their count on every path once the tags have run.
  std::atomic<Int64> keptPoints{0};
  struct KeptReport {
    BaseObject* object;
    std::atomic<Int64>& count;
    ~KeptReport() {
      Int64 n = count.load();
      if (n > 0) object->Message(MSG_TESSAMIRE_POINTSKEPT, &n);
    }
  } report{op, keptPoints};

  // Runs the core and the apply step for one tag.
  auto applyTag = [&](BaseTag* bindTag) -> TagOutcome {
    BaseObject* carrier = bindTag->GetObject();
    if (carrier == nullptr) return TagOutcome::kEndSuccess;
    if (filterMode == OTESSAMIRE_FILTER_EXCLUDE) {
      if (list != nullptr && list->GetObjectIndex(doc, carrier) != -1) return TagOutcome::kSkipped;
    } else {
      if (list == nullptr) return TagOutcome::kEndSuccess;
      if (list->GetObjectIndex(doc, carrier) == -1) return TagOutcome::kSkipped;
    }
    Int32 enabled = 0;
    bindTag->GetInt32(TTESSAMIRE_ENABLED, enabled);
    if (enabled == 0) return TagOutcome::kSkipped;
    const Int32 iterations = ReadIterations(bindTag);
    if (iterations == 0) return TagOutcome::kSkipped;

    Int32 showSmooth = 0;
    bindTag->GetInt32(TTESSAMIRE_SHOWSMOOTH, showSmooth);
    const SmoothingSettings settings = ReadSmoothingSettings(bindTag, iterations);
    const Int32 pointCount = op->GetPointCount();
    Vector3* points = op->GetPointW();

    auto* record = static_cast<TTessamire*>(bindTag->GetNodeData());
    if (record == nullptr || record->differences.GetCount() != pointCount)
      return TagOutcome::kEndSuccess;

    // The points are rebuilt block by block as the core builds their frames, which a failed run
    // never does, so the points are then as earlier tags left them.
    ApplyContext context;
    context.showSmoothed = showSmooth != 0;
    context.points = {points, static_cast<size_t>(pointCount)};
    context.hostWeights = hostWeights.Span();
    context.differences = record->differences.Span();
    context.keptPoints = &keptPoints;
    PrepareApply(doc, mod, opMg, falloff_, context);
    if (!RunCoreForTag(op, pointCount, bindTag, doc, settings, ApplySink(context),
                       topology.Get(record->TakeBoundTopology())))
      return TagOutcome::kEndFailure;
    return TagOutcome::kApplied;
  };

  for (BaseTag* bindTag : bindTags.Span()) {
    switch (applyTag(bindTag)) {
      case TagOutcome::kEndSuccess:
        return true;
      case TagOutcome::kEndFailure:
        return false;
      case TagOutcome::kApplied:
      case TagOutcome::kSkipped:
        break;
    }
  }
  op->Message(MSG_UPDATE);
  return true;
}
