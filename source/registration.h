// The registration records of the plug-in's three parts and the procedure that registers them.
#pragma once

#include "host/abi/ids.h"
#include "host/abi/table.h"

enum class PartKind { kCommand, kObject, kTag };

struct RegistrationRecord {
  PartKind kind;
  Int32 pluginId;
  Int32 nameString;  // resource string id of the name
  Int32 helpString;  // resource string id of the help text (commands), 0 for none
  Int32 flags;
  const char* description;  // parameter description resource, "" for none
  const char* iconFile;     // file name in res/icons
  DataAllocator allocate;   // objects and tags: an AllocateThroughBarrier
  Int32 diskLevel;
};

const RegistrationRecord& SetupCommandRecord();
const RegistrationRecord& DeformerRecord();
const RegistrationRecord& BindTagRecord();

// Registers one part with the host, using the resources loaded at message 1 (`res` may be null).
Bool RegisterPart(const RegistrationRecord& record, const Resource* res);
