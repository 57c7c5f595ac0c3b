// The simulated sheet as Windows shows its own: a real top-level window over the owner window
// that takes the foreground, ends the share with ShareCanceled on Escape, and raises nothing when
// it is closed any other way. Runs on the worker's window thread, which pumps its messages.
#include <winstring.h>

#include <algorithm>
#include <map>
#include <string>

#include "share/com_ptr.h"
#include "sim/sim_platform.h"

namespace quibshare::sim {

namespace {

constexpr wchar_t SheetClass[] = L"QuibShareSimSheet";
constexpr int SheetWidth = 360;
constexpr int SheetHeight = 240;

struct SheetState {
  ComPtr<abi::IDataPackage> package;
  bool deaf = false;
};

// Each sheet window's state, dropped when the window goes. Only the window's thread touches it;
// never destroyed, as it may hold packages while the process unloads.
std::map<HWND, SheetState>& SheetStates() {
  static auto* const states = new std::map<HWND, SheetState>;
  return *states;
}

std::wstring TitleOf(abi::IDataPackage* package) {
  ComPtr<abi::IDataPackagePropertySet> properties;
  HSTRING title = nullptr;
  if (FAILED(package->get_Properties(properties.Put())) || !properties ||
      FAILED(properties->get_Title(&title))) {
    return L"";
  }
  std::wstring text = Text(title);
  WindowsDeleteString(title);
  return text;
}

LRESULT CALLBACK SheetWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto state = SheetStates().find(window);
  if (message == WM_KEYDOWN && wParam == VK_ESCAPE && state != SheetStates().end()) {
    if (state->second.deaf) {
      Record(L"sheet-window escape-ignored");
      return 0;
    }
    Record(L"sheet-window escape");
    // Windows' sheet goes away first and tells of the end after.
    const ComPtr<abi::IDataPackage> package = state->second.package;
    DestroyWindow(window);
    EndShareOf(package.Get(), true);
    return 0;
  }
  if (message == WM_CLOSE) Record(L"sheet-window closed");
  if (message == WM_NCDESTROY) SheetStates().erase(window);
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void ShowSheetWindow(HWND owner, abi::IDataPackage* package) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&SheetWindowProc), &self);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = SheetWindowProc;
  windowClass.hInstance = self;
  windowClass.lpszClassName = SheetClass;
  RegisterClassExW(&windowClass);  // fails harmlessly once registered

  const std::wstring end = Setting(L"QUIBSHARE_SIM_END");
  const std::wstring title = TitleOf(package);
  const bool deaf = ScenarioIs(end, L"window-deaf") && end.substr(end.find(L':') + 1) == title;
  // Centred over the owner window, which the worker puts at the centre of the host's anchor,
  // and kept on that window's monitor.
  RECT owned{};
  GetWindowRect(owner, &owned);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& area = monitor.rcWork;
  const LONG x = std::max(area.left, std::min(owned.left - SheetWidth / 2, area.right - SheetWidth));
  const LONG y = std::max(area.top, std::min(owned.top - SheetHeight / 2, area.bottom - SheetHeight));
  const HWND window = CreateWindowExW(WS_EX_TOPMOST, SheetClass, L"Share", WS_POPUP | WS_CAPTION, x, y, SheetWidth,
                                      SheetHeight, nullptr, nullptr, self, nullptr);
  if (window == nullptr) {
    Record(L"sheet-window failed");
    return;
  }
  SheetStates()[window] = SheetState{ComPtr<abi::IDataPackage>::Copy(package), deaf};
  ShowWindow(window, SW_SHOW);
  const BOOL foreground = SetForegroundWindow(window);
  Record(L"sheet-window shown " + title + L" at=" + std::to_wstring(x) + L"," + std::to_wstring(y) +
         L" foreground=" + std::to_wstring(foreground ? 1 : 0) +
         (deaf ? L" deaf" : L""));
}

}  // namespace quibshare::sim
