// QuibShare.exe seen from a host: its exit code and the exact bytes on standard error.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "handoff/handoff_channel.h"
#include "harness/process_runner.h"
#include "harness/sim_session.h"
#include "harness/temp_directory.h"

namespace quibshare {
namespace {

using test::ProcessResult;
using test::RunOptions;
using test::RunProcess;
using test::TempDirectory;

const std::string NotAvailable =
    "Sharing is not available on this system: the Windows share interface is missing or "
    "disabled.\r\n";
const std::string TimedOut =
    "Sharing did not open: the share pane never asked for this file. It may be unavailable on "
    "this system or blocked for this account.\r\n";

ProcessResult RunQuibShare(const std::vector<std::wstring>& arguments, RunOptions options = {}) {
  options.timeoutMs = 45000;
  return RunProcess(test::QuibSharePath(), arguments, options);
}

TEST(HostContract, RejectsBadInputWithCodeTwoAndOneLine) {
  TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"a.txt");
  struct Case {
    std::vector<std::wstring> arguments;
    std::string written;
  };
  const std::string count = "Sharing could not start: expected exactly --input <path>\r\n";
  const std::string flag = "Sharing could not start: expected --input flag\r\n";
  const Case cases[] = {
      {{}, count},
      {{L"--input"}, count},
      {{L"--input=" + file}, count},
      {{L"--input", file, L"one-too-many"}, count},
      {{L"--Input", file}, flag},
      {{L"-input", file}, flag},
      {{L"/input", file}, flag},
      {{L"--input", L""}, "Sharing could not start: input path cannot be empty\r\n"},
      {{L"--input", temp.Path() + L"\\missing.txt"},
       "Sharing could not start: input file does not exist or is inaccessible\r\n"},
      {{L"--input", temp.Path()},
       "Sharing could not start: input must be a regular file, not a directory\r\n"},
      // Five entries, but not the worker's option: the broker rejects the count.
      {{L"--input", file, L"--UI-READY-EVENT", L"Local\\x"}, count},
      {{L"--input", file, L"--ui-ready-event=Local\\x"}, count},
      // The options alone: still the two-argument form's text, or nothing left to share.
      {{L"--wait"}, count},
      {{L"--title", L"T", L"--wait"}, "Sharing could not start: nothing to share: give --input, --text or --url\r\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult result = RunQuibShare(c.arguments);
    EXPECT_EQ(result.exitCode, 2u) << c.written;
    EXPECT_EQ(result.standardError, c.written);
  }
}

// Through the broker to the simulated sheet: the worker gets the fully qualified path.
TEST(HostContract, SharesRelativeSlashedAndLongPaths) {
  test::SimSession sim;
  const std::wstring exe = sim.InstallQuibShare();
  const TempDirectory& temp = sim.Folder();
  const std::wstring file = temp.WriteFile(L"report.final.pdf");
  std::wstring forward = file;
  for (wchar_t& c : forward) c = c == L'\\' ? L'/' : c;
  std::wstring folder = temp.Path();
  while (folder.size() < 280) {
    folder += L"\\" + std::wstring(50, L'n');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  }
  const std::wstring longFile = temp.WriteFile(folder.substr(temp.Path().size() + 1) + L"\\x.txt");
  ASSERT_GT(longFile.size(), 259u);

  struct Case {
    std::wstring argument;
    std::wstring shared;
  };
  const Case cases[] = {{L"report.final.pdf", file}, {file, file}, {forward, file}, {longFile, longFile}};
  for (const Case& c : cases) {
    sim.NewRecord();
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(temp.Path().c_str());  // the broker and its worker inherit it
    RunOptions options;
    options.environment = sim.Environment();
    const ProcessResult result = RunProcess(exe, {L"--input", c.argument}, options);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(result.exitCode, 0u) << c.argument.size();
    EXPECT_EQ(result.standardError, "");
    // The worker ends the share, and itself, on its own after the broker has returned.
    ASSERT_TRUE(sim.WaitFor(L"exit ", 10000));
    EXPECT_EQ(sim.Record(L"SetStorageItemsReadOnly"),
              std::vector<std::wstring>{L"SetStorageItemsReadOnly 1 " + c.shared});
  }
}

TEST(HostContract, NoShareServiceIsNotAvailable) {
  TempDirectory temp;
  const ProcessResult result = RunQuibShare({L"--input", temp.WriteFile(L"a.txt")});
  EXPECT_EQ(result.exitCode, 3u);
  EXPECT_EQ(result.standardError, NotAvailable);
}

// Shares one file through the broker with the simulated sheet playing `settings` ("NAME",
// "value" of QUIBSHARE_SIM_NAME). Runs of different sessions may overlap.
ProcessResult ShareThroughTheSheet(test::SimSession& sim,
                                   const std::vector<std::pair<std::wstring, std::wstring>>& settings) {
  for (const auto& [name, value] : settings) sim.Set(name, value);
  RunOptions options;
  options.timeoutMs = 45000;
  options.environment = sim.Environment();
  return RunProcess(sim.InstallQuibShare(), {L"--input", sim.Folder().WriteFile(L"a.txt")}, options);
}

// The process id of the worker, as the simulated sheet recorded it; 0 if none did.
DWORD WorkerProcessId(const test::SimSession& sim) {
  const std::vector<std::wstring> lines = sim.Record(L"process ");
  return lines.empty() ? 0 : std::wcstoul(lines.front().c_str() + 8, nullptr, 10);
}

// A real sheet is slow to answer, may ask inside Show and fail it afterwards, and may hand back
// nothing: only the sheet taking the file is success, and a failed request is told at once.
TEST(HostContract, ZeroOnlyOnceTheSheetHasTheFile) {
  const std::string failed = "Sharing could not be opened (error 0x";
  struct Case {
    std::vector<std::pair<std::wstring, std::wstring>> settings;
    std::uint32_t exitCode;
    std::string written;
    std::wstring evidence;  // a record line only this scenario makes
  };
  const Case cases[] = {
      {{{L"END", L"complete"}}, 0, "", L"complete 1"},
      {{{L"END", L"cancel"}, {L"STORAGE_AFTER", L"200"}}, 0, "", L"cancel 1"},
      // The sheet has the file, then Show fails: the share goes on to its end.
      {{{L"REQUEST", L"inside-then-fail:80004005"}}, 0, "", L"complete 1"},
      {{{L"STORAGE", L"error:80070005"}, {L"STORAGE_AFTER", L"200"}}, 1, failed + "80070005).\r\n", L""},
      {{{L"STORAGE", L"error:80040154"}, {L"STORAGE_AFTER", L"200"}}, 3, NotAvailable, L""},
      {{{L"FAIL", L"show:80070490"}, {L"STORAGE_AFTER", L"200"}}, 1, failed + "80070490).\r\n", L"show"},
      // Success that gave nothing: a failure, never a crash, and never a wait for the deadline.
      {{{L"STORAGE", L"empty-operation"}}, 1, failed + "80004003).\r\n", L""},
      {{{L"FAIL", L"empty-request"}}, 1, failed + "80004003).\r\n", L"gave nothing get_Request"},
      {{{L"FAIL", L"empty-data"}}, 1, failed + "80004003).\r\n", L"gave nothing get_Data"},
      {{{L"FAIL", L"empty-properties"}}, 1, failed + "80004003).\r\n", L"gave nothing get_Properties"},
      // The sheet did ask: E_NOINTERFACE here is a failed share, not "cannot share here".
      {{{L"FAIL", L"no-package4"}}, 1, failed + "80004002).\r\n", L"add ShareCompleted 1 1"},
  };
  for (const Case& c : cases) {
    test::SimSession sim;
    const ULONGLONG start = GetTickCount64();
    const ProcessResult result = ShareThroughTheSheet(sim, c.settings);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(result.exitCode, c.exitCode) << c.written;
    EXPECT_EQ(result.standardError, c.written);
    EXPECT_LT(took, 5000u) << c.written;
    if (!c.evidence.empty()) {
      EXPECT_TRUE(sim.WaitFor(c.evidence)) << c.written;
    }
    if (c.exitCode == 0) {
      EXPECT_EQ(sim.Record(L"SetStorageItemsReadOnly").size(), 1u);
      // The second process ends by itself once the sheet reports the end.
      EXPECT_TRUE(sim.WaitFor(L"remove ShareCompleted"));
      EXPECT_TRUE(sim.WaitFor(L"exit " + std::to_wstring(WorkerProcessId(sim)))) << c.written;
    }
  }
}

// After "Copy link" the sheet reports no end: the host hears 0 at once, and the second process
// keeps the share until its bound (10 minutes), so this test ends it itself.
TEST(HostContract, ShareWithoutAnEndEventReturnsAtOnceAndTheWorkerStays) {
  test::SimSession sim;
  const ProcessResult result = ShareThroughTheSheet(sim, {{L"END", L"none"}});
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.standardError, "");
  // Still running, so the id is its own.
  const UniqueHandle worker(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, WorkerProcessId(sim)));
  ASSERT_TRUE(worker);
  EXPECT_EQ(WaitForSingleObject(worker.Get(), 3000), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(worker.Get(), 0);
  WaitForSingleObject(worker.Get(), 5000);
  EXPECT_EQ(sim.Record(L"remove"), std::vector<std::wstring>{});
  EXPECT_EQ(sim.Record(L"exit"), std::vector<std::wstring>{});
}

// Slow: the worker waits its full 30 s for a request that never comes, and the host hears of it
// before the broker's own deadline; a waiting host too, with nothing on standard output. Both
// run side by side.
TEST(HostContract, SlowSheetThatNeverAsksTimesOut) {
  test::SimSession sims[2];
  ProcessResult results[2];
  std::thread waited([&] {
    sims[1].Set(L"REQUEST", L"never");
    RunOptions options;
    options.timeoutMs = 45000;
    options.environment = sims[1].Environment();
    results[1] = RunProcess(sims[1].InstallQuibShare(), {L"--input", sims[1].Folder().WriteFile(L"a.txt"), L"--wait"},
                            options);
  });
  results[0] = ShareThroughTheSheet(sims[0], {{L"REQUEST", L"never"}});
  waited.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(results[i].exitCode, 1u) << i;
    EXPECT_EQ(results[i].standardError, TimedOut) << i;
    EXPECT_EQ(results[i].standardOutput, "") << i;
    EXPECT_EQ(sims[i].Record(L"show"), std::vector<std::wstring>{L"show"}) << i;
    EXPECT_EQ(sims[i].Record(L"request"), std::vector<std::wstring>{}) << i;
    EXPECT_EQ(sims[i].Subscribed(), std::vector<std::wstring>{}) << "left registered: " << i;
    EXPECT_EQ(sims[i].Record(L"unexpected"), std::vector<std::wstring>{}) << i;
  }
}

