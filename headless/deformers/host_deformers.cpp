#include "headless/deformers/host_deformers.h"

#include <mutex>

#include "headless/deformers/point_cache.h"
#include "headless/deformers/skin.h"

namespace headless {

void InstallHostDeformers() {
  static std::once_flag once;
  std::call_once(once, [] {
    InstallPointCache();
    InstallSkinDeformer();
  });
}

}  // namespace headless
