// WindowsSharePlatform::ShareFile in this process, against the simulated sheet built beside
// this test: apartment handling, owner-window failures, ownership of onReady, how a failed data
// request or a failed Show ends the share, and the bound on the sharing phase.
#include "worker/windows_share_platform.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "harness/sim_session.h"

namespace quibshare {
namespace {

using std::chrono::milliseconds;

class SharePlatform : public ::testing::Test {
 protected:
  ShareResult Share(std::function<void()> onReady = nullptr, milliseconds sharingBound = std::chrono::minutes(1)) {
    return WindowsSharePlatform(sharingBound).ShareFile(file_, std::move(onReady));
  }

  test::SimSession sim_{test::SimScope::ThisProcess};
  std::wstring file_ = sim_.Folder().WriteFile(L"a.txt");
};

TEST_F(SharePlatform, DestroysOnReadyOnEveryPath) {
  for (const wchar_t* fail : {L"", L"show:80070490", L"getforwindow-empty"}) {
    sim_.Set(L"FAIL", fail);
    const auto token = std::make_shared<int>(0);
    Share([token] {});
    EXPECT_EQ(token.use_count(), 1) << std::wstring(fail).size();
  }
}

TEST_F(SharePlatform, GetForWindowWithoutAManagerIsAFailure) {
  sim_.Set(L"FAIL", L"getforwindow-empty");
  EXPECT_EQ(Share().code, E_FAIL);
}

LRESULT CALLBACK RefuseWindows(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    SetLastError(ERROR_SUCCESS);
    return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A hook refuses the window and leaves no error code: HRESULT_FROM_WIN32(0) would be S_OK.
TEST_F(SharePlatform, OwnerWindowRefusedWithoutAnErrorIsStillAFailure) {
  const HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseWindows, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  const HRESULT result = Share().code;
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(result, E_FAIL) << std::hex << result;
  EXPECT_EQ(sim_.Record(L"show"), std::vector<std::wstring>{});
}

TEST_F(SharePlatform, KeepsAnApartmentTheThreadAlreadyHas) {
  HRESULT shared = E_PENDING;
  HRESULT again = E_PENDING;
  std::thread([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    shared = Share().code;
    // Still in the multithreaded apartment: ShareFile must not have left it.
    again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoUninitialize();
    CoUninitialize();
  }).join();
  EXPECT_EQ(shared, S_OK);
  EXPECT_EQ(again, S_FALSE);
}

TEST_F(SharePlatform, LeavesTheApartmentItEntered) {
  EXPECT_EQ(Share().code, S_OK);
  // Had it stayed, this would be RPC_E_CHANGED_MODE.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

struct Resources {
  DWORD handles = 0;
  DWORD userObjects = 0;
  DWORD gdiObjects = 0;
};

Resources CountResources() {
  Resources counted;
  GetProcessHandleCount(GetCurrentProcess(), &counted.handles);
  counted.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  counted.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  return counted;
}

TEST_F(SharePlatform, TwoHundredSharesLeakNothing) {
  sim_.Set(L"END_AFTER", L"0");
  ASSERT_EQ(Share().code, S_OK);  // loads and caches what every later share reuses
  const Resources before = CountResources();
  for (int i = 0; i < 200; ++i) {
    sim_.Set(L"FAIL", i % 4 == 3 ? L"show:80070490" : L"");
    const HRESULT expected = i % 4 == 3 ? static_cast<HRESULT>(0x80070490) : S_OK;
    ASSERT_EQ(Share([] {}).code, expected) << i;
  }
  const Resources after = CountResources();
  EXPECT_EQ(after.handles, before.handles);
  EXPECT_EQ(after.userObjects, before.userObjects);
  EXPECT_EQ(after.gdiObjects, before.gdiObjects);
  EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{});
}

std::string Describe(const ShareResult& result) {
  char text[48] = {};
  std::snprintf(text, sizeof text, "failure %d code %08lX", static_cast<int>(result.failure),
                static_cast<unsigned long>(result.code));
  return text;
}

// The sheet may ask inside Show and Show fail afterwards; a request may fail. Only the sheet
// having the file counts as shared; a failed request is told at once with its own code.
TEST_F(SharePlatform, AFailedShowOrRequestEndsTheShareAsTheSheetLeftIt) {
  using Failure = ShareResult::Failure;
  struct Case {
    const wchar_t* request;
    const wchar_t* fail;
    Failure failure;
    HRESULT code;
  };
  const Case cases[] = {
      {L"inside-then-fail:80004005", L"", Failure::None, S_OK},
      {L"inside-then-fail:80004005", L"empty-data", Failure::DataRequest, E_POINTER},
      {L"after", L"show:80070490", Failure::Platform, static_cast<HRESULT>(0x80070490)},
      {L"after", L"empty-request", Failure::DataRequest, E_POINTER},
      {L"inside", L"empty-properties", Failure::DataRequest, E_POINTER},
      {L"after", L"no-package4", Failure::DataRequest, E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    sim_.Set(L"REQUEST", c.request);
    sim_.Set(L"FAIL", c.fail);
    int ready = 0;
    const auto start = std::chrono::steady_clock::now();
    const ShareResult result = Share([&ready] { ++ready; });
    const auto took = std::chrono::steady_clock::now() - start;
    const std::wstring name = std::wstring(c.request) + L" " + c.fail;
    EXPECT_EQ(Describe(result), Describe({c.failure, c.code})) << std::string(name.begin(), name.end());
    EXPECT_EQ(ready, c.failure == Failure::None ? 1 : 0);
    EXPECT_LT(took, std::chrono::seconds(5)) << "a failed request must not wait for the deadline";
  }
  EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{});
}

// After "Copy link" the sheet reports no end at all: the share ends by itself at its bound,
// cleans up as when the sheet goes away, and still counts as shared.
TEST_F(SharePlatform, ShareWithoutAnEndEventEndsAtItsBound) {
  sim_.Set(L"END", L"none");
  const auto start = std::chrono::steady_clock::now();
  const ShareResult result = Share(nullptr, milliseconds(400));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(Describe(result), Describe(ShareResult::Shared()));
  EXPECT_GE(took, milliseconds(400));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(sim_.Record(L"complete"), std::vector<std::wstring>{});
  EXPECT_EQ(sim_.Record(L"remove"), (std::vector<std::wstring>{L"remove DataRequested 0 1", L"remove ShareCanceled 1 2",
                                                                L"remove ShareCompleted 1 1"}));
}

}  // namespace
}  // namespace quibshare
