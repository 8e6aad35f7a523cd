#include "headless/deformers/installation.h"

#include <mutex>

#include "headless/deformers/cache_deformer.h"
#include "headless/deformers/skin.h"

namespace headless {

void InstallNativeDeformers() {
  static std::once_flag once;
  std::call_once(once, [] {
    InstallPointCache();
    InstallSkinDeformer();
  });
}

}  // namespace headless
