// The program's one text channel: a line on standard error. Main thread of either role.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quibshare {

// Every caller passes this limit, counted in UTF-16 code units.
inline constexpr std::size_t DiagnosticLimit = 256;

// The message itself when it fits, otherwise its first `limit` code units (a surrogate pair
// may be split) followed by a notice giving the number of code units left out.
std::wstring TruncateDiagnostic(std::wstring_view message, std::size_t limit);

// Writes the truncated message in the ANSI code page plus CR LF as one WriteFile on the
// standard error handle. An empty message, no handle or a failed write are all silent.
void WriteDiagnostic(std::wstring_view message, std::size_t limit);

}  // namespace quibshare
