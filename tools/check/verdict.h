// What one run of QuibShare showed, what a scenario expects of it, and the verdict that follows.
// Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "check/report.h"

namespace quibshare::check {

// Either a share that ends with an outcome line, or a refusal with an exit code and its text.
struct Expectation {
  std::uint32_t exitCode = 0;
  std::string outcomeLine;    // with exit code 0: the line, without CR LF; empty: any outcome
  std::string standardError;  // otherwise: the text, without CR LF
  std::string description;    // the same in words, for the report
};

// What the check saw of one QuibShare process and the sheet it opened.
struct RunResult {
  bool started = false;
  std::uint32_t startError = 0;        // GetLastError of the failed start
  std::optional<std::uint32_t> exitCode;  // none when the check had to stop it
  std::string outcomeLine;             // standard output without its line end, UTF-8
  std::string standardError;           // without its line end, UTF-8
  bool sheetSeen = false;              // a sheet took the foreground
  bool sheetNeverCame = false;         // stopped: no sheet took the foreground in time
  bool sheetStayed = false;            // stopped: the share did not end after Escape, or a person
  bool escaped = false;                // the check pressed Escape in the sheet
  std::uint32_t waitedMs = 0;          // the limit that ran out before the check stopped it
};

struct Judgement {
  Verdict verdict = Verdict::Failed;
  std::string note;
};

// A scenario passes when QuibShare did what it expects, and a share that should end was ended
// through a sheet that took the foreground. Exit code 3 (sharing not available) is not run.
Judgement Judge(const Expectation& expected, const RunResult& result);

}  // namespace quibshare::check
