#include "headless/entries/registration_entries.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "headless/entries/bitmap.h"
#include "headless/entries/entries_state.h"
#include "headless/entries/entry_guard.h"
#include "headless/entries/framework.h"
#include "headless/entries/resources.h"
#include "headless/scene/registry.h"

namespace headless {

namespace {

// Copies text into a caller buffer, always terminated when there is room; answers the full
// length.
Int64 CopyOut(const std::string& text, char* buf, Int64 capacity) {
  if (buf != nullptr && capacity > 0) {
    const Int64 n = std::min<Int64>(static_cast<Int64>(text.size()), capacity - 1);
    std::memcpy(buf, text.data(), static_cast<size_t>(n));
    buf[n] = '\0';
  }
  return static_cast<Int64>(text.size());
}

const ResourceSet* AsResourceSet(const Resource* res) {
  return reinterpret_cast<const ResourceSet*>(res);
}

// A resource folder that cannot be loaded answers null, with the reason in the host diagnostics
// (recorded by the entry's guard).
Resource* ResourceLoad(const char* resDirectory) {
  if (resDirectory == nullptr) return nullptr;
  ResourceSet* record = NewHostRecord<ResourceSet>(LoadResourceSet(resDirectory));
  if (record != nullptr) TheEntriesState().liveResources.fetch_add(1);
  return reinterpret_cast<Resource*>(record);
}

void ResourceFree(Resource* res) {
  if (res == nullptr) return;
  TheEntriesState().liveResources.fetch_sub(1);
  DeleteHostRecord(reinterpret_cast<ResourceSet*>(res));
}

Int64 ResourceString(const Resource* res, Int32 id, char* buf, Int64 capacity) {
  static const std::string kEmpty;
  const ResourceSet* set = AsResourceSet(res);
  const std::string* text = &kEmpty;
  if (set != nullptr) {
    const auto it = set->strings.find(id);
    if (it != set->strings.end()) text = &it->second;
  }
  return CopyOut(*text, buf, capacity);
}

Int64 FormatInt64(Int64 value, char* buf, Int64 capacity) {
  return CopyOut(std::to_string(value), buf, capacity);
}

void ConsolePrint(const char* utf8) {
  ConsolePrintLine(utf8 != nullptr ? utf8 : "");
}

void EventAdd(Int32) {
  CountRefreshRequest();
}

Bitmap* AsBitmap(BaseBitmap* bmp) {
  return reinterpret_cast<Bitmap*>(bmp);
}

BaseBitmap* BitmapAlloc() {
  return reinterpret_cast<BaseBitmap*>(NewHostRecord<Bitmap>());
}

void BitmapFree(BaseBitmap* bmp) {
  DeleteHostRecord(AsBitmap(bmp));
}

// A failed load leaves the bitmap empty; a file that cannot be read or decoded answers
// kBitmapUnreadable through the entry's guard, which records why.
Int32 BitmapLoad(BaseBitmap* bmp, const char* path, Int32) {
  if (bmp == nullptr || path == nullptr) return kBitmapMissing;
  Bitmap& bitmap = *AsBitmap(bmp);
  bitmap = Bitmap{};
  try {
    bitmap = LoadBitmapFile(path);
  } catch (const BitmapMissing& e) {
    ReportHostError(e.what());
    return kBitmapMissing;
  }
  return kBitmapOk;
}

// A description resource that cannot be loaded fails the call, its fault recorded by the guard.
Bool RegisterDescriptionEntry(Int32 id, const char* name, const Resource* res) {
  if (name == nullptr || name[0] == '\0') return false;
  const ResourceSet* set = AsResourceSet(res);
  DescriptionData description;
  if (set != nullptr) {
    description = LoadDescription(set->directory, name);
  } else {
    description.name = name;
  }
  return RegisterDescription(id, std::move(description));
}

void IconSize(BaseBitmap* icon, Registration& r) {
  if (icon == nullptr) return;
  r.iconWidth = AsBitmap(icon)->width;
  r.iconHeight = AsBitmap(icon)->height;
}

Bool RegisterCommand(Int32 id, const char* name, Int32 flags, BaseBitmap* icon, const char* help,
                     CommandData* instance) {
  Registration r;
  r.kind = PluginKind::kCommand;
  r.id = id;
  r.name = name != nullptr ? name : "";
  r.flags = flags;
  r.help = help != nullptr ? help : "";
  r.command = instance;
  r.owner = CurrentModule();
  IconSize(icon, r);
  return AddRegistration(std::move(r));
}

Bool RegisterNode(PluginKind kind, Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                  const char* description, BaseBitmap* icon, Int32 diskLevel) {
  Registration r;
  r.kind = kind;
  r.id = id;
  r.name = name != nullptr ? name : "";
  r.flags = flags;
  r.allocate = alloc;
  r.description = description != nullptr ? description : "";
  r.diskLevel = diskLevel;
  r.owner = CurrentModule();
  IconSize(icon, r);
  return AddRegistration(std::move(r));
}

Bool RegisterObject(Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                    const char* description, BaseBitmap* icon, Int32 diskLevel) {
  return RegisterNode(PluginKind::kObject, id, name, flags, alloc, description, icon, diskLevel);
}

Bool RegisterTag(Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                 const char* description, BaseBitmap* icon, Int32 diskLevel) {
  return RegisterNode(PluginKind::kTag, id, name, flags, alloc, description, icon, diskLevel);
}

Bool DescriptionLoad(Description* desc, Int32 type) {
  if (desc == nullptr) return false;
  return FindDescription(type, *reinterpret_cast<DescriptionData*>(desc));
}

}  // namespace

void InstallRegistrationEntries(HostTable& t) {
  t.resourceLoad = Entry<ResourceLoad>;
  t.resourceFree = Entry<ResourceFree>;
  t.resourceString = Entry<ResourceString>;
  t.formatInt64 = Entry<FormatInt64>;
  t.consolePrint = Entry<ConsolePrint>;
  t.eventAdd = Entry<EventAdd>;
  t.bitmapAlloc = Entry<BitmapAlloc>;
  t.bitmapFree = Entry<BitmapFree>;
  t.bitmapLoad = Entry<BitmapLoad, kBitmapUnreadable>;
  t.registerDescription = Entry<RegisterDescriptionEntry>;
  t.registerCommand = Entry<RegisterCommand>;
  t.registerObject = Entry<RegisterObject>;
  t.registerTag = Entry<RegisterTag>;
  t.descriptionLoad = Entry<DescriptionLoad>;
}

Int64 LiveResourceSets() {
  return TheEntriesState().liveResources.load();
}

}  // namespace headless
