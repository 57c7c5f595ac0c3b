// Verdicts on one QuibShare run. Pure functions.
#include "check/verdict.h"

#include "support/exit_codes.h"

namespace quibshare::check {

namespace {

std::string Seconds(std::uint32_t milliseconds) { return std::to_string((milliseconds + 500) / 1000) + " s"; }

}  // namespace

Judgement Judge(const Expectation& expected, const RunResult& result) {
  if (!result.started) {
    return {Verdict::Failed, "QuibShare.exe could not be started (error " + std::to_string(result.startError) + ")"};
  }
  if (result.sheetStayed) {
    return {Verdict::Failed, "the share did not end within " + Seconds(result.waitedMs) +
                                 (result.escaped ? " of Escape" : " of the sheet opening")};
  }
  if (result.sheetNeverCame) {
    return {Verdict::Failed, "no share sheet took the foreground within " + Seconds(result.waitedMs)};
  }
  if (!result.exitCode) return {Verdict::Failed, "QuibShare did not end"};
  if (*result.exitCode == ExitShareUnavailable && expected.exitCode != ExitShareUnavailable) {
    return {Verdict::NotRun, "sharing is not available on this system (exit code 3)"};
  }
  if (*result.exitCode != expected.exitCode) {
    return {Verdict::Failed, "expected " + expected.description};
  }
  if (expected.exitCode != ExitSuccess) {
    if (result.standardError != expected.standardError) return {Verdict::Failed, "expected " + expected.description};
    return {Verdict::Passed, ""};
  }
  // An end without a sheet in the foreground was not ours: Escape was never sent.
  if (!result.sheetSeen) return {Verdict::Failed, "the share ended, but no share sheet took the foreground"};
  if (expected.outcomeLine.empty()) {
    if (result.outcomeLine.rfind("{\"outcome\":", 0) != 0) return {Verdict::Failed, "expected an outcome line"};
    return {Verdict::Passed, "chose: " + result.outcomeLine};
  }
  if (result.outcomeLine != expected.outcomeLine) return {Verdict::Failed, "expected " + expected.description};
  return {Verdict::Passed, ""};
}

}  // namespace quibshare::check
