// The plug-in's entry and registrations, through the real tessamire.xdl64 loaded by the headless
// host the way the host application loads it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>

#include "headless/entries/framework.h"
#include "headless/entries/host_table.h"
#include "headless/entries/plugin_host.h"
#include "headless/entries/registration_entries.h"
#include "headless/entries/resources.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "host/abi/ids.h"
#include "tests/support/build_paths.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;

std::string BuiltLibrary() {
  return std::string(TESSAMIRE_DEFAULT_PLUGIN_DIR) + "/tessamire.xdl64";
}

class PluginFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    ASSERT_NO_THROW(plugin.Open(BuiltLibrary()));
  }
  void TearDown() override {
    plugin.Close();
    headless::ResetHostState();
  }

  std::map<Int32, std::string> ResourceStrings() const {
    return headless::ParseStringTable(
        headless::ReadFile(std::string(TESSAMIRE_SOURCE_DIR) + "/res/strings/strings.txt"),
        "strings.txt");
  }

  headless::PluginHost plugin;
};

const std::vector<std::string> kBanner = {"---------------", "Tessamire v1.10", "---------------"};

TEST_F(PluginFrameTest, StartUpRegistersTheThreePartsInOrderAndPrintsTheBanner) {
  const auto report = plugin.StartUp();
  EXPECT_EQ(report.systemStart, kAnswerDone);
  EXPECT_EQ(report.resources, kAnswerDone);
  EXPECT_EQ(report.start, kAnswerDone);
  EXPECT_EQ(headless::ConsoleLines(), kBanner);
  EXPECT_TRUE(headless::HostErrors().empty()) << headless::HostErrors().front();

  const auto strings = ResourceStrings();
  const auto registrations = headless::Registrations();
  ASSERT_EQ(registrations.size(), 3u);
  const headless::Registration& command = registrations[0];
  EXPECT_EQ(command.kind, headless::PluginKind::kCommand);
  EXPECT_EQ(command.id, ID_ADDTESSAMIRECMD);
  EXPECT_EQ(command.flags, 0);
  EXPECT_EQ(command.name, strings.at(1004));
  EXPECT_EQ(command.help, strings.at(1005));
  EXPECT_NE(command.command, nullptr);

  const headless::Registration& deformer = registrations[1];
  EXPECT_EQ(deformer.kind, headless::PluginKind::kObject);
  EXPECT_EQ(deformer.id, ID_OTESSAMIRE);
  EXPECT_EQ(deformer.flags, 32769);
  EXPECT_EQ(deformer.name, strings.at(1001));
  EXPECT_EQ(deformer.description, "Otessamiredeformer");
  EXPECT_EQ(deformer.diskLevel, 0);
  EXPECT_NE(deformer.allocate, nullptr);

  const headless::Registration& tag = registrations[2];
  EXPECT_EQ(tag.kind, headless::PluginKind::kTag);
  EXPECT_EQ(tag.id, ID_TTESSAMIRE);
  EXPECT_EQ(tag.flags, 11);
  EXPECT_EQ(tag.name, strings.at(1000));
  EXPECT_EQ(tag.description, "TTessamireres");
  EXPECT_EQ(tag.diskLevel, 0);
  EXPECT_NE(tag.allocate, nullptr);

  for (const auto& r : registrations) {
    EXPECT_GT(r.iconWidth, 0) << r.id;
    EXPECT_GT(r.iconHeight, 0) << r.id;
  }
}

// The description resources declare the parameter ids and types the code relies on.
TEST_F(PluginFrameTest, RegisteredDescriptionsDeclareTheParametersTheCodeReads) {
  ASSERT_EQ(plugin.StartUp().start, kAnswerDone);
  using T = headless::ParameterType;
  const std::map<Int32, T> tagParameters = {
      {1000, T::kButton}, {1001, T::kButton}, {1002, T::kString}, {1003, T::kInt32},
      {1004, T::kInt32},  {1005, T::kBool},   {1006, T::kBool},   {1007, T::kLink},
      {1008, T::kFloat},  {1009, T::kBool}};
  const std::map<Int32, T> deformerParameters = {{1000, T::kInt32}, {1001, T::kInExclude}};
  for (const auto& [type, expected] :
       {std::pair{ID_TTESSAMIRE, tagParameters}, std::pair{ID_OTESSAMIRE, deformerParameters}}) {
    headless::DescriptionData description;
    ASSERT_TRUE(headless::FindDescription(type, description)) << type;
    for (const auto& [id, parameterType] : expected) {
      const headless::ParameterDescription* p = description.Find(id);
      ASSERT_NE(p, nullptr) << "type " << type << " parameter " << id;
      EXPECT_EQ(p->type, parameterType) << "type " << type << " parameter " << id;
    }
  }
  headless::DescriptionData linked;
  ASSERT_TRUE(headless::FindDescription(ID_TTESSAMIRE, linked));
  EXPECT_EQ(linked.Find(1007)->accept, std::optional<Int32>(Tvertexmap));
}

