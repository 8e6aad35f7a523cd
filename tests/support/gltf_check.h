// glTF files the tests write, checked by the Khronos glTF validator (in the plain build; see
// tests/CMakeLists.txt) and read back with Assimp, the way another program would load them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "headless/platform/paths.h"
#include "headless/platform/processes.h"
#include "tests/support/build_paths.h"
#include "tests/support/program_runner.h"

// Runs tests/characters/validate_gltf.mjs on `path`: a failure lists the validator's issues;
// with `allowed`, so does any warning whose code it does not name.
inline void ExpectGltfReport(const std::filesystem::path& path,
                             const std::vector<std::string>* allowed) {
#if TESSAMIRE_GLTF_VALIDATOR
  const std::filesystem::path out = std::filesystem::path(path) += ".validation";
  const std::filesystem::path err = std::filesystem::path(path) += ".validation-errors";
  const int status = headless::platform::RunProgram(
      TESSAMIRE_NODE,
      {std::string(TESSAMIRE_SOURCE_DIR) + "/tests/characters/validate_gltf.mjs",
       headless::platform::Utf8FromPath(path)},
      headless::platform::Utf8FromPath(out), headless::platform::Utf8FromPath(err));
  const std::string report = ReadText(out);
  EXPECT_EQ(status, 0) << report << ReadText(err);
  std::istringstream lines(report);
  for (std::string line; allowed != nullptr && std::getline(lines, line);) {
    const size_t at = line.find(": warning ");
    if (at == std::string::npos) continue;
    const std::string code = line.substr(at + 10, line.find(' ', at + 10) - at - 10);
    EXPECT_NE(std::find(allowed->begin(), allowed->end(), code), allowed->end()) << line;
  }
  std::filesystem::remove(out);
  std::filesystem::remove(err);
#else
  (void)path;  // sanitizer builds leave the validator to the plain build
  (void)allowed;
#endif
}

// Valid, warnings or not.
inline void ExpectValidGltf(const std::filesystem::path& path) {
  ExpectGltfReport(path, nullptr);
}

// Valid, and no warning but those whose code `allowed` names.
inline void ExpectCleanGltf(const std::filesystem::path& path,
                            const std::vector<std::string>& allowed) {
  ExpectGltfReport(path, &allowed);
}

#if TESSAMIRE_HAVE_ASSIMP
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>
#endif
