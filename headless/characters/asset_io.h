// Assimp's way to the file system while a character or a glTF is read: every file Assimp opens
// (the file itself, a glTF's buffers) passes FileInRoot (headless/files/asset_root.h), so a
// reference outside the asset root, or to a fifo or a device, is refused before it is opened, and
// names are never taken from the current folder. Internal to `character` and `gltf_reader`.
#pragma once

#include <assimp/DefaultIOSystem.h>

#include <string>

#include "headless/files/asset_root.h"

namespace headless {

class RootedIOSystem : public Assimp::DefaultIOSystem {
 public:
  explicit RootedIOSystem(AssetRoot root) : root_(std::move(root)) {}

  bool Exists(const char* file) const override;
  Assimp::IOStream* Open(const char* file, const char* mode = "rb") override;

  // The first file refused, with the reason ("NAME lies outside ..."); empty when none was.
  const std::string& Refusal() const { return refusal_; }
  // Serves `bytes` (kept by the caller) in place of the file Assimp opens as `file` (the file
  // read itself, changed before Assimp reads it).
  void Supply(std::string file, const std::string* bytes) {
    suppliedFile_ = std::move(file);
    supplied_ = bytes;
  }

 private:
  AssetRoot root_;
  std::string refusal_;
  std::string suppliedFile_;
  const std::string* supplied_ = nullptr;
};

}  // namespace headless
