// glTF files the tests write, checked by the Khronos glTF validator (in the plain build; see
// tests/CMakeLists.txt) and read back with Assimp, the way another program would load them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "headless/platform/paths.h"
#include "headless/platform/processes.h"
#include "tests/support/program_runner.h"

#if TESSAMIRE_HAVE_ASSIMP
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>
#endif

// Runs tests/characters/validate_gltf.mjs on `path`: a failure lists the validator's issues.
inline void ExpectValidGltf(const std::filesystem::path& path) {
#if TESSAMIRE_GLTF_VALIDATOR
  const std::filesystem::path out = std::filesystem::path(path) += ".validation";
  const std::filesystem::path err = std::filesystem::path(path) += ".validation-errors";
  const int status = headless::platform::RunProgram(
      TESSAMIRE_NODE,
      {std::string(TESSAMIRE_SOURCE_DIR) + "/tests/characters/validate_gltf.mjs",
       headless::platform::Utf8FromPath(path)},
      headless::platform::Utf8FromPath(out), headless::platform::Utf8FromPath(err));
  EXPECT_EQ(status, 0) << ReadText(out) << ReadText(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
#else
  (void)path;  // sanitizer builds leave the validator to the plain build
#endif
}
