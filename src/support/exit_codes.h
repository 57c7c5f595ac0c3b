// The process exit codes a host sees; both roles use them.
#pragma once

#include <cstdint>

namespace quibshare {

inline constexpr std::uint32_t ExitSuccess = 0;
// Any other failure, every time-out included.
inline constexpr std::uint32_t ExitFailure = 1;
// The command line or the input path was rejected, or the handoff event could not be opened.
inline constexpr std::uint32_t ExitInputRejected = 2;
inline constexpr std::uint32_t ExitShareUnavailable = 3;

}  // namespace quibshare
