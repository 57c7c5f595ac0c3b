// The check's own window: something of the check's to bring to the foreground before each
// share, and the rectangle the anchored share is given. Main thread, which pumps its messages.
#pragma once

#include <windows.h>

#include "support/unique_resource.h"

namespace quibshare::check {

class CheckWindow {
 public:
  CheckWindow();
  ~CheckWindow();
  CheckWindow(const CheckWindow&) = delete;
  CheckWindow& operator=(const CheckWindow&) = delete;

  HWND Get() const noexcept { return window_.Get(); }
  explicit operator bool() const noexcept { return static_cast<bool>(window_); }
  // Shows the window and asks for the foreground; whether this process holds it now.
  bool BringToFront() const;
  // In physical pixels: the check is per-monitor DPI aware, as QuibShare is.
  RECT Bounds() const;

 private:
  ATOM class_ = 0;
  UniqueWindow window_;  // destroyed before the class is unregistered
};

// Dispatches whatever this thread's queue holds.
void PumpMessages();

}  // namespace quibshare::check
