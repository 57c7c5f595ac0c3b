// Process entry helpers: split the command line, pick the role, run the worker's start-up.
// Main thread.
#pragma once

#include <cstdint>
#include <optional>

#include "support/input.h"

namespace quibshare {

// The whole budget the broker gives its worker, counted from the worker's resumption.
inline constexpr std::uint32_t BrokerDeadlineMs = 35000;

// CommandLineToArgvW's split; nothing when it fails.
std::optional<ArgumentList> SplitCommandLine(const wchar_t* commandLine);

// Exactly five entries with entry 3 equal to "--ui-ready-event" (case-sensitive).
bool IsWorkerInvocation(const ArgumentList& arguments);

// Runs the worker or the broker and returns the process exit code.
std::uint32_t DispatchRole(ArgumentList arguments, const std::uint32_t& brokerDeadlineMs);

// The worker's start-up: open the handoff event, check the input, share.
std::uint32_t RunWorkerRole(ArgumentList arguments);

}  // namespace quibshare
