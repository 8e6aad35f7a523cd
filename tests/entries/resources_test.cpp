// The plug-in resources the headless host reads: string tables and description resources, and
// what the host table answers for them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/entries/bitmap.h"
#include "headless/entries/entries_state.h"
#include "headless/entries/host_table.h"
#include "headless/entries/resources.h"
#include "headless/platform/paths.h"
#include "headless/scene/registry.h"
#include "tests/support/temp_folder.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;
using headless::DescriptionData;
using headless::ParameterType;
using headless::platform::Utf8FromPath;

TEST(StringTable, ParsesEscapesCommentsAndBlankLines) {
  std::map<Int32, std::string> strings;
  ASSERT_NO_THROW(
      strings = headless::ParseStringTable(
          "# names\n\n1000 \"Bind\"\r\n  1001   \"say \\\"hi\\\" \\\\ ok\"  \n1002 \"\"\n",
          "strings.txt"));
  EXPECT_EQ(strings.size(), 3u);
  EXPECT_EQ(strings[1000], "Bind");
  EXPECT_EQ(strings[1001], "say \"hi\" \\ ok");
  EXPECT_EQ(strings[1002], "");
}

TEST(StringTable, MalformedLinesNameFileAndLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"1000 \"a\"\nx1 \"b\"\n", "strings.txt:2: "},
      {"# c\n1000 \"open\n", "strings.txt:2: "},
      {"1000 \"a\" trailing\n", "strings.txt:1: "},
      {"1000 \"bad \\n escape\"\n", "strings.txt:1: "},
      {"1000 \"a\"\n\n1000 \"b\"\n", "strings.txt:3: "},
      {"1000 unquoted\n", "strings.txt:1: "},
  };
  for (const auto& [text, where] : cases) {
    const std::string error = ThrownMessage<std::invalid_argument>(
        [text = text] { headless::ParseStringTable(text, "strings.txt"); });
    EXPECT_EQ(error.rfind(where, 0), 0u) << text << ": " << error;
  }
}

TEST(DescriptionResource, ParsesEveryTypeAndKey) {
  DescriptionData d;
  ASSERT_NO_THROW(
      d = headless::ParseDescription(
          "# the tag\nDESCRIPTION TTest\n"
          "1000 button TTEST_BIND \"Bind\"\n"
          "1002 string TTEST_INFO \"Status\"\n"
          "1003 int32 TTEST_WEIGHTING \"Weighting\" default=1 cycle=0:Uniform|1:\"Edge length\"\n"
          "1004 int32 TTEST_ITERATIONS \"Passes\" min=0 max=100 step=1 default=2\n"
          "1005 bool TTEST_PIN \"Pin \\\"border\\\"\" default=0\n"
          "1007 link TTEST_MAP \"Map\" accept=5682\n"
          "1008 float TTEST_STRENGTH \"Strength\" min=-0.5 max=1e3\n"
          "1001 inexclude TTEST_LIST \"Objects\"\n",
          "TTest.res"));
  EXPECT_EQ(d.name, "TTest");
  ASSERT_EQ(d.parameters.size(), 8u);
  EXPECT_EQ(d.parameters[0].type, ParameterType::kButton);
  EXPECT_EQ(d.parameters[0].ident, "TTEST_BIND");
  const auto* weighting = d.Find(1003);
  ASSERT_EQ(weighting->cycle.size(), 2u);
  EXPECT_EQ(weighting->cycle[1].value, 1);
  EXPECT_EQ(weighting->cycle[1].label, "Edge length");
  EXPECT_EQ(weighting->defaultValue, std::optional<std::string>("1"));
  const auto* passes = d.Find(1004);
  EXPECT_EQ(passes->min, std::optional<Float>(0.0));
  EXPECT_EQ(passes->max, std::optional<Float>(100.0));
  EXPECT_EQ(passes->step, std::optional<Float>(1.0));
  EXPECT_EQ(d.Find(1005)->label, "Pin \"border\"");
  EXPECT_EQ(d.Find(1007)->accept, std::optional<Int32>(5682));
  EXPECT_EQ(d.Find(1008)->min, std::optional<Float>(-0.5));
  EXPECT_EQ(d.Find(1008)->max, std::optional<Float>(1000.0));
  EXPECT_EQ(d.Find(1001)->type, ParameterType::kInExclude);
  EXPECT_EQ(d.Find(999), nullptr);
}

