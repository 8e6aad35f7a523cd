// Importing many meshes costs work in proportion to their number: the names the import compares
// (headless/scene/object_names.h counts them) grow about four times from 200 meshes to 800, where
// a search of the document per new name grew them 64 times.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "headless/characters/character.h"
#include "headless/scene/object_names.h"

namespace {

// A glTF of `meshes` one-triangle meshes all called "part", each drawn by a node of its own.
std::string ManyMeshes(int meshes) {
  std::string json =
      R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":36,"uri":"data:application/)"
      R"(octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],)"
      R"("bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,)"
      R"("componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}],"meshes":[)";
  std::string nodes, roots;
  for (int m = 0; m < meshes; ++m) {
    const std::string comma = m > 0 ? "," : "";
    json += comma + R"({"name":"part","primitives":[{"attributes":{"POSITION":0}}]})";
    nodes += comma + R"({"mesh":)" + std::to_string(m) + "}";
    roots += comma + std::to_string(m);
  }
  return json + R"(],"nodes":[)" + nodes + R"(],"scenes":[{"nodes":[)" + roots +
         R"(]}],"scene":0})";
}

// Names compared importing `meshes` meshes into a document that holds one "part" already.
Int64 NamesComparedImporting(int meshes) {
  auto doc = headless::NewDocument();
  doc->AddPolygonObject("part", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 2}});
  const Int64 before = headless::ObjectNamesCompared();
  const headless::CharacterImport import =
      headless::ImportCharacterBytes(ManyMeshes(meshes), "parts.gltf", *doc);
  EXPECT_EQ(import.meshes.size(), static_cast<size_t>(meshes));
  // Every object keeps a name of its own: "part-2" .. after the one already there.
  EXPECT_EQ(import.meshes.back().object->name, "part-" + std::to_string(meshes + 1));
  return headless::ObjectNamesCompared() - before;
}

TEST(ManyMeshes, NamingCostGrowsLinearlyWithTheMeshes) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const Int64 few = NamesComparedImporting(200);
  const Int64 many = NamesComparedImporting(800);
  ASSERT_GT(few, 0);
  const double ratio = static_cast<double>(many) / static_cast<double>(few);
  std::printf("names compared: 200 meshes %lld, 800 meshes %lld, ratio %.2f\n",
              static_cast<long long>(few), static_cast<long long>(many), ratio);
  EXPECT_LT(ratio, 5.0) << "naming 4 times the meshes took " << ratio << " times the work";
}

TEST(ManyMeshes, NamesAreUniqueAcrossTheDocumentAndTheSkins) {
  headless::ObjectNames names;
  names.taken = {"arm", "arm-2", "skin"};
  EXPECT_EQ(headless::UniqueObjectName(names, "arm", "mesh"), "arm-3");
  EXPECT_EQ(headless::UniqueObjectName(names, "arm", "mesh"), "arm-4");
  EXPECT_EQ(headless::UniqueObjectName(names, "skin", "mesh"), "skin-2");
  EXPECT_EQ(headless::UniqueObjectName(names, "", "mesh"), "mesh");
  EXPECT_EQ(headless::UniqueObjectName(names, "", "mesh"), "mesh-2");
  // A name made from a base earlier ("arm-4") is taken like any other.
  EXPECT_EQ(headless::UniqueObjectName(names, "arm-4", "mesh"), "arm-4-2");
}

}  // namespace
