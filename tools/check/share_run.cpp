// One watched share. Main thread.
#include "check/share_run.h"

#include <algorithm>
#include <chrono>

#include "app/broker.h"
#include "check/check_window.h"
#include "check/text.h"
#include "support/unique_resource.h"

namespace quibshare::check {

namespace {

constexpr DWORD PollMs = 20;
constexpr DWORD StopGraceMs = 5000;

using Clock = std::chrono::steady_clock;

std::uint64_t MillisecondsSince(Clock::time_point start) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::wstring WindowText(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::wstring WindowClass(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::wstring ProcessName(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!process || !QueryFullProcessImageNameW(process.Get(), 0, path, &size)) return L"?";
  const std::wstring full(path, size);
  return full.substr(full.find_last_of(L'\\') + 1);
}

std::string DescribeWindow(HWND window) {
  RECT at{};
  GetWindowRect(window, &at);
  return Utf8(L"class " + WindowClass(window) + L", title \"" + WindowText(window) + L"\", process " +
              ProcessName(window) + L", at " + std::to_wstring(at.left) + L"," + std::to_wstring(at.top) + L" size " +
              std::to_wstring(at.right - at.left) + L"x" + std::to_wstring(at.bottom - at.top));
}

// Escape pressed and released, as a person would, into whatever holds the foreground.
void SendEscape() {
  INPUT keys[2] = {};
  for (INPUT& key : keys) {
    key.type = INPUT_KEYBOARD;
    key.ki.wVk = VK_ESCAPE;
    key.ki.wScan = static_cast<WORD>(MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC));
  }
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, keys, sizeof(INPUT));
}

struct Pipe {
  UniqueHandle read;
  UniqueHandle write;  // inherited by QuibShare
};

Pipe MakePipe() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, &inheritable, 1 << 16)) return {};
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  return {UniqueHandle(read), UniqueHandle(write)};
}

// What the pipe holds; QuibShare writes a line or two, far less than the pipe's buffer.
std::string ReadPipe(HANDLE pipe) {
  std::string bytes;
  DWORD available = 0;
  while (pipe != nullptr && PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    std::string chunk(available, '\0');
    DWORD read = 0;
    if (!ReadFile(pipe, chunk.data(), available, &read, nullptr) || read == 0) break;
    bytes.append(chunk.data(), read);
  }
  return bytes;
}

// Ends QuibShare and every process it started, and waits for them to go.
void Stop(HANDLE job, HANDLE process) {
  TerminateJobObject(job, ERROR_TIMEOUT);
  WaitForSingleObject(process, StopGraceMs);
}

}  // namespace

std::vector<HWND> VisibleWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM found) -> BOOL {
        if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool MayBeSheet(HWND window, const std::vector<HWND>& shownBefore) {
  // A sheet is on screen: a minimized window that comes forward is some program's starting up.
  if (window == nullptr || IsIconic(window) ||
      std::find(shownBefore.begin(), shownBefore.end(), window) != shownBefore.end()) {
    return false;
  }
  return !(WindowText(window) == L"QuibShareOwnerWindow" && lstrcmpiW(WindowClass(window).c_str(), L"Static") == 0);
}

ShareRun RunShare(const std::wstring& quibShare, const std::vector<std::wstring>& arguments, SheetAction action,
                  const RunLimits& limits) {
  ShareRun run;
  // Ends the worker too if the check has to stop the share, or itself ends.
  const UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION jobLimits{};
  jobLimits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job || !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &jobLimits, sizeof jobLimits)) {
    run.result.startError = GetLastError();
    return run;
  }
  Pipe output = MakePipe();
  Pipe error = MakePipe();
  std::wstring commandLine = QuoteArgument(quibShare);
  for (const std::wstring& argument : arguments) commandLine += L" " + QuoteArgument(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.write.Get();
  startup.hStdError = error.write.Get();
  PROCESS_INFORMATION info{};
  const std::vector<HWND> shownBefore = VisibleWindows();
  const Clock::time_point start = Clock::now();
  // Suspended, so that it is in the job and may take the foreground before it runs.
  if (!output.write || !error.write ||
      !CreateProcessW(quibShare.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &info)) {
    run.result.startError = GetLastError();
    return run;
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  output.write.Reset();
  error.write.Reset();
  run.result.started = true;
  if (!AssignProcessToJobObject(job.Get(), process.Get())) {
    run.result.started = false;
    run.result.startError = GetLastError();
    TerminateProcess(process.Get(), ERROR_ACCESS_DENIED);
    return run;
  }
  AllowSetForegroundWindow(info.dwProcessId);
  ResumeThread(thread.Get());

  HWND sheet = nullptr;
  HWND escapedInto = nullptr;
  // The deadline in force, counted from the start, the sheet's coming, or the first Escape.
  std::uint64_t endBy = limits.sheetMs;
  DWORD waiting = limits.sheetMs;
  std::uint64_t escapeAt = 0;
  for (;;) {
    const HANDLE waitFor = process.Get();
    MsgWaitForMultipleObjects(1, &waitFor, FALSE, PollMs, QS_ALLINPUT);
    PumpMessages();
    if (WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) break;
    const std::uint64_t now = MillisecondsSince(start);
    const HWND foreground = GetForegroundWindow();
    if (sheet == nullptr && MayBeSheet(foreground, shownBefore)) {
      sheet = foreground;
      run.result.sheetSeen = true;
      run.toSheetMs = now;
      run.sheet = DescribeWindow(sheet);
      escapeAt = now + limits.settleMs;
      waiting = action == SheetAction::Escape ? limits.settleMs + limits.afterEscapeMs : limits.personMs;
      endBy = now + waiting;
    }
    // Only into the sheet: once into what holds the foreground as it settles, then again only
    // into that same window, never into one that came forward after the sheet went.
    if (sheet != nullptr && action == SheetAction::Escape && now >= escapeAt &&
        (escapedInto == nullptr ? MayBeSheet(foreground, shownBefore) : foreground == escapedInto)) {
      SendEscape();
      if (escapedInto == nullptr) {
        waiting = limits.afterEscapeMs;
        endBy = now + waiting;
      }
      run.result.escaped = true;
      escapedInto = foreground;
      escapeAt = now + limits.escapeRepeatMs;
    }
    if (now > endBy) {
      Stop(job.Get(), process.Get());
      // The limit that ran out.
      run.result.waitedMs = waiting;
      (sheet == nullptr ? run.result.sheetNeverCame : run.result.sheetStayed) = true;
      break;
    }
  }
  run.toEndMs = MillisecondsSince(start);
  DWORD exitCode = 0;
  if (!run.result.sheetNeverCame && !run.result.sheetStayed && GetExitCodeProcess(process.Get(), &exitCode)) {
    run.result.exitCode = exitCode;
  } else {
    run.toEndMs.reset();
  }
  run.result.outcomeLine = WithoutLineEnd(ReadPipe(output.read.Get()));
  run.result.standardError = WithoutLineEnd(Utf8FromAnsi(ReadPipe(error.read.Get())));
  return run;
}

}  // namespace quibshare::check
