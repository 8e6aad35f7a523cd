// The real tessamire.xdl64 loaded and started the way the host starts it, with one empty
// document; the host state is reset before and after every test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "headless/deformers/falloff.h"
#include "headless/entries/entries_state.h"
#include "headless/entries/framework.h"
#include "headless/entries/plugin_host.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "headless/scene/selection.h"
#include "tests/support/build_paths.h"

class LoadedPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    ASSERT_NO_THROW(plugin.Open(std::string(TESSAMIRE_DEFAULT_PLUGIN_DIR) + "/tessamire.xdl64"));
    ASSERT_EQ(plugin.StartUp().start, 1);
    doc = headless::NewDocument();
  }
  void TearDown() override {
    doc.reset();
    plugin.Close();
    headless::ResetHostState();
  }

  headless::PluginHost plugin;
  std::unique_ptr<headless::Document> doc;
};
