#include "source/registration.h"

#include <new>
#include <string>

#include "host/binding/nodes.h"
#include "host/binding/services.h"
#include "source/CaddTessamire/addtessamirecmd.h"
#include "source/TTessamire/ttessamire.h"
#include "source/otessamire/otessamire.h"
#include "source/platform.h"

const RegistrationRecord& SetupCommandRecord() {
  static const RegistrationRecord record{
      PartKind::kCommand, ID_ADDTESSAMIRECMD, 1004, 1005, 0, "", "addtessamirecmd.tif", nullptr, 0};
  return record;
}

const RegistrationRecord& DeformerRecord() {
  static const RegistrationRecord record{PartKind::kObject,
                                         ID_OTESSAMIRE,
                                         1001,
                                         0,
                                         0x8001,
                                         "Otessamiredeformer",
                                         "tessamire_02.tif",
                                         AllocateThroughBarrier<OTessamire>,
                                         0};
  return record;
}

const RegistrationRecord& BindTagRecord() {
  static const RegistrationRecord record{PartKind::kTag,
                                         ID_TTESSAMIRE,
                                         1000,
                                         0,
                                         TAG_VISIBLE | TAG_MULTIPLE | TAG_EXPRESSION,
                                         "TTessamireres",
                                         "tshowtbn.tif",
                                         AllocateThroughBarrier<TTessamire>,
                                         0};
  return record;
}

Bool RegisterPart(const RegistrationRecord& record, const Resource* res) {
  const std::string iconPath = PluginDirectory() + "/res/icons/" + record.iconFile;
  BaseBitmap* icon = BaseBitmap::Alloc();
  if (icon != nullptr) icon->Load(iconPath.c_str(), -1);  // a missing icon leaves it empty

  const std::string name = LoadResourceString(res, record.nameString);
  Bool registered = false;
  if (record.kind == PartKind::kCommand) {
    const std::string help = LoadResourceString(res, record.helpString);
    CommandData* instance = NewThroughBarrier<ADDTESSAMIRECMD>();
    registered = Host().registerCommand(record.pluginId, name.c_str(), record.flags, icon,
                                        help.c_str(), instance);
  } else if (record.description[0] == '\0' ||
             Host().registerDescription(record.pluginId, record.description, res)) {
    const auto registerNode =
        record.kind == PartKind::kObject ? Host().registerObject : Host().registerTag;
    registered = registerNode(record.pluginId, name.c_str(), record.flags, record.allocate,
                              record.description, icon, record.diskLevel);
  }
  BaseBitmap::Free(icon);
  return registered;
}
