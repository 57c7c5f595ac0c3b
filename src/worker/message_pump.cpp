// Message waits of the worker's window thread.
#include "worker/message_pump.h"

namespace quibshare {

// Older SDK headers leave touch and pointer input out of QS_ALLINPUT.
static_assert(QS_ALLINPUT == 0x1CFF);

DWORD WaitForMessages(DWORD timeoutMs) {
  return MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs, QS_ALLINPUT);
}

std::optional<MSG> DrainMessages(bool stopAtQuit) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (stopAtQuit && message.message == WM_QUIT) return message;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return std::nullopt;
}

}  // namespace quibshare
