// The check's window. Main thread.
#include "check/check_window.h"

namespace quibshare::check {

namespace {

constexpr wchar_t WindowClass[] = L"QuibShareCheckWindow";

LRESULT CALLBACK CheckWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    RECT area{};
    GetClientRect(window, &area);
    DrawTextW(dc, L"QuibShare check: shares in progress. Please wait and leave the keyboard alone.", -1, &area,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EndPaint(window, &paint);
    return 0;
  }
  // Closing it would end nothing: the check ends it when it is done.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

CheckWindow::CheckWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = CheckWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  windowClass.lpszClassName = WindowClass;
  class_ = RegisterClassExW(&windowClass);
  if (class_ == 0) return;
  window_.Reset(CreateWindowExW(0, WindowClass, L"QuibShare check", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                640, 360, nullptr, nullptr, windowClass.hInstance, nullptr));
}

CheckWindow::~CheckWindow() {
  window_.Reset();
  if (class_ != 0) UnregisterClassW(WindowClass, GetModuleHandleW(nullptr));
}

bool CheckWindow::BringToFront() const {
  if (!window_) return false;
  ShowWindow(window_.Get(), SW_SHOWNORMAL);
  UpdateWindow(window_.Get());
  SetForegroundWindow(window_.Get());
  PumpMessages();
  return GetForegroundWindow() == window_.Get();
}

RECT CheckWindow::Bounds() const {
  RECT bounds{};
  GetWindowRect(window_.Get(), &bounds);
  return bounds;
}

void PumpMessages() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace quibshare::check
