// QuibShare.exe seen from a host: its exit code and the exact bytes on standard error.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
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
    sim.ClearRecord();
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(temp.Path().c_str());  // the broker and its worker inherit it
    const ProcessResult result = RunProcess(exe, {L"--input", c.argument});
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(result.exitCode, 0u) << c.argument.size();
    EXPECT_EQ(result.standardError, "");
    // The worker ends the share on its own after the broker has returned.
    ASSERT_TRUE(sim.WaitFor(L"remove ShareCompleted", 10000));
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

// A real sheet is slow to answer: only the sheet taking the file is success, however long a
// failure takes to come.
TEST(HostContract, ZeroOnlyOnceTheSheetHasTheFile) {
  struct Case {
    std::vector<std::pair<std::wstring, std::wstring>> settings;
    std::uint32_t exitCode;
    std::string written;
  };
  const Case cases[] = {
      {{{L"END", L"complete"}}, 0, ""},
      {{{L"END", L"cancel"}, {L"STORAGE_AFTER", L"200"}}, 0, ""},
      {{{L"STORAGE", L"error:80070005"}, {L"STORAGE_AFTER", L"200"}}, 1,
       "Sharing could not be opened (error 0x80070005).\r\n"},
      {{{L"STORAGE", L"error:80040154"}, {L"STORAGE_AFTER", L"200"}}, 3, NotAvailable},
      {{{L"FAIL", L"show:80070490"}, {L"STORAGE_AFTER", L"200"}}, 1,
       "Sharing could not be opened (error 0x80070490).\r\n"},
      // Success that gave nothing: a failure, never a crash.
      {{{L"STORAGE", L"empty-operation"}}, 1, "Sharing could not be opened (error 0x80004003).\r\n"},
  };
  for (const Case& c : cases) {
    test::SimSession sim;
    const ProcessResult result = ShareThroughTheSheet(sim, c.settings);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.written;
    EXPECT_EQ(result.standardError, c.written);
    if (c.exitCode == 0) {
      EXPECT_EQ(sim.Record(L"SetStorageItemsReadOnly").size(), 1u);
      EXPECT_TRUE(sim.WaitFor(L"remove ShareCompleted"));
    }
  }
}

// Slow: each worker waits its full 30 s for a request that is never served, and the host hears
// of it before the broker's own deadline. All cases run side by side.
TEST(HostContract, SlowSheetThatNeverGetsTheFileTimesOut) {
  const std::vector<std::pair<std::wstring, std::wstring>> cases[] = {
      {{L"REQUEST", L"never"}},
      // A request that reports success but gives nothing is a failed request, not a crash.
      {{L"FAIL", L"empty-request"}},
      {{L"FAIL", L"empty-data"}},
      {{L"FAIL", L"empty-properties"}},
  };
  constexpr std::size_t Count = std::size(cases);
  test::SimSession sims[Count];
  ProcessResult results[Count];
  std::vector<std::thread> runs;
  for (std::size_t i = 0; i < Count; ++i) {
    runs.emplace_back([&, i] { results[i] = ShareThroughTheSheet(sims[i], cases[i]); });
  }
  for (std::thread& run : runs) run.join();
  for (std::size_t i = 0; i < Count; ++i) {
    EXPECT_EQ(results[i].exitCode, 1u) << i;
    EXPECT_EQ(results[i].standardError, TimedOut) << i;
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
