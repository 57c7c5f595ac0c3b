// Role selection and the worker's start-up. Main thread.
#include "app/roles.h"

#include <windows.h>
#include <shellapi.h>

#include <new>
#include <string_view>

#include "app/broker.h"
#include "handoff/handoff_channel.h"
#include "share/hresult_error.h"
#include "support/diagnostics.h"
#include "support/exit_codes.h"
#include "support/unique_resource.h"
#include "worker/share_outcome.h"
#include "worker/ui_worker.h"
#include "worker/windows_share_platform.h"

namespace quibshare {

std::uint32_t RunProcess(const wchar_t* commandLine) noexcept {
  return ContainEscapes(
      [commandLine] {
        const std::optional<ArgumentList> arguments = SplitCommandLine(commandLine);
        if (!arguments) return ExitInputRejected;
        return DispatchRole(*arguments, Deadlines{});
      },
      [](const std::wstring& text) { WriteDiagnostic(text, DiagnosticLimit); });
}

std::uint32_t ContainEscapes(const std::function<std::uint32_t()>& role,
                             const std::function<void(const std::wstring&)>& report) noexcept {
  HRESULT code = E_UNEXPECTED;
  try {
    return role();
  } catch (const std::bad_alloc&) {
    code = E_OUTOFMEMORY;
  } catch (const HResultError& error) {
    code = error.Code();
  } catch (...) {
  }
  try {
    if (report) report(DescribeErrorCode(code));
  } catch (...) {
    // Too little memory left even for the text: the exit code alone tells the host.
  }
  return ExitFailure;
}

std::optional<ArgumentList> SplitCommandLine(const wchar_t* commandLine) {
  int count = 0;
  wchar_t** const entries = CommandLineToArgvW(commandLine, &count);
  if (entries == nullptr) return std::nullopt;
  const UniqueLocalMemory owner(entries);
  ArgumentList arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.emplace_back(entries[i]);
  return arguments;
}

bool IsWorkerEventName(std::wstring_view name) {
  const std::wstring prefix = MakeHandoffEventName(L"");
  // The braced GUID exactly as StringFromGUID2 writes it: 38 units, upper-case hex.
  constexpr std::wstring_view Form = L"{00000000-0000-0000-0000-000000000000}";
  if (name.size() != prefix.size() + Form.size() || !name.starts_with(prefix)) return false;
  const std::wstring_view guid = name.substr(prefix.size());
  for (std::size_t i = 0; i < Form.size(); ++i) {
    const wchar_t unit = guid[i];
    const bool matches = Form[i] == L'0' ? (unit >= L'0' && unit <= L'9') || (unit >= L'A' && unit <= L'F')
                                         : unit == Form[i];
    if (!matches) return false;
  }
  return true;
}

bool IsWorkerInvocation(const ArgumentList& arguments) {
  const std::size_t count = arguments.size();
  return count >= 3 && arguments[count - 2] == L"--ui-ready-event" && IsWorkerEventName(arguments.back());
}

std::uint32_t DispatchRole(ArgumentList arguments, const Deadlines& deadlines) {
  if (!IsWorkerInvocation(arguments)) return RunBroker(arguments, deadlines);
  return RunWorkerRole(std::move(arguments), deadlines);
}

std::uint32_t RunWorkerRole(ArgumentList arguments, const Deadlines& deadlines) {
  const std::wstring eventName = arguments.back();
  const UniqueHandle event = OpenHandoffEvent(eventName);
  // The option and the event name must never reach input validation.
  arguments.resize(arguments.size() - 2);
  if (!event) {
    ReportWorkerFailure(eventName, L"The UI worker could not open the handoff event.");
    return ExitInputRejected;
  }
  // The text of an escaping exception must reach the broker too, through the reason block.
  return ContainEscapes(
      [&] {
        const std::function<void(const std::wstring&)> onFailure = MakeOnFailure(eventName);
        const std::function<void(const ShareOutcome&)> onOutcome = MakeOnOutcome(eventName);
        WindowsSharePlatform platform(std::chrono::milliseconds(deadlines.sharingBoundMs));
        return RunUiWorker(arguments, platform, MakeOnReady(event.Get()), onFailure, onOutcome);
      },
      [&eventName](const std::wstring& text) { ReportWorkerFailure(eventName, text); });
}

}  // namespace quibshare