TEST_F(PluginFrameTest, EveryActionAnswersAsTheEntryTableSays) {
  ASSERT_EQ(plugin.StartUp().start, kAnswerDone);
  EXPECT_EQ(plugin.Call(kActionFour), kAnswerFour);
  EXPECT_EQ(plugin.Call(5), kAnswerRefused);
  EXPECT_EQ(plugin.Call(99), kAnswerRefused);
  EXPECT_EQ(plugin.Call(0), kAnswerRefused);
  EXPECT_EQ(plugin.SendMessage(kMessageQuery), kAnswerDone);
  EXPECT_EQ(plugin.SendMessage(2), kAnswerRefused);
  EXPECT_EQ(plugin.SendMessage(kMessageLoadResources), kAnswerDone);
}

// Only loading the resources needs the host: the query is answered before any system start.
TEST_F(PluginFrameTest, QueryIsAnsweredWithoutAHost) {
  EXPECT_EQ(plugin.SendMessage(kMessageQuery), kAnswerDone);
  EXPECT_EQ(plugin.SendMessage(kMessageLoadResources), kAnswerRefused);
  EXPECT_EQ(plugin.Call(kActionFour), kAnswerFour);
  EXPECT_EQ(plugin.Start(), kAnswerStartFailed);
  EXPECT_TRUE(headless::Registrations().empty());
}

// Two system starts and one end leave the library bound with its resources; the second end
// releases them and the binding.
TEST_F(PluginFrameTest, OnlyTheLastEndReleasesResourcesAndBinding) {
  const Int64 resourcesBefore = headless::LiveResourceSets();
  const auto& host = headless::HostTableInstance();
  const auto& framework = headless::FrameworkTableInstance();
  ASSERT_EQ(plugin.SystemStart(&host, &framework), kAnswerDone);
  ASSERT_EQ(plugin.SystemStart(&host, &framework), kAnswerDone);
  ASSERT_EQ(plugin.SendMessage(kMessageLoadResources), kAnswerDone);
  EXPECT_EQ(headless::LiveResourceSets(), resourcesBefore + 1);

  EXPECT_EQ(plugin.End(), kAnswerDone);
  EXPECT_EQ(headless::LiveResourceSets(), resourcesBefore + 1);
  EXPECT_EQ(plugin.SendMessage(kMessageLoadResources), kAnswerDone)
      << "still bound after the first end";
  EXPECT_EQ(headless::LiveResourceSets(), resourcesBefore + 1) << "loaded again, not twice";

  EXPECT_EQ(plugin.End(), kAnswerDone);
  EXPECT_EQ(headless::LiveResourceSets(), resourcesBefore);
  EXPECT_EQ(plugin.SendMessage(kMessageQuery), kAnswerDone) << "answered bound or not";
  EXPECT_EQ(plugin.SendMessage(kMessageLoadResources), kAnswerRefused)
      << "unbound after the last end";
  EXPECT_EQ(headless::LiveResourceSets(), resourcesBefore);
  EXPECT_EQ(plugin.Start(), kAnswerStartFailed);
  EXPECT_TRUE(headless::Registrations().empty());
}

TEST_F(PluginFrameTest, FirstSystemStartRefusesAnOldHostOrAMissingFramework) {
  HostTable old = headless::HostTableInstance();
  old.version = kMinimumInterfaceVersion - 1;
  EXPECT_EQ(plugin.SystemStart(&old, &headless::FrameworkTableInstance()), kAnswerCannotBind);
  EXPECT_EQ(plugin.Start(), kAnswerStartFailed) << "a refused start binds nothing";
  EXPECT_EQ(plugin.SendMessage(kMessageLoadResources), kAnswerRefused);

  EXPECT_EQ(plugin.SystemStart(&headless::HostTableInstance(), nullptr), kAnswerCannotBind);
  EXPECT_EQ(plugin.SendMessage(kMessageLoadResources), kAnswerRefused);

  HostTable oldest = headless::HostTableInstance();
  oldest.version = kMinimumInterfaceVersion;
  EXPECT_EQ(plugin.SystemStart(&oldest, &headless::FrameworkTableInstance()), kAnswerDone);
  EXPECT_EQ(plugin.SendMessage(kMessageLoadResources), kAnswerDone);
  EXPECT_EQ(plugin.End(), kAnswerDone) << "ended while the table it is bound to still exists";
}

