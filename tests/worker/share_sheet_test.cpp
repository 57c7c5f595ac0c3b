// The worker form of QuibShare.exe against the simulated share sheet, started the way the
// broker starts it but with a handoff event and reason block the test owns.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "handoff/handoff_channel.h"
#include "harness/process_runner.h"
#include "harness/sim_session.h"

namespace quibshare {
namespace {

using test::ProcessResult;

const std::string NotAvailable =
    "Sharing is not available on this system: the Windows share interface is missing or disabled.";
const std::string TimedOut =
    "Sharing did not open: the share pane never asked for this file. It may be unavailable on "
    "this system or blocked for this account.";

struct Scenario {
  std::wstring request;
  std::wstring end;
  std::wstring fail;
  std::wstring storage;
};

// Runs the worker form installed in `sim`'s folder. The whole scenario travels explicitly, so
// runs of different sessions may overlap.
ProcessResult RunWorkerForm(test::SimSession& sim, const Scenario& scenario, const std::wstring& file,
                            const std::wstring& eventName, bool withShareSheet = true) {
  sim.Set(L"REQUEST", scenario.request);
  sim.Set(L"END", scenario.end);
  sim.Set(L"FAIL", scenario.fail);
  sim.Set(L"STORAGE", scenario.storage);
  test::RunOptions options;
  options.timeoutMs = 60000;
  options.environment = sim.Environment();
  return test::RunProcess(sim.InstallQuibShare(withShareSheet),
                          {L"--input", file, L"--ui-ready-event", eventName}, options);
}

class ShareSheet : public ::testing::Test {
 protected:
  ProcessResult RunWorker(const Scenario& scenario, bool withShareSheet = true) {
    return RunWorkerForm(sim_, scenario, file_, eventName_, withShareSheet);
  }
  bool Signalled() const { return WaitForSingleObject(event_.Get(), 0) == WAIT_OBJECT_0; }
  std::string Reason() const {
    const std::wstring reason = ReadReason(block_.Get());
    return std::string(reason.begin(), reason.end());
  }

  test::SimSession sim_;
  std::wstring file_ = sim_.Folder().WriteFile(L"report.final.pdf");
  std::wstring eventName_ = MakeHandoffEventName(test::NewGuidText());
  UniqueHandle event_ = CreateHandoffEvent(eventName_);
  UniqueHandle block_ = CreateReasonBlock(eventName_);
};

TEST_F(ShareSheet, EveryWayAShareEndsGivesZeroAndSignals) {
  const Scenario scenarios[] = {
      {L"after", L"complete", L"", L""},
      {L"inside", L"complete", L"", L""},
      // The sheet has the file before Show fails: the share goes on.
      {L"inside-then-fail:80070490", L"cancel", L"", L""},
      {L"later", L"cancel", L"", L""},
      {L"thread", L"complete", L"", L""},
      {L"inside", L"destroy-window", L"", L""},
      {L"inside", L"quit", L"", L""},
      {L"later", L"quit", L"", L""},
      // WM_QUIT while awaiting the request is dispatched and the wait goes on.
      {L"quit-then-later", L"complete", L"", L""},
  };
  for (const Scenario& scenario : scenarios) {
    ResetEvent(event_.Get());
    // Each worker numbers its packages from 1: in one record, a later worker's removal would
    // hide an earlier one's leftover subscription.
    sim_.NewRecord();
    const ProcessResult result = RunWorker(scenario);
    const std::string name(scenario.request.begin(), scenario.request.end());
    EXPECT_EQ(result.exitCode, 0u) << name;
    EXPECT_EQ(result.standardError, "") << name;
    EXPECT_TRUE(Signalled()) << name;
    EXPECT_EQ(Reason(), "") << name;
    EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{}) << "left registered at exit: " << name;
    EXPECT_EQ(sim_.Record(L"unexpected"), std::vector<std::wstring>{}) << name;
  }
}

TEST_F(ShareSheet, SheetReceivesTheTitleAndOneReadOnlyItem) {
  const ProcessResult result = RunWorker({L"inside", L"complete", L"", L""});
  ASSERT_EQ(result.exitCode, 0u);
  EXPECT_EQ(sim_.Record(L"window"),
            std::vector<std::wstring>{L"window QuibShareOwnerWindow class=Static visible=1 owned=0 "
                                      L"at=0,0 size=1x1 exstyle=00000080 style=80000000"});
  EXPECT_EQ(sim_.Record(L"title"), std::vector<std::wstring>{L"title 1 report.final.pdf"});
  EXPECT_EQ(sim_.Record(L"SetStorageItems"),
            std::vector<std::wstring>{L"SetStorageItemsReadOnly 1 " + file_});
  // Neither --text nor --url was given: the package holds no text and no link, not even empty ones.
  EXPECT_EQ(sim_.Record(L"text"), std::vector<std::wstring>{});
  EXPECT_EQ(sim_.Record(L"weblink"), std::vector<std::wstring>{});
  EXPECT_EQ(sim_.Record(L"unexpected"), std::vector<std::wstring>{});
  EXPECT_EQ(sim_.Record(L"handled"), std::vector<std::wstring>{L"handled 1 00000000"});
  // The manager's subscriptions go first, then the package's, newest first.
  const std::vector<std::wstring> removals = sim_.Record(L"remove");
  EXPECT_EQ(removals, (std::vector<std::wstring>{L"remove TargetApplicationChosen 0 2", L"remove DataRequested 0 1",
                                                 L"remove ShareCanceled 1 2", L"remove ShareCompleted 1 1"}));
}

TEST_F(ShareSheet, SecondRequestLeavesOnlyTheNewestPackageSubscribed) {
  const ProcessResult result = RunWorker({L"twice", L"complete", L"", L""});
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Signalled());
  const std::vector<std::wstring> record = sim_.Record();
  std::size_t secondHandled = 0;
  while (secondHandled < record.size() && record[secondHandled] != L"handled 2 00000000") ++secondHandled;
  ASSERT_LT(secondHandled, record.size());
  EXPECT_EQ(sim_.Subscribed(secondHandled + 1),
            (std::vector<std::wstring>{L"DataRequested 0 1", L"ShareCanceled 2 2", L"ShareCompleted 2 1",
                                       L"TargetApplicationChosen 0 2"}));
  EXPECT_EQ(sim_.Record(L"title"), (std::vector<std::wstring>{L"title 1 report.final.pdf",
                                                              L"title 2 report.final.pdf"}));
  EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{});
}

