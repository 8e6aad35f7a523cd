#include "headless/entries/parameter_entries.h"

#include <algorithm>

#include "headless/entries/entry_guard.h"
#include "headless/entries/framework.h"
#include "headless/scene/scene.h"

namespace headless {

namespace {

Bool ParamGetInt32(const BaseList2D* node, Int32 id, Int32* out, Int32) {
  if (node == nullptr || out == nullptr) return false;
  const auto v = FromHandle(node)->params.GetInt32(id);
  if (v) *out = *v;
  return v.has_value();
}

Bool ParamGetFloat(const BaseList2D* node, Int32 id, Float* out, Int32) {
  if (node == nullptr || out == nullptr) return false;
  const auto v = FromHandle(node)->params.GetFloat(id);
  if (v) *out = *v;
  return v.has_value();
}

Bool ParamGetLink(const BaseList2D* node, Int32 id, const BaseLink** out, Int32) {
  if (node == nullptr || out == nullptr) return false;
  const LinkValue* link = FromHandle(node)->params.GetLink(id);
  if (link != nullptr) *out = reinterpret_cast<const BaseLink*>(link);
  return link != nullptr;
}

Bool ParamGetInExclude(const BaseList2D* node, Int32 id, const InExcludeData** out, Int32) {
  if (node == nullptr || out == nullptr) return false;
  const InExcludeValue* list = FromHandle(node)->params.GetInExclude(id);
  if (list != nullptr) *out = reinterpret_cast<const InExcludeData*>(list);
  return list != nullptr;
}

Bool ParamSetInt32(BaseList2D* node, Int32 id, Int32 value, Int32) {
  if (node == nullptr) return false;
  FromHandle(node)->params.SetInt32(id, value);
  return true;
}

Bool ParamSetFloat(BaseList2D* node, Int32 id, Float value, Int32) {
  if (node == nullptr) return false;
  FromHandle(node)->params.SetFloat(id, value);
  return true;
}

Bool ParamSetString(BaseList2D* node, Int32 id, const char* utf8, Int32) {
  if (node == nullptr || utf8 == nullptr) return false;
  FromHandle(node)->params.SetString(id, utf8);
  return true;
}

Bool ParamSetLink(BaseList2D* node, Int32 id, BaseList2D* target, Int32) {
  if (node == nullptr) return false;
  FromHandle(node)->params.SetLink(id, target != nullptr ? FromHandle(target)->serial : 0);
  return true;
}

BaseList2D* LinkResolve(const BaseLink* link, const BaseDocument* doc, Int32 typeFilter) {
  if (link == nullptr) return nullptr;
  Node* target = FindLiveNode(reinterpret_cast<const LinkValue*>(link)->target);
  if (target == nullptr) return nullptr;
  if (typeFilter != 0 && target->type != typeFilter) return nullptr;
  if (doc != nullptr && target->document != DocumentFromHandle(doc)) return nullptr;
  return ToList(target);
}

Int32 InExcludeIndex(const InExcludeData* list, const BaseDocument* doc, const BaseList2D* node) {
  if (list == nullptr || node == nullptr) return -1;
  // Entries are looked up in the given document: a node outside it is not listed there.
  if (doc != nullptr && FromHandle(node)->document != DocumentFromHandle(doc)) return -1;
  const auto& targets = reinterpret_cast<const InExcludeValue*>(list)->targets;
  const auto it = std::find(targets.begin(), targets.end(), FromHandle(node)->serial);
  return it == targets.end() ? -1 : static_cast<Int32>(it - targets.begin());
}

BaseContainer* NodeGetContainer(BaseList2D* node) {
  return node ? ToContainer(&FromHandle(node)->params) : nullptr;
}

BaseContainer* ContainerAlloc() {
  return ToContainer(NewHostRecord<Container>());
}

void ContainerFree(BaseContainer* bc) {
  DeleteHostRecord(FromHandle(bc));
}

Int32 ContainerGetInt32(const BaseContainer* bc, Int32 id, Int32 defaultValue) {
  if (bc == nullptr) return defaultValue;
  return FromHandle(bc)->GetInt32(id).value_or(defaultValue);
}

void ContainerSetInt32(BaseContainer* bc, Int32 id, Int32 value) {
  if (bc != nullptr) FromHandle(bc)->SetInt32(id, value);
}

}  // namespace

void InstallParameterEntries(HostTable& t) {
  t.paramGetInt32 = Entry<ParamGetInt32>;
  t.paramGetFloat = Entry<ParamGetFloat>;
  t.paramGetLink = Entry<ParamGetLink>;
  t.paramGetInExclude = Entry<ParamGetInExclude>;
  t.paramSetInt32 = Entry<ParamSetInt32>;
  t.paramSetFloat = Entry<ParamSetFloat>;
  t.paramSetString = Entry<ParamSetString>;
  t.paramSetLink = Entry<ParamSetLink>;
  t.linkResolve = Entry<LinkResolve>;
  t.inExcludeIndex = Entry<InExcludeIndex>;
  t.nodeGetContainer = Entry<NodeGetContainer>;
  t.containerAlloc = Entry<ContainerAlloc>;
  t.containerFree = Entry<ContainerFree>;
  t.containerGetInt32 = Entry<ContainerGetInt32>;
  t.containerSetInt32 = Entry<ContainerSetInt32>;
}

}  // namespace headless