TEST_F(PluginFrameTest, RefusedDeformerStopsTheStartAfterTheCommand) {
  headless::RefuseRegistration(ID_OTESSAMIRE);
  const auto report = plugin.StartUp();
  EXPECT_EQ(report.systemStart, kAnswerDone);
  EXPECT_EQ(report.start, kAnswerStartFailed);
  const auto registrations = headless::Registrations();
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_EQ(registrations[0].id, ID_ADDTESSAMIRECMD);
  headless::Registration tag;
  EXPECT_FALSE(headless::FindRegistration(ID_TTESSAMIRE, tag));
  EXPECT_TRUE(headless::ConsoleLines().empty());
}

TEST_F(PluginFrameTest, RefusedCommandRegistersNothing) {
  headless::RefuseRegistration(ID_ADDTESSAMIRECMD);
  EXPECT_EQ(plugin.StartUp().start, kAnswerStartFailed);
  EXPECT_TRUE(headless::Registrations().empty());
  EXPECT_TRUE(headless::ConsoleLines().empty());
}

// The host drops the instances the library made before it unloads, so nodes outlive the code.
TEST_F(PluginFrameTest, NodesOfPluginTypesGetInstancesUntilTheLibraryCloses) {
  ASSERT_EQ(plugin.StartUp().start, kAnswerDone);
  auto doc = headless::NewDocument();
  headless::Node* mesh =
      doc->AddPolygonObject("quad", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
  headless::Node* tag = doc->AddTag(mesh, ID_TTESSAMIRE);
  ASSERT_NE(tag, nullptr);
  EXPECT_NE(tag->instance, nullptr);
  EXPECT_EQ(tag->params.GetInt32(1000999), std::optional<Int32>(1))
      << "the host's enable switch of an expression tag";
  EXPECT_EQ(tag->params.GetInt32(1004), std::optional<Int32>(2)) << "initialised by the plug-in";

  plugin.Close();
  EXPECT_EQ(tag->instance, nullptr);
  doc.reset();
}

// Without res beside the library: message 1 fails, the parts register with empty names and
// icons, and the banner is printed.
TEST(PluginFrameWithoutResources, RegistersWithEmptyNames) {
  headless::ResetHostState();
  const fs::path folder =
      fs::temp_directory_path() / ("tessamire_nores_" + std::to_string(std::random_device{}()));
  fs::create_directories(folder);
  fs::copy_file(BuiltLibrary(), folder / "tessamire.xdl64", fs::copy_options::overwrite_existing);
  {
    headless::PluginHost plugin;
    ASSERT_NO_THROW(plugin.Open((folder / "tessamire.xdl64").string()));
    const auto report = plugin.StartUp();
    EXPECT_EQ(report.systemStart, kAnswerDone);
    EXPECT_EQ(report.resources, kAnswerRefused);
    EXPECT_EQ(report.start, kAnswerDone);
    const auto registrations = headless::Registrations();
    ASSERT_EQ(registrations.size(), 3u);
    for (const auto& r : registrations) {
      EXPECT_EQ(r.name, "") << r.id;
      EXPECT_EQ(r.iconWidth, 0) << r.id;
      EXPECT_EQ(r.iconHeight, 0) << r.id;
    }
    EXPECT_EQ(registrations[0].help, "");
    EXPECT_EQ(headless::ConsoleLines(), kBanner);
    headless::DescriptionData description;
    ASSERT_TRUE(headless::FindDescription(ID_TTESSAMIRE, description));
    EXPECT_TRUE(description.parameters.empty());
    plugin.Close();
  }
  fs::remove_all(folder);
  headless::ResetHostState();
}

TEST(PluginHostLoading, FolderSearchAndBadLibrariesAreReported) {
  std::vector<std::string> found;
  ASSERT_NO_THROW(found = headless::FindPluginLibraries(TESSAMIRE_DEFAULT_PLUGIN_DIR));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(fs::path(found[0]).filename(), "tessamire.xdl64");

  // The parent folder finds it one level down.
  ASSERT_NO_THROW(found = headless::FindPluginLibraries(
                      fs::path(std::string(TESSAMIRE_DEFAULT_PLUGIN_DIR)).parent_path().string()));
  EXPECT_EQ(found.size(), 1u);

  const std::string missing = ThrownMessage<std::runtime_error>(
      [] { headless::FindPluginLibraries("/nonexistent/plugins"); });
  EXPECT_NE(missing.find("/nonexistent/plugins"), std::string::npos) << missing;

  const fs::path bogus = fs::temp_directory_path() /
                         ("tessamire_bogus_" + std::to_string(std::random_device{}()) + ".xdl64");
  { std::ofstream(bogus) << "not a library"; }
  headless::PluginHost plugin;
  const std::string refused =
      ThrownMessage<std::runtime_error>([&] { plugin.Open(bogus.string()); });
  EXPECT_NE(refused, "");
  EXPECT_FALSE(plugin.IsOpen());
  EXPECT_EQ(plugin.Call(kActionFour), kAnswerRefused) << "no entry to call";
  fs::remove(bogus);
}

}  // namespace
