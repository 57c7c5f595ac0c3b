// The broker role. One thread, no message pump.
#include "app/broker.h"

#include <objbase.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "handoff/handoff_channel.h"
#include "support/diagnostics.h"
#include "support/exit_codes.h"
#include "support/outcome.h"
#include "support/unique_resource.h"

namespace quibshare {

namespace {

void RelayReason(HANDLE block) {
  const std::wstring reason = ReadReason(block);
  if (!reason.empty()) WriteDiagnostic(reason, DiagnosticLimit);
}

DWORD MillisecondsUntil(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, INFINITE - 1));
}

// Past its own bound the worker should have ended: the share is over as far as anyone knows.
void EndWorker(const PROCESS_INFORMATION& worker) {
  TerminateProcess(worker.hProcess, ExitFailure);
  WaitForSingleObject(worker.hProcess, TerminateGraceMs);
}

// What the checking thread reads and writes; shared, since the thread may outlive the wait.
struct FileCheck {
  ShareRequest request;
  ReadFileAttributes readAttributes;
  std::wstring failure;
  bool outOfMemory = false;
};

DWORD WINAPI RunFileCheck(void* parameter) {
  const std::unique_ptr<std::shared_ptr<FileCheck>> owner(static_cast<std::shared_ptr<FileCheck>*>(parameter));
  FileCheck& check = **owner;
  try {
    std::vector<std::wstring> paths;
    check.failure = CheckFiles(check.request, paths, check.readAttributes).value_or(std::wstring());
  } catch (const std::bad_alloc&) {
    check.outOfMemory = true;
  }
  return 0;
}

}  // namespace

std::uint32_t WaitForWorker(HANDLE event, HANDLE block, const PROCESS_INFORMATION& worker,
                            ULONGLONG deadline) {
  // The event comes first: a worker that signalled and then ended still counts as ready.
  const HANDLE handles[] = {event, worker.hProcess};
  for (;;) {
    const DWORD waited = WaitForMultipleObjects(2, handles, FALSE, WaitPollMs);
    if (waited == WAIT_OBJECT_0) return ExitSuccess;
    if (waited == WAIT_OBJECT_0 + 1) {
      DWORD code = ExitFailure;
      if (!GetExitCodeProcess(worker.hProcess, &code)) code = ExitFailure;
      RelayReason(block);
      // A worker that ends with 0 without ever signalling did not share.
      return code != 0 ? code : ExitFailure;
    }
    // A time-out or a failed wait: the worker's UI may be up without having signalled.
    WorkerWindowSearch search{worker.dwProcessId, false};
    EnumWindows(FindWorkerWindowProc, reinterpret_cast<LPARAM>(&search));
    if (search.found) return ExitSuccess;
    if (GetTickCount64() >= deadline) {
      EndWorker(worker);
      RelayReason(block);
      return ExitFailure;
    }
  }
}

std::optional<std::wstring> CheckFilesBefore(const ShareRequest& request, ULONGLONG deadline,
                                             ReadFileAttributes readAttributes) {
  if (request.files.empty()) return std::wstring();
  const auto check = std::make_shared<FileCheck>(FileCheck{request, readAttributes, {}});
  auto parameter = std::make_unique<std::shared_ptr<FileCheck>>(check);
  // The thread takes the parameter over; without a thread to spare, the check runs here.
  void* const owned = parameter.release();
  const UniqueHandle thread(CreateThread(nullptr, 0, RunFileCheck, owned, 0, nullptr));
  if (!thread) {
    RunFileCheck(owned);
  } else if (WaitForSingleObject(thread.Get(), MillisecondsUntil(deadline)) != WAIT_OBJECT_0) {
    // A thread still waiting on the file system is left to the process's end.
    return std::nullopt;
  }
  if (check->outOfMemory) throw std::bad_alloc();
  return check->failure;
}

std::uint32_t WaitForShareEnd(HANDLE event, HANDLE block, const PROCESS_INFORMATION& worker,
                              const Deadlines& deadlines) {
  // The worker's bound counts from the sheet's request, which a window seen at the handover may
  // precede by the worker's whole wait for it: the limit counts from the request too.
  const ULONGLONG afterRequest = ULONGLONG{deadlines.sharingBoundMs} + deadlines.shareEndMarginMs;
  bool requested = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  ULONGLONG limit = GetTickCount64() + afterRequest;
  DWORD waited = WAIT_TIMEOUT;
  for (;;) {
    const HANDLE handles[] = {worker.hProcess, event};
    waited = WaitForMultipleObjects(requested ? 1 : 2, handles, FALSE, MillisecondsUntil(limit));
    if (waited != WAIT_OBJECT_0 + 1) break;
    requested = true;
    limit = GetTickCount64() + afterRequest;
  }
  if (waited == WAIT_OBJECT_0) {
    DWORD code = ExitFailure;
    if (!GetExitCodeProcess(worker.hProcess, &code)) code = ExitFailure;
    if (code != 0) {
      RelayReason(block);
      return code;
    }
  } else {
    EndWorker(worker);
  }
  // A worker that left no outcome saw the sheet go without a word.
  WriteStandardOutput(FormatOutcomeLine(ReadOutcome(block).value_or(ShareOutcome{})));
  return ExitSuccess;
}

