// What the check found, and its two forms: a Markdown report for people and a JSON file for
// tools, made from the same rows so that they cannot disagree. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quibshare::check {

enum class Verdict { Passed, Failed, NotRun };

// "passed", "failed", "not run".
const char* VerdictText(Verdict verdict);

// One fact about the system the check ran on. Texts are UTF-8.
struct Fact {
  std::string key;    // camelCase, the JSON name
  std::string label;  // for people
  std::string value;
};

// One share and how it went. Texts are UTF-8, without line ends.
struct ScenarioRow {
  std::string scenario;
  std::string expected;                // what would pass, in words
  std::optional<std::uint32_t> exitCode;  // none: QuibShare did not start or was stopped
  std::string outcomeLine;             // standard output
  std::string standardError;
  std::optional<std::uint64_t> toSheetMs;  // from the start to the sheet taking the foreground
  std::optional<std::uint64_t> toEndMs;    // from the start to QuibShare's end
  std::string sheet;                   // the window that took the foreground, when one did
  Verdict verdict = Verdict::Failed;
  std::string note;                    // why it failed or did not run, or what was chosen
};

struct CheckReport {
  std::string version;  // the check's own
  std::vector<Fact> environment;
  std::vector<ScenarioRow> rows;
};

// "N passed, M failed": the report's last line (no line end).
std::string SummaryLine(const std::vector<ScenarioRow>& rows);

// The whole report for standard output: the facts and the rows as Markdown tables, then the
// summary as the last line.
std::string FormatMarkdown(const CheckReport& report);

// The same as one JSON object: "version", "environment" (key: value), "scenarios" (one object
// per row, a missing number as null), "passed", "failed", "notRun".
std::string FormatJson(const CheckReport& report);

// The characters of a JSON string's content: `"`, `\` and control characters escaped.
std::string JsonEscape(const std::string& text);

}  // namespace quibshare::check
