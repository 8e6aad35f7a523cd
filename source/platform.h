// The few platform calls of the plug-in.
#pragma once

#include <string>

// The directory that holds this library, without a trailing separator; empty when unknown.
std::string PluginDirectory();
