// The floor the benchmarks compare QuibShare with: a trivial GUI-subsystem program.
//   (no argument)   exits at once
//   --window        creates and shows one 1x1 window, then exits
//   --wait NAME     exits as soon as the named event is set
//   --idle          shows one window and waits for messages until WM_QUIT
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const std::wstring mode = count > 1 ? arguments[1] : L"";
  const std::wstring name = count > 2 ? arguments[2] : L"";
  LocalFree(arguments);
  if (mode == L"--wait") {
    const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    WaitForSingleObject(event, INFINITE);
    CloseHandle(event);
    return 0;
  }
  if (mode == L"--window" || mode == L"--idle") {
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"Floor", WS_POPUP, 0, 0, 1, 1,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    if (mode == L"--idle") {
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    }
    DestroyWindow(window);
  }
  return 0;
}
