// The broker against scripted workers. RunBroker relaunches its own module, so this test
// executable is also the worker: started in the worker form it plays the script named by
// QUIBSHARE_TEST_WORKER, which it inherits from the test.
#include "app/broker.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/roles.h"
#include "handoff/handoff_channel.h"
#include "harness/process_runner.h"
#include "harness/stderr_capture.h"
#include "harness/temp_directory.h"

namespace quibshare {
namespace {

constexpr wchar_t WorkerWindowTitle[] = L"QuibShareScriptedWorker";
// A class other than the owner window's stands for the share UI; any predefined one will do.
constexpr wchar_t SheetClass[] = L"BUTTON";

std::wstring Environment(const wchar_t* name) {
  wchar_t value[4096] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return std::wstring(value, length < 4096 ? length : 0);
}

HWND CreateTestWindow(HWND owner, bool visible, const wchar_t* windowClass = SheetClass,
                      const wchar_t* title = WorkerWindowTitle) {
  const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass, title, WS_POPUP, 0, 0, 1, 1,
                                      owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (visible) ShowWindow(window, SW_SHOW);
  return window;
}

void PumpFor(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

// Each script ends with the exit code it returns; "signal" scripts set the event first.
int RunScriptedWorker(const ArgumentList& arguments) {
  const std::wstring& eventName = arguments.back();
  const std::wstring script = Environment(L"QUIBSHARE_TEST_WORKER");
  const std::wstring marker = Environment(L"QUIBSHARE_TEST_MARKER");
  if (!marker.empty()) {
    // Whole or not at all: the test reads it while this runs.
    std::ofstream(std::filesystem::path(marker + L".part")) << GetCurrentProcessId();
    MoveFileExW((marker + L".part").c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  const int code = std::wcstol(Environment(L"QUIBSHARE_TEST_EXIT").c_str(), nullptr, 10);
  const std::wstring reason = Environment(L"QUIBSHARE_TEST_REASON");
  if (!reason.empty()) WriteReason(eventName, reason);

  if (script.rfind(L"signal", 0) == 0) {
    const UniqueHandle event = OpenHandoffEvent(eventName);
    SetEvent(event.Get());
  }
  const auto completeShare = [&eventName] {
    WriteOutcome(eventName, {ShareEnd::Completed, L"Mail!App", L"Mail \"Work\""});
  };
  if (script == L"signal-then-outcome") {
    Sleep(200);  // the share goes on after the handover
    completeShare();
  } else if (script == L"window-then-signal-then-outcome") {
    // The sheet's window before its request, and a share ending within the worker's bound,
    // which counts from the request.
    CreateTestWindow(nullptr, true);
    PumpFor(1500);
    SetEvent(OpenHandoffEvent(eventName).Get());
    Sleep(1200);
    completeShare();
  } else if (script == L"signal-then-hang" || script == L"hang") {
    Sleep(30000);
  } else if (script == L"signal-then-crash") {
    Sleep(200);
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  } else if (script == L"visible-window") {
    CreateTestWindow(nullptr, true);
    PumpFor(30000);
  } else if (script == L"untitled-window") {
    CreateTestWindow(nullptr, true, SheetClass, L"");
    PumpFor(30000);
  } else if (script == L"owner-window-then-exit") {
    // As the real worker does before its share fails: its own 1x1 owner window first.
    CreateTestWindow(nullptr, true, OwnerWindowClass, OwnerWindowTitle);
    PumpFor(300);
  } else if (script == L"static-windows-then-exit") {
    // The class decides, whatever the title: untitled, or titled as nothing of ours.
    CreateTestWindow(nullptr, true, L"static", L"");
    CreateTestWindow(nullptr, true, OwnerWindowClass, L"Share");
    PumpFor(300);
  } else if (script == L"owner-window-hang") {
    CreateTestWindow(nullptr, true, OwnerWindowClass, OwnerWindowTitle);
    PumpFor(30000);
  } else if (script == L"owned-window") {
    CreateTestWindow(CreateTestWindow(nullptr, false), true);
    PumpFor(1500);
  } else if (script == L"invisible-window") {
    CreateTestWindow(nullptr, false);
    PumpFor(1500);
  } else if (script == L"crash") {
    // Unhandled, as a stray write would be: the process ends with the exception's code.
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  } else if (script == L"fill-block") {
    const UniqueHandle block(OpenFileMappingW(FILE_MAP_WRITE, FALSE, MakeReasonBlockName(eventName).c_str()));
    const UniqueView view(MapViewOfFile(block.Get(), FILE_MAP_WRITE, 0, 0, 0));
    if (view) std::memset(view.Get(), 0x41, ReasonBlockBytes);
  } else if (script == L"close-stderr") {
    CloseHandle(GetStdHandle(STD_ERROR_HANDLE));
    ReportWorkerFailure(eventName, L"written after standard error was closed");
  }
  return code;
}

struct BrokerRun {
  std::uint32_t exitCode;
  std::string standardError;
  std::string standardOutput;
  ULONGLONG tookMs;
  // The worker, opened while it ran, so that its id cannot have passed to another process when
  // the test looks at it; empty for a worker that ended at once.
  UniqueHandle worker;
};

class BrokerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const wchar_t* name : {L"QUIBSHARE_TEST_WORKER", L"QUIBSHARE_TEST_EXIT",
                                L"QUIBSHARE_TEST_REASON", L"QUIBSHARE_TEST_MARKER"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
  }

  // Wine fails about one process start in 800: a broker whose worker never started (no marker,
  // exit 1 and nothing said) is run once more, so that the test hears about its script.
  BrokerRun Run(const std::wstring& script, int exitCode, const std::wstring& reason = L"",
                const Deadlines& deadlines = {10000}, const std::vector<std::wstring>& options = {}) {
    BrokerRun run = RunOnce(script, exitCode, reason, deadlines, options);
    if (run.exitCode != 1 || !run.standardError.empty() || StartedWorker() != 0) return run;
    test::NoteRetry(L"the broker's worker, script " + script);
    return RunOnce(script, exitCode, reason, deadlines, options);
  }

  BrokerRun RunOnce(const std::wstring& script, int exitCode, const std::wstring& reason,
                    const Deadlines& deadlines, const std::vector<std::wstring>& options) {
    SetEnvironmentVariableW(L"QUIBSHARE_TEST_WORKER", script.c_str());
    SetEnvironmentVariableW(L"QUIBSHARE_TEST_EXIT", std::to_wstring(exitCode).c_str());
    SetEnvironmentVariableW(L"QUIBSHARE_TEST_REASON", reason.empty() ? nullptr : reason.c_str());
    SetEnvironmentVariableW(L"QUIBSHARE_TEST_MARKER", marker_.c_str());
    ArgumentList arguments{L"host.exe", L"--input", file_};
    arguments.insert(arguments.end(), options.begin(), options.end());
    DeleteFileW(marker_.c_str());
    UniqueHandle worker;
    std::atomic<bool> returned{false};
    std::thread holder([&] {
      for (DWORD id = 0; !returned.load(); Sleep(5)) {
        if ((id = StartedWorker()) != 0) {
          worker.Reset(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
          return;
        }
      }
    });
    test::StderrCapture capture;
    test::StderrCapture output(STD_OUTPUT_HANDLE);
    const ULONGLONG start = GetTickCount64();
    const std::uint32_t code = RunBroker(arguments, deadlines);
    const ULONGLONG took = GetTickCount64() - start;
    returned = true;
    holder.join();
    return {code, capture.Take(), output.Take(), took, std::move(worker)};
  }

  // The worker's process id, written by the script when it started; 0 if none started.
  DWORD StartedWorker() {
    DWORD processId = 0;
    std::ifstream(std::filesystem::path(marker_)) >> processId;
    return processId;
  }

  test::TempDirectory temp_;
  std::wstring file_ = temp_.WriteFile(L"shared.txt");
  std::wstring marker_ = temp_.Path() + L"\\worker.pid";
};

TEST_F(BrokerTest, SignalEndsTheWaitWithZeroWhateverTheWorkerExitsWith) {
  for (const int code : {0, 1, 3, 42}) {
    const BrokerRun run = Run(L"signal", code, L"ignored once signalled");
    EXPECT_EQ(run.exitCode, 0u) << code;
    EXPECT_EQ(run.standardError, "") << code;
  }
}

TEST_F(BrokerTest, WorkerEndingFirstPassesOnItsCodeAndReason) {
  struct Case {
    int workerCode;
    std::wstring reason;
    std::uint32_t exitCode;
    std::string written;
  };
  const Case cases[] = {
      {0, L"", 1, ""},
      {0, L"quiet success is a failure", 1, "quiet success is a failure\r\n"},
      {3, L"Sharing is not available on this system: the Windows share interface is missing or disabled.",
       3, "Sharing is not available on this system: the Windows share interface is missing or disabled.\r\n"},
      {2, L"", 2, ""},
      {-1073741819, L"crashed", 0xC0000005u, "crashed\r\n"},
  };
  for (const Case& c : cases) {
    const BrokerRun run = Run(L"exit", c.workerCode, c.reason);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.workerCode;
    EXPECT_EQ(run.standardError, c.written) << c.workerCode;
  }
}

TEST_F(BrokerTest, RelaysALongReasonAsTheBlockHoldsIt) {
  // The block already cut the text, so the broker's own write carries no notice.
  const BrokerRun run = Run(L"exit", 1, std::wstring(300, L'r'));
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.standardError, std::string(256, 'r') + "\r\n");
}

TEST_F(BrokerTest, VisibleUnownedWindowEndsTheWaitAndTheWorkerRunsOn) {
  // With or without a title: GetWindowTextW answers 0 for both an empty title and a failure.
  for (const wchar_t* script : {L"visible-window", L"untitled-window"}) {
    const BrokerRun run = Run(script, 9, L"not relayed");
    EXPECT_EQ(run.exitCode, 0u) << script;
    EXPECT_EQ(run.standardError, "") << script;
    ASSERT_TRUE(run.worker) << script;
    EXPECT_EQ(WaitForSingleObject(run.worker.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << script;
    TerminateProcess(run.worker.Get(), 0);
    WaitForSingleObject(run.worker.Get(), 5000);
  }
}

TEST_F(BrokerTest, OwnedOrInvisibleWindowsDoNotEndTheWait) {
  for (const wchar_t* script : {L"owned-window", L"invisible-window"}) {
    const BrokerRun run = Run(script, 7);
    EXPECT_EQ(run.exitCode, 7u) << std::wstring(script).size();
  }
}

TEST_F(BrokerTest, OwnerWindowIsNotTakenForTheShareUi) {
  for (const wchar_t* script : {L"owner-window-then-exit", L"static-windows-then-exit"}) {
    const BrokerRun run = Run(script, 1, L"Sharing could not be opened (error 0x80004005).");
    EXPECT_EQ(run.exitCode, 1u) << script;
    EXPECT_EQ(run.standardError, "Sharing could not be opened (error 0x80004005).\r\n") << script;
  }
}

// The name read may fail on a window that is going away as the worker fails: that window proves
// nothing. Only a class that can be read and is not the owner window's counts.
TEST(IsShareUiWindow, TheClassDecidesAndAnUnreadableOneIsNoProof) {
  struct Case {
    const wchar_t* className;  // nullptr: the read fails
    bool proof;
  };
  const Case cases[] = {
      {nullptr, false}, {L"STATIC", false}, {L"Static", false}, {L"static", false},
      {L"STATICS", true}, {L"Stat", true}, {L"Shell_Dialog", true}, {L"#32770", true},
  };
  static const wchar_t* current = nullptr;
  const ReadClassName standIn = [](HWND, LPWSTR name, int capacity) -> int {
    if (current == nullptr) return 0;
    const int length = static_cast<int>(std::min<std::size_t>(wcslen(current), static_cast<std::size_t>(capacity - 1)));
    wmemcpy(name, current, static_cast<std::size_t>(length));
    name[length] = L'\0';
    return length;
  };
  for (const Case& c : cases) {
    current = c.className;
    EXPECT_EQ(IsShareUiWindow(nullptr, standIn), c.proof) << (c.className ? c.className : L"(unreadable)");
  }
}

TEST_F(BrokerTest, HungWorkerIsTerminatedAtTheDeadline) {
  // With or without its owner window up: only the sheet taking the file counts.
  for (const wchar_t* script : {L"hang", L"owner-window-hang"}) {
    const ULONGLONG start = GetTickCount64();
    const BrokerRun run = Run(script, 0, L"still waiting for the sheet", {700});
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(run.exitCode, 1u) << script;
    EXPECT_EQ(run.standardError, "still waiting for the sheet\r\n") << script;
    EXPECT_GE(elapsed, 700u) << script;
    ASSERT_TRUE(run.worker) << script;
    ASSERT_EQ(WaitForSingleObject(run.worker.Get(), 5000), WAIT_OBJECT_0) << script;
    DWORD workerCode = 0;
    GetExitCodeProcess(run.worker.Get(), &workerCode);
    EXPECT_EQ(workerCode, 1u) << "terminated with code 1";
  }
}

TEST_F(BrokerTest, WorkerThatSignalledAndEndedBeforeTheFirstLookCountsAsReady) {
  // Both handles are signalled when the wait starts: the event must win over the exit.
  const std::wstring eventName = MakeHandoffEventName(test::NewGuidText());
  const UniqueHandle event = CreateHandoffEvent(eventName);
  const UniqueHandle block = CreateReasonBlock(eventName);
  SetEnvironmentVariableW(L"QUIBSHARE_TEST_WORKER", L"signal");
  SetEnvironmentVariableW(L"QUIBSHARE_TEST_EXIT", L"5");
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  ShareRequest request;
  request.files = {file_};
  std::wstring commandLine = BuildWorkerCommandLine(module, request, eventName);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION worker{};
  ASSERT_TRUE(CreateProcessW(module, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &worker));
  const UniqueHandle process(worker.hProcess);
  const UniqueHandle thread(worker.hThread);
  ASSERT_EQ(WaitForSingleObject(worker.hProcess, 10000), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(event.Get(), 0), WAIT_OBJECT_0);
  test::StderrCapture capture;
  EXPECT_EQ(WaitForWorker(event.Get(), block.Get(), worker, GetTickCount64() + 10000), 0u);
  EXPECT_EQ(capture.Take(), "");
}

// With --wait the host hears once the share has ended: the worker's outcome as one line on
// standard output after a clean end, nothing there after a failure, and "ended" for a worker
// that outlives its bound and margin.
TEST_F(BrokerTest, WaitedShareReportsHowItEnded) {
  struct Case {
    const wchar_t* script;
    int workerCode;
    std::vector<std::wstring> options;
    std::uint32_t exitCode;
    std::string output;
    std::string error;
  };
  const Case cases[] = {
      {L"signal-then-outcome", 0, {L"--wait"}, 0,
       "{\"outcome\":\"completed\",\"target\":\"Mail!App\",\"app\":\"Mail \\\"Work\\\"\"}\r\n", ""},
      // Ended with 0 but told nothing: the sheet went without a word.
      {L"signal", 0, {L"--wait"}, 0, "{\"outcome\":\"ended\"}\r\n", ""},
      {L"signal", 7, {L"--wait"}, 7, "", "failed after the handover\r\n"},
      {L"signal-then-crash", 0, {L"--wait"}, 0xC0000005u, "", "failed after the handover\r\n"},
      // Without --wait nothing changes: 0 at the handover, nothing on standard output.
      {L"signal-then-outcome", 0, {}, 0, "", ""},
  };
  for (const Case& c : cases) {
    const BrokerRun run = Run(c.script, c.workerCode, L"failed after the handover", {10000}, c.options);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.script;
    EXPECT_EQ(run.standardOutput, c.output) << c.script;
    EXPECT_EQ(run.standardError, c.error) << c.script;
  }
}

TEST_F(BrokerTest, WaitedShareThatOutlivesItsBoundIsEndedAndCountsAsEnded) {
  const BrokerRun run = Run(L"signal-then-hang", 0, L"", {10000, 300, 200}, {L"--wait"});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.standardOutput, "{\"outcome\":\"ended\"}\r\n");
  EXPECT_GE(run.tookMs, 500u);
  EXPECT_LT(run.tookMs, 10000u) << "the worker was waited for to its own end";
  ASSERT_TRUE(run.worker);
  EXPECT_EQ(WaitForSingleObject(run.worker.Get(), 5000), WAIT_OBJECT_0) << "the worker was left running";
}

TEST_F(BrokerTest, WaitedShareLimitCountsFromTheRequestNotFromAnEarlierWindow) {
  // Handed over at the window, about 1.5 s before the request: a limit counted from the window
  // would end the share at about 2 s, before its outcome at 2.7 s.
  const BrokerRun run = Run(L"window-then-signal-then-outcome", 0, L"", {10000, 1500, 500}, {L"--wait"});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.standardOutput,
            "{\"outcome\":\"completed\",\"target\":\"Mail!App\",\"app\":\"Mail \\\"Work\\\"\"}\r\n");
}

// The hosts' watchdogs (725 s) are set above the longest a waited share can last with these.
TEST(Deadlines, AreTheOnesTheHostsWatchdogsAreSetFor) {
  const Deadlines deadlines;
  EXPECT_EQ(deadlines.brokerMs, 35000u);
  EXPECT_EQ(deadlines.sharingBoundMs, 600000u);
  EXPECT_EQ(deadlines.shareEndMarginMs, 30000u);
}

TEST_F(BrokerTest, FileChecksThatDoNotAnswerWithinTheDeadlineEndTheShare) {
  // As a path on an unreachable server keeps GetFileAttributesW waiting.
  const ReadFileAttributes slow = [](LPCWSTR path) -> DWORD {
    Sleep(3000);
    return GetFileAttributesW(path);
  };
  SetEnvironmentVariableW(L"QUIBSHARE_TEST_WORKER", L"signal");
  SetEnvironmentVariableW(L"QUIBSHARE_TEST_MARKER", marker_.c_str());
  test::StderrCapture capture;
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(RunBroker({L"host.exe", L"--input", file_}, {300}, slow), 1u);
  EXPECT_LT(GetTickCount64() - start, 2500u);
  EXPECT_EQ(capture.Take(), "Sharing did not open: the files could not be checked within 35 seconds.\r\n");
  EXPECT_EQ(StartedWorker(), 0u);
}

// CreateProcessW takes at most 32,767 units, its terminating zero included.
TEST_F(BrokerTest, WorkerLineAtTheSystemsLimitIsTooLong) {
  wchar_t module[MAX_PATH] = {};
  const DWORD moduleLength = GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring eventName = MakeHandoffEventName(test::NewGuidText());
  const std::size_t slash = file_.rfind(L'\\') + 1;
  // The file's path padded with ".\" parts and a title of one or two units, to `length` units.
  const auto requestOf = [&](std::size_t pads, std::size_t title) {
    ShareRequest request;
    std::wstring path = file_.substr(0, slash);
    for (std::size_t i = 0; i < pads; ++i) path += L".\\";
    request.files = {path + file_.substr(slash)};
    request.title.assign(title, L't');
    return request;
  };
  const auto lineLength = [&](const ShareRequest& request) {
    return BuildWorkerCommandLine(std::wstring_view(module, moduleLength), request, eventName).size();
  };
  const auto argumentsOf = [](const ShareRequest& request) {
    ArgumentList arguments = RequestArguments(request);
    arguments.insert(arguments.begin(), L"host.exe");
    return arguments;
  };
  const std::size_t shortest = lineLength(requestOf(0, 1));
  for (const std::size_t length : {CommandLineCapacity - 1, CommandLineCapacity}) {
    const ShareRequest request = requestOf((length - shortest) / 2, 1 + (length - shortest) % 2);
    ASSERT_EQ(lineLength(request), length);
    SetEnvironmentVariableW(L"QUIBSHARE_TEST_WORKER", L"signal");
    SetEnvironmentVariableW(L"QUIBSHARE_TEST_MARKER", marker_.c_str());
    DeleteFileW(marker_.c_str());
    test::StderrCapture capture;
    const bool fits = length < CommandLineCapacity;
    EXPECT_EQ(RunBroker(argumentsOf(request), {10000}), fits ? 0u : 2u) << length;
    EXPECT_EQ(capture.Take(), fits ? "" : "Sharing could not start: the command line is too long\r\n") << length;
    EXPECT_EQ(StartedWorker() != 0, fits) << length;
  }
}

TEST_F(BrokerTest, CrashedWorkerPassesOnItsExceptionCode) {
  const BrokerRun run = Run(L"crash", 0, L"about to crash");
  EXPECT_EQ(run.exitCode, 0xC0000005u);
  EXPECT_EQ(run.standardError, "about to crash\r\n");
}

TEST_F(BrokerTest, WorkerKilledFromOutsidePassesOnTheKillersCode) {
  std::thread killer([this] {
    DWORD processId = 0;
    for (int i = 0; i < 500 && processId == 0; ++i, Sleep(10)) processId = StartedWorker();
    const UniqueHandle worker(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    TerminateProcess(worker.Get(), 0x1234);
  });
  const BrokerRun run = Run(L"hang", 0, L"", {20000});
  killer.join();
  EXPECT_EQ(run.exitCode, 0x1234u);
  EXPECT_EQ(run.standardError, "");
}

TEST_F(BrokerTest, WorkerWithoutStandardErrorStillLeavesItsReason) {
  const BrokerRun run = Run(L"close-stderr", 3);
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_EQ(run.standardError, "written after standard error was closed\r\n");
}

TEST_F(BrokerTest, ReasonBlockFullOfNonZeroBytesIsReadAs256Units) {
  const BrokerRun run = Run(L"fill-block", 1);
  const std::wstring text(256, L'\x4141');
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), 256, nullptr, 0, nullptr, nullptr);
  std::string expected(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), 256, expected.data(), size, nullptr, nullptr);
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.standardError, expected + "\r\n");
}

TEST_F(BrokerTest, RejectedInputStartsNoWorker) {
  SetEnvironmentVariableW(L"QUIBSHARE_TEST_WORKER", L"exit");
  SetEnvironmentVariableW(L"QUIBSHARE_TEST_MARKER", marker_.c_str());
  test::StderrCapture capture;
  EXPECT_EQ(RunBroker({L"host.exe", L"--input", file_, L"extra"}, {10000}), 2u);
  EXPECT_EQ(capture.Take(), "Sharing could not start: expected exactly --input <path>\r\n");
  EXPECT_EQ(RunBroker({L"host.exe", L"--input", temp_.Path()}, {10000}), 2u);
  EXPECT_EQ(capture.Take(), "Sharing could not start: input must be a regular file, not a directory\r\n");
  EXPECT_EQ(StartedWorker(), 0u);
}

}  // namespace
}  // namespace quibshare

int main(int argc, char** argv) {
  const std::optional<quibshare::ArgumentList> arguments =
      quibshare::SplitCommandLine(GetCommandLineW());
  if (arguments && quibshare::IsWorkerInvocation(*arguments)) {
    return quibshare::RunScriptedWorker(*arguments);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
