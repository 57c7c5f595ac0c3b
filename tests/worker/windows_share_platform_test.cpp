// WindowsSharePlatform::ShareFile in this process, against the simulated sheet built beside
// this test: apartment handling, owner-window failures, and ownership of onReady.
#include "worker/windows_share_platform.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <memory>
#include <thread>

#include "harness/sim_session.h"

namespace quibshare {
namespace {

class SharePlatform : public ::testing::Test {
 protected:
  HRESULT Share(std::function<void()> onReady = nullptr) {
    return WindowsSharePlatform().ShareFile(file_, std::move(onReady));
  }

  test::SimSession sim_;
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
  EXPECT_EQ(Share(), E_FAIL);
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
  const HRESULT result = Share();
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(result, E_FAIL) << std::hex << result;
  EXPECT_EQ(sim_.Record(L"show"), std::vector<std::wstring>{});
}

TEST_F(SharePlatform, KeepsAnApartmentTheThreadAlreadyHas) {
  HRESULT shared = E_PENDING;
  HRESULT again = E_PENDING;
  std::thread([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    shared = Share();
    // Still in the multithreaded apartment: ShareFile must not have left it.
    again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoUninitialize();
    CoUninitialize();
  }).join();
  EXPECT_EQ(shared, S_OK);
  EXPECT_EQ(again, S_FALSE);
}

TEST_F(SharePlatform, LeavesTheApartmentItEntered) {
  EXPECT_EQ(Share(), S_OK);
  // Had it stayed, this would be RPC_E_CHANGED_MODE.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

}  // namespace
}  // namespace quibshare