std::wstring QuoteArgument(std::wstring_view argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      quoted.append(2 * backslashes + 1, L'\\');
      quoted += c;
      backslashes = 0;
    } else {
      quoted.append(backslashes, L'\\');
      quoted += c;
      backslashes = 0;
    }
  }
  // Backslashes before the closing quote would escape it unless doubled.
  quoted.append(2 * backslashes, L'\\');
  quoted += L'"';
  return quoted;
}

std::wstring BuildWorkerCommandLine(std::wstring_view modulePath, const ShareRequest& request,
                                    std::wstring_view eventName) {
  std::wstring commandLine = QuoteArgument(modulePath);
  for (const std::wstring& argument : RequestArguments(request)) {
    commandLine += L' ';
    commandLine += QuoteArgument(argument);
  }
  commandLine += L" --ui-ready-event ";
  commandLine += QuoteArgument(eventName);
  return commandLine;
}

BOOL CALLBACK FindWorkerWindowProc(HWND window, LPARAM search) {
  auto& record = *reinterpret_cast<WorkerWindowSearch*>(search);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != record.processId) return TRUE;
  if (!IsWindowVisible(window)) return TRUE;
  if (GetWindow(window, GW_OWNER) != nullptr) return TRUE;
  if (!IsShareUiWindow(window)) return TRUE;
  record.found = true;
  return FALSE;
}

bool IsShareUiWindow(HWND window, ReadClassName readClassName) {
  // One unit more than the name, so that a longer name is never cut down to a match.
  constexpr int Capacity = static_cast<int>(std::size(OwnerWindowClass)) + 1;
  wchar_t className[Capacity] = {};
  // Another process's window: this reads the registered name and sends the window no message,
  // so a hung worker cannot stall the broker here. The title is not looked at: GetWindowTextW
  // answers 0 both for an empty title and for a window that is gone.
  const int length = readClassName(window, className, Capacity);
  if (length <= 0) return false;
  return CompareStringOrdinal(className, length, OwnerWindowClass, -1, TRUE) != CSTR_EQUAL;
}

std::uint32_t RunBroker(const ArgumentList& arguments, const Deadlines& deadlines,
                        ReadFileAttributes readAttributes) {
  // The host's budget covers everything from here, the checks of the files included.
  const ULONGLONG deadline = GetTickCount64() + deadlines.brokerMs;
  std::wstring failure;
  const std::optional<ShareRequest> request = ParseRequest(arguments, &failure);
  if (!request) {
    WriteDiagnostic(failure, DiagnosticLimit);
    return ExitInputRejected;
  }
  const std::optional<std::wstring> fileFailure = CheckFilesBefore(*request, deadline, readAttributes);
  if (!fileFailure) {
    WriteDiagnostic(L"Sharing did not open: the files could not be checked within 35 seconds.", DiagnosticLimit);
    return ExitFailure;
  }
  if (!fileFailure->empty()) {
    WriteDiagnostic(*fileFailure, DiagnosticLimit);
    return ExitInputRejected;
  }

  GUID guid{};
  if (FAILED(CoCreateGuid(&guid))) return ExitFailure;
  wchar_t guidText[40] = {};
  if (StringFromGUID2(guid, guidText, 40) == 0) return ExitFailure;
  const std::wstring eventName = MakeHandoffEventName(guidText);
  const UniqueHandle event = CreateHandoffEvent(eventName);
  if (!event) return ExitFailure;
  const UniqueHandle block = CreateReasonBlock(eventName);
  if (!block) return ExitFailure;

  // The worker is the file we run from, whatever entry 0 of the command line says.
  std::vector<wchar_t> modulePath(ModulePathCapacity, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, modulePath.data(), ModulePathCapacity);
  if (length == 0 || length >= ModulePathCapacity) return ExitFailure;
  std::wstring commandLine =
      BuildWorkerCommandLine(std::wstring_view(modulePath.data(), length), *request, eventName);
  // The host's line fitted; ours adds the module path and the event name.
  if (commandLine.size() >= CommandLineCapacity) {
    WriteDiagnostic(std::wstring(InputFailurePrefix) + L"the command line is too long", DiagnosticLimit);
    return ExitInputRejected;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION worker{};
  // Suspended, so the foreground right is granted before the worker can ask for it.
  if (!CreateProcessW(modulePath.data(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED | DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr,
                      nullptr, &startup, &worker)) {
    return ExitFailure;
  }
  const UniqueHandle process(worker.hProcess);
  const UniqueHandle thread(worker.hThread);
  AllowSetForegroundWindow(worker.dwProcessId);
  if (ResumeThread(worker.hThread) == static_cast<DWORD>(-1)) {
    TerminateProcess(worker.hProcess, ExitFailure);
    return ExitFailure;
  }
  const std::uint32_t handedOver = WaitForWorker(event.Get(), block.Get(), worker, deadline);
  if (handedOver != ExitSuccess || !request->wait) return handedOver;
  return WaitForShareEnd(event.Get(), block.Get(), worker, deadlines);
}

}  // namespace quibshare