TEST_F(ShareSheet, FailuresGiveTheirCodeAndText) {
  struct Case {
    Scenario scenario;
    bool withShareSheet;
    std::uint32_t exitCode;
    std::string text;
  };
  const Case cases[] = {
      {{L"", L"", L"getforwindow:80070005", L""}, true, 1, "Sharing could not be opened (error 0x80070005)."},
      {{L"", L"", L"getforwindow:80040154", L""}, true, 3, NotAvailable},
      // A manager reported as given but missing is a failure, not a share.
      {{L"", L"", L"getforwindow-empty", L""}, true, 1, "Sharing could not be opened (error 0x80004005)."},
      {{L"", L"", L"show:80070490", L""}, true, 1, "Sharing could not be opened (error 0x80070490)."},
      {{L"", L"", L"", L"error:80070002"}, true, 1, "Sharing could not be opened (error 0x80070002)."},
      {{L"", L"", L"", L"fail-start:80070032"}, true, 3, NotAvailable},
      {{L"", L"", L"", L"no-file"}, true, 1, "Sharing could not be opened (error 0x80004005)."},
      {{L"", L"", L"", L"empty-operation"}, true, 1, "Sharing could not be opened (error 0x80004003)."},
      // A file whose storage item is reported but not given: the request fails, nothing is shared.
      {{L"", L"", L"", L"null-item"}, true, 1, "Sharing could not be opened (error 0x80004003)."},
      // A failed request is told at once with its code, and never as "cannot share here".
      {{L"", L"", L"empty-request", L""}, true, 1, "Sharing could not be opened (error 0x80004003)."},
      {{L"", L"", L"no-package4", L""}, true, 1, "Sharing could not be opened (error 0x80004002)."},
      // Show failing before any request stays a failure; with a failed request inside it, the
      // request's code is the one told.
      {{L"inside-then-fail:80070490", L"", L"empty-data", L""}, true, 1,
       "Sharing could not be opened (error 0x80004003)."},
      // No share service at all: whatever the activation failure, the not-available outcome.
      {{L"", L"", L"", L""}, false, 3, NotAvailable},
  };
  for (const Case& c : cases) {
    const ProcessResult result = RunWorker(c.scenario, c.withShareSheet);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.text;
    EXPECT_EQ(result.standardError, c.text + "\r\n");
    EXPECT_EQ(Reason(), c.text);
    EXPECT_FALSE(Signalled()) << c.text;
  }
}

// Slow: the worker waits its full 30 s for a request that never comes.
TEST_F(ShareSheet, SlowUnservedRequestTimesOut) {
  const ProcessResult result = RunWorker({L"never", L"", L"", L""});
  EXPECT_EQ(result.exitCode, 1u);
  EXPECT_EQ(result.standardError, TimedOut + "\r\n");
  EXPECT_FALSE(Signalled());
  EXPECT_EQ(Reason(), TimedOut);
  EXPECT_EQ(sim_.Record(L"request"), std::vector<std::wstring>{});
  EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace quibshare