TEST(HostContract, NoStandardErrorHandleChangesNothingButTheText) {
  RunOptions options;
  options.standardErrorPipe = false;
  const ProcessResult result = RunQuibShare({L"--input", L""}, options);
  EXPECT_EQ(result.exitCode, 2u);
  EXPECT_EQ(result.standardError, "");
}

TEST(HostContract, HostThatStopsListeningStillGetsTheExitCode) {
  TempDirectory temp;
  RunOptions options;
  options.closeReadEndFirst = true;
  EXPECT_EQ(RunQuibShare({L"--input", temp.Path()}, options).exitCode, 2u);
  test::SimSession sim;
  options.environment = sim.Environment();
  const ProcessResult shared = RunProcess(sim.InstallQuibShare(), {L"--input", sim.Folder().WriteFile(L"a.txt")}, options);
  EXPECT_EQ(shared.exitCode, 0u);
  EXPECT_TRUE(sim.WaitFor(L"remove ShareCompleted"));
}

// The worker form, started the way the broker starts it but by hand, with objects we own.
class WorkerForm : public ::testing::Test {
 protected:
  ProcessResult RunWorker(const std::wstring& path) {
    return RunQuibShare({L"--input", path, L"--ui-ready-event", eventName_});
  }
  bool Signalled() const { return WaitForSingleObject(event_.Get(), 0) == WAIT_OBJECT_0; }

