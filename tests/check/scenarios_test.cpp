// The check's scenarios and their files: what each asks of QuibShare, the long path, and a
// folder that leaves nothing behind. In-process.
#include "check/scenarios.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quibshare::check {
namespace {

bool Exists(const std::wstring& path) {
  return GetFileAttributesW((L"\\\\?\\" + path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(CheckScenarios, WaitForEachShareAndRefuseTheLongPathOnlyWhereLongPathsAreOff) {
  std::wstring folder;
  std::wstring longPath;
  for (const bool longPathsOn : {true, false}) {
    SCOPED_TRACE(longPathsOn ? "long paths on" : "long paths off");
    ScenarioFiles files;
    ASSERT_TRUE(files.Ready());
    folder = files.Folder();
    const std::vector<Scenario> scenarios = BuildScenarios(files, RECT{-1920, 8, -1280, 488}, longPathsOn, false);
    ASSERT_TRUE(files.Ready());
    ASSERT_EQ(scenarios.size(), 6u);
    std::vector<std::wstring> inputs;
    for (const Scenario& scenario : scenarios) {
      EXPECT_EQ(scenario.arguments.back(), L"--wait") << scenario.name;
      for (std::size_t i = 0; i + 1 < scenario.arguments.size(); ++i) {
        if (scenario.arguments[i] == L"--input") inputs.push_back(scenario.arguments[i + 1]);
      }
    }
    for (const std::wstring& input : inputs) EXPECT_TRUE(Exists(input)) << input.size();
    ASSERT_EQ(inputs.size(), 6u);
    longPath = inputs[4];
    // Past MAX_PATH, without the \\?\ prefix that would let any Windows open it.
    EXPECT_GT(longPath.size(), 260u);
    EXPECT_EQ(longPath.rfind(folder, 0), 0u);
    EXPECT_EQ(scenarios[5].arguments, (std::vector<std::wstring>{L"--input", inputs[5], L"--anchor",
                                                                 L"-1920,8,640,480", L"--wait"}));
    EXPECT_EQ(scenarios[3].arguments[0], L"--url");
    EXPECT_EQ(scenarios[4].arguments[0], L"--text");
    const Expectation& expected = scenarios[2].expected;
    EXPECT_EQ(expected.exitCode, longPathsOn ? 0u : 2u);
    EXPECT_EQ(expected.outcomeLine, longPathsOn ? "{\"outcome\":\"canceled\"}" : "");
    EXPECT_EQ(expected.standardError, longPathsOn ? "" : MissingFileText);
    EXPECT_EQ(scenarios[0].expected.outcomeLine, "{\"outcome\":\"canceled\"}");
  }
  EXPECT_FALSE(Exists(longPath));
  EXPECT_FALSE(Exists(folder));
}

TEST(CheckScenarios, LeaveTheOutcomeToAPerson) {
  ScenarioFiles files;
  for (const Scenario& scenario : BuildScenarios(files, RECT{0, 0, 1, 1}, true, true)) {
    EXPECT_EQ(scenario.expected.exitCode, 0u) << scenario.name;
    EXPECT_EQ(scenario.expected.outcomeLine, "") << scenario.name;
  }
}

}  // namespace
}  // namespace quibshare::check
