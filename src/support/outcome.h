// How a share ended, and the one line of UTF-8 JSON a waiting host reads on standard output.
// Main thread of the broker; the type travels from the worker's share to the broker.
#pragma once

#include <string>
#include <string_view>

namespace quibshare {

// Completed and Canceled are the sheet's own words; Ended means it went away without saying
// how ("Copy link" does), or the share outlived its bound.
enum class ShareEnd { Completed, Canceled, Ended };

struct ShareOutcome {
  ShareEnd end = ShareEnd::Ended;
  std::wstring target;  // the receiving app's AppUserModelId; empty when the sheet gave none
  std::wstring app;     // the chosen application's name; empty when the sheet gave none
  bool operator==(const ShareOutcome&) const = default;
};

// {"outcome":"completed","target":"…","app":"…"} followed by CR LF, in UTF-8: keys in that order,
// no spaces, an empty value left out with its key; `"` and `\` escaped with a backslash and
// U+0000 to U+001F as \u00xx; a lone surrogate written as U+FFFD.
std::string FormatOutcomeLine(const ShareOutcome& outcome);

// One WriteFile of `bytes` on the standard output handle; silent when there is none.
void WriteStandardOutput(std::string_view bytes);

}  // namespace quibshare
