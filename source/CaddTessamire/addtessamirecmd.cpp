#include "source/CaddTessamire/addtessamirecmd.h"

#include "source/TTessamire/tag_parameters.h"
#include "source/registration.h"

namespace {

// The selected polygon objects of `doc`, selected children included; freed with the object.
class Selection {
 public:
  explicit Selection(BaseDocument* doc) : array_(AtomArray::Alloc()) {
    if (array_ != nullptr) doc->GetActiveObjects(array_, true, Opolygon, -1);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() { AtomArray::Free(array_); }
  Int32 Count() const { return array_ != nullptr ? array_->GetCount() : 0; }
  BaseObject* operator[](Int32 i) const { return static_cast<BaseObject*>(array_->GetIndex(i)); }

 private:
  AtomArray* array_;
};

Placement ReadPlacement() {
  BaseContainer* state = Host().containerAlloc();
  if (state == nullptr) return Placement::kTagOnly;
  Int32 qualifier = 0;
  if (Host().getInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL, state))
    qualifier = state->GetInt32(BFM_INPUT_QUALIFIER, 0);
  Host().containerFree(state);
  return PlacementFromQualifier(qualifier);
}

// The first vertex-map tag of `op` that is selected, or null.
BaseTag* FirstSelectedVertexMap(const BaseObject* op) {
  for (BaseTag* tag = op->GetFirstTag(); tag != nullptr; tag = tag->GetNext()) {
    if (tag->GetType() == Tvertexmap && tag->GetBit(BIT_ACTIVE)) return tag;
  }
  return nullptr;
}

Bool HasDeformerChild(const BaseObject* target) {
  for (BaseObject* child = target->GetDown(); child != nullptr; child = child->GetNext()) {
    if (child->GetType() == ID_OTESSAMIRE) return true;
  }
  return false;
}

// Puts a new deformer among the children of `target`: right after its first skin deformer, or
// last. False when the deformer cannot be allocated.
Bool AddDeformer(BaseDocument* doc, BaseObject* target) {
  if (HasDeformerChild(target)) return true;
  BaseObject* deformer = BaseObject::Alloc(ID_OTESSAMIRE);
  if (deformer == nullptr) return false;
  BaseObject* skin = target->GetDown();
  while (skin != nullptr && skin->GetType() != Oskin) skin = skin->GetNext();
  if (skin != nullptr) {
    doc->InsertObjectAfter(deformer, skin);
  } else {
    doc->InsertObjectLast(deformer, target);
  }
  doc->AddUndo(UNDOTYPE_NEWOBJ, deformer);
  return true;
}

// Tag, vertex-map link and deformer for one object; false on an allocation failure.
Bool EquipObject(BaseDocument* doc, BaseObject* op, Placement placement) {
  BaseTag* tag = BaseTag::Alloc(ID_TTESSAMIRE);
  if (tag == nullptr) return false;
  BaseTag* vertexMap = FirstSelectedVertexMap(op);
  op->InsertTagFirst(tag);
  doc->AddUndo(UNDOTYPE_NEWOBJ, tag);
  if (vertexMap != nullptr) tag->SetLink(TTESSAMIRE_VERTEXMAP, vertexMap);

  switch (placement) {
    case Placement::kUnderParent: {
      BaseObject* parent = op->GetUp();
      return parent == nullptr || AddDeformer(doc, parent);
    }
    case Placement::kUnderObject:
      return AddDeformer(doc, op);
    case Placement::kTagOnly:
      return true;
  }
  return true;
}

}  // namespace

Placement PlacementFromQualifier(Int32 qualifier) {
  if (qualifier == QSHIFT) return Placement::kUnderObject;
  if (qualifier == QCTRL) return Placement::kUnderParent;
  return Placement::kTagOnly;
}

Bool ADDTESSAMIRECMD::Execute(BaseDocument* doc) {
  Selection selection(doc);
  if (selection.Count() == 0) return false;
  const Placement placement = ReadPlacement();
  doc->StartUndo();
  Bool ok = true;
  for (Int32 i = 0; i < selection.Count() && ok; ++i) {
    BaseObject* op = selection[i];
    ok = op != nullptr && EquipObject(doc, op, placement);
  }
  doc->EndUndo();
  if (ok) EventAdd(0);
  return ok;
}

Int32 ADDTESSAMIRECMD::GetState(BaseDocument* doc) {
  Selection selection(doc);
  return selection.Count() > 0 ? CMD_ENABLED : 0;
}