TEST(DescriptionResource, FaultsNameFileAndLine) {
  const std::string header = "DESCRIPTION D\n";
  const std::pair<std::string, std::string> cases[] = {
      {header + "# c\n1000 vector D_X \"X\"\n", "D.res:3: unknown parameter type \"vector\""},
      {header + "1000 int32 D_X \"X\" colour=red\n", "D.res:2: unknown key \"colour\""},
      {header + "1000 int32 D_X \"X\" min=abc\n", "D.res:2: "},
      {header + "1000 bool D_X \"X\" min=0\n", "D.res:2: "},
      {header + "1000 int32 D_X \"X\" accept=5682\n", "D.res:2: "},
      {header + "1000 float D_X \"X\" cycle=0:a\n", "D.res:2: "},
      {header + "1000 int32 D_X \"X\" cycle=0:a|b\n", "D.res:2: "},
      {header + "1000 int32 D_X X\n", "D.res:2: "},
      {header + "1000 int32 9X \"X\"\n", "D.res:2: "},
      {header + "id int32 D_X \"X\"\n", "D.res:2: "},
      {header + "1000 int32 D_X \"X\"\n1000 float D_Y \"Y\"\n", "D.res:3: "},
      {"1000 int32 D_X \"X\"\n", "D.res:1: "},
      {"# only comments\n", "D.res: "},
  };
  for (const auto& [text, expected] : cases) {
    const std::string error = ThrownMessage<std::invalid_argument>(
        [&text = text] { headless::ParseDescription(text, "D.res"); });
    EXPECT_EQ(error.rfind(expected, 0), 0u) << "error: " << error << "\nfor:\n" << text;
  }
}

// resourceLoad, registerDescription and descriptionLoad as a plug-in calls them.
TEST(ResourceEntries, LoadFromAResFolderAndFailClearly) {
  const HostTable& host = headless::HostTableInstance();
  TempFolder res;
  EXPECT_EQ(host.resourceLoad(Utf8FromPath(res.path).c_str()), nullptr) << "no strings.txt";
  res.Write("strings/strings.txt", "1000 \"Tag name\"\n");
  res.Write("description/DGood.res", "DESCRIPTION DGood\n1004 int32 D_PASSES \"Passes\"\n");
  res.Write("description/DBad.res", "DESCRIPTION DBad\n\n1004 matrix D_M \"M\"\n");
  res.Write("description/DOther.res", "DESCRIPTION Elsewhere\n");
  Resource* loaded = host.resourceLoad(Utf8FromPath(res.path).c_str());
  ASSERT_NE(loaded, nullptr);
  char text[64];
  EXPECT_EQ(host.resourceString(loaded, 1000, text, sizeof text), 8);
  EXPECT_STREQ(text, "Tag name");
  EXPECT_EQ(host.resourceString(loaded, 1001, text, sizeof text), 0);

  headless::ResetHostState();
  EXPECT_TRUE(host.registerDescription(424201, "DGood", loaded));
  EXPECT_FALSE(host.registerDescription(424202, "DBad", loaded));
  EXPECT_FALSE(host.registerDescription(424203, "DMissing", loaded));
  EXPECT_FALSE(host.registerDescription(424204, "DOther", loaded));
  const auto errors = headless::HostErrors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_NE(errors[0].find("DBad.res:3: unknown parameter type \"matrix\""), std::string::npos)
      << errors[0];
  EXPECT_NE(errors[1].find("DMissing.res"), std::string::npos) << errors[1];
  EXPECT_NE(errors[2].find("Elsewhere"), std::string::npos) << errors[2];

  DescriptionData out;
  EXPECT_TRUE(host.descriptionLoad(reinterpret_cast<Description*>(&out), 424201));
  ASSERT_EQ(out.parameters.size(), 1u);
  EXPECT_EQ(out.parameters[0].ident, "D_PASSES");
  EXPECT_FALSE(host.descriptionLoad(reinterpret_cast<Description*>(&out), 424202))
      << "none registered";

  // Without resources the description comes up empty.
  EXPECT_TRUE(host.registerDescription(424205, "DGood", nullptr));
  EXPECT_TRUE(host.descriptionLoad(reinterpret_cast<Description*>(&out), 424205));
  EXPECT_TRUE(out.parameters.empty());
  host.resourceFree(loaded);
  headless::ResetHostState();
}

}  // namespace
