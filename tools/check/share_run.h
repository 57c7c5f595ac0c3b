// One share through QuibShare.exe as a host runs it, watched from outside: the sheet is known
// by the foreground passing to a window that is neither the check's nor QuibShare's owner
// window, and is dismissed with Escape (or left to a person). Main thread, which pumps its
// window's messages while it waits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check/verdict.h"

namespace quibshare::check {

enum class SheetAction { Escape, LeaveToPerson };

struct RunLimits {
  DWORD sheetMs = 40000;        // QuibShare itself gives up on the sheet after 35 s
  DWORD settleMs = 500;         // the sheet takes the foreground before it takes keys
  DWORD escapeRepeatMs = 2000;  // Escape again while the sheet still holds the foreground
  DWORD afterEscapeMs = 10000;
  DWORD personMs = 11 * 60 * 1000;  // QuibShare's own bound on a waited share, and more
};

struct ShareRun {
  RunResult result;
  std::optional<std::uint64_t> toSheetMs;
  std::optional<std::uint64_t> toEndMs;
  std::string sheet;  // the window that took the foreground: class, title, process, place
};

// Runs `quibShare` with `arguments` in a job of its own, so that the worker it starts is ended
// with it when the check has to stop it. The check's own window should be in the foreground.
ShareRun RunShare(const std::wstring& quibShare, const std::vector<std::wstring>& arguments, SheetAction action,
                  const RunLimits& limits = {});

// The visible top-level windows now: none of them can be a sheet that opens after.
std::vector<HWND> VisibleWindows();

// Whether a foreground window can be the sheet: not one already shown before the share (the
// check's own, the one in front, any other app's), not a minimized one, and not QuibShare's 1x1
// owner window.
bool MayBeSheet(HWND window, const std::vector<HWND>& shownBefore);

}  // namespace quibshare::check
