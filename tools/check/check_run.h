// The whole check: the environment report, the scenarios one at a time, and the report on
// standard output and, when asked, in a JSON file. Main thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quibshare::check {

// The check's exit codes.
inline constexpr int CheckPassed = 0;
inline constexpr int CheckFailed = 1;           // a scenario failed, or the report could not be written
inline constexpr int CheckUsage = 2;            // the command line was not understood
inline constexpr int CheckIncomplete = 3;       // nothing failed, but some scenarios could not run here

struct CheckOptions {
  bool interactive = false;
  std::wstring reportPath;  // empty: no JSON file
  bool help = false;
};

// Nothing when the arguments (program path first) are not understood.
std::optional<CheckOptions> ParseCheckOptions(const std::vector<std::wstring>& arguments);

// Runs everything and returns the process exit code.
int RunCheck(const CheckOptions& options);

// The process: the arguments (program path first) parsed, the usage or the check run.
int CheckMain(const std::vector<std::wstring>& arguments);

}  // namespace quibshare::check
