// Built only with Assimp.
#if TESSAMIRE_HAVE_ASSIMP
#include "headless/characters/asset_io.h"

#include <cstring>

#include <assimp/MemoryIOWrapper.h>

namespace headless {

bool RootedIOSystem::Exists(const char* file) const {
  std::string why;
  return FileInRoot(root_, file, why).has_value();
}

Assimp::IOStream* RootedIOSystem::Open(const char* file, const char* mode) {
  if (supplied_ != nullptr && suppliedFile_ == file && std::strchr(mode, 'w') == nullptr)
    return new Assimp::MemoryIOStream(reinterpret_cast<const std::uint8_t*>(supplied_->data()),
                                      supplied_->size());
  std::string why;
  std::optional<std::string> found;
  // Reading is all a reader may do.
  if (std::strchr(mode, 'w') != nullptr || std::strchr(mode, 'a') != nullptr ||
      std::strchr(mode, '+') != nullptr)
    why = "would be written to";
  else
    found = FileInRoot(root_, file, why);
  if (!found) {
    // Named as the referring file names it, where Assimp put its folder before it.
    std::string name = file;
    if (!root_.base.empty() && name.size() > root_.base.size() + 1 &&
        name.compare(0, root_.base.size(), root_.base) == 0 &&
        (name[root_.base.size()] == '/' || name[root_.base.size()] == '\\'))
      name.erase(0, root_.base.size() + 1);
    if (refusal_.empty()) refusal_ = "the file it names, " + name + ", " + why;
    return nullptr;
  }
  return DefaultIOSystem::Open(found->c_str(), mode);
}

}  // namespace headless

#endif
