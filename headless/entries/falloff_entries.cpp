#include "headless/entries/falloff_entries.h"

#include "headless/deformers/falloff.h"
#include "headless/entries/entries_state.h"
#include "headless/entries/entry_guard.h"
#include "headless/entries/framework.h"

namespace headless {

namespace {

FalloffEvaluator* AsEvaluator(Falloff* fo) {
  return reinterpret_cast<FalloffEvaluator*>(fo);
}
const FalloffEvaluator* AsEvaluator(const Falloff* fo) {
  return reinterpret_cast<const FalloffEvaluator*>(fo);
}

Falloff* FalloffAlloc(Int32 type) {
  if (TheEntriesState().falloffWithheld.load()) return nullptr;
  FalloffEvaluator* evaluator = NewHostRecord<FalloffEvaluator>();
  if (evaluator == nullptr) return nullptr;
  evaluator->type = type;
  TheEntriesState().liveFalloffs.fetch_add(1);
  return reinterpret_cast<Falloff*>(evaluator);
}

void FalloffFree(Falloff* fo) {
  FalloffEvaluator* evaluator = AsEvaluator(fo);
  if (evaluator == nullptr) return;
  DeleteHostRecord(evaluator);
  TheEntriesState().liveFalloffs.fetch_sub(1);
}

Bool FalloffInit(Falloff* fo, const BaseContainer* bc, BaseDocument*, BaseList2D*) {
  return fo != nullptr && bc != nullptr && InitFalloff(*AsEvaluator(fo), *FromHandle(bc));
}

Bool FalloffSetMode(Falloff* fo, Int32 mode, BaseContainer*) {
  return fo != nullptr && SetFalloffMode(*AsEvaluator(fo), mode);
}

Bool FalloffAddDescription(Falloff* fo, Description* desc, BaseContainer*, Int32, Bool, Bool, Bool,
                           Bool) {
  if (fo == nullptr || desc == nullptr) return false;
  AddFalloffDescription(*reinterpret_cast<DescriptionData*>(desc));
  return true;
}

void FalloffDraw(Falloff* fo, BaseDraw* bd, BaseDrawHelp*, Int32 drawPass,
                 const BaseContainer* bc) {
  DrawView* view = DrawViewFromHandle(bd);
  if (fo == nullptr || view == nullptr || bc == nullptr) return;
  view->records.push_back(FalloffDrawRecord(*FromHandle(bc), drawPass));
}

Bool FalloffCopyTo(const Falloff* fo, Falloff* dest) {
  if (fo == nullptr || dest == nullptr) return false;
  CopyFalloff(*AsEvaluator(fo), *AsEvaluator(dest));
  return true;
}

Int32 FalloffDirty(const Falloff* fo, BaseDocument*, const BaseContainer* bc) {
  if (fo == nullptr) return 0;
  return FalloffDirtyCount(*AsEvaluator(fo), bc != nullptr ? FromHandle(bc) : nullptr);
}

Int32 FalloffHandleCountEntry(const Falloff* fo, const BaseContainer* bc) {
  return fo != nullptr && bc != nullptr ? FalloffHandleCount(*FromHandle(bc)) : 0;
}

void FalloffGetHandle(const Falloff* fo, Int32 index, const BaseContainer* bc, HandleInfo* info) {
  if (info == nullptr || index < 0 || index >= FalloffHandleCountEntry(fo, bc)) return;
  *info = FalloffHandle(*AsEvaluator(fo), *FromHandle(bc));
}

void FalloffSetHandle(Falloff* fo, Int32 index, Vector3 position, const BaseContainer* bc,
                      const HandleInfo*) {
  if (index < 0 || index >= FalloffHandleCountEntry(fo, bc)) return;
  // The container is the deformer's own, which the host may write; the table passes it const
  // only because the plug-in does not.
  MoveFalloffHandle(*AsEvaluator(fo), *FromHandle(bc), position);
}

Bool FalloffPreSample(Falloff* fo, BaseDocument*, BaseList2D*, const FalloffInput* input, Int32) {
  return fo != nullptr && input != nullptr && PreSampleFalloff(*AsEvaluator(fo), *input);
}

Float FalloffSample(const Falloff* fo, const Vector3* position, Float* weightOut, Bool, Float,
                    void*, Int32) {
  const Float weight =
      fo != nullptr && position != nullptr ? SampleFalloff(*AsEvaluator(fo), *position) : 1.0;
  if (weightOut != nullptr) *weightOut = weight;
  return weight;
}

}  // namespace

Int64 LiveFalloffs() {
  return TheEntriesState().liveFalloffs.load();
}

void WithholdFalloffLibrary(bool withheld) {
  TheEntriesState().falloffWithheld.store(withheld);
}

void InstallFalloffEntries(HostTable& t) {
  t.falloffAlloc = Entry<FalloffAlloc>;
  t.falloffFree = Entry<FalloffFree>;
  t.falloffInit = Entry<FalloffInit>;
  t.falloffSetMode = Entry<FalloffSetMode>;
  t.falloffAddDescription = Entry<FalloffAddDescription>;
  t.falloffDraw = Entry<FalloffDraw>;
  t.falloffCopyTo = Entry<FalloffCopyTo>;
  t.falloffDirty = Entry<FalloffDirty>;
  t.falloffHandleCount = Entry<FalloffHandleCountEntry>;
  t.falloffGetHandle = Entry<FalloffGetHandle>;
  t.falloffSetHandle = Entry<FalloffSetHandle>;
  t.falloffPreSample = Entry<FalloffPreSample>;
  t.falloffSample = Entry<FalloffSample>;
}

}  // namespace headless
