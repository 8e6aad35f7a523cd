#include "headless/host/registration_entries.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "headless/host/bitmap.h"
#include "headless/host/entry_guard.h"
#include "headless/host/framework.h"
#include "headless/host/resources.h"
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

std::atomic<Int64> g_liveResources{0};

const ResourceSet* AsResourceSet(const Resource* res) {
  return reinterpret_cast<const ResourceSet*>(res);
}

Resource* ResourceLoad(const char* resDirectory) {
  if (resDirectory == nullptr) return nullptr;
  ResourceSet set;
  std::string error;
  if (!LoadResourceSet(resDirectory, set, error)) {
    ReportHostError("resources: " + error);
    return nullptr;
  }
  ResourceSet* record = NewHostRecord<ResourceSet>(std::move(set));
  if (record != nullptr) g_liveResources.fetch_add(1);
  return reinterpret_cast<Resource*>(record);
}

void ResourceFree(Resource* res) {
  if (res == nullptr) return;
  g_liveResources.fetch_sub(1);
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

Int32 BitmapLoad(BaseBitmap* bmp, const char* path, Int32) {
  if (bmp == nullptr || path == nullptr) return kBitmapMissing;
  std::string error;
  const Int32 result = LoadBitmapFile(path, *AsBitmap(bmp), error);
  if (result != kBitmapOk) ReportHostError("bitmap: " + error);
  return result;
}

Bool RegisterDescriptionEntry(Int32 id, const char* name, const Resource* res) {
  if (name == nullptr || name[0] == '\0') return false;
  DescriptionData description;
  description.name = name;
  const ResourceSet* set = AsResourceSet(res);
  if (set != nullptr) {
    std::string error;
    if (!LoadDescription(set->directory, name, description, error)) {
      ReportHostError("description: " + error);
      return false;
    }
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
  t.resourceLoad = [](const char* dir) {
    return NoThrow<Resource*>(nullptr, [&] { return ResourceLoad(dir); });
  };
  t.resourceFree = ResourceFree;
  t.resourceString = ResourceString;
  t.formatInt64 = FormatInt64;
  t.consolePrint = [](const char* utf8) {
    NoThrow(0, [&] {
      ConsolePrint(utf8);
      return 0;
    });
  };
  t.eventAdd = EventAdd;
  t.bitmapAlloc = BitmapAlloc;
  t.bitmapFree = BitmapFree;
  t.bitmapLoad = [](BaseBitmap* bmp, const char* path, Int32 frame) {
    return NoThrow(kBitmapUnreadable, [&] { return BitmapLoad(bmp, path, frame); });
  };
  t.registerDescription = [](Int32 id, const char* name, const Resource* res) {
    return NoThrow(false, [&] { return RegisterDescriptionEntry(id, name, res); });
  };
  t.registerCommand = [](Int32 id, const char* name, Int32 flags, BaseBitmap* icon,
                         const char* help, CommandData* instance) {
    return NoThrow(false, [&] { return RegisterCommand(id, name, flags, icon, help, instance); });
  };
  t.registerObject = [](Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                        const char* description, BaseBitmap* icon, Int32 diskLevel) {
    return NoThrow(false, [&] {
      return RegisterObject(id, name, flags, alloc, description, icon, diskLevel);
    });
  };
  t.registerTag = [](Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                     const char* description, BaseBitmap* icon, Int32 diskLevel) {
    return NoThrow(
        false, [&] { return RegisterTag(id, name, flags, alloc, description, icon, diskLevel); });
  };
  t.descriptionLoad = [](Description* desc, Int32 type) {
    return NoThrow(false, [&] { return DescriptionLoad(desc, type); });
  };
}

Int64 LiveResourceSets() {
  return g_liveResources.load();
}

}  // namespace headless
