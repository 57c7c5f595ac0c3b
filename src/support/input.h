// Checks that a command line names exactly one existing file. Main thread of either role.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quibshare {

// The command line as CommandLineToArgvW splits it; entry 0 is the program path.
using ArgumentList = std::vector<std::wstring>;

struct ValidatedInput {
  bool valid = false;
  std::wstring path;  // fully qualified; empty unless valid
};

// Accepts exactly {program, "--input", path} where path names an existing non-directory.
// On failure *failureText (when given) becomes "Sharing could not start: " and the reason.
ValidatedInput ValidateInput(const ArgumentList& arguments, std::wstring* failureText);

// The failure text, or nothing when the input is valid.
std::optional<std::wstring> CheckInput(const ArgumentList& arguments);

// GetFullPathNameW of the path with "/" read as "\", with no length limit of our own.
std::optional<std::wstring> NormalizeInputPath(const std::wstring& path);

}  // namespace quibshare
