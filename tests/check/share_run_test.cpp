// Which window the check may take for the sheet, and so send Escape to. In-process, with windows
// of the test's own.
#include "check/share_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/unique_resource.h"

namespace quibshare::check {
namespace {

UniqueWindow Shown(const wchar_t* windowClass, const wchar_t* title, DWORD exStyle = 0) {
  UniqueWindow window(CreateWindowExW(exStyle, windowClass, title, WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
  ShowWindow(window.Get(), SW_SHOWNOACTIVATE);
  return window;
}

TEST(CheckSheetWindow, IsNeitherAWindowShownBeforeTheShareNorAMinimizedOneNorQuibSharesOwnerWindow) {
  const UniqueWindow before = Shown(L"STATIC", L"an app already open");
  const UniqueWindow hidden(CreateWindowExW(0, L"STATIC", L"shown later", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                            GetModuleHandleW(nullptr), nullptr));
  const std::vector<HWND> shownBefore = VisibleWindows();
  ASSERT_NE(std::find(shownBefore.begin(), shownBefore.end(), before.Get()), shownBefore.end());
  ShowWindow(hidden.Get(), SW_SHOWNOACTIVATE);
  const UniqueWindow owner = Shown(L"STATIC", L"QuibShareOwnerWindow", WS_EX_TOOLWINDOW);
  const UniqueWindow ownerLook = Shown(L"BUTTON", L"QuibShareOwnerWindow");
  const UniqueWindow sheet = Shown(L"STATIC", L"Share");
  const UniqueWindow minimized = Shown(L"STATIC", L"a program starting up");
  ShowWindow(minimized.Get(), SW_SHOWMINNOACTIVE);

  EXPECT_FALSE(MayBeSheet(nullptr, shownBefore));
  EXPECT_FALSE(MayBeSheet(before.Get(), shownBefore));
  EXPECT_FALSE(MayBeSheet(owner.Get(), shownBefore));
  EXPECT_FALSE(MayBeSheet(minimized.Get(), shownBefore));
  // A window that was hidden then (Windows may keep its sheet's), or only titled like the owner.
  EXPECT_TRUE(MayBeSheet(hidden.Get(), shownBefore));
  EXPECT_TRUE(MayBeSheet(ownerLook.Get(), shownBefore));
  EXPECT_TRUE(MayBeSheet(sheet.Get(), shownBefore));
}

}  // namespace
}  // namespace quibshare::check
