// The tests evaluate documents with the host's own deformers (skin, point cache), with or without
// a plug-in loaded, as every program that evaluates does.
#include "headless/deformers/installation.h"

namespace {

const bool kHostDeformersInstalled = (headless::InstallNativeDeformers(), true);

}  // namespace
