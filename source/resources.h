// The plug-in's resources, loaded by the host at message 1; null before that or when they could
// not be loaded, in which case every resource string reads empty.
#pragma once

#include "host/abi/table.h"

const Resource* PluginResources();