  TempDirectory temp_;
  std::wstring eventName_ = MakeHandoffEventName(test::NewGuidText());
  UniqueHandle event_ = CreateHandoffEvent(eventName_);
  UniqueHandle block_ = CreateReasonBlock(eventName_);
};

TEST_F(WorkerForm, EventThatDoesNotExistGivesTwo) {
  const std::wstring missing = MakeHandoffEventName(test::NewGuidText());
  const ProcessResult result = RunQuibShare({L"--input", temp_.Path(), L"--ui-ready-event", missing});
  EXPECT_EQ(result.exitCode, 2u);
  EXPECT_EQ(result.standardError, "The UI worker could not open the handoff event.\r\n");
}

TEST_F(WorkerForm, RejectedInputLeavesItsTextForTheBroker) {
  const ProcessResult result = RunWorker(temp_.Path());
  EXPECT_EQ(result.exitCode, 2u);
  EXPECT_EQ(result.standardError,
            "Sharing could not start: input must be a regular file, not a directory\r\n");
  EXPECT_EQ(ReadReason(block_.Get()),
            L"Sharing could not start: input must be a regular file, not a directory");
  EXPECT_FALSE(Signalled());
}

TEST_F(WorkerForm, UnavailableSharingGivesThreeWithoutSignalling) {
  const ProcessResult result = RunWorker(temp_.WriteFile(L"a.txt"));
  EXPECT_EQ(result.exitCode, 3u);
  EXPECT_EQ(result.standardError, NotAvailable);
  EXPECT_EQ(ReadReason(block_.Get()) + L"\r\n", std::wstring(NotAvailable.begin(), NotAvailable.end()));
  EXPECT_FALSE(Signalled());
}

}  // namespace
}  // namespace quibshare
