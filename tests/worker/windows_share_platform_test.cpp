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
  ASSERT_EQ(Share(), S_OK);  // loads and caches what every later share reuses
  const Resources before = CountResources();
  for (int i = 0; i < 200; ++i) {
    sim_.Set(L"FAIL", i % 4 == 3 ? L"show:80070490" : L"");
    const HRESULT expected = i % 4 == 3 ? static_cast<HRESULT>(0x80070490) : S_OK;
    ASSERT_EQ(Share([] {}), expected) << i;
  }
  const Resources after = CountResources();
  EXPECT_EQ(after.handles, before.handles);
  EXPECT_EQ(after.userObjects, before.userObjects);
  EXPECT_EQ(after.gdiObjects, before.gdiObjects);
  EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace quibshare
