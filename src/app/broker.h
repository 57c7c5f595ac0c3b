// The broker: the process a host starts. It relaunches this executable as the UI worker and
// watches it until the share UI is up, the worker ends, or the deadline passes. One thread;
// it pumps no messages.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/roles.h"
#include "support/input.h"

namespace quibshare {

inline constexpr DWORD WaitPollMs = 50;
inline constexpr DWORD TerminateGraceMs = 1000;
inline constexpr DWORD ModulePathCapacity = 32768;
// CreateProcessW's limit, the terminating zero included.
inline constexpr std::size_t CommandLineCapacity = 32767;

// Validates, starts the worker and waits, all within `deadlines.brokerMs` from its start; for a
// waited share, then for the end of the share. Returns the exit code the host sees.
std::uint32_t RunBroker(const ArgumentList& arguments, const Deadlines& deadlines,
                        ReadFileAttributes readAttributes = GetFileAttributesW);

// CheckFiles on a thread of its own, since a path on an unreachable server keeps the file system
// waiting far past the host's deadline: the failure text, empty when the files passed, or nothing
// when the checks had not answered by `deadline` (GetTickCount64 time).
std::optional<std::wstring> CheckFilesBefore(const ShareRequest& request, ULONGLONG deadline,
                                             ReadFileAttributes readAttributes);

// Polls until the worker signals the event, shows a visible, unowned window that IsShareUiWindow
// accepts, ends, or reaches `deadline` (GetTickCount64 time), and returns the host's exit code.
std::uint32_t WaitForWorker(HANDLE event, HANDLE block, const PROCESS_INFORMATION& worker,
                            ULONGLONG deadline);

// After the handover of a waited share: waits for the worker to end, at most the sharing bound
// and its margin after the sheet's request (the event), then ends it. Writes the outcome line and
// returns 0, or relays the code and reason of a worker that failed after the handover (standard
// output then stays empty).
std::uint32_t WaitForShareEnd(HANDLE event, HANDLE block, const PROCESS_INFORMATION& worker,
                              const Deadlines& deadlines);

// Always quoted, so CommandLineToArgvW gives the argument back unchanged, even when empty.
std::wstring QuoteArgument(std::wstring_view argument);

// The worker's whole command line: module path, the request's arguments, "--ui-ready-event" and
// the event name.
std::wstring BuildWorkerCommandLine(std::wstring_view modulePath, const ShareRequest& request,
                                    std::wstring_view eventName);

// GetClassNameW's shape, so that a test can stand in for the name read.
using ReadClassName = int(WINAPI*)(HWND window, LPWSTR name, int capacity);

// Whether a visible, unowned window of the worker proves that the share UI is up: a window of
// any class but the owner window's (compared without case: Windows reports "Static"). A window
// whose class cannot be read (it may be going away as the worker fails) proves nothing.
bool IsShareUiWindow(HWND window, ReadClassName readClassName = GetClassNameW);

struct WorkerWindowSearch {
  DWORD processId = 0;
  bool found = false;
};

// EnumWindows callback: finds a visible, unowned top-level window of the worker process that
// IsShareUiWindow accepts.
BOOL CALLBACK FindWorkerWindowProc(HWND window, LPARAM search);

}  // namespace quibshare
