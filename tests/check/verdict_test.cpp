// The check's verdicts on what QuibShare did, and the escaping its two report forms rely on.
// In-process, no share sheet.
#include "check/verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/report.h"
#include "check/scenarios.h"

namespace quibshare::check {
namespace {

const std::string Canceled = "{\"outcome\":\"canceled\"}";

RunResult Ended(std::uint32_t exitCode, std::string outcomeLine = "", std::string standardError = "") {
  RunResult result;
  result.started = true;
  result.sheetSeen = exitCode == 0;
  result.exitCode = exitCode;
  result.outcomeLine = std::move(outcomeLine);
  result.standardError = std::move(standardError);
  return result;
}

TEST(CheckVerdict, PassesOnlyWhatTheScenarioExpectsAndNeverCountsUnavailableSharingAsAPass) {
  const Expectation canceled{0, Canceled, "", "exit code 0 and " + Canceled};
  const Expectation anyOutcome{0, "", "", "exit code 0 and an outcome line"};
  const Expectation refusedLongPath{2, "", MissingFileText, "exit code 2 and the missing-file text"};
  RunResult notStarted;
  notStarted.startError = ERROR_FILE_NOT_FOUND;
  RunResult noSheet;
  noSheet.started = true;
  noSheet.sheetNeverCame = true;
  noSheet.waitedMs = 40000;
  RunResult deaf = noSheet;
  deaf.sheetNeverCame = false;
  deaf.sheetStayed = true;
  deaf.escaped = true;
  deaf.waitedMs = 10010;
  RunResult leftOpen = deaf;
  leftOpen.escaped = false;
  leftOpen.waitedMs = 660000;
  RunResult endedUnseen = Ended(0, Canceled);
  endedUnseen.sheetSeen = false;
  struct Case {
    const char* name;
    Expectation expected;
    RunResult result;
    Verdict verdict;
    std::string note;
  };
  const std::vector<Case> cases = {
      {"canceled through the sheet", canceled, Ended(0, Canceled), Verdict::Passed, ""},
      {"completed where a cancel was due", canceled, Ended(0, "{\"outcome\":\"completed\"}"), Verdict::Failed,
       "expected exit code 0 and " + Canceled},
      {"a person's choice, whatever it was", anyOutcome, Ended(0, "{\"outcome\":\"completed\",\"app\":\"Mail\"}"),
       Verdict::Passed, "chose: {\"outcome\":\"completed\",\"app\":\"Mail\"}"},
      {"a person's share without an outcome line", anyOutcome, Ended(0), Verdict::Failed, "expected an outcome line"},
      {"ended with no sheet in front", canceled, endedUnseen, Verdict::Failed,
       "the share ended, but no share sheet took the foreground"},
      {"sharing not available", canceled, Ended(3, "", "Sharing is not available"), Verdict::NotRun,
       "sharing is not available on this system (exit code 3)"},
      {"failed", canceled, Ended(1, "", "Sharing did not open"), Verdict::Failed,
       "expected exit code 0 and " + Canceled},
      {"the long path refused where long paths are off", refusedLongPath, Ended(2, "", MissingFileText),
       Verdict::Passed, ""},
      {"the long path refused with another text", refusedLongPath,
       Ended(2, "", "Sharing could not start: input path cannot be normalized"), Verdict::Failed,
       "expected exit code 2 and the missing-file text"},
      {"the long path shared where long paths are off", refusedLongPath, Ended(0, Canceled), Verdict::Failed,
       "expected exit code 2 and the missing-file text"},
      {"not started", canceled, notStarted, Verdict::Failed, "QuibShare.exe could not be started (error 2)"},
      {"no sheet in time", canceled, noSheet, Verdict::Failed, "no share sheet took the foreground within 40 s"},
      {"deaf to Escape", canceled, deaf, Verdict::Failed, "the share did not end within 10 s of Escape"},
      {"left open by a person", anyOutcome, leftOpen, Verdict::Failed,
       "the share did not end within 660 s of the sheet opening"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Judgement judgement = Judge(c.expected, c.result);
    EXPECT_EQ(VerdictText(judgement.verdict), std::string(VerdictText(c.verdict)));
    EXPECT_EQ(judgement.note, c.note);
  }
}

TEST(CheckReport, CellsAndStringsKeepTheirCharactersAndNotRunIsNoPass) {
  ScenarioRow row;
  row.scenario = "a | b";
  row.standardError = "line one\r\nline \"two\" \\ \x01";
  row.verdict = Verdict::NotRun;
  ScenarioRow passed;
  passed.scenario = "passed";
  passed.verdict = Verdict::Passed;
  const CheckReport report{"1.2.3", {{"key", "Label", "x|y"}}, {row, passed}};

  const std::string markdown = FormatMarkdown(report);
  EXPECT_NE(markdown.find("| Label | x\\|y |\n"), std::string::npos) << markdown;
  EXPECT_NE(markdown.find("| a \\| b |  |  | `` line one  line \"two\" \\ \x01 `` |  |  | not run |  |\n"),
            std::string::npos)
      << markdown;
  EXPECT_EQ(markdown.substr(markdown.size() - 30), "\n1 not run\n1 passed, 0 failed\n");

  const std::string json = FormatJson(report);
  EXPECT_NE(json.find("\"standardError\": \"line one\\u000d\\u000aline \\\"two\\\" \\\\ \\u0001\""), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"exitCode\": null"), std::string::npos);
  EXPECT_NE(json.find("\"passed\": 1,\n  \"failed\": 0,\n  \"notRun\": 1\n}"), std::string::npos) << json;
}

}  // namespace
}  // namespace quibshare::check
