// Process entry helpers: split the command line, pick the role, run the worker's start-up.
// Main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "support/input.h"

namespace quibshare {

// The whole budget the broker gives its worker, counted from the worker's resumption.
inline constexpr std::uint32_t BrokerDeadlineMs = 35000;
// How long the worker keeps a share going after the sheet took the files. The sheet tells no end
// after "Copy link", and an unbounded wait would leave the worker running until sign-out.
inline constexpr std::uint32_t SharingBoundMs = 10 * 60 * 1000;
// How much longer than that a broker waiting for the end of a share gives the worker to end.
inline constexpr std::uint32_t ShareEndMarginMs = 30000;

// The roles' time limits, fixed by the entry and lent to the role it runs.
struct Deadlines {
  std::uint32_t brokerMs = BrokerDeadlineMs;
  std::uint32_t sharingBoundMs = SharingBoundMs;
  std::uint32_t shareEndMarginMs = ShareEndMarginMs;
};

// The whole process: split `commandLine`, run the role it asks for, and return the exit code.
// Nothing escapes it (see ContainEscapes).
std::uint32_t RunProcess(const wchar_t* commandLine) noexcept;

// Runs `role` and returns its result. An exception that would leave it gives 1, never 3 (which
// would tell the host to hide sharing for good), and its error-code text goes to `report` when
// that can still be built: E_OUTOFMEMORY for std::bad_alloc, the code of an HResultError,
// E_UNEXPECTED for anything else.
std::uint32_t ContainEscapes(const std::function<std::uint32_t()>& role,
                             const std::function<void(const std::wstring&)>& report) noexcept;

// CommandLineToArgvW's split; nothing when it fails.
std::optional<ArgumentList> SplitCommandLine(const wchar_t* commandLine);

// Whether `name` is a handoff event name as the broker makes it: "Local\QuibPluginUi-" and the
// braced, upper-case GUID text of StringFromGUID2.
bool IsWorkerEventName(std::wstring_view name);

// The worker's marker alone decides: the last two entries are "--ui-ready-event" (case-sensitive)
// and a name IsWorkerEventName accepts. Any other line is a host's, and is answered as one.
bool IsWorkerInvocation(const ArgumentList& arguments);

// Runs the worker or the broker and returns the process exit code.
std::uint32_t DispatchRole(ArgumentList arguments, const Deadlines& deadlines);

// The worker's start-up: open the handoff event named last, then share the request before it,
// which RunUiWorker parses and checks once.
std::uint32_t RunWorkerRole(ArgumentList arguments, const Deadlines& deadlines);

}  // namespace quibshare
